// The program and its settings file: `corvane calibrate` run whole, interrupted with Ctrl-C and
// killed part-way, and runs against a file that fails them: read-only, on a full disk, deleted or
// moved while the program runs, or damaged. Each failing run names the file in its message, ends
// with status 1 and leaves every value stored before it as it was; a calibration keeps the prefix
// it saved.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/sqlite_store.h"
#include "support/files.h"
#include "support/on_terminal.h"
#include "support/run_cli.h"
#include "support/xlsx_builder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::CliResult;
using testsupport::ReadBytes;

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

const std::string kEarlier = "Always Send to Notepad=0; Format All Parens=1; Spacing_Arial 766 from 2 | ok";

// A store with both options and every width of Arial, written and closed as a program would,
// in `folder` (opened to the unprivileged user the read-only cases run as).
fs::path MakeStore(const testsupport::TempFolder& folder) {
  fs::permissions(folder.path(), fs::perms::all);
  const fs::path store = folder / "settings.db";
  posix::SqliteStore(store.string()).SaveSetting(u"Corvane", u"Settings", u"Format All Parens", u"1");
  posix::SqliteStore(store.string()).SaveSetting(u"Corvane", u"Settings", u"Always Send to Notepad", u"0");
  sqlite3* db = nullptr;
  sqlite3_open(store.c_str(), &db);
  std::string sql = "BEGIN;";
  for (int k = 2; k <= 767; ++k)
    sql += "INSERT INTO settings VALUES('Corvane', 'Spacing_Arial', '" + std::to_string(k) + "', '0.5');";
  EXPECT_EQ(sqlite3_exec(db, (sql + "COMMIT;").c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
  fs::permissions(store, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
  return store;
}

CliResult Cli(const testsupport::TempFolder& folder, const std::vector<std::string>& args, void (*beforeExec)() = nullptr,
              const std::string& input = {}) {
  return testing::RunCli(args, input,
                         {{"CORVANE_STORE", (folder / "settings.db").string()}, {"tmp", folder.path().string()},
                          {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}},
                         beforeExec);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(CalibrateCli, FullRunThenListing) {
  testsupport::TempFolder folder;
  const CliResult run = Cli(folder, {"calibrate", "--font", "Arial"});
  ASSERT_EQ(run.status, 0) << run.err;
  // The notice, as the terminal shows it: its line breaks as lines.
  EXPECT_NE(run.err.find("Calibration done.\n\nYou should calibrate again whenever"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\n\nSee Corvane Help for more information.\n"), std::string::npos) << run.err;
  const std::string store = (folder / "settings.db").string();
  EXPECT_TRUE(run.out.starts_with("Calibrated Arial (Spacing_Arial in " + store + "); Arial is measured with ")) << run.out;

  // Control characters are listed by their code point, the others as themselves; another font
  // has its own sections, where nothing is calibrated yet.
  auto lines = Lines(Cli(folder, {"calibrate", "--show", "--font", "Arial"}).out);
  ASSERT_EQ(lines.size(), 767U);
  EXPECT_EQ(lines[0], "2\tU+0002\t0");
  EXPECT_EQ(lines[30], "32\t \t1");
  EXPECT_TRUE(lines[125].starts_with("127\tU+007F\t"));
  EXPECT_TRUE(lines[157].starts_with("159\tU+009F\t"));
  EXPECT_TRUE(lines[158].starts_with("160\t\xC2\xA0\t"));
  EXPECT_TRUE(lines[765].starts_with("767\t\xCB\xBF\t"));
  EXPECT_TRUE(lines.back().starts_with("Arial: fully calibrated; Arial is measured with ")) << lines.back();
  lines = Lines(Cli(folder, {"calibrate", "--show"}).out);
  ASSERT_EQ(lines.size(), 767U);
  EXPECT_EQ(lines[99], "101\te\tNot Found");
  EXPECT_TRUE(lines.back().starts_with("Calibri: not calibrated; Calibri is measured with ")) << lines.back();
}

// How many codes the store holds for Calibri if they are the codes 2 to n without a gap, else -1.
int CalibriPrefix(const fs::path& store) {
  const std::string n = Query(store,
                              "SELECT CASE WHEN count(*) = 0 OR (min(CAST(key AS INT)) = 2 AND max(CAST(key AS INT)) = "
                              "count(*) + 1) THEN count(*) ELSE -1 END FROM settings WHERE section = 'Spacing_Calibri'");
  return n.empty() ? 0 : std::stoi(n);
}

TEST(CalibrateCli, CtrlCOrKillPartWayLeavesAReadablePrefix) {
  for (const int sig : {SIGINT, SIGKILL}) {
    SCOPED_TRACE(strsignal(sig));
    testsupport::TempFolder folder;
    const fs::path store = folder / "settings.db";
    const std::string err = (folder / "err.txt").string();
    const pid_t pid = testing::SpawnCli({"calibrate", "--store", store.string()}, err);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (CalibriPrefix(store) < 20 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    kill(pid, sig);
    const int status = testing::WaitCli(pid);
    const int saved = CalibriPrefix(store);
    EXPECT_GE(saved, 20);
    EXPECT_LT(saved, 766);
    EXPECT_EQ(Query(store, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(Query(store, "SELECT count(*) FROM settings"), std::to_string(saved)) << "nothing but the prefix";
    if (sig == SIGINT) {
      // Ctrl-C cancels after the code being measured, without the closing notice.
      EXPECT_EQ(status, 1);
      EXPECT_NE(ReadBytes(err).find("cancelled"), std::string::npos) << ReadBytes(err);
      EXPECT_EQ(ReadBytes(err).find("Calibration done."), std::string::npos);
    } else {
      EXPECT_EQ(status, 128 + SIGKILL);
      const std::string shown = Lines(Cli(folder, {"calibrate", "--show"}).out).back();
      EXPECT_TRUE(shown.starts_with("Calibri: not fully calibrated, first missing code " + std::to_string(saved + 2) +
                                    "; Calibri is measured with "))
          << shown;
    }
  }
}

// File modes do not hold root back, so the program then runs as nobody.
void AsUnprivilegedUser() {
  if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(126);
}

TEST(StoreFaultsCli, ReadOnlyStoreIsNamedAndKeepsItsValues) {
  for (const bool folderWritable : {true, false}) {
    SCOPED_TRACE(folderWritable ? "the file is read-only" : "the file and its folder are read-only");
    testsupport::TempFolder folder;
    const fs::path store = MakeStore(folder);
    const auto readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    fs::permissions(store, readOnly);
    if (!folderWritable) fs::permissions(folder.path(), readOnly | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);
    const std::string bytes = ReadBytes(store);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"settings", "--always-notepad", "on"}, {"calibrate"}, {"format", "=SUM(A1,B1)"}}) {
      SCOPED_TRACE(args.front());
      const CliResult r = Cli(folder, args, AsUnprivilegedUser);
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_NE(r.err.find("The settings file " + store.string() + " cannot be " + (folderWritable ? "written" : "opened")),
                std::string::npos)
          << r.err;
      EXPECT_EQ(ReadBytes(store), bytes);
    }
    EXPECT_EQ(Contents(store), kEarlier);
  }
}

// A disk with room for a few more pages only: every file of the program stops growing there.
rlim_t fileSizeLimit = 0;
void OnAFullDisk() {
  const rlimit limit{fileSizeLimit, fileSizeLimit};
  ::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

TEST(StoreFaultsCli, FullDiskStopsTheCalibrationWithItsPrefixAndNamesTheFile) {
  testsupport::TempFolder folder;
  const fs::path store = MakeStore(folder);
  // Room for the shared-memory index and a few pages of the write-ahead log.
  fileSizeLimit = static_cast<rlim_t>(std::max<std::uintmax_t>(fs::file_size(store), 32768) + std::uintmax_t{4} * 4096);
  const std::string named = "The settings file " + store.string() + " cannot be written: ";

  CliResult r = Cli(folder, {"calibrate"}, OnAFullDisk);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.starts_with("corvane: " + named)) << r.err;
  const int prefix = CalibriPrefix(store);
  ASSERT_LT(prefix, 766);
  EXPECT_EQ(Contents(store), "Always Send to Notepad=0; Format All Parens=1; Spacing_Arial 766 from 2; "
                             "Spacing_Calibri " + std::to_string(prefix) + " from 2 | ok");

  // The formatting command, which fails quietly, names the file as the cause all the same.
  r = Cli(folder, {"format", "--font", "Cambria", "=SUM(A1,B1)"}, OnAFullDisk);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "=SUM(A1,B1)\n") << "the cell as it was";
  EXPECT_NE(r.err.find("corvane format: " + named), std::string::npos) << r.err;
  r = Cli(folder, {"format", "--jsonl", "--font", "Cambria"}, OnAFullDisk, "\"=SUM(A1)\"\n\"=T(1)\"\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "the first formula's answer only: " << r.out;
  EXPECT_NE(r.err.find("corvane format: line 1: " + named), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("The formulas after this line were not formatted."), std::string::npos) << r.err;

  // With room again the calibration completes, and nothing stored before was lost on the way.
  r = Cli(folder, {"calibrate"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string contents = Contents(store);
  EXPECT_TRUE(contents.starts_with("Always Send to Notepad=0; Format All Parens=1; Spacing_Arial 766 from 2; ")) << contents;
  EXPECT_NE(contents.find("Spacing_Calibri 766 from 2"), std::string::npos) << contents;
}

TEST(StoreFaultsCli, StoreDeletedOrMovedWhileTheProgramWaitsIsNamedAndLosesNothing) {
  for (const bool moved : {false, true}) {
    SCOPED_TRACE(moved ? "moved" : "deleted");
    testsupport::TempFolder folder;
    const fs::path store = MakeStore(folder);
    // Calibri has no widths: the program asks whether to calibrate, and waits for the answer.
    testing::OnTerminal program({"format", "--store", store.string(), "=SUM(A1,B1)"});
    ASSERT_TRUE(program.WaitFor("Calibrate now?")) << program.screen();
    if (moved) {
      fs::rename(store, folder / "elsewhere.db");
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
      EXPECT_EQ(Contents(folder / "elsewhere.db"), kEarlier);
    }
  }
}

// The store itself refuses a damaged file (test_settings_store); the program names it, ends with
// status 1 and leaves it as it was, also when the damage shows only once the rows are read.
TEST(StoreFaultsCli, DamagedStoreIsNamedAndLeftAsItWas) {
  testsupport::TempFolder folder;
  const fs::path damaged = MakeStore(folder);
  {
    std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(4096);
    file << std::string(4096, 'U');  // a sound header over a destroyed table page
  }
  const std::string bytes = ReadBytes(damaged);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"format", "=SUM(A1,B1)"}, {"format", "--jsonl"}, {"settings", "--format-all-parens", "off"},
        {"calibrate", "--show"}}) {
    SCOPED_TRACE(args.back());
    const CliResult r = Cli(folder, args, nullptr, "\"=SUM(A1)\"\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "corvane: The settings file " + damaged.string() + " cannot be read: database disk image is malformed.\n");
    EXPECT_EQ(ReadBytes(damaged), bytes);
  }
  // Removing a layout needs no settings: a damaged file named in the environment is no obstacle.
  const CliResult r = Cli(folder, {"unformat", "=SUM(A1, B1)"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "=SUM(A1,B1)\n");
}

}  // namespace
}  // namespace corvane
