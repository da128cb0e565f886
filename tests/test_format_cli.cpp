// `corvane format` as a user runs it: the real program with a store file and a scratch folder for
// the text files; exit statuses, --mono, --jsonl and the options of one run.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/sqlite_store.h"
#include "support/files.h"
#include "support/run_cli.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::CliResult;

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed memory in quarantine: peak memory says nothing there.
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

const std::string kIfSum = "=IF(A1,SUM(B1,C1),0)";
const std::string kIfSumMono = "=IF(\n      A1,\n      SUM(\n            B1,\n            C1\n         ),\n      0\n   )\n   ";
const std::string kFileName = "Book1 - Sheet1 - A1 - formatted formula.txt";

class FormatCli : public ::testing::Test {
 protected:
  FormatCli() {
    std::string pattern = (fs::temp_directory_path() / "corvane-format-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    fs::create_directory(dir_ / "tmp");
  }
  ~FormatCli() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string Store() const { return (dir_ / "settings.db").string(); }
  fs::path Tmp() const { return dir_ / "tmp"; }

  // Every ordinary width of the font stored as one space, in one transaction (the store's own
  // saves are durable one by one, far too slow for 766 keys per test).
  void Calibrate(const std::string& font = "Calibri") {
    posix::SqliteStore(Store()).SaveSetting(u"Corvane", u"Settings", u"Created by", u"test");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Store().c_str(), &db), SQLITE_OK);
    std::string sql = "BEGIN;";
    for (int k = 2; k <= 767; ++k)
      sql += "INSERT INTO settings(app, section, key, value) VALUES('Corvane', 'Spacing_" + font + "', '" +
             std::to_string(k) + "', '1');";
    sql += "COMMIT;";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  void SetOption(std::u16string_view key, std::u16string_view value) {
    posix::SqliteStore(Store()).SaveSetting(u"Corvane", u"Settings", key, value);
  }

  CliResult Format(std::vector<std::string> args, const std::string& input = {}) {
    args.insert(args.begin(), {"format", "--store", Store()});
    // No desktop: nothing may be opened during the tests.
    return testing::RunCli(args, input, {{"tmp", Tmp().string()}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  }

  fs::path dir_;
};

TEST_F(FormatCli, LaysOutIntoTheCellFromArgumentOrStandardInput) {
  Calibrate();
  const CliResult fromArg = Format({kIfSum});
  EXPECT_EQ(fromArg.status, 0) << fromArg.err;
  EXPECT_EQ(fromArg.err, "");
  ASSERT_GT(fromArg.out.size(), kIfSum.size());
  EXPECT_EQ(fromArg.out.substr(0, 5), "=IF(\n");
  EXPECT_EQ(fromArg.out.back(), '\n');

  // One trailing line feed of the input is dropped; a second one would be part of the formula,
  // where laying it out takes it out again as the layout it had.
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"-"}}) {
    const CliResult fromStdin = Format(args, kIfSum + "\n");
    EXPECT_EQ(fromStdin.status, 0) << fromStdin.err;
    EXPECT_EQ(fromStdin.out, fromArg.out);
  }
  EXPECT_EQ(Format({}, kIfSum + "\n\n").out, fromArg.out);
  EXPECT_TRUE(fs::is_empty(Tmp()));
}

TEST_F(FormatCli, MessagesGoToStandardErrorWithStatusOne) {
  Calibrate();
  const CliResult noParen = Format({"=A1+B1"});
  EXPECT_EQ(noParen.status, 1);
  EXPECT_EQ(noParen.out, "=A1+B1\n");
  EXPECT_NE(noParen.err.find("Unable to format this cell."), std::string::npos) << noParen.err;

  const CliResult constant = Format({"--", "-net (draft)"});
  EXPECT_EQ(constant.status, 1);
  EXPECT_EQ(constant.out, "-net (draft)\n");

  const CliResult empty = Format({}, "\n");
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.out, "\n");
  EXPECT_NE(empty.err.find("No formula in cell."), std::string::npos) << empty.err;
}

TEST_F(FormatCli, BadUsageAndInvalidInputGiveStatusTwo) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--frobnicate", kIfSum},
           {"--all-parens", "--no-all-parens", kIfSum},
           {kIfSum, "=A1"},
           {"--jsonl", kIfSum},
           {"--separator"},
           {std::string("=SUM(\xC3(") + ")"},
       }) {
    const CliResult r = Format(args);
    EXPECT_EQ(r.status, 2) << args.front() << ": " << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err, "");
  }
  EXPECT_EQ(Format({}, "=SUM(\xED\xA0\x80)").status, 2);              // an encoded surrogate
  EXPECT_EQ(Format({"--jsonl"}, "\"=SUM(\xFF)\"\n").status, 2);       // inside a JSON string
  EXPECT_EQ(Format({"--jsonl"}, "\"=SUM(A1)\"\n=SUM(A1)\n").status, 2);  // not a JSON string
  EXPECT_FALSE(fs::exists(Store())) << "bad input must not create the store";
  const CliResult refused = Format({}, "=SUM((A1)");
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("does not accept"), std::string::npos) << refused.err;
}

TEST_F(FormatCli, MonoPrintsTheMonospacedLayoutAndWritesNothing) {
  Calibrate();
  const CliResult r = Format({"--mono", kIfSum});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kIfSumMono + "\n");
  EXPECT_TRUE(fs::is_empty(Tmp()));
}

// A formula nested 2,700 levels deep becomes 29 million characters of layout. Printed or
// written to the text file, the program's memory stays within three times that text's size in
// memory (two bytes a character) and a constant: no copy of it is made beyond the file's own
// text and its UTF-8 bytes.
TEST_F(FormatCli, MemoryStaysInProportionToTheLayout) {
  Calibrate();
  std::string deep = "=";
  for (int k = 0; k < 2700; ++k) deep += "A(";
  deep += "1" + std::string(2700, ')');
  constexpr long kConstant = 16L << 20;
  // The program's peak counts what this process holds when it starts the program.
  malloc_trim(0);
  const long start = testing::RunCli({"help-path"}).peakKilobytes * 1024L;

  CliResult r = Format({"--mono", "-"}, deep);
  ASSERT_EQ(r.status, 0) << r.err;
  const long textBytes = 2L * static_cast<long>(r.out.size() - 1);
  EXPECT_GT(textBytes, 55000000L);
  if (!kSanitized) {
    EXPECT_LE(r.peakKilobytes * 1024L - start, 3 * textBytes + kConstant) << r.peakKilobytes << " KiB at the peak";
  }
  // The file ends with the same layout, its lines ended by carriage return and line feed.
  std::string tail;
  for (const char c : std::string_view(r.out).substr(r.out.size() - 20001, 20000))
    tail += c == '\n' ? std::string("\r\n") : std::string(1, c);
  tail += "\r\n";
  r = CliResult();
  malloc_trim(0);

  r = Format({"--notepad", "-"}, deep);
  ASSERT_EQ(r.status, 0) << r.err;
  if (!kSanitized) {
    EXPECT_LE(r.peakKilobytes * 1024L - start, 3 * textBytes + kConstant) << r.peakKilobytes << " KiB at the peak";
  }
  EXPECT_TRUE(testsupport::ReadBytes(Tmp() / kFileName).ends_with(tail));
}

// An apostrophe inside brackets escapes one character, and a double quote inside a sheet name is
// text of the name: neither hides the syntax after the name from the layout.
TEST_F(FormatCli, EscapesInsideNamesLeaveTheRestOfTheFormulaLaidOut) {
  Calibrate();
  CliResult r = Format({"--mono", "=SUM(Table1['#Items],IF(A1,B1,C1))"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "=SUM(\n       Table1['#Items],\n       IF(\n            A1,\n            B1,\n            C1\n"
                   "         )\n    )\n    \n");
  r = Format({"--mono", "=T['#]*F(T['#])"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "=T['#]*F(\n           T['#]\n        )\n        \n");
  r = Format({"--mono", "='a\"b'!A1+SUM(1,2)"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "='a\"b'!A1+SUM(\n                1,\n                2\n             )\n             \n");
  r = Format({"--mono", "=SUM(Table1[[#This Row],['[Qty']]],IF(A1,B1))"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "=SUM(\n       Table1[[#This Row],['[Qty']]],\n       IF(\n            A1,\n            B1\n"
                   "         )\n    )\n    \n");
}

TEST_F(FormatCli, NotepadWritesTheFileToTmpAndPrintsItsPath) {
  Calibrate();
  const CliResult r = Format({"--notepad", kIfSum});
  EXPECT_EQ(r.status, 0) << r.err;
  const fs::path file = Tmp() / kFileName;
  EXPECT_EQ(r.out, file.string() + "\n");
  EXPECT_EQ(testsupport::ReadBytes(file),
            "Corvane is currently configured to always send the formatted formula to Notepad instead of formatting "
            "the formula in the cell.\r\n\r\nTo format formulas in their cells, go to Corvane Settings and uncheck "
            "\"Always Send to Notepad\".\r\n\r\n\r\n\r\n=IF(\r\n      A1,\r\n      SUM(\r\n            B1,\r\n   "
            "         C1\r\n         ),\r\n      0\r\n   )\r\n   \r\n");
  // The option held for that run only.
  posix::SqliteStore store(Store());
  EXPECT_EQ(store.GetSetting(u"Corvane", u"Settings", u"Always Send to Notepad", u"absent"), u"absent");

  // A symbolic link at the name is replaced, never written through.
  const fs::path victim = dir_ / "victim.txt";
  std::ofstream(victim) << "keep";
  fs::remove(file);
  fs::create_symlink(victim, file);
  EXPECT_EQ(Format({"--notepad", "=SUM(A1)"}).status, 0);
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(file)));
  EXPECT_EQ(testsupport::ReadBytes(victim), "keep");
  EXPECT_NE(testsupport::ReadBytes(file).find("=SUM(\r\n"), std::string::npos);
}

TEST_F(FormatCli, StoredOptionsApplyAndRunOptionsOverrideThem) {
  Calibrate();
  SetOption(u"Always Send to Notepad", u"1");
  SetOption(u"Format All Parens", u"1");
  EXPECT_EQ(Format({"--mono", "=SUM(A1*(B1+C1),2)"}).out,
            "=SUM(\n       A1*(\n             B1+C1\n          ),\n       2\n    )\n    \n");
  EXPECT_EQ(Format({"--mono", "--no-all-parens", "=SUM(A1*(B1+C1),2)"}).out,
            "=SUM(\n       A1*(B1+C1),\n       2\n    )\n    \n");
  EXPECT_EQ(Format({"=SUM(A1)"}).out, (Tmp() / kFileName).string() + "\n");

  EXPECT_EQ(Format({"--mono", "--separator", ";", "=IF(A1;B1,C1;2)"}).out,
            "=IF(\n      A1;\n      B1,C1;\n      2\n   )\n   \n");
}

TEST_F(FormatCli, TheVersionSetsTheLimitAndTheFileExplainsIt) {
  Calibrate();
  std::string formula = "=CONCATENATE(";
  for (int i = 1; i <= 60; ++i) formula += (i > 1 ? ",LEFT(A" : "LEFT(A") + std::to_string(i) + ",1)";
  formula += ")";
  EXPECT_EQ(Format({formula}).out.substr(0, 14), "=CONCATENATE(\n");

  const CliResult r = Format({"--excel-version", "11.0", formula});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, (Tmp() / kFileName).string() + "\n");
  const std::string text = testsupport::ReadBytes(Tmp() / kFileName);
  EXPECT_NE(text.find("This version of Excel allows a maximum of 1,024 characters in a formula."), std::string::npos);
  EXPECT_NE(text.find(" characters when formatted for Calibri font, or "), std::string::npos);
}

TEST_F(FormatCli, UncalibratedAndOtherFontsAnswerTheCalibrationQuestions) {
  Calibrate("Arial");
  // The stored font needs no question; --uncalibrated answers them, so every width is one.
  EXPECT_EQ(Format({"--font", "Arial", "--mono", kIfSum}).err, "");
  const CliResult r = Format({"--uncalibrated", "--mono", kIfSum});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kIfSumMono + "\n");
  posix::SqliteStore store(Store());
  EXPECT_EQ(store.GetSetting(u"Corvane", u"Spacing_Calibri", u"40", u"absent"), u"absent");
}

TEST_F(FormatCli, FirstUseWithoutATerminalStartsTheCalibration) {
  const CliResult r = Format({kIfSum}, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Corvane is not yet calibrated to your configuration. Calibrate now?"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Calibration done."), std::string::npos) << r.err;
  posix::SqliteStore store(Store());
  EXPECT_NE(store.GetSetting(u"Corvane", u"Spacing_Calibri", u"767", u"Not Found"), u"Not Found");
}

TEST_F(FormatCli, JsonlRunsEachFormulaOnAFreshCellAndReportsInOrder) {
  Calibrate();
  const std::string input = "\"" "=IF(A1,SUM(B1,C1),0)" "\"\n\"=A1+B1\"\n\"\"\n  \"=SUM(A1)\\n+1\"  \n";
  const CliResult cell = Format({"--jsonl"}, input);
  EXPECT_EQ(cell.status, 0) << cell.err;
  std::vector<std::string> lines;
  std::istringstream in(cell.out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4U) << cell.out;
  EXPECT_TRUE(lines[0].starts_with("{\"cell\":\"=IF(\\n")) << lines[0];
  EXPECT_NE(lines[0].find("\"file\":null,\"messages\":[]}"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1], "{\"cell\":\"=A1+B1\",\"file\":null,\"messages\":[\"Unable to format this cell.\"]}");
  EXPECT_EQ(lines[2], "{\"cell\":\"\",\"file\":null,\"messages\":[\"No formula in cell.\"]}");
  EXPECT_TRUE(lines[3].starts_with("{\"cell\":\"=SUM(\\n")) << lines[3];
  EXPECT_EQ(cell.err, "");

  const CliResult mono = Format({"--jsonl", "--mono"}, "\"" + kIfSum + "\"\n");
  EXPECT_EQ(mono.out,
            "{\"cell\":\"=IF(\\n      A1,\\n      SUM(\\n            B1,\\n            C1\\n         ),\\n      "
            "0\\n   )\\n   \",\"file\":null,\"messages\":[]}\n");

  const CliResult file = Format({"--jsonl", "--notepad"}, "\"" + kIfSum + "\"\n\"=A1\"\n");
  const std::string path = (Tmp() / kFileName).string();
  EXPECT_EQ(file.out, "{\"cell\":\"" + kIfSum + "\",\"file\":\"" + path +
                          "\",\"messages\":[]}\n{\"cell\":\"=A1\",\"file\":null,\"messages\":[\"Unable to format this "
                          "cell.\"]}\n");
  EXPECT_TRUE(fs::exists(path));
}

}  // namespace
}  // namespace corvane
