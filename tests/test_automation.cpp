#include <gtest/gtest.h>

#include <cstdint>

#include "base/automation.h"
#include "base/utf8.h"

namespace corvane {
namespace {

const RegionalFormat kPoint{u'.', u','};
const RegionalFormat kComma{u',', u'.'};

// Numbers as the user's regional settings write them: read, written shortest, grouped, rounded.
TEST(Conversions, RegionalNumbersAndRoundingAsTheMacroLanguageDoes) {
  EXPECT_DOUBLE_EQ(ParseNumber(u"0,5714", kComma), 0.5714);
  EXPECT_DOUBLE_EQ(ParseNumber(u" -1,234.5 ", kPoint), -1234.5);
  for (auto bad : {u"", u"Not Found", u"1.2.3", u"0.5x", u"--1"}) EXPECT_THROW(ParseNumber(bad, kPoint), AutomationError);
  EXPECT_THROW(ParseNumber(u"0.5", RegionalFormat{u',', u' '}), AutomationError) << "a point where the comma is";
  EXPECT_EQ(FormatShortest(0.5714, kPoint), u"0.5714");
  EXPECT_EQ(FormatShortest(1e-7, kPoint), u"0.0000001");
  EXPECT_EQ(FormatShortest(0.5, kComma), u"0,5");
  EXPECT_EQ(FormatThousands(1234567, kPoint), u"1,234,567");
  for (const auto& [value, rounded] : {std::pair{2.5, 2}, {3.5, 4}, {-2.5, -2}}) EXPECT_EQ(RoundToLong(value), rounded);
  EXPECT_THROW(RoundToLong(3e9), AutomationError);
  EXPECT_DOUBLE_EQ(RoundHalfEven(0.57145, 4), 0.5714) << "a tie in decimal terms goes to the even digit";
  EXPECT_DOUBLE_EQ(ToDouble(Variant(true), kPoint), -1.0) << "True is -1";
  EXPECT_THROW(ToDouble(Variant(u"Not Found"), kPoint), AutomationError);
  EXPECT_EQ(ToText(Variant(0.5), kComma), u"0,5");
}

// Every part that meets bytes decodes through these: boundaries of each length, and lone
// surrogates on the way out. Each kind of error is test_format_cli's (with its message).
TEST(Utf8, BoundariesAndLoneSurrogates) {
  for (const char32_t cp : {0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
    std::string bytes;
    utf8::AppendUtf8(bytes, cp);
    const utf8::Decoded d = utf8::DecodeUtf8(bytes, 0);
    EXPECT_TRUE(d.error == utf8::Error::None && d.codePoint == cp && d.length == bytes.size()) << bytes;
    std::u16string units;
    utf8::AppendUtf16(units, cp);
    EXPECT_EQ(utf8::ToUtf8(units), bytes);
  }
  EXPECT_EQ(utf8::ToUtf8(u"x\xD800y\xDC00"), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
}

}  // namespace
}  // namespace corvane
