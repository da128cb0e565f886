// The add-in's character table (PopulateCharArray) as a macro sees it: quote classes, literal and
// sheet-name marks. CheckChar is the Excel end-to-end test's (a parenthesis in and out of a
// literal) and the fuzz target's (never syntax inside a literal).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addin/cls_corvane.h"
#include "formatting/char_scan.h"
#include "support/corpus.h"

namespace corvane {
namespace {

using corpus::Utf16ToUtf8;

StringTable ScanOf(cls_corvane& addin, std::u16string_view formula) {
  Variant text{std::u16string(formula)};
  Variant length{static_cast<std::int32_t>(formula.size())};
  return addin.PopulateCharArray(text, length).table();
}

// Per row: the quote class's letter (Left, Right, Escape, literal Quote), "S" for a literal mark
// and "H" for a sheet-name mark, "." for none; the three lines joined by "|".
std::string Marks(const StringTable& t) {
  std::string quotes, literal, sheet;
  for (std::int32_t row = 1; row <= t.rowUpper(); ++row) {
    const std::u16string_view q = t.at(row, scan::kQuoteClassColumn);
    quotes += q == scan::kLeftQuote ? 'L' : q == scan::kRightQuote ? 'R' : q == scan::kEscapeQuote ? 'E' : q == scan::kLiteralQuote ? 'Q' : q.empty() ? '.' : '?';
    literal += t.at(row, scan::kStringMarkColumn) == scan::kStringMark ? 'S' : '.';
    sheet += t.at(row, scan::kSheetMarkColumn) == scan::kSheetMark ? 'H' : '.';
  }
  return quotes + "|" + literal + "|" + sheet;
}

TEST(CharScan, QuoteClassesAndMarks) {
  const std::vector<std::pair<std::u16string, std::string>> cases = {
      {u"=A1&\"x\"", "....L.R|.....S.|......."},
      {u"=\"a\"\"b\"&(1,2)", ".L.EQ.R......|..S.SS.......|............."},
      {u"=\"\"\"\"", ".LEQR|...S.|....."},
      {u"=\"ab(", ".L...|..SSS|....."},  // never closed: marked to the end
      {u"=\"x\"\"", ".L.EQ|..S.S|....."},
      {u"='Bob''s Data'!A1", ".................|.................|.HHHHHHHHHHHHH..."},
      {u"='Bob''", ".......|.......|.HHHHHH"},
      {u"='A'!A1+'B C'!B2", "................|................|.HHH....HHHHH..."},
      {u"=\"it's\"&'X'!A1", ".L....R.......|..SSSS........|........HHH..."},
      {u"='[Book1.xls]Sheet 1'!A1", "........................|........................|.HHHHHHHHHHHHHHHHHHHH..."},
  };
  cls_corvane addin;  // one object for all: every scan starts afresh
  Variant text(u"=\"ab\""), length(u"3");  // a shorter length, held as text, scans a prefix
  EXPECT_EQ(Marks(addin.PopulateCharArray(text, length).table()), ".L.|..S|...");
  for (const auto& [formula, marks] : cases) {
    SCOPED_TRACE(Utf16ToUtf8(formula));
    const StringTable t = ScanOf(addin, formula);
    ASSERT_EQ(t.colUpper(), 4);
    for (std::int32_t row = 1; row <= t.rowUpper(); ++row) EXPECT_EQ(t.at(row, 1), formula.substr(row - 1, 1));
    EXPECT_EQ(Marks(t), marks);
  }
}

}  // namespace
}  // namespace corvane
