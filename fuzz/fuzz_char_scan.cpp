// The character scan and CheckChar over arbitrary UTF-16 and arbitrary lengths.
// Properties: the scan never fails loudly; for a length from 1 to the text's, the table has one
// row per character holding that character and only the known marks; a scan does not depend on
// what the object scanned before; CheckChar classifies every row, refuses rows outside the table,
// and never calls a character of a string literal syntax.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/automation.h"
#include "addin/cls_corvane.h"
#include "formatting/char_scan.h"
#include "fuzz_input.h"

using namespace corvane;

namespace {

Variant ScanOf(cls_corvane& addin, const std::u16string& text, const Variant& length) {
  Variant t(text);
  Variant n = length;
  return addin.PopulateCharArray(t, n);
}

bool KnownQuoteClass(std::u16string_view v) {
  return v.empty() || v == scan::kLeftQuote || v == scan::kRightQuote || v == scan::kEscapeQuote ||
         v == scan::kLiteralQuote;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const unsigned lengthMode = data[0] % 8;
  const char16_t separators[] = {u',', u';', u'"', u'(', u'\'', u' ', u'\\', u'.'};
  const std::u16string text = fuzzing::LooseUtf16(
      std::string_view(reinterpret_cast<const char*>(data + 2), size - 2));
  const auto full = static_cast<std::int32_t>(text.size());

  Variant length;
  switch (lengthMode) {
    case 0: length = Variant(full - 1); break;           // a shorter length scans a prefix
    case 1: length = Variant(full + 1); break;           // longer than the text: quiet failure
    case 2: length = Variant(std::int32_t{0}); break;    // cannot size the table
    case 3: length = Variant(static_cast<double>(full) + 0.5); break;
    case 4: length = Variant(u"not a number"); break;
    default: length = Variant(full); break;
  }

  cls_corvane addin;
  addin.strListSeparator.assign(1, separators[data[1] % 8]);
  // Leave state behind from another text first: the scan must not depend on it.
  (void)ScanOf(addin, text + u"\"'(", Variant(full + 3));
  const Variant table = ScanOf(addin, text, length);

  cls_corvane fresh;
  fresh.strListSeparator = addin.strListSeparator;
  const Variant again = ScanOf(fresh, text, length);
  CORVANE_FUZZ_CHECK(table == again, "the scan depends on the object's earlier scan");

  if (table.isEmpty()) {
    CORVANE_FUZZ_CHECK(lengthMode == 1 || lengthMode == 2 || lengthMode == 3 || lengthMode == 4 || full <= 1,
                       "a scan of a valid length failed");
    return 0;
  }
  const StringTable& t = table.table();
  const std::int32_t rows = t.rows();
  CORVANE_FUZZ_CHECK(t.rowLower() == 1 && t.colLower() == 1 && t.colUpper() == 4, "table bounds");
  CORVANE_FUZZ_CHECK(rows >= 1 && rows <= full, "table rows outside the text");
  Variant tableVar = table;
  for (std::int32_t i = 1; i <= rows; ++i) {
    const std::u16string_view ch = t.at(i, scan::kCharColumn);
    CORVANE_FUZZ_CHECK(ch.size() == 1 && ch[0] == text[static_cast<std::size_t>(i - 1)], "column 1 is not the character");
    CORVANE_FUZZ_CHECK(KnownQuoteClass(t.at(i, scan::kQuoteClassColumn)), "unknown quote class");
    const std::u16string_view str = t.at(i, scan::kStringMarkColumn);
    const std::u16string_view sh = t.at(i, scan::kSheetMarkColumn);
    CORVANE_FUZZ_CHECK(str.empty() || str == scan::kStringMark, "unknown string mark");
    CORVANE_FUZZ_CHECK(sh.empty() || sh == scan::kSheetMark, "unknown sheet mark");
    if (ch[0] != scan::kDoubleQuote)
      CORVANE_FUZZ_CHECK(t.at(i, scan::kQuoteClassColumn).empty(), "a quote class on a character that is no quote");

    Variant item(i);
    const ParenCheck check = addin.CheckChar(item, tableVar);
    const int kinds = check.bIsLeftParen + check.bIsRightParen + check.bIsArgSeparator + check.bIsNotParen;
    CORVANE_FUZZ_CHECK(kinds <= 2, "contradictory classification");
    CORVANE_FUZZ_CHECK(!check.bIsLeftParen || ch[0] == u'(', "a left parenthesis that is none");
    CORVANE_FUZZ_CHECK(!check.bIsRightParen || ch[0] == u')', "a right parenthesis that is none");
    CORVANE_FUZZ_CHECK(!check.bIsArgSeparator || ch == addin.strListSeparator, "a separator that is none");
    if (!str.empty())
      CORVANE_FUZZ_CHECK(!check.bIsLeftParen && !check.bIsRightParen && !check.bIsArgSeparator,
                         "a character of a string literal was classified as syntax");
  }
  for (const std::int32_t outside : {std::int32_t{0}, rows + 1, std::int32_t{-5}}) {
    Variant item(outside);
    bool refused = false;
    try {
      (void)addin.CheckChar(item, tableVar);
    } catch (const AutomationError&) {
      refused = true;
    }
    CORVANE_FUZZ_CHECK(refused, "CheckChar accepted a row outside the table");
  }
  return 0;
}
