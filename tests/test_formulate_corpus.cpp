// Every formula of the corpus through the formulate-cell command, into the cell and into the text
// file, with "Format All Parens" off and on: the command always ends with a result, a message or
// the spreadsheet's refusal of a break before a whole column or row, taking the layout out again
// gives what unformat gives, and laying out the laid-out formula again changes nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addin/cls_corvane.h"
#include "base/options.h"
#include "formatting/formulate_command.h"
#include "formatting/unformat.h"
#include "hosts/memory/memory_workbook.h"
#include "spacing/calibration_store.h"
#include "support/corpus.h"
#include "support/fake_delivery.h"
#include "support/fake_ui.h"
#include "windows/form.h"
#include "windows/picture_button.h"
#include "windows/window_prompter.h"

namespace corvane {
namespace {

using corpus::Utf16ToUtf8;
using formulate::Ending;

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
  fake.ui.defaultModal = [](windows::Form& form) { windows::ClickPictureButton(form.ControlNamed(u"imgButtonOkMain")); };
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

  std::size_t failures = 0, again = 0;
  const auto formulas = corpus::Sample();
  for (const auto& f : formulas) {
    const auto fail = [&](const std::string& what) {
      if (++failures <= 20) ADD_FAILURE() << f.source << ": " << what << "\n  " << Utf16ToUtf8(f.text);
    };
    cell->SetFormula(f.text);
    const std::size_t messagesBefore = fake.ui.Messages().size();
    delivery.files.written.clear();
    const formulate::Outcome outcome = formulate::FormulateCell(corvane, *app, fake.store, prompter);
    std::u16string laidOut;
    if (outcome.ending == Ending::Message) {
      if (f.text.find(u'(') != std::u16string::npos) fail("a message for a formula with a parenthesis");
      if (fake.ui.Messages().size() != messagesBefore + 1) fail("a message ending shows one message");
      continue;
    }
    if (outcome.ending == Ending::IntoCell) {
      laidOut = sheet->CellFormula(1, 1);
      if (mode.alwaysNotepad) fail("the cell was written although the text file was asked for");
    } else if (outcome.ending == Ending::IntoFile && delivery.files.written.size() == 1) {
      if (sheet->CellFormula(1, 1) != f.text) fail("the text file route changed the cell");
      // The file's lines after the explanation, joined again with line feeds.
      const std::u16string& text = delivery.files.written.begin()->second;
      std::size_t pos = 0;
      for (int line = 0; line < (mode.alwaysNotepad ? 6 : 8); ++line) pos = text.find(u"\r\n", pos) + 2;
      for (; pos < text.size(); ++pos) laidOut += text.compare(pos, 2, u"\r\n") == 0 ? text[++pos] : text[pos];
      if (!laidOut.ends_with(u'\n')) fail("the file's last line has no line end");
      laidOut.pop_back();
    } else if (outcome.ending == Ending::Failed && outcome.failure.starts_with(u"The formula has a line break right before the whole-")) {
      // The spreadsheet refuses a layout that breaks before a whole column or row: the cell stays.
      if (sheet->CellFormula(1, 1) != f.text) fail("a refused layout changed the cell");
      continue;
    } else {
      fail("the command ended without a result, a message or one text file");
      continue;
    }
    if (laidOut != outcome.laidOut) fail("the cell or file holds something else than the layout");

    // Laid out again from the cell that holds the layout (for a formula without whitespace of
    // its own, which at the start of a line would read as layout): the same.
    if (f.text.find_first_of(u" \n\r\t") == std::u16string::npos) {
      try {
        cell->SetFormula(laidOut);
        ++again;
        if (formulate::FormulateCell(corvane, *app, fake.store, prompter).laidOut != laidOut) fail("laid out again, it changed");
      } catch (const AutomationError&) {
        // Too long for the cell: not tried again.
      }
    }
    if (Unformat(laidOut) != Unformat(f.text)) fail("format then unformat differs from unformat alone:\n  " + Utf16ToUtf8(Unformat(laidOut)));
  }
  EXPECT_EQ(failures, 0U);
  EXPECT_GT(again, formulas.size() / 3);
}

INSTANTIATE_TEST_SUITE_P(Modes, FormulateCorpus,
                         ::testing::Values(Mode{false, false}, Mode{false, true}, Mode{true, false}, Mode{true, true}),
                         [](const ::testing::TestParamInfo<Mode>& param) {
                           return std::string(param.param.alwaysNotepad ? "TextFile" : "Cell") +
                                  (param.param.allParens ? "AllParens" : "OperatorParensInline");
                         });

}  // namespace
}  // namespace corvane
