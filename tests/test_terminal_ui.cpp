// The terminal front end: what it adds to the windows (their text on the screen, keys as answers,
// the terminal's mode, Ctrl-C as Cancel), driven through a pseudo-terminal as a user at a
// keyboard would; and the POSIX shell's opening of web addresses.
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "addin/mdl_support.h"
#include "base/memory_store.h"
#include "platform/posix/shell_open.h"
#include "platform/posix/terminal_ui.h"
#include "support/fake_ui.h"
#include "support/on_terminal.h"
#include "support/run_cli.h"
#include "support/xlsx_builder.h"
#include "windows/frm_calibration_progress.h"

namespace corvane {
namespace {

using mdl_Support::Module;
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

}  // namespace
}  // namespace corvane
