// The text file that receives a laid-out formula instead of its cell: its name and its lines.
// Contract (pure functions, no service is touched):
//  - FilePath joins folder, separator and "<workbook> - <sheet> - <address> - formatted
//    formula.txt". The name must stay one name inside the folder: a workbook name, sheet name or
//    address holding "/" or "\" (on any platform) or a NUL character throws AutomationError
//    (error 75, path/file access; its text names the file) and nothing may be written. The
//    folder is taken as given.
//  - FileLines gives the file's lines in order: the explanation (always-send or too-long, each
//    followed by its empty lines), then the laid-out text cut at every line feed; the text after
//    the last line feed is the last line, whatever it holds (also only spaces, or nothing).
//    The too-long explanation writes its three numbers with the pattern "#,##0". The laid-out
//    text's lines are views of it, not copies: the text may be as long as memory allows.
//  - FileText ends every line with carriage return and line feed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/automation.h"

namespace corvane::notepad {

inline constexpr std::u16string_view kFileNameEnd = u" - formatted formula.txt";
inline constexpr std::u16string_view kNamePartJoin = u" - ";

std::u16string FilePath(std::u16string_view folder, char16_t separator, std::u16string_view workbookName,
                        std::u16string_view sheetName, std::u16string_view address);

// What the too-long explanation reports.
struct TooLongFacts {
  std::int32_t limit = 0;          // the host's formula length limit
  std::int32_t inCellLength = 0;   // length of the layout made for the cell
  std::u16string fontName;         // the host's standard font
  std::int32_t notepadLength = 0;  // length of the layout made for the text file
};

// The lines of the file: the explanation's own, then those of the laid-out text (views of it,
// which must outlive them).
struct Lines {
  std::vector<std::u16string> explanation;
  std::vector<std::u16string_view> laidOut;

  std::size_t size() const { return explanation.size() + laidOut.size(); }
  std::u16string_view operator[](std::size_t i) const {
    return i < explanation.size() ? std::u16string_view(explanation[i]) : laidOut[i - explanation.size()];
  }
};

// Explanation for "Always Send to Notepad" (`facts` unused) or for a text too long for its cell.
Lines FileLines(bool alwaysSend, const TooLongFacts& facts, std::u16string_view laidOut, const RegionalFormat& fmt);

std::u16string FileText(const Lines& lines);

}  // namespace corvane::notepad
