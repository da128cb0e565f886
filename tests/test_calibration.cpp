// Character measurement and the calibration command: on the in-memory workbook with rigged
// widths, and with the real font (FreeType and fontconfig).
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "hosts/memory/memory_workbook.h"
#include "platform/posix/font_measurer.h"
#include "spacing/calibrate_command.h"
#include "spacing/calibration_store.h"
#include "support/corpus.h"
#include "support/fake_ui.h"
#include "windows/form.h"
#include "windows/picture_button.h"

namespace corvane {
namespace {

using memory::MemoryApplication;
using testsupport::FakeWindowSystem;

std::string Narrow(std::u16string_view s) { return corpus::Utf16ToUtf8(s); }

// ---- The calibration command on the in-memory workbook; a refused host call or save is the
// fault-injection table's (test_fault_injection) and the program's (test_format_cli) ----

// The width relative to the space from three fits (one, two and 100 copies) less the cell's
// overhead, to four places in the regional format. At the end the scratch workbook is closed
// unsaved, screen updating is on and the progress window gone before the closing notice.
TEST(CalibrationCommand, AFullRunStoresEveryOrdinaryCodeAndEndsTidy) {
  FakeWindowSystem fake;
  // Whole pixels at 96 dpi (the fake's widths are at 120 dpi), so that the fits carry no
  // rounding: the space and most characters are 6 pixels, W twice that, i half.
  fake.measurer.charWidthPx = 7.5;
  fake.measurer.widths[u'W'] = 15.0;
  fake.measurer.widths[u'i'] = 3.75;
  fake.measurer.widths[u'j'] = 4.625;  // fits of 9, 13 and 375 pixels: (375 - 5) / 600
  const auto app = MemoryApplication::Create(&fake.measurer);
  app->SetActiveCell(app->AddWorkbook()->Sheet(1)->Range(1, 1, 1, 1));
  app->SetStandardFont(u"Arial");
  cls_corvane corvane;
  ObjectRef held = app;
  corvane.SetExcelApp(held);
  fake.ui.defaultModal = [](windows::Form& form) { windows::ClickPictureButton(form.ControlNamed(u"imgButtonOkMain")); };
  std::shared_ptr<memory::MemoryWorkbook> scratch;
  std::vector<float> progress;
  for (std::int32_t k = 2; k <= 767; ++k) progress.push_back(static_cast<float>(k));
  fake.ui.onDoEvents = [&] {
    if (app->OpenWorkbooks().size() > 1) scratch = app->OpenWorkbooks().back();
  };
  PlatformServices services = Services();
  services.regional = RegionalFormat{u',', u'.'};
  ScopedServices comma(services);
  corvane.cvCalibrateSpacing();

  EXPECT_EQ(fake.store.Keys(u"Corvane", u"Spacing_Arial").size(), 766U);
  EXPECT_EQ(fake.store.Snapshot().size(), 766U) << "nothing but Spacing_Arial is written";
  // "=" and "'" are measured as text, like every other character.
  for (const auto& [c, width] : std::map<char16_t, const char*>{
           {u' ', "1"}, {u'W', "2"}, {u'i', "0,5"}, {u'j', "0,6167"}, {u'=', "1"}, {u'\'', "1"}})
    EXPECT_EQ(Narrow(calibration::ReadWidthText(u"Spacing_Arial", c)), width) << static_cast<char>(c);
  EXPECT_EQ(fake.ui.ProgressValues(), progress);
  ASSERT_TRUE(scratch);
  EXPECT_FALSE(scratch->ClosedWithSave());
  EXPECT_EQ(app->OpenWorkbooks().size(), 1U);
  EXPECT_TRUE(app->ScreenUpdating());
  EXPECT_EQ(mdl_Support::Module().frmCalibrationProgress, nullptr);
  ASSERT_EQ(fake.ui.Messages().size(), 1U);
  EXPECT_EQ(fake.ui.Messages().front().prompt, calibration::kCalibrationDoneNotice);
  ASSERT_EQ(fake.ui.Log().size(), 4U);
  EXPECT_EQ(fake.ui.Log()[1].kind, testsupport::FakeUi::Record::Kind::Unload);
  EXPECT_EQ(fake.ui.Log()[1].form, u"frmCalibrationProgress");
  Variant none;
  bool clear = true;
  (void)mdl_Support::ExcelApp(none, clear);
}

// ---- With the real font ----

// A line's width is the sum of its characters' advances (no kerning, no rounding) in the
// resolved font, any face name falling back to an installed one; control characters add
// nothing, a lone surrogate is a replacement character.
TEST(RealFont, CalibratedWidthsAreTheFontsAdvances) {
  posix::FontMeasurer measurer;
  FakeWindowSystem fake;
  if (Narrow(measurer.ResolvedFace(u"Calibri")).find("Carlito (/") != 0 ||
      Narrow(measurer.ResolvedFace(u"Arial")).find("Liberation Sans (/") != 0)
    GTEST_SKIP() << "Calibri or Arial is not served by Carlito or Liberation Sans here "
                    "(Debian: fonts-crosextra-carlito, fonts-liberation2)";
  const auto px = [&](std::u16string_view text, std::u16string_view face = u"Calibri", double points = 11,
                      double dpi = 96) { return measurer.LineWidthPixels(text, face, points, dpi); };
  const std::u16string formula = u"=IF(SUM(A1:B7)>0,VLOOKUP($C$2,'Sheet 2'!AV:To,4,FALSE),\"n/a\")";
  double sum = 0;
  for (const char16_t c : formula) sum += px(std::u16string(1, c));
  EXPECT_NEAR(px(formula), sum, 1e-9);
  EXPECT_NE(px(formula, u"Arial"), px(formula));
  EXPECT_NEAR(px(u" "), 463.0 / 2048 * 11 * 96 / 72, 1e-9) << "Calibri's space is 463/2048 em";
  EXPECT_NEAR(px(formula, u"Calibri", 9, 120), px(formula) * (9.0 * 120) / (11 * 96), 1e-9);
  EXPECT_EQ(px(u"\n\r\t") + px(std::u16string(1, u'\0')), 0);
  EXPECT_NEAR(px(std::u16string{0xD800, u'a'}), px(u"\uFFFD") + px(u"a"), 1e-9);
  for (const std::u16string& face : {std::u16string(u"No Such Font 4711"), std::u16string(u"nul\0inside", 10)}) {
    EXPECT_FALSE(measurer.ResolvedFace(face).empty());
    EXPECT_GT(px(u"Calibrate now?", face), 0);
  }

  auto app = MemoryApplication::Create(&measurer);
  // The column fit is the font's advance width rounded up to whole pixels, with the padding.
  auto fitted = app->AddWorkbook()->Sheet(1)->Range(1, 1, 1, 1);
  fitted->SetValue(Variant(u"'\u00E9t\u00E9 WWW"));
  fitted->EntireColumnAutoFit();
  EXPECT_DOUBLE_EQ(fitted->EntireColumnWidth(), std::ceil(px(u"\u00E9t\u00E9 WWW") + memory::kColumnPaddingPixels) * 0.75);

  app->SetActiveCell(fitted);
  cls_corvane corvane;
  ObjectRef held = app;
  corvane.SetExcelApp(held);
  fake.ui.QueueClick(u"Ok");
  corvane.cvCalibrateSpacing();
  const auto ratio = [&](const std::u16string& section, std::int32_t c) {
    return ParseNumber(calibration::ReadWidthText(section, c), Regional());
  };
  // A mixed text measured through the stored ratios agrees with FreeType within a pixel, in the
  // space unit the host measured (what the ratios are relative to).
  std::u16string text = u"=IFERROR(VLOOKUP($B7,'Sheet 2'!A:Z,MATCH(\"Total\",Sheet3!1:1,0),FALSE),\"\u00E9\u00DF\u00C5\")";
  for (char16_t c = u'a'; text.size() < 100; c = c == u'z' ? u'0' : static_cast<char16_t>(c + 1)) text += c;
  std::shared_ptr<HostRange> rg = app->AddWorkbook()->Sheet(1)->Cells(1);
  double space = corvane.GetSpaceWidth(rg);
  const double spacePx = space / 100 / 0.75;
  double ratios = 0.0;
  for (char16_t c : text) ratios += ratio(u"Spacing_Calibri", c);
  EXPECT_NEAR(ratios * spacePx, px(text), 1.0);

  // Characters Carlito lacks are measured in the font fontconfig falls back to.
  for (std::int32_t code : {0x05D0, 0x0950, 0x2603, 0x4E2D}) {
    SCOPED_TRACE(code);
    std::u16string special = u"Special_Calibri";
    corvane.CalibrateOneChar(code, rg, special, space);
    const double width = px(std::u16string(1, static_cast<char16_t>(code)));
    ASSERT_GT(width, 0.0);
    EXPECT_NEAR(ratio(special, code) * spacePx, width, 0.03);
  }
}

}  // namespace
}  // namespace corvane
