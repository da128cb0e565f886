// Character measurement and the calibration command: on the in-memory workbook with rigged
// widths, and with the real font (FreeType and fontconfig).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
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
// fault-injection table's (test_fault_injection) and the program's (test_cli_store_faults) ----

struct Rig {
  Rig() {
    // Whole pixels at 96 dpi (the fake's widths are at 120 dpi), so that the fits carry no
    // rounding: the space and most characters are 6 pixels, W twice that, i half.
    fake.measurer.charWidthPx = 7.5;
    fake.measurer.widths[u'W'] = 15.0;
    fake.measurer.widths[u'i'] = 3.75;
    fake.measurer.widths[u'j'] = 4.625;  // fits of 9, 13 and 375 pixels: (375 - 5) / 600
    app->SetActiveCell(app->AddWorkbook()->Sheet(1)->Range(1, 1, 1, 1));
    ObjectRef held = app;
    corvane.SetExcelApp(held);
    fake.ui.defaultModal = [](windows::Form& form) {
      windows::ClickPictureButton(form.ControlNamed(u"imgButtonOkMain"));
    };
    fake.ui.onDoEvents = [this] {
      if (app->OpenWorkbooks().size() > 1) scratch = app->OpenWorkbooks().back();
      if (onDoEvents) onDoEvents();
    };
  }
  ~Rig() {
    Variant none;
    bool clear = true;
    (void)mdl_Support::ExcelApp(none, clear);
  }
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // The scratch workbook closed unsaved, screen updating on, the progress window gone.
  void ExpectPutBack() const {
    ASSERT_TRUE(scratch);
    EXPECT_FALSE(scratch->ClosedWithSave());
    EXPECT_EQ(app->OpenWorkbooks().size(), 1U);
    EXPECT_TRUE(app->ScreenUpdating());
    EXPECT_EQ(fake.ui.Open(u"frmCalibrationProgress"), nullptr);
    EXPECT_EQ(mdl_Support::Module().frmCalibrationProgress, nullptr);
  }
  std::vector<std::u16string> Codes(std::int32_t from, std::int32_t to) {
    std::vector<std::u16string> keys;
    for (std::int32_t k = from; k <= to; ++k) keys.push_back(DecimalKey(k));
    std::sort(keys.begin(), keys.end());
    return keys;
  }
  std::vector<float> Progress(std::int32_t from, std::int32_t to) {
    std::vector<float> values;
    for (std::int32_t k = from; k <= to; ++k) values.push_back(static_cast<float>(k));
    return values;
  }

  FakeWindowSystem fake;
  std::shared_ptr<MemoryApplication> app = MemoryApplication::Create(&fake.measurer);
  cls_corvane corvane;
  std::shared_ptr<memory::MemoryWorkbook> scratch;
  std::function<void()> onDoEvents;
};

// The width relative to the space from three fits (one, two and 100 copies) less the cell's
// overhead, to four places in the regional format.
TEST(CalibrationCommand, AFullRunStoresEveryOrdinaryCodeAndEndsTidy) {
  Rig rig;
  rig.app->SetStandardFont(u"Arial");
  PlatformServices services = Services();
  services.regional = RegionalFormat{u',', u'.'};
  ScopedServices comma(services);
  rig.corvane.cvCalibrateSpacing();
  EXPECT_EQ(rig.fake.store.Keys(u"Corvane", u"Spacing_Arial"), rig.Codes(2, 767));
  EXPECT_EQ(rig.fake.store.Snapshot().size(), 766U) << "nothing but Spacing_Arial is written";
  // "=" and "'" are measured as text, like every other character.
  for (const auto& [c, width] : std::map<char16_t, const char*>{
           {u' ', "1"}, {u'W', "2"}, {u'i', "0,5"}, {u'j', "0,6167"}, {u'=', "1"}, {u'\'', "1"}})
    EXPECT_EQ(Narrow(calibration::ReadWidthText(u"Spacing_Arial", c)), width) << static_cast<char>(c);
  rig.ExpectPutBack();
  EXPECT_EQ(rig.fake.ui.ProgressValues(), rig.Progress(2, 767));
  // The progress window was shown, then unloaded before the closing notice appeared.
  ASSERT_EQ(rig.fake.ui.Messages().size(), 1U);
  EXPECT_EQ(rig.fake.ui.Messages().front().prompt, calibration::kCalibrationDoneNotice);
  ASSERT_EQ(rig.fake.ui.Log().size(), 4U);
  EXPECT_EQ(rig.fake.ui.Log()[1].kind, testsupport::FakeUi::Record::Kind::Unload);
  EXPECT_EQ(rig.fake.ui.Log()[1].form, u"frmCalibrationProgress");
}

TEST(CalibrationCommand, CancelDuringACodeKeepsThatCodeAndStopsThere) {
  Rig rig;
  bool clicked = false;
  rig.onDoEvents = [&] {
    // Code 99 saved and on the bar: this is the measurement of code 100.
    const auto values = rig.fake.ui.ProgressValues();
    if (!clicked && !values.empty() && values.back() == 99.0F) {
      clicked = true;
      rig.fake.ui.Click(*rig.fake.ui.Open(u"frmCalibrationProgress"), u"imgButtonCancelMain");
    }
  };
  rig.corvane.cvCalibrateSpacing();
  EXPECT_EQ(rig.fake.store.Keys(u"Corvane", u"Spacing_Calibri"), rig.Codes(2, 100));
  EXPECT_EQ(rig.fake.ui.ProgressValues(), rig.Progress(2, 99));
  EXPECT_TRUE(rig.fake.ui.Messages().empty());
  rig.ExpectPutBack();  // the next run after a cancel is test_formulate_command's
}

// ---- With the real font ----

class RealFont : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Narrow(measurer.ResolvedFace(u"Calibri")).find("Carlito (/") != 0 ||
        Narrow(measurer.ResolvedFace(u"Arial")).find("Liberation Sans (/") != 0)
      GTEST_SKIP() << "Calibri or Arial is not served by Carlito or Liberation Sans here "
                      "(Debian: fonts-crosextra-carlito, fonts-liberation2)";
  }
  double Px(std::u16string_view text, std::u16string_view face = u"Calibri", double points = 11, double dpi = 96) {
    return measurer.LineWidthPixels(text, face, points, dpi);
  }

  posix::FontMeasurer measurer;
  FakeWindowSystem fake;
};

// A line's width is the sum of its characters' advances (no kerning, no rounding), linear in
// size and resolution; control characters add nothing, a lone surrogate is a replacement
// character, a pair one character; any face name falls back to an installed font.
TEST_F(RealFont, WidthsAreUnkernedAdvancesInTheResolvedFont) {
  const std::u16string formula = u"=IF(SUM(A1:B7)>0,VLOOKUP($C$2,'Sheet 2'!AV:To,4,FALSE),\"n/a\")";
  double sum = 0;
  for (const char16_t c : formula) sum += Px(std::u16string(1, c));
  EXPECT_NEAR(Px(formula), sum, 1e-9);
  EXPECT_NE(Px(formula, u"Arial"), Px(formula));
  EXPECT_EQ(Px(formula, u"Carlito"), Px(formula)) << "the same font file under its own name";
  EXPECT_NEAR(Px(u" "), 463.0 / 2048 * 11 * 96 / 72, 1e-9) << "Calibri's space is 463/2048 em";
  EXPECT_NEAR(Px(formula, u"Calibri", 9, 120), Px(formula) * (9.0 * 120) / (11 * 96), 1e-9);
  EXPECT_THROW(Px(formula, u"Calibri", std::numeric_limits<double>::quiet_NaN(), 96), AutomationError);
  EXPECT_EQ(Px(u"\n\r\t") + Px(std::u16string(1, u'\0')), 0);
  EXPECT_NEAR(Px(std::u16string{0xD800, u'a'}), Px(u"\uFFFD") + Px(u"a"), 1e-9);
  EXPECT_NE(Px(u"\xD835\xDC00"), 2 * Px(u"\uFFFD"));
  for (const std::u16string& face : {std::u16string(u"No Such Font 4711"), std::u16string(u"nul\0inside", 10)}) {
    EXPECT_FALSE(measurer.ResolvedFace(face).empty());
    EXPECT_GT(Px(u"Calibrate now?", face), 0);
  }
}

TEST_F(RealFont, CalibratedWidthsAreCarlitosWidths) {
  auto app = MemoryApplication::Create(&measurer);
  // The column fit is the font's advance width rounded up to whole pixels, with the padding.
  auto fitted = app->AddWorkbook()->Sheet(1)->Range(1, 1, 1, 1);
  fitted->SetValue(Variant(u"'\u00E9t\u00E9 WWW"));
  fitted->EntireColumnAutoFit();
  EXPECT_DOUBLE_EQ(fitted->EntireColumnWidth(), std::ceil(Px(u"\u00E9t\u00E9 WWW") + memory::kColumnPaddingPixels) * 0.75);

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
  double sum = 0.0;
  for (char16_t c : text) sum += ratio(u"Spacing_Calibri", c);
  EXPECT_NEAR(sum * spacePx, Px(text), 1.0);

  // Characters Carlito lacks are measured in the font fontconfig falls back to.
  for (std::int32_t code : {0x05D0, 0x0950, 0x2603, 0x4E2D}) {
    SCOPED_TRACE(code);
    std::u16string special = u"Special_Calibri";
    corvane.CalibrateOneChar(code, rg, special, space);
    const double px = Px(std::u16string(1, static_cast<char16_t>(code)));
    ASSERT_GT(px, 0.0);
    EXPECT_NEAR(ratio(special, code) * spacePx, px, 0.03);
  }
}

}  // namespace
}  // namespace corvane
