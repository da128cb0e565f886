#include "hosts/memory/formula_balance.h"

#include <array>
#include <cstdint>

#include "base/unit_scan.h"
#include "formatting/lexer.h"

namespace corvane::memory {

namespace {

// What an ASCII character is to the count; any other character is nothing to it.
enum Role : unsigned char { kNothing, kName, kOpen, kClose, kStray };
constexpr std::array<unsigned char, 128> kRoles = [] {
  std::array<unsigned char, 128> t{};
  t['"'] = t['\''] = t['['] = kName;
  t['('] = kOpen;
  t[')'] = kClose;
  t[']'] = kStray;  // closes no bracketed name
  return t;
}();

}  // namespace

bool Balanced(std::u16string_view formula) {
  // One pass that skips each literal or name whole, as the lexer reads it, and allocates
  // nothing: this runs for every formula put into a cell. The test holds it to a count over the
  // lexer's spans.
  std::int64_t parens = 0;
  const std::size_t n = formula.size();
  for (std::size_t i = 0; i < n;) {
    const char16_t c = formula[i];
    if (c == u' ') {
      // A laid-out formula is mostly indentation, which the scan passes over several at a time.
      i = scan::SpacesEnd(formula, i);
      continue;
    }
    switch (c < 128 ? kRoles[c] : static_cast<unsigned char>(kNothing)) {
      case kName: {
        bool unclosed = false;
        i = lex::NameEnd(formula, i, unclosed);
        if (unclosed) return false;
        continue;
      }
      case kOpen:
        ++parens;
        break;
      case kClose:
        if (--parens < 0) return false;
        break;
      case kStray:
        return false;
      default:
        break;
    }
    ++i;
  }
  return parens == 0;
}

}  // namespace corvane::memory
