#include "base/unit_scan.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane::scan {

namespace {

#if defined(__SSE2__)
// Two mask bits a unit: the units of `text` from `i` (eight of them) equal to `unit`.
unsigned Matches(std::u16string_view text, std::size_t i, __m128i unit) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, unit)));
}
#endif

}  // namespace

std::size_t Count(std::u16string_view text, char16_t unit) {
  std::size_t i = 0, count = 0;
#if defined(__SSE2__)
  // Each lane counts its matches down from zero (a match compares as -1), and is added up before
  // it could wrap: at most 0x7FFF steps at a time.
  const __m128i wanted = _mm_set1_epi16(static_cast<short>(unit));
  while (i + 8 <= text.size()) {
    __m128i lanes = _mm_setzero_si128();
    for (std::size_t steps = 0; steps < 0x7FFF && i + 8 <= text.size(); ++steps, i += 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
      lanes = _mm_add_epi16(lanes, _mm_cmpeq_epi16(v, wanted));
    }
    alignas(16) std::int16_t sums[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(sums), lanes);
    for (const std::int16_t lane : sums) count += static_cast<std::size_t>(-static_cast<std::int32_t>(lane));
  }
#endif
  return count + CountPlain(text.substr(i), unit);
}

std::size_t CountPlain(std::u16string_view text, char16_t unit) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), unit));
}

std::size_t Find(std::u16string_view text, char16_t unit, std::size_t from) {
  std::size_t i = from;
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi16(static_cast<short>(unit));
  for (; i + 8 <= text.size(); i += 8)
    if (const unsigned mask = Matches(text, i, wanted)) return i + static_cast<std::size_t>(std::countr_zero(mask)) / 2;
#endif
  return FindPlain(text, unit, i);
}

std::size_t FindPlain(std::u16string_view text, char16_t unit, std::size_t from) { return text.find(unit, from); }

std::size_t SpacesEnd(std::u16string_view text, std::size_t from) {
  constexpr std::uint64_t kFourSpaces = 0x0020002000200020u;
  std::size_t i = from;
  for (std::uint64_t four = 0; i + 4 <= text.size(); i += 4) {
    std::memcpy(&four, text.data() + i, sizeof four);
    if (four != kFourSpaces) break;
  }
  return SpacesEndPlain(text, i);
}

std::size_t SpacesEndPlain(std::u16string_view text, std::size_t from) {
  return std::min(text.find_first_not_of(u' ', from), text.size());
}

}  // namespace corvane::scan
