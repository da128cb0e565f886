// The workbook-file host: what it reads from a workbook, what it refuses, and what a save
// changes (only the changed cells) and never does (write over a file another program changed).
// The commands on workbook files are the program's tests (test_xlsx_cli).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "hosts/xlsx/xlsx_host.h"
#include "support/corpus.h"
#include "support/fake_ui.h"
#include "support/xlsx_builder.h"

namespace corvane::xlsx {
namespace {

namespace fs = std::filesystem;
using corpus::Utf16ToUtf8;
using testsupport::ChangedEntries;
using testsupport::FormulasOf;
using testsupport::TempFolder;
using testsupport::XlsxBuilder;

// Sheet1 holds a plain formula, constants of every kind, a formula with string literals in a
// wrapping cell (with metadata attributes and an extension of its own), an array formula over
// B3:C4, a shared formula down E5:E8, a shared formula over the block H10:I11 and a data table;
// 'My Sheet' refers to Sheet1 by a quoted name; "Data" has row and column formats, and constants
// split by a comment, CDATA and a processing instruction.
constexpr const char* kSheet1 =
    R"(<row r="1"><c r="A1"><f>SUM(1,2)</f><v>3</v></c><c r="B1"><v>42</v></c><c r="C1" t="s"><v>0</v></c>)"
    R"(<c r="D1" t="inlineStr"><is><t>inline</t></is></c><c r="E1" t="b"><v>1</v></c>)"
    R"(<c r="G1"><f t="dataTable" ref="G1:G2" dt2D="0" dtr="0" r1="A1"/><v>1</v></c></row>)"
    "\n"
    R"(<row r="2"><c r="A2" s="1" t="str" cm="1" vm="1"><f>IF(A1&gt;2,"big one","small one")</f><v>big one</v>)"
    R"(<extLst><ext uri="{Y}"/></extLst></c></row>)"
    R"(<row r="3"><c r="B3"><f t="array" ref="B3:C4">IF(A1:B2&gt;1,A1:B2*2,0)</f><v>6</v></c><c r="C3" s="1"><v>84</v></c></row>)"
    R"(<row r="4"><c r="B4"><v>0</v></c><c r="C4"><v>0</v></c></row>)"
    R"(<row r="5"><c r="E5"><f t="shared" ref="E5:E8" si="0">SUM(A5,B5)+$A$1</f><v>3</v></c></row>)"
    R"(<row r="6"><c r="E6"><f t="shared" si="0"/><v>3</v></c></row>)"
    R"(<row r="7"><c r="E7"><f t="shared" si="0"/><v>3</v></c></row>)"
    R"(<row r="8"><c r="E8"><f t="shared" si="0"/><v>3</v></c></row>)"
    R"(<row r="10"><c r="H10"><f t="shared" ref="H10:I11" si="1">A1*2</f><v>6</v></c><c r="I10"><f t="shared" si="1"/><v>84</v></c></row>)"
    R"(<row r="11"><c r="H11"><f t="shared" si="1"/><v>0</v></c><c r="I11"><f t="shared" si="1"/><v>0</v></c></row>)";

XlsxBuilder Fixture() {
  XlsxBuilder book;
  book.Font("Arial Narrow", 10)
      .Sheet("Sheet1", kSheet1, R"(<cols><col min="1" max="1" width="12" customWidth="1"/></cols>)",
             R"(<extLst><ext uri="{X}"><x14:y xmlns:x14="urn:x"/></ext></extLst>)")
      .Sheet("My Sheet", R"(<row r="7"><c r="B7" s="2"><f>SUM('Sheet1'!A1:A3,LEN("a b"))</f><v>4</v></c></row>)")
      .Sheet("Data",
             R"(<row r="1" s="1" customFormat="1"><c r="A1"><f>1+1</f><v>2</v></c></row><row r="2"><c r="A2"><v>1</v></c></row>)"
             R"(<row r="3"><c r="A3" t="inlineStr"><is><t>ab<!-- x --> <![CDATA[c<d]]></t><r><t>e<?pi?>f</t></r></is></c>)"
             R"(<c r="B3"><v>4<!---->2</v></c><c r="C3" t="str"><v>=SUM(1, 2)</v></c></row>)",
             R"(<cols><col min="3" max="4" width="9" style="1" customWidth="1"/></cols>)")
      .SharedStrings({"hello world"})
      .CalcChain(R"(<c r="A1" i="1"/><c r="A2"/><c r="B3" a="1"/>)")
      .ActiveTab(1);
  return book;
}

// The host on a copy of the fixture, with fake windows and widths of one space per character.
struct Session {
  TempFolder folder;
  testsupport::FakeWindowSystem fake;
  fs::path path;
  std::shared_ptr<XlsxApplication> app;

  explicit Session(HostOptions options = {}) {
    path = folder / "Budget.xlsx";
    Fixture().Write(path);
    for (std::int32_t k = 2; k <= 767; ++k) fake.store.SaveSetting(u"Corvane", u"Spacing_Arial Narrow", DecimalKey(k), u"1");
    if (!options.measurer) options.measurer = &fake.measurer;
    app = XlsxApplication::Open(path.string(), std::move(options));
  }
  std::shared_ptr<XlsxRange> Cell(std::u16string_view sheet, std::string_view address) {
    return app->Workbook()->SheetNamed(sheet)->Range(*ParseRangeAddress(address));
  }
  std::string FormulaOf(std::u16string_view sheet, std::string_view address) { return Utf16ToUtf8(Cell(sheet, address)->Formula()); }
};

// The failure of `action` as its number and description, "" when it did not fail.
std::string Refusal(const std::function<void()>& action) {
  try {
    action();
  } catch (const AutomationError& e) {
    return std::to_string(e.number()) + " " + Utf16ToUtf8(e.description());
  }
  return "";
}

TEST(XlsxHost, ReadsTheWorkbookAsTheSpreadsheetShowsIt) {
  Session s;
  EXPECT_EQ(Utf16ToUtf8(s.app->StandardFont()), "Arial Narrow");
  EXPECT_EQ(s.app->Workbook()->file().StandardFontSize(), 10.0);
  EXPECT_EQ(Utf16ToUtf8(s.app->Workbook()->Name()), "Budget.xlsx");
  EXPECT_EQ(fs::path(Utf16ToUtf8(s.app->Workbook()->Path())), fs::canonical(s.folder.path()));
  EXPECT_EQ(Utf16ToUtf8(s.app->Workbook()->ActiveSheet()->Name()), "My Sheet");
  EXPECT_EQ(s.app->International(5).string(), u",");
  const std::vector<std::tuple<std::u16string, const char*, const char*>> cells = {
      {u"Sheet1", "A1", "=SUM(1,2)"},
      {u"sheet1", "A2", "=IF(A1>2,\"big one\",\"small one\")"},  // names ignore case
      {u"My Sheet", "B7", "=SUM('Sheet1'!A1:A3,LEN(\"a b\"))"},
      {u"Sheet1", "B1", "42"}, {u"Sheet1", "C1", "hello world"}, {u"Sheet1", "D1", "inline"}, {u"Sheet1", "E1", "TRUE"},
      {u"Sheet1", "Z99", ""}, {u"Data", "A3", "ab c<def"}, {u"Data", "B3", "42"}, {u"Data", "C3", "=SUM(1, 2)"},
      // Every cell of an array block reads the block's formula; shared formulas move.
      {u"Sheet1", "B3", "=IF(A1:B2>1,A1:B2*2,0)"}, {u"Sheet1", "C4", "=IF(A1:B2>1,A1:B2*2,0)"},
      {u"Sheet1", "E5", "=SUM(A5,B5)+$A$1"}, {u"Sheet1", "E8", "=SUM(A8,B8)+$A$1"}, {u"Sheet1", "I11", "=B2*2"},
  };
  for (const auto& [sheet, cell, formula] : cells) EXPECT_EQ(s.FormulaOf(sheet, cell), formula) << cell;
  EXPECT_EQ(s.Cell(u"Sheet1", "C4")->HasArray(), Variant(true));
  EXPECT_EQ(Utf16ToUtf8(s.Cell(u"Sheet1", "C4")->CurrentArray()->Address(false, false)), "B3:C4");
  EXPECT_EQ(s.Cell(u"Sheet1", "A3:B3")->HasArray(), Variant(Null{}));
  EXPECT_EQ(s.Cell(u"Sheet1", "A1")->HasArray(), Variant(false));
  // Text is text, whatever it starts with; a block has its formula in every cell.
  const std::vector<std::tuple<std::u16string, const char*, Variant>> holding = {
      {u"Data", "C3", Variant(false)}, {u"Sheet1", "C1", Variant(false)}, {u"Sheet1", "A1", Variant(true)},
      {u"Sheet1", "B3:C4", Variant(true)}, {u"Sheet1", "E6:E8", Variant(true)}, {u"Sheet1", "A1:B1", Variant(Null{})},
      {u"Sheet1", "B2:C3", Variant(Null{})}};
  for (const auto& [sheet, cell, answer] : holding) EXPECT_EQ(s.Cell(sheet, cell)->HasFormula(), answer) << cell;
  EXPECT_THROW(s.Cell(u"Sheet1", "A1")->CurrentArray(), AutomationError);
  EXPECT_EQ(Utf16ToUtf8(s.Cell(u"Sheet1", "B3:C4")->Cells(2, 1)->Address(true, true)), "$B$4");
  // A data table is left alone, and says so.
  EXPECT_NE(Refusal([&] { s.Cell(u"Sheet1", "G1")->Formula(); }).find("data table"), std::string::npos);
  EXPECT_EQ(Utf16ToUtf8(s.app->LastRefusal()).find("data table") != std::string::npos, true);
}

TEST(XlsxHost, WrapSettingsComeFromCellRowAndColumnFormats) {
  Session s;
  EXPECT_EQ(s.Cell(u"Sheet1", "A1")->WrapText(), Variant(false));
  EXPECT_EQ(s.Cell(u"Sheet1", "A2")->WrapText(), Variant(true)) << "the cell's format";
  EXPECT_EQ(s.Cell(u"My Sheet", "B7")->WrapText(), Variant(true)) << "through the cell style";
  EXPECT_EQ(s.Cell(u"Data", "B1")->WrapText(), Variant(true)) << "the row's format";
  EXPECT_EQ(s.Cell(u"Data", "D9")->WrapText(), Variant(true)) << "the column's format";
  EXPECT_EQ(s.Cell(u"Data", "B2")->WrapText(), Variant(false));
  EXPECT_EQ(s.Cell(u"Sheet1", "B3:C3")->WrapText(), Variant(Null{}));
  // Putting back what was read changes nothing; a real change of format is refused.
  s.Cell(u"Sheet1", "A2")->SetWrapText(Variant(true));
  s.Cell(u"Sheet1", "A1")->SetWrapText(Variant(false));
  EXPECT_FALSE(s.app->Workbook()->file().Modified());
  EXPECT_THROW(s.Cell(u"Sheet1", "A1")->SetWrapText(Variant(true)), AutomationError);
}

TEST(XlsxHost, RefusesWhatWouldNeedMoreThanAFormulaChange) {
  HostOptions options;
  options.version = u"11.0";
  Session s(options);
  const auto set = [&](const char* cell, const std::u16string& formula) { return [&s, cell, formula] { s.Cell(u"Sheet1", cell)->SetFormula(formula); }; };
  const std::vector<std::pair<const char*, std::function<void()>>> actions = {
      {"a formula into a constant", set("B1", u"=1+1")},
      {"a formula into an empty cell", set("Z9", u"=1+1")},
      {"a constant over a formula", set("A1", u"3")},
      {"part of an array", set("C4", u"=1")},
      {"over 1,024", set("A1", u"=SUM(1," + std::u16string(1100, u'1') + u")")},
      {"unbalanced", set("A1", u"=SUM(1,2")},
      {"a line break before a whole column", set("A1", u"=SUM(\n  A:A)")},
      {"an array's line break before whole rows", [&] { s.Cell(u"Sheet1", "B3:C4")->SetFormulaArray(u"=SUM(\n 1:2)"); }},
      {"a control character", set("A1", u"=SUM(1,\x01)")},
      {"a data table", set("G1", u"=1")},
      {"part of a block as a new block", [&] { s.Cell(u"Sheet1", "B3:C3")->SetFormulaArray(u"=1"); }},
      {"a value", [&] { s.Cell(u"Sheet1", "A1")->SetValue(Variant(u"x")); }},
      {"a column fit", [&] { s.Cell(u"Sheet1", "A1")->EntireColumnAutoFit(); }},
  };
  const std::string refused = std::to_string(err::kApplicationDefined) + " ";
  for (const auto& [what, action] : actions) {
    const std::string refusal = Refusal(action);
    EXPECT_TRUE(refusal.starts_with(refused) && refusal.size() > refused.size()) << what << ": " << refusal;
  }
  EXPECT_FALSE(s.app->Workbook()->file().Modified());
  EXPECT_EQ(s.FormulaOf(u"Sheet1", "A1"), "=SUM(1,2)");
}

TEST(XlsxHost, ShowsFormulasInTheListSeparatorsOfTheRegion) {
  testsupport::FakeWindowSystem fake;
  PlatformServices services = Services();
  services.regional = RegionalFormat{u',', u'.'};
  ScopedServices scope(services);
  TempFolder folder;
  XlsxBuilder().Sheet("S", R"(<row r="1"><c r="A1"><f>ROUND(SUM(1.5,2),1)</f></c></row>)").Write(folder / "b.xlsx");
  auto app = XlsxApplication::Open((folder / "b.xlsx").string());
  EXPECT_EQ(app->International(5).string(), u";");
  EXPECT_EQ(app->International(3).string(), u",");
  auto cell = app->Workbook()->Sheet(0)->Range({1, 1, 1, 1});
  EXPECT_EQ(Utf16ToUtf8(cell->Formula()), "=ROUND(SUM(1,5;2);1)");
  EXPECT_THROW(cell->SetFormula(u"=IF(\n  A:A;1)"), AutomationError) << "the break before A:A, read with \";\"";
  cell->SetFormula(u"=ROUND(\n  SUM(1,5;2);\n  1)");
  app->Workbook()->Save();
  EXPECT_EQ(FormulasOf(folder / "b.xlsx").at("S!A1"), "ROUND(\n  SUM(1.5,2),\n  1)");
}

// A save rewrites only the changed cells' elements. A change of layout alone keeps the cell's
// cached value and value type, and a shared group's master keeps its group (the members follow);
// any other change drops the value, asks for a recalculation, and takes a shared cell out of its
// group whole: the next cell of a column becomes the master, a member leaves.
TEST(XlsxHost, ASaveRewritesOnlyTheChangedCellElements) {
  Session s;
  s.Cell(u"Sheet1", "A2")->SetFormula(u"=IF(A1>2,\n  \"big one\",\n  \"small one\")");
  s.Cell(u"Sheet1", "B3:C4")->SetFormulaArray(u"=A1:B2 * 3");
  s.Cell(u"Sheet1", "E5")->SetFormula(u"=SUM(A5,B5)+$A$2");
  s.Cell(u"Sheet1", "E7")->SetFormula(u"=SUM(A7, B7)+$A$1");
  s.Cell(u"Sheet1", "H10")->SetFormula(u"=A1 * 2");
  s.Cell(u"Sheet1", "I11")->SetFormula(u"=B2 * 2");  // what it follows already: no change
  ASSERT_TRUE(s.app->Workbook()->file().Modified());
  const fs::path out = s.folder / "out.xlsx";
  s.app->Workbook()->Save(out.string());

  std::string expected = testsupport::ZipContents(s.path).at("xl/worksheets/sheet1.xml");
  const auto replace = [&](const std::string& from, const std::string& to) {
    const auto at = expected.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    expected.replace(at, from.size(), to);
  };
  replace(R"(<f>IF(A1&gt;2,"big one","small one")</f>)", "<f>IF(A1&gt;2,\n  \"big one\",\n  \"small one\")</f>");
  replace(R"(<c r="B3"><f t="array" ref="B3:C4">IF(A1:B2&gt;1,A1:B2*2,0)</f><v>6</v></c><c r="C3" s="1"><v>84</v></c>)",
          R"(<c r="B3"><f t="array" ref="B3:C4">A1:B2 * 3</f></c><c r="C3" s="1"></c>)");
  replace(R"(<c r="B4"><v>0</v></c><c r="C4"><v>0</v></c>)", R"(<c r="B4"></c><c r="C4"></c>)");
  replace(R"(<c r="E5"><f t="shared" ref="E5:E8" si="0">SUM(A5,B5)+$A$1</f><v>3</v>)", R"(<c r="E5"><f>SUM(A5,B5)+$A$2</f>)");
  replace(R"(<c r="E6"><f t="shared" si="0"/>)", R"(<c r="E6"><f t="shared" si="0" ref="E6:E8">SUM(A6,B6)+$A$1</f>)");
  replace(R"(<c r="E7"><f t="shared" si="0"/>)", R"(<c r="E7"><f>SUM(A7, B7)+$A$1</f>)");
  replace(R"(<f t="shared" ref="H10:I11" si="1">A1*2</f>)", R"(<f t="shared" ref="H10:I11" si="1">A1 * 2</f>)");
  const auto saved = testsupport::ZipContents(out);
  EXPECT_EQ(saved.at("xl/worksheets/sheet1.xml"), expected);
  EXPECT_EQ(ChangedEntries(s.path, out), (std::vector<std::string>{"xl/workbook.xml", "xl/worksheets/sheet1.xml"}));
  EXPECT_NE(saved.at("xl/workbook.xml").find(R"(<calcPr calcId="191029" fullCalcOnLoad="1"/>)"), std::string::npos);
}

// (A failing write and a save through a link are the program's tests, in a real process.)
TEST(XlsxHost, ASaveKeepsPermissionsAndNeverWritesOverAnotherProgramsChange) {
  Session s;
  const auto perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(s.path, perms);
  s.Cell(u"Data", "A1")->SetFormula(u"=1 + 1");
  s.app->Workbook()->Save();
  EXPECT_EQ(fs::status(s.path).permissions() & fs::perms::all, perms);
  EXPECT_EQ(FormulasOf(s.path).at("Data!A1"), "1 + 1");

  const std::string original = testsupport::ReadBytes(s.path);
  s.Cell(u"Sheet1", "A1")->SetFormula(u"=SUM(1,\n2)");
  EXPECT_THROW(s.app->Workbook()->Save((s.folder / "missing" / "x.xlsx").string()), AutomationError);
  testsupport::WriteBytes(s.path, original + "x");
  EXPECT_NE(Refusal([&] { s.app->Workbook()->Save(); }).find("changed by another program"), std::string::npos);
  EXPECT_EQ(testsupport::ReadBytes(s.path), original + "x");
  EXPECT_EQ(s.folder.Files(), std::vector<std::string>{"Budget.xlsx"}) << "no temporary file is left";
}

// What a worksheet's formula cells read (kind, wrapping, text or why not) and its part after a
// change in every tenth of them, in one text.
std::string ReadingOf(const fs::path& path, WorkbookFile::RowReading rows) {
  std::string out;
  try {
    auto book = WorkbookFile::Open(path.string(), {}, rows);
    Worksheet& sheet = book->WorksheetAt(0);
    int k = 0;
    for (const auto& cell : sheet.FormulaCells({1, 1, kMaxRows, kMaxColumns})) {
      const std::int32_t row = cell.range.row1, col = cell.range.col1;
      out += Utf16ToUtf8(RangeAddress(cell.range)) + " " + std::to_string(static_cast<int>(cell.kind)) +
             (sheet.WrapAt(row, col) ? " wraps " : " ");
      try {
        const std::u16string text = sheet.FormulaAt(row, col).value_or(u"");
        out += Utf16ToUtf8(text);
        if (++k % 10 == 0 && cell.kind == FormulaKind::Normal) sheet.SetFormulaAt(row, col, text + u"+1");
      } catch (const AutomationError& e) {
        out += Utf16ToUtf8(e.description());
      }
      out += "\n";
    }
    const auto content = sheet.SavedContent();
    content->Rewind();
    char chunk[4096];
    for (std::size_t n; (n = content->Read(chunk, sizeof chunk)) > 0;) out.append(chunk, n);
  } catch (const AutomationError& e) {
    out = "failed: " + Utf16ToUtf8(e.description());
  }
  return out;
}

// A worksheet's rows read in two halves at once (as a large one is) read as in one, wherever the
// cut falls: rows without a number, row formats, a shared group and an array block across it, a
// comment holding "</row>", rows only the parser reads after it; rows out of order fail alike.
TEST(XlsxHost, RowsReadInTwoHalvesReadAsInOne) {
  TempFolder folder;
  const auto rows = [](std::size_t padding, int odd) {
    std::string xml = R"(<row r="1"><c r="A1" t="inlineStr"><is><t>)" + std::string(padding, 'x') + "</t></is></c></row>";
    for (int r = 2; r <= 240; ++r) {
      const std::string n = std::to_string(r == odd && odd > 200 ? r - 1 : r);
      xml += r % 7 == 0 ? "<row>" : R"(<row r=")" + n + (r % 11 == 0 ? R"(" s="1" customFormat="1">)" : R"(">)");
      xml += R"(<c r="A)" + n + R"("><f>SUM(B)" + n + ",1)</f><v>1</v></c>";
      if (r == 60) xml += R"(<c r="B60"><f t="shared" ref="B60:B90" si="0">C60*2</f><v>0</v></c>)";
      if (r > 60 && r <= 90) xml += R"(<c r="B)" + n + R"("><f t="shared" si="0"/><v>0</v></c>)";
      if (r == 75) xml += R"(<c r="C75"><f t="array" ref="C75:C76">A1:A2*2</f><v>2</v></c>)";
      if (r == 76) xml += R"(<c r="C76"><v>4</v></c>)";
      if (r == odd && odd < 200) xml += "<!-- </row> -->";
      if (r == 235) xml += R"(<c r="D235"><v><![CDATA[1]]></v></c>)";
      xml += "</row>";
    }
    return xml;
  };
  // Plain throughout but for row 235; a comment in row 70; row 230 numbered as the row before it.
  for (const int odd : {0, 70, 230}) {
    for (std::size_t padding = 0; padding < 16000; padding += 500) {
      SCOPED_TRACE(std::to_string(odd) + " " + std::to_string(padding));
      const fs::path path = folder / "Rows.xlsx";
      XlsxBuilder().Sheet("S", rows(padding, odd)).Write(path);
      const std::string parsed = ReadingOf(path, WorkbookFile::RowReading::ParserOnly);
      EXPECT_EQ(parsed.starts_with("failed"), odd == 230) << parsed.substr(0, 200);
      EXPECT_EQ(ReadingOf(path, WorkbookFile::RowReading::Plain), parsed);
      EXPECT_EQ(ReadingOf(path, WorkbookFile::RowReading::PlainInHalves), parsed);
    }
  }
}

}  // namespace
}  // namespace corvane::xlsx
