// The lexer: each kind of span on the shapes that the older recognisers misread, escapes inside
// names, unclosed ends, the separator, and coverage over the whole corpus.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
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

TEST(Lexer, SpansOfEveryKind) {
  const std::vector<std::tuple<std::u16string, std::u16string, std::string>> cases = {
      {u"=\"a\"\"(b\"&C1", u",", "O=|S\"a\"\"(b\"|O&|TC1"},
      {u"='it''s'!A1", u",", "O=|N'it''s'|T!A1"},
      // A double quote inside a sheet name is text of the name, not the start of a literal.
      {u"='a\"b'!A1+SUM(1,2)", u",", "O=|N'a\"b'|T!A1|O+|TSUM|(|T1|,|T2|)"},
      // An external workbook prefix: brackets and parentheses inside the quotes are text.
      {u"='[Book (1).xlsx]Sheet 1'!A1", u",", "O=|N'[Book (1).xlsx]Sheet 1'|T!A1"},
      // An apostrophe inside a literal is text of the literal.
      {u"=\"it's\"&'x'!A1", u",", "O=|S\"it's\"|O&|N'x'|T!A1"},
      {u"=SUM(Table1['#Items],A1)", u",", "O=|TSUM|(|TTable1|B['#Items]|,|TA1|)"},
      {u"=Table1[[#This Row],['[Qty']]]", u",", "O=|TTable1|B[[#This Row],['[Qty']]]"},
      {u"=T['#]*F(T['#])", u",", "O=|TT|B['#]|O*|TF|(|TT|B['#]|)"},
      {u"=T['']*1", u",", "O=|TT|B['']|O*|T1"},
      // Quotes, spaces, line feeds, separators and parentheses inside brackets are text.
      {u"=T[\"a (b),\n c\"]", u",", "O=|TT|B[\"a (b),\n c\"]"},
      // An unquoted external workbook prefix, and a "]" that closes nothing.
      {u"=[1]Sheet1!A1]", u",", "O=|B[1]|TSheet1!A1]"},
      {u"=\"ab", u",", "O=|S!\"ab"},
      {u"=\"ab\"\"", u",", "O=|S!\"ab\"\""},
      {u"='ab", u",", "O=|N!'ab"},
      {u"=T[[a]", u",", "O=|TT|B![[a]"},
      {u"=T[a'", u",", "O=|TT|B![a'"},
      {u"=A1<=B1<>C1>=1%", u",", "O=|TA1|O<=|TB1|O<>|TC1|O>=|T1|O%"},
      {u"=SUM(A1:B2 C1)", u",", "O=|TSUM|(|TA1|O:|TB2|W|TC1|)"},
      {u"={1,\"}\";2}", u",", "O=|{|T1|,|S\"}\"|T;2|}"},
      // The separator is whatever the caller's list separator is; others are text.
      {u"=IF(A1;B1,C1)", u";", "O=|TIF|(|TA1|,|TB1,C1|)"},
      {u"=IF(A1,B1)", u"", "O=|TIF|(|TA1,B1|)"},  // no separator
      {u"=A1<=B1", u"=", ",|TA1|O<|,|TB1"},  // a separator is never half of an operator
      {u"=F( \n\t\rA1)", u",", "O=|TF|(|W|TA1|)"},
  };
  for (const auto& [formula, separator, spans] : cases) EXPECT_EQ(Render(formula, separator), spans) << corpus::Utf16ToUtf8(formula);
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
