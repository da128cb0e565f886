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

namespace corvane::fuzzing {

inline std::u16string LooseUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  while (i < bytes.size()) {
    const unsigned b = byte(i);
    if (b == 0xFF && i + 2 < bytes.size()) {
      out.push_back(static_cast<char16_t>((byte(i + 1) << 8) | byte(i + 2)));
      i += 3;
      continue;
    }
    std::size_t need = 0;
    char32_t cp = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      cp = b & 0x07;
    }
    bool ok = need > 0;
    for (std::size_t k = 1; ok && k <= need; ++k) {
      if (i + k >= bytes.size() || (byte(i + k) & 0xC0) != 0x80) ok = false;
      else cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (ok && ((need == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
               (need == 3 && (cp < 0x10000 || cp > 0x10FFFF))))
      ok = false;
    if (!ok) {
      out.push_back(static_cast<char16_t>(b));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += need + 1;
  }
  return out;
}

// Prints the code units (hex) for a failure report.
inline void Dump(const char* label, std::u16string_view text) {
  std::fprintf(stderr, "%s (%zu units):", label, text.size());
  for (const char16_t c : text) std::fprintf(stderr, " %04x", static_cast<unsigned>(c));
  std::fprintf(stderr, "\n");
}

[[noreturn]] inline void Broken(const char* what) {
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

#define CORVANE_FUZZ_CHECK(condition, what) \
  do {                                      \
    if (!(condition)) ::corvane::fuzzing::Broken(what); \
  } while (0)

}  // namespace corvane::fuzzing
