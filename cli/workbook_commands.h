// The workbook forms of `corvane format` and `corvane unformat`: the commands run on formula
// cells of an .xlsx/.xlsm file, which is then replaced atomically.
//
//   corvane format   BOOK.xlsx CELL... | --all [--output OUT.xlsx] [options of the formula form]
//   corvane unformat BOOK.xlsx CELL... | --all [--output OUT.xlsx]
//
// CELL is Sheet1!B7, 'My Sheet'!B7, a range such as Sheet1!A1:F200 (every formula cell in it;
// an array formula once, for its whole block) or B7 on the workbook's active sheet; --all takes
// every formula of every worksheet. Each cell is one run of the add-in's command with that cell
// active. A progress bar is drawn on standard error when it is a terminal; at the end a summary
// on standard output counts the cells formatted (or unformatted), sent to text files and
// skipped, and names each skipped cell with its reason (a formula without parentheses, a data
// table, a shared formula that cannot be moved to the cell, ...). Exit status: 0 when every cell
// was dealt with and the workbook saved (or had nothing to change), 1 when the spreadsheet
// refused a cell's new formula, the calibration was declined, no formula was found or the
// workbook could not be written (the file is then as it was), 2 for bad usage or input.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane::cli {

// Whether the argument names a workbook file (.xlsx, .xlsm, .xltx, .xltm, in any case).
bool NamesWorkbook(std::string_view argument);
// Whether the argument is a workbook file rather than a formula. A text starting with "=" is a
// formula; an existing file is a workbook by its content (a ZIP package whose content types name
// a spreadsheet workbook), whatever its name, and any other file is refused with the reason
// (UsageError); a name that is no file is a workbook by its extension.
bool IsWorkbookArgument(const std::string& argument);
// Refuses --all and --output in the formula form, which no workbook file was named for.
void RejectWorkbookOptions(const std::vector<std::string>& args);
// Whether the first argument that is no option names a workbook file: the command line of a
// workbook form.
bool IsWorkbookInvocation(const std::vector<std::string>& args);

int RunFormatWorkbook(std::vector<std::string>& args);
int RunUnformatWorkbook(std::vector<std::string>& args);

}  // namespace corvane::cli
