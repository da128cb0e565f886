// What the spreadsheet refuses to take into a cell as a formula, and why: the one rule that both
// hosts apply to a put (hosts/memory, hosts/xlsx) and the workbook-file reader to what it reads.
// Contract:
//  - Refusal(formula, separator, lengthLimit) gives the reason for the first of these that holds,
//    as a short English clause starting "the formula", or nothing when the spreadsheet takes it:
//    (c) the formula is longer than lengthLimit code units (the version's limit, "=" included);
//    (b) function calls nest more than kMaxFunctionNesting deep. A "(" is a call's when the
//        lexer's text (a name: SUM, _xlfn.CONCAT, LOG10) stands right before it; a "(" that
//        groups, one right after ")" and any inside a string literal, quoted sheet name or
//        bracketed name are not counted;
//    (a) a line break (a whitespace span holding a line feed or carriage return, whatever spaces
//        stand around it) right before a whole-column or whole-row reference: A:A, $B:C, 2:2,
//        $2:$3 (text, ":", text as the lexer spans it, columns up to XFD, rows up to 1,048,576).
//        A reference with its sheet (Sheet1!A:A, 'My Sheet'!A:A) begins with the sheet's name,
//        so a break before it is not right before the reference, and the formula is taken.
//    `separator` is the list separator the formula is written with, as the lexer takes it.
//  - LengthRefusal, NestingRefusal and BreakRefusal are the three rules on their own: the
//    workbook-file reader applies the first two to formulas stored without their "=".
//  - Sentence(clause) is the clause as a description: capital first letter, full stop.
//  - Linear in the formula; it is lexed only when it holds a line break and a ":", or more
//    opening parentheses than calls may nest.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::refusal {

inline constexpr std::size_t kMaxFunctionNesting = 64;

std::optional<std::u16string> Refusal(std::u16string_view formula, std::u16string_view separator,
                                      std::size_t lengthLimit);

std::optional<std::u16string> LengthRefusal(std::size_t length, std::size_t lengthLimit);
std::optional<std::u16string> NestingRefusal(std::u16string_view formula, std::u16string_view separator);
std::optional<std::u16string> BreakRefusal(std::u16string_view formula, std::u16string_view separator);

std::u16string Sentence(std::u16string clause);

}  // namespace corvane::refusal
