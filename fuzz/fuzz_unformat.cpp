// Unformat over arbitrary UTF-16: it never fails, removes nothing but spaces and line feeds, and
// is idempotent.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formatting/unformat.h"
#include "fuzz_input.h"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string text = fuzzing::TextOf(data, size);
  const std::u16string once = Unformat(text);
  if (!fuzzing::OnlyBreaksAdded(once, text)) fuzzing::Broken("unformat removed more than spaces and line feeds", text, once);
  if (Unformat(once) != once) fuzzing::Broken("unformat is not idempotent", text, once);
  return 0;
}
