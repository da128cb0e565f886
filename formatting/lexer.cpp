#include "formatting/lexer.h"

#include <array>
#include <cstddef>

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
  for (char16_t c = 0; c < 128; ++c)
    if (IsWhitespace(c)) starts[c] = kSpace;
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

bool IsNameLetter(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c == u'.' || c == u'\\' ||
         (c >= 0x80 && c != 0xA0);
}
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Last character of a reference, a name or a closed group: A1, $B$2, Name, (...), 'x', [@Col], A1#.
bool CanEndReference(char16_t c) {
  return IsNameLetter(c) || IsDigit(c) || c == u'$' || c == u')' || c == u'\'' || c == u']' || c == u'#';
}
// First character of a reference, a name or a group.
bool CanStartReference(char16_t c) {
  return IsNameLetter(c) || IsDigit(c) || c == u'$' || c == u'\'' || c == u'(' || c == u'[';
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
      case kQuote:
      case kApostrophe:
      case kBracket: {
        const std::size_t end = NameEnd(formula, i, unclosed);
        push(i, end, start == kQuote ? Kind::StringLiteral : start == kBracket ? Kind::BracketedName : Kind::SheetName,
             unclosed);
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
        const bool pair = i + 1 < n && text[i + 1] != sep &&
                          ((c == u'<' && (text[i + 1] == u'=' || text[i + 1] == u'>')) ||
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

std::size_t NameEnd(std::u16string_view formula, std::size_t at, bool& unclosed) {
  const char16_t* const text = formula.data();
  const std::size_t n = formula.size();
  return text[at] == u'[' ? BracketedEnd(text, at, n, unclosed) : QuotedEnd(text, at, n, text[at], unclosed);
}

std::size_t ArrayEnd(std::u16string_view formula, std::size_t at) {
  for (std::size_t k = at + 1; k < formula.size(); ++k) {
    if (formula[k] == u'}') return k + 1;
    if (StartsName(formula[k])) {
      bool unclosed = false;
      k = NameEnd(formula, k, unclosed) - 1;
    }
  }
  return formula.size();
}

bool IsIntersection(std::u16string_view formula, std::size_t begin, std::size_t end) {
  return begin > 0 && end < formula.size() && CanEndReference(formula[begin - 1]) && CanStartReference(formula[end]);
}

}  // namespace corvane::lex
