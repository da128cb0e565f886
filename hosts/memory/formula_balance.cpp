#include "hosts/memory/formula_balance.h"

#include <cstdint>

#include "formatting/lexer.h"

namespace corvane::memory {

bool Balanced(std::u16string_view formula) {
  // One pass that skips each literal or name whole, as the lexer reads it, and allocates
  // nothing: this runs for every formula put into a cell.
  std::int64_t parens = 0;
  for (std::size_t i = 0; i < formula.size();) {
    const char16_t c = formula[i];
    if (lex::StartsName(c)) {
      bool unclosed = false;
      i = lex::NameEnd(formula, i, unclosed);
      if (unclosed) return false;
      continue;
    }
    if (c == u'(') {
      ++parens;
    } else if (c == u')') {
      if (--parens < 0) return false;
    } else if (c == u']') {
      return false;  // closes no bracketed name
    }
    ++i;
  }
  return parens == 0;
}

}  // namespace corvane::memory
