// The add-in's windows as models, driven through the fake window system at 120 dpi (12 twips to
// the pixel) with text 7 pixels a character and 18 pixels a line: the message box's layout and
// answers, the picture buttons, settings, About and the progress window. The back ends' tests
// check only what they add to these.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "spacing/calibrate_command.h"
#include "support/corpus.h"
#include "support/fake_ui.h"
#include "windows/frm_about.h"
#include "windows/frm_calibration_progress.h"
#include "windows/frm_custom_msgbox.h"
#include "windows/frm_settings.h"

namespace corvane {
namespace {

using mdl_Support::CustomMsgBox;
using mdl_Support::Module;
using testsupport::FakeWindowSystem;
using windows::Control;
using windows::Form;
using Lines = std::vector<std::u16string>;

constexpr float kLine = 18.0F * 12.0F;  // one line of the prompt, in twips

// What holds for every message window as shown: at least the minimum size; the banner, the label
// and the buttons inside it, top to bottom without overlap; every line within the label's width;
// the visible buttons on one row, 200 twips apart, the row centred.
void ExpectWellLaidOut(const windows::frmCustomMsgBox& box, testsupport::FakeMeasurer& measurer) {
  const Control& label = box.lblPrompt;
  EXPECT_TRUE(box.Width() >= 7150.0F && box.Height() >= 2780.0F) << "the minimum size";
  EXPECT_TRUE(box.imgCorvane.Left() >= 0.0F && box.imgCorvane.Left() + box.imgCorvane.Width() <= box.ScaleWidth());
  EXPECT_GE(label.Top(), box.imgCorvane.Top() + box.imgCorvane.Height());
  EXPECT_TRUE(label.Left() > 0.0F && label.Width() <= 6850.0F && label.Left() + label.Width() <= box.ScaleWidth());
  EXPECT_EQ(label.Height(), kLine * static_cast<float>(label.Lines().size()));
  for (const auto& line : label.Lines())
    EXPECT_LE(measurer.LineWidthPixels(line, u"Verdana", 9.0, 120.0) * 12.0, label.Width());

  std::vector<const Control*> row;
  for (const Control* c : {&box.imgButtonOkMain, &box.imgButtonCancelMain, &box.imgButtonYesMain, &box.imgButtonNoMain})
    if (c->Visible()) row.push_back(c);
  std::sort(row.begin(), row.end(), [](auto* a, auto* b) { return a->Left() < b->Left(); });
  ASSERT_FALSE(row.empty());
  EXPECT_FLOAT_EQ(row.front()->Left() + row.back()->Left() + row.back()->Width(), box.Width()) << "centred";
  for (std::size_t i = 0; i < row.size(); ++i) {
    EXPECT_EQ(row[i]->Top(), row[0]->Top());
    EXPECT_GE(row[i]->Top(), label.Top() + label.Height()) << "below the label";
    EXPECT_LE(row[i]->Top() + row[i]->Height(), box.ScaleHeight()) << "inside the client area";
    if (i > 0) {
      EXPECT_EQ(row[i]->Left(), row[i - 1]->Left() + row[i - 1]->Width() + 200.0F);
    }
  }
}

class MessageBoxTest : public ::testing::Test {
 protected:
  // Shows the prompt, checks the window as shown, and answers with `button` (empty: the close box).
  std::int32_t Ask(const std::u16string& prompt, std::int32_t style, const std::u16string& button = u"Ok") {
    fake.ui.QueueModal([this, button](Form& form) {
      auto& box = static_cast<windows::frmCustomMsgBox&>(form);
      ExpectWellLaidOut(box, fake.measurer);
      lines = box.lblPrompt.Lines();
      wrapped = box.lblPrompt.WordWrap();
      size = {box.Width(), box.Height()};
      if (button.empty()) {
        form.CloseBox();
      } else {
        fake.ui.Click(form, u"imgButton" + button + u"Main");
      }
    });
    const std::int32_t answer = CustomMsgBox(prompt, style, u"Corvane");
    EXPECT_EQ(fake.ui.Open(u"frmCustomMsgBox"), nullptr);
    EXPECT_EQ(Module().frmCustomMsgBox, nullptr) << "closing destroys the shared instance";
    return answer;
  }

  FakeWindowSystem fake;
  Lines lines;
  bool wrapped = false;
  std::pair<float, float> size;
};

TEST_F(MessageBoxTest, EachStyleShowsItsButtonsAndEachButtonGivesItsAnswer) {
  std::u16string longQuestion;
  for (int i = 0; i < 20; ++i) longQuestion += u"Shall we calibrate now? ";
  const std::u16string notice(calibration::kCalibrationDoneNotice);
  struct Case {
    std::u16string prompt;
    std::int32_t style;
    std::u16string click;  // empty: the close box
    std::int32_t answer;
    Lines buttons;
    Lines lines;  // empty: not checked
  };
  const Case cases[] = {
      {longQuestion, 4, u"Yes", 6, {u"Yes", u"No"}, {}},
      // After a long question, nothing of it is left.
      {u"No formula in cell.", 0, u"Ok", 1, {u"OK"}, {u"No formula in cell."}},
      {u"Calibrate now?", 4, u"No", 7, {u"Yes", u"No"}, {}},
      {u"Go on?", 1, u"Cancel", 2, {u"OK", u"Cancel"}, {}},
      {u"Calibrate now?", 4, u"", -1, {u"Yes", u"No"}, {}},
      {u"", 0, u"", -1, {u"OK"}, {u""}},
      {notice, 0, u"Ok", 1, {u"OK"},
       {u"Calibration done.", u"", u"You should calibrate again whenever you change the standard font in Excel, or",
        u"upgrade to a new version of Excel or Windows, or upgrade to a new computer",
        u"motherboard or video card, or upgrade your video driver.", u"", u"See Corvane Help for more information."}},
      {u"line\r\nline\r\nline\r\nline\r\nline\r\nlast", 0, u"Ok", 1, {u"OK"},
       {u"line", u"line", u"line", u"line", u"line", u"last"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(corpus::Utf16ToUtf8(c.prompt));
    EXPECT_EQ(Ask(c.prompt, c.style, c.click), c.answer);
    const auto& shown = fake.ui.Messages().back();
    EXPECT_EQ(std::tie(shown.title, shown.prompt, shown.buttons), std::tie(u"Corvane", c.prompt, c.buttons));
    EXPECT_TRUE(c.lines.empty() || lines == c.lines);
    EXPECT_EQ(wrapped, c.prompt == notice || c.prompt == longQuestion);
    EXPECT_TRUE(c.lines.size() != 1 || size == std::make_pair(7150.0F, 2780.0F)) << "one line: the minimum size";
  }
  for (const std::int32_t style : {0, 2, 3, 5, 16, 32, 36, 48, 64, -1, 0x104}) {
    SCOPED_TRACE(style);
    EXPECT_EQ(Ask(u"Unable to format this cell.", style), 1);
    EXPECT_EQ(fake.ui.Messages().back().buttons, Lines{u"OK"});
  }
}

TEST_F(MessageBoxTest, APromptOneTwipWiderThanTheLabelWraps) {
  fake.measurer.widths[u'x'] = 6850.0 / 12.0;  // one "x" is as wide as the label
  fake.measurer.widths[u'.'] = 1.0 / 12.0;     // one twip
  EXPECT_EQ(Ask(u"x", 0), 1);
  EXPECT_EQ(size, std::make_pair(7150.0F, 2780.0F));
  EXPECT_EQ(Ask(u"x.", 0), 1);
  EXPECT_EQ(lines, (Lines{u"x", u"."}));
  EXPECT_GT(size.second, 2780.0F);
}

TEST(Settings, StoredValuesLoadAsCheckStatesOkWritesBothAsOneOrZeroAndCancelNothing) {
  FakeWindowSystem fake;
  cls_corvane cls;
  const auto store = [&](std::u16string_view key, std::u16string_view value) {
    fake.store.SaveSetting(u"Corvane", u"Settings", key, value);
  };
  const auto stored = [&](std::u16string_view key) { return fake.store.GetSetting(u"Corvane", u"Settings", key, u"-"); };
  const auto open = [&]() -> Form& {
    cls.cvSettings();
    return *fake.ui.Open(u"frmSettings");
  };
  // Stored value, check state shown, value OK saves; state -1: the load step fails, naming key
  // and value, and no window shows.
  for (const auto& [value, state, saved] : std::vector<std::tuple<std::u16string, float, std::u16string>>{
           {u"2", 2, u"1"}, {u"0.5", 0, u"0"}, {u"1.5", 2, u"1"}, {u" 1 ", 1, u"1"}, {u"-1", -1, u""},
           {u"3", -1, u""}, {u"abc", -1, u""}, {u"", -1, u""}, {u"99999999999", -1, u""}}) {
    SCOPED_TRACE(corpus::Utf16ToUtf8(value));
    store(u"Format All Parens", value);
    store(u"Always Send to Notepad", u"1");
    if (state < 0) {
      const std::size_t logged = fake.ui.Log().size();
      try {
        cls.cvSettings();
        ADD_FAILURE() << "the load step accepted the value";
      } catch (const AutomationError& e) {
        for (const std::u16string& named : {std::u16string(u"Format All Parens"), value})
          EXPECT_NE(e.description().find(u"\"" + named + u"\""), std::u16string::npos) << corpus::Utf16ToUtf8(named);
      }
      EXPECT_EQ(fake.ui.Log().size(), logged) << "no window shown";
      continue;
    }
    Form& form = open();
    EXPECT_EQ(form.ControlNamed(u"chkFormatAllParens").Value(), state);
    EXPECT_EQ(form.ControlNamed(u"chkAlwaysSendToNotepad").Value(), 1.0F);
    fake.ui.Click(form, u"imgButtonOkMain");
    EXPECT_EQ(stored(u"Format All Parens") + stored(u"Always Send to Notepad"), saved + u"1");
  }
  // Cancel saves nothing, and the next window loads again.
  store(u"Format All Parens", u"0");
  fake.store.ResetCounts();
  Form& form = open();
  fake.ui.Click(form, u"chkFormatAllParens");
  fake.ui.Click(form, u"imgButtonCancelMain");
  EXPECT_EQ(fake.store.SaveCount(), 0U);
  EXPECT_EQ(open().ControlNamed(u"chkFormatAllParens").Value(), 0.0F);
}

TEST(AboutWindow, OneInstanceWhileOpenAndAClickOnTheAddressOpensIt) {
  FakeWindowSystem fake;
  cls_corvane cls;
  cls.cvAbout();
  auto& about = static_cast<windows::frmAbout&>(*fake.ui.Open(u"frmAbout"));
  cls.cvAbout();
  EXPECT_EQ(fake.ui.Open(u"frmAbout"), &about);
  fake.ui.Click(about, u"lblHyperlink");
  ASSERT_EQ(fake.shell.calls.size(), 1U);
  const auto& call = fake.shell.calls[0];
  EXPECT_EQ(std::tie(call.operation, call.file, call.parameters, call.directory, call.showCommand),
            std::make_tuple(u"open", u"https://corvane.dev/", u"1", u"1", 3));
  fake.ui.Click(about, u"imgButtonOkMain");
  EXPECT_EQ(fake.ui.Open(u"frmAbout"), nullptr);
}

// What the message box tests leave out: runs of spaces, and a surrogate pair is never split.
TEST(LabelLayout, WordWrap) {
  const auto chars = [](std::u16string_view s) { return static_cast<float>(s.size()); };
  EXPECT_EQ(windows::WrapLine(u"aaa     bbb", 4, chars), (Lines{u"aaa", u"bbb"}));
  EXPECT_EQ(windows::WrapLine(u"abcdefgh ij", 3, chars), (Lines{u"abc", u"def", u"gh", u"ij"}));
  EXPECT_EQ(windows::WrapLine(u"a\U0001F600b", 2, chars), (Lines{u"a", u"\U0001F600", u"b"}));
}

}  // namespace
}  // namespace corvane
