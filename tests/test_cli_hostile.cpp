// The program against hostile input: formulas of megabytes, bytes that are not UTF-8, NUL and
// control characters, and folders whose names hold spaces, line feeds or letters beyond ASCII.
// Bad input is refused with a clear message and status 2 before anything is written; a hang
// would run into the test's time limit (tests/CMakeLists.txt).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/run_cli.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::CliResult;
using testsupport::ReadBytes;

using Scratch = testing::CliFolder;

const std::string kFileName = "Book1 - Sheet1 - A1 - formatted formula.txt";

// =IF(A1,IF(A1,...)) nested to `bytes` characters or a little less, parentheses balanced.
std::string NestedFormula(std::size_t bytes) {
  const std::size_t depth = (bytes - 2) / 7;
  std::string formula = "=";
  for (std::size_t i = 0; i < depth; ++i) formula += "IF(A1,";
  return formula + "0" + std::string(depth, ')');
}

TEST(HostileCli, FormulasBeyondTheLimitAreRefusedAndTheLongestGoToAFile) {
  Scratch scratch;
  const std::string huge = NestedFormula(10U << 20);
  const std::string longArgument = NestedFormula(120'000);  // Linux passes arguments up to 128 KiB
  const std::string refused = "the spreadsheet does not accept this text in a cell: The formula is longer than the "
                              "8192 characters this version allows.\n";
  for (const std::string command : {"format", "unformat"}) {
    SCOPED_TRACE(command);
    for (const auto& [args, input, message] :
         {std::tuple{std::vector<std::string>{command}, huge, refused},
          std::tuple{std::vector<std::string>{command, longArgument}, std::string(), refused},
          std::tuple{std::vector<std::string>{command, "--jsonl"}, "\"" + huge + "\"\n", "line 1: " + refused}}) {
      const CliResult r = scratch.Run(args, input);
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, "corvane " + command + ": " + message);
    }
  }
  EXPECT_FALSE(fs::exists(scratch / kFileName));

  // A formula at the limit, nested as deep as it can be: its layout grows with the square of
  // the depth, far beyond the limit, and goes to the text file whole.
  const std::string deepest = NestedFormula(8192);
  const CliResult r = scratch.Run({"format", "--uncalibrated"}, deepest);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, (scratch / kFileName).string() + "\n");
  const std::string text = ReadBytes(scratch / kFileName);
  EXPECT_TRUE(text.starts_with("Unable to enter this formatted formula into Excel, because it has too many characters."));
  // The laid-out formula is the input with only line breaks and spaces added.
  std::string squeezed;
  for (const char c : text.substr(text.find("\r\n\r\n\r\n\r\n", text.find("Excel 2003 and earlier"))))
    if (c != ' ' && c != '\r' && c != '\n') squeezed.push_back(c);
  EXPECT_EQ(squeezed, deepest);
}

TEST(HostileCli, InvalidUtf8IsRefusedWithItsPlaceAndNothingIsWritten) {
  const std::vector<std::pair<std::string, std::string>> sequences = {
      {"\xFF", "a byte that cannot start a character"},
      {"\x80", "a byte that cannot start a character"},
      {"\xF8\x88\x80\x80\x80", "a byte that cannot start a character"},
      {"\xC3(", "a character cut short"},
      {"\xE2\x82", "a character cut short"},
      {"\xC0\xAF", "an overlong encoding"},
      {"\xE0\x80\xAF", "an overlong encoding"},
      {"\xED\xA0\x80", "an encoded surrogate"},              // a lone high surrogate (CESU-8)
      {"\xED\xB0\x80", "an encoded surrogate"},              // a lone low surrogate
      {"\xED\xA0\xBD\xED\xB8\x80", "an encoded surrogate"},  // U+1F600 as CESU-8
      {"\xF4\x90\x80\x80", "a value beyond U+10FFFF"},
  };
  for (const auto& [bytes, reason] : sequences) {
    SCOPED_TRACE(reason);
    Scratch scratch;
    // The bad sequence is the ninth byte of the formula, the tenth of its JSON line.
    const std::string formula = "=SUM(A1," + bytes + ")";
    const std::string invalid = "the input is not valid UTF-8: " + reason + " at byte ";
    const std::vector<std::tuple<std::vector<std::string>, std::string, std::string>> cases = {
        {{"format"}, formula, "corvane format: " + invalid + "9\n"},
        {{"format", formula}, "", "corvane format: " + invalid + "9\n"},
        {{"format", "--jsonl"}, "\"=1\"\n\"" + formula + "\"\n", "corvane format: line 2: " + invalid + "10\n"},
        {{"unformat"}, formula, "corvane unformat: " + invalid + "9\n"},
        {{"unformat", formula}, "", "corvane unformat: " + invalid + "9\n"},
        {{"format", "--font", "Arial" + bytes, "=SUM(A1)"}, "", "corvane format: --font: " + invalid + "6\n"},
        {{"calibrate", "--font", "Arial" + bytes}, "", "corvane calibrate: --font: " + invalid + "6\n"},
    };
    for (const auto& [args, input, message] : cases) {
      const CliResult r = scratch.Run(args, input);
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.err, message);
      EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(fs::is_empty(scratch.path())) << "neither a store nor a text file";
  }
}

TEST(HostileCli, NulControlCharactersAndLoneSurrogatesTravelWhole) {
  Scratch scratch;
  // NUL, other C0 controls, DEL, a C1 control (U+0085) and the line separator U+2028, inside
  // string literals and outside: nothing may cut the text short or drop a character.
  const std::string literal = std::string("\"a\0b\x01\x1B[2J\x7F", 10) + "\xC2\x85\xE2\x80\xA8\"";
  const std::string formula = "=CONCAT(" + literal + ",\"\t\r\",A1" + std::string(1, '\0') + ")";
  CliResult r = scratch.Run({"unformat"}, formula);
  EXPECT_EQ(r.out, formula + "\n") << r.err;

  const fs::path file = scratch / kFileName;
  r = scratch.Run({"format", "--notepad", "--uncalibrated"}, formula);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string text = ReadBytes(file);
  EXPECT_NE(text.find("=CONCAT(\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find(literal), std::string::npos) << "the literal, NUL and all, in one piece";
  EXPECT_NE(text.find(std::string("A1\0", 3)), std::string::npos);

  // JSON lines carry NUL and lone surrogates as escapes; the text file, which is UTF-8, gets
  // U+FFFD for a lone surrogate.
  r = scratch.Run({"format", "--jsonl", "--notepad", "--uncalibrated"}, "\"=T(\\ud800,\\u0000)\"\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"file\":\"" + file.string() + "\""), std::string::npos) << r.out;
  text = ReadBytes(file);
  EXPECT_NE(text.find(std::string("\xEF\xBF\xBD,\r\n", 6)), std::string::npos);
  EXPECT_NE(text.find(std::string("\0\r\n", 3)), std::string::npos);
}

TEST(HostileCli, FoldersWithSpacesLineFeedsAndOtherLettersHoldStoreAndTextFile) {
  // The last is Latin-1, not UTF-8: file names are bytes, and these must come back unchanged.
  for (const std::string name : {"with space", "line\nfeed", "\xC3\x9Cn\xC3\xAF \xE6\x97\xA5\xE6\x9C\xAC", "caf\xE9"}) {
    SCOPED_TRACE(name);
    const Scratch scratch(name);
    ASSERT_EQ(scratch.Run({"settings", "--always-notepad", "on"}).status, 0);
    // The stored option sends the layout to a file in "tmp", else in TMPDIR, whose path is
    // printed byte for byte; a folder that is not there is named in the message.
    for (const auto& [tmp, out] : {std::pair{scratch.path().string(), (scratch / kFileName).string()},
                                   std::pair{std::string(), (scratch / kFileName).string()},
                                   std::pair{(scratch / "missing").string(), std::string("=SUM(A1,B1)")}}) {
      fs::remove(scratch / kFileName);
      const CliResult r = scratch.Run({"format", "--uncalibrated", "=SUM(A1,B1)"}, "", {{"tmp", tmp}, {"TMPDIR", scratch.path().string()}});
      EXPECT_EQ(r.out, out + "\n") << r.err;
      EXPECT_TRUE(r.status == 0 ? r.err.empty()
                                : r.err.starts_with("corvane format: Cannot write /") &&
                                      r.err.ends_with("/missing/" + kFileName + ": No such file or directory; the cell was left as it was\n"))
          << r.err;
      EXPECT_EQ(ReadBytes(scratch / kFileName).find("=SUM(\r\n") != std::string::npos, r.status == 0);
    }
  }
}

}  // namespace
}  // namespace corvane
