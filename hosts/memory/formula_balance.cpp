#include "hosts/memory/formula_balance.h"

#include <cstdint>
#include <vector>

#include "formatting/lexer.h"

namespace corvane::memory {

bool Balanced(std::u16string_view formula) {
  // The separator plays no part in the balance.
  const std::vector<lex::Span> spans = lex::Lex(formula, u"");
  std::int64_t parens = 0;
  for (const lex::Span& s : spans) {
    if (s.unclosed) return false;
    switch (s.kind) {
      case lex::Kind::OpenParen:
        ++parens;
        break;
      case lex::Kind::CloseParen:
        if (--parens < 0) return false;
        break;
      case lex::Kind::Text:
        // A "]" outside every bracketed name closes nothing.
        for (std::uint32_t k = s.begin; k < s.end; ++k)
          if (formula[k] == u']') return false;
        break;
      default:
        break;
    }
  }
  return parens == 0;
}

}  // namespace corvane::memory
