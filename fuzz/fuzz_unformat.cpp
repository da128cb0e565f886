// Unformat over arbitrary UTF-16: it never fails, removes nothing but spaces and line feeds, and
// is idempotent.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formatting/unformat.h"
#include "fuzz_input.h"

using namespace corvane;

namespace {

// `out` is `in` with some spaces and line feeds taken out.
bool OnlyBlanksRemoved(std::u16string_view in, std::u16string_view out) {
  std::size_t j = 0;
  for (const char16_t c : in) {
    if (j < out.size() && out[j] == c) ++j;
    else if (c != u' ' && c != u'\n') return false;
  }
  return j == out.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string text = fuzzing::LooseUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::u16string once = Unformat(text);
  if (!OnlyBlanksRemoved(text, once)) {
    fuzzing::Dump("input", text);
    fuzzing::Dump("output", once);
    fuzzing::Broken("unformat removed more than spaces and line feeds");
  }
  if (once.empty()) return 0;
  const std::u16string twice = Unformat(once);
  if (twice != once) {
    fuzzing::Dump("input", text);
    fuzzing::Dump("once", once);
    fuzzing::Dump("twice", twice);
    fuzzing::Broken("unformat is not idempotent");
  }
  return 0;
}
