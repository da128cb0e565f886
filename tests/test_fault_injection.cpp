// Whole commands against a workbook that refuses its k-th host call, for every k up to the
// number of calls a clean run makes (and one beyond): formulate (into a cell, into an array
// block, to the text file, with a calibration run from inside it), unformat (cell and array
// block) and calibration. After every run: the command ended quietly where it traps and raised
// where it does not, every cell holds its old formula or the whole new one (an array block all
// the same one), the stored widths are the codes 2..m for some m, and a workbook opened for
// measuring is closed and screen updating is on again — unless the refused call was the one
// that closes or switches back, which the host cannot be made to accept.
// The runs with a calibration (about 9,200 calls each) take every k up to 40, then every
// stride-th, then each of the last ones (where the clean-up calls are).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "hosts/memory/memory_workbook.h"
#include "spacing/calibration_store.h"
#include "support/corpus.h"
#include "support/fake_delivery.h"
#include "support/fake_ui.h"
#include "windows/form.h"
#include "windows/picture_button.h"

namespace corvane {
namespace {

// Far fewer under the sanitizers, which are ten times slower.
constexpr std::int64_t kLongRunStride = corpus::kStride == 1 ? 11 : 97;

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
    array ? range->SetFormulaArray(formula) : range->SetFormula(formula);
    app->SetActiveCell(Sheet()->Range(range->row1(), range->col1(), range->row1(), range->col1()));
  }
  // The formulas of the cells of `address`, row by row.
  std::vector<std::u16string> Formulas(std::u16string_view address) const {
    const auto r = Sheet()->Range(address);
    std::vector<std::u16string> out;
    for (std::int32_t row = r->row1(); row <= r->row2(); ++row)
      for (std::int32_t col = r->col1(); col <= r->col2(); ++col) out.push_back(Sheet()->CellFormula(row, col));
    return out;
  }

  testsupport::FakeWindowSystem fake;
  testsupport::FakeDelivery delivery;
  std::shared_ptr<memory::MemoryApplication> app = memory::MemoryApplication::Create(&fake.measurer);
  std::shared_ptr<memory::MemoryWorkbook> book = app->AddWorkbook();
  cls_corvane corvane;
};

struct Scenario {
  std::string name;
  bool calibrated;
  std::function<void(Rig&)> arrange;  // cells, options, answers
  std::function<void(Rig&)> run;      // the command, as the host macro calls it
  bool raises;                        // no error trap: the failure reaches the caller
  std::u16string address;             // the cells the command may write
  bool writesCells;                   // false: the result goes to the text file, or no cell changes
  std::int64_t stride;
};

void Formulate(Rig& rig) { EXPECT_TRUE(rig.corvane.cvFormulateCell().isEmpty()); }
void Deformulate(Rig& rig) { EXPECT_TRUE(rig.corvane.cvDeformulateCell().isEmpty()); }
void Calibrate(Rig& rig) { rig.corvane.cvCalibrateSpacing(); }

void Inject(const Scenario& s) {
  std::vector<std::u16string> before, after;
  std::int64_t calls = 0;
  std::int64_t scratchBooks = 0;
  {
    Rig rig(s.calibrated);
    s.arrange(rig);
    before = rig.Formulas(s.address);
    const std::int64_t start = rig.app->CallCount();
    s.run(rig);
    calls = rig.app->CallCount() - start;
    after = rig.Formulas(s.address);
    scratchBooks = rig.app->WorkbooksAdded() - 1;
    EXPECT_EQ(rig.fake.store.Keys(u"Corvane", u"Spacing_Calibri").size(), 766U) << s.name;
  }
  ASSERT_GT(calls, 0) << s.name;
  EXPECT_EQ(before != after, s.writesCells) << s.name;

  std::int64_t excused = 0;
  for (std::int64_t k = 1; k <= calls + 1; k += (k <= 40 || k + s.stride > calls) ? 1 : s.stride) {
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
    EXPECT_EQ(raised, rig.app->CallCount() - start >= k && s.raises) << where;

    const auto now = rig.Formulas(s.address);
    if (now != before && now != after)
      ADD_FAILURE() << where << ": the cells hold neither the old nor the new formula:\n"
                    << corpus::Utf16ToUtf8(now.front());
    std::vector<std::int32_t> codes;
    for (const auto& key : rig.fake.store.Keys(u"Corvane", u"Spacing_Calibri"))
      codes.push_back(std::stoi(corpus::Utf16ToUtf8(key)));
    std::sort(codes.begin(), codes.end());
    for (std::size_t i = 0; i < codes.size(); ++i)
      ASSERT_EQ(codes[i], static_cast<std::int32_t>(i) + 2) << where << ": the stored widths are not a prefix";

    // One refused call can leave one of these two as it was: the refused close itself (screen
    // updating is then back on) or the refused switch-back (the workbook is then closed).
    const bool open = rig.app->OpenWorkbooks().size() != 1U;
    const bool off = !rig.app->ScreenUpdating();
    if (open != off) {
      ++excused;
    } else {
      EXPECT_FALSE(open) << where << ": a scratch workbook stayed open";
      EXPECT_FALSE(off) << where << ": screen updating stayed off";
    }
    EXPECT_EQ(rig.fake.ui.Open(u"frmCalibrationProgress"), nullptr) << where << ": the progress window stayed";
    EXPECT_EQ(mdl_Support::Module().frmCalibrationProgress, nullptr) << where;
  }
  EXPECT_LE(excused, 2 * scratchBooks) << s.name << ": more runs left the host changed than clean-up calls";
}

const std::u16string kNested = u"=IF(A1,SUM(B1,C1*(D1+1)),\"a(b,c)\"&'My Sheet'!E1)";
const std::u16string kLaidOut =
    u"=IF(\n       A1,\n       SUM(\n              B1,\n              C1*(D1+1)\n          ),\n       0\n   )";

TEST(FaultInjection, CommandsEndAsTheyShouldAndLeaveWholeFormulasAndATidyHost) {
  const std::vector<Scenario> scenarios = {
      {"formulate into its cell", true,
       [](Rig& r) { r.Select(u"B2", kNested); r.Sheet()->SetCellWrap(2, 2, true); }, Formulate, false, u"B2", true, 1},
      {"formulate an array block", true,
       [](Rig& r) { r.Select(u"B2:C4", kNested, true); r.Sheet()->SetCellWrap(3, 3, true); }, Formulate, false,
       u"B2:C4", true, 1},
      {"formulate, too long for the cell: to the text file", true,
       [](Rig& r) {
         r.app->SetVersion(u"11.0");
         std::u16string f = u"=SUM(A1";
         while (f.size() < 600) f += u",A1";
         r.Select(u"A1", f + u")");
       },
       Formulate, false, u"A1", false, 1},
      // The user agrees to calibrate; the calibration runs inside the command's trap.
      {"formulate with its calibration", false, [](Rig& r) { r.Select(u"A1", kNested); r.fake.ui.QueueClick(u"Yes"); },
       Formulate, false, u"A1", true, kLongRunStride},
      {"unformat a cell", true, [](Rig& r) { r.Select(u"C3", kLaidOut); r.Sheet()->SetCellWrap(3, 3, true); },
       Deformulate, false, u"C3", true, 1},
      {"unformat an array block", true,
       [](Rig& r) { r.Select(u"A1:B3", kLaidOut, true); r.Sheet()->SetCellWrap(2, 1, true); }, Deformulate, false,
       u"A1:B3", true, 1},
      {"calibration", false, [](Rig&) {}, Calibrate, true, u"A1", false, kLongRunStride},
  };
  for (const auto& s : scenarios) Inject(s);
}

}  // namespace
}  // namespace corvane
