#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "base/platform.h"
#include "hosts/memory/fixed_measurer.h"
#include "hosts/memory/memory_workbook.h"

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

std::u16string Repeat(char16_t c, std::size_t n) { return std::u16string(n, c); }

// For failure messages: the ASCII of a test text.
std::string Narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

class MemoryHost : public ::testing::Test {
 protected:
  FixedMeasurer measurer;
  std::shared_ptr<MemoryApplication> app = MemoryApplication::Create(&measurer);
  std::shared_ptr<MemoryWorkbook> book = app->AddWorkbook();
  std::shared_ptr<MemorySheet> sheet = book->Sheet(1);

  std::shared_ptr<MemoryRange> At(std::u16string_view address) { return sheet->Range(address); }
};

TEST_F(MemoryHost, ListSeparatorFollowsTheRegionUnlessOverridden) {
  PlatformServices services;
  services.regional = RegionalFormat{u',', u'.'};
  {
    ScopedServices scoped(services);
    EXPECT_EQ(app->International(5), Variant(u";"));
    EXPECT_EQ(app->International(3), Variant(u","));
    app->SetListSeparator(u"|");
    EXPECT_EQ(app->International(5), Variant(u"|"));
    app->SetListSeparator(u"");
  }
  services.regional = RegionalFormat{u'.', u','};
  ScopedServices scoped(services);
  EXPECT_EQ(app->International(5), Variant(u","));
  EXPECT_EQ(ErrorOf([&] { app->International(1); }), err::kApplicationDefined);
}

TEST_F(MemoryHost, WorkbooksAreNamedByACounterThatNeverGoesBack) {
  auto second = app->WorkbooksAdd();
  EXPECT_EQ(second->Name(), u"Book2");
  EXPECT_EQ(second->Path(), u"");
  EXPECT_EQ(second->Worksheets(1)->Name(), u"Sheet1");
  EXPECT_EQ(ErrorOf([&] { second->Worksheets(2); }), err::kSubscriptOutOfRange);
  EXPECT_EQ(ErrorOf([&] { second->Worksheets(0); }), err::kSubscriptOutOfRange);
  second->Close(false);
  EXPECT_EQ(app->WorkbooksAdd()->Name(), u"Book3");
  EXPECT_EQ(app->OpenWorkbooks().size(), 2u);
  EXPECT_EQ(app->WorkbooksAdded(), 3);
}

TEST_F(MemoryHost, ObjectsOfAClosedWorkbookFailWithObjectRequired) {
  EXPECT_EQ(ErrorOf([&] { app->ActiveCell(); }), err::kObjectVariableNotSet);
  auto cell = At(u"B7");
  cell->SetFormula(u"=1+2");
  app->SetActiveCell(cell);
  auto hostSheet = book->Worksheets(1);
  auto other = app->AddWorkbook();

  book->Close(true);
  EXPECT_FALSE(book->IsOpen());
  EXPECT_TRUE(book->ClosedWithSave());
  EXPECT_EQ(ErrorOf([&] { book->Name(); }), err::kObjectRequired);
  EXPECT_EQ(ErrorOf([&] { book->Close(false); }), err::kObjectRequired);
  EXPECT_EQ(ErrorOf([&] { hostSheet->Cells(1); }), err::kObjectRequired);
  EXPECT_EQ(ErrorOf([&] { cell->Formula(); }), err::kObjectRequired);
  EXPECT_EQ(ErrorOf([&] { cell->SetFormula(u"=3"); }), err::kObjectRequired);
  EXPECT_EQ(sheet->CellFormula(7, 2), u"=1+2");
  // Its cell was the active one; now no cell is.
  EXPECT_EQ(ErrorOf([&] { app->ActiveCell(); }), err::kObjectVariableNotSet);
  // Other workbooks go on working.
  EXPECT_EQ(other->Name(), u"Book2");
  ASSERT_EQ(app->OpenWorkbooks().size(), 1u);
  EXPECT_EQ(app->OpenWorkbooks()[0], other);
}

TEST_F(MemoryHost, SheetCellsCountAlongRowsFromA1) {
  EXPECT_EQ(sheet->Cells(1)->Address(false, false), u"A1");
  EXPECT_EQ(sheet->Cells(16384)->Address(false, false), u"XFD1");
  EXPECT_EQ(sheet->Cells(16385)->Address(false, false), u"A2");
  EXPECT_EQ(sheet->Cells(16384 * 6 + 28)->Address(false, false), u"AB7");
  EXPECT_EQ(ErrorOf([&] { sheet->Cells(0); }), err::kApplicationDefined);
  EXPECT_EQ(sheet->Cells(1)->Parent()->Parent()->Name(), u"Book1");
}

TEST_F(MemoryHost, AddressesInAllFourForms) {
  auto cell = At(u"b7");
  EXPECT_EQ(cell->Address(false, false), u"B7");
  EXPECT_EQ(cell->Address(true, true), u"$B$7");
  EXPECT_EQ(cell->Address(true, false), u"B$7");
  EXPECT_EQ(cell->Address(false, true), u"$B7");
  EXPECT_EQ(At(u"$B$2:d5")->Address(false, false), u"B2:D5");
  EXPECT_EQ(At(u"D5:B2")->Address(true, true), u"$B$2:$D$5");
  EXPECT_EQ(At(u"XFD1048576")->Address(false, false), u"XFD1048576");
  for (auto bad : {u"", u"7B", u"B", u"B0", u"XFE1", u"B1048577", u"B2:", u"B2:D5:E6", u"B 7", u"$$B7", u"ABCD1"}) {
    EXPECT_EQ(ErrorOf([&] { At(bad); }), err::kApplicationDefined) << Narrow(bad);
  }
}

TEST_F(MemoryHost, UnbalancedFormulasAreRefusedAndTheCellKept) {
  auto cell = At(u"A1");
  cell->SetFormula(u"=1");
  for (auto bad : {u"=SUM(A1", u"=SUM(A1))", u"=)(", u"=\"abc", u"=\"a\")\"", u"='Q1!A1", u"=Table1[x",
                   u"=A1]", u"=Table1[a']"}) {
    EXPECT_EQ(ErrorOf([&] { cell->SetFormula(bad); }), err::kApplicationDefined) << Narrow(bad);
    EXPECT_EQ(cell->Formula(), u"=1");
  }
  // Parentheses inside literals, quoted sheet names and brackets do not count, doubled quotes
  // and escaped brackets included.
  for (auto good : {u"=IF(A1=\")\",1,2)", u"=\"a\"\")\"", u"='Q1 (old)'!A1+1", u"='It''s ('!A1",
                    u"=Table1[Price (USD)]", u"=SUM(Table1[[#This Row],['[x(]])", u"='[Book (1).xlsx]S'!A1",
                    u"=\"it's\"&\"(\""}) {
    EXPECT_EQ(ErrorOf([&] { cell->SetFormula(good); }), 0) << Narrow(good);
    EXPECT_EQ(cell->Formula(), good);
  }
  // Constants are not formulas: no check.
  cell->SetFormula(u"SUM(");
  EXPECT_EQ(cell->Formula(), u"SUM(");
  cell->SetFormula(u"");
  EXPECT_EQ(cell->Formula(), u"");
}

TEST_F(MemoryHost, FormulaLengthLimitDependsOnTheVersion) {
  auto cell = At(u"A1");
  cell->SetFormula(u"=0");
  app->SetVersion(u"11.0");
  EXPECT_EQ(ErrorOf([&] { cell->SetFormula(u"=" + Repeat(u'1', 1024)); }), err::kApplicationDefined);
  EXPECT_EQ(cell->Formula(), u"=0");
  cell->SetFormula(u"=" + Repeat(u'1', 1023));
  EXPECT_EQ(cell->Formula().size(), 1024u);

  app->SetVersion(u"16.0");
  EXPECT_EQ(ErrorOf([&] { cell->SetFormulaArray(u"=" + Repeat(u'2', 8192)); }), err::kApplicationDefined);
  EXPECT_EQ(ErrorOf([&] { cell->SetValue(Variant(u"=" + Repeat(u'2', 8192))); }), err::kApplicationDefined);
  EXPECT_EQ(cell->Formula().size(), 1024u);
  EXPECT_FALSE(sheet->CellInArray(1, 1));
  cell->SetFormula(u"=" + Repeat(u'2', 8191));
  EXPECT_EQ(cell->Formula().size(), 8192u);

  // Text constants may be longer than a formula, up to the cell's 32,767 characters.
  cell->SetValue(Variant(u"'" + Repeat(u'x', 32767)));
  EXPECT_EQ(cell->Formula().size(), 32767u);
  EXPECT_EQ(ErrorOf([&] { cell->SetFormula(Repeat(u'x', 32768)); }), err::kApplicationDefined);
  EXPECT_EQ(cell->Formula().size(), 32767u);
}

TEST_F(MemoryHost, ArrayBlockAnswersFromEveryCell) {
  const std::u16string formula = u"=A1:C3*2";
  At(u"B2:D4")->SetFormulaArray(formula);
  auto middle = At(u"C3");
  EXPECT_EQ(middle->Formula(), formula);
  EXPECT_EQ(At(u"D4")->Formula(), formula);
  EXPECT_EQ(middle->HasArray(), Variant(true));
  auto block = middle->CurrentArray();
  EXPECT_EQ(block->Address(false, false), u"B2:D4");
  EXPECT_EQ(block->RowsCount(), 3);
  EXPECT_EQ(block->ColumnsCount(), 3);
  EXPECT_EQ(block->Formula(), formula);
  EXPECT_EQ(block->Cells(2, 3)->Address(false, false), u"D3");
  EXPECT_EQ(block->Cells(2, 3)->Formula(), formula);
  // Cells may reach outside the range, but not outside the sheet.
  EXPECT_EQ(block->Cells(5, 1)->Address(false, false), u"B6");
  EXPECT_EQ(block->Cells(0, 0)->Address(false, false), u"A1");
  EXPECT_EQ(ErrorOf([&] { block->Cells(-1, 1); }), err::kApplicationDefined);

  EXPECT_EQ(At(u"B1:B2")->HasArray(), Variant(Null{}));
  EXPECT_EQ(At(u"A1:A5")->HasArray(), Variant(false));
  EXPECT_EQ(ErrorOf([&] { At(u"A1")->CurrentArray(); }), err::kApplicationDefined);
  EXPECT_EQ(ErrorOf([&] { At(u"B2:E2")->Formula(); }), err::kApplicationDefined);
}

TEST_F(MemoryHost, ChangingPartOfAnArrayBlockIsRefused) {
  const std::u16string formula = u"=A1:C3*2";
  At(u"B2:D4")->SetFormulaArray(formula);
  At(u"A1")->SetFormula(u"=7");
  At(u"F6:G7")->SetFormulaArray(u"=1");

  EXPECT_EQ(ErrorOf([&] { At(u"C3")->SetFormula(u"=1"); }), err::kApplicationDefined);
  EXPECT_EQ(ErrorOf([&] { At(u"C3")->SetValue(Variant()); }), err::kApplicationDefined);
  EXPECT_EQ(ErrorOf([&] { At(u"A1:B2")->SetFormula(u"=2"); }), err::kApplicationDefined);
  EXPECT_EQ(ErrorOf([&] { At(u"C3:E5")->SetFormulaArray(u"=3"); }), err::kApplicationDefined);
  // A rectangle that holds one block whole but cuts another is refused as a whole.
  EXPECT_EQ(ErrorOf([&] { At(u"A1:F6")->SetFormulaArray(u"=4"); }), err::kApplicationDefined);
  EXPECT_EQ(At(u"A1")->Formula(), u"=7");
  EXPECT_EQ(At(u"B2:D4")->Formula(), formula);
  EXPECT_EQ(At(u"C3")->CurrentArray()->Address(false, false), u"B2:D4");
  EXPECT_EQ(At(u"G7")->Formula(), u"=1");

  // A rectangle holding the whole block replaces it.
  At(u"A1:E5")->SetFormulaArray(u"=5");
  EXPECT_EQ(At(u"C3")->CurrentArray()->Address(false, false), u"A1:E5");
  EXPECT_EQ(At(u"A1")->Formula(), u"=5");
  At(u"A1:E5")->SetFormula(u"=6");
  EXPECT_EQ(At(u"A1:E5")->HasArray(), Variant(false));
  EXPECT_EQ(At(u"E5")->Formula(), u"=6");
}

TEST_F(MemoryHost, SingleCellArrayBecomesAPlainFormulaWhenSet) {
  auto cell = At(u"B7");
  cell->SetFormulaArray(u"=SUM(A1:A3*2)");
  EXPECT_EQ(cell->HasArray(), Variant(true));
  EXPECT_EQ(cell->CurrentArray()->Address(false, false), u"B7");
  cell->SetFormula(u"=SUM(A1:A3)");
  EXPECT_EQ(cell->HasArray(), Variant(false));
  EXPECT_EQ(cell->Formula(), u"=SUM(A1:A3)");
  EXPECT_EQ(ErrorOf([&] { cell->SetFormulaArray(u"SUM(A1)"); }), err::kApplicationDefined);
}

TEST_F(MemoryHost, ValuesAreStoredAsTheTextFormulaReads) {
  auto cell = At(u"A1");
  cell->SetValue(Variant(u"'=SUM("));  // text behind the apostrophe is not a formula
  EXPECT_EQ(cell->Formula(), u"=SUM(");
  cell->SetValue(Variant(u"' "));
  EXPECT_EQ(cell->Formula(), u" ");
  EXPECT_EQ(ErrorOf([&] { cell->SetValue(Variant(u"=SUM(1")); }), err::kApplicationDefined);
  EXPECT_EQ(cell->Formula(), u" ");
  {
    PlatformServices services;
    services.regional = RegionalFormat{u',', u'.'};
    ScopedServices scoped(services);
    cell->SetValue(Variant(1.5));
    EXPECT_EQ(cell->Formula(), u"1.5");
  }
  cell->SetValue(Variant(true));
  EXPECT_EQ(cell->Formula(), u"TRUE");
  cell->SetValue(Variant());
  EXPECT_EQ(cell->Formula(), u"");
  EXPECT_EQ(ErrorOf([&] { cell->SetValue(Variant(VariantArray(1, 2))); }), err::kTypeMismatch);
}

TEST_F(MemoryHost, WrapIsPerCellAndMixedReadsNull) {
  At(u"B2")->SetWrapText(Variant(true));
  EXPECT_EQ(At(u"B2")->WrapText(), Variant(true));
  EXPECT_EQ(At(u"B3")->WrapText(), Variant(false));
  EXPECT_EQ(At(u"B2:B3")->WrapText(), Variant(Null{}));
  At(u"B2:B3")->SetWrapText(Variant(u"True"));
  EXPECT_EQ(At(u"B2:B3")->WrapText(), Variant(true));
  At(u"B3")->SetWrapText(Variant(0));
  EXPECT_EQ(At(u"B2:B3")->WrapText(), Variant(Null{}));
  EXPECT_EQ(ErrorOf([&] { At(u"B2")->SetWrapText(Variant(u"maybe")); }), err::kTypeMismatch);

  // Wrapping survives content changes and may be set on part of an array block.
  At(u"B2")->SetFormula(u"=1");
  At(u"B2")->SetFormula(u"");
  EXPECT_TRUE(sheet->CellWrap(2, 2));
  At(u"C2:D3")->SetFormulaArray(u"=1");
  At(u"D3")->SetWrapText(Variant(true));
  EXPECT_EQ(At(u"C2:D3")->WrapText(), Variant(Null{}));
}

// One measurement as the calibration makes it: text entry, no wrapping, fit, width.
double Measure(const std::shared_ptr<HostRange>& cell, const std::u16string& text) {
  cell->SetValue(Variant(u"'" + text));
  cell->SetWrapText(Variant(false));
  cell->EntireColumnAutoFit();
  return cell->EntireColumnWidth();
}

TEST_F(MemoryHost, AutoFitRoundsTheWidestContentUpToWholePixels) {
  auto cell = sheet->Cells(1);
  EXPECT_DOUBLE_EQ(cell->EntireColumnWidth(), kDefaultColumnPixels * 0.75);
  // 11 pt: "a" is 6 pixels, plus 5 of padding.
  EXPECT_DOUBLE_EQ(Measure(cell, u"a"), 11 * 0.75);
  EXPECT_DOUBLE_EQ(Measure(cell, u"aa"), 17 * 0.75);
  EXPECT_DOUBLE_EQ(Measure(cell, Repeat(u'a', 100)), 605 * 0.75);
  // 10 pt: "a" is 5.4545... pixels, and every width is rounded up.
  app->SetStandardFontSize(10);
  EXPECT_DOUBLE_EQ(Measure(cell, u"a"), 11 * 0.75);
  EXPECT_DOUBLE_EQ(Measure(cell, u"aa"), 16 * 0.75);
  EXPECT_DOUBLE_EQ(Measure(cell, Repeat(u'a', 100)), 551 * 0.75);
  EXPECT_DOUBLE_EQ(Measure(cell, Repeat(u' ', 100)), std::ceil(300.0 * 10 / 11 + 5) * 0.75);
}

TEST_F(MemoryHost, AutoFitTakesTheWidestLineOfAnyCellInTheColumn) {
  At(u"B1")->SetFormula(u"=A1");                    // formulas show as their text: 6+8+6 = 20
  At(u"B9")->SetValue(Variant(u"'aa\naaaaaaaaa"));  // widest line 54
  At(u"C1")->SetValue(Variant(Repeat(u'W', 50)));    // another column
  At(u"B5")->EntireColumnAutoFit();
  EXPECT_DOUBLE_EQ(sheet->ColumnWidthPoints(2), (54 + 5) * 0.75);
  EXPECT_DOUBLE_EQ(sheet->ColumnWidthPoints(3), kDefaultColumnPixels * 0.75);

  // A fit over two columns fits each; Width of both is their sum. An empty column goes back
  // to the default.
  At(u"B9")->SetValue(Variant());
  At(u"B1:C1")->EntireColumnAutoFit();
  EXPECT_DOUBLE_EQ(sheet->ColumnWidthPoints(2), (20 + 5) * 0.75);
  EXPECT_DOUBLE_EQ(At(u"B1:C1")->EntireColumnWidth(), (25 + 555) * 0.75);
  At(u"B1")->SetValue(Variant());
  At(u"B1")->EntireColumnAutoFit();
  EXPECT_DOUBLE_EQ(sheet->ColumnWidthPoints(2), kDefaultColumnPixels * 0.75);
}

TEST_F(MemoryHost, AutoFitWithoutAnyMeasurerFailsAndChangesNothing) {
  ScopedServices none{PlatformServices{}};
  auto unmeasured = MemoryApplication::Create();
  auto cell = unmeasured->AddWorkbook()->Sheet(1)->Range(u"A1");
  cell->SetValue(Variant(u"text"));
  EXPECT_EQ(ErrorOf([&] { cell->EntireColumnAutoFit(); }), err::kApplicationDefined);
  EXPECT_DOUBLE_EQ(cell->EntireColumnWidth(), kDefaultColumnPixels * 0.75);

  // With a measurer installed for the thread, it is used.
  PlatformServices services;
  services.textMeasurer = &measurer;
  ScopedServices scoped(services);
  cell->EntireColumnAutoFit();
  EXPECT_DOUBLE_EQ(cell->EntireColumnWidth(), (6 * 4 + 5) * 0.75);
}

TEST_F(MemoryHost, InjectedFailureHitsTheChosenCallOnly) {
  auto cell = At(u"A1");
  cell->SetFormula(u"=1");
  const auto before = app->CallCount();
  app->FailAtCall(3);
  EXPECT_EQ(cell->Formula(), u"=1");  // 1
  app->SetScreenUpdating(false);      // 2
  try {
    cell->SetFormula(u"=2");  // 3
    ADD_FAILURE() << "the third call should fail";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), err::kApplicationDefined);
    EXPECT_EQ(e.description(), u"Injected failure");
  }
  EXPECT_EQ(sheet->CellFormula(1, 1), u"=1");
  EXPECT_EQ(cell->Formula(), u"=1");  // 4: no longer failing
  EXPECT_EQ(app->CallCount(), before + 4);

  app->FailAtCall(1);
  app->FailAtCall(0);
  EXPECT_EQ(ErrorOf([&] { app->Version(); }), 0);
}

}  // namespace
}  // namespace corvane::memory
