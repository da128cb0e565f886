// Character scan: which characters of a formula are syntax and which are merely text.
// Contract:
//  - cls_corvane::PopulateCharArray(formula, length) builds the character table: rows 1..length,
//    columns 1..4. Column 1 holds the character (one UTF-16 code unit), column 2 the class of a
//    double quote (kLeftQuote, kRightQuote, kEscapeQuote, kLiteralQuote; empty for every other
//    character), column 3 kStringMark for text of a string literal (the literal quote of a
//    doubled quote included; opening, escape and closing quotes excluded), column 4 kSheetMark
//    for a quoted sheet name from its opening through its closing apostrophe. An unclosed
//    literal or sheet name is marked to the end. A shorter length scans that many characters.
//    Any failure (a length below 1, not a number or longer than the text, a formula that
//    cannot be text such as Null) ends it quietly with an Empty result.
//  - SetQuoteType records one quote class, updating the caller's variants as references;
//    CheckChar classifies one position (only the string-literal mark protects a character).
//    Neither has an error trap: a bad position or a value that is not a table throws
//    AutomationError to the caller.
//  - Cost: three linear passes, no allocation per character.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "addin/cls_corvane.h"

namespace corvane::scan {

// Columns of the character table.
inline constexpr std::int32_t kCharColumn = 1;
inline constexpr std::int32_t kQuoteClassColumn = 2;
inline constexpr std::int32_t kStringMarkColumn = 3;
inline constexpr std::int32_t kSheetMarkColumn = 4;

// Quote classes of column 2.
inline constexpr std::u16string_view kLeftQuote = u"LEFT_QUOTE";
inline constexpr std::u16string_view kRightQuote = u"RIGHT_QUOTE";
inline constexpr std::u16string_view kEscapeQuote = u"ESCAPE_QUOTE";
inline constexpr std::u16string_view kLiteralQuote = u"LITERAL_QUOTE";

// Marks of columns 3 and 4.
inline constexpr std::u16string_view kStringMark = u"Str";
inline constexpr std::u16string_view kSheetMark = u"Sh";

inline constexpr char16_t kDoubleQuote = u'"';
inline constexpr char16_t kApostrophe = u'\'';

}  // namespace corvane::scan
