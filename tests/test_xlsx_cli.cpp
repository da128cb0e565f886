// `corvane format BOOK.xlsx CELL` and `corvane unformat BOOK.xlsx CELL` as a user runs them.
#include <gtest/gtest.h>
#include <malloc.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "hosts/xlsx/workbook_file.h"
#include "hosts/xlsx/xml_text.h"
#include "support/on_terminal.h"
#include "support/run_cli.h"
#include "support/xlsx_builder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps freed memory in quarantine: peak memory says nothing there.
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
using testing::RunCli;
using testsupport::ChangedEntries;
using testsupport::FormulasOf;
using testsupport::TempFolder;
using testsupport::XlsxBuilder;

// Several sheets with string literals, quoted sheet names, an array formula over a block,
// shared formulas down a column and over a block, a formula without parentheses, wrapping
// cells, shared strings, a calculation chain and extension lists.
XlsxBuilder Workbook() {
  XlsxBuilder book;
  book.Sheet("Sheet1",
             R"x(<row r="1"><c r="A1"><f>SUM(1,2)</f><v>3</v></c><c r="B1" t="s"><v>0</v></c><c r="C1"><f>A1+B1</f><v>3</v></c></row>)x"
             R"x(<row r="2"><c r="A2" s="1" t="str"><f>IF(A1&gt;2,"big, bigger (biggest)","small")</f><v>big</v></c></row>)x"
             R"x(<row r="3"><c r="B3"><f t="array" ref="B3:C5">IF(A1:B3&gt;1,A1:B3*2,0)</f><v>6</v></c><c r="C3" s="1"><v>0</v></c></row>)x"
             R"x(<row r="4"><c r="B4"><v>0</v></c><c r="C4"><v>0</v></c></row><row r="5"><c r="B5"><v>0</v></c><c r="C5"><v>0</v></c></row>)x"
             R"x(<row r="6"><c r="E6"><f t="shared" ref="E6:E9" si="0">ROUND(A6*2,0)+MAX($A$1,B6)</f><v>3</v></c></row>)x"
             R"x(<row r="7"><c r="E7"><f t="shared" si="0"/><v>3</v></c></row><row r="8"><c r="E8"><f t="shared" si="0"/><v>3</v></c></row>)x"
             R"x(<row r="9"><c r="E9"><f t="shared" si="0"/><v>3</v></c></row>)x"
             R"x(<row r="10"><c r="H10"><f t="shared" ref="H10:I11" si="1">ABS(A1)</f><v>3</v></c><c r="I10"><f t="shared" si="1"/><v>0</v></c></row>)x"
             R"x(<row r="11"><c r="H11"><f t="shared" si="1"/><v>0</v></c><c r="I11"><f t="shared" si="1"/><v>0</v></c></row>)x",
             "", R"x(<extLst><ext uri="{78C0D931-6437-407d-A8EE-F0AAD7539E65}"><x14:conditionalFormattings xmlns:x14="urn:x14"/></ext></extLst>)x")
      .Sheet("My Sheet",
             R"x(<row r="7"><c r="B7" s="2"><f>SUMPRODUCT(('Sheet1'!A1:A3&gt;0)*LEN("a (b) c"))+COUNTIF('It''s'!A1:A2,"&lt;&gt;x")</f><v>4</v></c></row>)x")
      .Sheet("It's", R"x(<row r="1"><c r="A1"><f>_xlfn.CONCAT("x",TEXT(1,"0.0"))</f><v>0</v></c></row>)x")
      .SharedStrings({"a b"})
      .CalcChain(R"x(<c r="A1" i="1"/><c r="C1"/><c r="A2"/><c r="B3" a="1"/><c r="E6"/>)x");
  return book;
}

struct Cli {
  TempFolder folder;
  fs::path book;
  fs::path original;
  std::string store;

  Cli() {
    book = folder / "Book.xlsx";
    original = folder / "original.xlsx";
    Workbook().Write(book);
    fs::copy_file(book, original);
    store = (folder / "settings.db").string();
  }
  testing::CliResult Run(std::vector<std::string> args) {
    args.push_back("--store=" + store);
    return RunCli(args);
  }
  testing::CliResult Unformat(const std::vector<std::string>& args) { return RunCli(args); }
};

TEST(XlsxCli, FormatsTheNamedCellsAndSaysWhatItDid) {
  Cli cli;
  auto r = cli.Run({"format", cli.book.string(), "Sheet1!A2", "--uncalibrated"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, cli.book.string() + ": 1 formula formatted, 0 sent to text files, 0 skipped\nsaved " + cli.book.string() + "\n");
  auto formulas = FormulasOf(cli.book);
  EXPECT_NE(formulas.at("Sheet1!A2").find('\n'), std::string::npos) << formulas.at("Sheet1!A2");
  EXPECT_EQ(ChangedEntries(cli.original, cli.book), std::vector<std::string>{"xl/worksheets/sheet1.xml"});

  r = cli.Run({"format", cli.book.string(), "'My Sheet'!B7", "--uncalibrated"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(FormulasOf(cli.book).at("My Sheet!B7").find('\n'), std::string::npos);
  r = cli.Run({"format", cli.book.string(), "'It''s'!A1", "--uncalibrated"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FormulasOf(cli.book).at("It's!A1").rfind("_xlfn.CONCAT(\n", 0), 0U) << FormulasOf(cli.book).at("It's!A1");

  // A range: the array block counts once; a formula without parentheses is skipped with the reason.
  r = cli.Run({"format", cli.book.string(), "Sheet1!A1:C5", "--uncalibrated"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(": 3 formulas formatted, 0 sent to text files, 1 skipped\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  Sheet1!C1: skipped: Unable to format this cell.\n"), std::string::npos) << r.out;
}

TEST(XlsxCli, TheCalibrationQuestionsAreAskedOnceAndTheirAnswersStandForEveryCell) {
  Cli cli;
  testing::OnTerminal program({"format", cli.book.string(), "Sheet1!A1:C5", "--store=" + cli.store});
  ASSERT_TRUE(program.WaitFor("Calibrate now?")) << program.screen();
  program.Type("n");
  ASSERT_TRUE(program.WaitFor("Format formula now anyway?")) << program.screen();
  program.Type("y");
  EXPECT_EQ(program.Finish(), 0) << program.screen();
  const std::string& screen = program.screen();
  const auto count = [&](const std::string& text) {
    std::size_t n = 0;
    for (auto at = screen.find(text); at != std::string::npos; at = screen.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("Calibrate now?"), 1U) << screen;
  EXPECT_EQ(count("Format formula now anyway?"), 1U) << screen;
  EXPECT_NE(screen.find(": 3 formulas formatted, 0 sent to text files, 1 skipped"), std::string::npos) << screen;
}

TEST(XlsxCli, TooLongLayoutsGoToTextFilesBesideTheWorkbook) {
  Cli cli;
  auto r = cli.Run({"format", cli.book.string(), "'My Sheet'!B7", "--uncalibrated", "--excel-version", "11.0", "--notepad"});
  ASSERT_EQ(r.status, 0) << r.err;
  const fs::path text = cli.folder / "Book.xlsx - My Sheet - B7 - formatted formula.txt";
  EXPECT_TRUE(fs::exists(text)) << r.out;
  EXPECT_NE(r.out.find("0 formulas formatted, 1 sent to a text file, 0 skipped"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("My Sheet'!B7: sent to " + fs::canonical(cli.folder.path()).string() + "/Book.xlsx - My Sheet - B7"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("was not changed"), std::string::npos) << r.out;
  EXPECT_EQ(testsupport::ReadBytes(cli.book), testsupport::ReadBytes(cli.original));
}

// A folder whose name is not UTF-8 (Latin-1 "café") still receives the text file.
TEST(XlsxCli, TextFilesReachAFolderWhoseNameIsNotUtf8) {
  Cli cli;
  const fs::path latin1 = cli.folder / std::string("caf\xE9");
  fs::create_directory(latin1);
  fs::copy_file(cli.book, latin1 / "Book.xlsx");
  auto r = cli.Run({"format", (latin1 / "Book.xlsx").string(), "'My Sheet'!B7", "--uncalibrated", "--excel-version",
                    "11.0", "--notepad"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(latin1 / "Book.xlsx - My Sheet - B7 - formatted formula.txt")) << r.out;
}

TEST(XlsxCli, FormatAllTwiceChangesNothingMoreAndUnformatAllGivesBackEveryFormula) {
  Cli cli;
  auto r = cli.Run({"format", cli.book.string(), "--all", "--uncalibrated", "--all-parens"});
  // C1 (=A1+B1) has no parenthesis to lay out.
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  EXPECT_NE(r.out.find(": 13 formulas formatted, 0 sent to text files, 1 skipped\n"), std::string::npos) << r.out;
  const auto formatted = FormulasOf(cli.book);
  const auto before = FormulasOf(cli.original);
  for (const auto& [cell, formula] : formatted) {
    if (cell == "Sheet1!C1") continue;
    EXPECT_NE(formula.find('\n'), std::string::npos) << cell << ": " << formula;
  }
  // The layout a formula has is taken out before it is laid out again.
  r = cli.Run({"format", cli.book.string(), "--all", "--uncalibrated", "--all-parens"});
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  EXPECT_EQ(FormulasOf(cli.book), formatted);

  r = cli.Unformat({"unformat", cli.book.string(), "--all"});
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  EXPECT_NE(r.out.find(": 13 formulas unformatted, 1 already without layout, 0 skipped\n"), std::string::npos) << r.out;
  EXPECT_EQ(FormulasOf(cli.book), before);
  // Styles, shared strings, the calculation chain, the workbook and everything else: unchanged.
  EXPECT_EQ(ChangedEntries(cli.original, cli.book),
            (std::vector<std::string>{"xl/worksheets/sheet1.xml", "xl/worksheets/sheet2.xml", "xl/worksheets/sheet3.xml"}));
}

TEST(XlsxCli, FormulasThatCannotBeReadAreSkippedWithTheirReason) {
  TempFolder folder;
  const fs::path book = folder / "odd.xlsx";
  XlsxBuilder()
      .Sheet("S",
             R"x(<row r="1"><c r="A1"><f>SUM(1,2)</f><v>3</v></c><c r="G1"><f t="dataTable" ref="G1:G2" dt2D="0" dtr="0" r1="A1"/><v>1</v></c></row>)x"
             R"x(<row r="2"><c r="E2"><f t="shared" si="5"/><v>0</v></c><c r="F2"><f t="shared" si="7"/><v>0</v></c></row>)x"
             R"x(<row r="3"><c r="E3"><f t="shared" ref="E2:E3" si="5">ABS(A1)</f><v>0</v></c></row>)x")
      .Write(book);
  auto r = RunCli({"format", book.string(), "--all", "--uncalibrated", "--store", (folder / "s.db").string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(": 3 formulas formatted, 0 sent to text files, 2 skipped\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  S!F2: skipped: The shared formula of S!F2 has no master cell"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  S!G1: skipped: S!G1 belongs to a data table"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("saved "), std::string::npos) << r.out;
  // A cell above its group's master reads the reference moved off the sheet as the spreadsheet
  // does, and keeps it when the master leaves the group.
  const auto formulaAt = [&](std::int32_t row, std::int32_t col) {
    return xlsx::Utf8(*xlsx::WorkbookFile::Open(book.string())->WorksheetAt(0).FormulaAt(row, col));
  };
  EXPECT_NE(formulaAt(2, 5).find("#REF!"), std::string::npos) << formulaAt(2, 5);
  r = RunCli({"unformat", book.string(), "--all"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(": 3 formulas unformatted, 0 already without layout, 2 skipped\n"), std::string::npos) << r.out;
  EXPECT_EQ(formulaAt(2, 5), "ABS(#REF!)");
  EXPECT_EQ(formulaAt(3, 5), "ABS(A1)");
}

TEST(XlsxCli, AFormulaSplitByCommentsCdataOrInstructionsIsReadAndWrittenWhole) {
  TempFolder folder;
  const fs::path book = folder / "split.xlsx";
  XlsxBuilder()
      .Sheet("S",
             R"x(<row r="1"><c r="A1"><f>SUM(B1:B9,C1:C9)<![CDATA[]]>+MAX(D1:D9,E1:E9)</f><v>0</v></c>)x"
             R"x(<c r="B1"><f>IF(A1&gt;0,<!-- why -->"a b"<?pi x?>,<![CDATA[MIN(1,"<&>")]]>)</f></c>)x"
             R"x(<c r="C1"><f>SUM(1,<!--a--> <!--b-->2)</f></c></row>)x"
             R"x(<row r="2"><c r="A2"><f t="shared" ref="A2:A3" si="0">ROUND(<!---->B2,<![CDATA[0]]>)</f></c></row>)x"
             R"x(<row r="3"><c r="A3"><f t="shared" si="0"/></c><c r="B3"><f t="array" ref="B3:B3">TRANSPOSE(<?x?>B1:B2)</f></c>)x"
             R"x(<c r="C3"><f>SUM(1,<b>2</b>)</f></c></row>)x")
      .Write(book);
  const std::map<std::string, std::string> whole = {
      {"S!A1", "SUM(B1:B9,C1:C9)+MAX(D1:D9,E1:E9)"}, {"S!B1", R"(IF(A1>0,"a b",MIN(1,"<&>")))"},
      {"S!C1", "SUM(1, 2)"},  {"S!A2", "ROUND(B2,0)"}, {"S!A3", "ROUND(B3,0)"}, {"S!B3", "TRANSPOSE(B1:B2)"}};
  // Every formula but C3's, whose elements leave it unreadable.
  const auto readable = [&] {
    auto file = xlsx::WorkbookFile::Open(book.string());
    std::map<std::string, std::string> formulas;
    for (const auto& [cell, formula] : whole) {
      const auto at = xlsx::ParseCellAddress(std::string_view(cell).substr(2));
      formulas[cell] = xlsx::Utf8(*file->WorksheetAt(0).FormulaAt(at->row, at->col));
    }
    return formulas;
  };
  EXPECT_EQ(readable(), whole);
  auto r = RunCli({"format", book.string(), "--all", "--uncalibrated", "--store", (folder / "s.db").string()});
  EXPECT_NE(r.out.find(": 6 formulas formatted, 0 sent to text files, 1 skipped\n"), std::string::npos) << r.out << r.err;
  EXPECT_NE(r.out.find("S!C3: skipped: The formula of S!C3 holds XML elements"), std::string::npos) << r.out;
  for (const auto& [cell, formula] : readable()) EXPECT_NE(formula.find('\n'), std::string::npos) << cell << ": " << formula;
  r = RunCli({"unformat", book.string(), "--all"});
  EXPECT_NE(r.out.find(": 6 formulas unformatted, 0 already without layout, 1 skipped\n"), std::string::npos) << r.out << r.err;
  auto unformatted = whole;
  unformatted["S!C1"] = "SUM(1,2)";  // the space goes, as it would anywhere
  EXPECT_EQ(readable(), unformatted);
}

TEST(XlsxCli, FormulasBeyondTheSpreadsheetsLimitsAreSkippedQuickly) {
  TempFolder folder;
  const fs::path book = folder / "deep.xlsx";
  std::string deep;
  for (int k = 0; k < 6000; ++k) deep += "IF(A1,";
  deep += "1" + std::string(6000, ')');
  std::string nested64;
  for (int k = 0; k < 64; ++k) nested64 += "ABS(";
  nested64 += "A1" + std::string(64, ')');
  std::string nested100;
  for (int k = 0; k < 100; ++k) nested100 += "ABS(";
  nested100 += "A1" + std::string(100, ')');
  XlsxBuilder()
      .Sheet("S", "<row r=\"1\"><c r=\"A1\"><f>" + deep + "</f></c><c r=\"B1\"><f>" + std::string(8192, '1') +
                      "</f></c><c r=\"C1\"><f>" + nested64 + "</f></c><c r=\"D1\"><f>" + nested100 + "</f></c></row>")
      .Write(book);
  const auto start = std::chrono::steady_clock::now();
  const auto r = RunCli({"format", book.string(), "--all", "--uncalibrated", "--store", (folder / "s.db").string()});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(r.status, 0) << r.err;
  // At the limit the layout is too long for the cell and goes to a text file of modest size.
  EXPECT_NE(r.out.find(": 0 formulas formatted, 1 sent to a text file, 3 skipped\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("S!A1: skipped: S!A1 is left alone: its formula is longer than the 8192 characters"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("S!D1: skipped: S!D1 is left alone: its functions nest more than the 64 levels"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("S!B1: skipped: S!B1 is left alone: its formula is longer than the 8192 characters"), std::string::npos) << r.out;
  const std::vector<std::string> files = folder.Files();
  ASSERT_EQ(files.size(), 3U);
  EXPECT_EQ(files[1], "deep.xlsx - S - C1 - formatted formula.txt");
  EXPECT_LT(fs::file_size(folder / files[1]), 64U << 10);
}

// A run over many worksheets holds about one worksheet's text at a time: eight worksheets of
// 6 MB each (a formula and a comment between the rows) cost the program a few times one of them
// beyond what it needs to start, far from their sum; every formula is laid out and taken back.
TEST(XlsxCli, ManyLargeWorksheetsCostAboutOneOfThem) {
  TempFolder folder;
  const fs::path book = folder / "wide.xlsx";
  constexpr std::size_t kSheets = 8, kPadding = 6U << 20;
  std::map<std::string, std::string> before;
  {
    // Padding that does not pack well (a packed worksheet of spaces is refused as a ZIP bomb).
    std::string padding = "<!--";
    std::uint32_t seed = 1;
    while (padding.size() < kPadding) {
      seed = seed * 1664525U + 1013904223U;
      padding += static_cast<char>('a' + (seed >> 24) % 26);
    }
    padding += "-->";
    XlsxBuilder builder;
    for (std::size_t k = 1; k <= kSheets; ++k)
      builder.Sheet("S" + std::to_string(k), "<row r=\"1\"><c r=\"A1\"><f>SUM(B1,MAX(C1,D1))</f></c></row>" + padding +
                                                 "<row r=\"2\"><c r=\"A2\"><v>1</v></c></row>");
    builder.Write(book);
    before = FormulasOf(book);
  }
  // The program's peak counts what this process holds when it starts the program.
  malloc_trim(0);
  const long start = RunCli({"help-path"}).peakKilobytes * 1024L;
  const auto beyondStart = [&](const testing::CliResult& r) { return r.peakKilobytes * 1024L - start; };

  auto r = RunCli({"format", book.string(), "--all", "--uncalibrated", "--store", (folder / "s.db").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(": 8 formulas formatted, 0 sent to text files, 0 skipped\n"), std::string::npos) << r.out;
  if (!kSanitized) {
    EXPECT_LT(beyondStart(r), static_cast<long>(3 * kPadding)) << r.peakKilobytes << " KiB at the peak";
  }
  r = RunCli({"unformat", book.string(), "--all"});
  ASSERT_EQ(r.status, 0) << r.err;
  if (!kSanitized) {
    EXPECT_LT(beyondStart(r), static_cast<long>(3 * kPadding)) << r.peakKilobytes << " KiB at the peak";
  }
  EXPECT_EQ(FormulasOf(book), before);
}

TEST(XlsxCli, AFontNameNoFontHasIsRefusedBeforeItReachesTheSettings) {
  TempFolder folder;
  const fs::path book = folder / "font.xlsx";
  XlsxBuilder().Font(std::string(100000, 'F'), 11).Sheet("S", R"(<row r="1"><c r="A1"><f>SUM(1,2)</f></c></row>)").Write(book);
  const std::string before = testsupport::ReadBytes(book);
  const auto r = RunCli({"format", book.string(), "--all", "--uncalibrated", "--store", (folder / "s.db").string()});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("longer than the 31 characters a font name can have"), std::string::npos) << r.err;
  EXPECT_LT(r.err.size(), 1000U) << "the name is not repeated whole";
  EXPECT_EQ(testsupport::ReadBytes(book), before);
  for (const auto& name : folder.Files())
    EXPECT_LT(fs::file_size(folder / name), 100000U) << name;
}

TEST(XlsxCli, OutputGoesElsewhereWhenAsked) {
  Cli cli;
  const fs::path out = cli.folder / "formatted.xlsx";
  auto r = cli.Run({"format", cli.book.string(), "Sheet1!A1", "--uncalibrated", "--output", out.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(testsupport::ReadBytes(cli.book), testsupport::ReadBytes(cli.original));
  EXPECT_NE(FormulasOf(out).at("Sheet1!A1").find('\n'), std::string::npos);
}

TEST(XlsxCli, BadInputIsAClearErrorAndChangesNothing) {
  Cli cli;
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const fs::path notBook = cli.folder / "notes.xlsx";
  testsupport::WriteBytes(notBook, "just text\n");
  const std::vector<Case> cases = {
      {{"format", notBook.string(), "Sheet1!A1"}, 1, "not a workbook file"},
      {{"format", (cli.folder / "missing.xlsx").string(), "Sheet1!A1"}, 1, "cannot be opened"},
      {{"format", cli.book.string(), "Nowhere!A1"}, 2, "no worksheet named \"Nowhere\""},
      {{"format", cli.book.string(), "Sheet1!A0"}, 2, "is not a cell or range"},
      {{"format", cli.book.string(), "Sheet1!A1", "--all"}, 2, "--all takes no CELL"},
      {{"format", cli.book.string()}, 2, "expected CELL"},
      {{"format", cli.book.string(), "Sheet1!A1", "--mono"}, 2, "single formulas"},
      {{"format", cli.book.string(), "Sheet1!A1", "--separator", "a"}, 2, "cannot serve"},
      {{"format", cli.book.string(), "Sheet1!Z99", "--uncalibrated"}, 1, "no formula found"},
      {{"unformat", cli.book.string(), "'Sheet1!A1"}, 2, "no worksheet named"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const auto r = c.args[0] == "format" ? cli.Run(c.args) : cli.Unformat(c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << r.out << r.err;
  }
  EXPECT_EQ(testsupport::ReadBytes(cli.book), testsupport::ReadBytes(cli.original));
  EXPECT_EQ(testsupport::ReadBytes(notBook), "just text\n");
}

}  // namespace
}  // namespace corvane
