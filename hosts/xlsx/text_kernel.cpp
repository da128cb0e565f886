#include "hosts/xlsx/text_kernel.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
#if defined(__SSE2__)
  // Sixteen bytes a step where the processor has the instructions for it.
  const __m128i amp = _mm_set1_epi8('&'), lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>'), cr = _mm_set1_epi8('\r');
  for (; i + 16 <= text.size(); i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, amp), _mm_cmpeq_epi8(v, lt)),
                                     _mm_or_si128(_mm_cmpeq_epi8(v, gt), _mm_cmpeq_epi8(v, cr)));
    if (const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit))) return i + std::countr_zero(mask);
  }
#endif
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
  std::size_t i = 0;
  unsigned unusual = 0;
#if defined(__SSE2__)
  // Eight units a step. The comparisons are signed, so each unit is moved by 0x8000 first:
  // U+D800 and above then compare above the moved U+D7FF, units below U+0020 below the moved U+0020.
  const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
  const __m128i high = _mm_set1_epi16(0x57FF), low = _mm_set1_epi16(static_cast<short>(0x8020));
  const __m128i tab = _mm_set1_epi16(u'\t'), lf = _mm_set1_epi16(u'\n'), cr = _mm_set1_epi16(u'\r');
  __m128i found = _mm_setzero_si128();
  for (; i + 8 <= text.size(); i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    const __m128i moved = _mm_xor_si128(v, flip);
    const __m128i allowedControl = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, tab), _mm_cmpeq_epi16(v, lf)), _mm_cmpeq_epi16(v, cr));
    const __m128i control = _mm_andnot_si128(allowedControl, _mm_cmplt_epi16(moved, low));
    found = _mm_or_si128(found, _mm_or_si128(control, _mm_cmpgt_epi16(moved, high)));
  }
  unusual = static_cast<unsigned>(_mm_movemask_epi8(found));
#endif
  for (; i < text.size(); ++i) unusual |= Unusual(text[i]);
  return unusual == 0;
}

bool OrdinaryXmlTextPlain(std::u16string_view text) {
  for (const char16_t c : text)
    if (Unusual(c)) return false;
  return true;
}

}  // namespace corvane::xlsx::kernel
