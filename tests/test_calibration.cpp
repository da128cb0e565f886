// Character measurement and the calibration command: on a scripted measuring cell, on the
// in-memory workbook with rigged widths, and with the real font.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "hosts/memory/memory_workbook.h"
#include "platform/posix/font_measurer.h"
#include "spacing/calibration_store.h"
#include "support/corpus.h"
#include "support/fake_ui.h"

namespace corvane {
namespace {

using memory::MemoryApplication;
using memory::MemoryWorkbook;
using testsupport::FakeWindowSystem;

template <class F>
std::int32_t ErrorOf(F&& call) {
  try {
    call();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

std::string Narrow(std::u16string_view s) { return corpus::Utf16ToUtf8(s); }

// A measuring cell whose fitted width is looked up by the text it holds, for exact widths in
// points. Members the measurement does not use fail.
class ScriptedCell final : public HostRange {
 public:
  std::map<std::u16string, double> widths;  // shown text -> width in points
  std::u16string lastValue;

  void Script(char16_t c, double w1, double w2, double w100) {
    widths[std::u16string(1, c)] = w1;
    widths[std::u16string(2, c)] = w2;
    widths[std::u16string(100, c)] = w100;
  }
  void SetValue(const Variant& value) override { lastValue = value.string(); }
  void SetWrapText(const Variant&) override {}
  void EntireColumnAutoFit() override {
    const auto it = widths.find(lastValue.substr(1));
    if (it == widths.end()) throw Unused();
    fitted_ = it->second;
  }
  double EntireColumnWidth() override { return fitted_; }

  Variant HasArray() override { throw Unused(); }
  std::shared_ptr<HostRange> CurrentArray() override { throw Unused(); }
  std::int32_t RowsCount() override { throw Unused(); }
  std::int32_t ColumnsCount() override { throw Unused(); }
  std::shared_ptr<HostRange> Cells(std::int32_t, std::int32_t) override { throw Unused(); }
  std::u16string Formula() override { throw Unused(); }
  void SetFormula(const std::u16string&) override { throw Unused(); }
  void SetFormulaArray(const std::u16string&) override { throw Unused(); }
  Variant WrapText() override { throw Unused(); }
  std::shared_ptr<HostSheet> Parent() override { throw Unused(); }
  std::u16string Address(bool, bool) override { throw Unused(); }

 private:
  static AutomationError Unused() { return AutomationError(err::kApplicationDefined, u"not scripted"); }
  double fitted_ = 0.0;
};

TEST(Measurement, RelativeWidthFromThreeFits) {
  struct Case {
    const char* name;
    double w1, w2, w100;  // the character's fits, in points
    RegionalFormat regional;
    const char* expected;
  };
  // The space: overhead 2·15 − 20 = 10, so 100 spaces without it are 510 − 10 = 500 points.
  const std::vector<Case> cases = {
      {"worked example: overhead 10, (1010 - 10) / 500", 20, 30, 1010, {}, "2"},
      {"one and two copies fit alike: the overhead is that width", 20, 20, 770, {}, "1.5"},
      {"four places", 20, 30, 295.714285, {}, "0.5714"},
      {"a comma region", 20, 30, 260, {u',', u'.'}, "0,5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWindowSystem fake;
    Services().regional = c.regional;
    auto cell = std::make_shared<ScriptedCell>();
    cell->Script(u' ', 15, 20, 510);
    cell->Script(u'X', c.w1, c.w2, c.w100);
    std::shared_ptr<HostRange> rg = cell;
    cls_corvane corvane;
    double space = corvane.GetSpaceWidth(rg);
    EXPECT_DOUBLE_EQ(space, 500.0);
    EXPECT_EQ(fake.store.SaveCount(), 0U) << "measuring the space writes nothing";

    std::int32_t code = u'X';
    std::u16string section = u"Spacing_Arial";
    EXPECT_TRUE(corvane.CalibrateOneChar(code, rg, section, space));
    EXPECT_EQ(Narrow(calibration::ReadWidthText(u"Spacing_Arial", 88)), c.expected);
    EXPECT_EQ(fake.store.SaveCount(), 1U);
  }
}

TEST(Measurement, NothingIsSavedFromAFailedOrMeaninglessMeasurement) {
  FakeWindowSystem fake;
  auto cell = std::make_shared<ScriptedCell>();
  cell->Script(u'X', 20, 30, 1010);
  std::shared_ptr<HostRange> rg = cell;
  cls_corvane corvane;
  std::u16string section = u"Spacing_Arial";
  std::int32_t code = u'X';
  // A space measured zero wide would make every ratio meaningless.
  double zero = 0.0;
  EXPECT_EQ(ErrorOf([&] { corvane.CalibrateOneChar(code, rg, section, zero); }), 11);
  cell->widths.erase(std::u16string(100, u'X'));  // the host refuses the last fit
  double space = 500.0;
  EXPECT_EQ(ErrorOf([&] { corvane.CalibrateOneChar(code, rg, section, space); }), err::kApplicationDefined);
  EXPECT_EQ(fake.store.SaveCount(), 0U);
}

// ---- The calibration command on the in-memory workbook ----

// The fakes and a workbook application handed to the add-in object; catches the scratch
// workbook of a run while it is open.
struct Rig {
  Rig() {
    // Whole pixels at 96 dpi (the fake's widths are at 120 dpi), so that the fits carry no
    // rounding: the space and most characters are 6 pixels, W twice that, i half.
    fake.measurer.charWidthPx = 7.5;
    fake.measurer.widths[u'W'] = 15.0;
    fake.measurer.widths[u'i'] = 3.75;
    app->SetActiveCell(app->AddWorkbook()->Sheet(1)->Range(1, 1, 1, 1));
    ObjectRef held = app;
    corvane.SetExcelApp(held);
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

  std::set<std::u16string> KeysOf(std::u16string_view section) const {
    const auto keys = fake.store.Keys(calibration::kAppName, section);
    return {keys.begin(), keys.end()};
  }
  void ExpectPutBack() const {
    if (scratch) {
      EXPECT_FALSE(scratch->ClosedWithSave());
    }
    EXPECT_EQ(app->OpenWorkbooks().size(), 1U) << "the scratch workbook is closed";
    EXPECT_TRUE(app->ScreenUpdating());
    EXPECT_EQ(fake.ui.Open(u"frmCalibrationProgress"), nullptr);
    EXPECT_EQ(mdl_Support::Module().frmCalibrationProgress, nullptr);
  }

  FakeWindowSystem fake;
  std::shared_ptr<MemoryApplication> app = MemoryApplication::Create(&fake.measurer);
  cls_corvane corvane;
  std::shared_ptr<MemoryWorkbook> scratch;
  std::function<void()> onDoEvents;
};

std::set<std::u16string> Codes(std::int32_t from, std::int32_t to) {
  std::set<std::u16string> keys;
  for (std::int32_t k = from; k <= to; ++k) keys.insert(DecimalKey(k));
  return keys;
}

std::vector<float> Progress(std::int32_t from, std::int32_t to) {
  std::vector<float> values;
  for (std::int32_t k = from; k <= to; ++k) values.push_back(static_cast<float>(k));
  return values;
}

TEST(CalibrationCommand, SingleCharacterGoesOnlyToTheSectionItIsGiven) {
  Rig rig;
  std::shared_ptr<HostRange> rg = rig.app->OpenWorkbooks().front()->Sheet(1)->Cells(1);
  double space = rig.corvane.GetSpaceWidth(rg);
  std::int32_t euro = 0x20AC;
  std::u16string section = u"Special_Arial";
  rig.fake.measurer.widths[u'\u20AC'] = 11.25;  // 9 pixels, 1.5 spaces
  EXPECT_TRUE(rig.corvane.CalibrateOneChar(euro, rg, section, space));
  EXPECT_EQ(rig.fake.store.Snapshot(), (std::map<SettingKey, std::u16string>{
                                           {{u"Corvane", u"Special_Arial", u"8364"}, u"1.5"}}));
  EXPECT_EQ(rig.app->ScreenUpdatingChanges(), 0);
  EXPECT_TRUE(rig.fake.ui.Log().empty()) << "no window for one character";
}

TEST(CalibrationCommand, FullRunStoresEveryOrdinaryCodeAndEndsTidy) {
  Rig rig;
  rig.app->SetStandardFont(u"Arial");
  rig.fake.ui.QueueClick(u"Ok");
  rig.corvane.cvCalibrateSpacing();

  EXPECT_EQ(rig.KeysOf(u"Spacing_Arial"), Codes(2, 767));
  EXPECT_EQ(rig.fake.store.Snapshot().size(), 766U) << "nothing but Spacing_Arial is written";
  // "=" and "'" are measured as text, like every other character.
  for (const auto& [c, width] : std::map<char16_t, const char*>{{u' ', "1"}, {u'W', "2"}, {u'i', "0.5"}, {u'=', "1"}, {u'\'', "1"}})
    EXPECT_EQ(Narrow(calibration::ReadWidthText(u"Spacing_Arial", c)), width) << static_cast<char>(c);

  ASSERT_TRUE(rig.scratch);
  rig.ExpectPutBack();
  EXPECT_EQ(rig.fake.ui.ProgressValues(), Progress(2, 767));
  ASSERT_EQ(rig.fake.ui.Messages().size(), 1U);
  const auto& notice = rig.fake.ui.Messages().front();
  EXPECT_EQ(notice.title, u"Corvane");
  EXPECT_EQ(Narrow(notice.prompt),
            "Calibration done.\r\n\r\nYou should calibrate again whenever you change the standard font in Excel, or "
            "upgrade to a new version of Excel or Windows, or upgrade to a new computer motherboard or video card, "
            "or upgrade your video driver.\r\n\r\nSee Corvane Help for more information.");
  EXPECT_EQ(notice.buttons, std::vector<std::u16string>{u"OK"});
  // The progress window was shown, then unloaded before the notice appeared.
  const auto& log = rig.fake.ui.Log();
  ASSERT_EQ(log.size(), 4U);
  EXPECT_EQ(log[1].kind, testsupport::FakeUi::Record::Kind::Unload);
  EXPECT_EQ(log[1].form, u"frmCalibrationProgress");
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

  EXPECT_EQ(rig.KeysOf(u"Spacing_Calibri"), Codes(2, 100));
  EXPECT_EQ(calibration::ReadWidthText(u"Spacing_Calibri", 101), calibration::kNotFound);
  EXPECT_EQ(rig.fake.ui.ProgressValues(), Progress(2, 99));
  EXPECT_TRUE(rig.fake.ui.Messages().empty());
  rig.ExpectPutBack();

  // The next run starts afresh (flag cleared, new window) and runs to its end.
  rig.onDoEvents = nullptr;
  rig.fake.ui.QueueClick(u"Ok");
  rig.corvane.cvCalibrateSpacing();
  EXPECT_EQ(rig.KeysOf(u"Spacing_Calibri"), Codes(2, 767));
  EXPECT_EQ(rig.fake.ui.Shows(u"frmCalibrationProgress"), 2U);
  EXPECT_EQ(rig.fake.ui.Messages().size(), 1U);
}

TEST(CalibrationCommand, FailurePartWayPutsTheHostBackAndPassesTheFailureOn) {
  struct Case {
    const char* name;
    std::function<void(Rig&)> arrange;
    std::int32_t error;
    std::size_t saved;
  };
  const std::vector<Case> cases = {
      {"the store refuses the 51st save", [](Rig& r) { r.fake.store.FailSavesAfter(50); }, err::kDeviceIO, 50},
      {"the host refuses the scratch workbook", [](Rig& r) { r.app->FailAtCall(2); }, err::kApplicationDefined, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    c.arrange(rig);
    EXPECT_EQ(ErrorOf([&] { rig.corvane.cvCalibrateSpacing(); }), c.error);
    EXPECT_EQ(rig.fake.store.SaveCount(), c.saved);
    EXPECT_EQ(rig.fake.store.Snapshot().size(), c.saved) << "what was saved stays";
    rig.ExpectPutBack();
    EXPECT_TRUE(rig.fake.ui.Messages().empty());
  }
}

// ---- With the real font ----

class RealFont : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Narrow(measurer.ResolvedFace(u"Calibri")).find("Carlito") == std::string::npos)
      GTEST_SKIP() << "Calibri is not served by Carlito here (Debian: fonts-crosextra-carlito)";
  }
  double Px(std::u16string_view text) { return measurer.LineWidthPixels(text, u"Calibri", 11.0, 96.0); }

  posix::FontMeasurer measurer;
  FakeWindowSystem fake;
};

TEST_F(RealFont, ColumnFitsToTheFontsAdvanceWidth) {
  auto app = MemoryApplication::Create(&measurer);
  auto cell = app->AddWorkbook()->Sheet(1)->Range(1, 1, 1, 1);
  for (const std::u16string text : {u"Hello, world", u"WWWWWWWWWW", u"=SUM(A1:B2)", u"\u00E9t\u00E9"}) {
    SCOPED_TRACE(Narrow(text));
    cell->SetValue(Variant(u"'" + text));
    cell->EntireColumnAutoFit();
    EXPECT_DOUBLE_EQ(cell->EntireColumnWidth(), std::ceil(Px(text) + memory::kColumnPaddingPixels) * 0.75);
  }
}

TEST_F(RealFont, CalibratedWidthsAreCarlitosWidths) {
  auto app = MemoryApplication::Create(&measurer);
  app->SetActiveCell(app->AddWorkbook()->Sheet(1)->Range(1, 1, 1, 1));
  cls_corvane corvane;
  ObjectRef held = app;
  corvane.SetExcelApp(held);
  fake.ui.QueueClick(u"Ok");
  corvane.cvCalibrateSpacing();

  const auto ratio = [&](const std::u16string& section, std::int32_t c) {
    return ParseNumber(calibration::ReadWidthText(section, c), Regional());
  };
  EXPECT_GT(ratio(u"Spacing_Calibri", u'W'), 3 * ratio(u"Spacing_Calibri", u'i'));
  EXPECT_GE(ratio(u"Spacing_Calibri", u'('), 1.2);
  EXPECT_LE(ratio(u"Spacing_Calibri", u'('), 1.5);

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
  // In the font's own spaces it is off by at most the host's pixel on 100 spaces, scaled up:
  // well below the half space to which an indentation is rounded anyway.
  EXPECT_NEAR(sum * Px(u" "), Px(text), Px(text) / (100 * Px(u" ")) + 0.5);

  // Characters Carlito lacks are measured in the font fontconfig falls back to.
  for (std::int32_t code : {0x0950, 0x2603, 0x4E2D}) {
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
