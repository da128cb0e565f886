// The lexer: each kind of span on the shapes that the older recognisers misread, escapes inside
// names, unclosed ends and the separator. That the spans cover any text exactly is fuzz_lexer's
// property, seeded with the corpus. Then the add-in's character table (PopulateCharArray) as a
// macro sees it: quote classes, literal and sheet-name marks; CheckChar is the Excel end-to-end
// test's (a parenthesis in and out of a literal) and the fuzz target's (never syntax inside a
// literal). And the spreadsheet's refusals decided by the lexer's spans.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "addin/cls_corvane.h"
#include "base/automation.h"
#include "base/unit_scan.h"
#include "addin/char_scan.h"
#include "formatting/lexer.h"
#include "formatting/refusal.h"
#include "support/corpus.h"

namespace corvane::lex {
namespace {

// Each span as its kind's letter and its text, "|" between: S"a" N'x' B[y] ( ) , O W T{ }.
std::string Render(std::u16string_view formula, std::u16string_view separator = u",") {
  std::string out;
  for (const Span& s : Lex(formula, separator)) {
    static constexpr const char* kLetters[] = {"S", "N", "B", "{", "}", "(", ")", ",", "O", "W", "T"};
    if (!out.empty()) out += "|";
    out += kLetters[static_cast<int>(s.kind)];
    if (s.unclosed) out += "!";
    if (s.kind == Kind::StringLiteral || s.kind == Kind::SheetName || s.kind == Kind::BracketedName ||
        s.kind == Kind::Text || s.kind == Kind::Operator)
      out += corpus::Utf16ToUtf8(formula.substr(s.begin, s.end - s.begin));
  }
  return out;
}

// tests/golden/lexer.txt, and the line feeds, tabs and returns that a data file would hide:
// inside brackets they are text, elsewhere whitespace.
TEST(Lexer, SpansOfEveryKind) {
  const std::map<std::string, std::u16string> separators = {{"comma", u","}, {"semicolon", u";"}, {"equals", u"="}, {"none", u""}};
  std::vector<std::tuple<std::u16string, std::u16string, std::string>> cases = {
      {u"=T[\"a (b),\n c\"]", u",", "O=|TT|B[\"a (b),\n c\"]"}, {u"=F( \n\t\rA1)", u",", "O=|TF|(|W|TA1|)"}};
  for (const corpus::Golden& g : corpus::LoadGolden("lexer.txt")) {
    const std::size_t space = g.header.find(' ');
    cases.emplace_back(Ascii16(g.header.substr(space + 1)), separators.at(g.header.substr(0, space)), g.lines);
  }
  ASSERT_GE(cases.size(), 23U);
  for (const auto& [formula, separator, spans] : cases) EXPECT_EQ(Render(formula, separator), spans) << corpus::Utf16ToUtf8(formula);
}

// <> and <= as one span at the very start too; a view of part of a longer text is lexed up to its
// own end, never into what follows it.
TEST(Lexer, SpansOfAViewEndWithIt) {
  const std::u16string_view text = u"<>A1  <=B1";
  EXPECT_EQ(Render(text), "O<>|TA1|W|O<=|TB1");
  for (std::size_t n = 1; n <= text.size(); ++n) EXPECT_EQ(Lex(text.substr(0, n), u",").back().end, n) << n;
}

// Each refusal at its edges: what only looks like a call or a whole column (in literals, names,
// brackets, with a sheet, beyond the sheet's columns and rows) is taken.
TEST(Lexer, TheSpreadsheetRefusesBreaksBeforeWholeColumnsDeepNestingAndLength) {
  const auto nested = [](std::size_t depth, std::u16string_view open, std::u16string_view inner) {
    std::u16string text = u"=";
    for (std::size_t k = 0; k < depth; ++k) text += open;
    return text + std::u16string(inner) + std::u16string(depth, u')');
  };
  const std::string column = "the formula has a line break right before the whole-column reference ";
  const std::string deep = "the formula nests functions more than 64 levels deep";
  const std::vector<std::tuple<std::u16string, std::u16string, std::size_t, std::string>> cases = {
      {u"=SUM(\n  A:A\n)", u",", 8192, column + "A:A"}, {u"=SUM(B1  \n  $B:c)", u",", 8192, column + "$B:c"},
      {u"=SUM(1,\r\n2:2)", u",", 8192, "the formula has a line break right before the whole-row reference 2:2"},
      {u"=IF(\nXFD:$XFD;1)", u";", 8192, column + "XFD:$XFD"}, {u"=IF(\nA:A;1)", u",", 8192, ""},
      {u"=SUM(A:A)", u",", 8192, ""}, {u"=SUM(\nA1:A2)", u",", 8192, ""}, {u"=SUM(\nSheet1!A:A)", u",", 8192, ""},
      {u"=SUM(\n'My Sheet'!A:A)", u",", 8192, ""}, {u"=SUM(\nXFE:XFE,\n1048577:1048577,\n0:0,\nA:1,\nA=A)", u",", 8192, ""},
      {u"=T(\"\nA:A\")&'\nB:B'!A1&T[\nC:C]", u",", 8192, ""}, {u"=SUM( A:A)", u",", 8192, ""},
      {nested(64, u"ABS(", u"1"), u",", 8192, ""}, {nested(65, u"_xlfn.X(", u"1"), u",", 8192, deep},
      {nested(63, u"ABS(", u"ABS(1)+F(1)(ABS(2))+" + nested(200, u"(", u"\"F(\"&'F(x'!A1&T[F(]")), u",", 8192, ""},
      {u"=" + std::u16string(1023, u'1'), u",", 1024, ""},
      {u"=" + std::u16string(1024, u'1'), u",", 1024, "the formula is longer than the 1024 characters this version allows"},
  };
  for (const auto& [formula, separator, limit, reason] : cases) {
    SCOPED_TRACE(corpus::Utf16ToUtf8(formula.substr(0, 60)));
    EXPECT_EQ(corpus::Utf16ToUtf8(refusal::Refusal(formula, separator, limit).value_or(u"")), reason);
  }
}

}  // namespace
}  // namespace corvane::lex

namespace corvane {
namespace {

using corpus::Utf16ToUtf8;

StringTable ScanOf(cls_corvane& addin, std::u16string_view formula) {
  Variant text{std::u16string(formula)};
  Variant length{static_cast<std::int32_t>(formula.size())};
  return addin.PopulateCharArray(text, length).table();
}

// Per row: the quote class's letter (Left, Right, Escape, literal Quote), "S" for a literal mark
// and "H" for a sheet-name mark, "." for none; the three lines joined by "|".
std::string Marks(const StringTable& t) {
  std::string quotes, literal, sheet;
  for (std::int32_t row = 1; row <= t.rowUpper(); ++row) {
    const std::u16string_view q = t.at(row, scan::kQuoteClassColumn);
    quotes += q == scan::kLeftQuote ? 'L' : q == scan::kRightQuote ? 'R' : q == scan::kEscapeQuote ? 'E' : q == scan::kLiteralQuote ? 'Q' : q.empty() ? '.' : '?';
    literal += t.at(row, scan::kStringMarkColumn) == scan::kStringMark ? 'S' : '.';
    sheet += t.at(row, scan::kSheetMarkColumn) == scan::kSheetMark ? 'H' : '.';
  }
  return quotes + "|" + literal + "|" + sheet;
}

// The unit searches the refusals make, held to their plain twins at every length and place (the
// other units share the wanted one's low byte).
TEST(UnitScan, AgreesWithItsPlainTwins) {
  for (std::size_t length = 0; length <= 40; ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      std::u16string text(length, u'\u0128');
      for (const std::size_t k : {at, at + 9})
        if (k < length) text[k] = u'(';
      ASSERT_EQ(scan::Count(text, u'('), scan::CountPlain(text, u'(')) << length << " " << at;
      for (std::size_t from = 0; from <= length; ++from)
        ASSERT_EQ(scan::Find(text, u'(', from), scan::FindPlain(text, u'(', from)) << length << " " << at << " " << from;
      std::u16string spaces(length, u' ');
      if (at < length) spaces[at] = u'\u0120';  // a space's low byte
      for (std::size_t from = 0; from <= length; ++from)
        ASSERT_EQ(scan::SpacesEnd(spaces, from), scan::SpacesEndPlain(spaces, from)) << length << " " << at << " " << from;
    }
  }
  EXPECT_EQ(scan::Count(std::u16string(300001, u'('), u'('), 300001U) << "more matches than a lane holds";
}

TEST(CharScan, QuoteClassesAndMarks) {
  const std::vector<std::pair<std::u16string, std::string>> cases = {
      {u"=A1&\"x\"", "....L.R|.....S.|......."},
      {u"=\"a\"\"b\"&(1,2)", ".L.EQ.R......|..S.SS.......|............."},
      {u"=\"\"\"\"", ".LEQR|...S.|....."},
      {u"=\"ab(", ".L...|..SSS|....."},  // never closed: marked to the end
      {u"=\"x\"\"", ".L.EQ|..S.S|....."},
      {u"='Bob''s Data'!A1", ".................|.................|.HHHHHHHHHHHHH..."},
      {u"='Bob''", ".......|.......|.HHHHHH"},
      {u"='A'!A1+'B C'!B2", "................|................|.HHH....HHHHH..."},
      {u"=\"it's\"&'X'!A1", ".L....R.......|..SSSS........|........HHH..."},
      {u"='[Book1.xls]Sheet 1'!A1", "........................|........................|.HHHHHHHHHHHHHHHHHHHH..."},
  };
  cls_corvane addin;  // one object for all: every scan starts afresh
  Variant text(u"=\"ab\""), length(u"3");  // a shorter length, held as text, scans a prefix
  Variant prefix = addin.PopulateCharArray(text, length);
  EXPECT_EQ(Marks(prefix.table()), ".L.|..S|...");
  for (std::int32_t outside : {0, 4, -5}) {  // CheckChar refuses a row outside the table
    Variant row(outside);
    EXPECT_THROW((void)addin.CheckChar(row, prefix), AutomationError) << outside;
  }
  for (const auto& [formula, marks] : cases) {
    SCOPED_TRACE(Utf16ToUtf8(formula));
    const StringTable t = ScanOf(addin, formula);
    ASSERT_EQ(t.colUpper(), 4);
    for (std::int32_t row = 1; row <= t.rowUpper(); ++row) EXPECT_EQ(t.at(row, 1), formula.substr(row - 1, 1));
    EXPECT_EQ(Marks(t), marks);
  }
}

}  // namespace
}  // namespace corvane
