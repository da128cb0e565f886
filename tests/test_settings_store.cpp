#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/memory_store.h"
#include "platform/posix/sqlite_store.h"
#include "support/files.h"
#include "support/run_cli.h"
#include "support/xlsx_builder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using posix::SqliteStore;
using testsupport::ReadBytes;
using testsupport::TempFolder;
using testing::SqlValue;

const std::u16string kApp = u"Corvane";
const std::u16string kNotFound = u"Not Found";

std::u16string Widen(std::string_view s) { return std::u16string(s.begin(), s.end()); }
std::u16string Key(int k) { return Widen(std::to_string(k)); }
std::u16string Value(int k) { return Widen("value " + std::to_string(k)); }

// The description of the AutomationError that `f` throws (ASCII), or "" when it throws none.
std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return std::string(e.description().begin(), e.description().end());
  }
  return "";
}

// ---- The same behaviour from both stores -------------------------------------------------------

struct MemoryKind {
  MemoryStore store;
  SettingsStore& get() { return store; }
  void Reopen() {}
};

struct SqliteKind {
  TempFolder dir;
  std::unique_ptr<SqliteStore> store = std::make_unique<SqliteStore>((dir / "settings.db").string());
  SettingsStore& get() { return *store; }
  void Reopen() {
    store.reset();
    store = std::make_unique<SqliteStore>((dir / "settings.db").string());
  }
};

template <class Kind>
class StoreContract : public ::testing::Test {
 protected:
  Kind kind_;
};
using StoreKinds = ::testing::Types<MemoryKind, SqliteKind>;
TYPED_TEST_SUITE(StoreContract, StoreKinds);

// Names compare exactly, values and names of any UTF-16 text (lone surrogates, NUL, 1- to
// 4-byte UTF-8) come back unchanged, a missing key, section or application reads the default,
// and every save gives the store another version.
TYPED_TEST(StoreContract, SavedTextsReadBackUnchangedAndMissingOnesDefault) {
  using namespace std::string_literals;
  const std::vector<std::u16string> texts = {
      u"Spacing_MS \u30B4\u30B7\u30C3\u30AF", u"0,5714", u"\u00E9t\u00E9 \u20AC", u"\U0001F600 pair",
      u"lone \xD800 high", u"\xDC00 lone low", u"ends high \xDBFF", u"\xDC00\xD800 reversed", u"nul \0 inside"s,
      std::u16string(20000, u'x'), u"",
  };
  SettingsStore& s = this->kind_.get();
  EXPECT_EQ(s.GetSetting(kApp, u"Settings", u"Format All Parens", u"0"), u"0");
  const StoreVersion empty = s.Version();
  s.SaveSetting(kApp, u"Settings", u"Format All Parens", u"1");
  EXPECT_NE(s.Version(), empty);
  EXPECT_EQ(s.Version(), s.Version());
  EXPECT_NE(MemoryStore().Version().store, empty.store) << "two stores never share a version";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    s.SaveSetting(kApp, u"Values", Key(static_cast<int>(i)), texts[i]);
    s.SaveSetting(kApp, texts[i], texts[i], u"as names");
  }
  s.SaveSetting(kApp, u"Spacing_arial", u"32", u"2");
  s.SaveSetting(u"Other", u"Spacing_Arial", u"32", u"4");
  s.SaveSetting(kApp, u"Settings", u"Format All Parens", u"0");
  this->kind_.Reopen();
  SettingsStore& r = this->kind_.get();
  for (std::size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE("text " + std::to_string(i));
    EXPECT_EQ(r.GetSetting(kApp, u"Values", Key(static_cast<int>(i)), kNotFound), texts[i]);
    EXPECT_EQ(r.GetSetting(kApp, texts[i], texts[i], kNotFound), u"as names");
  }
  EXPECT_EQ(r.GetSetting(kApp, u"Settings", u"Format All Parens", kNotFound), u"0") << "overwritten";
  EXPECT_EQ(r.GetSetting(kApp, u"Spacing_arial", u"32", kNotFound), u"2");
  EXPECT_EQ(r.GetSetting(u"", u"Spacing_arial", u"32", kNotFound), kNotFound) << "an application named \"\" is one of its own";
  EXPECT_EQ(r.GetSetting(kApp, u"Spacing_Arial", u"32", kNotFound), kNotFound) << "names keep their case";
  EXPECT_EQ(r.GetSetting(u"Other", u"Spacing_Arial", u"32", kNotFound), u"4");
  EXPECT_EQ(r.GetSetting(kApp, u"Spacing_arial", u"40", kNotFound), kNotFound) << "missing key";
  EXPECT_EQ(r.GetSetting(u"Nobody", u"Settings", u"Format All Parens", u"0"), u"0") << "missing application";
}

TEST(MemoryStore, ListsAndFailsSavesOnRequest) {
  MemoryStore s;
  s.SaveSetting(kApp, u"Spacing_Arial", u"3", u"c");
  s.SaveSetting(kApp, u"Spacing_Arial", u"2", u"b");
  EXPECT_EQ(s.Keys(kApp, u"Spacing_Arial"), (std::vector<std::u16string>{u"2", u"3"}));
  EXPECT_TRUE(s.Contains(kApp, u"Spacing_Arial", u"2"));
  EXPECT_FALSE(s.Contains(kApp, u"Spacing_Arial", u"4"));
  EXPECT_FALSE(s.Contains(kApp, u"Spacing_Calibri", u"2"));
  s.SaveSetting(kApp, u"Spacing_Calibri", u"2", u"b");
  EXPECT_TRUE(s.Contains(kApp, u"Spacing_Calibri", u"2")) << "a section made since it was looked up";
  s.FailSavesAfter(1);
  s.SaveSetting(kApp, u"Spacing_Arial", u"4", u"d");
  const StoreVersion before = s.Version();
  EXPECT_THROW(s.SaveSetting(kApp, u"Spacing_Arial", u"2", u"changed"), AutomationError);
  EXPECT_NE(s.Version(), before) << "a refused save may have changed something";
  EXPECT_EQ(s.GetSetting(kApp, u"Spacing_Arial", u"2", u""), u"b") << "a refused save stores nothing";
  EXPECT_EQ(s.Snapshot().size(), 4u);
  EXPECT_EQ(s.SaveCount(), 4u);
  EXPECT_EQ(s.FailedSaveCount(), 1u);
}

// What other programs and this one put into the file: proper UTF-8, with C0 80 for NUL and the
// three-byte form of a lone surrogate; bytes that are no sequence read as U+FFFD each.
TEST(SqliteStore, TextIsUtf8InTheFileAndBadBytesReadAsReplacements) {
  TempFolder dir;
  const std::string path = (dir / "s.db").string();
  SqliteStore(path).SaveSetting(kApp, u"Text", u"saved", std::u16string(u"\U0001F600\u00E9\u20AC\0\xD800!", 7));
  EXPECT_EQ(SqlValue(path, "SELECT hex(value) FROM settings WHERE key = 'saved'"), "F09F9880C3A9E282ACC080EDA08021");
  SqlValue(path, "INSERT INTO settings VALUES('Corvane', 'Text', 'raw', "
               "CAST(X'41C3A9F09F9880FFE08080EDA080F4908080C3' AS TEXT))");
  EXPECT_EQ(SqliteStore(path).GetSetting(kApp, u"Text", u"raw", kNotFound),
            u"A\u00E9\U0001F600\uFFFD\uFFFD\uFFFD\uFFFD\xD800\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
}

// ---- The SQLite store: which files it takes ----------------------------------------------------

// An absent or empty file, or one whose creation was cut short, becomes a store (marked "Corv");
// anything else is refused with its reason and left exactly as it was, nothing put beside it.
TEST(SqliteStore, TakesOnlyItsOwnFilesAndLeavesOthersAlone) {
  TempFolder dir;
  const std::string real = (dir / "real.db").string();
  SqliteStore(real).SaveSetting(kApp, u"Settings", u"Format All Parens", u"1");
  std::string garbage(8192, '\0');
  std::generate(garbage.begin(), garbage.end(), std::mt19937(7));
  // A program killed while creating the store: its first page is written, and so is the journal
  // that takes the file back to nothing. The journal comes from a transaction on an empty file
  // that spilled to disk, copied while it was open.
  sqlite3* db = nullptr;
  sqlite3_open((dir / "spill.db").string().c_str(), &db);
  sqlite3_exec(db, "PRAGMA cache_size=2; BEGIN; CREATE TABLE t(x); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
               "SELECT i+1 FROM n WHERE i<5000) INSERT INTO t SELECT randomblob(100) FROM n;", nullptr, nullptr, nullptr);
  const auto halfCreated = [&](auto& p) {
    SqlValue(p, "PRAGMA application_id=1131377270; PRAGMA user_version=1; CREATE TABLE settings(app, section, key, value);");
    fs::copy_file((dir / "spill.db-journal").string(), p + "-journal");
  };
  const std::string notAStore = " is not a Corvane settings store.";
  const std::vector<std::tuple<std::string, std::function<void(const std::string&)>, std::string>> cases = {
      {"absent.db", [](auto&) {}, ""},
      {"empty.db", [](auto& p) { std::ofstream(p).flush(); }, ""},
      {"half.db", halfCreated, ""},
      {"garbage.db", [&](auto& p) { std::ofstream(p, std::ios::binary) << garbage; }, notAStore},
      {"truncated.db", [&](auto& p) { std::ofstream(p, std::ios::binary) << ReadBytes(real).substr(0, 50); }, notAStore},
      {"other.db", [](auto& p) { SqlValue(p, "CREATE TABLE t(x); INSERT INTO t VALUES(1);"); }, notAStore},
      {"other-wal.db", [](auto& p) { SqlValue(p, "PRAGMA journal_mode=WAL; CREATE TABLE settings(x);"); }, notAStore},
      {"empty-sqlite.db", [](auto& p) { SqlValue(p, "PRAGMA user_version=3;"); }, notAStore},
      {"mark-only.db", [](auto& p) { SqlValue(p, "PRAGMA application_id=1131377270; PRAGMA user_version=1;"); },
       notAStore},
      {"newer.db", [&](auto& p) { fs::copy_file(real, p), SqlValue(p, "PRAGMA user_version=2;"); },
       " was made by a newer version of Corvane."},
      {"missing/settings.db", [](auto&) {}, " cannot be opened: the folder " + (dir / "missing").string() + " does not exist."},
      {".", [](auto&) {}, " cannot be opened: it is a folder."},
  };
  for (const auto& [name, make, message] : cases) {
    SCOPED_TRACE(name);
    const std::string path = (dir / name).string();
    make(path);
    if (message.empty()) {
      SqliteStore(path).SaveSetting(kApp, u"Settings", u"Format All Parens", u"1");
      EXPECT_EQ(ReadBytes(path).substr(68, 4), "Corv");
      EXPECT_EQ(SqliteStore(path).GetSetting(kApp, u"Settings", u"Format All Parens", u"0"), u"1");
      continue;
    }
    const auto bytes = [&] { return fs::is_regular_file(path) ? ReadBytes(path) : std::string(); };
    const std::string before = bytes();
    const auto files = std::distance(fs::directory_iterator(dir.path()), {});
    EXPECT_EQ(ErrorOf([&] { SqliteStore s(path); }), "The settings file " + path + message);
    EXPECT_TRUE(bytes() == before) << "changed";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), files) << "nothing made beside it";
  }
  sqlite3_close_v2(db);
}

// ---- The SQLite store: the read cache ------------------------------------------------------------

TEST(SqliteStore, CacheFollowsOtherConnectionsWithoutStaleReads) {
  TempFolder dir;
  SqliteStore a((dir / "s.db").string());
  SqliteStore b((dir / "s.db").string());
  EXPECT_EQ(a.GetSetting(kApp, u"Spacing_Arial", u"40", kNotFound), kNotFound);
  const auto loads = a.CacheLoads();
  for (int i = 0; i < 100; ++i) a.GetSetting(kApp, u"Spacing_Arial", u"40", kNotFound);
  EXPECT_EQ(a.CacheLoads(), loads) << "an unchanged file is not read again";

  b.SaveSetting(kApp, u"Spacing_Arial", u"40", u"0.3333");
  EXPECT_EQ(a.GetSetting(kApp, u"Spacing_Arial", u"40", kNotFound), u"0.3333");
  {
    // A batch reads one state of the file: a commit in the middle of it shows after it.
    SettingsStore::ReadScope batch(a);
    EXPECT_EQ(a.GetSetting(kApp, u"Spacing_Arial", u"40", kNotFound), u"0.3333");
    b.SaveSetting(kApp, u"Spacing_Arial", u"40", u"0.5");
    EXPECT_EQ(a.GetSetting(kApp, u"Spacing_Arial", u"40", kNotFound), u"0.3333");
    a.SaveSetting(kApp, u"Spacing_Arial", u"41", u"own");
    EXPECT_EQ(a.GetSetting(kApp, u"Spacing_Arial", u"41", kNotFound), u"own");
  }
  EXPECT_EQ(a.GetSetting(kApp, u"Spacing_Arial", u"40", kNotFound), u"0.5");

  // A's own save right after B's must not leave A's copy without B's value.
  b.SaveSetting(kApp, u"Special_Arial", u"8364", u"1.1");
  a.SaveSetting(kApp, u"Special_Arial", u"8212", u"1.2");
  EXPECT_EQ(a.GetSetting(kApp, u"Special_Arial", u"8364", kNotFound), u"1.1");
  EXPECT_EQ(b.GetSetting(kApp, u"Special_Arial", u"8212", kNotFound), u"1.2");

  // Another connection's save gives this store another version too.
  const StoreVersion before = a.Version();
  b.SaveSetting(kApp, u"Spacing_Arial", u"42", u"0.6");
  EXPECT_NE(a.Version(), before);
}

// ---- The SQLite store: other processes, crashes, refusals ----------------------------------------

// A writer in a process of its own (forked with no connection open, as SQLite requires): once
// every write end of the pipe `start` (if any) is closed, it saves the keys first .. first +
// count - 1 of Spacing_Arial (values "value <key>"), writing a byte to `acks` after each save
// has returned. It exits 0, or 3 when the store refuses.
struct Child {
  pid_t pid;
  int acks;
};

Child Spawn(const std::string& path, int first, int count, const int* start = nullptr) {
  int acks[2];
  if (::pipe(acks)) throw std::runtime_error("pipe");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(acks[0]);
    char c = 0;
    if (start) ::close(start[1]);
    while (start && ::read(start[0], &c, 1) > 0) {
    }
    try {
      SqliteStore store(path);
      for (int k = first; k < first + count; ++k) {
        store.SaveSetting(kApp, u"Spacing_Arial", Key(k), Value(k));
        if (::write(acks[1], "\n", 1) != 1) ::_exit(4);
      }
    } catch (const AutomationError&) {
      ::_exit(3);
    }
    ::_exit(0);
  }
  ::close(acks[1]);
  return Child{pid, acks[0]};
}

// Reads the child's acknowledgements to their end and waits for it; returns its exit code and
// how many there were.
std::pair<int, long> Finish(const Child& c) {
  long acks = 0;
  char buffer[4096];
  for (ssize_t n; (n = ::read(c.acks, buffer, sizeof buffer)) > 0;) acks += n;
  ::close(c.acks);
  int status = 0;
  ::waitpid(c.pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, acks};
}

TEST(SqliteStore, WritersInTwoProcessesLoseNothing) {
  TempFolder dir;
  const std::string path = (dir / "shared.db").string();  // absent: they also race to create it
  int start[2];
  ASSERT_EQ(::pipe(start), 0);
  const Child one = Spawn(path, 1, 1000, start);
  const Child two = Spawn(path, 1001, 1000, start);
  ::close(start[0]), ::close(start[1]);
  EXPECT_EQ(Finish(one).first, 0);
  EXPECT_EQ(Finish(two).first, 0);
  SqliteStore s(path);
  for (int k = 1; k <= 2000; ++k) ASSERT_EQ(s.GetSetting(kApp, u"Spacing_Arial", Key(k), kNotFound), Value(k)) << k;
  EXPECT_EQ(SqlValue(path, "SELECT count(*) FROM settings"), "2000");
}

TEST(SqliteStore, KilledWriterLeavesExactlyAPrefixOfItsSaves) {
  TempFolder dir;
  std::mt19937 random(11);
  for (const long acknowledged : {1, 40, 150}) {
    SCOPED_TRACE("killed after " + std::to_string(acknowledged) + " saves");
    const std::string path = (dir / ("killed-" + std::to_string(acknowledged) + ".db")).string();
    const Child c = Spawn(path, 1, 1000000);
    long seen = 0;  // saves that returned
    char buffer[256];
    while (seen < acknowledged) {
      const ssize_t n = ::read(c.acks, buffer, sizeof buffer);
      ASSERT_GT(n, 0);
      seen += n;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    ::kill(c.pid, SIGKILL);
    seen += Finish(c).second;

    SqliteStore s(path);
    const int rows = std::stoi(SqlValue(path, "SELECT count(*) FROM settings"));
    EXPECT_GE(rows, seen) << "every save that returned is kept";
    for (int k = 1; k <= rows + 1; ++k) {
      ASSERT_EQ(s.GetSetting(kApp, u"Spacing_Arial", Key(k), kNotFound), k <= rows ? Value(k) : kNotFound) << k;
    }
    s.SaveSetting(kApp, u"Settings", u"Format All Parens", u"1");  // and the store goes on working
  }
}

// A save refused to a second connection (a disk that takes no more bytes) is reported and loses
// nothing the first one reads; under a running program, a folder deleted refuses every save. (A
// read-only file, and the program's reports, are test_format_cli's.)
TEST(SqliteStore, RefusedSavesAreReportedAndLoseNothing) {
  TempFolder dir;
  const std::string path = (dir / "s.db").string();
  SqliteStore keeper(path);  // held open, as a running program would
  for (int k = 1; k <= 20; ++k) keeper.SaveSetting(kApp, u"Spacing_Arial", Key(k), Value(k));
  const std::string refusal = "The settings file " + path + " cannot be written: ";
  // A full disk: a file size limit of zero fails every write.
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit none{0, limit.rlim_max};
  const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &none);
  const std::string onAFullDisk = ErrorOf([&] { SqliteStore(path).SaveSetting(kApp, u"Spacing_Arial", u"25", u"refused"); });
  ::setrlimit(RLIMIT_FSIZE, &limit);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(onAFullDisk.starts_with(refusal)) << onAFullDisk;

  for (int k = 1; k <= 20; ++k) ASSERT_EQ(keeper.GetSetting(kApp, u"Spacing_Arial", Key(k), kNotFound), Value(k)) << k;
  EXPECT_EQ(keeper.GetSetting(kApp, u"Spacing_Arial", u"25", kNotFound), kNotFound);
  keeper.SaveSetting(kApp, u"Spacing_Arial", u"21", u"kept");
  EXPECT_EQ(SqliteStore(path).GetSetting(kApp, u"Spacing_Arial", u"21", kNotFound), u"kept");

  fs::remove_all(dir.path());
  EXPECT_EQ(ErrorOf([&] { keeper.SaveSetting(kApp, u"Spacing_Arial", u"22", u"lost"); }),
            refusal + "it was moved or deleted after it was opened.");
}

// The last character of two bytes and the first of three, and two keys with one 64-bit hash
// (found by a search), which stay two keys.
TEST(SqliteStore, TextsAtTheirBoundariesAndKeysOfOneHash) {
  TempFolder dir;
  const std::string path = (dir / "s.db").string();
  const std::u16string a = u"\uE71A\u978A\u87F1\uFAEE", b = u"\xDBED\x323D\x02F7\x7BAA";
  SqliteStore s(path);
  s.SaveSetting(kApp, u"Text", a, u"\u07FF\u0800");
  EXPECT_EQ(s.GetSetting(kApp, u"Text", b, kNotFound), kNotFound);
  s.SaveSetting(kApp, u"Text", b, u"b");
  EXPECT_EQ(SqliteStore(path).GetSetting(kApp, u"Text", a, kNotFound), u"\u07FF\u0800");
}

// A program started without standard input does not find the settings file there.
TEST(SqliteStore, AClosedStandardInputStaysFreeOfTheSettingsFile) {
  TempFolder dir;
  const std::string path = (dir / "s.db").string();
  SqliteStore(path).SaveSetting(kApp, u"Text", u"k", u"v");
  const int input = ::dup(0);
  ::close(0);
  SqliteStore(path).GetSetting(kApp, u"Text", u"k", kNotFound);
  std::error_code ec;
  EXPECT_FALSE(fs::equivalent("/proc/self/fd/0", path, ec));
  ::dup2(input, 0);
  ::close(input);
}

}  // namespace
}  // namespace corvane
