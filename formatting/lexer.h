// The formula grammar that the layout, unformat and the hosts decide by: a formula (UTF-16) split
// into spans. Contract:
//  - Lex(formula, separator, spans) replaces `spans` with spans that cover the formula exactly,
//    in order, none empty. Linear in the formula's length; no allocation beyond `spans`.
//  - StringLiteral: from a double quote through the next double quote that is not doubled ("").
//  - SheetName: from an apostrophe through the next apostrophe that is not doubled (''); double
//    quotes and square brackets inside are text, so an external workbook prefix such as
//    '[Book (1).xlsx]Sheet 1'! is one span (the "!" is not part of it).
//  - BracketedName: from "[" through its matching "]", nested brackets included; inside, an
//    apostrophe escapes the next character ('[ '] '# ''), and quotes, spaces and line feeds are
//    text.
//  - An unclosed literal, sheet name or bracketed name runs to the end and is marked unclosed.
//  - ArrayOpen "{" and ArrayClose "}" each stand alone; the constants between them are lexed as
//    everywhere else, so that a literal inside an array is still one span.
//  - Separator: the list separator, when it is one code unit and stands outside the spans above.
//    It is looked for before parentheses and operators (a separator "(" is a separator).
//  - OpenParen, CloseParen: one parenthesis each. Operator: one of + - * / ^ & = % : < >, or
//    <= >= <> as one span. Whitespace: a run of spaces, line feeds, carriage returns and tabs.
//    Text: a run of anything else (function names, references, numbers, "!", "#", "@", a "]"
//    that closes nothing).
//  - NameEnd gives the end of one literal or name, ArrayEnd that of an array constant, for a
//    consumer that walks the formula itself.
//  - IsIntersection tells whether a run of spaces is the intersection operator: the character
//    before it can end a reference, a name or a closed group, and the one after can start one.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace corvane::lex {

enum class Kind : std::uint8_t {
  StringLiteral,
  SheetName,
  BracketedName,
  ArrayOpen,
  ArrayClose,
  OpenParen,
  CloseParen,
  Separator,
  Operator,
  Whitespace,
  Text,
};

struct Span {
  std::uint32_t begin;  // code units into the formula
  std::uint32_t end;    // one past the last
  Kind kind;
  bool unclosed;  // a literal or name that the formula ends inside
};

// Text whose characters are never syntax: a string literal, a quoted sheet name, a bracketed name.
constexpr bool IsName(Kind kind) {
  return kind == Kind::StringLiteral || kind == Kind::SheetName || kind == Kind::BracketedName;
}

void Lex(std::u16string_view formula, std::u16string_view separator, std::vector<Span>& spans);

// Where a literal or name starts: a double quote, an apostrophe, an opening square bracket.
constexpr bool StartsName(char16_t c) { return c == u'"' || c == u'\'' || c == u'['; }

// Whether a character outside literals and names is whitespace (a Whitespace span's): a space,
// line feed, carriage return or tab.
constexpr bool IsWhitespace(char16_t c) { return c == u' ' || c == u'\n' || c == u'\r' || c == u'\t'; }

// The end of the literal or name that starts at `at` (StartsName(formula[at])), the end of the
// span Lex gives there if nothing before `at` is a literal or name still open; `unclosed` tells
// whether the formula ends inside it. For a consumer that classifies every other character by
// itself (outside names a character's kind does not depend on its neighbours, but for <= >= <>)
// and finds the name starts on its own way through the formula.
std::size_t NameEnd(std::u16string_view formula, std::size_t at, bool& unclosed);

// The end of the array constant whose "{" stands at `at`: past its "}" (the first one outside
// the literals inside), or the formula's end when it is unclosed.
std::size_t ArrayEnd(std::u16string_view formula, std::size_t at);

// Whether formula[begin, end), a run of spaces, is the intersection operator (A1:B9 C3:D4,
// F(x) A1). A run at either end of the formula is not.
bool IsIntersection(std::u16string_view formula, std::size_t begin, std::size_t end);

inline std::vector<Span> Lex(std::u16string_view formula, std::u16string_view separator) {
  std::vector<Span> spans;
  Lex(formula, separator, spans);
  return spans;
}

}  // namespace corvane::lex
