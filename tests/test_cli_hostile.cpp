// The program against hostile input: formulas of megabytes, bytes that are not UTF-8, NUL and
// control characters, and folders whose names hold spaces, line feeds or letters beyond ASCII.
// Bad input is refused with a clear message and status 2 before anything is written; a hang
// would run into the test's time limit (tests/CMakeLists.txt).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/run_cli.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::CliResult;

// The place the text files go and the store file, in a scratch folder named `name`.
class Scratch {
 public:
  explicit Scratch(const std::string& name = "folder") {
    std::string pattern = (fs::temp_directory_path() / "corvane-hostile-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    folder_ = root_ / name;
    fs::create_directory(folder_);
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const fs::path& folder() const { return folder_; }
  std::string store() const { return (folder_ / "set tings.db").string(); }

  // The program with this folder as "tmp" and no desktop to open anything on.
  CliResult Run(const std::vector<std::string>& args, const std::string& input = {}) const {
    return testing::RunCli(args, input, {{"tmp", folder_.string()}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  }

 private:
  fs::path root_;
  fs::path folder_;
};

const std::string kLimitMessage = "The formula is longer than the 8192 characters this version allows.";
const std::string kFileName = "Book1 - Sheet1 - A1 - formatted formula.txt";

// =IF(A1,IF(A1,...)) nested to `bytes` characters or a little less, parentheses balanced.
std::string NestedFormula(std::size_t bytes) {
  const std::size_t depth = (bytes - 2) / 7;
  std::string formula = "=";
  for (std::size_t i = 0; i < depth; ++i) formula += "IF(A1,";
  formula += "0";
  formula.append(depth, ')');
  return formula;
}

TEST(HostileCli, FormulasBeyondTheLimitAreRefusedAndTheLongestGoToAFile) {
  Scratch scratch;
  const std::string huge = NestedFormula(10U << 20);
  ASSERT_GT(huge.size(), 10'000'000U);
  const std::string hugeJson = "\"" + huge + "\"\n";
  // The longest argument Linux passes is 128 KiB.
  const std::string longArgument = NestedFormula(120'000);

  struct Case {
    const char* what;
    std::vector<std::string> args;
    const std::string& input;
    std::string prefix;
  };
  const std::string none;
  const std::vector<Case> cases = {
      {"format, standard input", {"format", "--store", scratch.store()}, huge, ""},
      {"format, argument", {"format", "--store", scratch.store(), longArgument}, none, ""},
      {"format, JSON line", {"format", "--jsonl", "--store", scratch.store()}, hugeJson, "line 1: "},
      {"unformat, standard input", {"unformat"}, huge, ""},
      {"unformat, argument", {"unformat", longArgument}, none, ""},
      {"unformat, JSON line", {"unformat", "--jsonl"}, hugeJson, "line 1: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const CliResult r = scratch.Run(c.args, c.input);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    const std::string command = c.args.front();
    EXPECT_EQ(r.err, "corvane " + command + ": " + c.prefix +
                         "the spreadsheet does not accept this text in a cell: " + kLimitMessage + "\n");
  }
  EXPECT_FALSE(fs::exists(scratch.folder() / kFileName));

  // A formula at the limit, nested as deep as it can be: its layout grows with the square of
  // the depth, far beyond the limit, and goes to the text file whole.
  std::string deepest = NestedFormula(8192);
  ASSERT_LE(deepest.size(), 8192U);
  const CliResult r = scratch.Run({"format", "--uncalibrated", "--store", scratch.store()}, deepest);
  ASSERT_EQ(r.status, 0) << r.err;
  const fs::path file = scratch.folder() / kFileName;
  EXPECT_EQ(r.out, file.string() + "\n");
  const std::string text = testsupport::ReadBytes(file);
  EXPECT_EQ(text.rfind("Unable to enter this formatted formula into Excel, because it has too many characters.", 0), 0U);
  // The laid-out formula is the input with only line breaks and spaces added.
  const std::string marker = "\r\n\r\n\r\n\r\n";
  const std::size_t body = text.find(marker, text.find("Excel 2003 and earlier"));
  ASSERT_NE(body, std::string::npos);
  std::string squeezed;
  for (std::size_t i = body + marker.size(); i < text.size(); ++i)
    if (text[i] != ' ' && text[i] != '\r' && text[i] != '\n') squeezed.push_back(text[i]);
  EXPECT_EQ(squeezed, deepest);
}

TEST(HostileCli, InvalidUtf8IsRefusedWithItsPlaceAndNothingIsWritten) {
  struct Sequence {
    const char* bytes;
    const char* reason;
  };
  const std::vector<Sequence> sequences = {
      {"\xFF", "a byte that cannot start a character"},
      {"\x80", "a byte that cannot start a character"},
      {"\xF8\x88\x80\x80\x80", "a byte that cannot start a character"},
      {"\xC3(", "a character cut short"},
      {"\xE2\x82", "a character cut short"},
      {"\xC0\xAF", "an overlong encoding"},
      {"\xE0\x80\xAF", "an overlong encoding"},
      {"\xED\xA0\x80", "an encoded surrogate"},  // a lone high surrogate (CESU-8)
      {"\xED\xB0\x80", "an encoded surrogate"},  // a lone low surrogate
      {"\xED\xA0\xBD\xED\xB8\x80", "an encoded surrogate"},  // U+1F600 as CESU-8
      {"\xF4\x90\x80\x80", "a value beyond U+10FFFF"},
  };
  for (const Sequence& s : sequences) {
    Scratch scratch;
    // The bad sequence is the ninth byte of the formula, the tenth of its JSON line.
    const std::string formula = std::string("=SUM(A1,") + s.bytes + ")";
    const std::string json = "\"" + formula + "\"\n";
    const std::string at9 = std::string(s.reason) + " at byte 9\n";
    struct Case {
      std::vector<std::string> args;
      std::string input;
      std::string message;
    };
    const std::vector<Case> cases = {
        {{"format", "--store", scratch.store()}, formula, "corvane format: the input is not valid UTF-8: " + at9},
        {{"format", "--store", scratch.store(), formula}, "", "corvane format: the input is not valid UTF-8: " + at9},
        {{"format", "--jsonl", "--store", scratch.store()},
         "\"=1\"\n" + json,
         "corvane format: line 2: the input is not valid UTF-8: " + std::string(s.reason) + " at byte 10\n"},
        {{"unformat"}, formula, "corvane unformat: the input is not valid UTF-8: " + at9},
        {{"unformat", formula}, "", "corvane unformat: the input is not valid UTF-8: " + at9},
        {{"format", "--font", std::string("Arial") + s.bytes, "--store", scratch.store(), "=SUM(A1)"},
         "",
         "corvane format: --font: the input is not valid UTF-8: " + std::string(s.reason) + " at byte 6\n"},
        {{"calibrate", "--font", std::string("Arial") + s.bytes, "--store", scratch.store()},
         "",
         "corvane calibrate: --font: the input is not valid UTF-8: " + std::string(s.reason) + " at byte 6\n"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.message);
      const CliResult r = scratch.Run(c.args, c.input);
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.err, c.message);
      EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(fs::is_empty(scratch.folder())) << "neither a store nor a text file";
  }
}

TEST(HostileCli, NulControlCharactersAndLoneSurrogatesTravelWhole) {
  Scratch scratch;
  // NUL, other C0 controls, DEL, a C1 control (U+0085) and the line separator U+2028, inside
  // string literals and outside: nothing may cut the text short or drop a character.
  const std::string literal = std::string("\"a\0b\x01\x1B[2J\x7F", 10) + "\xC2\x85\xE2\x80\xA8\"";
  const std::string formula = "=CONCAT(" + literal + ",\"\t\r\",A1" + std::string(1, '\0') + ")";

  CliResult r = scratch.Run({"unformat"}, formula);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, formula + "\n");

  r = scratch.Run({"format", "--notepad", "--uncalibrated", "--store", scratch.store()}, formula);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = testsupport::ReadBytes(scratch.folder() / kFileName);
  EXPECT_NE(text.find("=CONCAT(\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find(literal), std::string::npos) << "the literal, NUL and all, in one piece";
  EXPECT_NE(text.find(std::string("A1\0", 3)), std::string::npos);

  // JSON lines carry NUL and lone surrogates as escapes, both ways; the text file, which is
  // UTF-8, gets U+FFFD for a lone surrogate.
  r = scratch.Run({"unformat", "--jsonl"}, "\"=SUM(A1, \\u0000)\"\n\"=T(\\ud800) & \\udc00\"\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "{\"cell\":\"=SUM(A1,\\u0000)\"}\n{\"cell\":\"=T(\\ud800)&\\udc00\"}\n");
  r = scratch.Run({"format", "--jsonl", "--notepad", "--uncalibrated", "--store", scratch.store()},
                  "\"=T(\\ud800,\\u0000)\"\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"file\":\"" + (scratch.folder() / kFileName).string() + "\""), std::string::npos) << r.out;
  EXPECT_NE(testsupport::ReadBytes(scratch.folder() / kFileName).find(std::string("\xEF\xBF\xBD,\r\n", 6)), std::string::npos);
  EXPECT_NE(testsupport::ReadBytes(scratch.folder() / kFileName).find(std::string("\0\r\n", 3)), std::string::npos);
}

TEST(HostileCli, FoldersWithSpacesLineFeedsAndOtherLettersHoldStoreAndTextFile) {
  // The last is Latin-1, not UTF-8: file names are bytes, and these must come back unchanged.
  for (const std::string name : {"with space", "line\nfeed", "\xC3\x9Cn\xC3\xAF \xE6\x97\xA5\xE6\x9C\xAC", "caf\xE9"}) {
    SCOPED_TRACE(name);
    Scratch scratch(name);
    CliResult r = scratch.Run({"settings", "--always-notepad", "on", "--store", scratch.store()});
    ASSERT_EQ(r.status, 0) << r.err;
    r = scratch.Run({"settings", "--store", scratch.store()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Always Send to Notepad: on"), std::string::npos) << r.out;

    // The stored option sends the layout to a file in "tmp", whose path is printed byte for byte.
    const fs::path file = scratch.folder() / kFileName;
    r = scratch.Run({"format", "--uncalibrated", "--store", scratch.store(), "=SUM(A1,B1)"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, file.string() + "\n");
    EXPECT_NE(testsupport::ReadBytes(file).find("=SUM(\r\n"), std::string::npos);
    fs::remove(file);

    // Without "tmp", TMPDIR names the folder.
    r = testing::RunCli({"format", "--uncalibrated", "--store", scratch.store(), "=SUM(A1,B1)"}, "",
                        {{"tmp", ""}, {"TMPDIR", scratch.folder().string()}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, file.string() + "\n");
    EXPECT_TRUE(fs::exists(file));

    // A folder that is not there: the message names the file that could not be written.
    r = testing::RunCli({"format", "--uncalibrated", "--store", scratch.store(), "=SUM(A1,B1)"}, "",
                        {{"tmp", (scratch.folder() / "missing").string()}, {"DISPLAY", ""}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "=SUM(A1,B1)\n");
    EXPECT_EQ(r.err.rfind("corvane format: Cannot write /", 0), 0U) << r.err;
    EXPECT_NE(r.err.find("/missing/" + kFileName + ": No such file or directory; the cell was left as it was\n"),
              std::string::npos)
        << r.err;
  }
}

TEST(HostileCli, MessagesShowControlCharactersAndBrokenBytesAsEscapes) {
  struct Case {
    std::vector<std::string> args;
    std::string input;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"format", "--\x1B[2Jx\xFF"}, "", "corvane format: unknown option --\\x1B[2Jx\\xFF\n"},
      {{"\x1B]0;title\x07"}, "", "corvane: unknown command \"\\x1B]0;title\\x07\" (see corvane --help)\n"},
      {{"settings", "--always-notepad", "\xC2\x9B" "31m\xC3\xA9"},
       "",
       "corvane settings: --always-notepad takes on or off, not \"\\xC2\\x9B31m\xC3\xA9\"\n"},
      {{"unformat", "--jsonl"}, "\"a\\\x1B\"\n", "corvane unformat: line 1: unknown escape \\\\x1B in a JSON string\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const CliResult r = testing::RunCli(c.args, c.input);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, c.message);
  }
}

}  // namespace
}  // namespace corvane
