// The lexer: each kind of span on the shapes that the older recognisers misread, escapes inside
// names, unclosed ends and the separator. That the spans cover any text exactly is fuzz_lexer's
// property, seeded with the corpus.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "base/automation.h"
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

}  // namespace
}  // namespace corvane::lex
