#include "hosts/xlsx/case_fold.h"

#include <algorithm>
#include <iterator>

#include "hosts/xlsx/case_fold_table.h"

namespace corvane::xlsx {

char16_t FoldCase(char16_t c) {
  if (c < 0x80) return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
  const auto* const end = std::end(casefold::kTable);
  const auto* const it = std::lower_bound(std::begin(casefold::kTable), end, c,
                                          [](const casefold::Fold& f, char16_t key) { return f.from < key; });
  return it != end && it->from == c ? it->to : c;
}

std::u16string FoldCase(std::u16string_view text) {
  std::u16string out(text.size(), u'\0');
  std::transform(text.begin(), text.end(), out.begin(), [](char16_t c) { return FoldCase(c); });
  return out;
}

bool SameSheetName(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return FoldCase(x) == FoldCase(y); });
}

}  // namespace corvane::xlsx
