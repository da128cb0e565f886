// The lexer over arbitrary UTF-16 and separators.
// Properties: the spans cover the input exactly, in order, none empty; a literal or quoted name
// begins with its quote and ends with it unless it is unclosed, and only the last span can be
// unclosed; a bracketed name begins with "[" and ends with "]" unless unclosed; one-unit kinds
// are one unit; NameEnd agrees with Lex; the same input lexes the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formatting/lexer.h"
#include "fuzz_input.h"

using namespace corvane;
using lex::Kind;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const std::u16string separators[] = {u",", u";", u"\"", u"(", u"'", u" ", u"[", u"=", u"", u",,"};
  const std::u16string& separator = separators[data[0] % std::size(separators)];
  const std::u16string text =
      fuzzing::LooseUtf16(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));

  std::vector<lex::Span> spans;
  lex::Lex(text, separator, spans);
  std::uint32_t at = 0;
  for (std::size_t k = 0; k < spans.size(); ++k) {
    const lex::Span& s = spans[k];
    CORVANE_FUZZ_CHECK(s.begin == at, "a gap or overlap between spans");
    CORVANE_FUZZ_CHECK(s.end > s.begin, "an empty span");
    at = s.end;
    const char16_t first = text[s.begin];
    const char16_t last = text[s.end - 1];
    CORVANE_FUZZ_CHECK(!s.unclosed || (k + 1 == spans.size() && s.end == text.size()),
                       "an unclosed span before the end");
    CORVANE_FUZZ_CHECK(!s.unclosed || lex::IsName(s.kind), "an unclosed span that is no literal or name");
    switch (s.kind) {
      case Kind::StringLiteral:
      case Kind::SheetName: {
        const char16_t quote = s.kind == Kind::StringLiteral ? u'"' : u'\'';
        CORVANE_FUZZ_CHECK(first == quote, "a literal or name that does not begin with its quote");
        CORVANE_FUZZ_CHECK(s.unclosed || (s.end - s.begin >= 2 && last == quote),
                           "a closed literal or name that does not end with its quote");
        break;
      }
      case Kind::BracketedName:
        CORVANE_FUZZ_CHECK(first == u'[', "a bracketed name that does not begin with [");
        CORVANE_FUZZ_CHECK(s.unclosed || last == u']', "a closed bracketed name that does not end with ]");
        break;
      case Kind::Separator:
        CORVANE_FUZZ_CHECK(separator.size() == 1 && s.end - s.begin == 1 && first == separator[0],
                           "a separator that is not the list separator");
        break;
      case Kind::OpenParen:
      case Kind::CloseParen:
      case Kind::ArrayOpen:
      case Kind::ArrayClose:
        CORVANE_FUZZ_CHECK(s.end - s.begin == 1, "a one-unit span of another length");
        break;
      default:
        break;
    }
  }
  CORVANE_FUZZ_CHECK(at == text.size(), "the spans do not reach the end");

  // NameEnd at a name's first character ends it where Lex does.
  for (const lex::Span& s : spans) {
    if (!lex::IsName(s.kind)) continue;
    bool unclosed = false;
    CORVANE_FUZZ_CHECK(lex::StartsName(text[s.begin]) && lex::NameEnd(text, s.begin, unclosed) == s.end &&
                           unclosed == s.unclosed,
                       "NameEnd disagrees with Lex");
  }

  std::vector<lex::Span> again{{0, 1, Kind::Text, true}};  // leftovers must not matter
  lex::Lex(text, separator, again);
  bool same = again.size() == spans.size();
  for (std::size_t k = 0; same && k < spans.size(); ++k)
    same = again[k].begin == spans[k].begin && again[k].end == spans[k].end && again[k].kind == spans[k].kind &&
           again[k].unclosed == spans[k].unclosed;
  CORVANE_FUZZ_CHECK(same, "the same input lexes differently");
  return 0;
}
