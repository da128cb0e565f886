// The corpus formulas the workbook benchmarks put in their workbooks: every one laid out when
// the run formats the workbook, and given back byte for byte when it unformats it.
#pragma once

#include <string>

#include "formatting/refusal.h"

namespace corvane::bench {

// A corpus line ("=..."): with a parenthesis, under 300 characters, without spaces of its own
// (which unformat would take out), and with a layout the spreadsheet takes: the layout breaks a
// line after each "(" and ",", and one that breaks right before a whole column or row is refused.
inline bool LaidOutWhole(const std::string& line) {
  if (line.size() < 2 || line.size() >= 300 || line.find('(') == std::string::npos || line.find(' ') != std::string::npos)
    return false;
  std::u16string broken;
  for (const char c : line) {
    broken += static_cast<char16_t>(static_cast<unsigned char>(c));
    if (c == '(' || c == ',') broken += u'\n';
  }
  return !refusal::BreakRefusal(broken, u",");
}

}  // namespace corvane::bench
