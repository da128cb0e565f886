// `corvane format|unformat BOOK.xlsx CELL` as a user runs them: cells, ranges and --all, what the
// program says (names from the file escaped), text files beside the workbook, the questions on a
// terminal; and nothing lost under runs at once, locks, signals and the file size limit.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hosts/xlsx/workbook_file.h"
#include "hosts/xlsx/xml_text.h"
#include "support/corpus.h"
#include "support/on_terminal.h"
#include "support/run_cli.h"
#include "support/xlsx_builder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::CliResult;
using testsupport::FormulasOf;
using testsupport::ReadBytes;
using testsupport::TempFolder;
using testsupport::XlsxBuilder;

// The program with its store in `folder` and no desktop; --uncalibrated for `format`.
CliResult Cli(const TempFolder& folder, std::vector<std::string> args, void (*beforeExec)() = nullptr) {
  if (args.front() == "format") args.emplace_back("--uncalibrated");
  return testing::RunCli(args, {}, {{"CORVANE_STORE", (folder / "s.db").string()}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}},
                         beforeExec);
}

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

TEST(XlsxCli, CellsRangesAndEveryFormulaTheirWayAndBack) {
  TempFolder root;
  // A folder whose name is not UTF-8 (Latin-1 "café") still receives the text file.
  const fs::path folder = root / "caf\xE9";
  fs::create_directory(folder);
  const fs::path book = folder / "Book.xlsx", original = root / "original.xlsx";
  Workbook().Write(book);
  fs::copy_file(book, original);
  const std::string shown = (root / "caf\\xE9" / "Book.xlsx").string();  // as the terminal shows it

  CliResult r = Cli(root, {"format", book.string(), "'My Sheet'!B7", "--excel-version", "11.0", "--notepad"});
  EXPECT_EQ(r.out, shown + ": 0 formulas formatted, 1 sent to a text file, 0 skipped\n  'My Sheet'!B7: sent to " + shown +
                       " - My Sheet - B7 - formatted formula.txt\n" + shown + " was not changed\n");
  EXPECT_TRUE(fs::exists(folder / "Book.xlsx - My Sheet - B7 - formatted formula.txt"));
  r = Cli(root, {"format", book.string(), "Sheet1!Z99"});
  EXPECT_TRUE(r.status == 1 && r.out.find("no formula found") != std::string::npos) << r.out;
  // Into another file (--output): only the worksheet of the cell differs there, the workbook stays.
  r = Cli(root, {"format", book.string(), "Sheet1!A2", "--output", (folder / "out.xlsx").string()});
  EXPECT_EQ(r.out, shown + ": 1 formula formatted, 0 sent to text files, 0 skipped\nsaved " + (root / "caf\\xE9" / "out.xlsx").string() + "\n");
  EXPECT_NE(FormulasOf(folder / "out.xlsx").at("Sheet1!A2").find('\n'), std::string::npos);
  EXPECT_EQ(testsupport::ChangedEntries(original, folder / "out.xlsx"), std::vector<std::string>{"xl/worksheets/sheet1.xml"});
  EXPECT_EQ(ReadBytes(book), ReadBytes(original));

  r = Cli(root, {"format", book.string(), "'It''s'!A1"});
  EXPECT_TRUE(FormulasOf(book).at("It's!A1").starts_with("_xlfn.CONCAT(\n"));
  // A range: the array block counts once; a formula without parentheses is skipped with the reason.
  r = Cli(root, {"format", book.string(), "Sheet1!A1:C5"});
  EXPECT_NE(r.out.find(": 3 formulas formatted, 0 sent to text files, 1 skipped\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  Sheet1!C1: skipped: Unable to format this cell. (the formula has no parenthesis to lay out)\n"),
            std::string::npos) << r.out;

  // Every formula, a shared group's members following their master; the layout a formula has is
  // taken out before it is laid out again, so that a second run changes nothing.
  r = Cli(root, {"format", book.string(), "--all", "--all-parens"});
  EXPECT_NE(r.out.find(": 7 formulas formatted, 0 sent to text files, 1 skipped\n"), std::string::npos) << r.out;
  const auto formatted = FormulasOf(book);
  for (const auto& [cell, formula] : formatted)
    EXPECT_EQ(formula.find('\n') == std::string::npos, cell == "Sheet1!C1") << cell << ": " << formula;
  std::string moved = formatted.at("Sheet1!E6");
  std::replace(moved.begin(), moved.end(), '6', '9');
  EXPECT_EQ(formatted.at("Sheet1!E9"), moved);
  const std::string once = ReadBytes(book);
  r = Cli(root, {"format", book.string(), "--all", "--all-parens"});
  EXPECT_NE(r.out.find(shown + " was not changed\n"), std::string::npos) << r.out;
  EXPECT_EQ(ReadBytes(book), once);
  // A workbook is known by its content, whatever its name.
  fs::rename(book, folder / "Book");
  r = Cli(root, {"unformat", (folder / "Book").string(), "--all"});
  EXPECT_NE(r.out.find(": 7 formulas unformatted, 1 already without layout, 0 skipped\n"), std::string::npos) << r.out;
  fs::rename(folder / "Book", book);
  // Every part's content as it was, the worksheets byte for byte (cached values, shared groups).
  EXPECT_EQ(testsupport::ZipContents(book), testsupport::ZipContents(original));

  // Fit Width 80 for one run (also given before the workbook): every formula here fits and keeps its
  // one line, which the run without it breaks; the stored option stays off.
  const std::string broken = (root / "broken.xlsx").string(), fitted = (root / "fitted.xlsx").string();
  ASSERT_EQ(Cli(root, {"format", book.string(), "--all", "--output", broken}).status, 0);
  ASSERT_EQ(Cli(root, {"format", "--fit-width", "80", book.string(), "--all", "--output", fitted}).status, 0);
  EXPECT_EQ(FormulasOf(fitted), FormulasOf(original));
  EXPECT_NE(FormulasOf(broken).at("My Sheet!B7").find('\n'), std::string::npos);
  EXPECT_NE(Cli(root, {"settings"}).out.find("Fit Width: off\n"), std::string::npos);
}

TEST(XlsxCli, TheCalibrationQuestionsAreAskedOnceAndTheirAnswersStandForEveryCell) {
  TempFolder folder;
  Workbook().Write(folder / "Book.xlsx");
  testing::OnTerminal program({"format", (folder / "Book.xlsx").string(), "Sheet1!A1:C5", "--store", (folder / "s.db").string()});
  ASSERT_TRUE(program.WaitFor("Calibrate now?")) << program.screen();
  program.Type("n");
  ASSERT_TRUE(program.WaitFor("Format formula now anyway?")) << program.screen();
  program.Type("y");
  EXPECT_EQ(program.Finish(), 0) << program.screen();
  const std::string screen = program.screen();
  for (const char* question : {"Calibrate now?", "Format formula now anyway?"})
    EXPECT_EQ(screen.find(question), screen.rfind(question)) << screen;
  EXPECT_NE(screen.find(": 3 formulas formatted, 0 sent to text files, 1 skipped"), std::string::npos) << screen;
}

// The store keeps one set of widths per font name: the calibration a workbook of any size starts
// by itself stores what `corvane calibrate` stores, and lays the formula out alike.
TEST(XlsxCli, AFontNameIsCalibratedAlikeWhateverTheWorkbooksSize) {
  TempFolder folder;
  const auto run = [&](const std::string& store, std::vector<std::string> args) {
    args.insert(args.end(), {"--store", (folder / store).string()});
    return testing::RunCli(args, {}, {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  };
  const std::string cells = R"(<row r="1"><c r="A1"><f>IF(ISNUMBER(#REF!),SUM(A2:A9),0)</f></c></row>)";
  ASSERT_EQ(run("ref.db", {"calibrate", "--font", "Arial"}).status, 0);
  const std::string widths = run("ref.db", {"calibrate", "--font", "Arial", "--show"}).out;
  for (const double size : {10.0, 14.5}) {
    SCOPED_TRACE(size);
    const std::string name = std::to_string(size), own = name + ".xlsx", withRef = name + "-ref.xlsx";
    for (const auto& book : {own, withRef}) XlsxBuilder().Font("Arial", size).Sheet("S", cells).Write(folder / book);
    ASSERT_EQ(run(name + ".db", {"format", (folder / own).string(), "--all"}).status, 0);  // calibrates first
    EXPECT_EQ(run(name + ".db", {"calibrate", "--font", "Arial", "--show"}).out, widths);
    ASSERT_EQ(run("ref.db", {"format", (folder / withRef).string(), "--all"}).status, 0);
    EXPECT_EQ(FormulasOf(folder / own), FormulasOf(folder / withRef));
  }
}

// Formulas the file holds in odd ways: split by comments, CDATA or instructions (read whole),
// holding elements, shared without a master or above it (following it), in a data table, or
// beyond the spreadsheet's limits (skipped quickly, with the reason).
TEST(XlsxCli, OddFormulasAreReadWholeOrSkippedWithTheirReason) {
  TempFolder folder;
  const fs::path book = folder / "odd.xlsx";
  const auto nested = [](int depth, const std::string& open) {
    std::string s;
    for (int k = 0; k < depth; ++k) s += open;
    return s + "1" + std::string(static_cast<std::size_t>(depth), ')');
  };
  XlsxBuilder()
      .Sheet("S",
             R"x(<row r="1"><c r="A1"><f>SUM(1,2)</f><v>3</v></c><c r="G1"><f t="dataTable" ref="G1:G2" dt2D="0" dtr="0" r1="A1"/><v>1</v></c></row>)x"
             R"x(<row r="2"><c r="E2"><f t="shared" si="5"/><v>0</v></c><c r="F2"><f t="shared" si="7"/><v>0</v></c></row>)x"
             R"x(<row r="3"><c r="E3"><f t="shared" ref="E2:E3" si="5">ABS(A1)</f><v>0</v></c></row>)x")
      .Sheet("X",
             R"x(<row r="1"><c r="A1"><f>SUM(B1:B9,C1:C9)<![CDATA[]]>+MAX(D1:D9,E1:E9)</f><v>0</v></c>)x"
             R"x(<c r="B1"><f>IF(A1&gt;0,<!-- why -->"a b"<?pi x?>,<![CDATA[MIN(1,"<&>")]]>)</f></c>)x"
             R"x(<c r="C1"><f>SUM(1,<!--a--> <!--b-->2)</f></c></row>)x"
             R"x(<row r="2"><c r="A2"><f t="shared" ref="A2:A3" si="0">ROUND(<!---->B2,<![CDATA[0]]>)</f></c></row>)x"
             R"x(<row r="3"><c r="A3"><f t="shared" si="0"/></c><c r="C3"><f>SUM(1,<b>2</b>)</f></c></row>)x")
      .Sheet("L", "<row r=\"1\"><c r=\"A1\"><f>" + nested(6000, "IF(A1,") + "</f></c><c r=\"C1\"><f>" + nested(64, "ABS(") + "</f></c></row>")
      .Write(book);
  const std::map<std::string, std::string> whole = {
      {"X!A1", "SUM(B1:B9,C1:C9)+MAX(D1:D9,E1:E9)"}, {"X!B1", R"(IF(A1>0,"a b",MIN(1,"<&>")))"},
      {"X!C1", "SUM(1, 2)"}, {"X!A2", "ROUND(B2,0)"}, {"X!A3", "ROUND(B3,0)"},
      {"S!E2", "ABS(#REF!)"}, {"S!E3", "ABS(A1)"}};
  // A cell above its group's master reads the reference moved off the sheet as the spreadsheet
  // does, and keeps it when the master leaves the group.
  const auto read = [&] {
    auto file = xlsx::WorkbookFile::Open(book.string());
    std::map<std::string, std::string> formulas;
    for (const auto& [cell, formula] : whole) {
      const auto at = xlsx::ParseCellAddress(std::string_view(cell).substr(2));
      formulas[cell] = xlsx::Utf8(*file->WorksheetAt(cell[0] == 'S' ? 0 : 1).FormulaAt(at->row, at->col));
    }
    return formulas;
  };
  EXPECT_EQ(read(), whole);
  const auto start = std::chrono::steady_clock::now();
  CliResult r = Cli(folder, {"format", book.string(), "--all"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(": 6 formulas formatted, 1 sent to a text file, 4 skipped\n"), std::string::npos) << r.out;
  for (const char* reason :
       {"S!F2: skipped: The shared formula of S!F2 has no master cell", "S!G1: skipped: S!G1 belongs to a data table",
        "X!C3: skipped: The formula of X!C3 holds XML elements",
        "L!A1: skipped: L!A1 is left alone: the formula is longer than the 8192 characters"})
    EXPECT_NE(r.out.find(reason), std::string::npos) << reason << "\n" << r.out;
  for (const auto& [cell, formula] : read()) EXPECT_NE(formula.find('\n'), std::string::npos) << cell << ": " << formula;
  // At the limit the layout is too long for the cell and goes to a text file of modest size.
  EXPECT_LT(fs::file_size(folder / "odd.xlsx - L - C1 - formatted formula.txt"), 64U << 10);

  r = Cli(folder, {"unformat", book.string(), "--all"});
  EXPECT_NE(r.out.find(": 6 formulas unformatted, 1 already without layout, 4 skipped\n"), std::string::npos) << r.out << r.err;
  auto unformatted = whole;
  unformatted["X!C1"] = "SUM(1,2)";  // the space goes, as it would anywhere
  EXPECT_EQ(read(), unformatted);
}

// Names from the file reach the terminal escaped; a name no file can have is a reason to skip.
TEST(XlsxCli, NamesFromTheWorkbookReachTheTerminalEscaped) {
  TempFolder folder;
  const std::string cells = R"(<row r="1"><c r="A1"><f>A2+A3</f><v>0</v></c><c r="B1"><f>SUM(1,MAX(2,3))</f><v>3</v></c></row>)";
  // Character references the builder would escape, in the sheet's name.
  auto entries = XlsxBuilder().Sheet("PLACEHOLDER", cells).Sheet("a/b", cells).Entries();
  for (auto& [name, content] : entries)
    if (name == "xl/workbook.xml") content.replace(content.find("PLACEHOLDER"), 11, "A&#27;]0;PWNED&#7;&#27;[2J&#155;");
  testsupport::WriteZip(folder / "Book.xlsx", entries);
  const std::string shown = R"(A\x1B]0;PWNED\x07\x1B[2J\xC2\x9B)";
  const CliResult r = Cli(folder, {"format", (folder / "Book.xlsx").string(), "--all", "--notepad"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  for (const std::string& line :
       {"  '" + shown + "'!A1: skipped: Unable to format this cell. (the formula has no parenthesis to lay out)\n",
        "  '" + shown + "'!B1: sent to " + (folder / "Book.xlsx - ").string() + shown + " - B1 - formatted formula.txt\n",
        std::string("  'a/b'!B1: skipped: Path/File access error: the text file \"Book.xlsx - a/b - B1 - formatted formula.txt\" "
                    "cannot be written: its name holds a \"/\"")})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  EXPECT_EQ(r.out.find('\x1B'), std::string::npos) << r.out;
}

// A layout the spreadsheet refuses is skipped with its reason, the cell kept as it was; the text
// file takes it when layouts are sent there.
TEST(XlsxCli, ALayoutTheSpreadsheetRefusesIsSkippedOrSentToTheTextFile) {
  TempFolder folder;
  const fs::path book = folder / "Book.xlsx";
  XlsxBuilder().Sheet("S", R"(<row r="1"><c r="A1"><f>SUM(A:A)</f></c><c r="B1"><f>SUM(1,2)</f></c></row>)").Write(book);
  CliResult r = Cli(folder, {"format", book.string(), "--all"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(": 1 formula formatted, 0 sent to text files, 1 skipped\n  S!A1: skipped: The formula has a line "
                       "break right before the whole-column reference A:A.\n"), std::string::npos) << r.out;
  EXPECT_EQ(FormulasOf(book).at("S!A1"), "SUM(A:A)");
  EXPECT_EQ(Cli(folder, {"format", book.string(), "S!A1", "--notepad"}).status, 0);
  EXPECT_TRUE(fs::exists(folder / "Book.xlsx - S - A1 - formatted formula.txt"));
}

// A worksheet of many formulas is formatted, then unformatted, in two shares at once: the
// workbook, the summaries and the text files come out as in one share, whatever the cells hold
// (special characters, measured by the first share only; shared and array formulas, which change
// other cells; layouts too long for the cell; refusals; formulas without parentheses; data
// tables).
TEST(XlsxCli, ManyFormulasInTwoSharesComeOutAsInOne) {
  TempFolder folder;
  std::string rows;
  const auto& corpus = corpus::LoadCorpus();
  std::size_t next = 0;
  for (int r = 1; r <= 1100; ++r) {
    const std::string n = std::to_string(r);
    std::u16string formula;
    while (formula.find(u'(') == std::u16string::npos || formula.find(u'\n') != std::u16string::npos)
      formula = corpus[next++ % corpus.size()].text;
    std::string text;
    xlsx::AppendEscapedText(text, corpus::Utf16ToUtf8(std::u16string_view(formula).substr(1)));
    rows += R"(<row r=")" + n + R"("><c r="A)" + n + R"("><f>)" + text + "</f></c>";
    if (r % 97 == 0) rows += R"(<c r="B)" + n + R"("><f>IF(A1&gt;0,"Ωμέγα ≥ )" + n + R"("&amp;LEN("ЖЖ"),0)</f></c>)";
    if (r % 89 == 0) rows += R"(<c r="C)" + n + R"("><f>A1+B1</f></c>)";
    if (r == 500) rows += R"(<c r="D500"><f t="shared" ref="D500:D520" si="0">SUM(A500,1)</f></c>)";
    if (r > 500 && r <= 520) rows += R"(<c r="D)" + n + R"("><f t="shared" si="0"/></c>)";
    if (r == 600) rows += R"(<c r="E600"><f t="array" ref="E600:E601">IF(A1:A2&gt;1,A1:A2*2,0)</f></c>)";
    if (r == 601) rows += R"(<c r="E601"><v>0</v></c>)";
    if (r == 700) rows += R"(<c r="F700"><f t="dataTable" ref="F700:F701" dt2D="0" dtr="0" r1="A1"/></c>)";
    if (r % 150 == 0) rows += R"(<c r="G)" + n + R"("><f>SUM(A:A)</f></c>)";
    rows += "</row>";
  }
  const auto run = [&](const std::string& name, const std::string& threads) {
    fs::create_directory(folder / name);
    const fs::path book = folder / name / "Book.xlsx";
    XlsxBuilder().Sheet("S", rows).Write(book);
    CliResult r = testing::RunCli({"format", book.string(), "--all", "--excel-version", "11.0"}, {},
                                  {{"CORVANE_STORE", (folder / "s.db").string()}, {"CORVANE_THREADS", threads},
                                   {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
    const auto relative = [&](std::string text) {
      for (std::size_t at; (at = text.find((folder / name).string())) != std::string::npos;)
        text.replace(at, (folder / name).string().size(), "FOLDER");
      return text;
    };
    const std::string out = relative(r.out);
    std::map<std::string, std::string> files = testsupport::ZipContents(book);
    for (const auto& entry : fs::directory_iterator(folder / name))
      if (entry.path().extension() == ".txt") files[entry.path().filename().string()] = testsupport::ReadBytes(entry.path());
    // Unformatted again, in as many shares.
    const CliResult u = testing::RunCli({"unformat", book.string(), "--all"}, {}, {{"CORVANE_THREADS", threads}});
    files["unformatted"] = relative(u.out + u.err) + std::to_string(u.status);
    for (auto& [entry, bytes] : testsupport::ZipContents(book)) files["unformatted " + entry] = std::move(bytes);
    return std::tuple{r.status, out + r.err, files};
  };
  ASSERT_EQ(testing::RunCli({"calibrate", "--store", (folder / "s.db").string()}, {}, {{"DISPLAY", ""}}).status, 0);
  const auto one = run("one", "1");
  const std::string& summary = std::get<1>(one);
  ASSERT_TRUE(summary.starts_with("FOLDER/Book.xlsx: ")) << summary.substr(0, 300);
  EXPECT_GT(std::stoi(summary.substr(18)), 600) << summary.substr(0, 300);  // formulas formatted
  for (const char* seen : {"sent to FOLDER/Book.xlsx - S - ", "S!C89: skipped: Unable to format this cell. (the formula has no parenthesis",
                           "S!F700: skipped", "S!G150: skipped: The formula has a line break"})
    EXPECT_NE(summary.find(seen), std::string::npos) << seen;
  EXPECT_NE(std::get<2>(one).at("unformatted").find("formulas unformatted"), std::string::npos);
  EXPECT_TRUE(run("two", "") == one) << "two shares differ from one";
  EXPECT_EQ(std::get<1>(run("bad", "two")), "corvane format: CORVANE_THREADS must be a whole number from 1 (\"two\" given)\n");
}

constexpr const char* kLaidOut = "SUM(\n       1,\n       2)";
constexpr const char* kPlain = "SUM(1,2)";

// One sheet "S" whose first row holds `cells` laid-out formulas (A1, B1, ...), and optionally an
// entry of `padding` random bytes stored as they are, so that writing the file takes a while.
void LaidOutBook(const fs::path& path, int cells, std::size_t padding = 0) {
  std::string row = R"(<row r="1">)";
  for (int i = 0; i < cells; ++i) row += R"(<c r=")" + std::string(1, static_cast<char>('A' + i)) + R"(1"><f>)" + kLaidOut + "</f><v>3</v></c>";
  XlsxBuilder book;
  book.Sheet("S", row + "</row>");
  std::string bytes(padding, '\0');
  std::generate(bytes.begin(), bytes.end(), std::mt19937(7));
  if (padding > 0) book.Entry("customXml/padding.bin", bytes).Stored(true);
  book.Write(path);
}

// Whether the hidden temporary files of the saves are all gone.
bool NoLeftovers(const TempFolder& folder) {
  return std::ranges::none_of(folder.Files(), [](const std::string& name) { return name.starts_with("."); });
}

TEST(XlsxCliSafety, RunsAtOnceOnOneWorkbookKeepEveryChange) {
  TempFolder folder;
  const fs::path book = folder / "Book.xlsx";
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    LaidOutBook(book, 4);
    std::vector<CliResult> results(4);
    std::vector<std::thread> runs;
    for (std::size_t i = 0; i < 4; ++i)
      runs.emplace_back([&, i] { results[i] = Cli(folder, {"unformat", book.string(), "S!" + std::string(1, char('A' + i)) + "1"}); });
    for (auto& run : runs) run.join();
    for (const auto& r : results) ASSERT_EQ(r.status, 0) << r.out << r.err;
    for (const auto& [cell, formula] : FormulasOf(book)) EXPECT_EQ(formula, kPlain) << cell;
  }
  EXPECT_TRUE(NoLeftovers(folder));
}

TEST(XlsxCliSafety, ARunWaitsForTheRunThatHoldsTheWorkbook) {
  TempFolder folder;
  const fs::path book = folder / "Book.xlsx";
  LaidOutBook(book, 1);
  const int held = open(book.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  CliResult r;
  std::thread run([&] { r = Cli(folder, {"unformat", book.string(), "S!A1"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  close(held);
  run.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("is locked by another run; waiting for it to finish"), std::string::npos) << r.err;
  EXPECT_EQ(FormulasOf(book).at("S!A1"), kPlain);
}

TEST(XlsxCliSafety, ASignalOrTheFileSizeLimitDuringTheWriteLeavesNoTemporaryFile) {
  TempFolder folder;
  const fs::path book = folder / "Book.xlsx";
  LaidOutBook(book, 1, std::size_t{16} << 20);
  const std::string original = ReadBytes(book);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    // The signal comes as soon as the temporary file of the save is there.
    const auto signal = [&](pid_t pid) {
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (NoLeftovers(folder) && std::chrono::steady_clock::now() < until) {
      }
      kill(pid, sig);
    };
    EXPECT_EQ(testing::RunCli({"unformat", book.string(), "S!A1"}, {}, {}, nullptr, signal).status, 128 + sig);
    EXPECT_TRUE(NoLeftovers(folder));
    EXPECT_TRUE(ReadBytes(book) == original) << "the workbook changed";
  }
  const CliResult r = Cli(folder, {"unformat", book.string(), "S!A1"}, [] {
    constexpr rlim_t kBytes = 65536;
    const rlimit limit = {kBytes, kBytes};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_DFL);
  });
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("cannot be written; it was not changed: File too large"), std::string::npos) << r.err;
  EXPECT_TRUE(NoLeftovers(folder));
  EXPECT_TRUE(ReadBytes(book) == original) << "the workbook changed";
}

}  // namespace
}  // namespace corvane
