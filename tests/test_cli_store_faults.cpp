// The program against a settings file that fails it: read-only, on a full disk, deleted or moved
// while the program runs, or damaged. Each run names the file in its message, ends with status 1
// and leaves every value stored before it as it was; a calibration keeps the prefix it saved.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/sqlite_store.h"
#include "support/files.h"
#include "support/on_terminal.h"
#include "support/run_cli.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::CliResult;
using testing::OnTerminal;

// One value of a query, read the way another program would; "" when the file cannot answer.
std::string Query(const fs::path& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string result;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW &&
        sqlite3_column_text(stmt, 0) != nullptr)
      result = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return result;
}

// What a store holds, in one line: the options, how many widths each font has and whether they
// are the codes 2 to n without a gap, and the file's own check.
std::string Contents(const fs::path& store) {
  return Query(store,
               "SELECT group_concat(line, '; ') FROM ("
               " SELECT key || '=' || value AS line FROM settings WHERE section = 'Settings'"
               " UNION ALL SELECT section || ' ' || count(*) || (CASE WHEN min(CAST(key AS INT)) = 2 AND"
               "  max(CAST(key AS INT)) = count(*) + 1 THEN ' from 2' ELSE ' with a gap' END)"
               "  FROM settings WHERE section LIKE 'Spacing_%' GROUP BY section)") +
         " | " + Query(store, "PRAGMA integrity_check");
}

// A folder for one test, open to the unprivileged user the read-only cases run as.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "corvane-store-faults-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    fs::permissions(path_, fs::perms::all);
  }
  ~Scratch() {
    std::error_code ignored;
    fs::permissions(path_, fs::perms::all, ignored);
    fs::remove_all(path_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  const fs::path& path() const { return path_; }

  // A store with both options and every width of Arial, written and closed as a program would.
  fs::path Store(const std::string& name = "settings.db") const {
    fs::path store = path_ / name;
    {
      posix::SqliteStore s(store.string());
      s.SaveSetting(u"Corvane", u"Settings", u"Format All Parens", u"1");
      s.SaveSetting(u"Corvane", u"Settings", u"Always Send to Notepad", u"0");
    }
    sqlite3* db = nullptr;
    sqlite3_open(store.c_str(), &db);
    std::string sql = "BEGIN;";
    for (int k = 2; k <= 767; ++k)
      sql += "INSERT INTO settings VALUES('Corvane', 'Spacing_Arial', '" + std::to_string(k) + "', '0.5');";
    sql += "COMMIT;";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
    fs::permissions(store, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                               fs::perms::others_read);
    return store;
  }

  CliResult Run(const std::vector<std::string>& args, const std::string& input = {},
                void (*beforeExec)() = nullptr) const {
    return testing::RunCli(args, input, {{"tmp", path_.string()}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}},
                           beforeExec);
  }

 private:
  fs::path path_;
};

const std::string kEarlier =
    "Always Send to Notepad=0; Format All Parens=1; Spacing_Arial 766 from 2 | ok";

// File modes do not hold root back, so the program then runs as nobody.
void AsUnprivilegedUser() {
  if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(126);
}

// A disk with room for a few more pages only: every file of the program stops growing there.
rlim_t fileSizeLimit = 0;
void OnAFullDisk() {
  const rlimit limit{fileSizeLimit, fileSizeLimit};
  ::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

TEST(StoreFaultsCli, ReadOnlyStoreIsNamedAndKeepsItsValues) {
  for (const bool folderWritable : {true, false}) {
    SCOPED_TRACE(folderWritable ? "the file is read-only" : "the file and its folder are read-only");
    Scratch scratch;
    const fs::path store = scratch.Store();
    fs::permissions(store, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    if (!folderWritable) {
      fs::permissions(scratch.path(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                          fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    }
    const std::string bytes = testsupport::ReadBytes(store);
    const std::string named = "The settings file " + store.string() + " cannot be ";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"settings", "--always-notepad", "on"}, {"calibrate"}, {"format", "=SUM(A1,B1)"}}) {
      SCOPED_TRACE(args.front());
      std::vector<std::string> withStore = args;
      withStore.insert(withStore.begin() + 1, {"--store", store.string()});
      const CliResult r = scratch.Run(withStore, "", AsUnprivilegedUser);
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_NE(r.err.find(named + (folderWritable ? "written" : "opened")), std::string::npos) << r.err;
      EXPECT_EQ(testsupport::ReadBytes(store), bytes);
    }
    EXPECT_EQ(Contents(store), kEarlier);
  }
}

TEST(StoreFaultsCli, FullDiskStopsTheCalibrationWithItsPrefixAndNamesTheFile) {
  Scratch scratch;
  const fs::path store = scratch.Store();
  // Room for the shared-memory index and a few pages of the write-ahead log.
  fileSizeLimit = static_cast<rlim_t>(std::max<std::uintmax_t>(fs::file_size(store), 32768) + std::uintmax_t{4} * 4096);
  const std::string named = "The settings file " + store.string() + " cannot be written: ";

  CliResult r = scratch.Run({"calibrate", "--store", store.string()}, "", OnAFullDisk);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("corvane: " + named, 0), 0U) << r.err;
  const std::string prefix = Query(store, "SELECT count(*) FROM settings WHERE section = 'Spacing_Calibri'");
  ASSERT_LT(std::stoi(prefix), 766);
  EXPECT_EQ(Contents(store), "Always Send to Notepad=0; Format All Parens=1; Spacing_Arial 766 from 2; "
                             "Spacing_Calibri " + prefix + " from 2 | ok");

  // The formatting command, which fails quietly, names the file as the cause all the same.
  r = scratch.Run({"format", "--store", store.string(), "--font", "Cambria", "=SUM(A1,B1)"}, "", OnAFullDisk);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "=SUM(A1,B1)\n") << "the cell as it was";
  EXPECT_NE(r.err.find("corvane format: " + named), std::string::npos) << r.err;
  r = scratch.Run({"format", "--jsonl", "--store", store.string(), "--font", "Cambria"}, "\"=SUM(A1)\"\n\"=T(1)\"\n",
                  OnAFullDisk);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "the first formula's answer only: " << r.out;
  EXPECT_NE(r.err.find("corvane format: line 1: " + named), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("The formulas after this line were not formatted."), std::string::npos) << r.err;

  // With room again the calibration completes, and nothing stored before was lost on the way.
  r = scratch.Run({"calibrate", "--store", store.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string contents = Contents(store);
  EXPECT_EQ(contents.rfind("Always Send to Notepad=0; Format All Parens=1; Spacing_Arial 766 from 2; ", 0), 0U);
  EXPECT_NE(contents.find("Spacing_Calibri 766 from 2"), std::string::npos) << contents;
}

TEST(StoreFaultsCli, StoreDeletedOrMovedWhileTheProgramWaitsIsNamedAndLosesNothing) {
  for (const bool moved : {false, true}) {
    SCOPED_TRACE(moved ? "moved" : "deleted");
    Scratch scratch;
    const fs::path store = scratch.Store();
    // Calibri has no widths: the program asks whether to calibrate, and waits for the answer.
    OnTerminal program({"format", "--store", store.string(), "=SUM(A1,B1)"});
    ASSERT_TRUE(program.WaitFor("Calibrate now?")) << program.screen();
    if (moved) {
      fs::rename(store, scratch.path() / "elsewhere.db");
    } else {
      fs::remove(store);
    }
    program.Type("y");
    EXPECT_EQ(program.Finish(), 1) << program.screen();
    EXPECT_NE(program.screen().find("corvane format: The settings file " + store.string() +
                                    " cannot be written: it was moved or deleted after it was opened."),
              std::string::npos)
        << program.screen();
    EXPECT_FALSE(fs::exists(store)) << "no new file in its place";
    if (moved) {
      EXPECT_EQ(Contents(scratch.path() / "elsewhere.db"), kEarlier);
    }
  }
}

TEST(StoreFaultsCli, DamagedStoreIsNamedAndLeftAsItWas) {
  Scratch scratch;
  const fs::path text = scratch.path() / "notes.db";
  std::ofstream(text) << "not a settings file\n";
  // A sound header over a destroyed table page: found only when the rows are read.
  const fs::path damaged = scratch.Store();
  {
    std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(4096);
    file << std::string(4096, 'U');
  }
  for (const auto& [store, reason] : {std::pair{text, std::string(" is not a Corvane settings store.")},
                                      std::pair{damaged, std::string(" cannot be read: database disk image is malformed.")}}) {
    SCOPED_TRACE(store.filename().string());
    const std::string bytes = testsupport::ReadBytes(store);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"format", "=SUM(A1,B1)"}, {"format", "--jsonl"}, {"settings"},
          {"settings", "--format-all-parens", "off"}, {"calibrate"}, {"calibrate", "--show"}}) {
      SCOPED_TRACE(args.back());
      std::vector<std::string> withStore = args;
      withStore.insert(withStore.begin() + 1, {"--store", store.string()});
      const CliResult r = scratch.Run(withStore, "\"=SUM(A1)\"\n");
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, "corvane: The settings file " + store.string() + reason + "\n");
      EXPECT_EQ(testsupport::ReadBytes(store), bytes);
    }
    // Removing a layout needs no settings: a damaged file named in the environment is no obstacle.
    const CliResult r = testing::RunCli({"unformat", "=SUM(A1, B1)"}, "", {{"CORVANE_STORE", store.string()}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "=SUM(A1,B1)\n");
  }
}

}  // namespace
}  // namespace corvane
