// What `corvane format|unformat BOOK.xlsx` says about a workbook's content: names from the file
// reach the terminal escaped, a text file that cannot be written is named with the reason, and
// sheet names are matched without regard to case in every script.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/run_cli.h"
#include "support/xlsx_builder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::RunCli;
using testsupport::FormulasOf;
using testsupport::TempFolder;
using testsupport::XlsxBuilder;

// Control characters other than the line feed, in any encoding the terminal acts on (C0, DEL,
// C1 as UTF-8).
bool DrivesTheTerminal(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if ((b < 0x20 && b != '\n') || b == 0x7F) return true;
    if (b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(text[i + 1]) <= 0x9F)
      return true;
  }
  return false;
}

// The builder's entries with the text `from` of the workbook part replaced by `to` (raw XML,
// such as character references the builder would escape).
std::vector<std::pair<std::string, std::string>> WithWorkbookXml(const XlsxBuilder& book, const std::string& from,
                                                                 const std::string& to) {
  auto entries = book.Entries();
  for (auto& [name, content] : entries) {
    if (name != "xl/workbook.xml") continue;
    const auto at = content.find(from);
    EXPECT_NE(at, std::string::npos);
    if (at != std::string::npos) content.replace(at, from.size(), to);
  }
  return entries;
}

constexpr const char* kHostile = "A&#27;]0;PWNED&#7;&#27;[2J&#155;";

TEST(XlsxCliMessages, NamesFromTheWorkbookReachTheTerminalEscaped) {
  TempFolder folder;
  const fs::path book = folder / "Book.xlsx";
  // A formula without parentheses is skipped and named; a long one goes to a text file named
  // after the sheet.
  const XlsxBuilder builder = XlsxBuilder().Sheet(
      "PLACEHOLDER",
      R"(<row r="1"><c r="A1"><f>A2+A3</f><v>0</v></c><c r="B1"><f>SUM(1,MAX(2,3))</f><v>3</v></c></row>)");
  testsupport::WriteZip(book, WithWorkbookXml(builder, "PLACEHOLDER", kHostile));
  const std::string shown = R"('A\x1B]0;PWNED\x07\x1B[2J\xC2\x9B')";
  const std::string store = "--store=" + (folder / "s.db").string();

  auto r = RunCli({"format", book.string(), "--all", "--uncalibrated", "--notepad", store});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(DrivesTheTerminal(r.out + r.err)) << r.out << r.err;
  EXPECT_NE(r.out.find("  " + shown + "!A1: skipped: Unable to format this cell.\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  " + shown + "!B1: sent to "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("/Book.xlsx - A\\x1B]0;PWNED\\x07\\x1B[2J\\xC2\\x9B - B1 - formatted formula.txt\n"),
            std::string::npos)
      << r.out;

  // Errors quoting the file: a sheet without its part, an entry named twice.
  auto entries = WithWorkbookXml(builder, "PLACEHOLDER", kHostile);
  for (auto& [name, content] : entries)
    if (name == "xl/workbook.xml") content.replace(content.find(R"(r:id="rId1")"), 11, R"(r:id="rId9")");
  testsupport::WriteZip(book, entries);
  r = RunCli({"unformat", book.string(), "--all"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the sheet \"" + shown.substr(1, shown.size() - 2) + "\" has no part"), std::string::npos)
      << r.err;
  EXPECT_FALSE(DrivesTheTerminal(r.err)) << r.err;

  entries = XlsxBuilder().Sheet("S", "").Entries();
  entries.emplace_back("x/\x1B]0;T\x07.xml", "a");
  entries.emplace_back("X/\x1B]0;T\x07.xml", "b");
  testsupport::WriteZip(book, entries);
  r = RunCli({"unformat", book.string(), "--all"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("holds the entry \"X/\\x1B]0;T\\x07.xml\" twice"), std::string::npos) << r.err;
  EXPECT_FALSE(DrivesTheTerminal(r.err)) << r.err;
}

TEST(XlsxCliMessages, ATextFileThatCannotBeWrittenIsNamedWithTheReason) {
  TempFolder folder;
  const std::string store = "--store=" + (folder / "s.db").string();
  const std::string cells = R"(<row r="1"><c r="A1"><f>SUM(1,MAX(2,3))</f><v>3</v></c></row>)";
  struct Case {
    std::string book;
    std::string sheet;
    std::string file;    // the text file's name
    std::string reason;  // the end of the message
  };
  const std::string longBook(220, 'b');
  const std::vector<Case> cases = {
      {"Slash.xlsx", "a/b", "Slash.xlsx - a/b - A1 - formatted formula.txt", "which a file name cannot hold"},
      {longBook + ".xlsx", "Sheet1", longBook + ".xlsx - Sheet1 - A1 - formatted formula.txt", ": File name too long"},
      {"Folder.xlsx", "Sheet1", "Folder.xlsx - Sheet1 - A1 - formatted formula.txt", ": Is a directory"},
  };
  fs::create_directory(folder / cases[2].file);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sheet);
    const fs::path book = folder / c.book;
    XlsxBuilder().Sheet(c.sheet, cells).Write(book);
    const auto r = RunCli({"format", book.string(), "--all", "--uncalibrated", "--notepad", store});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("!A1: skipped: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(c.file), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(c.reason + "\n"), std::string::npos) << r.out;
  }
  for (const auto& name : folder.Files()) EXPECT_EQ(name.find(".corvane-"), std::string::npos) << name;
}

TEST(XlsxCliMessages, SheetNamesMatchWithoutRegardToCaseInEveryScript) {
  TempFolder folder;
  const fs::path book = folder / "Book.xlsx";
  const std::string cells = R"(<row r="1"><c r="A1"><f>SUM(1,MAX(2,3))</f><v>3</v></c></row>)";
  const std::vector<std::pair<std::string, std::string>> names = {
      {"bücher €", "BÜCHER €"},        // Latin-1 Supplement
      {"łódź ĳ", "ŁÓDŹ Ĳ"},            // Latin Extended-A
      {"σοφία ς", "ΣΟΦΊΑ Σ"},          // Greek, final sigma
      {"москва", "МОСКВА"},            // Cyrillic
      {"երևան", "ԵՐևԱՆ"},              // Armenian
      {"ｅｘｃｅｌ", "ＥＸＣＥＬ"},  // full-width Latin
  };
  XlsxBuilder builder;
  for (const auto& [name, upper] : names) builder.Sheet(name, cells);
  builder.Write(book);
  for (const auto& [name, upper] : names) {
    SCOPED_TRACE(upper);
    const auto r = RunCli({"unformat", book.string(), "'" + upper + "'!A1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("0 formulas unformatted, 1 already without layout"), std::string::npos) << r.out;
  }
  // Two sheets whose names differ only in case are one name too many.
  XlsxBuilder().Sheet("σοφία", cells).Sheet("ΣΟΦΊΑ", cells).Write(book);
  const auto r = RunCli({"unformat", book.string(), "--all"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("two sheets have the same name"), std::string::npos) << r.err;
  // Letters that only look alike stay apart.
  XlsxBuilder().Sheet("Sheet1", cells).Write(book);
  EXPECT_EQ(RunCli({"unformat", book.string(), "'Ѕheet1'!A1"}).status, 2);  // Cyrillic Ѕ
  EXPECT_EQ(FormulasOf(book).size(), 1U);
}

}  // namespace
}  // namespace corvane
