// Sheet names of a workbook as `corvane format|unformat BOOK.xlsx` matches them: without regard
// to case in every script that has cases.
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
