// A second spreadsheet program as the judge: LibreOffice computes the values of a workbook it
// wrote itself before and after `corvane format --all`, which must be the same, with the cached
// values the file keeps, and unformat gives back every part byte for byte.
// Skipped (with a message) where LibreOffice is not installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/run_cli.h"
#include "support/xlsx_builder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testsupport::TempFolder;
using testsupport::XlsxBuilder;

std::string Office() {
  for (const char* name : {"soffice", "libreoffice"})
    if (std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0) return name;
  return "";
}
constexpr const char* kNoOffice = "LibreOffice is not installed (apt-get install libreoffice-calc); not checked";

// Converts the files with LibreOffice into `format` (a filter with options) in `out`; with
// `recalculate`, LibreOffice computes every formula on loading instead of taking the file's values.
void Convert(const std::string& office, const TempFolder& folder, const std::string& format,
             const std::vector<fs::path>& files, const fs::path& out, bool recalculate = false) {
  const fs::path profile = folder / (recalculate ? "recalculating" : "profile");
  fs::create_directories(profile / "user");
  testsupport::WriteBytes(profile / "user" / "registrymodifications.xcu",
                          R"(<?xml version="1.0" encoding="UTF-8"?><oor:items xmlns:oor="http://openoffice.org/2001/registry">)"
                          R"(<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="OOXMLRecalcMode" oor:op="fuse">)"
                          "<value>" + std::string(recalculate ? "0" : "1") + "</value></prop></item></oor:items>");
  std::string command = "cd '" + folder.path().string() + "' && HOME='" + folder.path().string() + "' timeout 300 " + office +
                        " --headless --norestore --nologo -env:UserInstallation=file://" + profile.string() +
                        " --convert-to '" + format + "' --outdir '" + out.string() + "'";
  for (const auto& f : files) command += " '" + f.string() + "'";
  command += " >'" + (folder / "office.log").string() + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << testsupport::ReadBytes(folder / "office.log");
}

// Every sheet as comma-separated values of the computed results, one file per sheet.
constexpr const char* kCsvAllSheets = "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1";

XlsxBuilder Workbook() {
  XlsxBuilder book;
  book.Sheet("Sheet1",
             R"x(<row r="1"><c r="A1"><v>4</v></c><c r="B1"><v>10</v></c><c r="C1"><f>SUM(A1:B1,IF(A1&gt;3,MAX(A1,B1*2),0))</f><v>34</v></c><c r="D1" t="inlineStr"><is><t>=SUM(1, 2)</t></is></c></row>)x"
             R"x(<row r="2"><c r="A2"><v>7</v></c><c r="B2"><v>1.5</v></c><c r="C2" t="str"><f>IF(AND(A2&gt;5,B2&lt;2),"yes, (really)",CONCATENATE("n","o"))</f><v>yes, (really)</v></c></row>)x"
             R"x(<row r="3"><c r="A3"><v>2</v></c><c r="B3"><v>3</v></c><c r="C3"><f t="shared" ref="C3:C5" si="0">ROUND(A3*B3/(A3+B3),2)+IF(A3&gt;B3,1,0)</f><v>1.2</v></c></row>)x"
             R"x(<row r="4"><c r="A4"><v>5</v></c><c r="B4"><v>5</v></c><c r="C4"><f t="shared" si="0"/><v>2.5</v></c></row>)x"
             R"x(<row r="5"><c r="A5"><v>9</v></c><c r="B5"><v>1</v></c><c r="C5"><f t="shared" si="0"/><v>1.9</v></c></row>)x"
             R"x(<row r="6"><c r="D6"><f t="array" ref="D6:E7">IF(A1:B2&gt;4,A1:B2*(1+0),-1)</f><v>-1</v></c><c r="E6"><v>10</v></c></row>)x"
             R"x(<row r="7"><c r="D7"><v>7</v></c><c r="E7"><v>-1</v></c></row>)x"
             R"x(<row r="8"><c r="C8" s="1"><f>SUMPRODUCT(('Other Sheet'!A1:A3&gt;1)*('Other Sheet'!A1:A3))</f><v>5</v></c></row>)x")
      .Sheet("Other Sheet",
             R"x(<row r="1"><c r="A1"><v>1</v></c><c r="B1"><f>VLOOKUP(2,A1:A3,1,FALSE)*LEN("a b")</f><v>6</v></c></row>)x"
             R"x(<row r="2"><c r="A2"><v>2</v></c><c r="B2"><f>IF(Rate&gt;1,SUM(A1:A3)*Rate,0)</f><v>12</v></c></row>)x"
             R"x(<row r="3"><c r="A3"><v>3</v></c></row>)x")
      .DefinedNames(R"(<definedName name="Rate">'Other Sheet'!$A$2</definedName>)");
  return book;
}

// One workbook, as LibreOffice writes it (shared and array formulas, a defined name, text, two
// sheets): formatted, it computes the same values in LibreOffice, which are the values it keeps;
// unformatted, it is as it was.
TEST(XlsxLibreOffice, AWorkbookComputesTheSameValuesFormattedAndComesBack) {
  const std::string office = Office();
  if (office.empty()) GTEST_SKIP() << kNoOffice;
  TempFolder folder;
  Workbook().Write(folder / "made.xlsx");
  fs::create_directory(folder / "lo");
  Convert(office, folder, "xlsx:Calc MS Excel 2007 XML", {folder / "made.xlsx"}, folder / "lo");
  const fs::path original = folder / "original.xlsx", formatted = folder / "formatted.xlsx";
  fs::copy_file(folder / "lo" / "made.xlsx", original);
  fs::copy_file(original, formatted);
  const auto before = testsupport::FormulasOf(original);
  ASSERT_GE(before.size(), 10U);

  auto r = testing::RunCli({"format", formatted.string(), "--all", "--uncalibrated", "--store", (folder / "s.db").string()});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (const auto& [cell, formula] : testsupport::FormulasOf(formatted))
    EXPECT_NE(formula.find('\n'), std::string::npos) << cell << ": " << formula;
  // The values computed afresh, from both files, are the values the formatted file keeps.
  Convert(office, folder, kCsvAllSheets, {original, formatted}, folder / "csv", true);
  Convert(office, folder, kCsvAllSheets, {formatted}, folder / "kept");
  for (const std::string sheet : {"Sheet1", "Other Sheet"}) {
    const std::string values = testsupport::ReadBytes(folder / "csv" / ("original-" + sheet + ".csv"));
    EXPECT_FALSE(values.empty()) << sheet;
    EXPECT_EQ(testsupport::ReadBytes(folder / "csv" / ("formatted-" + sheet + ".csv")), values) << sheet;
    EXPECT_EQ(testsupport::ReadBytes(folder / "kept" / ("formatted-" + sheet + ".csv")), values) << sheet;
  }

  // Only the text of each <f> changed: cached values, attributes and shared groups are kept.
  const auto withoutFormulaText = [](const fs::path& book) {
    std::string sheets;
    for (const auto& [name, content] : testsupport::ZipContents(book))
      if (name.rfind("xl/worksheets/", 0) == 0) sheets += std::regex_replace(content, std::regex("(<f[^>/]*>)[^<]*</f>"), "$1</f>");
    return sheets;
  };
  EXPECT_EQ(withoutFormulaText(formatted), withoutFormulaText(original));

  r = testing::RunCli({"unformat", formatted.string(), "--all"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const auto back = testsupport::ZipContents(formatted), parts = testsupport::ZipContents(original);
  EXPECT_EQ(back.size(), parts.size());
  for (const auto& [name, content] : parts) EXPECT_TRUE(back.count(name) && back.at(name) == content) << name << " differs";
}

}  // namespace
}  // namespace corvane
