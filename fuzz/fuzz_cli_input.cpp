// The program's text input: strict UTF-8 decoding (arguments, standard input) and the JSON
// string lines of --jsonl. Properties: bad input is refused with UsageError and nothing else;
// the decoder accepts exactly the well-formed UTF-8 that an independent check accepts, and
// what it accepts encodes back to the same bytes; a decoded JSON line quotes back to a line that
// decodes to the same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cli/cli.h"
#include "cli/json.h"
#include "fuzz_input.h"

using namespace corvane;

namespace {

// Well-formed UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above U+10FFFF.
bool WellFormed(std::string_view s) {
  std::size_t i = 0;
  auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  while (i < s.size()) {
    const unsigned c = b(i);
    std::size_t n = 0;
    unsigned lo = 0x80, hi = 0xBF;
    if (c < 0x80) { ++i; continue; }
    if (c >= 0xC2 && c <= 0xDF) n = 1;
    else if (c == 0xE0) { n = 2; lo = 0xA0; }
    else if (c == 0xED) { n = 2; hi = 0x9F; }
    else if (c >= 0xE1 && c <= 0xEF) n = 2;
    else if (c == 0xF0) { n = 3; lo = 0x90; }
    else if (c == 0xF4) { n = 3; hi = 0x8F; }
    else if (c >= 0xF1 && c <= 0xF3) n = 3;
    else return false;
    if (i + n >= s.size()) return false;
    if (b(i + 1) < lo || b(i + 1) > hi) return false;
    for (std::size_t k = 2; k <= n; ++k)
      if ((b(i + k) & 0xC0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  bool accepted = true;
  std::u16string wide;
  try {
    wide = cli::FromUtf8(bytes);
  } catch (const cli::UsageError&) {
    accepted = false;
  }
  CORVANE_FUZZ_CHECK(accepted == WellFormed(bytes), "the decoder disagrees about well-formed UTF-8");
  if (accepted) CORVANE_FUZZ_CHECK(cli::ToUtf8(wide) == bytes, "decoded UTF-8 does not encode back");

  // Any UTF-16 text, lone surrogates included, encodes to well-formed UTF-8.
  CORVANE_FUZZ_CHECK(WellFormed(cli::ToUtf8(fuzzing::LooseUtf16(bytes))), "the encoder wrote bad UTF-8");

  std::u16string decoded;
  try {
    decoded = cli::ParseJsonStringLine(bytes);
  } catch (const cli::UsageError&) {
    return 0;
  }
  const std::string quoted = cli::JsonQuote(decoded);
  CORVANE_FUZZ_CHECK(WellFormed(quoted), "a JSON string was written as bad UTF-8");
  CORVANE_FUZZ_CHECK(quoted.find('\n') == std::string::npos, "a JSON string spans lines");
  CORVANE_FUZZ_CHECK(cli::ParseJsonStringLine(quoted) == decoded, "a quoted JSON string reads back differently");
  return 0;
}
