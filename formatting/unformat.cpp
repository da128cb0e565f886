#include "formatting/unformat.h"

#include <cstdint>
#include <vector>

#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "addin/platform.h"
#include "formatting/char_scan.h"

namespace corvane {

namespace {

bool IsNameLetter(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c == u'.' || c == u'\\' ||
         (c >= 0x80 && c != 0xA0);
}
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Last character of a reference, a name or a closed group: A1, $B$2, Name, (...), 'x', [@Col], A1#.
bool CanEndReference(char16_t c) {
  return IsNameLetter(c) || IsDigit(c) || c == u'$' || c == u')' || c == u'\'' || c == u']' || c == u'#';
}
// First character of a reference, a name or a group.
bool CanStartReference(char16_t c) {
  return IsNameLetter(c) || IsDigit(c) || c == u'$' || c == u'\'' || c == u'(' || c == u'[';
}

}  // namespace

std::u16string Unformat(std::u16string_view formula, const StringTable& table) {
  const std::size_t n = formula.size();
  if (n == 0) return {};
  if (table.rowLower() != 1 || static_cast<std::size_t>(table.rowUpper()) < n ||
      table.colLower() > scan::kStringMarkColumn || table.colUpper() < scan::kSheetMarkColumn)
    throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");

  // i is 0-based here; row i + 1 of the table describes it.
  const auto isText = [&](std::size_t i) {
    const auto row = static_cast<std::int32_t>(i + 1);
    constexpr auto kStringHandle = StringTable::CommonHandle(scan::kStringMark);
    constexpr auto kSheetHandle = StringTable::CommonHandle(scan::kSheetMark);
    return table.handle(row, scan::kStringMarkColumn) == kStringHandle ||
           table.handle(row, scan::kSheetMarkColumn) == kSheetHandle;
  };

  std::u16string out;
  out.reserve(n);
  std::int32_t depth = 0;  // square brackets open outside literals and sheet names
  std::size_t i = 0;
  while (i < n) {
    const char16_t c = formula[i];
    // Only spaces, line feeds and brackets depend on where they stand; the rest always stays.
    if ((c != u' ' && c != u'\n' && c != u'[' && c != u']') || isText(i)) {
      out.push_back(c);
      ++i;
      continue;
    }
    if (c == u'[') {
      ++depth;
    } else if (c == u']') {
      if (depth > 0) --depth;
    } else if (depth == 0) {
      // A stretch of spaces and line feeds that may be layout.
      std::size_t end = i;
      bool hasLineFeed = false;
      while (end < n && (formula[end] == u' ' || formula[end] == u'\n') && !isText(end)) {
        hasLineFeed = hasLineFeed || formula[end] == u'\n';
        ++end;
      }
      const bool inside = i > 0 && end < n;
      const char16_t before = inside ? formula[i - 1] : u'\0';
      const char16_t after = inside ? formula[end] : u'\0';
      const bool intersection = inside && !hasLineFeed && CanEndReference(before) && CanStartReference(after);
      // Taking it out must not turn two literals, or two quoted names, into one.
      const bool wouldJoin = inside && before == after && (before == scan::kDoubleQuote || before == scan::kApostrophe);
      if (intersection || wouldJoin) out.append(formula.substr(i, end - i));
      i = end;
      continue;
    }
    out.push_back(c);
    ++i;
  }
  return out;
}

Variant cls_corvane::cvDeformulateCell() {
  // Error trap: any failure ends the command quietly; what was done before it stays done.
  try {
    rgTarget = mdl_Support::Host()->ActiveCell();
    bIsArray = ToBool(mdl_Support::Host()->ActiveCell()->HasArray(), Regional());

    std::int32_t rows = 1;
    std::int32_t columns = 1;
    std::vector<bool> wraps;  // row by row, as the block's cells are visited
    if (bIsArray) {
      rgTarget = mdl_Support::Host()->ActiveCell()->CurrentArray();
      rows = rgTarget->RowsCount();
      columns = rgTarget->ColumnsCount();
      wraps.reserve(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
      for (std::int32_t r = 1; r <= rows; ++r)
        for (std::int32_t c = 1; c <= columns; ++c)
          wraps.push_back(ToBool(rgTarget->Cells(r, c)->WrapText(), Regional()));
    } else {
      wraps.push_back(ToBool(rgTarget->WrapText(), Regional()));
    }

    strFormula = mdl_Support::Host()->ActiveCell()->Formula();
    iLenFormula = static_cast<std::int32_t>(strFormula.size());
    // A constant (or an empty cell) is the user's data, not a formula: leave it alone.
    if (strFormula.empty() || strFormula.front() != u'=') return Variant();

    Variant formulaArg(strFormula);
    Variant lengthArg(iLenFormula);
    strCharArray = PopulateCharArray(formulaArg, lengthArg).table();

    const std::u16string result = Unformat(strFormula, strCharArray);
    if (bIsArray) {
      rgTarget->SetFormulaArray(result);
    } else {
      rgTarget->SetFormula(result);
    }

    if (bIsArray) {
      std::size_t k = 0;
      for (std::int32_t r = 1; r <= rows; ++r)
        for (std::int32_t c = 1; c <= columns; ++c) rgTarget->Cells(r, c)->SetWrapText(Variant(bool{wraps[k++]}));
    } else {
      rgTarget->SetWrapText(Variant(bool{wraps.front()}));
    }
  } catch (...) {
    // Nothing reaches the host macro.
  }
  return Variant();
}

}  // namespace corvane
