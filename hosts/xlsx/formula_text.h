// Formula text between a workbook file and the spreadsheet's formula bar.
// Contract (pure functions, UTF-16 in and out):
//  - A workbook file stores a formula without its leading "=", with "," between arguments,
//    "." in decimal numbers, "," and ";" between the columns and rows of an array constant, and
//    newer functions behind prefixes ("_xlfn.", "_xlws.", "_xlpm."), whatever the user's locale.
//    ShownFormula gives the text the spreadsheet shows: "=" first, the dialect's separators, no
//    prefixes. FileFormula goes back; for text in which only whitespace changed it restores
//    exactly the file text it came from (the prefixes of names the previous text carried are put
//    back), and it refuses (AutomationError 1004) text the dialect cannot have come from.
//  - String literals, quoted sheet names and everything in square brackets are never changed.
//  - ShiftReferences moves the relative parts of the cell, column and row references of a
//    formula by a number of rows and columns, as the spreadsheet does when it copies a formula
//    (shared formulas are stored once and copied this way). A reference that would leave the
//    sheet becomes "#REF!", its sheet prefix and the other end of its range with it, as the
//    spreadsheet writes it. Only references move: sheet names (also of 3-D references and after
//    a workbook in brackets), function, table and defined names, literals and brackets keep
//    their text.
//  - Balanced (the in-memory workbook's check, shared): the parentheses balance outside
//    literals, quoted names and brackets, and none of those is left open.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/automation.h"
#include "hosts/memory/formula_balance.h"

namespace corvane::xlsx {

inline constexpr std::int32_t kMaxRows = 1048576;
inline constexpr std::int32_t kMaxColumns = 16384;

struct Dialect {
  char16_t list = u',';         // between arguments (and the union operator)
  char16_t decimal = u'.';      // in decimal numbers
  char16_t arrayColumn = u',';  // between the columns of an array constant
  char16_t arrayRow = u';';     // between its rows

  bool IsFileDialect() const { return list == u',' && decimal == u'.' && arrayColumn == u',' && arrayRow == u';'; }
  friend bool operator==(const Dialect&, const Dialect&) = default;
};

// The dialect for a list separator and a decimal separator. Array constants take "," between
// columns unless the decimal separator is ",", then ".". Throws AutomationError 5 when the two
// separators are the same character, or either is a character formulas use otherwise.
Dialect MakeDialect(char16_t listSeparator, char16_t decimalSeparator);

std::u16string ShownFormula(std::u16string_view fileText, const Dialect& dialect);
std::u16string FileFormula(std::u16string_view shownText, const Dialect& dialect, std::u16string_view previousFileText);
// The same conversions token by token, without the shortcuts for text they leave as it is.
std::u16string ShownFormulaByTokens(std::u16string_view fileText, const Dialect& dialect);
std::u16string FileFormulaByTokens(std::u16string_view shownText, const Dialect& dialect,
                                   std::u16string_view previousFileText);

std::u16string ShiftReferences(std::u16string_view fileText, std::int32_t rows, std::int32_t columns);

using memory::Balanced;

// The spreadsheet's own limit on a formula's length with the "=", whatever the version.
inline constexpr std::size_t kMaxFormulaLength = 8192;
// Why a formula (file form) is beyond that length or nests functions deeper than the spreadsheet
// allows (formatting/refusal.h), or nothing when it is within those limits.
std::optional<std::u16string> BeyondFormulaLimits(std::u16string_view fileText);

// "B7" or "$B$7" (letters in either case) to a 1-based row and column.
struct CellPosition {
  std::int32_t row = 0;
  std::int32_t col = 0;
  friend bool operator==(const CellPosition&, const CellPosition&) = default;
};
std::optional<CellPosition> ParseCellAddress(std::u16string_view text);
std::optional<CellPosition> ParseCellAddress(std::string_view text);

// A rectangle of cells, 1-based and inclusive.
struct CellRect {
  std::int32_t row1 = 0, col1 = 0, row2 = 0, col2 = 0;
  bool Contains(std::int32_t row, std::int32_t col) const { return row >= row1 && row <= row2 && col >= col1 && col <= col2; }
  std::int64_t Count() const { return std::int64_t{row2 - row1 + 1} * (col2 - col1 + 1); }
  friend bool operator==(const CellRect&, const CellRect&) = default;
};
// "B7" or "B2:D5".
std::optional<CellRect> ParseRangeAddress(std::string_view text);
std::u16string ColumnName(std::int32_t column);
std::u16string CellAddress(std::int32_t row, std::int32_t col);
std::u16string RangeAddress(const CellRect& rect);

}  // namespace corvane::xlsx
