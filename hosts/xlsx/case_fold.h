// Sheet names compared as the spreadsheet compares them: without regard to case, in every
// script with upper and lower case letters (Latin, Greek, Cyrillic, Armenian, Georgian, Cherokee,
// full-width Latin, ...), by Unicode's simple case folding of the Basic Multilingual Plane. Every
// comparison of sheet names goes through here.
#pragma once

#include <string>
#include <string_view>

namespace corvane::xlsx {

// The folded form of one UTF-16 code unit (itself when it has none; surrogates stay).
char16_t FoldCase(char16_t c);
std::u16string FoldCase(std::u16string_view text);
bool SameSheetName(std::u16string_view a, std::u16string_view b);

}  // namespace corvane::xlsx
