// Whole commands against a workbook that refuses its k-th host call, for every k up to the
// number of calls a clean run makes (and one beyond): formulate (into a cell, into an array
// block, to the text file, with a special character measured on the way, with a calibration
// run from inside it), unformat (cell and array block) and calibration. After every run: the
// command ended quietly where it traps and raised where it does not, every cell holds its old
// formula or the whole new one (an array block all the same one), and a workbook opened for
// measuring is closed and screen updating is on again — unless the refused call was the one
// that closes or switches back, which the host cannot be made to accept.
// The calibration runs (about 9,200 calls each) are sampled with a stride; every other run
// tries every k.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "formatting/formulate_command.h"
#include "formatting/unformat.h"
#include "hosts/memory/memory_workbook.h"
#include "spacing/calibration_store.h"
#include "support/corpus.h"
#include "support/fake_delivery.h"
#include "support/fake_ui.h"
#include "windows/form.h"
#include "windows/picture_button.h"

#if defined(__SANITIZE_ADDRESS__)
#define CORVANE_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_UNDER_SANITIZER 1
#endif
#endif

namespace corvane {
namespace {

using formulate::Ending;
using testsupport::FakeDelivery;
using testsupport::FakeWindowSystem;

// A calibration makes about 9,200 host calls; its runs take every k up to 40, then every
// stride-th, then each of the last ones (where the clean-up calls are).
#ifdef CORVANE_UNDER_SANITIZER
constexpr std::int64_t kLongRunStride = 97;
#else
constexpr std::int64_t kLongRunStride = 11;
#endif

std::string U8(std::u16string_view s) { return corpus::Utf16ToUtf8(s); }

// One workbook, one add-in object and the fakes, as fresh for every run.
struct Rig {
  explicit Rig(bool calibrated) {
    app->SetActiveCell(book->Sheet(1)->Range(1, 1, 1, 1));
    ObjectRef held = app;
    corvane.SetExcelApp(held);
    fake.ui.defaultModal = [](windows::Form& form) {
      windows::ClickPictureButton(form.ControlNamed(u"imgButtonOkMain"));
    };
    delivery.environment.variables[u"tmp"] = u"/home/user/tmp";
    if (calibrated)
      for (std::int32_t k = calibration::kFirstOrdinaryCode; k <= calibration::kLastOrdinaryCode; ++k)
        fake.store.SaveSetting(u"Corvane", u"Spacing_Calibri", DecimalKey(k), k == u'W' ? u"2.5" : u"1");
  }
  ~Rig() {
    Variant none;
    bool clear = true;
    (void)mdl_Support::ExcelApp(none, clear);
  }
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  std::shared_ptr<memory::MemorySheet> Sheet() const { return book->Sheet(1); }
  void Select(std::u16string_view address, const std::u16string& formula, bool array = false) {
    auto range = Sheet()->Range(address);
    if (array) range->SetFormulaArray(formula);
    else range->SetFormula(formula);
    app->SetActiveCell(Sheet()->Range(range->row1(), range->col1(), range->row1(), range->col1()));
  }

  FakeWindowSystem fake;
  FakeDelivery delivery;
  std::shared_ptr<memory::MemoryApplication> app = memory::MemoryApplication::Create(&fake.measurer);
  std::shared_ptr<memory::MemoryWorkbook> book = app->AddWorkbook();
  cls_corvane corvane;
};

struct Scenario {
  std::string name;
  bool calibrated = true;
  std::function<void(Rig&)> arrange;           // cells, options, answers
  std::function<void(Rig&)> run;               // the command, as the host macro calls it
  bool raises = false;                         // no error trap: the failure reaches the caller
  std::u16string address;                      // the cells the command writes
  bool writesCells = true;                     // false: the result goes to the text file
  bool changesMayVary = false;                 // a trapped failure inside may change the layout
};

// What a clean run leaves in the cells of `address`.
std::vector<std::u16string> Formulas(Rig& rig, std::u16string_view address) {
  const auto r = rig.Sheet()->Range(address);
  std::vector<std::u16string> out;
  for (std::int32_t row = r->row1(); row <= r->row2(); ++row)
    for (std::int32_t col = r->col1(); col <= r->col2(); ++col) out.push_back(rig.Sheet()->CellFormula(row, col));
  return out;
}

// The one-line form of a formula.
std::u16string OneLine(const std::u16string& text) {
  return Unformat(text);
}

struct Tally {
  std::int64_t runs = 0;
  std::int64_t failed = 0;
  std::int64_t corruptions = 0;
};

// The host is put back: no scratch workbook open, screen updating on, no progress window.
// One refused call can leave one of the first two as it was: the refused close itself (screen
// updating is then back on) or the refused switch-back (the workbook is then closed). Those
// runs are counted in `excused`; a run may have only as many as it opens scratch workbooks.
void ExpectHostPutBack(Rig& rig, const std::string& where, std::int64_t& excused) {
  const bool open = rig.app->OpenWorkbooks().size() != 1U;
  const bool off = !rig.app->ScreenUpdating();
  if (open != off) {
    ++excused;
  } else {
    EXPECT_FALSE(open) << where << ": a scratch workbook stayed open";
    EXPECT_FALSE(off) << where << ": screen updating stayed off";
  }
  EXPECT_EQ(rig.fake.ui.Open(u"frmCalibrationProgress"), nullptr) << where << ": the progress window stayed";
}

Tally Inject(const Scenario& s, std::int64_t stride) {
  Tally tally;
  std::vector<std::u16string> before, after;
  std::int64_t calls = 0;
  std::int64_t scratchBooks = 0;
  std::int64_t excused = 0;
  {
    Rig rig(s.calibrated);
    s.arrange(rig);
    before = Formulas(rig, s.address);
    const std::int64_t start = rig.app->CallCount();
    s.run(rig);
    calls = rig.app->CallCount() - start;
    after = Formulas(rig, s.address);
    scratchBooks = rig.app->WorkbooksAdded() - 1;
  }
  EXPECT_GT(calls, 0) << s.name;
  if (s.writesCells) {
    EXPECT_NE(before, after) << s.name << ": the clean run changed nothing";
  }

  for (std::int64_t k = 1; k <= calls + 1; k += (k <= 40 || k + stride > calls) ? 1 : stride) {
    const std::string where = s.name + ", call " + std::to_string(k) + " of " + std::to_string(calls) + " refused";
    Rig rig(s.calibrated);
    s.arrange(rig);
    rig.app->FailAtCall(k);
    const std::int64_t start = rig.app->CallCount();
    bool raised = false;
    try {
      s.run(rig);
    } catch (const AutomationError&) {
      raised = true;
    }
    const bool refused = rig.app->CallCount() - start >= k;
    ++tally.runs;
    tally.failed += refused ? 1 : 0;
    EXPECT_EQ(raised, refused && s.raises) << where;

    const auto now = Formulas(rig, s.address);
    bool whole = now == before || now == after;
    if (!whole && s.changesMayVary) {
      // A failure that the width measurement trapped gives another complete layout of the same formula.
      whole = true;
      for (std::size_t i = 0; i < now.size(); ++i)
        whole = whole && now[i] == now.front() && now[i].find(u'\n') != std::u16string::npos &&
                OneLine(now[i]) == OneLine(after[i]);
    }
    if (!whole) {
      ++tally.corruptions;
      ADD_FAILURE() << where << ": the cells hold neither the old nor the new formula:\n" << U8(now.front());
    }
    ExpectHostPutBack(rig, where, excused);
  }
  EXPECT_LE(excused, 2 * scratchBooks) << s.name << ": more runs left the host changed than clean-up calls";
  return tally;
}

void Formulate(Rig& rig) { EXPECT_TRUE(rig.corvane.cvFormulateCell().isEmpty()); }
void Deformulate(Rig& rig) { EXPECT_TRUE(rig.corvane.cvDeformulateCell().isEmpty()); }

const std::u16string kNested = u"=IF(A1,SUM(B1,C1*(D1+1)),\"a(b,c)\"&'My Sheet'!E1)";
const std::u16string kLaidOut = u"=IF(\n       A1,\n       SUM(\n              B1,\n              C1*(D1+1)\n          ),\n       0\n   )";

TEST(FaultInjection, FormulateEndsQuietlyAndLeavesWholeFormulas) {
  const std::vector<Scenario> scenarios = {
      {"formula into its cell", true, [](Rig& r) { r.Select(u"B2", kNested); r.Sheet()->SetCellWrap(2, 2, true); },
       Formulate, false, u"B2"},
      {"array formula into its block", true, [](Rig& r) { r.Select(u"B2:C4", kNested, true); r.Sheet()->SetCellWrap(3, 3, true); },
       Formulate, false, u"B2:C4"},
      {"special characters measured on the way", true,
       [](Rig& r) { r.Select(u"A1", u"=SUM(\u20AC1,\u00A3\u4E2D(\u20AC2),\u03A9)"); }, Formulate, false, u"A1", true, true},
      {"too long for the cell: to the text file", true,
       [](Rig& r) { r.app->SetVersion(u"11.0"); std::u16string f = u"=SUM(A1"; while (f.size() < 600) f += u",A1"; r.Select(u"A1", f + u")"); },
       Formulate, false, u"A1", false, false},
  };
  Tally total;
  for (const auto& s : scenarios) {
    const Tally t = Inject(s, 1);
    total.runs += t.runs;
    total.failed += t.failed;
    total.corruptions += t.corruptions;
  }
  EXPECT_EQ(total.corruptions, 0);
  std::printf("formulate: %lld runs, %lld with a refused call, %lld corruptions\n", static_cast<long long>(total.runs),
              static_cast<long long>(total.failed), static_cast<long long>(total.corruptions));
}

TEST(FaultInjection, UnformatEndsQuietlyAndLeavesWholeFormulas) {
  const std::vector<Scenario> scenarios = {
      {"laid-out cell", true, [](Rig& r) { r.Select(u"C3", kLaidOut); r.Sheet()->SetCellWrap(3, 3, true); }, Deformulate,
       false, u"C3"},
      {"laid-out array block", true, [](Rig& r) { r.Select(u"A1:B3", kLaidOut, true); r.Sheet()->SetCellWrap(2, 1, true); },
       Deformulate, false, u"A1:B3"},
  };
  Tally total;
  for (const auto& s : scenarios) {
    const Tally t = Inject(s, 1);
    total.runs += t.runs;
    total.corruptions += t.corruptions;
  }
  EXPECT_EQ(total.corruptions, 0);
  std::printf("unformat: %lld runs, %lld corruptions\n", static_cast<long long>(total.runs),
              static_cast<long long>(total.corruptions));
}

TEST(FaultInjection, CalibrationRaisesKeepsAPrefixAndPutsTheHostBack) {
  // No cells change here: the stored widths must be exactly the codes 2..m for some m.
  std::int64_t calls = 0;
  {
    Rig rig(false);
    rig.fake.ui.QueueClick(u"Ok");
    const std::int64_t start = rig.app->CallCount();
    rig.corvane.cvCalibrateSpacing();
    calls = rig.app->CallCount() - start;
    ASSERT_EQ(rig.fake.store.Keys(u"Corvane", u"Spacing_Calibri").size(), 766U);
  }
  std::int64_t runs = 0;
  std::int64_t excused = 0;
  for (std::int64_t k = 1; k <= calls + 1; k += (k <= 40 || k + kLongRunStride > calls) ? 1 : kLongRunStride) {
    const std::string where = "call " + std::to_string(k) + " of " + std::to_string(calls) + " refused";
    Rig rig(false);
    if (k > calls) rig.fake.ui.QueueClick(u"Ok");
    rig.app->FailAtCall(k);
    bool raised = false;
    try {
      rig.corvane.cvCalibrateSpacing();
    } catch (const AutomationError&) {
      raised = true;
    }
    ++runs;
    EXPECT_EQ(raised, k <= calls) << where;
    const auto keys = rig.fake.store.Keys(u"Corvane", u"Spacing_Calibri");
    std::vector<std::int32_t> codes;
    codes.reserve(keys.size());
    for (const auto& key : keys) codes.push_back(std::stoi(U8(key)));
    std::sort(codes.begin(), codes.end());
    for (std::size_t i = 0; i < codes.size(); ++i)
      ASSERT_EQ(codes[i], static_cast<std::int32_t>(i) + 2) << where << ": not a prefix";
    ExpectHostPutBack(rig, where, excused);
    EXPECT_EQ(mdl_Support::Module().frmCalibrationProgress, nullptr) << where;
  }
  EXPECT_LE(excused, 2) << "only the refused close and the refused switch-back may leave the host changed";
  std::printf("calibration: %lld calls per run, %lld runs (stride %lld)\n", static_cast<long long>(calls),
              static_cast<long long>(runs), static_cast<long long>(kLongRunStride));
}

TEST(FaultInjection, FormulateWithItsCalibrationKeepsThePrefixAndTheCell) {
  // Uncalibrated: the user agrees to calibrate; the calibration runs inside the command's trap.
  Scenario s{"formulate with calibration", false,
             [](Rig& r) {
               r.Select(u"A1", kNested);
               r.fake.ui.QueueClick(u"Yes");  // the closing notice is acknowledged by default
             },
             Formulate, false, u"A1"};
  const Tally t = Inject(s, kLongRunStride);
  EXPECT_EQ(t.corruptions, 0);
  std::printf("formulate with calibration: %lld runs, %lld corruptions\n", static_cast<long long>(t.runs),
              static_cast<long long>(t.corruptions));
}

}  // namespace
}  // namespace corvane
