// `corvane` on text as a user runs it: arguments and standard input, standard output and error,
// exit statuses, --jsonl, the text file and the desktop's opener, the options of one run, and the
// one table of the program's bad usage; `corvane calibrate` run whole and cancelled; runs against
// a settings file that fails them, which name the file, end with status 1 and lose nothing; hostile input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/sqlite_store.h"
#include "support/corpus.h"
#include "support/run_cli.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::CliResult;
using testing::SqlValue;
using testsupport::ReadBytes;

const std::string kIfSum = "=IF(A1,SUM(B1,C1),0)";
const std::string kIfSumMono = "=IF(\n      A1,\n      SUM(\n            B1,\n            C1\n         ),\n      0\n   )\n   ";
const std::string kFileName = "Book1 - Sheet1 - A1 - formatted formula.txt";

// What a store holds, in one line: the options, how many widths each font has and whether they
// are the codes 2 to n without a gap, and the file's own check.
std::string Contents(const std::string& store) {
  return SqlValue(store,
               "SELECT group_concat(line, '; ') FROM ("
               " SELECT key || '=' || value AS line FROM settings WHERE section = 'Settings'"
               " UNION ALL SELECT section || ' ' || count(*) || (CASE WHEN min(CAST(key AS INT)) = 2 AND"
               "  max(CAST(key AS INT)) = count(*) + 1 THEN ' from 2' ELSE ' with a gap' END)"
               "  FROM settings WHERE section LIKE 'Spacing_%' GROUP BY section)") +
         " | " + SqlValue(store, "PRAGMA integrity_check");
}

// How many widths the store holds for Calibri if they are the codes 2 to n without a gap, else -1.
int CalibriPrefix(const std::string& store) {
  return std::stoi("0" + SqlValue(store, "SELECT CASE WHEN count(*) = 0 OR (min(CAST(key AS INT)) = 2 AND max(CAST(key AS "
                                      "INT)) = count(*) + 1) THEN count(*) ELSE -1 END FROM settings WHERE section = "
                                      "'Spacing_Calibri'"));
}

// A store with both options and every width of `font`, written as a program would (the widths in
// one transaction: the store's own saves are durable one by one, far too slow for 766 keys).
void MakeStore(const std::string& store, const std::string& font = "Calibri", const std::string& width = "1") {
  posix::SqliteStore(store).SaveSetting(u"Corvane", u"Settings", u"Format All Parens", u"1");
  posix::SqliteStore(store).SaveSetting(u"Corvane", u"Settings", u"Always Send to Notepad", u"0");
  std::string sql = "BEGIN;";
  for (int k = 2; k <= 767; ++k)
    sql += "INSERT INTO settings VALUES('Corvane', 'Spacing_" + font + "', '" + std::to_string(k) + "', '" + width + "');";
  SqlValue(store, sql + "COMMIT;");
  EXPECT_EQ(SqlValue(store, "SELECT count(*) FROM settings"), "768");
}

class FormatCli : public ::testing::Test {
 protected:
  CliResult Run(const std::vector<std::string>& args, const std::string& input = {}) const { return folder_.Run(args, input); }

  testing::CliFolder folder_{"with space \xC3\x9Cn\xC3\xAF \xE6\x97\xA5"};  // every path holds these
  const std::string store_ = folder_.store();
  const fs::path file_ = folder_ / kFileName;
};

TEST_F(FormatCli, TextInAndOutAsTheUserSeesIt) {
  MakeStore(store_);
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
      // A byte-order mark that an editor put before the text is no part of it.
      {{"format", "-"}, "\xEF\xBB\xBF" + kIfSum, 0, cell, ""},
      {{"unformat", "--jsonl"}, "\xEF\xBB\xBF\"=A1 + 1\"", 0, "{\"cell\":\"=A1+1\"}\n", ""},
      {{"format", "--mono", kIfSum}, "", 0, kIfSumMono + "\n", ""},
      {{"format", "--mono", "--separator", ";", "=IF(A1;B1,C1;2)"}, "", 0,
       "=IF(\n      A1;\n      B1,C1;\n      2\n   )\n   \n", ""},
      // What cannot be laid out is printed as it was, with the add-in's message, why, and status 1;
      // a name that is no file is a formula (a constant).
      {{"format", "=A1+B1"}, "", 1, "=A1+B1\n", "Unable to format this cell.\ncorvane format: the formula has no parenthesis to lay out\n"},
      {{"format", "--", "-net (draft)"}, "", 1, "-net (draft)\n", "Unable to format this cell.\ncorvane format: the cell holds a constant"},
      {{"format", "no-such-file.txt"}, "", 1, "no-such-file.txt\n", "the cell holds a constant, not a formula (a formula starts with \"=\")\n"},
      {{"format"}, "\n", 1, "\n", "No formula in cell.\ncorvane format: the cell is empty\n"},
      // A layout the spreadsheet refuses leaves the cell; the text file takes it (below).
      {{"format", "=SUM(A:A)"}, "", 1, "=SUM(A:A)\n", "whole-column reference A:A. The cell was left as it was; --notepad"},
      {{"format", "--jsonl", "--mono"}, "\"" + kIfSum + "\"\n\"=A1+B1\"\n  \"\"  \n", 0,
       "{\"cell\":\"=IF(\\n      A1,\\n      SUM(\\n            B1,\\n            C1\\n         ),\\n      0\\n   )\\n   \","
       "\"file\":null,\"messages\":[]}\n"
       "{\"cell\":\"=A1+B1\",\"file\":null,\"messages\":[\"Unable to format this cell.\"],"
       "\"reason\":\"the formula has no parenthesis to lay out\"}\n"
       "{\"cell\":\"\",\"file\":null,\"messages\":[\"No formula in cell.\"],\"reason\":\"the cell is empty\"}\n",
       ""},
      {{"unformat"}, "=SUM(\n  \"a b\",\n  'My Sheet'!A1\n)\n", 0, "=SUM(\"a b\",'My Sheet'!A1)\n", ""},
      {{"unformat", "=€ + é"}, "", 0, "=€+é\n", ""},
      // A lone surrogate cannot be written as UTF-8, nor NUL in a JSON line: they come back escaped.
      {{"unformat", "--jsonl"}, "\"=SUM(\\n 1, 2)\"\n\"=A1  +  B1\"\n  \"x y\"  \n\"=\\ud83d\\ude00 + \\u00e9\"\n\"=T(\\ud800) & \\udc00 & \\u0000\"\n", 0,
       "{\"cell\":\"=SUM(1,2)\"}\n{\"cell\":\"=A1+B1\"}\n{\"cell\":\"x y\"}\n"
       "{\"cell\":\"=\xF0\x9F\x98\x80+\xC3\xA9\"}\n{\"cell\":\"=T(\\ud800)&\\udc00&\\u0000\"}\n",
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args.back() + " | " + row.input);
    const CliResult r = Run(row.args, row.input);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_EQ(r.out, row.out);
    EXPECT_TRUE(row.err.empty() ? r.err.empty() : r.err.find(row.err) != std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(file_)) << "no text file without --notepad";
  EXPECT_EQ(Run({"format", "--notepad", "=SUM(A:A)"}).out, file_.string() + "\n");
  EXPECT_TRUE(Run({"help-path"}).out.ends_with("/corvane.chm\n"));
  EXPECT_EQ(Run({"--help"}).status, 0);
}

// =IF(A1,IF(A1,...)) nested to `bytes` characters or a little less, parentheses balanced.
std::string NestedFormula(std::size_t bytes) {
  const std::size_t depth = (bytes - 2) / 7;
  std::string formula = "=";
  for (std::size_t i = 0; i < depth; ++i) formula += "IF(A1,";
  return formula + "0" + std::string(depth, ')');
}

// Bad usage, bad input and input that is no file: refused with the status and a message that
// shows control characters and broken bytes as escapes; nothing is written, no store is made. A
// hang (on a FIFO, on megabytes of formula) runs into the alarm or this program's time limit.
TEST_F(FormatCli, BadUsageIsRefusedAndTouchesNothing) {
  const fs::path book = folder_ / "Book.xlsx";
  testsupport::XlsxBuilder().Sheet("Sheet1", R"(<row r="1"><c r="A1"><f>SUM(1,2)</f></c></row>)").Write(book);
  const std::string original = ReadBytes(book);
  testsupport::WriteBytes(folder_ / "notes.xlsx", "just text\n");
  testsupport::WriteBytes(folder_ / "settings.txt", "=SUM(1)");
  testsupport::WriteBytes(folder_ / "old.xls", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(504, '\0'));
  testsupport::XlsxBuilder().Entry("mimetype", "application/vnd.oasis.opendocument.spreadsheet").Write(folder_ / "book.ods");
  ASSERT_EQ(mkfifo((folder_ / "fifo.xlsx").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", folder_ / "zero.xlsx");
  fs::create_directory(folder_ / "folder.xlsx");
  for (const char* readOnly : {"ro.xlsx", "ro-out.xlsx"})
    fs::copy_file(book, folder_ / readOnly), fs::permissions(folder_ / readOnly, fs::perms::owner_read);
  const auto at = [&](const char* name) { return (folder_ / name).string(); };
  const std::string b = book.string();
  struct Row {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string message;         // a part of what the program says
    bool beforeTheStore = true;  // refused before the settings are opened (and the store made)
  };
  std::vector<Row> rows = {
      {{"\x1B]0;title\x07"}, "", 2, "corvane: unknown command \"\\x1B]0;title\\x07\" (see corvane --help)\n"},
      {{"format", "--\x1B[2Jx\xFF"}, "", 2, "corvane format: unknown option --\\x1B[2Jx\\xFF\n"},
      {{"format", "--all-parens", "--no-all-parens", kIfSum}, "", 2, "parens"},
      {{"format", kIfSum, "=A1"}, "", 2, "corvane format: "},
      {{"format", "--separator"}, "", 2, "--separator"},
      {{"format"}, "=SUM((A1", 2, "does not accept", false},
      {{"unformat", "--bogus"}, "", 2, "unknown option --bogus"},
      {{"unformat", "=SUM((1)"}, "", 2, "does not accept"},
      {{"settings", "--always-notepad", "\xC2\x9B" "31m\xC3\xA9"}, "", 2,
       "corvane settings: --always-notepad takes on or off, not \"\\xC2\\x9B31m\xC3\xA9\"\n"},
      {{"format", "--fit-width", "32768", kIfSum}, "", 2, "--fit-width takes a width from 1 to 32767 or off"},
      {{"settings", "--fit-width", "-1"}, "", 2, "not \"-1\""},
      {{"format", b, "--all", "--fit-width", "wide"}, "", 2, "--fit-width takes a width from 1 to 32767 or off, not \"wide\""},
      {{"calibrate", "--font", ""}, "", 2, "--font needs a font name"},
      {{"calibrate", "now"}, "", 2, "takes no arguments"},
      {{"format", b, "Nowhere!A1"}, "", 2, "no worksheet named \"Nowhere\"", false},
      {{"unformat", b, "'\xD0\x85heet1'!A1"}, "", 2, "no worksheet named"},  // a Cyrillic Ѕ only looks alike
      {{"format", b, "Sheet1!A0"}, "", 2, "is not a cell or range", false},
      {{"format", b, "Sheet1!A1", "--all"}, "", 2, "--all takes no CELL"},
      {{"format", b}, "", 2, "expected CELL"},
      {{"format", b, "Sheet1!A1", "--mono"}, "", 2, "single formulas"},
      {{"format", b, "Sheet1!A1", "--separator", "a"}, "", 2, "--separator takes one character"},
      {{"format", b, "--all", "--separator", "+"}, "", 2, "cannot serve", false},
      {{"format", "--excel-version", "abc", kIfSum}, "", 2, "--excel-version takes a version that starts with its number"},
      {{"format", b, "--all", "--excel-version", ""}, "", 2, "--excel-version takes a version"},
      // A file is a workbook by its content: any other file is refused, never laid out as a formula.
      {{"format", at("notes.xlsx"), "Sheet1!A1"}, "", 2, "is not a workbook file (it is no ZIP package)"},
      {{"format", at("settings.txt")}, "", 2, "is not a workbook file (it is no ZIP package); it was not changed. corvane reads .xlsx, .xlsm"},
      {{"unformat", at("old.xls")}, "", 2, "is an old binary workbook (.xls)"},
      {{"format", at("book.ods"), "--all"}, "", 2, "is an OpenDocument file (such as .ods), not a workbook file; corvane reads .xlsx, .xlsm and their templates"},
      {{"format", folder_.path().string()}, "", 2, "is a folder, not a workbook file"},
      {{"format", at("missing.ods"), "--all"}, "", 2, "--all is for workbook files (.xlsx, .xlsm and their templates); there is no file"},
      {{"unformat", "=A1", "--output", b}, "", 2, "--output is for workbook files (.xlsx, .xlsm and their templates); \"=A1\" is a formula"},
      {{"format", at("missing.xlsx"), "Sheet1!A1"}, "", 1, "cannot be opened", false},
      {{"unformat", at("fifo.xlsx"), "S!A1"}, "", 1, "is a FIFO, not a workbook file"},
      {{"unformat", at("zero.xlsx"), "S!A1"}, "", 1, "is a character device, not a workbook file"},
      {{"unformat", at("folder.xlsx"), "S!A1"}, "", 1, "is a folder, not a workbook file"},
      // What --output names must be a regular file that may be written; so must a workbook
      // replaced in place, even for root, whom the system would let write it.
      {{"unformat", b, "--all", "--output", at("fifo.xlsx")}, "", 1, "is a FIFO; a workbook is written only to a regular file or a new name. Nothing was written."},
      {{"unformat", b, "--all", "--output", at("ro-out.xlsx")}, "", 1, "is read-only; it was not replaced."},
      {{"unformat", at("ro.xlsx"), "--all"}, "", 1, "is read-only; it was not replaced. Name another file with --output"},
  };
  for (const std::string separator : {"abc", "(", "]", "'", "\"", " ", "x", "7", "\xF0\x9F\x98\x80"})
    rows.push_back({{"format", "--separator", separator, kIfSum}, "", 2, "--separator takes one character that can part arguments"});
  // Formulas beyond the limit (Linux passes arguments up to 128 KiB), each way in once.
  const std::string huge = NestedFormula(10U << 20), refused = "the spreadsheet does not accept this text in a cell: "
                                                               "The formula is longer than the 8192 characters this version allows.\n";
  rows.insert(rows.end(), {{{"format"}, huge, 2, "corvane format: " + refused, false},
                           {{"unformat", NestedFormula(120'000)}, "", 2, "corvane unformat: " + refused}});
  // Bytes that are not UTF-8, named with their place: the ninth byte of the formula, the sixth
  // of the font's name.
  for (const auto& [bytes, reason] : std::vector<std::pair<std::string, std::string>>{
           {"\xFF", "a byte that cannot start a character"},
           {"\xC3(", "a character cut short"},
           {"\xC0\xAF", "an overlong encoding"},
           {"\xED\xA0\x80", "an encoded surrogate"},              // a lone high surrogate (CESU-8)
           {"\xED\xA0\xBD\xED\xB8\x80", "an encoded surrogate"},  // U+1F600 as CESU-8
           {"\xF4\x90\x80\x80", "a value beyond U+10FFFF"}}) {
    const std::string formula = "=SUM(A1," + bytes + ")", invalid = "the input is not valid UTF-8: " + reason + " at byte ";
    rows.insert(rows.end(), {{{"format"}, formula, 2, "corvane format: " + invalid + "9\n"},
                             {{"unformat", formula}, "", 2, "corvane unformat: " + invalid + "9\n"},
                             {{"calibrate", "--font", "Arial" + bytes}, "", 2, "corvane calibrate: --font: " + invalid + "6\n"}});
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args.back().substr(0, 60) + " | " + row.input.substr(0, 60));
    const CliResult r = folder_.Run(row.args, row.input, {}, [] { alarm(20); });
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
    EXPECT_TRUE(!row.beforeTheStore || !fs::exists(store_)) << "bad usage must not create the store";
    fs::remove(store_);
  }
  EXPECT_FALSE(fs::exists(file_));
  EXPECT_EQ(ReadBytes(book), original);
  EXPECT_EQ(ReadBytes(folder_ / "notes.xlsx"), "just text\n");
  EXPECT_EQ(fs::status(folder_ / "fifo.xlsx").type(), fs::file_type::fifo);
  EXPECT_EQ(ReadBytes(folder_ / "ro.xlsx") + ReadBytes(folder_ / "ro-out.xlsx"), original + original);
  EXPECT_EQ(fs::status(folder_ / "ro.xlsx").permissions(), fs::perms::owner_read);
  for (const auto& entry : fs::directory_iterator(folder_.path()))
    EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << "a temporary file is left";
}

// Every command's usage, however asked for, fits 80 columns and gives its options and exit
// statuses; every command takes --store, which wins over CORVANE_STORE where the command reads
// settings and is ignored (no file made) where it reads none.
TEST_F(FormatCli, EveryCommandHasItsUsageAndTakesTheStore) {
  const auto fits = [](const std::string& text) {
    std::istringstream lines(text);
    std::size_t widest = 0;
    for (std::string line; std::getline(lines, line);) widest = std::max(widest, line.size());
    return widest <= 80;
  };
  const CliResult version = Run({"--version"}), overview = Run({"--help"});
  EXPECT_TRUE(std::regex_search(version.out, std::regex("^corvane [0-9]+\\.[0-9]+\nSQLite 3\\.[0-9.]+\nFreeType 2\\.")))
      << version.out;
  EXPECT_EQ(Run({"version"}).out, version.out);
  EXPECT_TRUE(fits(overview.out) && overview.status == 0) << overview.out;
  const fs::path book = folder_ / "Book.xlsx", other = folder_ / "other.db";
  testsupport::XlsxBuilder().Sheet("Sheet1", R"(<row r="1"><c r="A1"><f>SUM(1,2)</f></c></row>)").Write(book);
  const std::string o = other.string();
  const std::vector<std::pair<std::string, std::vector<std::string>>> rows = {
      {"format", {"format", "--uncalibrated", "=A(1)", "--store", o}},
      {"unformat", {"unformat", "=A(\n 1)", "--store", o}},
      {"unformat", {"unformat", book.string(), "--all", "--store=" + o}},
      {"calibrate", {"calibrate", "--show", "--store", o}},  // nothing calibrated there: status 1
      {"settings", {"settings", "--store", o}},
      {"about", {"about", "--store", o}},
      {"help", {"help", "help-path", "--store", o}},
      {"help-path", {"help-path", "--store", o}},
      {"version", {"version", "--store", o}}};
  for (const auto& [command, withStore] : rows) {
    SCOPED_TRACE(withStore.front() + " " + withStore[1]);
    const CliResult help = Run({command, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: corvane " + command) && fits(help.out)) << help.out;
    EXPECT_NE(help.out.find("\n  --store PATH "), std::string::npos);
    EXPECT_NE(help.out.find("\nExit status:\n  0  "), std::string::npos);
    EXPECT_EQ(Run({command, "-h"}).out + Run({"help", command}).out, help.out + help.out);
    EXPECT_NE(overview.out.find("\n  " + command + " "), std::string::npos);
    const CliResult r = Run(withStore);
    EXPECT_EQ(r.status, command == "calibrate" ? 1 : 0) << r.err;
    const bool readsSettings = command == "format" || command == "calibrate" || command == "settings";
    EXPECT_EQ(fs::exists(other), readsSettings);
    EXPECT_FALSE(fs::exists(store_));
    fs::remove(other);
  }
}

// The text file goes to "tmp" and its path is printed; a link at its name, dangling or not, is
// replaced, never written through. With a desktop the file is handed to the opener, which the
// program does not wait for and which holds none of its standard streams.
TEST_F(FormatCli, NotepadWritesTheFileAndHandsItToTheOpenerOnADesktop) {
  MakeStore(store_);
  const fs::path log = folder_ / "opened.log";
  testsupport::WriteBytes(folder_ / "xdg-open", "#!/bin/sh\nprintf '%s|%s|%s|%s' \"$1\" \"$#\" \"$(readlink /proc/$$/fd/0)\" "
                                                "\"$(readlink /proc/$$/fd/1)\" > '" + log.string() + ".tmp'\nmv '" +
                                                log.string() + ".tmp' '" + log.string() + "'\nsleep 3\n");
  fs::permissions(folder_ / "xdg-open", fs::perms::owner_all);
  testsupport::WriteBytes(folder_ / "victim.txt", "keep");
  // The last run has no "tmp": the file goes to TMPDIR.
  for (const auto& [display, wayland, link] :
       {std::tuple{"", "", "victim.txt"}, std::tuple{":0", "", "elsewhere/made.txt"}, std::tuple{"", "wayland-0", ""}}) {
    SCOPED_TRACE(std::string(display) + wayland);
    fs::remove(log);
    fs::remove(file_);
    if (*link) fs::create_symlink(folder_ / link, file_);
    const auto start = std::chrono::steady_clock::now();
    const CliResult r = folder_.Run({"format", "--notepad", kIfSum}, "",
                                    {{"PATH", folder_.path().string() + ":" + std::getenv("PATH")},
                                     {"DISPLAY", display}, {"WAYLAND_DISPLAY", wayland},
                                     {"tmp", *wayland ? "" : folder_.path().string()}, {"TMPDIR", folder_.path().string()}});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "waited for the opener";
    EXPECT_EQ(r.out, file_.string() + "\n") << r.err;
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(file_)));
    // The file's text (the formatting command's) as UTF-8, its lines ended by carriage returns.
    EXPECT_TRUE(ReadBytes(file_).ends_with(".\r\n\r\n\r\n\r\n=IF(\r\n      A1,\r\n      SUM(\r\n            B1,\r\n            "
                                           "C1\r\n         ),\r\n      0\r\n   )\r\n   \r\n"));
    const bool desktop = *display || *wayland;
    for (int k = 0; k < 300 && desktop && !fs::exists(log); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ReadBytes(log), desktop ? file_.string() + "|1|/dev/null|/dev/null" : "");
  }
  EXPECT_EQ(ReadBytes(folder_ / "victim.txt"), "keep");
  EXPECT_FALSE(fs::exists(folder_ / "elsewhere"));
  for (const auto& entry : fs::directory_iterator(folder_.path()))
    EXPECT_FALSE(entry.path().filename().string().starts_with(".corvane-")) << "a temporary file is left";
  // The option held for those runs only.
  EXPECT_EQ(Contents(store_), "Always Send to Notepad=0; Format All Parens=1; Spacing_Calibri 766 from 2 | ok");
}

TEST_F(FormatCli, StoredOptionsApplyAndRunOptionsOverrideThem) {
  MakeStore(store_, "Arial");
  // The stored font needs no question; --uncalibrated answers them (every width one), storing nothing.
  EXPECT_EQ(Run({"format", "--font", "Arial", "--mono", kIfSum}).err, "");
  EXPECT_EQ(Run({"format", "--uncalibrated", "--mono", kIfSum}).out, kIfSumMono + "\n");
  EXPECT_EQ(CalibriPrefix(store_), 0);
  // A run option overrides the stored one (Format All Parens=1).
  EXPECT_EQ(Run({"format", "--font", "Arial", "--mono", "=SUM(A1*(B1+C1),2)"}).out,
            "=SUM(\n       A1*(\n             B1+C1\n          ),\n       2\n    )\n    \n");
  EXPECT_EQ(Run({"format", "--font", "Arial", "--mono", "--no-all-parens", "=SUM(A1*(B1+C1),2)"}).out,
            "=SUM(\n       A1*(B1+C1),\n       2\n    )\n    \n");
  // "Fit Width" stored, and off for one run.
  EXPECT_EQ(Run({"settings", "--fit-width", "20"}).out, "Format All Parens: on\nAlways Send to Notepad: off\nFit Width: 20\n");
  EXPECT_EQ(Run({"format", "--font", "Arial", "--mono", kIfSum}).out, std::string(kIfSum) + "\n");
  EXPECT_EQ(Run({"format", "--font", "Arial", "--mono", "--fit-width", "off", kIfSum}).out, kIfSumMono + "\n");
  EXPECT_EQ(Run({"settings", "--always-notepad", "on"}).status, 0);
  EXPECT_EQ(Run({"format", "--font", "Arial", "=SUM(A1)"}).out, file_.string() + "\n");
}

TEST_F(FormatCli, FirstUseWithoutATerminalCalibratesThenCalibrateAndListing) {
  CliResult run = Run({"format", kIfSum});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Corvane is not yet calibrated to your configuration. Calibrate now?"), std::string::npos) << run.err;
  EXPECT_EQ(CalibriPrefix(store_), 766);
  run = Run({"calibrate", "--font", "Arial"});
  ASSERT_EQ(run.status, 0) << run.err;
  // The notice, as the terminal shows it: its line breaks as lines.
  EXPECT_NE(run.err.find("Calibration done.\n\nYou should calibrate again whenever"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\n\nSee Corvane Help for more information.\n"), std::string::npos) << run.err;
  EXPECT_TRUE(run.out.starts_with("Calibrated Arial (Spacing_Arial in " + store_ + "); Arial is measured with ")) << run.out;
  // Control characters are listed by their code point, the others as themselves.
  const std::string show = Run({"calibrate", "--show", "--font", "Arial"}).out;
  EXPECT_EQ(std::count(show.begin(), show.end(), '\n'), 767);
  for (const char* line : {"2\tU+0002\t0\n", "\n32\t \t1\n", "\n159\tU+009F\t", "\n160\t\xC2\xA0\t", "\n767\t\xCB\xBF\t",
                           "\nArial: fully calibrated; Arial is measured with "})
    EXPECT_NE(show.find(line), std::string::npos) << line;
  // A font never calibrated (its own section, empty) is said so in one line, with status 1. One
  // that is not installed is named with the font measuring in its place before anything is stored.
  run = Run({"calibrate", "--show", "--font", "Cambria"});
  EXPECT_TRUE(run.status == 1 && run.out.empty() && run.err.starts_with("corvane calibrate: Cambria is not calibrated (") &&
              std::count(run.err.begin(), run.err.end(), '\n') == 1) << run.err;
  const std::string warning = "corvane calibrate: warning: the font \"Comic Nonsense\" is not installed; DejaVu Sans measures in "
                              "its place (the widths stored under \"Comic Nonsense\" are DejaVu Sans's)\n";
  run = Run({"calibrate", "--font", "Comic Nonsense"});
  EXPECT_TRUE(run.status == 0 && run.err.starts_with(warning) && run.err.find("Calibration done.") != std::string::npos) << run.err;
  EXPECT_EQ(Run({"format", "--font", "Comic Nonsense", kIfSum}).err, "corvane format" + warning.substr(17));
  EXPECT_EQ(Run({"calibrate", "--font", "Arial"}).err.find("warning"), std::string::npos);
}

// Ctrl-C cancels after the code being measured, without the closing notice, and keeps the codes
// saved before it (a killed writer's prefix is the store's own test).
TEST_F(FormatCli, CalibrationCancelledPartWayKeepsAReadablePrefix) {
  const CliResult r = folder_.Run({"calibrate"}, "", {}, nullptr, [&](pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while ((!fs::exists(store_) || CalibriPrefix(store_) < 20) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    kill(pid, SIGINT);
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.find("cancelled") != std::string::npos && r.err.find("Calibration done.") == std::string::npos) << r.err;
  const int saved = CalibriPrefix(store_);
  EXPECT_GE(saved, 20);
  EXPECT_EQ(Contents(store_), "Spacing_Calibri " + std::to_string(saved) + " from 2 | ok") << "nothing but the prefix";
  const std::string show = Run({"calibrate", "--show"}).out;
  EXPECT_NE(show.find("\tNot Found\nCalibri: not fully calibrated, first missing code " + std::to_string(saved + 2) + "; "),
            std::string::npos) << show.substr(show.size() - 200);
}

// Runs against a store that fails them, read-only or damaged (the refusals themselves are
// test_settings_store's), name the file, end with status 1 and leave it as it was.
TEST_F(FormatCli, AReadOnlyOrDamagedStoreIsNamedAndLeftAsItWas) {
  MakeStore(store_, "Arial", "0.5");
  const auto readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  fs::permissions(store_, readOnly);
  fs::permissions(folder_.path().parent_path(), fs::perms::all);
  // A read-only folder first: a writable one keeps the files of the write-ahead log.
  fs::permissions(folder_.path(), readOnly | fs::perms::owner_exec | fs::perms::others_exec);
  for (const std::string cannot : {"opened", "written", "read: database disk image is malformed.\n"}) {
    if (cannot == "written") fs::permissions(folder_.path(), fs::perms::all);
    if (cannot.starts_with("read")) {
      EXPECT_EQ(Contents(store_), "Always Send to Notepad=0; Format All Parens=1; Spacing_Arial 766 from 2 | ok");
      fs::permissions(store_, fs::perms::owner_all);
      std::fstream file(store_, std::ios::in | std::ios::out | std::ios::binary);
      file.seekp(4096);
      file << std::string(4096, 'U');  // a sound header over a destroyed table page
    }
    const std::string bytes = ReadBytes(store_);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"settings", "--always-notepad", "on"},
                                                 {"calibrate"}, {"format", "=SUM(A1,B1)"}, {"format", "--jsonl"}}) {
      SCOPED_TRACE(args.back() + ": " + cannot);
      // File modes do not hold root back, so the program then runs as nobody.
      const CliResult r = folder_.Run(args, "\"=SUM(A1)\"\n\"=T(1)\"\n", {}, cannot.starts_with("read") ? nullptr : +[] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(126);
      });
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_NE(r.err.find("The settings file " + store_ + " cannot be " + cannot), std::string::npos) << r.err;
      EXPECT_EQ(ReadBytes(store_), bytes);
      // A file refused when it is opened ends a batch before its first line; one that fails
      // later answers each line with the failure.
      const std::string answer = "{\"error\":\"The settings file " + store_ + " cannot be " + cannot;
      EXPECT_TRUE(args.back() != "--jsonl" || cannot != "written" ||
                  (r.out.starts_with(answer) && r.out.find("}\n" + answer) != std::string::npos &&
                   std::count(r.out.begin(), r.out.end(), '\n') == 2)) << r.out;
    }
  }
  // Removing a layout needs no settings: a damaged store is no obstacle.
  EXPECT_EQ(Run({"unformat", "=SUM(A1, B1)"}).out, "=SUM(A1,B1)\n");
}

// NUL, other C0 controls, DEL, a C1 control (U+0085) and the line separator U+2028, inside string
// literals and outside, reach the text file whole; the file, which is UTF-8, gets U+FFFD for a
// lone surrogate (which a JSON line carries as an escape).
TEST_F(FormatCli, NulControlCharactersAndLoneSurrogatesTravelWhole) {
  const std::string literal = std::string("\"a\0b\x01\x1B[2J\x7F", 10) + "\xC2\x85\xE2\x80\xA8\"";
  const std::string formula = "=CONCAT(" + literal + ",\"\t\r\",A1" + std::string(1, '\0') + ")";
  EXPECT_EQ(Run({"unformat"}, formula).out, formula + "\n");
  ASSERT_EQ(Run({"format", "--notepad", "--uncalibrated"}, formula).status, 0);
  EXPECT_NE(ReadBytes(file_).find("=CONCAT(\r\n          " + literal + ",\r\n          \"\t\r\",\r\n          A1" + std::string(1, '\0')),
            std::string::npos) << ReadBytes(file_);
  const CliResult r = Run({"format", "--jsonl", "--notepad", "--uncalibrated"}, "\"=T(\\ud800,\\u0000)\"\n");
  EXPECT_NE(r.out.find("\"file\":\"" + file_.string() + "\""), std::string::npos) << r.out << r.err;
  EXPECT_NE(ReadBytes(file_).find(std::string("=T(\r\n     \xEF\xBF\xBD,\r\n     \0\r\n", 19)), std::string::npos);
}

// A batch answers every line in its turn, whatever became of the others: a line that is no JSON
// string, not UTF-8 or refused by the spreadsheet answers with the reason, and the status says
// that lines failed. Each line has a cell of its own, so each layout too long for it a text file
// of its own; the batch holds one line at a time, so a long one needs no more memory.
TEST_F(FormatCli, BatchesAnswerEveryLineEachInItsOwnCell) {
  std::string deepest = NestedFormula(64 * 7 + 2);
  const std::string deep1 = deepest.insert(deepest.find('0'), 8192 - deepest.size(), '1');
  const std::string deep2 = std::string(deep1).replace(deep1.find('0') - 1, 1, "2");
  const std::string input = "\xEF\xBB\xBF\"=SUM(1,2)\"\n\"" + deep1 + "\"\n\"=A1+B1\"\n\"=SUM(\"\n=SUM(1)\n\"=T(\xFF)\"\n\"" +
                            deep2 + "\"\n\"=T(1)\"";
  MakeStore(store_);
  CliResult r = Run({"format", "--jsonl"}, input);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "corvane format: 3 of 8 lines failed; each answers {\"error\": ...} with the reason\n");
  const auto file = [&](int row) { return (folder_ / ("Book1 - Sheet1 - A" + std::to_string(row) + " - formatted formula.txt")).string(); };
  const std::vector<std::string> answers = {
      "{\"cell\":\"=SUM(\\n", "{\"cell\":\"" + deep1 + "\",\"file\":\"" + file(2) + "\"",
      "{\"cell\":\"=A1+B1\",\"file\":null,\"messages\":[\"Unable to format this cell.\"],\"reason\":",
      "{\"error\":\"the spreadsheet does not accept this text in a cell: ", "{\"error\":\"expected a JSON string in double quotes\"}",
      "{\"error\":\"the input is not valid UTF-8: a byte that cannot start a character at byte 5\"}",
      "{\"cell\":\"" + deep2 + "\",\"file\":\"" + file(7) + "\"", "{\"cell\":\"=T(\\n"};
  std::size_t at = 0;
  for (const std::string& answer : answers) {
    SCOPED_TRACE(answer.substr(0, 60));
    const std::size_t end = r.out.find('\n', at);
    ASSERT_NE(end, std::string::npos) << r.out.substr(at, 300);
    EXPECT_TRUE(r.out.substr(at, end - at).starts_with(answer)) << r.out.substr(at, 300);
    at = end + 1;
  }
  EXPECT_EQ(at, r.out.size());
  EXPECT_NE(ReadBytes(file(2)).find("110\r\n"), std::string::npos);
  EXPECT_NE(ReadBytes(file(7)).find("120\r\n"), std::string::npos);
  // Unformat goes on past a text that its cell refuses.
  r = Run({"unformat", "--jsonl"}, "\"=SUM(\\n 1)\"\n\"" + std::string(deep1).insert(5, "\\n   ") + "\"\n\"=A1 + 1\"\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "{\"cell\":\"=SUM(1)\"}\n{\"error\":\"the spreadsheet does not accept this text in a cell: The formula is longer than "
                   "the 8192 characters this version allows.\"}\n{\"cell\":\"=A1+1\"}\n");
  // Peak memory does not grow with the number of lines (200,000 took 9.9 MB, as 2,000 do); the
  // sanitizers hold freed memory back, so there the count alone is checked.
  std::string many;
  for (int k = 0; k < 20'000; ++k) many += "\"=SUM(A1,B1)\"\n";
  const CliResult big = Run({"format", "--jsonl", "--mono"}, many), small = Run({"format", "--jsonl", "--mono"}, many.substr(0, many.size() / 10));
  EXPECT_EQ(big.status + small.status, 0) << big.err << small.err;
  EXPECT_EQ(std::count(big.out.begin(), big.out.end(), '\n'), 20'000);
  if (!corpus::kSanitized) {
    EXPECT_LT(big.peakKilobytes, small.peakKilobytes + 512) << small.peakKilobytes;
  }
}

}  // namespace
}  // namespace corvane
