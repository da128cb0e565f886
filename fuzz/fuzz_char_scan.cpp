// The character scan and CheckChar over arbitrary UTF-16 and arbitrary lengths.
// Properties: the scan never fails loudly; for a length from 1 to the text's, the table has one
// row per character holding that character and only the known marks; a scan does not depend on
// what the object scanned before; CheckChar classifies every row and never calls a character of a
// string literal syntax (rows outside the table are test_lexer's).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "addin/cls_corvane.h"
#include "base/automation.h"
#include "addin/char_scan.h"
#include "fuzz_input.h"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const unsigned lengthMode = data[0] % 8;
  const char16_t separators[] = {u',', u';', u'"', u'(', u'\'', u' ', u'\\', u'.'};
  const std::u16string text = fuzzing::TextOf(data, size, 2);
  const auto full = static_cast<std::int32_t>(text.size());
  // A shorter length scans a prefix; a longer one, 0, a fraction or text fail quietly.
  const Variant lengths[] = {Variant(full - 1), Variant(full + 1), Variant(std::int32_t{0}), Variant(full + 0.5),
                             Variant(u"not a number"), Variant(full)};
  const auto scan = [&](cls_corvane& addin, const std::u16string& t, Variant length) {
    Variant formula(t);
    return addin.PopulateCharArray(formula, length);
  };
  cls_corvane addin, fresh;
  addin.strListSeparator.assign(1, separators[data[1] % 8]);
  (void)scan(addin, text + u"\"'(", Variant(full + 3));  // leaves state behind, which must not matter
  Variant table = scan(addin, text, lengths[std::min(lengthMode, 5U)]);
  CORVANE_FUZZ_CHECK(table == scan(fresh, text, lengths[std::min(lengthMode, 5U)]), "the scan depends on an earlier scan");
  if (table.isEmpty()) {
    CORVANE_FUZZ_CHECK((lengthMode >= 1 && lengthMode <= 4) || full <= 1, "a scan of a valid length failed");
    return 0;
  }
  const StringTable& t = table.table();
  CORVANE_FUZZ_CHECK(t.rowLower() == 1 && t.colLower() == 1 && t.colUpper() == 4 && t.rows() >= 1 && t.rows() <= full, "table bounds");
  for (std::int32_t i = 1; i <= t.rows(); ++i) {
    const std::u16string_view ch = t.at(i, scan::kCharColumn), quote = t.at(i, scan::kQuoteClassColumn);
    const std::u16string_view str = t.at(i, scan::kStringMarkColumn), sh = t.at(i, scan::kSheetMarkColumn);
    CORVANE_FUZZ_CHECK(ch.size() == 1 && ch[0] == text[static_cast<std::size_t>(i - 1)], "column 1 is not the character");
    CORVANE_FUZZ_CHECK(quote.empty() || (ch[0] == scan::kDoubleQuote && (quote == scan::kLeftQuote || quote == scan::kRightQuote ||
                                                                         quote == scan::kEscapeQuote || quote == scan::kLiteralQuote)),
                       "an unknown quote class, or one on a character that is no quote");
    CORVANE_FUZZ_CHECK((str.empty() || str == scan::kStringMark) && (sh.empty() || sh == scan::kSheetMark), "unknown mark");
    Variant item(i);
    const ParenCheck check = addin.CheckChar(item, table);
    CORVANE_FUZZ_CHECK(check.bIsLeftParen + check.bIsRightParen + check.bIsArgSeparator + check.bIsNotParen <= 2, "contradictory classification");
    CORVANE_FUZZ_CHECK((!check.bIsLeftParen || ch[0] == u'(') && (!check.bIsRightParen || ch[0] == u')') &&
                           (!check.bIsArgSeparator || ch == addin.strListSeparator),
                       "a parenthesis or separator that is none");
    CORVANE_FUZZ_CHECK(str.empty() || !(check.bIsLeftParen || check.bIsRightParen || check.bIsArgSeparator),
                       "a character of a string literal was classified as syntax");
  }
  return 0;
}
