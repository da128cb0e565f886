#include "formatting/unformat.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/platform.h"
#include "base/unit_scan.h"
#include "formatting/lexer.h"

namespace corvane {

namespace {

// Takes out every line feed outside literals and names with the spaces of each run that touches
// one, and, when `otherSpaces`, every other run of spaces that is no intersection operator.
// A workbook file runs this twice on every laid-out text it is given (to tell a new layout from
// a change), so it walks the formula itself, skipping each literal and name whole as the lexer
// reads it (outside them no character's part in this rule depends on its neighbours), and
// copies what stays in stretches.
// Hands each stretch that stays to `keep`, in order.
template <class Keep>
void Strip(std::u16string_view formula, bool otherSpaces, Keep keep) {
  const std::size_t n = formula.size();
  const char16_t* const text = formula.data();
  std::size_t kept = 0;  // formula[kept, i) is still to be handed on
  std::size_t i = 0;
  while (i < n) {
    const char16_t c = text[i];
    if (lex::StartsName(c)) {
      bool unclosed = false;
      i = lex::NameEnd(formula, i, unclosed);
      continue;
    }
    // Carriage returns and tabs stay; each stretch of spaces and line feeds may be layout.
    if (c != u' ' && c != u'\n') {
      ++i;
      continue;
    }
    std::size_t end = i;
    bool hasLineFeed = false;
    for (;;) {
      // A laid-out formula is mostly indentation, which the scan passes over several at a time.
      end = scan::SpacesEnd(formula, end);
      if (end == n || text[end] != u'\n') break;
      hasLineFeed = true;
      ++end;
    }
    const bool inside = i > 0 && end < n;
    const bool stays = !hasLineFeed && (!otherSpaces || lex::IsIntersection(formula, i, end));
    // Taking it out must not turn two literals, or two quoted names, into one.
    const bool wouldJoin = inside && text[i - 1] == text[end] && (text[end] == u'"' || text[end] == u'\'');
    if (!stays && !wouldJoin) {
      if (i > kept) keep(formula.substr(kept, i - kept));
      kept = end;
    }
    i = end;
  }
  if (n > kept) keep(formula.substr(kept));
}

std::u16string Strip(std::u16string_view formula, bool otherSpaces) {
  std::u16string out;
  out.reserve(formula.size());
  Strip(formula, otherSpaces, [&](std::u16string_view piece) { out.append(piece); });
  return out;
}

}  // namespace

std::u16string Unformat(std::u16string_view formula) { return Strip(formula, true); }

std::u16string RemoveLineBreaks(std::u16string_view formula) { return Strip(formula, false); }

bool SameButLayout(std::u16string_view a, std::u16string_view b) {
  // A formula without spaces and line feeds, as files and cells mostly hold them, is its own
  // unformat; the other is compared as it is stripped, without a copy.
  std::u16string unformatted;
  std::u16string_view plain = a;
  if (scan::Find(a, u' ', 0) != std::u16string_view::npos || scan::Find(a, u'\n', 0) != std::u16string_view::npos) {
    unformatted = Unformat(a);
    plain = unformatted;
  }
  std::size_t at = 0;
  bool same = true;
  Strip(b, true, [&](std::u16string_view piece) {
    same = same && plain.substr(std::min(at, plain.size())).starts_with(piece);
    at += piece.size();
  });
  return same && at == plain.size();
}

void DeformulateCell(HostApplication& host) noexcept {
  // Error trap: any failure ends the command quietly; what was done before it stays done.
  try {
    std::shared_ptr<HostRange> target = host.ActiveCell();
    const bool isArray = ToBool(host.ActiveCell()->HasArray(), Regional());

    std::int32_t rows = 1;
    std::int32_t columns = 1;
    std::vector<bool> wraps;  // row by row, as the block's cells are visited
    if (isArray) {
      target = host.ActiveCell()->CurrentArray();
      rows = target->RowsCount();
      columns = target->ColumnsCount();
      wraps.reserve(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
      for (std::int32_t r = 1; r <= rows; ++r)
        for (std::int32_t c = 1; c <= columns; ++c) wraps.push_back(ToBool(target->Cells(r, c)->WrapText(), Regional()));
    } else {
      wraps.push_back(ToBool(target->WrapText(), Regional()));
    }

    const std::u16string formula = host.ActiveCell()->Formula();
    // A constant (or an empty cell) is the user's data, not a formula: leave it alone, also when
    // it is text that starts with "=".
    if (formula.empty() || formula.front() != u'=' || !HoldsFormula(*target, Regional())) return;

    const std::u16string result = Unformat(formula);
    if (isArray) {
      target->SetFormulaArray(result);
    } else {
      target->SetFormula(result);
    }

    if (isArray) {
      std::size_t k = 0;
      for (std::int32_t r = 1; r <= rows; ++r)
        for (std::int32_t c = 1; c <= columns; ++c) target->Cells(r, c)->SetWrapText(Variant(bool{wraps[k++]}));
    } else {
      target->SetWrapText(Variant(bool{wraps.front()}));
    }
  } catch (...) {
    // Nothing reaches the host macro.
  }
}

}  // namespace corvane
