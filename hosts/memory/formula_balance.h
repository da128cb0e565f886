// What a spreadsheet refuses to take as a formula because its nesting does not close.
// Contract: Balanced(formula) is true when the parentheses balance outside string literals,
// quoted sheet names and square brackets (nested; inside them ' escapes the next character), no
// "]" stands outside brackets, and no literal, name or bracket is left open. A doubled quote
// inside a literal or name ("" or '') closes and at once reopens it, which leaves the balance as
// it is. Linear in the text, no allocation. Shared by every host that models the refusal.
#pragma once

#include <string_view>

namespace corvane::memory {

bool Balanced(std::u16string_view formula);

}  // namespace corvane::memory
