// Nothing lost under runs at once, odd targets and signals: `corvane format|unformat BOOK.xlsx`
// with other processes on the same file, --output naming what is no file, read-only workbooks,
// signals and the file size limit while the workbook is written, and inputs that are no file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/automation.h"
#include "hosts/xlsx/safe_file.h"
#include "hosts/xlsx/xml_text.h"
#include "support/run_cli.h"
#include "support/xlsx_builder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::RunCli;
using testsupport::FormulasOf;
using testsupport::ReadBytes;
using testsupport::TempFolder;
using testsupport::XlsxBuilder;

constexpr const char* kLaidOut = "SUM(\n       1,\n       2)";
constexpr const char* kPlain = "SUM(1,2)";

// One sheet "S" whose first row holds `cells` laid-out formulas (A1, B1, ...), and optionally an
// entry of `padding` random bytes stored as they are, so that writing the file takes a while.
XlsxBuilder LaidOutBook(int cells, std::size_t padding = 0) {
  std::string row = R"(<row r="1">)";
  for (int i = 0; i < cells; ++i)
    row += std::string(R"(<c r=")") + static_cast<char>('A' + i) + R"(1"><f>)" + kLaidOut + "</f><v>3</v></c>";
  row += "</row>";
  XlsxBuilder book;
  book.Sheet("S", row);
  if (padding > 0) {
    std::mt19937 random(7);
    std::string bytes(padding, '\0');
    for (auto& b : bytes) b = static_cast<char>(random());
    book.Entry("customXml/padding.bin", bytes).Stored(true);
  }
  return book;
}

// The hidden temporary files of a save, left in the folder.
std::vector<std::string> Leftovers(const TempFolder& folder) {
  std::vector<std::string> found;
  for (const auto& name : folder.Files())
    if (name.find(".corvane-") != std::string::npos) found.push_back(name);
  return found;
}

// Ends the child if it hangs (an alarm survives exec), so that a hang fails the test quickly.
void EndIfHung() { alarm(20); }

TEST(XlsxCliSafety, RunsAtOnceOnOneWorkbookKeepEveryChange) {
  TempFolder folder;
  const fs::path book = folder / "Book.xlsx";
  constexpr int kCells = 4;
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    LaidOutBook(kCells).Write(book);
    std::vector<testing::CliResult> results(kCells);
    std::vector<std::thread> runs;
    runs.reserve(kCells);
    for (int i = 0; i < kCells; ++i) {
      runs.emplace_back([&, i] {
        results[static_cast<std::size_t>(i)] =
            RunCli({"unformat", book.string(), std::string("S!") + static_cast<char>('A' + i) + "1"});
      });
    }
    for (auto& run : runs) run.join();
    for (const auto& r : results) ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto formulas = FormulasOf(book);
    for (int i = 0; i < kCells; ++i)
      EXPECT_EQ(formulas.at(std::string("S!") + static_cast<char>('A' + i) + "1"), kPlain);
  }
  EXPECT_EQ(Leftovers(folder), std::vector<std::string>{});
}

TEST(XlsxCliSafety, ARunWaitsForTheRunThatHoldsTheWorkbook) {
  TempFolder folder;
  const fs::path book = folder / "Book.xlsx";
  LaidOutBook(1).Write(book);
  const int held = open(book.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  testing::CliResult r;
  std::thread run([&] { r = RunCli({"unformat", book.string(), "S!A1"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  close(held);
  run.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("is locked by another run; waiting for it to finish"), std::string::npos) << r.err;
  EXPECT_EQ(FormulasOf(book).at("S!A1"), kPlain);

  // Waiting is bounded: a lock that stays is a clear refusal.
  const int again = open(book.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(again, LOCK_EX), 0);
  int waited = 0;
  try {
    xlsx::FileLock lock(book.string(), std::chrono::milliseconds(100), [&] { ++waited; });
    ADD_FAILURE() << "a held lock was taken";
  } catch (const AutomationError& e) {
    EXPECT_NE(xlsx::Utf8(e.description()).find("is still locked by another run"), std::string::npos);
  }
  EXPECT_EQ(waited, 1);
  close(again);
}

TEST(XlsxCliSafety, OutputThatIsNoRegularFileIsRefusedAndLeftAlone) {
  TempFolder folder;
  const fs::path book = folder / "Book.xlsx";
  LaidOutBook(1).Write(book);
  const std::string original = ReadBytes(book);
  ASSERT_EQ(mkfifo((folder / "fifo.xlsx").c_str(), 0600), 0);
  fs::create_symlink(folder / "fifo.xlsx", folder / "to-fifo.xlsx");
  fs::create_directory(folder / "folder.xlsx");
  // A device of the test's own (the null device's numbers), never one of the system's.
  const bool device = mknod((folder / "null.xlsx").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  if (device) fs::create_symlink(folder / "null.xlsx", folder / "to-null.xlsx");

  struct Case {
    const char* name;
    const char* kind;
    fs::file_type type;
  };
  std::vector<Case> cases = {{"fifo.xlsx", "is a FIFO", fs::file_type::fifo},
                             {"to-fifo.xlsx", "is a FIFO", fs::file_type::fifo},
                             {"folder.xlsx", "is a folder", fs::file_type::directory}};
  if (device) {
    cases.push_back({"null.xlsx", "is a character device", fs::file_type::character});
    cases.push_back({"to-null.xlsx", "is a character device", fs::file_type::character});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path out = folder / c.name;
    const auto inode = fs::status(out);
    const auto r = RunCli({"unformat", book.string(), "S!A1", "--output", out.string()}, {}, {}, EndIfHung);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find(c.kind), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Nothing was written"), std::string::npos) << r.err;
    EXPECT_EQ(fs::status(out).type(), c.type);
    EXPECT_EQ(fs::status(out).permissions(), inode.permissions());
  }
  EXPECT_EQ(ReadBytes(book), original);
  EXPECT_EQ(Leftovers(folder), std::vector<std::string>{});

  // A link to a regular file: the file it names receives the workbook, the link stays.
  LaidOutBook(1).Write(folder / "real.xlsx");
  fs::create_symlink(folder / "real.xlsx", folder / "to-real.xlsx");
  const auto r = RunCli({"unformat", book.string(), "S!A1", "--output", (folder / "to-real.xlsx").string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(folder / "to-real.xlsx"));
  EXPECT_EQ(FormulasOf(folder / "real.xlsx").at("S!A1"), kPlain);
}

TEST(XlsxCliSafety, AReadOnlyWorkbookIsNotReplacedUnlessAnotherOutputIsNamed) {
  TempFolder folder;
  const fs::path book = folder / "Book.xlsx";
  LaidOutBook(1).Write(book);
  const std::string original = ReadBytes(book);
  fs::permissions(book, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

  // Refused up front, also for root, whom the system would let write it.
  auto r = RunCli({"unformat", book.string(), "S!A1"});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.err.find("is read-only; it was not replaced. Name another file with --output"), std::string::npos)
      << r.err;
  EXPECT_EQ(ReadBytes(book), original);
  EXPECT_EQ(fs::status(book).permissions(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

  const fs::path out = folder / "Out.xlsx";
  r = RunCli({"unformat", book.string(), "S!A1", "--output", out.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FormulasOf(out).at("S!A1"), kPlain);
  EXPECT_EQ(ReadBytes(book), original);

  // An existing read-only file named by --output is not replaced either.
  const std::string written = ReadBytes(out);
  fs::permissions(out, fs::perms::owner_read);
  r = RunCli({"unformat", book.string(), "S!A1", "--output", out.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is read-only"), std::string::npos) << r.err;
  EXPECT_EQ(ReadBytes(out), written);
  EXPECT_EQ(Leftovers(folder), std::vector<std::string>{});
}

// Starts a run that saves a large workbook and sends it `sig` as soon as its temporary file
// appears; gives the run's exit status.
int SignalWhileWriting(const TempFolder& folder, const fs::path& book, int sig) {
  const int watch = inotify_init1(IN_CLOEXEC);
  if (watch < 0 || inotify_add_watch(watch, folder.path().c_str(), IN_CREATE) < 0) return -1;
  const pid_t pid = testing::SpawnCli({"unformat", book.string(), "S!A1"});
  const std::string prefix = "." + book.filename().string() + ".corvane-";
  bool sent = false;
  alignas(inotify_event) char buffer[4096];
  while (!sent) {
    const ssize_t n = read(watch, buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0 && std::string(event->name).rfind(prefix, 0) == 0 && !sent) {
        kill(pid, sig);
        sent = true;
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  close(watch);
  return testing::WaitCli(pid);
}

TEST(XlsxCliSafety, ASignalDuringTheWriteLeavesNoTemporaryFile) {
  TempFolder folder;
  const fs::path book = folder / "Book.xlsx";
  LaidOutBook(1, std::size_t{16} << 20).Write(book);
  const std::string original = ReadBytes(book);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    EXPECT_EQ(SignalWhileWriting(folder, book, sig), 128 + sig);
    EXPECT_EQ(Leftovers(folder), std::vector<std::string>{});
    EXPECT_TRUE(ReadBytes(book) == original) << "the workbook changed";
  }
}

TEST(XlsxCliSafety, TheFileSizeLimitFailsTheSaveAndLeavesNoTemporaryFile) {
  TempFolder folder;
  const fs::path book = folder / "Book.xlsx";
  LaidOutBook(1, 200000).Write(book);
  const std::string original = ReadBytes(book);
  const auto r = RunCli({"unformat", book.string(), "S!A1"}, {}, {}, [] {
    constexpr rlim_t kBytes = 65536;
    struct rlimit limit = {kBytes, kBytes};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_DFL);
  });
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("cannot be written; it was not changed: File too large"), std::string::npos) << r.err;
  EXPECT_EQ(Leftovers(folder), std::vector<std::string>{});
  EXPECT_TRUE(ReadBytes(book) == original) << "the workbook changed";
}

TEST(XlsxCliSafety, AnInputThatIsNoFileIsRefusedAtOnce) {
  TempFolder folder;
  ASSERT_EQ(mkfifo((folder / "fifo.xlsx").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", folder / "zero.xlsx");
  fs::create_directory(folder / "folder.xlsx");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"fifo.xlsx", "is a FIFO, not a workbook file"},
      {"zero.xlsx", "is a character device, not a workbook file"},
      {"folder.xlsx", "is a folder, not a workbook file"}};
  for (const auto& [name, message] : cases) {
    SCOPED_TRACE(name);
    const auto r = RunCli({"unformat", (folder / name).string(), "S!A1"}, {}, {}, EndIfHung);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
  EXPECT_EQ(fs::status(folder / "fifo.xlsx").type(), fs::file_type::fifo);
}

}  // namespace
}  // namespace corvane
