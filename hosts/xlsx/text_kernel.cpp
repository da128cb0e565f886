#include "hosts/xlsx/text_kernel.h"

#include <cstdint>

namespace corvane::xlsx::kernel {

namespace {

// Units looked at together: the loops over a block have no exit, so the compiler can widen them.
constexpr std::size_t kBlock = 32;

bool Special(unsigned char c) { return c == '&' || c == '<' || c == '>' || c == '\r'; }

// A tab, line feed or carriage return (each below U+0020): bit c of this mask.
constexpr std::uint32_t kAllowedControls = (1u << 9) | (1u << 10) | (1u << 13);

bool Unusual(char16_t c) {
  return c >= 0xD800 || (c < 0x20 && ((kAllowedControls >> c) & 1u) == 0);
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
  for (; i + kBlock <= text.size(); i += kBlock) {
    bool any = false;
    for (std::size_t k = 0; k < kBlock; ++k) any |= Special(static_cast<unsigned char>(text[i + k]));
    if (any) break;
  }
  return NextToEscapePlain(text, i);
}

std::size_t NextToEscapePlain(std::string_view text, std::size_t from) {
  for (std::size_t i = from; i < text.size(); ++i)
    if (Special(static_cast<unsigned char>(text[i]))) return i;
  return text.size();
}

bool OrdinaryXmlText(std::u16string_view text) {
  bool unusual = false;
  for (const char16_t c : text) unusual |= Unusual(c);
  return !unusual;
}

bool OrdinaryXmlTextPlain(std::u16string_view text) {
  for (const char16_t c : text)
    if (Unusual(c)) return false;
  return true;
}

}  // namespace corvane::xlsx::kernel
