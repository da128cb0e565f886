#include "formatting/lexer.h"

#include <array>
#include <bit>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane::lex {

namespace {

// What an ASCII character starts; every other code unit is text.
enum Start : std::uint8_t { kText, kQuote, kApostrophe, kBracket, kBraceOpen, kBraceClose, kOpen, kClose, kOperator,
                            kSpace };

constexpr auto kStarts = [] {
  std::array<Start, 128> starts{};
  starts['"'] = kQuote;
  starts['\''] = kApostrophe;
  starts['['] = kBracket;
  starts['{'] = kBraceOpen;
  starts['}'] = kBraceClose;
  starts['('] = kOpen;
  starts[')'] = kClose;
  for (const char c : {'+', '-', '*', '/', '^', '&', '=', '%', ':', '<', '>'}) starts[static_cast<unsigned char>(c)] = kOperator;
  for (const char c : {' ', '\n', '\r', '\t'}) starts[static_cast<unsigned char>(c)] = kSpace;
  return starts;
}();

Start StartOf(char16_t c) { return c < 128 ? kStarts[c] : kText; }

// The end of a literal or quoted name that opened at `from` with `quote`: past the closing quote,
// or n when unclosed. A doubled quote is one character of the text.
std::size_t QuotedEnd(const char16_t* text, std::size_t from, std::size_t n, char16_t quote, bool& unclosed) {
  for (std::size_t k = from + 1; k < n; ++k) {
    if (text[k] != quote) continue;
    if (k + 1 < n && text[k + 1] == quote) {
      ++k;
      continue;
    }
    unclosed = false;
    return k + 1;
  }
  unclosed = true;
  return n;
}

std::size_t BracketedEnd(const char16_t* text, std::size_t from, std::size_t n, bool& unclosed) {
  std::size_t depth = 0;
  for (std::size_t k = from; k < n; ++k) {
    const char16_t c = text[k];
    if (c == u'\'') {
      ++k;  // the escaped character, whatever it is
    } else if (c == u'[') {
      ++depth;
    } else if (c == u']' && --depth == 0) {
      unclosed = false;
      return k + 1;
    }
  }
  unclosed = true;
  return n;
}

bool StartsName(char16_t c) { return c == u'"' || c == u'\'' || c == u'['; }

// The first position from `from` on where a literal or name starts, or n. Most formulas hold
// few of them: eight code units at a time where the processor has SSE2.
std::size_t FindNameStart(const char16_t* text, std::size_t from, std::size_t n) {
  std::size_t i = from;
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi16(u'"');
  const __m128i apostrophe = _mm_set1_epi16(u'\'');
  const __m128i bracket = _mm_set1_epi16(u'[');
  for (; i + 8 <= n; i += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(units, quote), _mm_cmpeq_epi16(units, apostrophe)),
                                     _mm_cmpeq_epi16(units, bracket));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (mask != 0) return i + static_cast<std::size_t>(std::countr_zero(mask)) / 2;
  }
#endif
  while (i < n && !StartsName(text[i])) ++i;
  return i;
}

}  // namespace

void Lex(std::u16string_view formula, std::u16string_view separator, std::vector<Span>& spans) {
  spans.clear();
  const char16_t* const text = formula.data();
  const std::size_t n = formula.size();
  // A separator of other than one code unit matches nothing: no code unit reaches 0x10000.
  const char32_t sep = separator.size() == 1 ? separator[0] : char32_t{0x10000};
  const auto push = [&](std::size_t begin, std::size_t end, Kind kind, bool unclosed = false) {
    spans.push_back({static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end), kind, unclosed});
  };

  std::size_t i = 0;
  while (i < n) {
    const char16_t c = text[i];
    const Start start = StartOf(c);
    bool unclosed = false;
    switch (start) {
      case kQuote: {
        const std::size_t end = QuotedEnd(text, i, n, c, unclosed);
        push(i, end, Kind::StringLiteral, unclosed);
        i = end;
        continue;
      }
      case kApostrophe: {
        const std::size_t end = QuotedEnd(text, i, n, c, unclosed);
        push(i, end, Kind::SheetName, unclosed);
        i = end;
        continue;
      }
      case kBracket: {
        const std::size_t end = BracketedEnd(text, i, n, unclosed);
        push(i, end, Kind::BracketedName, unclosed);
        i = end;
        continue;
      }
      default:
        break;
    }
    if (c == sep) {
      push(i, i + 1, Kind::Separator);
      ++i;
      continue;
    }
    switch (start) {
      case kBraceOpen: push(i, i + 1, Kind::ArrayOpen); ++i; break;
      case kBraceClose: push(i, i + 1, Kind::ArrayClose); ++i; break;
      case kOpen: push(i, i + 1, Kind::OpenParen); ++i; break;
      case kClose: push(i, i + 1, Kind::CloseParen); ++i; break;
      case kOperator: {
        const bool pair = i + 1 < n && ((c == u'<' && (text[i + 1] == u'=' || text[i + 1] == u'>')) ||
                                        (c == u'>' && text[i + 1] == u'='));
        const std::size_t end = i + (pair ? 2 : 1);
        push(i, end, Kind::Operator);
        i = end;
        break;
      }
      case kSpace: {
        std::size_t end = i + 1;
        while (end < n && StartOf(text[end]) == kSpace && text[end] != sep) ++end;
        push(i, end, Kind::Whitespace);
        i = end;
        break;
      }
      default: {
        std::size_t end = i + 1;
        while (end < n && StartOf(text[end]) == kText && text[end] != sep) ++end;
        push(i, end, Kind::Text);
        i = end;
        break;
      }
    }
  }
}

void LexNames(std::u16string_view formula, std::vector<Span>& spans) {
  spans.clear();
  const char16_t* const text = formula.data();
  const std::size_t n = formula.size();
  std::size_t i = 0;
  for (;;) {
    i = FindNameStart(text, i, n);
    if (i == n) return;
    const char16_t c = text[i];
    bool unclosed = false;
    const std::size_t end = c == u'[' ? BracketedEnd(text, i, n, unclosed) : QuotedEnd(text, i, n, c, unclosed);
    spans.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(end),
                     c == u'"' ? Kind::StringLiteral : c == u'[' ? Kind::BracketedName : Kind::SheetName, unclosed});
    i = end;
  }
}

}  // namespace corvane::lex
