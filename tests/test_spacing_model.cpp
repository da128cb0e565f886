// The spacing model on the in-memory workbook: widths of texts from the width table and the
// store, special characters measured in a scratch workbook, and indentation counts.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "addin/cls_corvane.h"
#include "base/memory_store.h"
#include "base/platform.h"
#include "hosts/memory/fixed_measurer.h"
#include "hosts/memory/memory_workbook.h"
#include "spacing/calibration_store.h"
#include "spacing/spacing_model.h"

namespace corvane {
namespace {

constexpr char16_t kEuro = 0x20AC;
constexpr char16_t kOmega = 0x03A9;
constexpr char16_t kLastOrdinary = 767;
constexpr char16_t kFirstSpecial = 768;

// Fixed widths (a space 3 pixels, most characters 6: two spaces) that also count how often the
// space is measured in its final, 100-copy form.
class CountingMeasurer : public memory::FixedMeasurer {
 public:
  double LineWidthPixels(std::u16string_view text, std::u16string_view face, double points, double dpi) override {
    if (text == std::u16string(100, u' ')) ++hundredSpaces;
    return FixedMeasurer::LineWidthPixels(text, face, points, dpi);
  }
  int hundredSpaces = 0;
};

class SpacingModelTest : public ::testing::Test {
 protected:
  SpacingModelTest() {
    ObjectRef ref = app_;
    addin_.SetExcelApp(ref);
    SetAll(Variant(std::int32_t{1}));
  }
  static PlatformServices ServicesFor(SettingsStore* store, TextMeasurer* measurer) {
    PlatformServices s;
    s.store = store;
    s.textMeasurer = measurer;
    return s;
  }
  void SetAll(const Variant& v) {
    for (std::int32_t k = 2; k <= 767; ++k) addin_.SpacingArray.at(k) = v;
  }
  double Width(std::u16string text) {
    Variant v(std::move(text));
    return addin_.GetSpacingThisLevel(v);
  }
  std::u16string Stored(std::int32_t code, std::u16string_view font = u"Calibri") {
    return store_.GetSetting(calibration::kAppName, calibration::SpecialSection(font), DecimalKey(code),
                             calibration::kNotFound);
  }

  MemoryStore store_;
  CountingMeasurer measurer_;
  ScopedServices services_{ServicesFor(&store_, &measurer_)};
  std::shared_ptr<memory::MemoryApplication> app_ = memory::MemoryApplication::Create(&measurer_);
  cls_corvane addin_;
};

// The sum of the table's widths in order; codes 0 and 1 (no entry) add nothing; an entry that is
// no number ends the sum; codes from 768 on are special, their widths measured (here 2).
TEST_F(SpacingModelTest, WidthsAddUpFromTheTableUpToAnEntryThatIsNoNumber) {
  struct Case {
    std::u16string text;
    std::vector<std::pair<char16_t, Variant>> entries;
    double width;
  };
  const std::vector<Case> cases = {
      {u"", {}, 0.0},
      {u"=SUM(A1, B2)", {}, 12.0},
      {std::u16string{u'a', 0, u'b', 1, u'c'}, {}, 3.0},
      {u"abc", {{u'a', Variant(u"0.5")}, {u'b', Variant(u"0.6")}}, 2.1},
      {u"abxdefghij", {{u'x', Variant(u"Not Found")}}, 2.0},
      {u"xbc", {{u'x', Variant(u"Not Found")}}, 0.0},
      {u"aaaay", {{u'y', Variant(Null{})}}, 4.0},
      {std::u16string{u'a', kLastOrdinary, u'a'}, {{kLastOrdinary, Variant(u"3")}}, 5.0},
      {std::u16string{u'a', kLastOrdinary, u'a'}, {{kLastOrdinary, Variant(u"Not Found")}}, 1.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "text of " << c.text.size() << " starting " << static_cast<int>(c.text[0]));
    SetAll(Variant(std::int32_t{1}));
    for (const auto& [code, v] : c.entries) addin_.SpacingArray.at(code) = v;
    EXPECT_DOUBLE_EQ(Width(c.text), c.width);
  }
  EXPECT_EQ(store_.ReadCount(), 0U) << "ordinary characters never read the store";
  EXPECT_EQ(Width(std::u16string{u'a', kFirstSpecial, u'a'}), 4.0);
  EXPECT_EQ(Stored(kFirstSpecial), u"2");

  // For the text file every code unit counts one, touching neither store nor host.
  SetAll(Variant(u"Not Found"));
  addin_.bSendToNotepad = true;
  const auto calls = app_->CallCount();
  const auto reads = store_.ReadCount();
  EXPECT_EQ(Width(std::u16string{u'=', u'(', kEuro, kOmega}), 4.0);
  EXPECT_EQ(store_.ReadCount(), reads);
  EXPECT_EQ(app_->CallCount(), calls);
}

// The numeric widths are reused between calls; every change must still be seen.
TEST_F(SpacingModelTest, ChangedEntriesTablesAndRegionalFormatAreSeenAtOnce) {
  EXPECT_EQ(Width(u"aaa"), 3.0);
  addin_.SpacingArray.at(u'a') = Variant(u"2");
  EXPECT_EQ(Width(u"aaa"), 6.0);
  addin_.SpacingArray.at(u'a') = Variant(u"0,5");
  EXPECT_EQ(Width(u"aaa"), 15.0) << "here a comma groups thousands: 0,5 reads as 5";
  Services().regional = RegionalFormat{u',', u'.'};
  EXPECT_EQ(Width(u"aaa"), 1.5);
  Services().regional = RegionalFormat{};
  EXPECT_EQ(Width(u"aaa"), 15.0);
  Services().regional.thousandsSeparator = u'\'';  // only the grouping changes: "0,5" is no number
  EXPECT_EQ(Width(u"aaa"), 0.0);
  Services().regional.decimalSeparator = u',';  // then only the decimal separator
  EXPECT_EQ(Width(u"aaa"), 1.5);
  Services().regional = RegionalFormat{};

  // Whole tables replaced, copied over or resized are seen too, not only single entries.
  VariantArray fours(2, 767);
  for (std::int32_t k = 2; k <= 767; ++k) fours.at(k) = Variant(u"4");
  VariantArray saved = addin_.SpacingArray;
  addin_.SpacingArray = fours;
  EXPECT_EQ(Width(u"aaa"), 12.0);
  addin_.SpacingArray = std::move(saved);
  EXPECT_EQ(Width(u"aaa"), 15.0);
  addin_.SpacingArray.redimPreserve(90);  // 'a' (97) has no entry now: the sum ends there
  EXPECT_EQ(Width(u"Zaa"), 1.0);
  addin_.SpacingArray = fours;
  cls_corvane other;  // another object of the same thread, with a table of its own
  for (std::int32_t k = 2; k <= 767; ++k) other.SpacingArray.at(k) = Variant(u"3");
  Variant text(u"aaa");
  EXPECT_EQ(other.GetSpacingThisLevel(text), 9.0);
  EXPECT_EQ(Width(u"aaa"), 12.0);
}

TEST_F(SpacingModelTest, IndentSpacesRoundTheSumTiesToEven) {
  const auto count = [&](std::int32_t level, std::initializer_list<Variant> items) {
    VariantArray a(1, static_cast<std::int32_t>(items.size()));
    std::int32_t k = 1;
    for (const auto& v : items) a.at(k++) = v;
    Variant levels(std::move(a));
    return addin_.GetIndentSpacesCount(level, levels);
  };
  EXPECT_EQ(count(0, {}), 0);
  EXPECT_EQ(count(2, {3.2, 4.3}), 8) << "7.5 goes to the even 8";
  EXPECT_EQ(count(2, {1.25, 1.25}), 2) << "2.5 goes to the even 2";
  EXPECT_EQ(count(2, {Variant(), 3.5}), 4) << "an empty element counts 0";
  EXPECT_EQ(count(1, {Variant(u"6"), 100.0}), 6) << "only the levels up to the one asked for";
  EXPECT_THROW(count(3, {1.0, 2.0}), AutomationError);
}

// A special character is measured once, in one scratch workbook for the whole text, under the
// standard font's section, then read; the host is put back every time.
TEST_F(SpacingModelTest, SpecialCharactersAreMeasuredOnceThenRead) {
  EXPECT_EQ(Width(std::u16string{kEuro, u'x', kOmega, kEuro}), 7.0);
  EXPECT_EQ(Stored(kEuro), u"2");
  EXPECT_EQ(Stored(kOmega), u"2");
  EXPECT_EQ(app_->WorkbooksAdded(), 1);
  EXPECT_EQ(measurer_.hundredSpaces, 2) << "the space is measured for each character calibrated";
  EXPECT_EQ(Width(std::u16string{kEuro, u'a'}), 3.0);
  EXPECT_EQ(app_->WorkbooksAdded(), 1) << "a stored width is not measured again";
  EXPECT_EQ(app_->ScreenUpdatingChanges(), 2);
  EXPECT_TRUE(app_->OpenWorkbooks().empty());
  EXPECT_TRUE(app_->ScreenUpdating());

  app_->SetStandardFont(u"Arial");
  store_.SaveSetting(calibration::kAppName, calibration::SpecialSection(u"Arial"), DecimalKey(kOmega), u"1.5");
  EXPECT_EQ(Width(std::u16string{kOmega, u'a'}), 2.5);
  EXPECT_EQ(app_->WorkbooksAdded(), 1) << "a stored width leaves the screen alone";
  EXPECT_EQ(Width(std::u16string{kEuro}), 2.0);
  EXPECT_EQ(Stored(kEuro, u"Arial"), u"2");
  EXPECT_EQ(app_->WorkbooksAdded(), 2);
  EXPECT_EQ(app_->ScreenUpdatingChanges(), 4);

  // The stored width is read in the regional format; one that is no number ends the sum there.
  Services().regional = RegionalFormat{u',', u'.'};
  store_.SaveSetting(calibration::kAppName, calibration::SpecialSection(u"Arial"), DecimalKey(kOmega), u"1,25");
  store_.SaveSetting(calibration::kAppName, calibration::SpecialSection(u"Arial"), DecimalKey(kEuro), u"wide");
  EXPECT_EQ(Width(std::u16string{u'a', kOmega, kEuro, u'a'}), 2.25);
}

// Whichever host call fails, the answer is the width before the failing character, and neither
// a scratch workbook nor a switched-off screen is left behind.
TEST_F(SpacingModelTest, AFailureWhileMeasuringClosesTheScratchWorkbook) {
  const std::u16string text{u'a', kEuro, u'b'};
  std::int64_t calls = 0;
  for (std::int64_t k = 0; k <= calls; ++k) {
    SCOPED_TRACE("failing host call " + std::to_string(k));
    MemoryStore store;
    ScopedServices scoped(ServicesFor(&store, &measurer_));
    auto app = memory::MemoryApplication::Create(&measurer_);
    ObjectRef ref = app;
    addin_.SetExcelApp(ref);
    app->FailAtCall(k);
    const double width = Width(text);
    if (k == 0) calls = app->CallCount();
    EXPECT_TRUE(app->OpenWorkbooks().empty());
    EXPECT_TRUE(app->ScreenUpdating());
    // Only the closing calls come after the euro sign's width is known.
    EXPECT_EQ(width, k == 0 || k >= calls - 1 ? 4.0 : 1.0);
  }
  EXPECT_GT(calls, 6);
}

}  // namespace
}  // namespace corvane
