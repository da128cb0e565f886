// UTF-8 and UTF-16: the conversions every part that meets bytes shares (the program, the POSIX
// layer, workbook files, tests). The core itself works in UTF-16 only.
// Contract:
//  - NextCodePoint(text, i): the code point at text[i] with a surrogate pair joined (a lone
//    surrogate comes back as itself); i moves past it.
//  - AppendUtf8(out, cp): the UTF-8 bytes of cp (at most U+10FFFF).
//  - ToUtf8(text): UTF-16 as UTF-8, each lone surrogate written as U+FFFD.
//  - DecodeUtf8(bytes, i): the character that starts at bytes[i] (i < size), strictly: a lead
//    byte that cannot start one, a character cut short, an overlong form, an encoded surrogate or
//    a value beyond U+10FFFF is an error, reported in that order of checks.
//  - AppendUtf16(out, cp): cp as one code unit or a surrogate pair.
//  - Utf8ToUtf16(bytes, invalid): decodes everything; each byte that does not start a
//    well-formed character becomes invalid(byte) and decoding goes on with the next byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane::utf8 {

inline constexpr char32_t kReplacement = 0xFFFD;

char32_t NextCodePoint(std::u16string_view text, std::size_t& i);
void AppendUtf8(std::string& out, char32_t cp);
std::string ToUtf8(std::u16string_view text);

enum class Error { None, BadLead, CutShort, Overlong, Surrogate, TooLarge };
struct Decoded {
  char32_t codePoint = 0;
  std::size_t length = 0;  // bytes taken; 0 on an error
  Error error = Error::None;
};
Decoded DecodeUtf8(std::string_view bytes, std::size_t i);
// A short phrase for an error, for messages ("an overlong encoding").
const char* Describe(Error error);

void AppendUtf16(std::u16string& out, char32_t cp);

template <typename OnInvalid>
std::u16string Utf8ToUtf16(std::string_view bytes, OnInvalid invalid) {
  std::u16string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const Decoded d = DecodeUtf8(bytes, i);
    if (d.error != Error::None) {
      out.push_back(invalid(static_cast<unsigned char>(bytes[i])));
      ++i;
      continue;
    }
    AppendUtf16(out, d.codePoint);
    i += d.length;
  }
  return out;
}

}  // namespace corvane::utf8
