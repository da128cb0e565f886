// The lexer over arbitrary UTF-16 and separators.
// Properties: the spans cover the input exactly, in order, none empty; a literal or quoted name
// begins with its quote and ends with it unless it is unclosed, and only the last span can be
// unclosed; a bracketed name begins with "[" and ends with "]" unless unclosed; one-unit kinds
// are one unit; NameEnd agrees with Lex; leftovers in the caller's vector do not matter.
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
  const std::u16string text = fuzzing::TextOf(data, size, 1);

  std::vector<lex::Span> spans{{0, 1, Kind::Text, true}};  // leftovers must not matter
  lex::Lex(text, separator, spans);
  std::uint32_t at = 0;
  for (std::size_t k = 0; k < spans.size(); ++k) {
    const lex::Span& s = spans[k];
    CORVANE_FUZZ_CHECK(s.begin == at && s.end > s.begin, "a gap, an overlap or an empty span");
    at = s.end;
    const char16_t first = text[s.begin];
    const char16_t last = text[s.end - 1];
    const std::uint32_t length = s.end - s.begin;
    CORVANE_FUZZ_CHECK(!s.unclosed || (k + 1 == spans.size() && lex::IsName(s.kind)), "an unclosed span before the end or no name");
    if (s.kind == Kind::StringLiteral || s.kind == Kind::SheetName) {
      const char16_t quote = s.kind == Kind::StringLiteral ? u'"' : u'\'';
      CORVANE_FUZZ_CHECK(first == quote && (s.unclosed || (length >= 2 && last == quote)), "a literal or name without its quotes");
    } else if (s.kind == Kind::BracketedName) {
      CORVANE_FUZZ_CHECK(first == u'[' && (s.unclosed || last == u']'), "a bracketed name without its brackets");
    } else if (s.kind == Kind::Separator) {
      CORVANE_FUZZ_CHECK(separator.size() == 1 && length == 1 && first == separator[0], "a separator that is not the list separator");
    } else if (s.kind == Kind::OpenParen || s.kind == Kind::CloseParen || s.kind == Kind::ArrayOpen || s.kind == Kind::ArrayClose) {
      CORVANE_FUZZ_CHECK(length == 1, "a one-unit span of another length");
    }
    // NameEnd at a name's first character ends it where Lex does.
    bool unclosed = false;
    if (lex::IsName(s.kind))
      CORVANE_FUZZ_CHECK(lex::StartsName(first) && lex::NameEnd(text, s.begin, unclosed) == s.end && unclosed == s.unclosed,
                         "NameEnd disagrees with Lex");
  }
  CORVANE_FUZZ_CHECK(at == text.size(), "the spans do not reach the end");
  return 0;
}
