// Unformat: what it removes and keeps (golden rows, each also stable when unformatted again) and
// the command keeping a cell's wrapping. Every corpus formula back from its layout is
// test_layout's; arbitrary text stable is the fuzz target's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addin/cls_corvane.h"
#include "formatting/unformat.h"
#include "hosts/memory/memory_workbook.h"
#include "support/corpus.h"

namespace corvane {
namespace {

using corpus::Utf16ToUtf8;

TEST(Unformat, RemovesTheLayoutAndKeepsLiteralsNamesAndIntersections) {
  const std::vector<std::pair<std::u16string, std::u16string>> cases = {
      {u"=IF(\n      A1,\n      SUM(\n            B1,\n            C1\n         ),\n      0\n   )\n   ",
       u"=IF(A1,SUM(B1,C1),0)"},
      {u"=A1*(SUM(\n           B1,\n           C1\n        )\n    )", u"=A1*(SUM(B1,C1))"},
      {u"=\"a b\"&'My Sheet'!A1&SUM(1, 2)", u"=\"a b\"&'My Sheet'!A1&SUM(1,2)"},
      {u"=IF(\n   A1,\n   \"x\ny\"\n)", u"=IF(A1,\"x\ny\")"},  // line feed of a literal
      {u"='Bob''s  Data'!A1 + 1", u"='Bob''s  Data'!A1+1"},
      {u"=\"it's \" & 'Q 1'!B2", u"=\"it's \"&'Q 1'!B2"},
      {u"=\"never closed \n  (", u"=\"never closed \n  ("},
      {u"= A1 + B1 ", u"=A1+B1"},
      {u"=SUM( A1 , B1 )", u"=SUM(A1,B1)"},
      // Other whitespace is kept.
      {u"=A1\r\n+B1", u"=A1\r+B1"},
      {u"=A1\t+\u00A0B1", u"=A1\t+\u00A0B1"},
      {u"=A1 \r B1", u"=A1\rB1"},
      // Intersection spaces stay, unless a line feed touches the run.
      {u"=A1:B5 B2:C3", u"=A1:B5 B2:C3"},
      {u"=SUM(\n       A1 B1\n    )\n    ", u"=SUM(A1 B1)"},
      {u"=(A1:B2)  (B1:C3)", u"=(A1:B2)  (B1:C3)"},
      {u"=Sheet1!$A:$A 'My Sheet'!3:3", u"=Sheet1!$A:$A 'My Sheet'!3:3"},
      {u"=Table1[Price] Table1[#Totals]", u"=Table1[Price] Table1[#Totals]"},
      {u"=A1# B1", u"=A1# B1"},
      {u"=Über Größe", u"=Über Größe"},
      {u"=A1 \nB1", u"=A1B1"},
      {u"=A1\n B1", u"=A1B1"},
      {u"=A1 +B1", u"=A1+B1"},
      {u"=\"x\" A1", u"=\"x\"A1"},
      {u"=A1 \"x\"", u"=A1\"x\""},
      // Names in square brackets stay whole, spaces and line feeds included.
      {u"=Table1[[#This Row],[Unit Price]]", u"=Table1[[#This Row],[Unit Price]]"},
      {u"=SUBTOTAL(\n   109,\n   Table1[Purchase\n price]\n)", u"=SUBTOTAL(109,Table1[Purchase\n price])"},
      {u"=[Book 1.xlsx]Sheet1!A1 + 1", u"=[Book 1.xlsx]Sheet1!A1+1"},
      {u"=A1]\n+[B \n]", u"=A1]+[B \n]"},  // a stray "]" does not take the count below zero
      {u"=\"[\" & A1 \n", u"=\"[\"&A1"},
      {u"='[Book.xlsx]S'!A1 \n", u"='[Book.xlsx]S'!A1"},
      {u"=Table1[@[Unit Price]] *\n   2", u"=Table1[@[Unit Price]]*2"},
      // Never joins two literals or names.
      {u"=\"a\" \"b\"", u"=\"a\" \"b\""},
      {u"=\"a\"\n\"b\"", u"=\"a\"\n\"b\""},
      {u"=\"a\"\n&\"b\"", u"=\"a\"&\"b\""},
      // Escapes inside names end where the name ends.
      {u"=SUM(\n   Table1['#Items],\n   A1 + 1\n)", u"=SUM(Table1['#Items],A1+1)"},
      {u"=SUM(\n   Table1[[#This Row],['[Qty']]],\n   A1\n)", u"=SUM(Table1[[#This Row],['[Qty']]],A1)"},
      {u"=T[a '] b]*F(\n  1\n)", u"=T[a '] b]*F(1)"},
      {u"='a\"b'!A1+SUM(\n   1,\n   2\n)", u"='a\"b'!A1+SUM(1,2)"},
      {u"=T[\"x ]&\"y z\"", u"=T[\"x ]&\"y z\""},
  };
  for (const auto& [input, expected] : cases) {
    SCOPED_TRACE(Utf16ToUtf8(input));
    const std::u16string once = Unformat(input);
    EXPECT_EQ(Utf16ToUtf8(once), Utf16ToUtf8(expected));
    EXPECT_EQ(Utf16ToUtf8(Unformat(once)), Utf16ToUtf8(once)) << "not stable";
  }
}

// A cell whose host switches wrapping on with every write, as a spreadsheet does for text with
// line feeds: the command puts the cell's own setting back.
struct WrapOnWrite : memory::MemoryRange {
  using MemoryRange::MemoryRange;
  void SetFormula(const std::u16string& text) override {
    MemoryRange::SetFormula(text);
    SetWrapText(Variant(true));
  }
};

TEST(Unformat, TheCommandKeepsTheCellsWrapping) {
  auto app = memory::MemoryApplication::Create();
  const auto sheet = app->AddWorkbook()->Sheet(1);
  cls_corvane addin;
  ObjectRef ref = app;
  addin.SetExcelApp(ref);
  for (const bool wrap : {false, true}) {
    SCOPED_TRACE(wrap);
    auto cell = std::make_shared<WrapOnWrite>(sheet, 2, 3, 2, 3);
    cell->SetFormula(u"=SUM(\n   1,\n   2\n)");
    cell->SetWrapText(Variant(wrap));
    app->SetActiveCell(cell);
    addin.cvDeformulateCell();
    EXPECT_EQ(Utf16ToUtf8(cell->Formula()), "=SUM(1,2)");
    EXPECT_EQ(cell->WrapText(), Variant(wrap));
  }
}

}  // namespace
}  // namespace corvane
