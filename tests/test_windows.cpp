// The add-in's windows as models: message box layout and answers, picture buttons, settings,
// About and progress windows, driven through the fake window system at 120 dpi (12 twips to
// the pixel) with text 7 pixels a character and 18 pixels a line.
#include <gtest/gtest.h>

#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "support/corpus.h"
#include "support/fake_ui.h"
#include "windows/frm_about.h"
#include "windows/frm_calibration_progress.h"
#include "windows/frm_custom_msgbox.h"
#include "windows/frm_settings.h"
#include "windows/pictures.h"

namespace corvane {
namespace {

using mdl_Support::CustomMsgBox;
using mdl_Support::Module;
using testsupport::FakeWindowSystem;
using windows::Control;
using windows::Form;
using windows::frmCustomMsgBox;
using windows::MouseButton;

constexpr float kLine = 18.0F * 12.0F;  // one line of the prompt, in twips
constexpr float kButtonWidth = 121.0F * 12.0F;

// The geometry of the message window as it was shown.
struct Shown {
  float width = 0, height = 0, clientHeight = 0;
  float labelLeft = 0, labelTop = 0, labelWidth = 0, labelHeight = 0;
  bool wrapped = false;
  std::vector<std::u16string> lines;
  float bannerLeft = 0, bannerTop = 0;
  std::map<std::u16string, std::pair<float, float>> visibleButtons;  // name -> (left, top)
};

class MessageBoxTest : public ::testing::Test {
 protected:
  // Shows the prompt, records the window as shown, and answers with `button` (or the close box).
  std::int32_t Ask(const std::u16string& prompt, std::int32_t style, const std::u16string& button = u"Ok") {
    fake.ui.QueueModal([this, button](Form& form) {
      auto& box = static_cast<frmCustomMsgBox&>(form);
      shown = Shown{};
      shown.width = box.Width();
      shown.height = box.Height();
      shown.clientHeight = box.ScaleHeight();
      shown.labelLeft = box.lblPrompt.Left();
      shown.labelTop = box.lblPrompt.Top();
      shown.labelWidth = box.lblPrompt.Width();
      shown.labelHeight = box.lblPrompt.Height();
      shown.wrapped = box.lblPrompt.WordWrap();
      shown.lines = box.lblPrompt.Lines();
      shown.bannerLeft = box.imgCorvane.Left();
      shown.bannerTop = box.imgCorvane.Top();
      for (Control* c : {&box.imgButtonOkMain, &box.imgButtonCancelMain, &box.imgButtonYesMain, &box.imgButtonNoMain})
        if (c->Visible()) shown.visibleButtons[c->Name()] = {c->Left(), c->Top()};
      if (button.empty()) {
        form.CloseBox();
      } else {
        fake.ui.Click(form, u"imgButton" + button + u"Main");
      }
    });
    return CustomMsgBox(prompt, style, u"Corvane");
  }

  FakeWindowSystem fake;
  Shown shown;
};

TEST_F(MessageBoxTest, OneLinePromptGivesTheMinimumWindowWithOkCentred) {
  EXPECT_EQ(Ask(u"No formula in cell.", 0), 1);
  EXPECT_EQ(shown.width, 7150.0F);
  EXPECT_EQ(shown.height, 2780.0F);
  EXPECT_EQ(shown.labelLeft, 120.0F);
  EXPECT_EQ(shown.labelTop, 1080.0F);
  EXPECT_EQ(shown.labelWidth, 19 * 84.0F);
  EXPECT_FALSE(shown.wrapped);
  ASSERT_EQ(shown.visibleButtons.size(), 1U);
  EXPECT_EQ(shown.visibleButtons[u"imgButtonOkMain"], std::make_pair(3575.0F - kButtonWidth / 2, 1980.0F));
  // The buttons' top is measured in the client area, whose height is the outer one less the frame.
  EXPECT_EQ(shown.clientHeight, 2780.0F - 372.0F);
  EXPECT_EQ(shown.bannerLeft, 3575.0F - 565 * 12 / 2.0F - 60.0F);
  EXPECT_EQ(shown.bannerTop, 360.0F);

  ASSERT_EQ(fake.ui.Messages().size(), 1U);
  EXPECT_EQ(fake.ui.Messages()[0].title, u"Corvane");
  EXPECT_EQ(fake.ui.Messages()[0].prompt, u"No formula in cell.");
  EXPECT_EQ(fake.ui.Messages()[0].buttons, std::vector<std::u16string>{u"OK"});
  EXPECT_EQ(fake.ui.Open(u"frmCustomMsgBox"), nullptr);
  EXPECT_EQ(Module().frmCustomMsgBox, nullptr) << "closing destroys the shared instance";
}

TEST_F(MessageBoxTest, ButtonPairsAreCentredTwoHundredTwipsApart) {
  const std::u16string question = u"Corvane is not yet calibrated to your configuration. Calibrate now?";
  const float pairLeft = 3575.0F - (2 * kButtonWidth + 200.0F) / 2;
  const std::map<std::u16string, std::pair<float, float>> yesNo = {
      {u"imgButtonYesMain", {pairLeft, 1980.0F}}, {u"imgButtonNoMain", {pairLeft + kButtonWidth + 200.0F, 1980.0F}}};
  const std::map<std::u16string, std::pair<float, float>> okCancel = {
      {u"imgButtonOkMain", {pairLeft, 1980.0F}},
      {u"imgButtonCancelMain", {pairLeft + kButtonWidth + 200.0F, 1980.0F}}};

  EXPECT_EQ(Ask(question, 4, u"Yes"), 6);
  EXPECT_EQ(shown.visibleButtons, yesNo);
  EXPECT_EQ(Ask(question, 4, u"No"), 7);
  EXPECT_EQ(shown.visibleButtons, yesNo);
  EXPECT_EQ(Ask(question, 1, u"Cancel"), 2);
  EXPECT_EQ(shown.visibleButtons, okCancel);
  EXPECT_EQ(Ask(question, 1, u"Ok"), 1);
  EXPECT_EQ(fake.ui.Messages().back().buttons, (std::vector<std::u16string>{u"OK", u"Cancel"}));
}

TEST_F(MessageBoxTest, EveryOtherStyleShowsOkAlone) {
  for (const std::int32_t style : {0, 2, 3, 5, 16, 32, 36, 48, 64, -1, 0x104}) {
    SCOPED_TRACE(style);
    EXPECT_EQ(Ask(u"Unable to format this cell.", style), 1);
    ASSERT_EQ(shown.visibleButtons.size(), 1U);
    EXPECT_EQ(shown.visibleButtons.begin()->first, u"imgButtonOkMain");
  }
}

TEST_F(MessageBoxTest, ClosingWithoutAButtonAnswersMinusOne) {
  EXPECT_EQ(Ask(u"Calibrate now?", 4, u""), -1);
  EXPECT_EQ(Ask(u"No formula in cell.", 0, u""), -1);
  EXPECT_EQ(Module().frmCustomMsgBox, nullptr);
}

TEST_F(MessageBoxTest, WidthExactlyAtTheLimitIsNotWrapped) {
  fake.measurer.widths[u'x'] = 6850.0 / 12.0;  // one "x" is 6850 twips
  fake.measurer.widths[u'.'] = 1.0 / 12.0;     // one twip
  EXPECT_EQ(Ask(u"x", 0), 1);
  EXPECT_FALSE(shown.wrapped);
  EXPECT_EQ(shown.labelWidth, 6850.0F);
  EXPECT_EQ(shown.width, 7150.0F);
  EXPECT_EQ(shown.height, 2780.0F);

  // One twip more wraps; a word wider than the line breaks where it must.
  EXPECT_EQ(Ask(u"x.", 0), 1);
  EXPECT_TRUE(shown.wrapped);
  EXPECT_EQ(shown.labelWidth, 6850.0F);
  EXPECT_EQ(shown.lines, (std::vector<std::u16string>{u"x", u"."}));
  EXPECT_EQ(shown.height, 2 * kLine + 2480.0F);
  EXPECT_EQ(shown.width, 7150.0F);

  EXPECT_EQ(Ask(u"x x", 0), 1);
  EXPECT_EQ(shown.lines, (std::vector<std::u16string>{u"x", u"x"}));
}

TEST_F(MessageBoxTest, CalibrationNoticeWrapsAndGrowsTheWindow) {
  const std::u16string notice =
      u"Calibration done.\r\n\r\nYou should calibrate again whenever you change the standard font in Excel, or "
      u"upgrade to a new version of Excel or Windows, or upgrade to a new computer motherboard or video card, or "
      u"upgrade your video driver.\r\n\r\nSee Corvane Help for more information.";
  EXPECT_EQ(Ask(notice, 0), 1);
  EXPECT_TRUE(shown.wrapped);
  EXPECT_EQ(shown.labelWidth, 6850.0F);
  const std::vector<std::u16string> expected = {
      u"Calibration done.",
      u"",
      u"You should calibrate again whenever you change the standard font in Excel, or",
      u"upgrade to a new version of Excel or Windows, or upgrade to a new computer",
      u"motherboard or video card, or upgrade your video driver.",
      u"",
      u"See Corvane Help for more information."};
  ASSERT_EQ(shown.lines.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(shown.lines[i], expected[i]) << "line " << i;
  EXPECT_EQ(shown.labelHeight, 7 * kLine);
  EXPECT_EQ(shown.height, 7 * kLine + 2480.0F);
  EXPECT_EQ(shown.width, 7150.0F);
  EXPECT_EQ(shown.visibleButtons[u"imgButtonOkMain"].second, shown.height - 800.0F);
}

TEST_F(MessageBoxTest, WideUnwrappedLinesAreNeverWiderThanTheLabel) {
  // Many short lines: the window grows in height only.
  std::u16string prompt;
  for (int i = 0; i < 12; ++i) prompt += u"line\r\n";
  prompt += u"last";
  EXPECT_EQ(Ask(prompt, 0), 1);
  EXPECT_FALSE(shown.wrapped);
  EXPECT_EQ(shown.labelHeight, 13 * kLine);
  EXPECT_EQ(shown.height, 13 * kLine + 2480.0F);
  EXPECT_EQ(shown.width, 7150.0F);

  EXPECT_EQ(Ask(u"", 0), 1);
  EXPECT_EQ(shown.width, 7150.0F);
  EXPECT_EQ(shown.height, 2780.0F);
}

TEST_F(MessageBoxTest, TwoMessagesInARowLeaveNothingOfTheFirst) {
  std::u16string longQuestion;
  for (int i = 0; i < 20; ++i) longQuestion += u"Shall we calibrate now? ";
  EXPECT_EQ(Ask(longQuestion, 4, u"Yes"), 6);
  EXPECT_TRUE(shown.wrapped);
  EXPECT_GT(shown.height, 2780.0F);

  EXPECT_EQ(Ask(u"No formula in cell.", 0), 1);
  EXPECT_FALSE(shown.wrapped);
  EXPECT_EQ(shown.lines, std::vector<std::u16string>{u"No formula in cell."});
  EXPECT_EQ(shown.height, 2780.0F);
  ASSERT_EQ(shown.visibleButtons.size(), 1U);
  EXPECT_EQ(shown.visibleButtons.count(u"imgButtonOkMain"), 1U);
  EXPECT_EQ(Module().iMsgBoxResult, 1);
}

TEST(MessageBoxFailure, AnswersZeroWhenTheWindowCannotBeShown) {
  testsupport::FakeMeasurer measurer;
  PlatformServices noWindows;
  noWindows.textMeasurer = &measurer;
  ScopedServices scope(noWindows);
  EXPECT_EQ(CustomMsgBox(u"No formula in cell.", 0, u"Corvane"), 0);

  testsupport::FakeUi ui;
  PlatformServices noMeasurer;
  noMeasurer.ui = &ui;
  ScopedServices scope2(noMeasurer);
  EXPECT_EQ(CustomMsgBox(u"No formula in cell.", 0, u"Corvane"), 0);
  EXPECT_EQ(ui.Shows(u"frmCustomMsgBox"), 0U);
  if (auto& box = Module().frmCustomMsgBox) box->Unload();
}

// ---- Picture buttons ----

class PictureButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cls.cvAbout();
    ASSERT_NE(fake.ui.Open(u"frmAbout"), nullptr);
    // Held here so that the controls outlive a click that closes the window.
    kept = fake.ui.Open(u"frmAbout")->shared_from_this();
    about = kept.get();
    ok = &about->ControlNamed(u"imgButtonOkMain");
  }

  FakeWindowSystem fake;
  cls_corvane cls;
  std::shared_ptr<Form> kept;
  Form* about = nullptr;
  Control* ok = nullptr;
};

TEST_F(PictureButtonTest, PressShowsThePressedPictureTwoPixelsShorterInPlace) {
  EXPECT_EQ(ok->GetPicture(), &windows::art::kOkUp);
  EXPECT_EQ(ok->Width(), 1452.0F);
  EXPECT_EQ(ok->Height(), 324.0F);
  fake.ui.Press(*about, u"imgButtonOkMain");
  EXPECT_EQ(ok->GetPicture(), &windows::art::kOkDown);
  EXPECT_EQ(ok->Width(), 1452.0F);
  EXPECT_EQ(ok->Height(), 300.0F);
  EXPECT_EQ(ok->Left(), 3240.0F);
  EXPECT_EQ(ok->Top(), 4200.0F);
  fake.ui.Release(/*overControl=*/false);
  EXPECT_EQ(ok->GetPicture(), &windows::art::kOkUp);
  EXPECT_EQ(ok->Height(), 324.0F);
  EXPECT_EQ(ok->Top(), 4200.0F);
}

TEST_F(PictureButtonTest, ClickRunsTheActionAfterTheReleasedPictureIsBack) {
  fake.ui.Click(*about, u"imgButtonOkMain");
  EXPECT_FALSE(about->Loaded());
  EXPECT_EQ(fake.ui.Open(u"frmAbout"), nullptr);
  EXPECT_EQ(ok->GetPicture(), &windows::art::kOkUp);
}

TEST_F(PictureButtonTest, ReleasingOffTheButtonRunsNoAction) {
  fake.ui.Press(*about, u"imgButtonOkMain");
  fake.ui.Release(/*overControl=*/false);
  EXPECT_EQ(ok->GetPicture(), &windows::art::kOkUp);
  EXPECT_TRUE(about->Loaded());
  EXPECT_EQ(fake.ui.Open(u"frmAbout"), about);
}

TEST_F(PictureButtonTest, AnyMouseButtonPressesAndClicks) {
  for (const MouseButton button : {MouseButton::Right, MouseButton::Middle}) {
    fake.ui.Press(*about, u"imgButtonOkMain", button);
    EXPECT_EQ(ok->GetPicture(), &windows::art::kOkDown);
    fake.ui.Release(false);
    EXPECT_EQ(ok->GetPicture(), &windows::art::kOkUp);
  }
  fake.ui.Click(*about, u"imgButtonOkMain", MouseButton::Right);
  EXPECT_EQ(fake.ui.Open(u"frmAbout"), nullptr);
}

TEST_F(PictureButtonTest, MessageBoxButtonPressedThenReleasedAnswers) {
  fake.ui.QueueModal([this](Form& box) {
    Control& main = box.ControlNamed(u"imgButtonOkMain");
    fake.ui.Press(box, u"imgButtonOkMain");
    EXPECT_EQ(main.GetPicture(), &windows::art::kOkDown);
    EXPECT_EQ(Module().iMsgBoxResult, -1);
    fake.ui.Release();
  });
  EXPECT_EQ(CustomMsgBox(u"No formula in cell.", 0, u"Corvane"), 1);
}

// ---- Settings window ----

class SettingsTest : public ::testing::Test {
 protected:
  Form& Open() {
    cls.cvSettings();
    Form* form = fake.ui.Open(u"frmSettings");
    EXPECT_NE(form, nullptr);
    return *form;
  }
  std::u16string Stored(std::u16string_view key) {
    return fake.store.GetSetting(u"Corvane", u"Settings", key, u"(missing)");
  }
  void Store(std::u16string_view key, std::u16string_view value) {
    fake.store.SaveSetting(u"Corvane", u"Settings", key, value);
  }

  FakeWindowSystem fake;
  cls_corvane cls;
};

TEST_F(SettingsTest, NoSectionLoadsClearAndOkWritesZeroTwice) {
  Form& form = Open();
  EXPECT_EQ(form.Caption(), u"Corvane Settings");
  EXPECT_EQ(form.ControlNamed(u"chkFormatAllParens").Value(), 0.0F);
  EXPECT_EQ(form.ControlNamed(u"chkAlwaysSendToNotepad").Value(), 0.0F);
  fake.ui.Click(form, u"imgButtonOkMain");
  EXPECT_EQ(Stored(u"Format All Parens"), u"0");
  EXPECT_EQ(Stored(u"Always Send to Notepad"), u"0");
  EXPECT_EQ(fake.store.SaveCount(), 2U);
  EXPECT_EQ(Module().frmSettings, nullptr);
}

TEST_F(SettingsTest, StoredValuesLoadAsCheckStatesAndOkWritesOneOrZero) {
  struct Case {
    std::u16string stored;
    float state;
    std::u16string saved;
  };
  for (const Case& c : {Case{u"1", 1, u"1"}, Case{u"2", 2, u"1"}, Case{u"0", 0, u"0"}, Case{u"0.5", 0, u"0"},
                        Case{u"1.5", 2, u"1"}, Case{u" 1 ", 1, u"1"}}) {
    SCOPED_TRACE(corpus::Utf16ToUtf8(c.stored));
    Store(u"Format All Parens", c.stored);
    Store(u"Always Send to Notepad", u"1");
    Form& form = Open();
    EXPECT_EQ(form.ControlNamed(u"chkFormatAllParens").Value(), c.state);
    EXPECT_EQ(form.ControlNamed(u"chkAlwaysSendToNotepad").Value(), 1.0F);
    fake.ui.Click(form, u"imgButtonOkMain");
    EXPECT_EQ(Stored(u"Format All Parens"), c.saved);
    EXPECT_EQ(Stored(u"Always Send to Notepad"), u"1");
  }
}

TEST_F(SettingsTest, ValuesThatAreNoCheckStateFailTheLoadNamingKeyAndValue) {
  for (const std::u16string bad : {u"-1", u"3", u"abc", u"", u"99999999999"}) {
    SCOPED_TRACE(corpus::Utf16ToUtf8(bad));
    Store(u"Always Send to Notepad", bad);
    try {
      cls.cvSettings();
      ADD_FAILURE() << "the load step accepted the value";
    } catch (const AutomationError& e) {
      EXPECT_NE(e.description().find(u"\"Always Send to Notepad\""), std::u16string::npos);
      EXPECT_NE(e.description().find(u"\"" + bad + u"\""), std::u16string::npos);
    }
    EXPECT_EQ(fake.ui.Shows(u"frmSettings"), 0U);
    EXPECT_EQ(Module().frmSettings, nullptr);
  }
}

TEST_F(SettingsTest, CancelAndTheCloseBoxSaveNothingAndTheNextOpeningReloads) {
  Store(u"Format All Parens", u"1");
  fake.store.ResetCounts();
  Form& first = Open();
  fake.ui.Click(first, u"chkFormatAllParens");
  fake.ui.Click(first, u"chkAlwaysSendToNotepad");
  EXPECT_EQ(first.ControlNamed(u"chkFormatAllParens").Value(), 0.0F);
  fake.ui.Click(first, u"imgButtonCancelMain");
  EXPECT_EQ(fake.store.SaveCount(), 0U);

  Form& second = Open();
  EXPECT_EQ(second.ControlNamed(u"chkFormatAllParens").Value(), 1.0F);
  EXPECT_EQ(second.ControlNamed(u"chkAlwaysSendToNotepad").Value(), 0.0F);
  fake.ui.Click(second, u"chkAlwaysSendToNotepad");
  second.CloseBox();
  EXPECT_EQ(fake.store.SaveCount(), 0U);
  EXPECT_EQ(Stored(u"Always Send to Notepad"), u"(missing)");
}

TEST_F(SettingsTest, OpeningAgainWhileOpenKeepsTheOneWindowAsItStands) {
  Form& first = Open();
  fake.ui.Click(first, u"chkFormatAllParens");
  Form& second = Open();
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(fake.ui.Shows(u"frmSettings"), 2U);
  EXPECT_EQ(second.ControlNamed(u"chkFormatAllParens").Value(), 1.0F) << "not reloaded";
  fake.ui.Click(second, u"imgButtonOkMain");
  EXPECT_EQ(Stored(u"Format All Parens"), u"1");
}

TEST_F(SettingsTest, ARefusedSaveLeavesTheWindowOpen) {
  Form& form = Open();
  fake.store.FailSavesAfter(1);
  EXPECT_THROW(fake.ui.Click(form, u"imgButtonOkMain"), AutomationError);
  EXPECT_EQ(fake.ui.Open(u"frmSettings"), &form);
  fake.store.StopFailing();
  fake.ui.Click(form, u"imgButtonOkMain");
  EXPECT_EQ(Stored(u"Always Send to Notepad"), u"0");
}

// ---- About window ----

TEST(AboutWindow, OpeningTwiceKeepsOneInstanceAndItsTexts) {
  FakeWindowSystem fake;
  cls_corvane cls;
  cls.cvAbout();
  auto& about = static_cast<windows::frmAbout&>(*fake.ui.Open(u"frmAbout"));
  EXPECT_EQ(about.Caption(), u"About Corvane");
  EXPECT_EQ(about.lblCopyright.Caption(),
            std::u16string(windows::kTitleLine) + u"\r\n" + std::u16string(windows::kCopyrightLine));
  EXPECT_EQ(about.lblHyperlink.Caption(), u"https://corvane.dev/");
  EXPECT_EQ(about.lblHyperlink.ForeColor(), windows::Color::Rgb(0, 0, 255));
  EXPECT_EQ(about.lblHyperlink.GetAlignment(), windows::Alignment::Center);
  EXPECT_EQ(about.lblHyperlink.GetFont().size, 10.0F);
  EXPECT_TRUE(about.lblHyperlink.GetFont().underline);
  ASSERT_NE(about.lblHyperlink.MouseIcon(), nullptr);
  EXPECT_EQ(about.lblHyperlink.MouseIcon()->hotSpotX, 6);
  EXPECT_EQ(about.lblHyperlink.MouseIcon()->hotSpotY, 1);
  EXPECT_EQ(about.lblCopyright.MouseIcon(), nullptr);
  ASSERT_NE(Module().frmGraphics, nullptr);
  EXPECT_EQ(Module().frmGraphics->Caption(), u"Form1");
  EXPECT_EQ(fake.ui.Shows(u"frmGraphics"), 0U);

  about.lblCopyright.SetCaption(u"changed while open");
  cls.cvAbout();
  EXPECT_EQ(fake.ui.Open(u"frmAbout"), &about);
  EXPECT_EQ(about.lblCopyright.Caption(), u"changed while open");

  // Closed and opened again, the load step runs afresh; the pointer store stays loaded.
  about.CloseBox();
  EXPECT_NE(Module().frmGraphics, nullptr);
  cls.cvAbout();
  auto& again = static_cast<windows::frmAbout&>(*fake.ui.Open(u"frmAbout"));
  EXPECT_EQ(again.lblCopyright.Caption().substr(0, windows::kTitleLine.size()), windows::kTitleLine);
}

TEST(AboutWindow, EachClickOnTheAddressMakesOneShellCall) {
  FakeWindowSystem fake;
  cls_corvane cls;
  cls.cvAbout();
  Form& about = *fake.ui.Open(u"frmAbout");
  fake.ui.Click(about, u"lblHyperlink");
  ASSERT_EQ(fake.shell.calls.size(), 1U);
  const auto& call = fake.shell.calls[0];
  EXPECT_EQ(call.operation, u"open");
  EXPECT_EQ(call.file, u"https://corvane.dev/");
  EXPECT_EQ(call.parameters, u"1");
  EXPECT_EQ(call.directory, u"1");
  EXPECT_EQ(call.showCommand, 3);

  fake.shell.result = 2;  // no browser: nothing changes, nothing is shown
  fake.ui.Click(about, u"lblHyperlink");
  EXPECT_EQ(fake.shell.calls.size(), 2U);
  EXPECT_EQ(fake.ui.Open(u"frmAbout"), &about);
  EXPECT_TRUE(fake.ui.Messages().empty());

  fake.ui.Press(about, u"lblHyperlink");
  fake.ui.Release(false);
  EXPECT_EQ(fake.shell.calls.size(), 2U) << "a release off the link is no click";
}

// ---- Calibration progress window ----

TEST(ProgressWindow, CancelSetsTheFlagAndClosesTheCloseBoxDoesNot) {
  FakeWindowSystem fake;
  auto progress = mdl_Support::frmCalibrationProgress();
  EXPECT_EQ(progress->Caption(), u"Corvane Calibration");
  EXPECT_EQ(progress->pbCalibration.Value(), 1.0F);
  EXPECT_EQ(progress->pbCalibration.Min(), 1.0F);
  EXPECT_EQ(progress->pbCalibration.Max(), 767.0F);
  progress->Show(windows::ShowMode::Modeless);
  for (float k = 2; k <= 4; ++k) progress->pbCalibration.SetValue(k);
  EXPECT_EQ(fake.ui.ProgressValues(), (std::vector<float>{2, 3, 4}));
  EXPECT_THROW(progress->pbCalibration.SetValue(768.0F), AutomationError);

  Module().bCancelCalibration = false;
  fake.ui.Click(*progress, u"imgButtonCancelMain");
  EXPECT_TRUE(Module().bCancelCalibration);
  EXPECT_FALSE(progress->Loaded());
  progress->Unload();  // the command's own closing afterwards changes nothing
  EXPECT_EQ(fake.ui.Unloads(u"frmCalibrationProgress"), 1U);

  Module().bCancelCalibration = false;
  auto fresh = mdl_Support::frmCalibrationProgress();
  EXPECT_NE(fresh, progress);
  EXPECT_EQ(fresh->pbCalibration.Value(), 1.0F);
  fresh->Show(windows::ShowMode::Modeless);
  fresh->CloseBox();
  EXPECT_FALSE(Module().bCancelCalibration);
}

// ---- Label text layout ----

TEST(LabelLayout, LineBreaksAndWordWrap) {
  const auto chars = [](std::u16string_view s) { return static_cast<float>(s.size()); };
  EXPECT_EQ(windows::SplitLines(u"a\r\nb\nc\rd\r\n"), (std::vector<std::u16string>{u"a", u"b", u"c", u"d", u""}));
  EXPECT_EQ(windows::SplitLines(u""), std::vector<std::u16string>{u""});
  EXPECT_EQ(windows::WrapLine(u"aaa bbb ccc", 7, chars), (std::vector<std::u16string>{u"aaa bbb", u"ccc"}));
  EXPECT_EQ(windows::WrapLine(u"aaa     bbb", 4, chars), (std::vector<std::u16string>{u"aaa", u"bbb"}));
  EXPECT_EQ(windows::WrapLine(u"aaa ", 3, chars), std::vector<std::u16string>{u"aaa"});
  EXPECT_EQ(windows::WrapLine(u"  indented", 20, chars), std::vector<std::u16string>{u"  indented"});
  EXPECT_EQ(windows::WrapLine(u"abcdefgh ij", 3, chars), (std::vector<std::u16string>{u"abc", u"def", u"gh", u"ij"}));
  // A surrogate pair is never split.
  EXPECT_EQ(windows::WrapLine(u"a\U0001F600b", 2, chars), (std::vector<std::u16string>{u"a", u"\U0001F600", u"b"}));
}

}  // namespace
}  // namespace corvane
