// The terminal front end: what it adds to the windows (their text on the screen, keys as answers,
// the terminal's mode, Ctrl-C as Cancel), driven through a pseudo-terminal as a user at a
// keyboard would; and the POSIX shell's opening of web addresses.
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "base/memory_store.h"
#include "platform/posix/shell_open.h"
#include "platform/posix/terminal_ui.h"
#include "support/fake_ui.h"
#include "windows/frm_calibration_progress.h"
#include "windows/frm_settings.h"

namespace corvane {
namespace {

using mdl_Support::Module;
using namespace std::chrono_literals;

// A pseudo-terminal whose user types `keys` once `cue` has appeared on the screen.
class Pty {
 public:
  explicit Pty(std::string cue = {}, std::string keys = {}) : cue_(std::move(cue)), keys_(std::move(keys)) {
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    reader_ = std::thread([this] {
      char buffer[512];
      for (ssize_t n = 0; (n = ::read(master_, buffer, sizeof buffer)) > 0;) {
        const std::lock_guard lock(mutex_);
        screen_.append(buffer, static_cast<std::size_t>(n));
        if (!keys_.empty() && screen_.find(cue_) != std::string::npos) {
          (void)!::write(master_, keys_.data(), keys_.size());
          keys_.clear();
        }
        changed_.notify_all();
      }
    });
  }
  ~Pty() {
    ::close(slave_);
    reader_.join();
    ::close(master_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  int slave() const { return slave_; }
  // Everything shown so far, once `last` has appeared (or after a few seconds).
  std::string Screen(const std::string& last) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 5s, [&] { return screen_.find(last) != std::string::npos; });
    return screen_;
  }

 private:
  std::string cue_, keys_, screen_;
  int master_ = -1;
  int slave_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
};

// The program's services with the terminal front end on the given descriptors.
class TerminalFixture : public ::testing::Test {
 protected:
  void Install(int input, int output) {
    scope_.reset();
    ui_ = std::make_unique<posix::TerminalUi>(posix::TerminalUi::Options{input, output, 120.0});
    PlatformServices services;
    services.ui = ui_.get();
    services.textMeasurer = &measurer_;
    services.store = &store_;
    scope_ = std::make_unique<ScopedServices>(services);
  }
  void TearDown() override {
    if (auto& settings = Module().frmSettings) settings->Unload();
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
  for (const Case& c : {Case{4, "[Y]es  [N]o", "y", 6}, Case{4, "[Y]es  [N]o", "N", 7},
                        Case{4, "[Y]es  [N]o", "\r\n\x1bq n", 7}, Case{4, "[Y]es  [N]o", "\x04", -1},
                        Case{4, "[Y]es  [N]o", "x\x04y", -1}, Case{1, "[O]K  [C]ancel", "c", 2},
                        Case{36, "[O]K", "yo", 1}}) {  // "y" is no button of that window
    SCOPED_TRACE(c.keys);
    Pty pty(c.buttons, c.keys);
    Install(pty.slave(), pty.slave());
    EXPECT_EQ(ui_->Ask(u"Corvane is not yet calibrated.\r\nCalibrate now?", c.style, u"Corvane"), c.answer);
    const std::string screen = pty.Screen(c.buttons);
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

TEST_F(TerminalFixture, AQuestionWithoutATerminalIsPrintedAndCountsAsClosed) {
  int keys[2];
  ASSERT_EQ(pipe(keys), 0);
  ASSERT_EQ(::write(keys[1], "y", 1), 1);
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  Install(keys[0], fileno(out));
  EXPECT_EQ(ui_->Ask(u"Calibration done.\r\n\r\nSee Corvane Help.", 4, u"Corvane"), -1);
  std::rewind(out);
  char printed[256]{};
  const std::size_t n = std::fread(printed, 1, sizeof printed, out);
  EXPECT_EQ(std::string(printed, n), "Corvane\n-------\nCalibration done.\n\nSee Corvane Help.\n\n[Y]es  [N]o\n");
  std::fclose(out);
  ::close(keys[0]);
  ::close(keys[1]);
}

TEST_F(TerminalFixture, SettingsAreToggledFromTheKeyboard) {
  cls_corvane cls;
  {
    Pty pty("[C]ancel", "2o");
    Install(pty.slave(), pty.slave());
    cls.cvSettings();
    ui_->Run(*Module().frmSettings);
    const std::string screen = pty.Screen("2 [x] Always Send to Notepad");
    EXPECT_NE(screen.find("1 [ ] Format All Parens"), std::string::npos) << screen;
    EXPECT_NE(screen.find("Determines whether parens after arithmetic operators are formatted."), std::string::npos);
    EXPECT_NE(screen.find("2 [x] Always Send to Notepad"), std::string::npos) << screen;
    EXPECT_EQ(store_.GetSetting(u"Corvane", u"Settings", u"Always Send to Notepad", u""), u"1");
    EXPECT_EQ(store_.GetSetting(u"Corvane", u"Settings", u"Format All Parens", u""), u"0");
  }
  Pty pty("[C]ancel", "12c");
  Install(pty.slave(), pty.slave());
  store_.ResetCounts();
  cls.cvSettings();
  ui_->Run(*Module().frmSettings);
  EXPECT_EQ(store_.SaveCount(), 0U);
  EXPECT_EQ(Module().frmSettings, nullptr);
}

std::atomic<int> gTestInterrupts{0};
extern "C" void CountInterrupt(int) { ++gTestInterrupts; }

TEST_F(TerminalFixture, ProgressBarAndCtrlCAsCancel) {
  struct sigaction counting {};
  counting.sa_handler = CountInterrupt;
  sigemptyset(&counting.sa_mask);
  struct sigaction before {};
  ASSERT_EQ(sigaction(SIGINT, &counting, &before), 0);

  Pty pty;
  Install(pty.slave(), pty.slave());
  Module().bCancelCalibration = false;
  auto progress = mdl_Support::frmCalibrationProgress();
  progress->Show(windows::ShowMode::Modeless);
  for (int k = 2; k <= 767; ++k) progress->pbCalibration.SetValue(static_cast<float>(k));
  ui_->DoEvents();
  EXPECT_TRUE(progress->Loaded()) << "no Ctrl-C, no Cancel";

  raise(SIGINT);
  EXPECT_EQ(gTestInterrupts, 0) << "Ctrl-C belongs to the open progress window";
  EXPECT_TRUE(progress->Loaded()) << "served only when events are processed";
  ui_->DoEvents();
  EXPECT_TRUE(Module().bCancelCalibration);
  EXPECT_FALSE(progress->Loaded());

  raise(SIGINT);
  EXPECT_EQ(gTestInterrupts, 1) << "with the window closed, Ctrl-C is as before";
  const std::string screen = pty.Screen("100%");
  EXPECT_NE(screen.find("Calibrating... [" + std::string(40, '#') + "] 100%"), std::string::npos) << screen;
  EXPECT_NE(screen.find("Calibrating... [" + std::string(40, '.') + "]   0%"), std::string::npos) << screen;
  sigaction(SIGINT, &before, nullptr);
}

TEST_F(TerminalFixture, ProgressDrawsNothingOffATerminal) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Install(fds[0], fds[1]);
  auto progress = mdl_Support::frmCalibrationProgress();
  progress->Show(windows::ShowMode::Modeless);
  progress->pbCalibration.SetValue(400.0F);
  progress->Unload();
  ::close(fds[1]);
  char c = 0;
  EXPECT_EQ(::read(fds[0], &c, 1), 0);
  ::close(fds[0]);
}

TEST(PosixShell, OpensTheAddressAsOneArgumentWithoutWaitingAndRefusesWhatItCannotOpen) {
  const auto dir = std::filesystem::temp_directory_path() / ("corvane-shell-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string opener = (dir / "opener").string();
  const std::string args = (dir / "args").string();
  std::ofstream(opener) << "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" << args << ".tmp'\nmv '" << args << ".tmp' '"
                        << args << "'\nsleep 3\n";
  std::filesystem::permissions(opener, std::filesystem::perms::owner_all);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_GT(posix::PosixShell(opener).ShellOpen(u"open", u"https://corvane.dev/?a=1&b='x' $(touch nope)", u"1", u"1", 3),
            32);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "the opener runs for 3 s; nobody waits for it";
  for (int i = 0; i < 200 && !std::filesystem::exists(args); ++i) std::this_thread::sleep_for(20ms);
  std::ifstream file(args);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "1|https://corvane.dev/?a=1&b='x' $(touch nope)");
  EXPECT_FALSE(std::filesystem::exists("nope"));

  EXPECT_EQ(posix::PosixShell(opener).ShellOpen(u"print", u"https://corvane.dev/", u"", u"", 1), 31);
  EXPECT_EQ(posix::PosixShell(opener).ShellOpen(u"open", u"", u"", u"", 1), 2);
  EXPECT_EQ(posix::PosixShell((dir / "missing").string()).ShellOpen(u"open", u"https://corvane.dev/", u"", u"", 1), 31);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace corvane
