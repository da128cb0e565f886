#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "addin/cls_corvane.h"
#include "formatting/char_scan.h"
#include "formatting/unformat.h"
#include "support/corpus.h"

namespace corvane {
namespace {

using corpus::Utf16ToUtf8;

StringTable TableOf(cls_corvane& addin, std::u16string_view formula) {
  Variant text{std::u16string(formula)};
  Variant length{static_cast<std::int32_t>(formula.size())};
  Variant result = addin.PopulateCharArray(text, length);
  return result.table();
}

std::u16string Unformatted(cls_corvane&, std::u16string_view formula) { return Unformat(formula); }

struct Golden {
  std::u16string input;
  std::u16string expected;
};

void CheckGolden(const std::vector<Golden>& cases) {
  cls_corvane addin;
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.input));
    const std::u16string once = Unformatted(addin, c.input);
    EXPECT_EQ(Utf16ToUtf8(once), Utf16ToUtf8(c.expected));
    EXPECT_EQ(Utf16ToUtf8(Unformatted(addin, once)), Utf16ToUtf8(once)) << "not stable";
  }
}

TEST(Unformat, LayoutGoesLiteralsAndSheetNamesStay) {
  CheckGolden({
      // A laid-out formula comes back as one line.
      {u"=IF(\n      A1,\n      SUM(\n            B1,\n            C1\n         ),\n      0\n   )\n   ",
       u"=IF(A1,SUM(B1,C1),0)"},
      {u"=A1*(SUM(\n           B1,\n           C1\n        )\n    )", u"=A1*(SUM(B1,C1))"},
      // Only the space after the separator goes.
      {u"=\"a b\"&'My Sheet'!A1&SUM(1, 2)", u"=\"a b\"&'My Sheet'!A1&SUM(1,2)"},
      {u"=IF(\n   A1,\n   \"x\ny\"\n)", u"=IF(A1,\"x\ny\")"},  // line feed of a literal
      {u"='Bob''s  Data'!A1 + 1", u"='Bob''s  Data'!A1+1"},
      {u"=\"it's \" & 'Q 1'!B2", u"=\"it's \"&'Q 1'!B2"},
      {u"=\"never closed \n  (", u"=\"never closed \n  ("},
      {u"= A1 + B1 ", u"=A1+B1"},
      {u"=SUM( A1 , B1 )", u"=SUM(A1,B1)"},
  });
}

TEST(Unformat, OtherWhitespaceIsKept) {
  CheckGolden({
      {u"=A1\r\n+B1", u"=A1\r+B1"},
      {u"=A1\t+\u00A0B1", u"=A1\t+\u00A0B1"},
      {u"=A1 \r B1", u"=A1\rB1"},
  });
}

TEST(Unformat, IntersectionSpacesStay) {
  CheckGolden({
      {u"=A1:B5 B2:C3", u"=A1:B5 B2:C3"},
      {u"=SUM(A1 B1)", u"=SUM(A1 B1)"},
      {u"=SUM(\n       A1 B1\n    )\n    ", u"=SUM(A1 B1)"},
      {u"=(A1:B2)  (B1:C3)", u"=(A1:B2)  (B1:C3)"},
      {u"=Sheet1!$A:$A 'My Sheet'!3:3", u"=Sheet1!$A:$A 'My Sheet'!3:3"},
      {u"=Table1[Price] Table1[#Totals]", u"=Table1[Price] Table1[#Totals]"},
      {u"=A1# B1", u"=A1# B1"},
      {u"=Über Größe", u"=Über Größe"},
      // A line feed beside the run makes it layout, intersection or not.
      {u"=A1 \nB1", u"=A1B1"},
      {u"=A1\n B1", u"=A1B1"},
      // Not a reference on one side.
      {u"=A1 +B1", u"=A1+B1"},
      {u"=\"x\" A1", u"=\"x\"A1"},
      {u"=A1 \"x\"", u"=A1\"x\""},
  });
}

TEST(Unformat, NamesInSquareBracketsStayWhole) {
  CheckGolden({
      {u"=Table1[[#This Row],[Unit Price]]", u"=Table1[[#This Row],[Unit Price]]"},
      {u"=SUBTOTAL(\n   109,\n   Table1[Purchase\n price]\n)", u"=SUBTOTAL(109,Table1[Purchase\n price])"},
      {u"=[Book 1.xlsx]Sheet1!A1 + 1", u"=[Book 1.xlsx]Sheet1!A1+1"},
      // A stray closing bracket does not take the count below zero.
      {u"=A1]\n+[B \n]", u"=A1]+[B \n]"},
      // Brackets inside literals and sheet names do not count.
      {u"=\"[\" & A1 \n", u"=\"[\"&A1"},
      {u"='[Book.xlsx]S'!A1 \n", u"='[Book.xlsx]S'!A1"},
      {u"=Table1[@[Unit Price]] *\n   2", u"=Table1[@[Unit Price]]*2"},
  });
}

TEST(Unformat, NeverJoinsTwoLiteralsOrNames) {
  CheckGolden({
      {u"=\"a\" \"b\"", u"=\"a\" \"b\""},
      {u"=\"a\"\n\"b\"", u"=\"a\"\n\"b\""},
      {u"=\"a\"\n&\"b\"", u"=\"a\"&\"b\""},
  });
}

// Inside brackets an apostrophe escapes the next character; a double quote inside a sheet name
// is text of the name. Neither hides the layout after it.
TEST(Unformat, EscapesInsideNamesEndWhereTheNameEnds) {
  CheckGolden({
      {u"=SUM(\n   Table1['#Items],\n   A1 + 1\n)", u"=SUM(Table1['#Items],A1+1)"},
      {u"=SUM(\n   Table1[[#This Row],['[Qty']]],\n   A1\n)", u"=SUM(Table1[[#This Row],['[Qty']]],A1)"},
      {u"=T[a '] b]*F(\n  1\n)", u"=T[a '] b]*F(1)"},
      {u"='a\"b'!A1+SUM(\n   1,\n   2\n)", u"='a\"b'!A1+SUM(1,2)"},
      {u"=T[\"x ]&\"y z\"", u"=T[\"x ]&\"y z\""},
  });
}

// Lays a formula out as the layout would: a line feed and indentation after every syntactic "("
// and ",", and before every syntactic ")"; sometimes trailing spaces before the line feed.
std::u16string RandomLayout(std::u16string_view f, const StringTable& t, std::mt19937& rng) {
  std::u16string out;
  const auto lineBreak = [&] {
    out.append(rng() % 4 == 0 ? rng() % 3 : 0, u' ');
    out.push_back(u'\n');
    out.append(rng() % 16, u' ');
  };
  int depth = 0;
  for (std::size_t i = 0; i < f.size(); ++i) {
    const auto row = static_cast<std::int32_t>(i + 1);
    const bool text = t.get(row, 3) == u"Str" || t.get(row, 4) == u"Sh";
    const char16_t c = f[i];
    if (!text && c == u'[') ++depth;
    if (!text && c == u']' && depth > 0) --depth;
    const bool syntax = !text && depth == 0;
    if (syntax && c == u')') lineBreak();
    out.push_back(c);
    if (syntax && (c == u'(' || c == u',')) lineBreak();
  }
  return out;
}

TEST(Unformat, CorpusStableAndLaidOutFormulasComeBack) {
  const auto formulas = corpus::LoadCorpus();
  ASSERT_GT(formulas.size(), 39000u);
  cls_corvane addin;
  std::mt19937 rng(20240611u);
  std::size_t stable = 0;
  std::size_t changed = 0;
  std::size_t withoutWhitespace = 0;
  std::size_t cameBack = 0;
  for (const auto& f : formulas) {
    std::u16string once;
    std::u16string twice;
    ASSERT_NO_THROW(once = Unformatted(addin, f.text)) << f.source;
    ASSERT_NO_THROW(twice = Unformatted(addin, once)) << f.source;
    ASSERT_EQ(Utf16ToUtf8(twice), Utf16ToUtf8(once)) << f.source;
    ++stable;
    changed += once != f.text;

    if (f.text.find_first_of(u" \n\r\t") != std::u16string::npos) continue;
    ++withoutWhitespace;
    EXPECT_EQ(once, f.text) << f.source << ": a formula without whitespace changed";
    const std::u16string laidOut = RandomLayout(f.text, TableOf(addin, f.text), rng);
    const std::u16string back = Unformatted(addin, laidOut);
    ASSERT_EQ(Utf16ToUtf8(back), Utf16ToUtf8(f.text)) << f.source << "\nlaid out:\n" << Utf16ToUtf8(laidOut);
    ++cameBack;
  }
  std::printf("[ corpus   ] %zu stable (%zu changed by unformat), %zu of %zu without whitespace came back\n",
              stable, changed, cameBack, withoutWhitespace);
}

}  // namespace
}  // namespace corvane
