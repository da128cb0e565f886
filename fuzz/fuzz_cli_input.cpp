// The program's text input: strict UTF-8 decoding (arguments, standard input) and the JSON
// string lines of --jsonl. Properties: bad input is refused with UsageError and nothing else;
// the decoder accepts exactly the well-formed UTF-8 that an independent check accepts, and
// what it accepts encodes back to the same bytes; a decoded JSON line quotes back to a line that
// decodes to the same text; the quoting kernel agrees with its plain twin.
#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cli/cli.h"
#include "cli/json.h"
#include "fuzz_input.h"

using namespace corvane;

namespace {

// Well-formed UTF-8 (RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF), as the C
// library's converter decides it.
bool WellFormed(std::string_view s) {
  static const iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
  std::string in(s), out(4 * s.size() + 4, '\0');
  char *from = in.data(), *to = out.data();
  std::size_t left = in.size(), room = out.size();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  return iconv(cd, &from, &left, &to, &room) != static_cast<std::size_t>(-1) && left == 0;
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

  // Any UTF-16 text, lone surrogates included, encodes to well-formed UTF-8; the quoting kernel
  // agrees with its plain twin on it, from its start and from its middle.
  const std::u16string loose = fuzzing::LooseUtf16(bytes);
  CORVANE_FUZZ_CHECK(WellFormed(cli::ToUtf8(loose)), "the encoder wrote bad UTF-8");
  for (const std::size_t from : {std::size_t{0}, loose.size() / 2}) {
    std::string fast(loose.size() + 8, '\0'), plain(loose.size(), '\0');
    const std::size_t end = cli::CopyUnescaped(loose, from, fast.data());
    CORVANE_FUZZ_CHECK(end == cli::CopyUnescapedPlain(loose, from, plain.data()) &&
                           fast.compare(0, end - from, plain, 0, end - from) == 0,
                       "the quoting kernel disagrees with its plain twin");
  }

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
