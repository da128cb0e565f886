// The terminal front end: its questions and the add-in's windows, driven through a
// pseudo-terminal as a user at a keyboard would, and the POSIX shell's opening of web addresses.
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "addin/cls_corvane.h"
#include "base/memory_store.h"
#include "addin/mdl_support.h"
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
  Pty() {
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    reader_ = std::thread([this] {
      char buffer[512];
      for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) break;
        std::lock_guard lock(mutex_);
        screen_.append(buffer, static_cast<std::size_t>(n));
        changed_.notify_all();
      }
    });
  }
  ~Pty() {
    if (typist_.joinable()) typist_.join();
    ::close(slave_);
    reader_.join();
    ::close(master_);
  }

  int slave() const { return slave_; }

  void TypeWhenShown(std::string cue, std::string keys) {
    typist_ = std::thread([this, cue = std::move(cue), keys = std::move(keys)] {
      std::unique_lock lock(mutex_);
      if (!changed_.wait_for(lock, 10s, [&] { return screen_.find(cue) != std::string::npos; })) return;
      lock.unlock();
      (void)!::write(master_, keys.data(), keys.size());
    });
  }

  // Everything shown so far, once `last` has appeared (or after a few seconds).
  std::string Screen(const std::string& last) {
    if (typist_.joinable()) typist_.join();
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 5s, [&] { return screen_.find(last) != std::string::npos; });
    return screen_;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::thread reader_;
  std::thread typist_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string screen_;
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

TEST_F(TerminalFixture, YesNoQuestionAnsweredWithEachKeyAndEndOfInput) {
  // Printed as the message window prints; the first letter of a button answers.
  struct Case {
    std::string keys;
    std::int32_t answer;
  };
  for (const Case& c : {Case{"y", 6}, Case{"n", 7}, Case{"Y", 6}, Case{"N", 7}, Case{"\r\n\x1bq n", 7},
                        Case{"\x04", -1}, Case{"x\x04y", -1}}) {
    SCOPED_TRACE(c.keys);
    Pty pty;
    Install(pty.slave(), pty.slave());
    pty.TypeWhenShown("[N]o", c.keys);
    EXPECT_EQ(ui_->Ask(u"Corvane is not yet calibrated.\r\nCalibrate now?", 4, u"Corvane"), c.answer);
    const std::string screen = pty.Screen("[N]o");
    EXPECT_NE(screen.find("Corvane"), std::string::npos) << screen;
    EXPECT_NE(screen.find("Corvane is not yet calibrated.\r\nCalibrate now?\r\n"), std::string::npos) << screen;
    EXPECT_NE(screen.find("[Y]es  [N]o"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("[O]K"), std::string::npos) << screen;

    // The terminal is back in its usual mode.
    termios mode{};
    ASSERT_EQ(tcgetattr(pty.slave(), &mode), 0);
    EXPECT_TRUE(mode.c_lflag & ICANON);
    EXPECT_TRUE(mode.c_lflag & ECHO);
    TearDown();
  }
}

TEST_F(TerminalFixture, OkCancelKeysAndOkAlone) {
  {
    Pty pty;
    Install(pty.slave(), pty.slave());
    pty.TypeWhenShown("[C]ancel", "c");
    EXPECT_EQ(ui_->Ask(u"Go on?", 1, u"Corvane"), 2);
    EXPECT_NE(pty.Screen("[C]ancel").find("[O]K  [C]ancel"), std::string::npos);
  }
  {
    Pty pty;
    Install(pty.slave(), pty.slave());
    pty.TypeWhenShown("[O]K", "yo");  // "y" is no button of this window
    EXPECT_EQ(ui_->Ask(u"No formula in cell.", 36, u"Corvane"), 1);
  }
}

TEST_F(TerminalFixture, AQuestionWithoutATerminalIsPrintedAndCountsAsClosed) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "y", 1), 1);
  const std::string out = std::filesystem::temp_directory_path() / ("corvane-ui-" + std::to_string(getpid()));
  const int outFd = ::open(out.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0600);
  ASSERT_GE(outFd, 0);
  Install(fds[0], outFd);
  EXPECT_EQ(ui_->Ask(u"Calibration done.\r\n\r\nSee Corvane Help.", 4, u"Corvane"), -1);
  ::close(fds[0]);
  ::close(fds[1]);
  ::close(outFd);
  std::ifstream file(out);
  const std::string printed((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::filesystem::remove(out);
  EXPECT_EQ(printed, "Corvane\n-------\nCalibration done.\n\nSee Corvane Help.\n\n[Y]es  [N]o\n");
}

TEST_F(TerminalFixture, SettingsAreToggledFromTheKeyboard) {
  cls_corvane cls;
  {
    Pty pty;
    Install(pty.slave(), pty.slave());
    cls.cvSettings();
    pty.TypeWhenShown("[C]ancel", "2o");
    ui_->Run(*Module().frmSettings);
    const std::string screen = pty.Screen("2 [x] Always Send to Notepad");
    EXPECT_NE(screen.find("1 [ ] Format All Parens"), std::string::npos) << screen;
    EXPECT_NE(screen.find("Determines whether parens after arithmetic operators are formatted."), std::string::npos);
    EXPECT_NE(screen.find("2 [x] Always Send to Notepad"), std::string::npos) << screen;
    EXPECT_EQ(store_.GetSetting(u"Corvane", u"Settings", u"Always Send to Notepad", u""), u"1");
    EXPECT_EQ(store_.GetSetting(u"Corvane", u"Settings", u"Format All Parens", u""), u"0");
  }
  {
    Pty pty;
    Install(pty.slave(), pty.slave());
    store_.ResetCounts();
    cls.cvSettings();
    pty.TypeWhenShown("[C]ancel", "12c");
    ui_->Run(*Module().frmSettings);
    EXPECT_EQ(store_.SaveCount(), 0U);
    EXPECT_EQ(Module().frmSettings, nullptr);
  }
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

// ---- Shell ----

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("corvane-shell-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    opener_ = (dir_ / "opener").string();
    std::ofstream(opener_) << "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > \"" << (dir_ / "args").string()
                           << ".tmp\"\nmv \"" << (dir_ / "args").string() << ".tmp\" \"" << (dir_ / "args").string()
                           << "\"\nsleep 3\n";
    std::filesystem::permissions(opener_, std::filesystem::perms::owner_all);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Args() {
    for (int i = 0; i < 200 && !std::filesystem::exists(dir_ / "args"); ++i) std::this_thread::sleep_for(20ms);
    std::ifstream file(dir_ / "args");
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  }

  std::filesystem::path dir_;
  std::string opener_;
};

TEST_F(ShellTest, OpensTheAddressWithoutWaitingForTheOpener) {
  posix::PosixShell shell(opener_);
  const auto start = std::chrono::steady_clock::now();
  const std::u16string address = u"https://corvane.dev/?a=1&b='x' $(touch nope)";
  EXPECT_GT(shell.ShellOpen(u"open", address, u"1", u"1", 3), 32);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "the opener runs for 3 s; nobody waits for it";
  EXPECT_EQ(Args(), "1|https://corvane.dev/?a=1&b='x' $(touch nope)");
  EXPECT_FALSE(std::filesystem::exists("nope"));
}

TEST_F(ShellTest, RefusesWhatItCannotOpen) {
  EXPECT_EQ(posix::PosixShell(opener_).ShellOpen(u"print", u"https://corvane.dev/", u"", u"", 1), 31);
  EXPECT_EQ(posix::PosixShell(opener_).ShellOpen(u"open", u"", u"", u"", 1), 2);
  EXPECT_EQ(posix::PosixShell((dir_ / "missing").string()).ShellOpen(u"open", u"https://corvane.dev/", u"", u"", 1),
            31);
}

}  // namespace
}  // namespace corvane
