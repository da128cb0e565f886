#include "hosts/memory/formula_balance.h"

#include <cstdint>

namespace corvane::memory {

bool Balanced(std::u16string_view formula) {
  enum class State { Normal, Literal, SheetName, Brackets } state = State::Normal;
  std::int64_t parens = 0;
  std::int64_t brackets = 0;
  const std::size_t n = formula.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t c = formula[i];
    switch (state) {
      case State::Normal:
        if (c == u'"') {
          state = State::Literal;
        } else if (c == u'\'') {
          state = State::SheetName;
        } else if (c == u'[') {
          state = State::Brackets;
          brackets = 1;
        } else if (c == u'(') {
          ++parens;
        } else if (c == u')') {
          if (--parens < 0) return false;
        } else if (c == u']') {
          return false;
        }
        break;
      case State::Literal:
        if (c == u'"') state = State::Normal;
        break;
      case State::SheetName:
        if (c == u'\'') state = State::Normal;
        break;
      case State::Brackets:
        if (c == u'\'') {
          ++i;
        } else if (c == u'[') {
          ++brackets;
        } else if (c == u']' && --brackets == 0) {
          state = State::Normal;
        }
        break;
    }
  }
  return state == State::Normal && parens == 0;
}

}  // namespace corvane::memory
