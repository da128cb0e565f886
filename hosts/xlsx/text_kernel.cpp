#include "hosts/xlsx/text_kernel.h"

#include <cstdint>
#include <cstring>

namespace corvane::xlsx::kernel {

namespace {

bool Special(unsigned char c) { return c == '&' || c == '<' || c == '>' || c == '\r'; }

// Bitwise, not logical, operators: no branch, so that the loop over the text is widened.
unsigned Unusual(char16_t c) {
  return static_cast<unsigned>(c >= 0xD800) | (static_cast<unsigned>(c < 0x20) & static_cast<unsigned>(c != u'\t') &
                                               static_cast<unsigned>(c != u'\n') & static_cast<unsigned>(c != u'\r'));
}

}  // namespace

bool IsAscii(std::u16string_view text) {
  unsigned bits = 0;
  for (const char16_t c : text) bits |= c;
  return bits < 0x80;
}

bool IsAscii(std::string_view text) {
  unsigned bits = 0;
  for (const char c : text) bits |= static_cast<unsigned char>(c);
  return bits < 0x80;
}

bool IsAsciiPlain(std::u16string_view text) {
  for (const char16_t c : text)
    if (c >= 0x80) return false;
  return true;
}

bool IsAsciiPlain(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

std::size_t NextToEscape(std::string_view text, std::size_t from) {
  std::size_t i = from;
  // Eight bytes a word: a byte equal to b leaves a high bit in HasByte (the borrow may mark
  // bytes above it too, which matters not for whether there is one).
  constexpr std::uint64_t kOnes = 0x0101010101010101u, kHigh = 0x8080808080808080u;
  const auto hasByte = [](std::uint64_t word, unsigned char b) {
    const std::uint64_t v = word ^ (kOnes * b);
    return (v - kOnes) & ~v & kHigh;
  };
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    if (hasByte(word, '&') | hasByte(word, '<') | hasByte(word, '>') | hasByte(word, '\r')) break;
  }
  return NextToEscapePlain(text, i);
}

std::size_t NextToEscapePlain(std::string_view text, std::size_t from) {
  for (std::size_t i = from; i < text.size(); ++i)
    if (Special(static_cast<unsigned char>(text[i]))) return i;
  return text.size();
}

bool OrdinaryXmlText(std::u16string_view text) {
  unsigned unusual = 0;
  for (const char16_t c : text) unusual |= Unusual(c);
  return unusual == 0;
}

bool OrdinaryXmlTextPlain(std::u16string_view text) {
  for (const char16_t c : text)
    if (Unusual(c)) return false;
  return true;
}

}  // namespace corvane::xlsx::kernel
