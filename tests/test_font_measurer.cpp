// Text measurement with fontconfig and FreeType, against the fonts installed on this machine.
#include "platform/posix/font_measurer.h"

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

namespace corvane::posix {
namespace {

constexpr double kPoints = 11;
constexpr double kDpi = 96;

// Whether fontconfig lists a font of exactly this family (checked without the measurer).
bool FamilyInstalled(const char* family) {
  struct Deleter {
    void operator()(FcConfig* p) const { FcConfigDestroy(p); }
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
    void operator()(FcObjectSet* p) const { FcObjectSetDestroy(p); }
    void operator()(FcFontSet* p) const { FcFontSetDestroy(p); }
  };
  const std::unique_ptr<FcConfig, Deleter> config(FcInitLoadConfigAndFonts());
  const std::unique_ptr<FcPattern, Deleter> pattern(FcPatternCreate());
  FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  const std::unique_ptr<FcObjectSet, Deleter> objects(FcObjectSetBuild(FC_FAMILY, nullptr));
  const std::unique_ptr<FcFontSet, Deleter> fonts(FcFontList(config.get(), pattern.get(), objects.get()));
  return fonts && fonts->nfont > 0;
}

std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

class FontMeasurerTest : public ::testing::Test {
 protected:
  double Width(std::u16string_view text, std::u16string_view face = u"Calibri", double points = kPoints,
               double dpi = kDpi) {
    return measurer.LineWidthPixels(text, face, points, dpi);
  }
  void RequireCarlito() {
    if (!FamilyInstalled("Carlito")) GTEST_SKIP() << "Carlito is not installed (Debian: fonts-crosextra-carlito)";
  }

  FontMeasurer measurer;
};

TEST_F(FontMeasurerTest, SpreadsheetFontsResolveToMetricCompatibleSubstitutes) {
  if (!FamilyInstalled("Carlito") || !FamilyInstalled("Liberation Sans")) {
    GTEST_SKIP() << "Carlito or Liberation Sans is not installed (Debian: fonts-crosextra-carlito, fonts-liberation2)";
  }
  const std::string calibri = Narrow(measurer.ResolvedFace(u"Calibri"));
  EXPECT_EQ(calibri.rfind("Carlito (/", 0), 0u) << calibri;
  EXPECT_NE(calibri.find("Carlito-Regular"), std::string::npos) << calibri;
  const std::string arial = Narrow(measurer.ResolvedFace(u"Arial"));
  EXPECT_EQ(arial.rfind("Liberation Sans (/", 0), 0u) << arial;
  EXPECT_NE(arial.find("LiberationSans-Regular"), std::string::npos) << arial;

  // Per-face caches stay apart while the caller switches faces.
  const std::u16string text = u"=INDEX(B:B,MATCH(\"W\",A:A,0))";
  const double inCalibri = Width(text, u"Calibri");
  const double inArial = Width(text, u"Arial");
  EXPECT_NE(inCalibri, inArial);
  EXPECT_EQ(Width(text, u"Calibri"), inCalibri);
  EXPECT_EQ(Width(text, u"Arial"), inArial);
  EXPECT_EQ(Width(text, u"Carlito"), inCalibri);  // the same font file under its own name
}

TEST_F(FontMeasurerTest, WidthsAddUpWithoutKerningOrRounding) {
  RequireCarlito();
  EXPECT_NEAR(Width(u"ab"), Width(u"a") + Width(u"b"), 1e-9);
  // "AV" and "To" are classic kerning pairs; a cell does not kern them.
  EXPECT_NEAR(Width(u"AV"), Width(u"A") + Width(u"V"), 1e-9);
  EXPECT_NEAR(Width(u"To"), Width(u"T") + Width(u"o"), 1e-9);

  const std::u16string formula = u"=IF(SUM(A1:B7)>0,VLOOKUP($C$2,'Sheet 2'!A:D,4,FALSE),\"n/a\")";
  double sum = 0;
  for (const char16_t c : formula) sum += Width(std::u16string(1, c));
  EXPECT_NEAR(Width(formula), sum, 1e-9);
  // Unhinted advances are fractional at this size; the caller does the rounding.
  EXPECT_NE(Width(u"i"), std::round(Width(u"i")));
}

TEST_F(FontMeasurerTest, WidthsAndLineHeightScaleLinearlyWithSize) {
  const std::u16string text = u"=SUM(A1:A10)";
  const double base = Width(text);
  ASSERT_GT(base, 0);
  EXPECT_NEAR(Width(text, u"Calibri", 22, kDpi), 2 * base, 1e-9);
  EXPECT_NEAR(Width(text, u"Calibri", kPoints, 192), 2 * base, 1e-9);
  EXPECT_NEAR(Width(text, u"Calibri", 9, 120), base * (9.0 * 120) / (kPoints * kDpi), 1e-9);
  EXPECT_EQ(Width(text, u"Calibri", 0, kDpi), 0);

  const double height = measurer.LineHeightPixels(u"Calibri", kPoints, kDpi);
  EXPECT_NEAR(measurer.LineHeightPixels(u"Calibri", 22, kDpi), 2 * height, 1e-9);
  EXPECT_NEAR(measurer.LineHeightPixels(u"Calibri", kPoints, 192), 2 * height, 1e-9);

  // Sizes that mean nothing are reported, not measured.
  EXPECT_THROW(Width(text, u"Calibri", -1, kDpi), AutomationError);
  EXPECT_THROW(Width(text, u"Calibri", std::numeric_limits<double>::quiet_NaN(), kDpi), AutomationError);
  EXPECT_THROW(Width(text, u"Calibri", kPoints, std::numeric_limits<double>::infinity()), AutomationError);
  EXPECT_THROW(measurer.LineHeightPixels(u"Calibri", kPoints, -96), AutomationError);
}

TEST_F(FontMeasurerTest, CarlitoHasCalibrisProportions) {
  RequireCarlito();
  const double em = kPoints * kDpi / 72;
  // Calibri's space is 463/2048 em; Carlito copies Calibri's advances.
  EXPECT_NEAR(Width(u" "), 463.0 / 2048 * em, 1e-9);
  EXPECT_GT(Width(u"W"), 3 * Width(u"i"));
  EXPECT_NEAR(Width(u" "), Width(u"i"), 0.1 * Width(u"i"));
  EXPECT_EQ(Width(u"0"), Width(u"9"));  // tabular digits
  // A line is taller than the em and shorter than one and a half ems.
  const double height = measurer.LineHeightPixels(u"Calibri", kPoints, kDpi);
  EXPECT_GT(height, em);
  EXPECT_LT(height, 1.5 * em);
}

TEST_F(FontMeasurerTest, CharactersTheFontLacksTakeAFallbackWidth) {
  RequireCarlito();
  // U+0378 is unassigned, so no font has it: it takes Carlito's missing-glyph advance.
  const double missing = Width(u"\u0378");
  EXPECT_GT(missing, 0);
  // Carlito has no Hebrew; a font that has alef supplies its width.
  if (FamilyInstalled("DejaVu Sans")) {
    const double alef = Width(u"\u05D0");
    EXPECT_GT(alef, 0);
    EXPECT_NE(alef, missing);
    EXPECT_NEAR(Width(u"a\u05D0b"), Width(u"a") + alef + Width(u"b"), 1e-9);
  }
  // Han characters: a fallback font's width if one is installed, else the missing glyph's.
  EXPECT_GT(Width(u"\u4E2D"), 0);
}

TEST_F(FontMeasurerTest, SurrogatesAndControlCharacters) {
  const double replacement = Width(u"\uFFFD");
  EXPECT_EQ(Width(u"\xD800"), replacement);  // lone high surrogate at the end
  EXPECT_NEAR(Width(std::u16string{0xD800, u'a'}), replacement + Width(u"a"), 1e-9);  // before a letter
  EXPECT_NEAR(Width(u"a\xDC00"), Width(u"a") + replacement, 1e-9);                   // lone low surrogate
  // A pair is one character (U+1D400), not two replacements.
  const double pair = Width(u"\xD835\xDC00");
  EXPECT_GT(pair, 0);
  EXPECT_NE(pair, 2 * replacement);

  EXPECT_EQ(Width(u""), 0);
  EXPECT_EQ(Width(u"\n\r\t"), 0);
  EXPECT_EQ(Width(std::u16string(1, u'\0')), 0);
  EXPECT_NEAR(Width(u"ab\ncd"), Width(u"abcd"), 1e-9);
}

TEST_F(FontMeasurerTest, AnyFaceNameFallsBackToAnInstalledFont) {
  for (const std::u16string& face : {std::u16string(u"No Such Font 4711"), std::u16string(u"Verdana"),
                                    std::u16string(u""), std::u16string(u"Odd:name-Bold"),
                                    std::u16string(u"nul\0inside", 10), std::u16string(u"\xD800")}) {
    SCOPED_TRACE(Narrow(face));
    EXPECT_FALSE(measurer.ResolvedFace(face).empty());
    EXPECT_GT(Width(u"Calibrate now?", face), 0);
    EXPECT_GT(measurer.LineHeightPixels(face, 9, kDpi), 0);
  }
}

}  // namespace
}  // namespace corvane::posix
