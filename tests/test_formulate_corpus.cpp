// Every formula of the corpus through the formulate-cell command, into the cell and into the text
// file, with "Format All Parens" off and on: the command always ends with a result or a message,
// taking the layout out again gives the formula back, and laying out the laid-out formula again
// changes nothing.
#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "addin/cls_corvane.h"
#include "base/options.h"
#include "windows/window_prompter.h"
#include "formatting/char_scan.h"
#include "formatting/formulate_command.h"
#include "formatting/unformat.h"
#include "hosts/memory/memory_workbook.h"
#include "spacing/calibration_store.h"
#include "support/corpus.h"
#include "support/fake_delivery.h"
#include "support/fake_ui.h"
#include "windows/form.h"
#include "windows/picture_button.h"

namespace corvane {
namespace {

using formulate::Ending;

const std::vector<corpus::Formula>& Corpus() {
  static const std::vector<corpus::Formula> formulas = corpus::LoadCorpus();
  return formulas;
}

struct Mode {
  bool alwaysNotepad;
  bool allParens;
};

class FormulateCorpus : public ::testing::TestWithParam<Mode> {};

TEST_P(FormulateCorpus, EveryFormulaEndsWithAResultOrAMessageAndComesBackByUnformat) {
  const Mode mode = GetParam();
  testsupport::FakeWindowSystem fake;
  testsupport::FakeDelivery delivery;
  delivery.environment.variables[u"tmp"] = u"/tmp";
  fake.ui.defaultModal = [](windows::Form& form) {
    windows::ClickPictureButton(form.ControlNamed(u"imgButtonOkMain"));
  };
  // Proportional widths between 0.4 and 1.19 spaces, the space itself 1.
  for (std::int32_t k = calibration::kFirstOrdinaryCode; k <= calibration::kLastOrdinaryCode; ++k) {
    const double ratio = k == 32 ? 1.0 : 0.4 + static_cast<double>((k * 37) % 80) / 100.0;
    fake.store.SaveSetting(u"Corvane", u"Spacing_Calibri", DecimalKey(k), calibration::RatioText(ratio, {}));
  }
  fake.store.SaveSetting(u"Corvane", u"Settings", options::kAlwaysSendToNotepad, mode.alwaysNotepad ? u"1" : u"0");
  fake.store.SaveSetting(u"Corvane", u"Settings", options::kFormatAllParens, mode.allParens ? u"1" : u"0");

  auto app = memory::MemoryApplication::Create(&fake.measurer);
  const auto sheet = app->AddWorkbook()->Sheet(1);
  const auto cell = sheet->Range(1, 1, 1, 1);
  app->SetActiveCell(cell);
  cls_corvane corvane;
  ObjectRef ref = app;
  corvane.SetExcelApp(ref);
  windows::WindowPrompter prompter;

  std::size_t exact = 0, likeUnformat = 0, intoFile = 0, noParen = 0, refused = 0, hadLayout = 0, again = 0;
  std::size_t failures = 0;
  const auto fail = [&](const corpus::Formula& f, const std::string& what) {
    if (++failures <= 20) ADD_FAILURE() << f.source << ": " << what << "\n  " << corpus::Utf16ToUtf8(f.text);
  };

  for (const auto& f : Corpus()) {
    try {
      cell->SetFormula(f.text);
    } catch (const AutomationError&) {
      ++refused;
      continue;
    }
    const std::size_t messagesBefore = fake.ui.Messages().size();
    delivery.files.written.clear();
    const formulate::Outcome outcome = formulate::FormulateCell(corvane, *app, fake.store, prompter);

    std::u16string laidOut;
    switch (outcome.ending) {
      case Ending::Failed:
        fail(f, "the command ended without a result or a message");
        continue;
      case Ending::Declined:
        fail(f, "the command asked about calibration");
        continue;
      case Ending::Message:
        ++noParen;
        if (f.text.find(u'(') != std::u16string::npos && !f.text.empty() && f.text.front() == u'=')
          fail(f, "a message for a formula with a parenthesis");
        if (fake.ui.Messages().size() != messagesBefore + 1) fail(f, "a message ending shows one message");
        continue;
      case Ending::IntoCell:
        laidOut = sheet->CellFormula(1, 1);
        if (mode.alwaysNotepad) fail(f, "the cell was written although the text file was asked for");
        if (laidOut != outcome.laidOut) fail(f, "the cell holds something else than the layout");
        break;
      case Ending::IntoFile: {
        ++intoFile;
        if (sheet->CellFormula(1, 1) != f.text) fail(f, "the text file route changed the cell");
        if (delivery.files.written.size() != 1) {
          fail(f, "no text file");
          continue;
        }
        // The file's lines after the explanation, joined again with line feeds.
        const std::u16string& text = delivery.files.written.begin()->second;
        std::size_t pos = 0;
        for (int line = 0; line < (mode.alwaysNotepad ? 6 : 8); ++line) pos = text.find(u"\r\n", pos) + 2;
        std::u16string lines = text.substr(pos);
        std::u16string joined;
        for (std::size_t i = 0; i < lines.size(); ++i) {
          if (lines[i] == u'\r' && i + 1 < lines.size() && lines[i + 1] == u'\n') {
            joined.push_back(u'\n');
            ++i;
          } else {
            joined.push_back(lines[i]);
          }
        }
        if (joined.empty() || joined.back() != u'\n') fail(f, "the file's last line has no line end");
        if (!joined.empty()) joined.pop_back();
        laidOut = joined;
        if (laidOut != outcome.laidOut) fail(f, "the file holds something else than the layout");
        break;
      }
    }

    // Laid out again, from the cell that holds the layout (where the cell can hold it): the same,
    // for a formula without whitespace of its own (a space of its own at the start of a line
    // would read as layout).
    bool inCell = f.text.find_first_of(u" \n\r\t") == std::u16string::npos;
    try {
      if (inCell) cell->SetFormula(laidOut);
    } catch (const AutomationError&) {
      inCell = false;
    }
    if (inCell) {
      ++again;
      if (formulate::FormulateCell(corvane, *app, fake.store, prompter).laidOut != laidOut)
        fail(f, "laid out again, the layout changed");
    }
    if (RemoveLineBreaks(f.text) != f.text) ++hadLayout;

    const std::u16string back = Unformat(laidOut);
    if (f.text.find_first_of(u" \n") == std::u16string::npos) {
      if (back == f.text) {
        ++exact;
      } else {
        fail(f, "format then unformat changed the formula:\n  " + corpus::Utf16ToUtf8(back));
      }
      continue;
    }
    const std::u16string expected = Unformat(f.text);
    if (back == expected) {
      ++likeUnformat;
    } else {
      fail(f, "format then unformat differs from unformat alone:\n  " + corpus::Utf16ToUtf8(back) + "\n  " +
                  corpus::Utf16ToUtf8(expected));
    }
  }

  EXPECT_EQ(failures, 0U);
  EXPECT_EQ(refused, 0U);
  EXPECT_EQ(exact + likeUnformat + noParen + refused, Corpus().size());
  EXPECT_GT(again, Corpus().size() / 3);
  std::cout << "formulas " << Corpus().size() << ": exact " << exact << ", like unformat " << likeUnformat
            << ", message " << noParen << ", text file " << intoFile << ", refused by the host " << refused
            << ", laid out again " << again << ", with a layout of their own " << hadLayout << '\n';
}

INSTANTIATE_TEST_SUITE_P(Modes, FormulateCorpus,
                         ::testing::Values(Mode{false, false}, Mode{false, true}, Mode{true, false}, Mode{true, true}),
                         [](const ::testing::TestParamInfo<Mode>& param) {
                           return std::string(param.param.alwaysNotepad ? "TextFile" : "Cell") +
                                  (param.param.allParens ? "AllParens" : "OperatorParensInline");
                         });

}  // namespace
}  // namespace corvane
