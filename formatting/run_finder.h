// Runs of ordinary characters for the layout: the stretches between the characters that may
// be syntax or start a literal or name (parentheses, the list separator, double quotes,
// apostrophes, opening square brackets), which the layout copies whole.
// Contract: RunFinder(separator).Find(text, from, n) gives the end of the run that starts at
// text[from] (from < n; `from` itself when text[from] may be syntax). Find and
// FindOneByOne give the same answer for every input: the first looks at eight code units at a
// time where the processor has SSE2, the second is the portable reference. A separator of more
// than one code unit (0x110000 and above) matches no character.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane::layout {

// Per ASCII character: can it be syntax or start a literal or name (see lexer.h), is it one of
// the arithmetic operators + - * / ^, is it an operator at all (those and < > =).
inline constexpr std::uint8_t kStructural = 1;
inline constexpr std::uint8_t kArithmetic = 2;
inline constexpr std::uint8_t kOperator = 4;
inline constexpr auto kCharFlags = [] {
  std::array<std::uint8_t, 128> flags{};
  for (const char c : {'(', ')', '[', '"', '\''}) flags[static_cast<unsigned char>(c)] = kStructural;
  for (const char c : {'+', '-', '*', '/', '^'}) flags[static_cast<unsigned char>(c)] = kArithmetic | kOperator;
  for (const char c : {'<', '>', '='}) flags[static_cast<unsigned char>(c)] = kOperator;
  return flags;
}();

class RunFinder {
 public:
  explicit RunFinder(char32_t separator) : separator_(separator) {}

  std::size_t Find(const char16_t* text, std::size_t from, std::size_t n) const {
#if defined(__SSE2__)
    // Runs are short and of every length: finding their end eight units at a time spares a
    // mispredicted branch per run, which costs more than the rest of a run's work.
    std::size_t k = from;
    const bool oneUnitSeparator = separator_ <= 0xFFFF;
    const __m128i separator = _mm_set1_epi16(static_cast<short>(oneUnitSeparator ? separator_ : u'('));
    for (; k + 8 <= n; k += 8) {
      const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + k));
      // "(" and ")" are 0x28 and 0x29: one comparison after setting the lowest bit.
      const __m128i stop = _mm_or_si128(
          _mm_or_si128(Equal(_mm_or_si128(units, _mm_set1_epi16(1)), u')'), Equal(units, u'[')),
          _mm_or_si128(_mm_or_si128(Equal(units, u'"'), Equal(units, u'\'')), _mm_cmpeq_epi16(units, separator)));
      const auto stopMask = static_cast<unsigned>(_mm_movemask_epi8(stop));
      if (stopMask != 0) return k + static_cast<std::size_t>(__builtin_ctz(stopMask)) / 2;
    }
    return k < n ? FindOneByOne(text, k, n) : k;
#else
    return FindOneByOne(text, from, n);
#endif
  }

  std::size_t FindOneByOne(const char16_t* text, std::size_t from, std::size_t n) const {
    std::size_t k = from;
    while (k < n && !IsStop(text[k])) ++k;
    return k;
  }

 private:
  bool IsStop(char16_t c) const { return c == separator_ || (c < 128 && (kCharFlags[c] & kStructural) != 0); }

#if defined(__SSE2__)
  static __m128i Equal(__m128i units, char16_t c) {
    return _mm_cmpeq_epi16(units, _mm_set1_epi16(static_cast<short>(c)));
  }
#endif

  char32_t separator_;
};

}  // namespace corvane::layout
