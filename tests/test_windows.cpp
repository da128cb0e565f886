// The add-in's windows as models, driven through the fake window system at 120 dpi (12 twips to
// the pixel) with text 7 pixels a character and 18 pixels a line: the message box's layout and
// answers, the picture buttons, settings and the progress window. The back ends' tests
// check only what they add to these; the terminal front end, which is the program's back end, is
// tested last, with the program's settings window worked as a dialog and its colours.
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>
#include <vector>

#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "base/memory_store.h"
#include "platform/posix/shell_open.h"
#include "platform/posix/terminal_ui.h"
#include "spacing/calibrate_command.h"
#include "support/corpus.h"
#include "support/fake_ui.h"
#include "support/on_terminal.h"
#include "support/run_cli.h"
#include "support/xlsx_builder.h"
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

TEST(Settings, StoredValuesLoadAsCheckStatesOkWritesBothAsOneOrZeroAndCancelNothingAndAboutShowsOnce) {
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

  // The modeless About window shows once however often its command runs, and afresh after it closed.
  cls.cvAbout();
  Form* about = fake.ui.Open(u"frmAbout");
  ASSERT_NE(about, nullptr);
  cls.cvAbout();
  EXPECT_EQ(fake.ui.Open(u"frmAbout"), about);
  fake.ui.Click(*about, u"imgButtonOkMain");
  EXPECT_EQ(fake.ui.Open(u"frmAbout"), nullptr);
  cls.cvAbout();
  EXPECT_NE(fake.ui.Open(u"frmAbout"), nullptr);
}

// What the message box tests leave out: runs of spaces, and a surrogate pair is never split.
TEST(LabelLayout, WordWrap) {
  const auto chars = [](std::u16string_view s) { return static_cast<float>(s.size()); };
  EXPECT_EQ(windows::WrapLine(u"aaa     bbb", 4, chars), (Lines{u"aaa", u"bbb"}));
  EXPECT_EQ(windows::WrapLine(u"abcdefgh ij", 3, chars), (Lines{u"abc", u"def", u"gh", u"ij"}));
  EXPECT_EQ(windows::WrapLine(u"a\U0001F600b", 2, chars), (Lines{u"a", u"\U0001F600", u"b"}));
}

// ---- The terminal front end: what it adds to the windows (their text on the screen, keys as
// answers, the terminal's mode, Ctrl-C as Cancel), driven through a pseudo-terminal as a user at a
// keyboard would; and the POSIX shell's opening of web addresses ----

using namespace std::chrono_literals;
using testing::Terminal;

// The user at the terminal: types `keys` once `cue` is on the screen, while the test waits for the answer.
std::thread TypeWhenShown(Terminal& terminal, std::string cue, std::string keys) {
  return std::thread([&terminal, cue = std::move(cue), keys = std::move(keys)] {
    if (terminal.WaitFor(cue)) terminal.Type(keys);
  });
}

// The program's services with the terminal front end on the given descriptors.
class TerminalFixture : public ::testing::Test {
 protected:
  void Install(int terminal) {
    scope_.reset();
    ui_ = std::make_unique<posix::TerminalUi>(posix::TerminalUi::Options{terminal, terminal, 120.0});
    PlatformServices services;
    services.ui = ui_.get();
    services.textMeasurer = &measurer_;
    services.store = &store_;
    scope_ = std::make_unique<ScopedServices>(services);
  }
  void TearDown() override {
    if (auto& progress = Module().frmCalibrationProgress) progress->Unload();
    scope_.reset();
  }

  testsupport::FakeMeasurer measurer_;
  MemoryStore store_;
  std::unique_ptr<posix::TerminalUi> ui_;
  std::unique_ptr<ScopedServices> scope_;
};

TEST_F(TerminalFixture, TheFirstLetterOfAButtonAnswersAndEndOfInputCloses) {
  struct Case {
    std::int32_t style;
    std::string buttons, keys;
    std::int32_t answer;
  };
  // Other keys do nothing ("y" is no button of an OK window).
  for (const Case& c : {Case{4, "[Y]es  [N]o", "\r\n\x1bq y", 6}, Case{4, "[Y]es  [N]o", "n", 7},
                        Case{4, "[Y]es  [N]o", "x\x04y", -1}, Case{1, "[O]K  [C]ancel", "C", 2},
                        Case{36, "[O]K", "yo", 1}}) {
    SCOPED_TRACE(c.keys);
    Terminal pty;
    Install(pty.slave());
    std::thread user = TypeWhenShown(pty, c.buttons, c.keys);
    EXPECT_EQ(ui_->Ask(u"Corvane is not yet calibrated.\r\nCalibrate now?", c.style, u"Corvane"), c.answer);
    user.join();
    const std::string& screen = pty.screen();
    EXPECT_NE(screen.find("Corvane\r\n"), std::string::npos) << screen;
    EXPECT_NE(screen.find("Corvane is not yet calibrated.\r\nCalibrate now?\r\n"), std::string::npos) << screen;
    for (const char* button : {"[O]K", "[C]ancel", "[Y]es", "[N]o"})
      EXPECT_EQ(screen.find(button) != std::string::npos, c.buttons.find(button) != std::string::npos) << button;
    termios mode{};  // the terminal is back in its usual mode
    ASSERT_EQ(tcgetattr(pty.slave(), &mode), 0);
    EXPECT_TRUE(mode.c_lflag & ICANON);
    EXPECT_TRUE(mode.c_lflag & ECHO);
    TearDown();
  }
}

std::atomic<int> gTestInterrupts{0};
extern "C" void CountInterrupt(int) { ++gTestInterrupts; }

TEST_F(TerminalFixture, ProgressBarAndCtrlCAsCancelWhileTheWindowIsOpen) {
  struct sigaction counting {};
  counting.sa_handler = CountInterrupt;
  sigemptyset(&counting.sa_mask);
  struct sigaction before {};
  ASSERT_EQ(sigaction(SIGINT, &counting, &before), 0);
  Terminal pty;
  Install(pty.slave());
  Module().bCancelCalibration = false;
  auto progress = mdl_Support::frmCalibrationProgress();
  std::thread screen([&] { pty.WaitFor("100%"); });  // read while the bar is drawn
  progress->Show(windows::ShowMode::Modeless);
  progress->pbCalibration.SetValue(767.0F);
  screen.join();
  EXPECT_NE(pty.screen().find("Calibrating... [" + std::string(40, '#') + "] 100%"), std::string::npos) << pty.screen();

  raise(SIGINT);
  EXPECT_EQ(gTestInterrupts, 0) << "Ctrl-C belongs to the open progress window";
  ui_->DoEvents();
  EXPECT_TRUE(Module().bCancelCalibration);
  EXPECT_FALSE(progress->Loaded());
  raise(SIGINT);
  EXPECT_EQ(gTestInterrupts, 1) << "with the window closed, Ctrl-C is as before";
  sigaction(SIGINT, &before, nullptr);
}

// The address reaches the opener as one argument, never through a shell.
TEST(PosixShell, OpensTheAddressAsOneArgument) {
  const auto dir = std::filesystem::temp_directory_path() / ("corvane-shell-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string opener = (dir / "opener").string(), args = (dir / "args").string();
  std::ofstream(opener) << "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" << args << ".tmp'\nmv '" << args << ".tmp' '"
                        << args << "'\n";
  std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
  EXPECT_GT(posix::PosixShell(opener).ShellOpen(u"open", u"https://corvane.dev/?a=1&b='x' $(touch nope)", u"1", u"1", 3), 32);
  for (int i = 0; i < 200 && !std::filesystem::exists(args); ++i) std::this_thread::sleep_for(20ms);
  std::ifstream file(args);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "1|https://corvane.dev/?a=1&b='x' $(touch nope)");
  EXPECT_FALSE(std::filesystem::exists("nope"));
  std::filesystem::remove_all(dir);
}

// The settings window of the program, worked as a dialog: the focus moves with the arrow keys
// and Tab, Space toggles, Enter presses OK, Esc presses Cancel; the terminal is itself again
// after each way out, and what is typed after the window closes reaches the shell whole.
TEST(TerminalSettings, WorkedAsADialogAndNoKeyLostAfterIt) {
  testsupport::TempFolder folder;
  const std::string store = (folder / "s.db").string();
  struct Case {
    std::string keys;  // typed once the window shows its keys
    std::string after;  // the options printed at the end
  };
  const std::vector<Case> cases = {
      {" \x1b[B \t\r", "Format All Parens: on\r\nAlways Send to Notepad: on\r\n"},  // Tab to OK
      {"\x1b[B \r", "Format All Parens: on\r\nAlways Send to Notepad: off\r\n"},    // Enter: OK
      {"\t\x1b[Z \x1b", "Format All Parens: on\r\nAlways Send to Notepad: off\r\n"},  // Esc: Cancel
      {" \x04", "Format All Parens: on\r\nAlways Send to Notepad: off\r\n"},  // end of input: closed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    testing::OnTerminal shell({"-c", "\"$CORVANE\" settings --store '" + store +
                                         "'; stty -a | grep -o -- '-*icanon'; IFS= read -r line; echo \"after:$line\""},
                              "/bin/sh");
    ASSERT_TRUE(shell.WaitFor("[C]ancel"));
    shell.Type(c.keys);
    ASSERT_TRUE(shell.WaitFor("icanon"));
    shell.Type("echo hello\n");
    EXPECT_EQ(shell.Finish(), 0);
    const std::string& screen = shell.screen();
    EXPECT_NE(screen.find(c.after), std::string::npos) << screen;
    EXPECT_NE(screen.find("\nicanon"), std::string::npos) << screen;
    EXPECT_NE(screen.find("after:echo hello"), std::string::npos) << screen;
  }
}

// Colour shows the structure of a formula on a terminal: literals, functions, references, sheet
// names, and each level's parentheses in its own colour; never in a pipe unless asked, never
// with NO_COLOR unless asked; control characters stay escaped.
TEST(TerminalColour, ShowsTheStructureWhereAskedOrOnATerminal) {
  const std::string sum = "=\x1b[1;34mSUM\x1b[0m\x1b[33m(\x1b[0m\x1b[36mA1\x1b[0m,\x1b[32m\"x\"\x1b[0m\x1b[33m)\x1b[0m\n";
  EXPECT_EQ(testing::RunCli({"unformat", "--color=always", "=SUM(A1, \"x\")"}).out, sum);
  EXPECT_EQ(testing::RunCli({"unformat", "--color", "always", "='a b'!B2+F(G(1))"}).out,
            "=\x1b[35m'a b'\x1b[0m\x1b[35m!\x1b[0m\x1b[36mB2\x1b[0m+\x1b[1;34mF\x1b[0m\x1b[33m(\x1b[0m\x1b[1;34mG\x1b[0m"
            "\x1b[31m(\x1b[0m1\x1b[31m)\x1b[0m\x1b[33m)\x1b[0m\n");
  EXPECT_EQ(testing::RunCli({"unformat", "--color=always", "=T(\"a\x1b[2Jb\")"}).out.find("\x1b[2J"), std::string::npos);
  EXPECT_EQ(testing::RunCli({"unformat", "=SUM(A1, \"x\")"}).out, "=SUM(A1,\"x\")\n");  // a pipe
  const auto r = testing::RunCli({"format", "--mono", "--uncalibrated", "--color=always", "=SUM(A1,1)"});
  EXPECT_TRUE(r.out.starts_with("=\x1b[1;34mSUM\x1b[0m\x1b[33m(\x1b[0m\n")) << r.out;
  EXPECT_EQ(testing::RunCli({"unformat", "--color=sometimes", "=1"}).status, 2);
  for (const char* noColour : {"", "1"}) {
    testing::OnTerminal shell({"-c", std::string("NO_COLOR=") + noColour + " \"$CORVANE\" unformat '=SUM(A1, 2)'"}, "/bin/sh");
    EXPECT_EQ(shell.Finish(), 0);
    EXPECT_EQ(shell.screen().find("\x1b[1;34mSUM") != std::string::npos, *noColour == '\0') << shell.screen();
  }
}

}  // namespace
}  // namespace corvane
