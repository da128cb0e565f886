// Unformat over arbitrary UTF-16: it never fails, removes nothing but spaces and line feeds, is
// idempotent, and equals the rule read plainly off the lexer's spans (unformat walks the text
// itself for speed), as does taking out only the line breaks; SameButLayout says what comparing
// the two unformats says.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formatting/lexer.h"
#include "formatting/unformat.h"
#include "fuzz_input.h"

using namespace corvane;

namespace {

std::u16string StripBySpans(std::u16string_view f, bool otherSpaces) {
  std::u16string out;
  for (const lex::Span& s : lex::Lex(f, u"")) {
    for (std::size_t i = s.begin; i < s.end;) {
      std::size_t end = i;
      while (s.kind == lex::Kind::Whitespace && end < s.end && (f[end] == u' ' || f[end] == u'\n')) ++end;
      if (end == i) {
        out += f[i++];
        continue;
      }
      const std::u16string_view run = f.substr(i, end - i);
      const bool join = i > 0 && end < f.size() && f[i - 1] == f[end] && (f[end] == u'"' || f[end] == u'\'');
      if (join || (run.find(u'\n') == run.npos && (!otherSpaces || lex::IsIntersection(f, i, end)))) out += run;
      i = end;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string text = fuzzing::TextOf(data, size);
  const std::u16string once = Unformat(text);
  if (!fuzzing::OnlyBreaksAdded(once, text)) fuzzing::Broken("unformat removed more than spaces and line feeds", text, once);
  if (Unformat(once) != once) fuzzing::Broken("unformat is not idempotent", text, once);
  if (once != StripBySpans(text, true)) fuzzing::Broken("unformat departs from the lexer's spans", text, once);
  // A text against its own unformat, and against the same with one unit less or changed.
  std::u16string cut = once;
  if (!cut.empty()) cut.erase(cut.size() / 2, 1);
  for (const std::u16string& other : {once, cut, text + u'x'}) {
    if (SameButLayout(text, other) != (Unformat(other) == once)) fuzzing::Broken("SameButLayout departs from Unformat", text, other);
    if (SameButLayout(other, text) != (Unformat(other) == once)) fuzzing::Broken("SameButLayout departs from Unformat", other, text);
  }
  if (RemoveLineBreaks(text) != StripBySpans(text, false))
    fuzzing::Broken("taking the line breaks out departs from the lexer's spans", text, RemoveLineBreaks(text));
  return 0;
}
