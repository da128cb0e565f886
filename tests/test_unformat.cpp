// Unformat: what it removes and keeps, in golden rows. The command over a cell or an array block,
// keeping each cell's wrapping, is test_formulate_command's; every corpus formula back from its
// layout is test_layout's; any text stable when unformatted again, and read as the lexer's spans
// say, is the fuzz target's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/utf8.h"
#include "formatting/unformat.h"
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
    EXPECT_EQ(Utf16ToUtf8(Unformat(input)), Utf16ToUtf8(expected));
  }
}

}  // namespace
}  // namespace corvane
