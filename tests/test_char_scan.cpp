#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "addin/cls_corvane.h"
#include "formatting/char_scan.h"
#include "support/corpus.h"

namespace corvane {
namespace {

using corpus::Utf16ToUtf8;

StringTable ScanOf(cls_corvane& addin, std::u16string_view formula) {
  Variant text{std::u16string(formula)};
  Variant length{static_cast<std::int32_t>(formula.size())};
  Variant result = addin.PopulateCharArray(text, length);
  return result.table();
}

// One character per position: `mark` where the column holds `value`, "." elsewhere.
std::string MarkLine(const StringTable& table, std::int32_t column, std::u16string_view value, char mark) {
  std::string line;
  for (std::int32_t row = 1; row <= table.rowUpper(); ++row) line.push_back(table.at(row, column) == value ? mark : '.');
  return line;
}

// The classes of column 2, in order, for the rows that have one.
std::vector<std::string> QuoteClasses(const StringTable& table) {
  std::vector<std::string> classes;
  for (std::int32_t row = 1; row <= table.rowUpper(); ++row)
    if (!table.at(row, 2).empty()) classes.push_back(Utf16ToUtf8(table.at(row, 2)));
  return classes;
}

// The flags of a record as words, for readable failures.
std::string Flags(const ParenCheck& p) {
  std::string s;
  const auto add = [&](bool on, const char* name) {
    if (!on) return;
    if (!s.empty()) s += ' ';
    s += name;
  };
  add(p.bIsLeftParen, "left");
  add(p.bIsRightParen, "right");
  add(p.bIsEmptyParens, "empty");
  add(p.bIsArgSeparator, "separator");
  add(p.bIsStringLiteral, "literal");
  add(p.bIsNotParen, "notparen");
  return s;
}

TEST(CharScan, TableHasOneRowPerCharacterAndFourColumns) {
  cls_corvane addin;
  const StringTable t = ScanOf(addin, u"=A1&\"x\"");
  EXPECT_EQ(t.rowLower(), 1);
  EXPECT_EQ(t.rowUpper(), 7);
  EXPECT_EQ(t.colLower(), 1);
  EXPECT_EQ(t.colUpper(), 4);
  std::u16string column1;
  for (std::int32_t row = 1; row <= 7; ++row) column1 += t.at(row, 1);
  EXPECT_EQ(column1, u"=A1&\"x\"");
  EXPECT_EQ(MarkLine(t, 2, u"", '-'), "----.-.");  // only the quotes have a class
}

TEST(CharScan, QuoteClassesAndLiteralMarks) {
  struct Case {
    std::u16string formula;
    std::vector<std::string> classes;
    std::string str;  // column 3, "S" for "Str"
  };
  const std::vector<Case> cases = {
      {u"=\"\"", {"LEFT_QUOTE", "RIGHT_QUOTE"}, "..."},
      {u"=\"a\"\"b\"&(1,2)", {"LEFT_QUOTE", "ESCAPE_QUOTE", "LITERAL_QUOTE", "RIGHT_QUOTE"}, "..S.SS......."},
      {u"=\"\"\"\"", {"LEFT_QUOTE", "ESCAPE_QUOTE", "LITERAL_QUOTE", "RIGHT_QUOTE"}, "...S."},
      {u"=\"ab\"\"\"", {"LEFT_QUOTE", "ESCAPE_QUOTE", "LITERAL_QUOTE", "RIGHT_QUOTE"}, "..SS.S."},
      {u"=\"a\"&\"b\"", {"LEFT_QUOTE", "RIGHT_QUOTE", "LEFT_QUOTE", "RIGHT_QUOTE"}, "..S...S."},
      {u"=\"ab(", {"LEFT_QUOTE"}, "..SSS"},  // never closed: marked to the end
      {u"=\"x\"\"", {"LEFT_QUOTE", "ESCAPE_QUOTE", "LITERAL_QUOTE"}, "..S.S"},
      {u"=A1", {}, "..."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.formula));
    cls_corvane addin;
    const StringTable t = ScanOf(addin, c.formula);
    EXPECT_EQ(QuoteClasses(t), c.classes);
    EXPECT_EQ(MarkLine(t, 3, u"Str", 'S'), c.str);
  }
}

TEST(CharScan, SheetNameMarks) {
  struct Case {
    std::u16string formula;
    std::string sh;  // column 4, "H" for "Sh"
  };
  const std::vector<Case> cases = {
      {u"='My Sheet'!A1", ".HHHHHHHHHH..."},
      {u"='Bob''s Data'!A1", ".HHHHHHHHHHHHH..."},
      // The doubled apostrophe: escape, then string-literal apostrophe; the name goes on.
      {u"='Bob''", ".HHHHHH"},
      {u"='Bob", ".HHHH"},
      // After an ended name the next apostrophe opens a new one.
      {u"='A'!A1+'B C'!B2", ".HHH....HHHHH..."},
      // Apostrophes inside a literal change nothing.
      {u"=\"it's\"&A1", ".........."},
      {u"=\"it's\"&'X'!A1", "........HHH..."},
      {u"='[Book1.xls]Sheet 1'!A1", ".HHHHHHHHHHHHHHHHHHHH..."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.formula));
    cls_corvane addin;
    const StringTable t = ScanOf(addin, c.formula);
    EXPECT_EQ(MarkLine(t, 4, u"Sh", 'H'), c.sh);
  }
}

TEST(CharScan, CheckCharClassifiesParenthesesAndSeparators) {
  struct Case {
    std::u16string formula;
    std::u16string separator;
    std::int32_t position;
    std::string flags;
  };
  const std::vector<Case> cases = {
      {u"=NOW()", u",", 5, "left empty"},
      {u"=NOW()", u",", 6, "right empty"},
      {u"=SUM(A1)", u",", 5, "left"},
      {u"=SUM(A1)", u",", 8, "right"},
      {u"=\"x(y\"&SUM(1,2)", u",", 4, "literal"},  // inside the literal
      {u"=\"x(y\"&SUM(1,2)", u",", 11, "left"},
      {u"=\"x(y\"&SUM(1,2)", u",", 13, "separator notparen"},
      {u"=\"a,b\"", u",", 4, "literal notparen"},
      {u"=\"a)\"", u",", 4, "literal"},
      {u"=\"()\"", u",", 3, "literal"},  // an empty pair inside a literal is text
      {u"=SUM(1,2)", u";", 7, "notparen"},  // a comma where the separator is ";"
      {u"=SUM(1;2)", u";", 7, "separator notparen"},
      {u"='Jan (2)'!A1", u",", 7, "left"},  // the sheet-name mark protects nothing here
      {u"='Jan (2)'!A1", u",", 9, "right"},
      {u"='a()'!A1", u",", 4, "left empty"},
      {u"=A1", u",", 2, "notparen"},
      {u"=\"(\")", u",", 5, "right"},  // the neighbour is the closing quote
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.formula) + " at " + std::to_string(c.position));
    cls_corvane addin;
    addin.strListSeparator = c.separator;
    Variant table(ScanOf(addin, c.formula));
    Variant item(c.position);
    EXPECT_EQ(Flags(addin.CheckChar(item, table)), c.flags);
  }
}

TEST(CharScan, CheckCharNeighboursAtTheEnds) {
  cls_corvane addin;
  addin.strListSeparator = u",";
  Variant one(ScanOf(addin, u"="));
  Variant first(std::int32_t{1});
  const ParenCheck single = addin.CheckChar(first, one);
  EXPECT_EQ(single.strCurrentChar, u"=");
  EXPECT_EQ(single.strPrevChar, u"");
  EXPECT_EQ(single.strNextChar, u"");
  EXPECT_EQ(Flags(single), "notparen");

  Variant three(ScanOf(addin, u"=(1"));
  Variant middle(u"2");  // positions convert as the macro language converts them
  const ParenCheck p = addin.CheckChar(middle, three);
  EXPECT_EQ(p.strPrevChar, u"=");
  EXPECT_EQ(p.strCurrentChar, u"(");
  EXPECT_EQ(p.strNextChar, u"1");
}

TEST(CharScan, CheckCharPassesFailuresToItsCaller) {
  cls_corvane addin;
  Variant table(ScanOf(addin, u"=A1"));
  Variant outside(std::int32_t{4});
  EXPECT_THROW(addin.CheckChar(outside, table), AutomationError);
  Variant zero(std::int32_t{0});
  EXPECT_THROW(addin.CheckChar(zero, table), AutomationError);
  Variant notATable(u"=A1");
  Variant first(std::int32_t{1});
  EXPECT_THROW(addin.CheckChar(first, notATable), AutomationError);
}

TEST(CharScan, PopulateCharArrayFailsQuietlyWithNoTable) {
  struct Case {
    const char* what;
    Variant formula;
    Variant length;
  };
  const std::vector<Case> cases = {
      {"length 0", Variant(u""), Variant(std::int32_t{0})},
      {"negative length", Variant(u"=A1"), Variant(std::int32_t{-3})},
      {"length not a number", Variant(u"=A1"), Variant(u"three")},
      {"length past the text", Variant(u"=A1"), Variant(std::int32_t{4})},
      {"null formula", Variant(Null{}), Variant(std::int32_t{1})},
      {"empty length", Variant(u"=A1"), Variant()},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.what);
    cls_corvane addin;
    Variant result;
    EXPECT_NO_THROW(result = addin.PopulateCharArray(c.formula, c.length));
    EXPECT_TRUE(result.isEmpty());
  }
  // A shorter length scans that many characters; a number held as text is a length too.
  cls_corvane addin;
  Variant formula(u"=\"ab\"");
  Variant length(u"3");
  const Variant result = addin.PopulateCharArray(formula, length);
  ASSERT_EQ(result.type(), Variant::Type::StringTable);
  EXPECT_EQ(result.table().rowUpper(), 3);
  EXPECT_EQ(MarkLine(result.table(), 3, u"Str", 'S'), "..S");
}

TEST(CharScan, EveryScanStartsAfresh) {
  cls_corvane addin;
  ScanOf(addin, u"=\"open");
  ScanOf(addin, u"='Sheet");
  // The next scan owes nothing to the last ones, whose literal and name were never closed.
  const StringTable t = ScanOf(addin, u"=\"a\"&B1");
  EXPECT_EQ(MarkLine(t, 3, u"Str", 'S'), "..S....");
  EXPECT_EQ(MarkLine(t, 4, u"Sh", 'H'), ".......");
}

TEST(SetQuoteType, UpdatesTheCallersVariables) {
  cls_corvane addin;
  Variant table(ScanOf(addin, u"=\"a\""));
  Variant type(u"LEFT_QUOTE");
  Variant item(std::int32_t{4});
  Variant prev(u"RIGHT_QUOTE");
  Variant prevPrev(u"init");
  Variant prevIsQuote(false);

  addin.SetQuoteType(type, table, item, prev, prevPrev, prevIsQuote);
  EXPECT_EQ(table.table().at(4, 2), u"LEFT_QUOTE");
  EXPECT_EQ(prev, Variant(u"LEFT_QUOTE"));
  EXPECT_EQ(prevPrev, Variant(u"RIGHT_QUOTE"));
  EXPECT_EQ(prevIsQuote, Variant(true));

  Variant escape(u"ESCAPE_QUOTE");
  addin.SetQuoteType(escape, table, item, prev, prevPrev, prevIsQuote);
  EXPECT_EQ(prevPrev, Variant(u"LEFT_QUOTE"));

  Variant right(u"RIGHT_QUOTE");
  addin.SetQuoteType(right, table, item, prev, prevPrev, prevIsQuote);
  EXPECT_EQ(table.table().at(4, 2), u"RIGHT_QUOTE");

  // One variable passed for several arguments.
  Variant same(u"LEFT_QUOTE");
  addin.SetQuoteType(same, table, item, same, prevPrev, prevIsQuote);
  EXPECT_EQ(same, Variant(u"LEFT_QUOTE"));
  EXPECT_EQ(prevPrev, Variant(u"LEFT_QUOTE"));
}

TEST(SetQuoteType, FailureReachesTheCallerAndChangesNothing) {
  cls_corvane addin;
  Variant table(ScanOf(addin, u"=\"a\""));
  Variant type(u"LEFT_QUOTE");
  Variant prev(u"init");
  Variant prevPrev(u"init");
  Variant prevIsQuote(false);
  Variant outside(std::int32_t{5});
  EXPECT_THROW(addin.SetQuoteType(type, table, outside, prev, prevPrev, prevIsQuote), AutomationError);
  Variant notATable(u"text");
  Variant item(std::int32_t{2});
  EXPECT_THROW(addin.SetQuoteType(type, notATable, item, prev, prevPrev, prevIsQuote), AutomationError);
  EXPECT_EQ(prev, Variant(u"init"));
  EXPECT_EQ(prevIsQuote, Variant(false));
}

// Text of literals, found by a simpler rule than the scan's: from an opening quote to the
// closing one, a doubled quote standing for one quote character.
std::string LiteralTextOracle(std::u16string_view f) {
  std::string marks(f.size(), '.');
  bool inside = false;
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (!inside) {
      inside = f[i] == u'"';
    } else if (f[i] != u'"') {
      marks[i] = 'S';
    } else if (i + 1 < f.size() && f[i + 1] == u'"') {
      marks[++i] = 'S';  // the first of the pair stays unmarked
    } else {
      inside = false;
    }
  }
  return marks;
}

TEST(CharScan, CorpusLiteralMarksAndClassification) {
  const auto formulas = corpus::LoadCorpus();
  ASSERT_GT(formulas.size(), 39000u);
  std::size_t scanned = 0;
  std::size_t balanced = 0;
  cls_corvane addin;  // one object for all: no scan may depend on the one before
  addin.strListSeparator = u",";
  for (const auto& f : formulas) {
    Variant text(f.text);
    Variant length(static_cast<std::int32_t>(f.text.size()));
    Variant table = addin.PopulateCharArray(text, length);
    ASSERT_EQ(table.type(), Variant::Type::StringTable) << f.source;
    ASSERT_EQ(MarkLine(table.table(), 3, u"Str", 'S'), LiteralTextOracle(f.text)) << f.source;
    ++scanned;
    // Outside literals the parentheses balance (names in quotes or brackets may hold odd ones).
    if (f.text.find_first_of(u"'[") != std::u16string::npos) continue;
    std::int32_t left = 0;
    std::int32_t right = 0;
    for (std::int32_t i = 1; i <= table.table().rowUpper(); ++i) {
      const ParenCheck p = addin.CheckCharAt(i, table.table());
      left += p.bIsLeftParen;
      right += p.bIsRightParen;
    }
    ASSERT_EQ(left, right) << f.source;
    ++balanced;
  }
  std::printf("[ corpus   ] %zu formulas scanned, %zu checked for balance\n", scanned, balanced);
}

}  // namespace
}  // namespace corvane
