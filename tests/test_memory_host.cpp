// The in-memory workbook, the program's embedded host and the add-in tests' stand-in for the
// spreadsheet: what it refuses as the spreadsheet does, array blocks, column fits and injected
// failures.
#include <gtest/gtest.h>

#include <cmath>
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

// Addresses as the text file's name shows them; Cells(k) counts along the rows from A1.
TEST_F(MemoryHost, AddressesAreWrittenAsTheSpreadsheetDoes) {
  const auto b7 = sheet->Cells(16384 * 6 + 2);
  EXPECT_EQ(b7->Address(false, false) + b7->Address(true, true) + b7->Address(true, false) + b7->Address(false, true),
            u"B7$B$7B$7$B7");
  EXPECT_EQ(At(u"D5:B2")->Address(false, false), u"B2:D5");
  EXPECT_EQ(sheet->Cells(16384)->Address(false, false), u"XFD1");
  EXPECT_EQ(ErrorOf([&] { sheet->Cells(0); }), err::kApplicationDefined);
}

// Unbalanced parentheses, quotes and brackets (outside literals, quoted names and brackets) and
// formulas longer than the version allows are refused, the cell kept; constants are not checked.
TEST_F(MemoryHost, FormulasTheSpreadsheetRefusesLeaveTheCellAsItWas) {
  const std::u16string longest11 = u"=" + std::u16string(1023, u'1'), longest = u"=" + std::u16string(8191, u'2');
  struct Case {
    std::u16string version, formula;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {u"16.0", u"=SUM(A1", false}, {u"16.0", u"=SUM(A1))", false}, {u"16.0", u"=)(", false},
      {u"16.0", u"=\"a\")\"", false}, {u"16.0", u"='Q1!A1", false}, {u"16.0", u"=Table1[a']", false},
      {u"16.0", u"=IF(A1=\")\",1,2)", true}, {u"16.0", u"=\"a\"\")\"", true}, {u"16.0", u"='It''s ('!A1", true},
      {u"16.0", u"=SUM(Table1[[#This Row],['[x(]])", true}, {u"16.0", u"='[Book (1).xlsx]S'!A1", true},
      {u"16.0", u"SUM(", true}, {u"16.0", u"", true}, {u"11.0", longest11, true}, {u"11.0", longest11 + u"1", false},
      {u"16.0", longest, true}, {u"16.0", longest + u"2", false}, {u"16.0", std::u16string(32767, u'x'), true},
      {u"16.0", std::u16string(32768, u'x'), false},
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
  // Values are stored as the text Formula reads; text behind an apostrophe is no formula.
  const auto cell = At(u"A1");
  for (const auto& [value, formula] : std::vector<std::pair<Variant, std::u16string>>{
           {Variant(u"'=SUM("), u"=SUM("}, {Variant(true), u"TRUE"}, {Variant(), u""}}) {
    cell->SetValue(value);
    EXPECT_EQ(cell->Formula(), formula);
  }
  EXPECT_EQ(ErrorOf([&] { cell->SetValue(Variant(u"=SUM(1")); }), err::kApplicationDefined);
  EXPECT_EQ(ErrorOf([&] { cell->SetValue(Variant(VariantArray(1, 2))); }), err::kTypeMismatch);
}

TEST_F(MemoryHost, AnArrayBlockAnswersFromEveryCellAndIsChangedOnlyWhole) {
  const std::u16string formula = u"=A1:C3*2";
  At(u"B2:D4")->SetFormulaArray(formula);
  At(u"A1")->SetFormula(u"=7");
  At(u"F6:G7")->SetFormulaArray(u"=1");
  auto block = At(u"C3")->CurrentArray();
  EXPECT_EQ(block->Address(false, false), u"B2:D4");
  EXPECT_EQ(block->RowsCount() * 10 + block->ColumnsCount(), 33);
  EXPECT_EQ(block->Cells(2, 3)->Address(false, false), u"D3");
  EXPECT_EQ(block->Cells(2, 3)->Formula(), formula);
  EXPECT_EQ(At(u"C3")->HasArray(), Variant(true));
  EXPECT_EQ(At(u"B1:B2")->HasArray(), Variant(Null{}));
  EXPECT_EQ(At(u"A1:A5")->HasArray(), Variant(false));
  EXPECT_EQ(ErrorOf([&] { At(u"A1")->CurrentArray(); }), err::kApplicationDefined);
  EXPECT_EQ(ErrorOf([&] { At(u"B2:E2")->Formula(); }), err::kApplicationDefined);
  // Part of a block, or a rectangle that holds one block whole but cuts another, is refused.
  EXPECT_EQ(ErrorOf([&] { At(u"C3")->SetFormula(u"=1"); }), err::kApplicationDefined);
  EXPECT_EQ(ErrorOf([&] { At(u"C3")->SetValue(Variant()); }), err::kApplicationDefined);
  EXPECT_EQ(ErrorOf([&] { At(u"A1:B2")->SetFormula(u"=2"); }), err::kApplicationDefined);
  EXPECT_EQ(ErrorOf([&] { At(u"A1:F6")->SetFormulaArray(u"=4"); }), err::kApplicationDefined);
  EXPECT_EQ(At(u"A1")->Formula(), u"=7");
  EXPECT_EQ(At(u"D4")->Formula(), formula);
  // A rectangle holding the whole block replaces it.
  At(u"A1:E5")->SetFormulaArray(u"=5");
  EXPECT_EQ(At(u"C3")->CurrentArray()->Address(false, false), u"A1:E5");
  At(u"A1:E5")->SetFormula(u"=6");
  EXPECT_EQ(At(u"A1:E5")->HasArray(), Variant(false));
  EXPECT_EQ(At(u"E5")->Formula(), u"=6");
}

// Wrapping belongs to each cell and outlives its content; a block that is mixed reads Null.
TEST_F(MemoryHost, WrapIsPerCell) {
  At(u"B2:B3")->SetWrapText(Variant(u"True"));
  At(u"B3")->SetWrapText(Variant(0));
  At(u"B2")->SetFormula(u"");
  EXPECT_EQ(At(u"B2")->WrapText(), Variant(true));
  EXPECT_EQ(At(u"B2:B3")->WrapText(), Variant(Null{}));
  EXPECT_EQ(ErrorOf([&] { At(u"B2")->SetWrapText(Variant(u"maybe")); }), err::kTypeMismatch);
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
  EXPECT_DOUBLE_EQ(sheet->ColumnWidthPoints(1), kDefaultColumnPixels * 0.75);
  EXPECT_DOUBLE_EQ(fit(u"a"), 11);
  EXPECT_DOUBLE_EQ(fit(std::u16string(100, u'a')), 605);
  At(u"A9")->SetValue(Variant(u"'aa\naaaaaaaaaaa"));  // widest line 66
  EXPECT_DOUBLE_EQ(fit(u"aa"), 71);
  At(u"A9")->SetValue(Variant());
  app->SetStandardFontSize(10);  // "a" is 5.4545... pixels now
  EXPECT_DOUBLE_EQ(fit(u"aa"), 16);
  EXPECT_DOUBLE_EQ(fit(std::u16string(100, u' ')), std::ceil(300.0 * 10 / 11 + 5));
  EXPECT_DOUBLE_EQ(At(u"A1:B1")->EntireColumnWidth(), (std::ceil(300.0 * 10 / 11 + 5) + kDefaultColumnPixels) * 0.75);

  ScopedServices none{PlatformServices{}};
  auto unmeasured = MemoryApplication::Create();
  auto cell = unmeasured->AddWorkbook()->Sheet(1)->Range(u"A1");
  cell->SetValue(Variant(u"text"));
  EXPECT_EQ(ErrorOf([&] { cell->EntireColumnAutoFit(); }), err::kApplicationDefined);
  EXPECT_DOUBLE_EQ(cell->EntireColumnWidth(), kDefaultColumnPixels * 0.75);
}

TEST_F(MemoryHost, WorkbooksCountOnAndAClosedOnesObjectsFail) {
  EXPECT_EQ(ErrorOf([&] { app->ActiveCell(); }), err::kObjectVariableNotSet);
  auto cell = At(u"B7");
  cell->SetFormula(u"=1+2");
  app->SetActiveCell(cell);
  auto second = app->WorkbooksAdd();
  EXPECT_EQ(second->Name() + second->Path() + second->Worksheets(1)->Name(), u"Book2Sheet1");
  EXPECT_EQ(ErrorOf([&] { second->Worksheets(2); }), err::kSubscriptOutOfRange);
  book->Close(true);
  EXPECT_TRUE(book->ClosedWithSave());
  EXPECT_EQ(ErrorOf([&] { book->Name(); }), err::kObjectRequired);
  EXPECT_EQ(ErrorOf([&] { cell->SetFormula(u"=3"); }), err::kObjectRequired);
  EXPECT_EQ(ErrorOf([&] { app->ActiveCell(); }), err::kObjectVariableNotSet) << "its cell was the active one";
  EXPECT_EQ(sheet->CellFormula(7, 2), u"=1+2");
  second->Close(false);
  EXPECT_EQ(app->WorkbooksAdd()->Name(), u"Book3");
  EXPECT_EQ(app->OpenWorkbooks().size(), 1u);
}

TEST_F(MemoryHost, InjectedFailureHitsTheChosenCallOnly) {
  auto cell = At(u"A1");
  cell->SetFormula(u"=1");
  const auto before = app->CallCount();
  app->FailAtCall(3);
  EXPECT_EQ(cell->Formula(), u"=1");  // 1
  app->SetScreenUpdating(false);      // 2
  EXPECT_EQ(ErrorOf([&] { cell->SetFormula(u"=2"); }), err::kApplicationDefined);
  EXPECT_EQ(cell->Formula(), u"=1");  // 4: no longer failing
  EXPECT_EQ(app->CallCount(), before + 4);
  PlatformServices services;
  services.regional = RegionalFormat{u',', u'.'};
  ScopedServices scoped(services);
  EXPECT_EQ(app->International(5), Variant(u";")) << "the list separator follows the region";
  cell->SetValue(Variant(1.5));
  EXPECT_EQ(cell->Formula(), u"1.5") << "whatever the region";
  app->SetListSeparator(u"|");
  EXPECT_EQ(app->International(5), Variant(u"|"));
}

}  // namespace
}  // namespace corvane::memory
