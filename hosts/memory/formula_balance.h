// What a spreadsheet refuses to take as a formula because its nesting does not close.
// Contract: Balanced(formula) is true when the parentheses balance outside string literals,
// quoted sheet names and bracketed names as the lexer (formatting/lexer.h) reads them, no "]"
// stands outside brackets, and no literal, name or bracket is left open. Linear in the text; one
// allocation for the spans. Shared by every host that models the refusal.
#pragma once

#include <string_view>

namespace corvane::memory {

bool Balanced(std::u16string_view formula);

}  // namespace corvane::memory
