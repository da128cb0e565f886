// Shared helpers of the fuzz targets: how raw fuzzer bytes become UTF-16 text, and the checks
// that report a broken property as a crash (which is how libFuzzer learns of it).
// The text decoding reads valid UTF-8 as such (so that formulas from the shared corpus make
// good seeds), takes any other byte as the code unit of the same value, and reads 0xFF followed
// by two bytes as one raw code unit, so that every UTF-16 string, lone surrogates included, can
// be reached.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "base/utf8.h"

namespace corvane::fuzzing {

inline std::u16string LooseUtf16(std::string_view bytes) {
  std::u16string out;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    if (byte(i) == 0xFF && i + 2 < bytes.size()) {
      out.push_back(static_cast<char16_t>((byte(i + 1) << 8) | byte(i + 2)));
      i += 3;
    } else if (const utf8::Decoded d = utf8::DecodeUtf8(bytes, i); d.error != utf8::Error::None) {
      out.push_back(static_cast<char16_t>(byte(i++)));
    } else {
      utf8::AppendUtf16(out, d.codePoint);
      i += d.length;
    }
  }
  return out;
}

// The fuzzer's bytes from `skip` on, as text.
inline std::u16string TextOf(const std::uint8_t* data, std::size_t size, std::size_t skip = 0) {
  return LooseUtf16(std::string_view(reinterpret_cast<const char*>(data + skip), size - skip));
}

// Whether `longer` is `shorter` with only spaces and line feeds added; when `spacesBeforeParen`,
// `shorter` may also hold spaces (right before a ")") that `longer` has taken out.
inline bool OnlyBreaksAdded(std::u16string_view shorter, std::u16string_view longer, bool spacesBeforeParen = false) {
  std::size_t i = 0, j = 0;
  while (i < shorter.size() || j < longer.size()) {
    if (i < shorter.size() && j < longer.size() && shorter[i] == longer[j]) {
      ++i, ++j;
    } else if (j < longer.size() && (longer[j] == u' ' || longer[j] == u'\n')) {
      ++j;
    } else if (const std::size_t next = shorter.find_first_not_of(u' ', i);
               spacesBeforeParen && i < shorter.size() && shorter[i] == u' ' && next != std::u16string_view::npos &&
               shorter[next] == u')') {
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

// Reports the broken property, with the input and output text as code units (hex) if given.
[[noreturn]] inline void Broken(const char* what, std::u16string_view input = {}, std::u16string_view output = {}) {
  for (const auto& [label, text] : {std::pair{"input", input}, std::pair{"output", output}}) {
    std::fprintf(stderr, "%s (%zu units):", label, text.size());
    for (const char16_t c : text) std::fprintf(stderr, " %04x", static_cast<unsigned>(c));
    std::fprintf(stderr, "\n");
  }
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

#define CORVANE_FUZZ_CHECK(condition, what) \
  do {                                      \
    if (!(condition)) ::corvane::fuzzing::Broken(what); \
  } while (0)

}  // namespace corvane::fuzzing
