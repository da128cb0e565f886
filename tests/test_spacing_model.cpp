// The spacing model on the in-memory workbook: widths of texts from the width table and the
// store, special characters measured in a scratch workbook, and indentation counts.
#include <gtest/gtest.h>

#include <memory>
#include <string>

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

// Fixed widths that also count how often the space is measured in its final, 100-copy form.
class CountingMeasurer : public memory::FixedMeasurer {
 public:
  double LineWidthPixels(std::u16string_view text, std::u16string_view face, double points, double dpi) override {
    if (text == std::u16string(100, u' ')) ++hundredSpaces;
    return FixedMeasurer::LineWidthPixels(text, face, points, dpi);
  }
  int hundredSpaces = 0;
};

PlatformServices ServicesFor(SettingsStore* store, TextMeasurer* measurer) {
  PlatformServices s;
  s.store = store;
  s.textMeasurer = measurer;
  return s;
}

class SpacingModelTest : public ::testing::Test {
 protected:
  SpacingModelTest() : services_(ServicesFor(&store_, &measurer_)) {
    app_ = memory::MemoryApplication::Create(&measurer_);
    ObjectRef ref = app_;
    addin_.SetExcelApp(ref);
    SetAll(Variant(std::int32_t{1}));
  }

  void SetAll(const Variant& v) {
    for (std::int32_t k = 2; k <= 767; ++k) addin_.SpacingArray.at(k) = v;
  }
  void Set(char16_t c, const Variant& v) { addin_.SpacingArray.at(c) = v; }

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
  ScopedServices services_;
  std::shared_ptr<memory::MemoryApplication> app_;
  cls_corvane addin_;
};

TEST_F(SpacingModelTest, NotepadWidthIsTheCharacterCountAndTouchesNothing) {
  SetAll(Variant(u"Not Found"));
  addin_.bSendToNotepad = true;
  const auto callsBefore = app_->CallCount();
  EXPECT_EQ(Width(u""), 0.0);
  EXPECT_EQ(Width(u"=SUM("), 5.0);
  EXPECT_EQ(Width(std::u16string{kEuro, kOmega}), 2.0);  // special characters too
  EXPECT_EQ(store_.ReadCount(), 0u);
  EXPECT_EQ(app_->CallCount(), callsBefore);
}

TEST_F(SpacingModelTest, OrdinaryWidthsComeFromTheTable) {
  EXPECT_EQ(Width(u""), 0.0);
  EXPECT_EQ(Width(u"=SUM(A1, B2)"), 12.0) << "all widths 1: the character count";
  // Codes 0 and 1 have no table entry and are not special: they add nothing.
  EXPECT_EQ(Width(std::u16string{u'a', 0, u'b', 1, u'c'}), 3.0);

  Set(u'a', Variant(u"0.5"));
  Set(u'b', Variant(u"0.6"));
  Set(u'c', Variant(std::int32_t{1}));
  EXPECT_DOUBLE_EQ(Width(u"abc"), 2.1);
  EXPECT_EQ(store_.ReadCount(), 0u) << "ordinary characters never read the store";
}

TEST_F(SpacingModelTest, AnEntryThatIsNoNumberEndsTheSum) {
  Set(u'x', Variant(u"Not Found"));
  EXPECT_EQ(Width(u"abxdefghij"), 2.0) << "the characters before the third";
  EXPECT_EQ(Width(u"xbc"), 0.0);
  Set(u'y', Variant(Null{}));
  EXPECT_EQ(Width(u"aaaay"), 4.0);
}

// The numeric widths are reused between calls; every change must still be seen.
TEST_F(SpacingModelTest, ChangedEntriesAndRegionalFormatAreSeenAtOnce) {
  EXPECT_EQ(Width(u"aaa"), 3.0);
  Set(u'a', Variant(u"2"));
  EXPECT_EQ(Width(u"aaa"), 6.0);
  Set(u'a', Variant(u"0,5"));
  EXPECT_EQ(Width(u"aaa"), 15.0) << "here a comma groups thousands: 0,5 reads as 5";
  Services().regional.decimalSeparator = u',';
  Services().regional.thousandsSeparator = u'.';
  EXPECT_EQ(Width(u"aaa"), 1.5);
  Services().regional = RegionalFormat{};
  EXPECT_EQ(Width(u"aaa"), 15.0);
  EXPECT_EQ(Width(u"aaa"), 15.0) << "an unchanged table gives the same widths again";

  // Whole tables replaced, copied over or resized are seen too, not only single entries.
  VariantArray fours(2, 767);
  for (std::int32_t k = 2; k <= 767; ++k) fours.at(k) = Variant(u"4");
  VariantArray saved = addin_.SpacingArray;
  addin_.SpacingArray = fours;
  EXPECT_EQ(Width(u"aaa"), 12.0);
  addin_.SpacingArray = std::move(saved);
  EXPECT_EQ(Width(u"aaa"), 15.0);
  addin_.SpacingArray.redimPreserve(90);  // 'a' (97) has no entry now: the sum ends there
  EXPECT_EQ(Width(u"Zaa"), Width(u"Z"));
  addin_.SpacingArray = fours;

  cls_corvane other;  // another object of the same thread, with a table of its own
  for (std::int32_t k = 2; k <= 767; ++k) other.SpacingArray.at(k) = Variant(u"3");
  Variant text(u"aaa");
  EXPECT_EQ(other.GetSpacingThisLevel(text), 9.0);
  EXPECT_EQ(Width(u"aaa"), 12.0);
}

TEST_F(SpacingModelTest, IndentSpacesRoundTheSumTiesToEven) {
  const auto count = [&](std::int32_t level, Variant levels) { return addin_.GetIndentSpacesCount(level, levels); };
  const auto levels = [](std::initializer_list<Variant> items) {
    VariantArray a(1, static_cast<std::int32_t>(items.size()));
    std::int32_t k = 1;
    for (const auto& v : items) a.at(k++) = v;
    return Variant(std::move(a));
  };
  EXPECT_EQ(count(0, Variant()), 0) << "level 0 reads no element (here there is no array at all)";
  EXPECT_EQ(count(2, levels({3.2, 4.3})), 8) << "7.5 goes to the even 8";
  EXPECT_EQ(count(2, levels({1.25, 1.25})), 2) << "2.5 goes to the even 2";
  EXPECT_EQ(count(2, levels({Variant(), 3.5})), 4) << "an empty element counts 0";
  EXPECT_EQ(count(1, levels({Variant(u"6"), 100.0})), 6) << "only the levels up to the one asked for";
  try {
    count(3, levels({1.0, 2.0}));
    FAIL() << "a missing element must fail";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), err::kSubscriptOutOfRange);
  }
}

TEST_F(SpacingModelTest, SpecialCharacterIsMeasuredOnceThenRead) {
  // With fixed widths a euro sign is 6 pixels and a space 3: twice as wide.
  EXPECT_EQ(Width(std::u16string{u'a', kEuro}), 3.0);
  EXPECT_EQ(Stored(kEuro), u"2");
  EXPECT_EQ(app_->WorkbooksAdded(), 1);
  EXPECT_TRUE(app_->OpenWorkbooks().empty()) << "the scratch workbook is closed";
  EXPECT_TRUE(app_->ScreenUpdating());
  EXPECT_EQ(app_->ScreenUpdatingChanges(), 2);

  EXPECT_EQ(Width(std::u16string{kEuro, u'a'}), 3.0);
  EXPECT_EQ(app_->WorkbooksAdded(), 1) << "a stored width is not measured again";
  EXPECT_EQ(app_->ScreenUpdatingChanges(), 2);

  // The section follows the standard font in force.
  app_->SetStandardFont(u"Arial");
  EXPECT_EQ(Width(std::u16string{kEuro}), 2.0);
  EXPECT_EQ(Stored(kEuro, u"Arial"), u"2");
  EXPECT_EQ(app_->WorkbooksAdded(), 2);
}

TEST_F(SpacingModelTest, TwoNewSpecialCharactersShareOneScratchWorkbook) {
  EXPECT_EQ(Width(std::u16string{kEuro, u'x', kOmega, kEuro}), 7.0);
  EXPECT_EQ(Stored(kEuro), u"2");
  EXPECT_EQ(Stored(kOmega), u"2");
  EXPECT_EQ(app_->WorkbooksAdded(), 1);
  EXPECT_EQ(measurer_.hundredSpaces, 2) << "the space is measured for each character calibrated";
  ASSERT_EQ(app_->ScreenUpdatingChanges(), 2);
  EXPECT_TRUE(app_->ScreenUpdating());
  EXPECT_TRUE(app_->OpenWorkbooks().empty());
}

TEST_F(SpacingModelTest, StoredSpecialWidthLeavesTheScreenAlone) {
  store_.SaveSetting(calibration::kAppName, calibration::SpecialSection(u"Calibri"), DecimalKey(kEuro), u"1.5");
  EXPECT_EQ(Width(std::u16string{u'a', kEuro}), 2.5);
  EXPECT_EQ(app_->ScreenUpdatingChanges(), 0);
  EXPECT_EQ(app_->WorkbooksAdded(), 0);
  EXPECT_EQ(measurer_.hundredSpaces, 0);
}

// Whichever host call fails, the answer is the width before the failing character, and neither
// a scratch workbook nor a switched-off screen is left behind.
TEST_F(SpacingModelTest, FailureWhileMeasuringClosesTheScratchWorkbook) {
  const std::u16string text{u'a', kEuro, u'b'};
  std::int64_t calls = 0;
  {
    MemoryStore store;
    ScopedServices scoped(ServicesFor(&store, &measurer_));
    auto app = memory::MemoryApplication::Create(&measurer_);
    ObjectRef ref = app;
    addin_.SetExcelApp(ref);
    ASSERT_EQ(Width(text), 4.0);
    calls = app->CallCount();
  }
  ASSERT_GT(calls, 6);
  for (std::int64_t k = 1; k <= calls; ++k) {
    SCOPED_TRACE("failing host call " + std::to_string(k));
    MemoryStore store;
    ScopedServices scoped(ServicesFor(&store, &measurer_));
    auto app = memory::MemoryApplication::Create(&measurer_);
    ObjectRef ref = app;
    addin_.SetExcelApp(ref);
    app->FailAtCall(k);
    const double width = Width(text);
    EXPECT_TRUE(app->OpenWorkbooks().empty());
    EXPECT_TRUE(app->ScreenUpdating());
    // Only the closing calls come after the euro sign's width is known.
    if (k >= calls - 1) {
      EXPECT_EQ(width, 4.0);
    } else {
      EXPECT_EQ(width, 1.0);
    }
  }
}

TEST_F(SpacingModelTest, SpecialCharSpacingOpensItsOwnWorkbookOnlyWithoutAMeasuringCell) {
  std::int32_t code = kOmega;
  std::u16string section = calibration::SpecialSection(u"Calibri");
  std::shared_ptr<HostRange> cell;
  EXPECT_EQ(addin_.GetSpecialCharSpacing(code, cell, section), 2.0);
  EXPECT_EQ(cell, nullptr) << "its workbook is closed, so no measuring cell is left";
  EXPECT_EQ(app_->WorkbooksAdded(), 1);
  EXPECT_TRUE(app_->OpenWorkbooks().empty());
  EXPECT_TRUE(app_->ScreenUpdating());

  // With the caller's measuring cell it measures there and leaves the workbook to the caller.
  auto book = app_->AddWorkbook();
  std::shared_ptr<HostRange> given = book->Sheet(1)->Range(u"A1");
  code = kEuro;
  EXPECT_EQ(addin_.GetSpecialCharSpacing(code, given, section), 2.0);
  EXPECT_TRUE(book->IsOpen());
  EXPECT_EQ(app_->ScreenUpdatingChanges(), 2);

  // A failure passes to the caller, after its own workbook is closed.
  code = 0x4E2D;
  std::shared_ptr<HostRange> none;
  app_->FailAtCall(8);
  EXPECT_THROW(addin_.GetSpecialCharSpacing(code, none, section), AutomationError);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(app_->OpenWorkbooks().size(), 1u);
  EXPECT_TRUE(app_->ScreenUpdating());
  EXPECT_EQ(Stored(code), calibration::kNotFound);
}

TEST_F(SpacingModelTest, SpecialWidthIsReadInTheRegionalFormat) {
  Services().regional.decimalSeparator = u',';
  Services().regional.thousandsSeparator = u'.';
  store_.SaveSetting(calibration::kAppName, calibration::SpecialSection(u"Calibri"), DecimalKey(kEuro), u"1,25");
  std::int32_t code = kEuro;
  std::u16string section = calibration::SpecialSection(u"Calibri");
  std::shared_ptr<HostRange> cell;
  EXPECT_EQ(addin_.GetSpecialCharSpacing(code, cell, section), 1.25);

  store_.SaveSetting(calibration::kAppName, section, DecimalKey(kOmega), u"wide");
  code = kOmega;
  EXPECT_THROW(addin_.GetSpecialCharSpacing(code, cell, section), AutomationError);
  EXPECT_EQ(Width(std::u16string{u'a', kEuro, kOmega, u'a'}), 2.25) << "the trap keeps what came before";
}

}  // namespace
}  // namespace corvane
