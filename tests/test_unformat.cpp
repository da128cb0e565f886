// Unformat: what it removes and keeps (golden rows, each also stable when unformatted again) and
// the command keeping a cell's wrapping. Every corpus formula back from its layout is
// test_layout's; arbitrary text stable is the fuzz target's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addin/cls_corvane.h"
#include "base/utf8.h"
#include "formatting/unformat.h"
#include "hosts/memory/memory_workbook.h"
#include "support/corpus.h"

namespace corvane {
namespace {

using corpus::Utf16ToUtf8;

// tests/golden/unformat.txt, and here the cases a data file would hide: other whitespace, and
// spaces at the end of a line.
TEST(Unformat, RemovesTheLayoutAndKeepsLiteralsNamesAndIntersections) {
  std::vector<std::pair<std::u16string, std::u16string>> cases = {
      {u"=IF(\n      A1,\n      SUM(\n            B1,\n            C1\n         ),\n      0\n   )\n   ", u"=IF(A1,SUM(B1,C1),0)"},
      {u"=IF(\n   A1,\n   \"x\ny\"\n)", u"=IF(A1,\"x\ny\")"},  // line feed of a literal
      {u"=\"never closed \n  (", u"=\"never closed \n  ("},
      {u"= A1 + B1 ", u"=A1+B1"},
      // Other whitespace is kept.
      {u"=A1\r\n+B1", u"=A1\r+B1"},
      {u"=A1\t+\u00A0B1", u"=A1\t+\u00A0B1"},
      {u"=A1 \r B1", u"=A1\rB1"},
      {u"=SUM(\n       A1 B1\n    )\n    ", u"=SUM(A1 B1)"},
      {u"=A1 \nB1", u"=A1B1"},
      {u"=SUBTOTAL(\n   109,\n   Table1[Purchase\n price]\n)", u"=SUBTOTAL(109,Table1[Purchase\n price])"},
      {u"=A1]\n+[B \n]", u"=A1]+[B \n]"},  // a stray "]" does not take the count below zero
      {u"=\"[\" & A1 \n", u"=\"[\"&A1"},
      {u"='[Book.xlsx]S'!A1 \n", u"='[Book.xlsx]S'!A1"},
      {u"=\"a\"\n\"b\"", u"=\"a\"\n\"b\""},
  };
  const auto utf16 = [](const std::string& text) { return utf8::Utf8ToUtf16(text, [](unsigned char) { return u'?'; }); };
  for (const corpus::Golden& g : corpus::LoadGolden("unformat.txt")) cases.emplace_back(utf16(g.lines), utf16(g.header));
  ASSERT_GE(cases.size(), 39U);
  for (const auto& [input, expected] : cases) {
    SCOPED_TRACE(Utf16ToUtf8(input));
    const std::u16string once = Unformat(input);
    EXPECT_EQ(Utf16ToUtf8(once), Utf16ToUtf8(expected));
    EXPECT_EQ(Utf16ToUtf8(Unformat(once)), Utf16ToUtf8(once)) << "not stable";
  }
}

// The add-in attached to a fresh in-memory workbook.
struct AddinOnABook {
  std::shared_ptr<memory::MemoryApplication> app = memory::MemoryApplication::Create();
  std::shared_ptr<memory::MemorySheet> sheet = app->AddWorkbook()->Sheet(1);
  cls_corvane addin;
  AddinOnABook() {
    ObjectRef ref = app;
    addin.SetExcelApp(ref);
  }
};

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
  AddinOnABook b;
  auto& [app, sheet, addin] = b;
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

// An array block whose host switches wrapping on with every write: each cell's own setting comes
// back, in every row and column.
struct BlockWrapOnWrite : memory::MemoryRange {
  using MemoryRange::MemoryRange;
  std::shared_ptr<HostRange> CurrentArray() override {
    const auto b = std::static_pointer_cast<memory::MemoryRange>(MemoryRange::CurrentArray());
    return std::make_shared<BlockWrapOnWrite>(b->sheet(), b->row1(), b->col1(), b->row2(), b->col2());
  }
  void SetFormulaArray(const std::u16string& text) override {
    MemoryRange::SetFormulaArray(text);
    SetWrapText(Variant(true));
  }
};

TEST(Unformat, TheCommandKeepsEveryWrappingOfAnArrayBlock) {
  AddinOnABook b;
  auto& [app, sheet, addin] = b;
  sheet->Range(u"B2:C4")->SetFormulaArray(u"=SUM(\n   1,\n   2\n)");
  const bool wraps[3][2] = {{true, false}, {false, true}, {true, false}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 2; ++c) sheet->SetCellWrap(2 + r, 2 + c, wraps[r][c]);
  app->SetActiveCell(std::make_shared<BlockWrapOnWrite>(sheet, 3, 3, 3, 3));
  addin.cvDeformulateCell();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 2; ++c) {
      EXPECT_EQ(Utf16ToUtf8(sheet->CellFormula(2 + r, 2 + c)), "=SUM(1,2)");
      EXPECT_EQ(sheet->CellWrap(2 + r, 2 + c), wraps[r][c]) << "row " << 2 + r << " column " << 2 + c;
    }
  }
}

}  // namespace
}  // namespace corvane
