// The lexer: each kind of span on the shapes that the older recognisers misread, escapes inside
// names, unclosed ends, the separator, and coverage over the whole corpus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formatting/lexer.h"
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

TEST(Lexer, LiteralsAndSheetNamesWithDoubledQuotes) {
  EXPECT_EQ(Render(u"=\"a\"\"(b\"&C1"), "O=|S\"a\"\"(b\"|O&|TC1");
  EXPECT_EQ(Render(u"='it''s'!A1"), "O=|N'it''s'|T!A1");
  // A double quote inside a sheet name is text of the name, not the start of a literal.
  EXPECT_EQ(Render(u"='a\"b'!A1+SUM(1,2)"), "O=|N'a\"b'|T!A1|O+|TSUM|(|T1|,|T2|)");
  // An external workbook prefix: brackets and parentheses inside the quotes are text.
  EXPECT_EQ(Render(u"='[Book (1).xlsx]Sheet 1'!A1"), "O=|N'[Book (1).xlsx]Sheet 1'|T!A1");
  // An apostrophe inside a literal is text of the literal.
  EXPECT_EQ(Render(u"=\"it's\"&'x'!A1"), "O=|S\"it's\"|O&|N'x'|T!A1");
}

TEST(Lexer, BracketedNamesNestAndTakeApostropheEscapes) {
  EXPECT_EQ(Render(u"=SUM(Table1['#Items],A1)"), "O=|TSUM|(|TTable1|B['#Items]|,|TA1|)");
  EXPECT_EQ(Render(u"=Table1[[#This Row],['[Qty']]]"), "O=|TTable1|B[[#This Row],['[Qty']]]");
  EXPECT_EQ(Render(u"=T['#]*F(T['#])"), "O=|TT|B['#]|O*|TF|(|TT|B['#]|)");
  EXPECT_EQ(Render(u"=T['']*1"), "O=|TT|B['']|O*|T1");
  // Quotes, spaces, line feeds, separators and parentheses inside brackets are text.
  EXPECT_EQ(Render(u"=T[\"a (b),\n c\"]"), "O=|TT|B[\"a (b),\n c\"]");
  // An unquoted external workbook prefix, and a "]" that closes nothing.
  EXPECT_EQ(Render(u"=[1]Sheet1!A1]"), "O=|B[1]|TSheet1!A1]");
}

TEST(Lexer, UnclosedLiteralsAndNamesRunToTheEnd) {
  EXPECT_EQ(Render(u"=\"ab"), "O=|S!\"ab");
  EXPECT_EQ(Render(u"=\"ab\"\""), "O=|S!\"ab\"\"");
  EXPECT_EQ(Render(u"='ab"), "O=|N!'ab");
  EXPECT_EQ(Render(u"=T[[a]"), "O=|TT|B![[a]");
  EXPECT_EQ(Render(u"=T[a'"), "O=|TT|B![a'");
}

TEST(Lexer, OperatorsWhitespaceArraysAndSeparators) {
  EXPECT_EQ(Render(u"=A1<=B1<>C1>=1%"), "O=|TA1|O<=|TB1|O<>|TC1|O>=|T1|O%");
  EXPECT_EQ(Render(u"=SUM(A1:B2 C1)"), "O=|TSUM|(|TA1|O:|TB2|W|TC1|)");
  EXPECT_EQ(Render(u"={1,\"}\";2}"), "O=|{|T1|,|S\"}\"|T;2|}");
  // The separator is whatever the caller's list separator is; others are text.
  EXPECT_EQ(Render(u"=IF(A1;B1,C1)", u";"), "O=|TIF|(|TA1|,|TB1,C1|)");
  EXPECT_EQ(Render(u"=IF(A1,B1)", u""), "O=|TIF|(|TA1,B1|)") << "no separator";
  EXPECT_EQ(Render(u"=A1<=B1", u"="), ",|TA1|O<|,|TB1") << "a separator is never half of an operator";
  EXPECT_EQ(Render(u"=F( \n\t\rA1)"), "O=|TF|(|W|TA1|)");
}

TEST(Lexer, SpansCoverEveryCorpusFormulaExactly) {
  for (const corpus::Formula& f : corpus::LoadCorpus()) {
    std::uint32_t at = 0;
    for (const Span& s : Lex(f.text, u",")) {
      ASSERT_EQ(s.begin, at) << f.source;
      ASSERT_LT(s.begin, s.end) << f.source;
      at = s.end;
    }
    ASSERT_EQ(at, f.text.size()) << f.source;
  }
}

}  // namespace
}  // namespace corvane::lex
