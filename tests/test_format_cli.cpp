// `corvane format` and `corvane unformat` on text as a user runs them: arguments and standard
// input, what goes to standard output and error, exit statuses, --jsonl, the text file and the
// options of one run; and the one table of the program's bad usage.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/posix/sqlite_store.h"
#include "support/files.h"
#include "support/run_cli.h"
#include "support/xlsx_builder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::CliResult;
using testsupport::ReadBytes;

const std::string kIfSum = "=IF(A1,SUM(B1,C1),0)";
const std::string kIfSumMono = "=IF(\n      A1,\n      SUM(\n            B1,\n            C1\n         ),\n      0\n   )\n   ";
const std::string kFileName = "Book1 - Sheet1 - A1 - formatted formula.txt";

class FormatCli : public ::testing::Test {
 protected:
  FormatCli() { fs::create_directory(Tmp()); }

  std::string Store() const { return (folder_ / "settings.db").string(); }
  fs::path Tmp() const { return folder_ / "tmp"; }

  // Every ordinary width of the font stored as one space, in one transaction (the store's own
  // saves are durable one by one, far too slow for 766 keys per test).
  void Calibrate(const std::string& font = "Calibri") {
    SetOption(u"Created by", u"test");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Store().c_str(), &db), SQLITE_OK);
    std::string sql = "BEGIN;";
    for (int k = 2; k <= 767; ++k)
      sql += "INSERT INTO settings VALUES('Corvane', 'Spacing_" + font + "', '" + std::to_string(k) + "', '1');";
    EXPECT_EQ(sqlite3_exec(db, (sql + "COMMIT;").c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  void SetOption(std::u16string_view key, std::u16string_view value) {
    posix::SqliteStore(Store()).SaveSetting(u"Corvane", u"Settings", key, value);
  }
  // The program with this test's store and "tmp", and no desktop on which to open anything.
  CliResult Run(const std::vector<std::string>& args, const std::string& input = {},
                void (*beforeExec)() = nullptr) const {
    return testing::RunCli(args, input,
                           {{"CORVANE_STORE", Store()}, {"tmp", Tmp().string()}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}},
                           beforeExec);
  }

  testsupport::TempFolder folder_;
};

TEST_F(FormatCli, TextInAndOutAsTheUserSeesIt) {
  Calibrate();
  // In the cell the layout is measured in the font; --mono counts characters.
  const std::string cell = Run({"format", kIfSum}).out;
  ASSERT_TRUE(cell.starts_with("=IF(\n") && cell.size() > kIfSum.size() + 1) << cell;
  struct Row {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string out;
    std::string err;  // a part of standard error; "" for none at all
  };
  const std::vector<Row> rows = {

      // One trailing line feed of the input is dropped; a second is part of the formula, and
      // laying it out takes it out again as the layout it had.
      {{"format"}, kIfSum + "\n", 0, cell, ""},
      {{"format", "-"}, kIfSum + "\n\n", 0, cell, ""},
      {{"format", "--mono", kIfSum}, "", 0, kIfSumMono + "\n", ""},
      // An apostrophe inside brackets escapes one character and a double quote inside a sheet
      // name is text of the name: neither hides the syntax after it from the layout.
      {{"format", "--mono", "=SUM(Table1['#Items],IF(A1,B1,C1))"}, "", 0,
       "=SUM(\n       Table1['#Items],\n       IF(\n            A1,\n            B1,\n            C1\n         )\n    )\n    \n", ""},
      {{"format", "--mono", "=T['#]*F(T['#])"}, "", 0, "=T['#]*F(\n           T['#]\n        )\n        \n", ""},
      {{"format", "--mono", "='a\"b'!A1+SUM(1,2)"}, "", 0,
       "='a\"b'!A1+SUM(\n                1,\n                2\n             )\n             \n", ""},
      {{"format", "--mono", "=SUM(Table1[[#This Row],['[Qty']]],IF(A1,B1))"}, "", 0,
       "=SUM(\n       Table1[[#This Row],['[Qty']]],\n       IF(\n            A1,\n            B1\n         )\n    )\n    \n", ""},
      {{"format", "--mono", "--separator", ";", "=IF(A1;B1,C1;2)"}, "", 0,
       "=IF(\n      A1;\n      B1,C1;\n      2\n   )\n   \n", ""},
      // What cannot be laid out is printed as it was, with the reason and status 1.
      {{"format", "=A1+B1"}, "", 1, "=A1+B1\n", "Unable to format this cell."},
      {{"format", "--", "-net (draft)"}, "", 1, "-net (draft)\n", "Unable to format this cell."},
      {{"format"}, "\n", 1, "\n", "No formula in cell."},
      {{"format", "--jsonl", "--mono"}, "\"" + kIfSum + "\"\n\"=A1+B1\"\n\"\"\n  \"=SUM(A1)\\n+1\"  \n", 0,
       "{\"cell\":\"=IF(\\n      A1,\\n      SUM(\\n            B1,\\n            C1\\n         ),\\n      0\\n   )\\n   \","
       "\"file\":null,\"messages\":[]}\n"
       "{\"cell\":\"=A1+B1\",\"file\":null,\"messages\":[\"Unable to format this cell.\"]}\n"
       "{\"cell\":\"\",\"file\":null,\"messages\":[\"No formula in cell.\"]}\n"
       "{\"cell\":\"=SUM(\\n       A1\\n    )\\n+1\",\"file\":null,\"messages\":[]}\n",
       ""},
      {{"unformat", "=IF(\n   A1,\n   SUM(\n      B1,\n      C1\n   ),\n   0\n)\n   "}, "", 0, kIfSum + "\n", ""},
      {{"unformat"}, "=SUM(\n  \"a b\",\n  'My Sheet'!A1\n)\n", 0, "=SUM(\"a b\",'My Sheet'!A1)\n", ""},
      {{"unformat", "-"}, "=SUM(\n   Table1['#Items],\n   A1 + 1\n)", 0, "=SUM(Table1['#Items],A1+1)\n", ""},
      {{"unformat", "a (b) c"}, "", 0, "a (b) c\n", ""},
      {{"unformat", "=A1:B5 B2:C3"}, "", 0, "=A1:B5 B2:C3\n", ""},
      {{"unformat", "=€ + é"}, "", 0, "=€+é\n", ""},
      // A lone surrogate cannot be written as UTF-8: it comes back escaped, not mangled.
      {{"unformat", "--jsonl"}, "\"=SUM(\\n 1, 2)\"\n\"=A1  +  B1\"\n  \"x y\"  \n\"=\\ud83d\\ude00 + \\u00e9\"\n\"=\\ud800 + 1\"\n", 0,
       "{\"cell\":\"=SUM(1,2)\"}\n{\"cell\":\"=A1+B1\"}\n{\"cell\":\"x y\"}\n"
       "{\"cell\":\"=\xF0\x9F\x98\x80+\xC3\xA9\"}\n{\"cell\":\"=\\ud800+1\"}\n",
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args.back() + " | " + row.input);
    const CliResult r = Run(row.args, row.input);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_EQ(r.out, row.out);
    if (row.err.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
    }
  }
  EXPECT_TRUE(fs::is_empty(Tmp())) << "no text file without --notepad";
  const CliResult help = Run({"help-path"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.ends_with("/corvane.chm\n")) << help.out;
  EXPECT_EQ(Run({"--help"}).status, 0);
}

// Control characters other than the line feed, in any encoding a terminal acts on (C0, DEL, C1
// as UTF-8).
bool DrivesTheTerminal(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if ((b < 0x20 && b != '\n') || b == 0x7F) return true;
    if (b == 0xC2 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80) return true;
  }
  return false;
}

// Bad usage and input that is no file: refused with the status and a message that shows
// control characters and broken bytes as escapes; nothing is written, no store is made.
TEST_F(FormatCli, BadUsageIsRefusedAndTouchesNothing) {
  const fs::path book = folder_ / "Book.xlsx";
  testsupport::XlsxBuilder().Sheet("Sheet1", R"(<row r="1"><c r="A1"><f>SUM(1,2)</f></c></row>)").Write(book);
  const std::string original = ReadBytes(book);
  testsupport::WriteBytes(folder_ / "notes.xlsx", "just text\n");
  ASSERT_EQ(mkfifo((folder_ / "fifo.xlsx").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", folder_ / "zero.xlsx");
  fs::create_directory(folder_ / "folder.xlsx");
  const auto at = [&](const char* name) { return (folder_ / name).string(); };
  const std::string b = book.string();
  struct Row {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string message;  // a part of what the program says
    bool beforeTheStore = true;  // refused before the settings are opened (and the store made)
  };
  const std::vector<Row> rows = {
      {{"frobnicate"}, "", 2, "unknown command"},
      {{"\x1B]0;title\x07"}, "", 2, "corvane: unknown command \"\\x1B]0;title\\x07\" (see corvane --help)\n"},
      {{"format", "--frobnicate", kIfSum}, "", 2, "unknown option --frobnicate"},
      {{"format", "--\x1B[2Jx\xFF"}, "", 2, "corvane format: unknown option --\\x1B[2Jx\\xFF\n"},
      {{"format", "--all-parens", "--no-all-parens", kIfSum}, "", 2, "parens"},
      {{"format", kIfSum, "=A1"}, "", 2, "corvane format: "},
      {{"format", "--jsonl", kIfSum}, "", 2, "corvane format: "},
      {{"format", "--separator"}, "", 2, "--separator"},
      {{"format"}, "=SUM((A1", 2, "does not accept", false},
      {{"format", "--jsonl"}, "\"=SUM(A1)\"\n=SUM(A1)\n", 2, "line 2"},
      {{"unformat", "--bogus"}, "", 2, "unknown option --bogus"},
      {{"unformat", "=A1", "=B1"}, "", 2, "corvane unformat: "},
      {{"unformat", "=SUM((1)"}, "", 2, "does not accept"},
      {{"unformat", "--jsonl"}, "not json\n", 2, "line 1: "},
      {{"unformat", "--jsonl"}, "\"a\\\x1B\"\n", 2, "corvane unformat: line 1: unknown escape \\\\x1B in a JSON string\n"},
      {{"settings", "--always-notepad", "\xC2\x9B" "31m\xC3\xA9"}, "", 2,
       "corvane settings: --always-notepad takes on or off, not \"\\xC2\\x9B31m\xC3\xA9\"\n"},
      {{"calibrate", "--font", ""}, "", 2, "--font needs a font name"},
      {{"calibrate", "--fast"}, "", 2, "unknown option --fast"},
      {{"calibrate", "now"}, "", 2, "takes no arguments"},
      {{"format", b, "Nowhere!A1"}, "", 2, "no worksheet named \"Nowhere\"", false},
      {{"unformat", b, "'Sheet1!A1"}, "", 2, "no worksheet named"},
      {{"unformat", b, "'\xD0\x85heet1'!A1"}, "", 2, "no worksheet named"},  // a Cyrillic Ѕ only looks alike
      {{"format", b, "Sheet1!A0"}, "", 2, "is not a cell or range", false},
      {{"format", b, "Sheet1!A1", "--all"}, "", 2, "--all takes no CELL"},
      {{"format", b}, "", 2, "expected CELL"},
      {{"format", b, "Sheet1!A1", "--mono"}, "", 2, "single formulas"},
      {{"format", b, "Sheet1!A1", "--separator", "a"}, "", 2, "cannot serve", false},
      {{"format", at("notes.xlsx"), "Sheet1!A1"}, "", 1, "not a workbook file", false},
      {{"format", at("missing.xlsx"), "Sheet1!A1"}, "", 1, "cannot be opened", false},
      {{"unformat", at("fifo.xlsx"), "S!A1"}, "", 1, "is a FIFO, not a workbook file"},
      {{"unformat", at("zero.xlsx"), "S!A1"}, "", 1, "is a character device, not a workbook file"},
      {{"unformat", at("folder.xlsx"), "S!A1"}, "", 1, "is a folder, not a workbook file"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args.back() + " | " + row.input);
    // An input that is no file is refused at once: a run that hangs on it ends here.
    const CliResult r = Run(row.args, row.input, [] { alarm(20); });
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
    EXPECT_FALSE(DrivesTheTerminal(r.err)) << r.err;
    EXPECT_TRUE(!row.beforeTheStore || !fs::exists(Store())) << "bad usage must not create the store";
    fs::remove(Store());
  }
  EXPECT_TRUE(fs::is_empty(Tmp()));
  EXPECT_EQ(ReadBytes(book), original);
  EXPECT_EQ(ReadBytes(folder_ / "notes.xlsx"), "just text\n");
  EXPECT_EQ(fs::status(folder_ / "fifo.xlsx").type(), fs::file_type::fifo);
}

TEST_F(FormatCli, NotepadWritesTheFileToTmpAndPrintsItsPath) {
  Calibrate();
  const fs::path file = Tmp() / kFileName;
  CliResult r = Run({"format", "--notepad", kIfSum});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, file.string() + "\n");
  EXPECT_EQ(ReadBytes(file),
            "Corvane is currently configured to always send the formatted formula to Notepad instead of formatting "
            "the formula in the cell.\r\n\r\nTo format formulas in their cells, go to Corvane Settings and uncheck "
            "\"Always Send to Notepad\".\r\n\r\n\r\n\r\n=IF(\r\n      A1,\r\n      SUM(\r\n            B1,\r\n   "
            "         C1\r\n         ),\r\n      0\r\n   )\r\n   \r\n");
  // The option held for that run only.
  EXPECT_EQ(posix::SqliteStore(Store()).GetSetting(u"Corvane", u"Settings", u"Always Send to Notepad", u"absent"),
            u"absent");
  r = Run({"format", "--jsonl", "--notepad"}, "\"" + kIfSum + "\"\n\"=A1\"\n");
  EXPECT_EQ(r.out, "{\"cell\":\"" + kIfSum + "\",\"file\":\"" + file.string() +
                       "\",\"messages\":[]}\n{\"cell\":\"=A1\",\"file\":null,\"messages\":[\"Unable to format this "
                       "cell.\"]}\n");

  // A symbolic link at the name, dangling or not, is replaced, never written through.
  testsupport::WriteBytes(folder_ / "victim.txt", "keep");
  for (const fs::path& target : {folder_ / "victim.txt", folder_ / "elsewhere" / "made.txt"}) {
    fs::remove(file);
    fs::create_symlink(target, file);
    EXPECT_EQ(Run({"format", "--notepad", "=SUM(A1)"}).status, 0);
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(file)));
    EXPECT_NE(ReadBytes(file).find("=SUM(\r\n"), std::string::npos);
  }
  EXPECT_EQ(ReadBytes(folder_ / "victim.txt"), "keep");
  EXPECT_FALSE(fs::exists(folder_ / "elsewhere"));
  EXPECT_EQ(std::distance(fs::directory_iterator(Tmp()), {}), 1) << "no temporary file beside it";
}

// With a desktop the text file is handed to the opener, which the program does not wait for and
// which holds none of its standard streams; without one nothing is started.
TEST_F(FormatCli, TheOpenerShowsTheTextFileOnlyOnADesktop) {
  Calibrate();
  const fs::path log = folder_ / "opened.log";
  testsupport::WriteBytes(folder_ / "xdg-open", "#!/bin/sh\nprintf '%s|%s|%s|%s' \"$1\" \"$#\" \"$(readlink /proc/$$/fd/0)\" "
                                                "\"$(readlink /proc/$$/fd/1)\" > '" + log.string() + ".tmp'\nmv '" +
                                                log.string() + ".tmp' '" + log.string() + "'\nsleep 3\n");
  fs::permissions(folder_ / "xdg-open", fs::perms::owner_all);
  const std::string path = folder_.path().string() + ":" + std::getenv("PATH");
  for (const auto& [display, wayland] : {std::pair{"", ""}, std::pair{":0", ""}, std::pair{"", "wayland-0"}}) {
    SCOPED_TRACE(std::string(display) + wayland);
    fs::remove(log);
    const auto start = std::chrono::steady_clock::now();
    const CliResult r = testing::RunCli({"format", "--notepad", kIfSum}, "",
                                        {{"CORVANE_STORE", Store()}, {"tmp", Tmp().string()}, {"PATH", path},
                                         {"DISPLAY", display}, {"WAYLAND_DISPLAY", wayland}});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "waited for the opener";
    EXPECT_EQ(r.status, 0) << r.err;
    for (int k = 0; k < 300 && !fs::exists(log); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ReadBytes(log), *display || *wayland ? (Tmp() / kFileName).string() + "|1|/dev/null|/dev/null" : "");
  }
}

TEST_F(FormatCli, StoredOptionsApplyAndRunOptionsOverrideThem) {
  Calibrate("Arial");
  // The stored font needs no question; --uncalibrated answers them, so every width is one, and
  // stores nothing.
  EXPECT_EQ(Run({"format", "--font", "Arial", "--mono", kIfSum}).err, "");
  CliResult r = Run({"format", "--uncalibrated", "--mono", kIfSum});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kIfSumMono + "\n");
  EXPECT_EQ(posix::SqliteStore(Store()).GetSetting(u"Corvane", u"Spacing_Calibri", u"40", u"absent"), u"absent");

  // The version sets the limit, and the file explains it.
  std::string formula = "=CONCATENATE(";
  for (int i = 1; i <= 60; ++i) formula += (i > 1 ? ",LEFT(A" : "LEFT(A") + std::to_string(i) + ",1)";
  r = Run({"format", "--font", "Arial", "--excel-version", "11.0", formula + ")"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, (Tmp() / kFileName).string() + "\n");
  const std::string text = ReadBytes(Tmp() / kFileName);
  EXPECT_NE(text.find("This version of Excel allows a maximum of 1,024 characters in a formula."), std::string::npos);
  EXPECT_NE(text.find(" characters when formatted for Arial font, or "), std::string::npos);

  SetOption(u"Always Send to Notepad", u"1");
  SetOption(u"Format All Parens", u"1");
  EXPECT_EQ(Run({"format", "--font", "Arial", "--mono", "=SUM(A1*(B1+C1),2)"}).out,
            "=SUM(\n       A1*(\n             B1+C1\n          ),\n       2\n    )\n    \n");
  EXPECT_EQ(Run({"format", "--font", "Arial", "--mono", "--no-all-parens", "=SUM(A1*(B1+C1),2)"}).out,
            "=SUM(\n       A1*(B1+C1),\n       2\n    )\n    \n");
  EXPECT_EQ(Run({"format", "--font", "Arial", "=SUM(A1)"}).out, (Tmp() / kFileName).string() + "\n");
}

TEST_F(FormatCli, FirstUseWithoutATerminalStartsTheCalibration) {
  const CliResult r = Run({"format", kIfSum});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Corvane is not yet calibrated to your configuration. Calibrate now?"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Calibration done."), std::string::npos) << r.err;
  EXPECT_NE(posix::SqliteStore(Store()).GetSetting(u"Corvane", u"Spacing_Calibri", u"767", u"Not Found"), u"Not Found");
}

#if !defined(__SANITIZE_ADDRESS__)  // AddressSanitizer's quarantine of freed memory hides the peak
// A formula nested 2,700 levels deep becomes 29 million characters of layout. Printed or
// written to the text file, the program's memory stays within three times that text's size in
// memory (two bytes a character) and a constant: no copy of it is made beyond the file's own
// text and its UTF-8 bytes.
TEST_F(FormatCli, MemoryStaysInProportionToTheLayout) {
  Calibrate();
  const std::string deep = "=" + [] {
    std::string s;
    for (int k = 0; k < 2700; ++k) s += "A(";
    return s;
  }() + "1" + std::string(2700, ')');
  // The program's peak counts what this process holds when it starts the program.
  malloc_trim(0);
  const long start = testing::RunCli({"help-path"}).peakKilobytes * 1024L;
  CliResult r = Run({"format", "--mono", "-"}, deep);
  ASSERT_EQ(r.status, 0) << r.err;
  const long textBytes = 2L * static_cast<long>(r.out.size() - 1);
  EXPECT_GT(textBytes, 55000000L);
  const long bound = start + 3 * textBytes + (16L << 20);
  EXPECT_LE(r.peakKilobytes * 1024L, bound) << r.peakKilobytes << " KiB at the peak";
  // The file ends with the same layout, its lines ended by carriage return and line feed.
  std::string tail;
  for (const char c : std::string_view(r.out).substr(r.out.size() - 20001, 20000)) tail += c == '\n' ? "\r\n" : std::string(1, c);
  r = CliResult();
  malloc_trim(0);
  r = Run({"format", "--notepad", "-"}, deep);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_LE(r.peakKilobytes * 1024L, bound) << r.peakKilobytes << " KiB at the peak";
  EXPECT_TRUE(ReadBytes(Tmp() / kFileName).ends_with(tail + "\r\n"));
}
#endif

}  // namespace
}  // namespace corvane
