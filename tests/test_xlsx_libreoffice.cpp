// A second spreadsheet program as the judge: LibreOffice computes the values of a workbook before
// and after `corvane format --all`, which must be the same; and a workbook written by LibreOffice
// itself goes through format and unformat with every formula back and every other part intact.
// And LibreOffice's reading of every cell of shared formulas is the program's reading.
// Skipped (with a message) where LibreOffice is not installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "hosts/xlsx/workbook_file.h"
#include "hosts/xlsx/xml_text.h"
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

// Converts the files with LibreOffice into `format` (a filter with options) in `out`.
void Convert(const std::string& office, const TempFolder& folder, const std::string& format,
             const std::vector<fs::path>& files, const fs::path& out) {
  std::string command = "cd '" + folder.path().string() + "' && HOME='" + folder.path().string() + "' timeout 300 " + office +
                        " --headless --norestore --nologo -env:UserInstallation=file://" + (folder / "profile").string() +
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
             R"x(<row r="1"><c r="A1"><v>4</v></c><c r="B1"><v>10</v></c><c r="C1"><f>SUM(A1:B1,IF(A1&gt;3,MAX(A1,B1*2),0))</f><v>34</v></c></row>)x"
             R"x(<row r="2"><c r="A2"><v>7</v></c><c r="B2"><v>1.5</v></c><c r="C2" t="str"><f>IF(AND(A2&gt;5,B2&lt;2),"yes, (really)",CONCATENATE("n","o"))</f><v>yes, (really)</v></c></row>)x"
             R"x(<row r="3"><c r="A3"><v>2</v></c><c r="B3"><v>3</v></c><c r="C3"><f t="shared" ref="C3:C5" si="0">ROUND(A3*B3/(A3+B3),2)+IF(A3&gt;B3,1,0)</f><v>1.2</v></c></row>)x"
             R"x(<row r="4"><c r="A4"><v>5</v></c><c r="B4"><v>5</v></c><c r="C4"><f t="shared" si="0"/><v>2.5</v></c></row>)x"
             R"x(<row r="5"><c r="A5"><v>9</v></c><c r="B5"><v>1</v></c><c r="C5"><f t="shared" si="0"/><v>1.9</v></c></row>)x"
             R"x(<row r="6"><c r="D6"><f t="array" ref="D6:E7">IF(A1:B2&gt;4,A1:B2*(1+0),-1)</f><v>-1</v></c><c r="E6"><v>10</v></c></row>)x"
             R"x(<row r="7"><c r="D7"><v>7</v></c><c r="E7"><v>-1</v></c></row>)x"
             R"x(<row r="8"><c r="C8" s="1"><f>SUMPRODUCT(('Other Sheet'!A1:A3&gt;1)*('Other Sheet'!A1:A3))</f><v>5</v></c></row>)x")
      .Sheet("Other Sheet",
             R"x(<row r="1"><c r="A1"><v>1</v></c><c r="B1"><f>VLOOKUP(2,A1:A3,1,FALSE)*LEN("a b")</f><v>6</v></c></row>)x"
             R"x(<row r="2"><c r="A2"><v>2</v></c></row><row r="3"><c r="A3"><v>3</v></c></row>)x");
  return book;
}

TEST(XlsxLibreOffice, FormattedWorkbooksComputeTheSameValues) {
  const std::string office = Office();
  if (office.empty()) GTEST_SKIP() << kNoOffice;
  TempFolder folder;
  const fs::path original = folder / "original.xlsx";
  const fs::path formatted = folder / "formatted.xlsx";
  Workbook().Write(original);
  fs::copy_file(original, formatted);
  const auto r = testing::RunCli({"format", formatted.string(), "--all", "--uncalibrated", "--store",
                                  (folder / "settings.db").string()});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_NE(r.out.find("8 formulas formatted"), std::string::npos) << r.out;

  fs::create_directory(folder / "csv");
  Convert(office, folder, kCsvAllSheets, {original, formatted}, folder / "csv");
  for (const std::string sheet : {"Sheet1", "Other Sheet"}) {
    const std::string before = testsupport::ReadBytes(folder / "csv" / ("original-" + sheet + ".csv"));
    EXPECT_FALSE(before.empty()) << sheet;
    EXPECT_EQ(testsupport::ReadBytes(folder / "csv" / ("formatted-" + sheet + ".csv")), before) << sheet;
  }
  const std::string values = testsupport::ReadBytes(folder / "csv" / "formatted-Sheet1.csv");
  for (const char* value : {"4,10,34", "\"yes, (really)\"", "9,1,1.9", ",,5"}) EXPECT_NE(values.find(value), std::string::npos) << values;
}

TEST(XlsxLibreOffice, AWorkbookWrittenByLibreOfficeGoesThereAndBack) {
  const std::string office = Office();
  if (office.empty()) GTEST_SKIP() << kNoOffice;
  TempFolder folder;
  const fs::path made = folder / "made.xlsx";
  Workbook().Write(made);
  fs::create_directory(folder / "lo");
  Convert(office, folder, "xlsx:Calc MS Excel 2007 XML", {made}, folder / "lo");
  const fs::path book = folder / "lo" / "made.xlsx";
  const fs::path original = folder / "lo-original.xlsx";
  fs::copy_file(book, original);
  const auto before = testsupport::FormulasOf(original);
  ASSERT_GE(before.size(), 10U);

  auto r = testing::RunCli({"format", book.string(), "--all", "--uncalibrated", "--store", (folder / "s.db").string()});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (const auto& [cell, formula] : testsupport::FormulasOf(book))
    EXPECT_NE(formula.find('\n'), std::string::npos) << cell << ": " << formula;
  r = testing::RunCli({"unformat", book.string(), "--all"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(testsupport::FormulasOf(book), before);
  for (const auto& name : testsupport::ChangedEntries(original, book))
    EXPECT_EQ(name.rfind("xl/worksheets/", 0), 0U) << name << " changed";
}

// Shared formulas over names that look like references: sheets called A1, B1, Jan, R1C1 and
// XFD (in 3-D references, quoted and not), a defined name, a table with structured references,
// literals, whole columns and rows, a block, and members whose references leave the sheet.
std::vector<std::pair<std::string, std::string>> LookalikeWorkbook() {
  const std::string value = R"(<row r="2"><c r="B2"><v>2</v></c><c r="C2"><v>3</v></c><c r="D2"><v>5</v></c></row>)";
  XlsxBuilder book;
  book.Sheet("Summary",
             R"x(<row r="1"><c r="A1"><v>1</v></c><c r="B1"><f t="shared" ref="B1:D1" si="0">IF(A1&gt;0,SUM(Jan:Mar!B2),MAX(A1,A2))</f></c><c r="C1"><f t="shared" si="0"/></c><c r="D1"><f t="shared" si="0"/></c>)x"
             R"x(<c r="F1" t="inlineStr"><is><t>Item</t></is></c><c r="G1" t="inlineStr"><is><t>Qty</t></is></c></row>)x"
             R"x(<row r="2"><c r="B2"><f t="shared" ref="B2:B4" si="1">A1:B1!C3+'A1'!A1+R1C1!B1+XFD!A1*Tax+SUM(Tbl[Qty])+LEN("Jan:Mar!B2 A1")</f></c><c r="F2" t="inlineStr"><is><t>x</t></is></c><c r="G2"><v>3</v></c></row>)x"
             R"x(<row r="3"><c r="B3"><f t="shared" si="1"/></c><c r="F3" t="inlineStr"><is><t>y</t></is></c><c r="G3"><v>4</v></c>)x"
             R"x(<c r="H3"><f t="shared" ref="H3:H4" si="2">Tbl[[#This Row],[Qty]]*G2+LOG10(A1)</f></c></row>)x"
             R"x(<row r="4"><c r="B4"><f t="shared" si="1"/></c><c r="H4"><f t="shared" si="2"/></c></row>)x"
             R"x(<row r="10"><c r="B10"><f t="shared" ref="B10:C11" si="3">A1+$A1+A$1+$A$1+Jan!B2+SUM(Jan:Mar!$B2:C$3)+SUM(A:A,$B:C)</f></c><c r="C10"><f t="shared" si="3"/></c></row>)x"
             R"x(<row r="11"><c r="B11"><f t="shared" si="3"/></c><c r="C11"><f t="shared" si="3"/></c></row>)x"
             R"x(<row r="12"><c r="B12"><f t="shared" ref="B12:C12" si="4">XFD1+Jan!XFD2+SUM(Jan:Mar!XFC1:XFD2)+XFD:XFD+A1</f></c><c r="C12"><f t="shared" si="4"/></c></row>)x"
             R"x(<row r="13"><c r="B13"><f t="shared" ref="B13:B14" si="5">SUM(B$1:B1048570)+'R1C1'!A1048576</f></c></row>)x"
             R"x(<row r="14"><c r="B14"><f t="shared" si="5"/></c></row>)x",
             "", R"(<tableParts count="1"><tablePart r:id="rId1"/></tableParts>)")
      .Sheet("Jan", value)
      .Sheet("Feb", value)
      .Sheet("Mar", value)
      .Sheet("A1", value)
      .Sheet("B1", value)
      .Sheet("R1C1", value)
      .Sheet("XFD", value);
  auto entries = book.Entries();
  for (auto& [name, content] : entries) {
    if (name == "xl/workbook.xml")
      content.replace(content.find("</sheets>"), 9, R"(</sheets><definedNames><definedName name="Tax">Jan!$B$2</definedName></definedNames>)");
    if (name == "[Content_Types].xml")
      content.replace(content.find("</Types>"), 8,
                      R"(<Override PartName="/xl/tables/table1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.table+xml"/></Types>)");
  }
  entries.emplace_back(
      "xl/worksheets/_rels/sheet1.xml.rels",
      R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/table" Target="../tables/table1.xml"/></Relationships>)");
  entries.emplace_back(
      "xl/tables/table1.xml",
      R"(<table xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" id="1" name="Tbl" displayName="Tbl" ref="F1:G3"><autoFilter ref="F1:G3"/><tableColumns count="2"><tableColumn id="1" name="Item"/><tableColumn id="2" name="Qty"/></tableColumns></table>)");
  return entries;
}

// LibreOffice writes a single cell of a 3-D reference as a range ("Jan:Mar!B2:B2") and leaves
// sheet names that look like references unquoted; neither changes what the formula means.
std::string Comparable(std::string formula) {
  formula = std::regex_replace(formula, std::regex(R"('([^']*)'!)"), "$1!");
  return std::regex_replace(formula, std::regex(R"(!(\$?[A-Z]+\$?[0-9]+):\1\b)"), "!$1");
}

TEST(XlsxLibreOffice, SharedFormulasReadAsLibreOfficeReadsThem) {
  const std::string office = Office();
  if (office.empty()) GTEST_SKIP() << kNoOffice;
  TempFolder folder;
  const fs::path book = folder / "lookalike.xlsx";
  testsupport::WriteZip(book, LookalikeWorkbook());
  fs::create_directory(folder / "lo");
  Convert(office, folder, "xlsx:Calc MS Excel 2007 XML", {book}, folder / "lo");
  const fs::path written = folder / "lo" / "lookalike.xlsx";
  // LibreOffice writes every cell's formula in full; were it to share them, this program's
  // reading would judge itself.
  for (const auto& [name, content] : testsupport::ZipContents(written))
    ASSERT_EQ(content.find("t=\"shared\""), std::string::npos) << name;

  auto ours = xlsx::WorkbookFile::Open(book.string());
  auto theirs = xlsx::WorkbookFile::Open(written.string());
  xlsx::Worksheet& sheet = ours->WorksheetAt(0);
  xlsx::Worksheet* judge = theirs->FindWorksheet(sheet.Name());
  ASSERT_NE(judge, nullptr);
  std::size_t compared = 0, offSheet = 0;
  for (const auto& cell : sheet.FormulaCells({1, 1, xlsx::kMaxRows, xlsx::kMaxColumns})) {
    if (cell.kind != xlsx::FormulaKind::Shared) continue;
    const std::int32_t row = cell.range.row1, col = cell.range.col1;
    const std::string where = xlsx::Utf8(xlsx::CellAddress(row, col));
    const auto mine = sheet.FormulaAt(row, col);
    const auto lo = judge->FormulaAt(row, col);
    ASSERT_TRUE(mine && lo) << where;
    EXPECT_EQ(Comparable(xlsx::Utf8(*mine)), Comparable(xlsx::Utf8(*lo))) << where;
    ++compared;
    offSheet += lo->find(u"#REF!") != std::u16string::npos ? 1 : 0;
  }
  EXPECT_EQ(compared, 16U);
  EXPECT_EQ(offSheet, 2U) << "C12 and B14 reach past the sheet's edge";
}

}  // namespace
}  // namespace corvane
