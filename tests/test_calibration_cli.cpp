// `corvane calibrate` as a user runs it: the real program, the real font, a store file; also
// interrupted with Ctrl-C and killed part-way.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/platform.h"
#include "platform/posix/sqlite_store.h"
#include "support/files.h"

extern char** environ;

namespace corvane {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A scratch folder for one test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "corvane-calibrate-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The program running in the background: no input, its output in files of `dir`.
class Program {
 public:
  Program(const fs::path& dir, std::vector<std::string> args) : out_(dir / "out.txt"), err_(dir / "err.txt") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string program = CORVANE_CLI_PATH;
    std::vector<char*> argv{program.data()};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + program);
  }
  ~Program() {
    if (!reaped_) {
      kill(pid_, SIGKILL);
      (void)Wait();
    }
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  void Signal(int sig) const {
    if (!reaped_) kill(pid_, sig);
  }
  // The exit status, or 128 + the number of the signal that ended it.
  int Wait() {
    while (!reaped_) Reap(0);
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
  }
  bool Running() {
    if (!reaped_) Reap(WNOHANG);
    return !reaped_;
  }
  std::string Out() const { return testsupport::ReadBytes(out_); }
  std::string Err() const { return testsupport::ReadBytes(err_); }

 private:
  void Reap(int options) {
    const pid_t rc = waitpid(pid_, &status_, options);
    if (rc == pid_ || (rc < 0 && errno != EINTR)) reaped_ = true;
  }

  pid_t pid_ = -1;
  int status_ = 0;
  bool reaped_ = false;
  fs::path out_, err_;
};

struct Finished {
  int status;
  std::string out, err;
};

Finished RunToEnd(const fs::path& dir, std::vector<std::string> args) {
  Program program(dir, std::move(args));
  const int status = program.Wait();
  return {status, program.Out(), program.Err()};
}

// One value of a query on the store file, read the way another program would (read-only); empty
// when the file cannot answer yet.
std::string Query(const fs::path& path, const char* sql) {
  sqlite3* db = nullptr;
  std::string result;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW &&
        sqlite3_column_text(stmt, 0))
      result = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return result;
}

constexpr const char* kCalibriRows = "SELECT count(*) FROM settings WHERE app = 'Corvane' AND section = 'Spacing_Calibri'";

// Waits until the running calibration has saved at least `keys` codes; false if it ended first.
bool WaitForSavedCodes(Program& program, const fs::path& store, long long keys) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string rows = Query(store, kCalibriRows);
    if (!rows.empty() && std::stoll(rows) >= keys) return true;
    if (!program.Running()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// The last code k of the prefix 2..k that the store holds for the font; fails the test when the
// keys are not such a prefix.
std::int32_t StoredPrefix(const fs::path& store, const std::u16string& font) {
  posix::SqliteStore reopened(store.string());  // throws if the file is no longer a readable store
  std::int32_t last = 1;
  for (std::int32_t k = 2; k <= 767; ++k) {
    const bool present = reopened.GetSetting(u"Corvane", u"Spacing_" + font, DecimalKey(k), u"Not Found") != u"Not Found";
    if (present && last == k - 1) {
      last = k;
    } else if (present) {
      ADD_FAILURE() << "code " << k << " is stored after the gap at " << last + 1;
    }
  }
  return last;
}

bool FontServes(const char* family, const std::string& resolved) { return resolved.find(family) != std::string::npos; }

TEST(CalibrateProgram, FullRunThenListing) {
  TempDir dir;
  const std::string store = (dir.path() / "settings.db").string();
  const Finished run = RunToEnd(dir.path(), {"calibrate", "--font", "Arial", "--store", store});
  ASSERT_EQ(run.status, 0) << run.err;
  // The notice, as the terminal shows it: its line breaks as lines.
  EXPECT_NE(run.err.find("Calibration done.\n\nYou should calibrate again whenever"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\n\nSee Corvane Help for more information.\n"), std::string::npos) << run.err;
  EXPECT_EQ(run.out.rfind("Calibrated Arial (Spacing_Arial in " + store + "); Arial is measured with ", 0), 0U)
      << run.out;

  const Finished show = RunToEnd(dir.path(), {"calibrate", "--show", "--font", "Arial", "--store", store});
  ASSERT_EQ(show.status, 0) << show.err;
  const auto lines = Lines(show.out);
  ASSERT_EQ(lines.size(), 767U);
  EXPECT_EQ(lines[0], "2\tU+0002\t0");
  EXPECT_EQ(lines[30], "32\t \t1");
  EXPECT_EQ(lines[125].substr(0, 11), "127\tU+007F\t");
  EXPECT_EQ(lines[157].substr(0, 11), "159\tU+009F\t");
  EXPECT_EQ(lines[158].substr(0, 7), "160\t\xC2\xA0\t");
  EXPECT_EQ(lines[231].substr(0, 7), "233\t\xC3\xA9\t");
  EXPECT_EQ(lines[765].substr(0, 7), "767\t\xCB\xBF\t");
  EXPECT_EQ(lines.back().rfind("Arial: fully calibrated; Arial is measured with ", 0), 0U) << lines.back();
  if (FontServes("Liberation Sans", lines.back())) {
    EXPECT_NE(lines.back().find(".ttf"), std::string::npos) << "names the font file: " << lines.back();
  }

  // Another font has its own sections: nothing is calibrated for it yet.
  const Finished other = RunToEnd(dir.path(), {"calibrate", "--show", "--store", store});
  ASSERT_EQ(other.status, 0) << other.err;
  const auto otherLines = Lines(other.out);
  ASSERT_EQ(otherLines.size(), 767U);
  EXPECT_EQ(otherLines[99], "101\te\tNot Found");
  EXPECT_EQ(otherLines.back().rfind("Calibri: not calibrated; Calibri is measured with ", 0), 0U) << otherLines.back();
}

TEST(CalibrateProgram, CtrlCCancelsAfterTheCodeBeingMeasured) {
  TempDir dir;
  const fs::path store = dir.path() / "settings.db";
  Program program(dir.path(), {"calibrate", "--store", store.string()});
  ASSERT_TRUE(WaitForSavedCodes(program, store, 20)) << "the calibration ended too soon: " << program.Err();
  program.Signal(SIGINT);
  const int status = program.Wait();
  const std::string err = program.Err();
  EXPECT_EQ(status, 1) << err;
  EXPECT_NE(err.find("cancelled"), std::string::npos) << err;
  EXPECT_EQ(err.find("Calibration done."), std::string::npos) << "no closing notice after a cancel";
  const std::int32_t last = StoredPrefix(store, u"Calibri");
  EXPECT_GE(last, 21);
  EXPECT_LT(last, 767);
}

TEST(CalibrateProgram, KilledPartWayLeavesAReadablePrefix) {
  TempDir dir;
  const fs::path store = dir.path() / "settings.db";
  {
    Program program(dir.path(), {"calibrate", "--store", store.string()});
    ASSERT_TRUE(WaitForSavedCodes(program, store, 20)) << "the calibration ended too soon: " << program.Err();
    program.Signal(SIGKILL);
    EXPECT_EQ(program.Wait(), 128 + SIGKILL);
  }
  const std::int32_t last = StoredPrefix(store, u"Calibri");
  EXPECT_GE(last, 21);
  EXPECT_LT(last, 767);
  EXPECT_EQ(Query(store, "PRAGMA integrity_check"), "ok");
  EXPECT_EQ(Query(store, "SELECT count(*) FROM settings"), std::to_string(last - 1)) << "nothing but the prefix";

  const Finished show = RunToEnd(dir.path(), {"calibrate", "--show", "--store", store.string()});
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_EQ(Lines(show.out).back().rfind("Calibri: not fully calibrated, first missing code " +
                                             std::to_string(last + 1) + "; Calibri is measured with ",
                                         0),
            0U)
      << show.out;
}

TEST(CalibrateProgram, BadUsageIsRefusedAndTouchesNothing) {
  TempDir dir;
  const fs::path notAStore = dir.path() / "notes.txt";
  std::ofstream(notAStore) << "my notes\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{"calibrate", "--font", ""}, 2, "--font needs a font name"},
      {{"calibrate", "--fast"}, 2, "unknown option --fast"},
      {{"calibrate", "now"}, 2, "takes no arguments"},
      {{"calibrate", "--store", notAStore.string()}, 1, "notes.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const Finished run = RunToEnd(dir.path(), c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(testsupport::ReadBytes(notAStore), "my notes\n");
}

}  // namespace
}  // namespace corvane
