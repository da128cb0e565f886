#include <gtest/gtest.h>

#include <cstdint>

#include "base/automation.h"
#include "base/utf8.h"

namespace corvane {
namespace {

const RegionalFormat kPoint{u'.', u','};
const RegionalFormat kComma{u',', u'.'};

TEST(Conversions, RegionalTextToNumber) {
  EXPECT_DOUBLE_EQ(ParseNumber(u"0.5714", kPoint), 0.5714);
  EXPECT_DOUBLE_EQ(ParseNumber(u"0,5714", kComma), 0.5714);
  EXPECT_DOUBLE_EQ(ParseNumber(u" -1,234.5 ", kPoint), -1234.5);
  EXPECT_DOUBLE_EQ(ParseNumber(u"1e3", kPoint), 1000.0);
  for (auto bad : {u"", u"Not Found", u"1.2.3", u"0.5x", u"e5", u"--1"}) {
    EXPECT_THROW(ParseNumber(bad, kPoint), AutomationError) << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
  }
  // A point is not a decimal separator where the comma is.
  EXPECT_THROW(ParseNumber(u"0.5", RegionalFormat{u',', u' '}), AutomationError);
}

TEST(Conversions, ShortestTextWithoutExponentOrTrailingZeros) {
  EXPECT_EQ(FormatShortest(1.0, kPoint), u"1");
  EXPECT_EQ(FormatShortest(0.5, kPoint), u"0.5");
  EXPECT_EQ(FormatShortest(0.5, kComma), u"0,5");
  EXPECT_EQ(FormatShortest(0.5714, kPoint), u"0.5714");
  EXPECT_EQ(FormatShortest(1.2857, kPoint), u"1.2857");
  EXPECT_EQ(FormatShortest(-0.0, kPoint), u"0");
  EXPECT_EQ(FormatShortest(1e-7, kPoint), u"0.0000001");
  EXPECT_EQ(FormatShortest(1e21, kPoint), u"1000000000000000000000");
}

TEST(Conversions, RoundingTiesGoToEven) {
  EXPECT_EQ(RoundToLong(2.5), 2);
  EXPECT_EQ(RoundToLong(3.5), 4);
  EXPECT_EQ(RoundToLong(-2.5), -2);
  EXPECT_EQ(RoundToLong(7.5), 8);
  EXPECT_DOUBLE_EQ(RoundHalfEven(0.57145, 4), 0.5714);  // a tie in decimal terms goes to the even digit
  EXPECT_DOUBLE_EQ(RoundHalfEven(1.28571428, 4), 1.2857);
  EXPECT_DOUBLE_EQ(RoundHalfEven(2.0, 4), 2.0);
  EXPECT_THROW(RoundToLong(3e9), AutomationError);
}

TEST(Conversions, ThousandsPattern) {
  EXPECT_EQ(FormatThousands(8192, kPoint), u"8,192");
  EXPECT_EQ(FormatThousands(8192, kComma), u"8.192");
  EXPECT_EQ(FormatThousands(1024, kPoint), u"1,024");
  EXPECT_EQ(FormatThousands(999, kPoint), u"999");
  EXPECT_EQ(FormatThousands(1234567, kPoint), u"1,234,567");
  EXPECT_EQ(FormatThousands(0, kPoint), u"0");
}

TEST(Conversions, VariantsConvertAsTheMacroLanguageDoes) {
  EXPECT_DOUBLE_EQ(ToDouble(Variant(true), kPoint), -1.0);  // True is -1
  EXPECT_DOUBLE_EQ(ToDouble(Variant(), kPoint), 0.0);
  EXPECT_EQ(ToLong(Variant(u"2.5"), kPoint), 2);
  EXPECT_THROW(ToDouble(Variant(Null{}), kPoint), AutomationError);
  EXPECT_THROW(ToDouble(Variant(u"Not Found"), kPoint), AutomationError);
  EXPECT_TRUE(ToBool(Variant(u"1"), kPoint));
  EXPECT_FALSE(ToBool(Variant(u"0"), kPoint));
  EXPECT_TRUE(ToBool(Variant(u"7"), kPoint));
  EXPECT_TRUE(ToBool(Variant(u"TRUE"), kPoint));
  EXPECT_TRUE(ToBool(Variant(std::int32_t{2}), kPoint));
  EXPECT_EQ(ToText(Variant(0.5), kComma), u"0,5");
  EXPECT_EQ(ToText(Variant(true), kPoint), u"True");
}

TEST(Arrays, BoundsAreChecked) {
  VariantArray spacing(2, 767);
  EXPECT_EQ(spacing.size(), 766);
  EXPECT_TRUE(spacing.at(2).isEmpty());
  EXPECT_THROW(spacing.at(1), AutomationError);
  EXPECT_THROW(spacing.at(768), AutomationError);
  spacing.at(767) = Variant(std::int32_t{1});
  VariantArray copy = spacing;  // value semantics
  copy.at(767) = Variant(u"x");
  EXPECT_EQ(spacing.at(767), Variant(std::int32_t{1}));

  StringTable table(1, 3, 1, 4);
  table.set(2, 2, u"LEFT_QUOTE");
  table.setChar(1, 1, u'=');
  EXPECT_EQ(table.at(2, 2), u"LEFT_QUOTE");
  EXPECT_EQ(table.at(1, 1), u"=");
  EXPECT_EQ(table.at(3, 4), u"");
  EXPECT_THROW(table.at(0, 1), AutomationError);
  EXPECT_THROW(table.at(1, 5), AutomationError);
  StringTable other = table;
  other.set(3, 3, u"Str");
  EXPECT_EQ(table.at(3, 3), u"");  // copies do not share pooled strings they add
  EXPECT_EQ(other.at(2, 2), u"LEFT_QUOTE");
}

// Cells are compared by handle in the hot loops: equal texts must get equal handles however
// they were set. A table built from characters holds them in column 1 and nothing else.
TEST(Arrays, TableHandlesAreCanonicalAndNewTablesStartEmpty) {
  StringTable table(1, 4, 1, 4);
  table.set(1, 3, u"Str");
  table.set(2, 3, u"Some long text");
  table.set(3, 3, u"Some long text");
  table.column(3)[3] = table.Intern(u"Str");  // row 4
  EXPECT_EQ(table.handle(1, 3), StringTable::CommonHandle(u"Str"));
  EXPECT_EQ(table.handle(4, 3), table.handle(1, 3));
  EXPECT_EQ(table.handle(2, 3), table.handle(3, 3));
  EXPECT_NE(table.handle(2, 3), table.handle(1, 3));
  EXPECT_EQ(table.at(2, 3), u"Some long text");
  EXPECT_EQ(table.at(4, 4), u"");

  StringTable moved = std::move(table);
  EXPECT_EQ(table.rows(), 0);  // NOLINT(bugprone-use-after-move): a moved-from table is empty
  EXPECT_THROW(table.at(1, 1), AutomationError);
  EXPECT_EQ(moved.at(4, 3), u"Str");
  table = StringTable(1, 2, 1, 1);  // assigning over a moved-from table
  EXPECT_EQ(table.at(2, 1), u"");

  const std::u16string chars = u"=A(\uFFFF";
  for (std::int32_t cols = 1; cols <= 4; ++cols) {
    const StringTable fromChars(chars, cols);
    ASSERT_EQ(fromChars.rows(), 4);
    ASSERT_EQ(fromChars.cols(), cols);
    for (std::int32_t r = 1; r <= 4; ++r) {
      EXPECT_EQ(fromChars.at(r, 1), chars.substr(static_cast<std::size_t>(r - 1), 1)) << r;
      for (std::int32_t c = 2; c <= cols; ++c) EXPECT_EQ(fromChars.at(r, c), u"") << r << "," << c;
    }
  }
  EXPECT_EQ(StringTable(chars, 4).handle(3, 1), StringTable::CommonHandle(u"("));
}

// Every part that meets bytes decodes through these: boundaries of each length, each kind of
// error, and lone surrogates on the way out.
TEST(Utf8, BoundariesErrorsAndLoneSurrogates) {
  for (const char32_t cp : {0x0u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xD7FFu, 0xE000u, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
    std::string bytes;
    utf8::AppendUtf8(bytes, cp);
    const utf8::Decoded d = utf8::DecodeUtf8(bytes, 0);
    EXPECT_EQ(d.error, utf8::Error::None) << static_cast<std::uint32_t>(cp);
    EXPECT_EQ(static_cast<std::uint32_t>(d.codePoint), static_cast<std::uint32_t>(cp));
    EXPECT_EQ(d.length, bytes.size());
    std::u16string units;
    utf8::AppendUtf16(units, cp);
    std::size_t at = 0;
    EXPECT_EQ(static_cast<std::uint32_t>(utf8::NextCodePoint(units, at)), static_cast<std::uint32_t>(cp));
    EXPECT_EQ(at, units.size());
    EXPECT_EQ(utf8::ToUtf8(units), bytes);
  }
  const struct {
    const char* bytes;
    utf8::Error error;
  } bad[] = {{"\x80", utf8::Error::BadLead},       {"\xFF", utf8::Error::BadLead},
             {"\xE2\x82", utf8::Error::CutShort},   {"\xE2(\xAC", utf8::Error::CutShort},
             {"\xC0\xAF", utf8::Error::Overlong},   {"\xE0\x80\xAF", utf8::Error::Overlong},
             {"\xED\xA0\x80", utf8::Error::Surrogate}, {"\xF4\x90\x80\x80", utf8::Error::TooLarge}};
  for (const auto& b : bad) EXPECT_EQ(utf8::DecodeUtf8(b.bytes, 0).error, b.error) << b.bytes;
  EXPECT_EQ(utf8::Utf8ToUtf16("a\xFF\xE2\x82\xAC" "b", [](unsigned char c) { return char16_t(0xDC00 + c); }),
            u"a\xDCFF\x20AC" u"b");
  EXPECT_EQ(utf8::ToUtf8(u"x\xD800y\xDC00"), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
}

}  // namespace
}  // namespace corvane
