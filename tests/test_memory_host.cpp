// The in-memory workbook, the program's embedded host and the add-in tests' stand-in for the
// spreadsheet: what it refuses as the spreadsheet does, array blocks, column fits and injected
// failures. What the commands read of it (addresses, wrapping) the command tests show.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/platform.h"
#include "hosts/memory/fixed_measurer.h"
#include "hosts/memory/memory_workbook.h"
#include "support/corpus.h"

namespace corvane::memory {
namespace {

// The run-time error number a call fails with, 0 when it succeeds.
template <class F>
std::int32_t ErrorOf(F&& call) {
  try {
    call();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

class MemoryHost : public ::testing::Test {
 protected:
  FixedMeasurer measurer;
  std::shared_ptr<MemoryApplication> app = MemoryApplication::Create(&measurer);
  std::shared_ptr<MemoryWorkbook> book = app->AddWorkbook();
  std::shared_ptr<MemorySheet> sheet = book->Sheet(1);

  std::shared_ptr<MemoryRange> At(std::u16string_view address) { return sheet->Range(address); }
};

// Unbalanced parentheses, quotes and brackets (outside literals, quoted names and brackets) and
// formulas longer than the version allows are refused, the cell kept; constants are not checked.
TEST_F(MemoryHost, FormulasTheSpreadsheetRefusesLeaveTheCellAsItWas) {
  const std::u16string longest11 = u"=" + std::u16string(1023, u'1'), longest = u"=" + std::u16string(8191, u'2');
  struct Case {
    std::u16string version, formula;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {u"16.0", u"=SUM(A1", false}, {u"16.0", u"=)(", false}, {u"16.0", u"=\"a\")\"", false},
      {u"16.0", u"='Q1!A1", false}, {u"16.0", u"=Table1[a']", false}, {u"16.0", u"=IF(A1=\")\",1,2)", true},
      {u"16.0", u"='It''s ('!A1", true}, {u"16.0", u"=SUM(Table1[[#This Row],['[x(]])", true},
      {u"16.0", u"SUM(", true}, {u"11.0", longest11, true}, {u"11.0", longest11 + u"1", false},
      {u"16.0", longest, true}, {u"16.0", longest + u"2", false}, {u"16.0", std::u16string(32768, u'x'), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(corpus::Utf16ToUtf8(c.version + u" " + c.formula.substr(0, 40)));
    app->SetVersion(c.version);
    At(u"A1")->SetFormula(u"=0");
    EXPECT_EQ(ErrorOf([&] { At(u"A1")->SetFormula(c.formula); }), c.accepted ? 0 : err::kApplicationDefined);
    EXPECT_EQ(ErrorOf([&] { At(u"B2")->SetFormulaArray(c.formula); }),
              c.accepted && c.formula.starts_with(u"=") ? 0 : err::kApplicationDefined);
    EXPECT_EQ(At(u"A1")->Formula(), c.accepted ? c.formula : u"=0");
  }
  // Text behind an apostrophe is no formula (the measuring cell's values).
  At(u"A1")->SetValue(Variant(u"'=SUM("));
  EXPECT_EQ(At(u"A1")->Formula(), u"=SUM(");
}

// Read from any of its cells; only a rectangle holding it whole may change it.
TEST_F(MemoryHost, AnArrayBlockAnswersFromEveryCellAndIsChangedOnlyWhole) {
  At(u"B2:D4")->SetFormulaArray(u"=A1:C3*2");
  At(u"F6:G7")->SetFormulaArray(u"=1");
  EXPECT_EQ(At(u"C3")->CurrentArray()->Cells(2, 3)->Address(false, false), u"D3");
  EXPECT_EQ(At(u"B1:B2")->HasArray(), Variant(Null{}));
  EXPECT_EQ(ErrorOf([&] { At(u"C3")->SetFormula(u"=1"); }), err::kApplicationDefined);
  EXPECT_EQ(ErrorOf([&] { At(u"A1:F6")->SetFormulaArray(u"=4"); }), err::kApplicationDefined);
  EXPECT_EQ(At(u"D4")->Formula(), u"=A1:C3*2");
  At(u"A1:E5")->SetFormulaArray(u"=5");
  EXPECT_EQ(At(u"C3")->CurrentArray()->Address(false, false), u"A1:E5");
}

// A column fit takes the widest line of any cell in the column, rounded up to whole pixels
// (5 of padding); with no measurer at all it fails and changes nothing.
TEST_F(MemoryHost, AutoFitRoundsTheWidestLineUpToWholePixels) {
  const auto fit = [&](const std::u16string& text) {
    auto cell = sheet->Cells(1);
    cell->SetValue(Variant(u"'" + text));
    cell->EntireColumnAutoFit();
    return cell->EntireColumnWidth() / 0.75;
  };
  EXPECT_DOUBLE_EQ(fit(std::u16string(100, u'a')), 605);
  At(u"A9")->SetValue(Variant(u"'aa\naaaaaaaaaaa"));  // widest line 66
  EXPECT_DOUBLE_EQ(fit(u"aa"), 71);

  ScopedServices none{PlatformServices{}};
  auto unmeasured = MemoryApplication::Create();
  auto cell = unmeasured->AddWorkbook()->Sheet(1)->Range(u"A1");
  cell->SetValue(Variant(u"text"));
  EXPECT_EQ(ErrorOf([&] { cell->EntireColumnAutoFit(); }), err::kApplicationDefined);
  EXPECT_DOUBLE_EQ(cell->EntireColumnWidth(), kDefaultColumnPixels * 0.75);
}

// A closed workbook's objects fail; the k-th host call (and only it) can be made to fail.
TEST_F(MemoryHost, AClosedWorkbooksObjectsAndTheChosenFailingCallFail) {
  auto cell = At(u"B7");
  cell->SetFormula(u"=1");
  app->SetActiveCell(cell);
  auto second = app->AddWorkbook();
  book->Close(false);
  EXPECT_EQ(ErrorOf([&] { cell->SetFormula(u"=3"); }), err::kObjectRequired);
  EXPECT_EQ(ErrorOf([&] { app->ActiveCell(); }), err::kObjectVariableNotSet) << "its cell was the active one";

  cell = second->Sheet(1)->Range(u"A1");
  cell->SetFormula(u"=1");
  const auto before = app->CallCount();
  app->FailAtCall(3);
  EXPECT_EQ(cell->Formula(), u"=1");  // 1
  app->SetScreenUpdating(false);      // 2
  EXPECT_EQ(ErrorOf([&] { cell->SetFormula(u"=2"); }), err::kApplicationDefined);
  EXPECT_EQ(cell->Formula(), u"=1");  // 4: no longer failing
  EXPECT_EQ(app->CallCount(), before + 4);
}

}  // namespace
}  // namespace corvane::memory
