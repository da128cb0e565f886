// The two cell commands on the in-memory workbook: formulate (what reaches the cell, the text
// file, the editor and the user, for each way a run can go) and unformat. Refused host calls are
// the fault-injection table's (test_fault_injection).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "addin/cls_corvane.h"
#include "base/options.h"
#include "formatting/formulate_command.h"
#include "formatting/unformat.h"
#include "hosts/memory/memory_workbook.h"
#include "spacing/calibrate_command.h"
#include "spacing/calibration_store.h"
#include "support/corpus.h"
#include "support/fake_delivery.h"
#include "support/fake_ui.h"
#include "windows/form.h"
#include "windows/picture_button.h"
#include "windows/window_prompter.h"

namespace corvane {
namespace {

using formulate::Ending;
using Texts = std::vector<std::u16string>;

std::string U8(std::u16string_view s) { return corpus::Utf16ToUtf8(s); }

Texts Lines(std::u16string_view text, std::u16string_view separator = u"\n") {
  Texts lines;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    lines.emplace_back(text.substr(start, end - start));
    if (end == std::u16string_view::npos) return lines;
    start = end + separator.size();
  }
}

const std::u16string kIfSum = u"=IF(A1,SUM(B1,C1),0)";
// kIfSum laid out for the text file, every width one character.
const Texts kIfSumNotepad = {u"=IF(", u"      A1,", u"      SUM(", u"            B1,", u"            C1",
                             u"         ),", u"      0", u"   )", u"   "};
const std::u16string kAlwaysSendFirstLine =
    u"Corvane is currently configured to always send the formatted formula to Notepad instead of formatting the "
    u"formula in the cell.";
const Texts kAlwaysSendHeader = {
    kAlwaysSendFirstLine, u"",
    u"To format formulas in their cells, go to Corvane Settings and uncheck \"Always Send to Notepad\".", u"", u"", u""};
const std::u16string kA1File = u"/home/user/tmp/Book1 - Sheet1 - A1 - formatted formula.txt";

class CellCommands : public ::testing::Test {
 protected:
  CellCommands() {
    ObjectRef ref = app_;
    corvane_.SetExcelApp(ref);
    // Notices are acknowledged; a question nobody scripted fails the test.
    fake_.ui.defaultModal = [](windows::Form& form) {
      windows::ClickPictureButton(form.ControlNamed(u"imgButtonOkMain"));
    };
    delivery_.environment.variables[u"tmp"] = u"/home/user/tmp";
  }

  // Every ordinary code of Calibri calibrated as `width`, except the space, which is the unit.
  void Calibrate(std::u16string_view width = u"1") {
    for (std::int32_t k = calibration::kFirstOrdinaryCode; k <= calibration::kLastOrdinaryCode; ++k)
      fake_.store.SaveSetting(u"Corvane", u"Spacing_Calibri", DecimalKey(k), k == 32 ? u"1" : width);
  }
  void SetOption(std::u16string_view key, bool on) {
    fake_.store.SaveSetting(u"Corvane", u"Settings", key, on ? u"1" : u"0");
  }
  void Select(std::u16string_view address, const std::u16string& formula, bool wrap = false) {
    auto range = sheet_->Range(address);
    range->SetFormula(formula);
    sheet_->SetCellWrap(range->row1(), range->col1(), wrap);
    app_->SetActiveCell(range);
  }
  std::u16string Cell(std::u16string_view address) {
    const auto r = sheet_->Range(address);
    return sheet_->CellFormula(r->row1(), r->col1());
  }
  Texts PromptsSince(std::size_t first) const {
    Texts prompts;
    for (std::size_t i = first; i < fake_.ui.Messages().size(); ++i) prompts.push_back(fake_.ui.Messages()[i].prompt);
    return prompts;
  }
  formulate::Outcome Run() { return formulate::FormulateCell(corvane_, *app_, Store(), prompter_); }
  std::u16string FileText(const std::u16string& path = kA1File) {
    const auto it = delivery_.files.written.find(path);
    EXPECT_NE(it, delivery_.files.written.end()) << U8(path);
    return it == delivery_.files.written.end() ? std::u16string() : it->second;
  }

  testsupport::FakeWindowSystem fake_;
  testsupport::FakeDelivery delivery_;
  std::shared_ptr<memory::MemoryApplication> app_ = memory::MemoryApplication::Create(&fake_.measurer);
  std::shared_ptr<memory::MemoryWorkbook> book_ = app_->AddWorkbook();
  std::shared_ptr<memory::MemorySheet> sheet_ = book_->Sheet(1);
  cls_corvane corvane_;
  windows::WindowPrompter prompter_;
};

// ---- Runs that end with a message or a question: the cell stays as it was ---------------------

TEST_F(CellCommands, RunsEndedByAMessageOrAnAnswerLeaveTheCellAsItWas) {
  Calibrate();  // Calibri only: Arial is not calibrated
  const std::u16string calibrate(formulate::kCalibratePrompt), anyway(formulate::kFormatAnywayPrompt),
      unable(formulate::kUnableToFormatPrompt);
  struct Case {
    std::u16string content;
    std::u16string font;
    Texts clicks;  // "" closes the window
    Ending ending;
    Texts prompts;
  };
  const std::vector<Case> cases = {
      {u"", u"Calibri", {}, Ending::Message, {std::u16string(formulate::kNoFormulaPrompt)}},
      {u"x", u"Calibri", {}, Ending::Message, {unable}},  // one character is content
      {u"=A1+B1", u"Calibri", {}, Ending::Message, {unable}},
      // A text constant is the user's data even when it holds parentheses.
      {u"Total (net, before tax)", u"Calibri", {}, Ending::Message, {unable}},
      {u"42", u"Calibri", {}, Ending::Message, {unable}},
      // Text entered after an apostrophe is a constant, whatever it starts with.
      {u"'=IF(A1, SUM(B1, C1), 0)", u"Calibri", {}, Ending::Message, {unable}},
      // A constant is checked only after the widths, as a formula without parenthesis is.
      {u"note (draft)", u"Arial", {u"No", u"Yes"}, Ending::Message, {calibrate, anyway, unable}},
      {kIfSum, u"Arial", {u"No", u"No"}, Ending::Declined, {calibrate, anyway}},
      {kIfSum, u"Arial", {u"No", u""}, Ending::Declined, {calibrate, anyway}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.content + u" in " + c.font));
    app_->SetStandardFont(c.font);
    for (const auto& click : c.clicks) click.empty() ? fake_.ui.QueueCloseBox() : fake_.ui.QueueClick(click);
    const std::size_t shown = fake_.ui.Messages().size();
    Select(u"A1", c.content, true);
    const std::int32_t writes = app_->FormulaWrites();
    EXPECT_EQ(Run().ending, c.ending);
    EXPECT_EQ(app_->FormulaWrites(), writes);
    EXPECT_EQ(PromptsSince(shown), c.prompts);
    EXPECT_EQ(fake_.ui.Messages().back().buttons, c.ending == Ending::Declined ? (Texts{u"Yes", u"No"}) : Texts{u"OK"});
    EXPECT_EQ(Cell(u"A1"), c.content.starts_with(u'\'') ? c.content.substr(1) : c.content);
    EXPECT_TRUE(sheet_->CellWrap(1, 1));
  }
  EXPECT_EQ(app_->WorkbooksAdded(), 1) << "no calibration workbook";
  EXPECT_TRUE(delivery_.files.written.empty());
  EXPECT_TRUE(delivery_.editor.opened.empty());
}

// ---- The layout, into the cell or the text file -------------------------------------------

// Into the cell (its wrapping put back) or, with "Always Send to Notepad", into the text file
// under its explanation, the cell left alone: the text file's layout counts characters, whatever
// the calibration says. A layout the formula has goes first: its line feeds and the spaces that
// touch them (not inside literals or names); every other space stays. Options and the host's
// list separator are read at every run; the last line is written whole, whatever it holds.
TEST_F(CellCommands, TheLayoutGoesIntoTheCellOrTheTextFile) {
  Calibrate(u"0.6");
  // In the cell every character but the space counts 0.6 here: "=IF(" 2.4 + 7 spaces' width.
  const Texts ifSum = {u"=IF(", u"         A1,", u"         SUM(", u"                   B1,", u"                   C1", u"           ),", u"         0", u"  )", u"  "};
  struct Case {
    bool notepad, allParens;
    std::u16string separator, formula;
    Texts lines;
  };
  const std::vector<Case> cases = {
      {false, false, u",", kIfSum, ifSum},
      {false, false, u",", u"=IF(\n A1,SUM(B1,\n\n   C1),  \n  0\n)", ifSum},
      {false, false, u",", u"=IF(\n           A1,\n           SUM(\n B1,\n C1\n ),\n           0\n   )\n   ", ifSum},
      {false, false, u",", u"=IF(A1=\"a\n b\",T[x\n y], 1)",
       {u"=IF(", u"         A1=\"a", u" b\",", u"         T[x", u" y],", u"          1", u"  )", u"  "}},
      {true, false, u",", kIfSum, kIfSumNotepad},
      {true, true, u",", u"=SUM(A1*(B1+C1),2)",
       {u"=SUM(", u"       A1*(", u"             B1+C1", u"          ),", u"       2", u"    )", u"    "}},
      {true, false, u";", u"=IF(A1;B1,C1;2)", {u"=IF(", u"      A1;", u"      B1,C1;", u"      2", u"   )", u"   "}},
      {true, false, u",", u"=SUM(A1)+1", {u"=SUM(", u"       A1", u"    )", u"+1"}},
  };
  bool wrap = false;
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.formula) + (wrap ? " wrapping" : ""));
    SetOption(options::kAlwaysSendToNotepad, c.notepad);
    SetOption(options::kFormatAllParens, c.allParens);
    app_->SetListSeparator(c.separator);
    Select(u"A1", c.formula, wrap = !wrap);
    const std::int32_t writes = app_->FormulaWrites();
    const auto outcome = Run();
    EXPECT_EQ(app_->FormulaWrites() - writes, c.notepad ? 0 : 1);
    EXPECT_EQ(outcome.ending, c.notepad ? Ending::IntoFile : Ending::IntoCell);
    EXPECT_EQ(Lines(outcome.laidOut), c.lines);
    EXPECT_EQ(Cell(u"A1"), c.notepad ? c.formula : outcome.laidOut);
    EXPECT_EQ(sheet_->CellWrap(1, 1), wrap);
    if (!c.notepad) continue;
    // Under the explanation, the last line ended by CR LF too.
    const Texts file = Lines(FileText(), u"\r\n");
    ASSERT_EQ(file.size(), c.lines.size() + 7);
    EXPECT_EQ(Texts(file.begin(), file.begin() + 6), kAlwaysSendHeader);
    EXPECT_EQ(Texts(file.begin() + 6, file.end() - 1), c.lines);
    EXPECT_EQ(file.back(), u"");
  }
  EXPECT_EQ(delivery_.editor.opened, Texts(4, kA1File));
  EXPECT_TRUE(fake_.ui.Messages().empty());
}

// "Fit Width" is read at every run: the cell measures in widths of "0" (0.6 here, as every
// character but the space), the text file in characters; a text that is no width is off. The
// length limit applies to the fitted layout: 200 arguments go into a version 11 cell on one line.
TEST_F(CellCommands, FitWidthIsReadAtEveryRunAndTheLimitAppliesToTheFittedLayout) {
  Calibrate(u"0.6");
  const Texts ifSumCell = {u"=IF(", u"         A1,", u"         SUM(", u"                   B1,", u"                   C1", u"           ),", u"         0", u"  )", u"  "};
  struct Case {
    std::u16string width;
    bool notepad;
    Texts lines;
  };
  for (const Case& c : std::vector<Case>{{u"20", false, {kIfSum}},
                                         {u"19", false, ifSumCell},
                                         {u"20", true, {kIfSum}},
                                         {u"19", true, {u"=IF(", u"      A1,", u"      SUM(B1,C1),", u"      0", u"   )", u"   "}},
                                         {u"20x", false, ifSumCell},
                                         {u"-20", true, kIfSumNotepad}}) {
    SCOPED_TRACE(U8(c.width) + (c.notepad ? " notepad" : ""));
    fake_.store.SaveSetting(u"Corvane", u"Settings", options::kFitWidth, c.width);
    SetOption(options::kAlwaysSendToNotepad, c.notepad);
    Select(u"A1", kIfSum);
    EXPECT_EQ(Lines(Run().laidOut), c.lines);
  }
  SetOption(options::kAlwaysSendToNotepad, false);
  app_->SetVersion(u"11.0");
  std::u16string many = u"=SUM(";
  for (int k = 0; k < 200; ++k) many += u"A1,";
  many.back() = u')';
  for (const auto& [width, ending] : {std::pair{u"0", Ending::IntoFile}, std::pair{u"32767", Ending::IntoCell}}) {
    fake_.store.SaveSetting(u"Corvane", u"Settings", options::kFitWidth, width);
    Select(u"A1", many);
    EXPECT_EQ(Run().ending, ending) << U8(width);
  }
  EXPECT_EQ(Cell(u"A1"), many);
}

// Both commands on an array block: FormulaArray over the whole block, every cell's wrapping kept;
// the next run on a plain cell uses Formula.
TEST_F(CellCommands, AnArrayBlockIsRewrittenWholeAndEveryCellKeepsItsWrapping) {
  Calibrate();
  // A line feed in a literal stays when the layout is taken out, so each way the host wraps the cells.
  const std::u16string formula = u"=IF(A1,SUM(B1,C1),\"a\nb\")";
  sheet_->Range(u"B2:C4")->SetFormulaArray(formula);
  // Each row and column holds an unwrapped cell that the host's write would wrap.
  const bool wraps[3][2] = {{true, false}, {false, true}, {false, true}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 2; ++c) sheet_->SetCellWrap(2 + r, 2 + c, wraps[r][c]);
  const auto expectBlock = [&](const std::u16string& text) {
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 2; ++c) {
        SCOPED_TRACE(testing::Message() << "row " << 2 + r << " column " << 2 + c);
        EXPECT_TRUE(sheet_->CellInArray(2 + r, 2 + c));
        EXPECT_EQ(sheet_->CellFormula(2 + r, 2 + c), text);
        EXPECT_EQ(sheet_->CellWrap(2 + r, 2 + c), wraps[r][c]);
      }
    }
  };
  app_->SetActiveCell(sheet_->Range(u"C3"));
  const std::int32_t writes = app_->FormulaWrites();
  const auto outcome = Run();
  ASSERT_EQ(outcome.ending, Ending::IntoCell);
  expectBlock(outcome.laidOut);
  DeformulateCell(*app_);
  expectBlock(formula);
  EXPECT_EQ(app_->FormulaWrites() - writes, 2);

  Select(u"E5", u"=SUM(A1,B1)");
  const auto single = Run();
  ASSERT_EQ(single.ending, Ending::IntoCell);
  EXPECT_FALSE(sheet_->CellInArray(5, 5));
  EXPECT_EQ(Cell(u"E5"), single.laidOut);
  EXPECT_EQ(sheet_->CellFormula(2, 2), formula);
}

// The limit follows the version and counts every character of the layout. A layout over it goes
// to the text file under its explanation, in the text file's layout (character counts). (The
// explanation's numbers in the regional format: the Windows build's Notepad test.)
TEST_F(CellCommands, ALayoutOverTheVersionsLimitGoesToTheTextFileWithItsExplanation) {
  for (const auto& [version, limit] : std::vector<std::pair<std::u16string, std::int32_t>>{
           {u"11.5", 8192}, {u" 12.0 (Build 4518)", 8192}, {u"\t+12", 8192}, {u"11", 1024}, {u"-12", 1024},
           {u"Excel", 1024}, {u"19", 8192}, {u"11.09", 8192}})  // a 9 is a digit too
    EXPECT_EQ(formulate::FormulaLengthLimit(version), limit) << U8(version);

  Calibrate(u"0.5714");
  // The layout adds a fixed number of characters around a string literal's text.
  const auto formula = [](std::size_t n) { return u"=LEN(\"" + std::u16string(n, u'x') + u"\")"; };
  Select(u"A1", formula(10));
  const std::size_t overhead = Run().laidOut.size() - 10;
  struct Case {
    std::u16string version;
    std::size_t layoutLength;
    Ending ending;
  };
  for (const auto& c : std::vector<Case>{{u"11.0", 1024, Ending::IntoCell},
                                         {u"12.0", 1025, Ending::IntoCell},
                                         {u"12.0", 8192, Ending::IntoCell},
                                         {u"16.0", 8193, Ending::IntoFile},
                                         {u"11.0", 1025, Ending::IntoFile}}) {
    SCOPED_TRACE(U8(c.version) + " " + std::to_string(c.layoutLength));
    app_->SetVersion(c.version);
    Select(u"B7", formula(c.layoutLength - overhead), true);
    const auto outcome = Run();
    EXPECT_EQ(outcome.ending, c.ending);
    EXPECT_EQ(Cell(u"B7"), c.ending == Ending::IntoCell ? outcome.laidOut : formula(c.layoutLength - overhead));
    EXPECT_TRUE(sheet_->CellWrap(7, 2));
    if (c.ending == Ending::IntoCell) {
      EXPECT_EQ(outcome.laidOut.size(), c.layoutLength);
      continue;
    }
    const std::u16string path = u"/home/user/tmp/Book1 - Sheet1 - B7 - formatted formula.txt";
    EXPECT_EQ(delivery_.editor.opened.back(), path);
    EXPECT_EQ(Lines(outcome.laidOut)[1], std::u16string(7, u' ') + u"\"" + std::u16string(c.layoutLength - overhead, u'x') + u"\"");
    const Texts file = Lines(FileText(path), u"\r\n");
    ASSERT_GT(file.size(), 9U);
    EXPECT_TRUE(file[0].starts_with(u"Unable to enter this formatted formula into Excel, because it has too many"));
    EXPECT_EQ(file[2], u"This version of Excel allows a maximum of " +
                           FormatThousands(formulate::FormulaLengthLimit(c.version), {}) +
                           u" characters in a formula. This formatted formula has " +
                           FormatThousands(static_cast<double>(c.layoutLength), {}) +
                           u" characters when formatted for Calibri font, or " +
                           FormatThousands(static_cast<double>(outcome.laidOut.size()), {}) +
                           u" characters when formatted for a non-proportional font such as Courier New or Lucinda Console.");
    EXPECT_EQ(Texts(file.begin() + 8, file.end() - 1), Lines(outcome.laidOut));
  }
}

// The folder: the workbook's, else "tmp", else the temporary folder. A name that would leave it,
// or a file that cannot be written, ends the run quietly with nothing written or opened.
TEST_F(CellCommands, TheFileGoesIntoItsFolderOrNowhere) {
  Calibrate();
  SetOption(options::kAlwaysSendToNotepad, true);
  Select(u"A1", kIfSum);
  book_->SetPath(u"/data/budgets");
  book_->SetName(u"Budget.xlsx");
  sheet_->SetName(u"Q1");
  EXPECT_EQ(Run().filePath, u"/data/budgets/Budget.xlsx - Q1 - A1 - formatted formula.txt");
  book_->SetPath(u"");
  EXPECT_EQ(Run().filePath, u"/home/user/tmp/Budget.xlsx - Q1 - A1 - formatted formula.txt");
  book_->SetName(u"v1..2.xlsx");  // two dots inside a name are just part of it
  delivery_.environment.variables.clear();
  EXPECT_EQ(Run().filePath, u"/fallback/tmp/v1..2.xlsx - Q1 - A1 - formatted formula.txt");
  EXPECT_EQ(delivery_.editor.opened.size(), 3U);

  delivery_.editor.opened.clear();
  delivery_.files.written.clear();
  for (const auto& [book, sheet] : std::vector<std::pair<std::u16string, std::u16string>>{
           {u"Book1", u"../../etc"}, {u"../x", u"Sheet1"}, {u"Book1", u"a\\..\\b"},
           {u"Book1", std::u16string(u"a\0b", 3)}, {u"Book1", u"Sheet1"}}) {
    SCOPED_TRACE(U8(book) + " / " + U8(sheet));
    book_->SetName(book);
    sheet_->SetName(sheet);
    delivery_.files.fail = sheet == u"Sheet1" && book == u"Book1";
    EXPECT_EQ(Run().ending, Ending::Failed);
  }
  EXPECT_TRUE(delivery_.files.written.empty());
  EXPECT_TRUE(delivery_.editor.opened.empty());
  EXPECT_TRUE(fake_.ui.Messages().empty());
}

// ---- Widths and calibration questions --------------------------------------------------------

// The options and widths are read in full only when the store, the font or the width table
// changed since they were: a run after an unchanged one reads no width, yet a change is seen by
// the very next run; a font without widths asks at every run (the Arial rows of the first test).
TEST_F(CellCommands, OptionsAndWidthsAreReadAgainOnlyWhenSomethingChanged) {
  Calibrate(u"2");
  Select(u"A1", kIfSum);
  ASSERT_EQ(Run().ending, Ending::IntoCell);
  const std::u16string wide = Cell(u"A1");
  const auto readsOfRun = [&] {
    Select(u"A1", kIfSum);
    fake_.store.ResetCounts();
    EXPECT_EQ(Run().ending, Ending::IntoCell);
    return fake_.store.ReadCount();
  };
  EXPECT_LT(readsOfRun(), 10U);  // the options and the like, no width
  EXPECT_EQ(Cell(u"A1"), wide);
  Calibrate(u"1");  // another width stored, as a calibration would
  EXPECT_GE(readsOfRun(), 766U);
  const std::u16string narrow = Cell(u"A1");
  EXPECT_NE(narrow, wide);
  EXPECT_LT(readsOfRun(), 10U);
  // The table changed by someone else: read again, and the stored widths are back.
  corvane_.SpacingArray.at(65) = Variant(std::u16string(u"9"));
  EXPECT_GE(readsOfRun(), 766U);
  EXPECT_EQ(std::as_const(corvane_.SpacingArray).at(65), Variant(std::u16string(u"1")));
  EXPECT_EQ(Cell(u"A1"), narrow);

  // A store that reports no version is read at every run.
  struct Unversioned final : MemoryStore {
    StoreVersion Version() override { return {}; }
  } unversioned;
  for (const auto& [key, value] : fake_.store.Snapshot()) unversioned.SaveSetting(key.app, key.section, key.key, value);
  for (const bool notepad : {true, false, true}) {
    unversioned.SaveSetting(u"Corvane", u"Settings", options::kAlwaysSendToNotepad, notepad ? u"1" : u"0");
    Select(u"B7", kIfSum);
    unversioned.ResetCounts();
    EXPECT_EQ(formulate::FormulateCell(corvane_, *app_, unversioned, prompter_).ending,
              notepad ? Ending::IntoFile : Ending::IntoCell);
    EXPECT_GE(unversioned.ReadCount(), 766U);
  }
}

// The command keeps what it reads and measures with in the state it is given, the add-in object
// or any other: a line with a special character is measured by that state, and what the run read
// stays there for the next.
TEST_F(CellCommands, TheRunStateGivenMeasuresSpecialLinesAndKeepsWhatWasRead) {
  Calibrate();
  struct State final : formulate::RunState {
    double width = 0.0;
    Texts asked;
    double SpecialLineWidth(std::u16string_view line) override {
      asked.emplace_back(line);
      return width;
    }
  };
  const auto indentOfArgument = [&](State& state, double width) {
    state.width = width;
    state.asked.clear();
    Select(u"A1", u"=\u03A9(A1,B1)");
    EXPECT_EQ(formulate::FormulateCell(state, *app_, Store(), prompter_).ending, Ending::IntoCell);
    const std::u16string second = Lines(Cell(u"A1"))[1];
    return second.find_first_not_of(u' ');
  };
  State state;
  const std::size_t narrow = indentOfArgument(state, 10.0);
  ASSERT_FALSE(state.asked.empty());
  for (const auto& line : state.asked) EXPECT_NE(line.find(u'\u03A9'), std::u16string::npos) << U8(line);
  EXPECT_EQ(indentOfArgument(state, 30.0), narrow + 20);
  fake_.store.ResetCounts();
  indentOfArgument(state, 30.0);
  EXPECT_LT(fake_.store.ReadCount(), 10U);  // the widths stayed in the state
  // The add-in object was not involved.
  EXPECT_EQ(std::as_const(corvane_.SpacingArray).at(65), Variant());
}

// No, then Yes: every width one. Yes: the calibration runs and the widths it stored are read;
// cancelled part way, the question comes again at the first code still missing. (Closed without
// an answer, the question starts the calibration: test_format_cli's first use without a terminal.)
TEST_F(CellCommands, TheCalibrationQuestionsLeadToWidths) {
  // "Format anyway" on a first run lays out as if every width were one, the last ordinary
  // character's too (it stands before a "(", so its width counts).
  const std::u16string lastCode = u"=IF(A1,\"\u02FF\"&SUM(B1,C1),0)";
  app_->SetStandardFont(u"Arial");
  fake_.ui.QueueClick(u"No");
  fake_.ui.QueueClick(u"Yes");
  Select(u"A1", lastCode);
  EXPECT_EQ(Run().ending, Ending::IntoCell);
  EXPECT_TRUE(fake_.store.Keys(u"Corvane", u"Spacing_Arial").empty());
  const std::u16string anyway = Cell(u"A1");
  app_->SetStandardFont(u"Calibri");
  Calibrate();  // Calibri's widths are all one
  Select(u"A1", lastCode);
  EXPECT_EQ(Run().laidOut, anyway);

  app_->SetStandardFont(u"Verdana");
  Select(u"A1", kIfSum);
  fake_.ui.QueueClick(u"Yes");
  std::size_t events = 0;
  fake_.ui.onDoEvents = [&] {
    windows::Form* progress = fake_.ui.Open(u"frmCalibrationProgress");
    if (progress && progress->ControlNamed(u"pbCalibration").Value() >= 100.0F && ++events == 1)
      fake_.ui.Click(*progress, u"imgButtonCancelMain");
  };
  fake_.ui.QueueClick(u"No");
  fake_.ui.QueueClick(u"No");
  std::size_t shown = fake_.ui.Messages().size();
  EXPECT_EQ(Run().ending, Ending::Declined);
  const std::u16string calibrate(formulate::kCalibratePrompt);
  EXPECT_EQ(PromptsSince(shown), (Texts{calibrate, calibrate, std::u16string(formulate::kFormatAnywayPrompt)}));
  const auto firstMissing = static_cast<std::int32_t>(fake_.store.Keys(u"Corvane", u"Spacing_Verdana").size()) + 2;
  ASSERT_GT(firstMissing, 2);
  for (std::int32_t k = 2; k <= firstMissing; ++k)
    EXPECT_EQ(corvane_.SpacingArray.at(k) == Variant(std::u16string(calibration::kNotFound)), k == firstMissing) << k;
  EXPECT_EQ(Cell(u"A1"), kIfSum);
}

// ---- Unformat --------------------------------------------------------------------------------

TEST_F(CellCommands, UnformatBringsAFormulaToOneLineAndLeavesConstantsAlone) {
  const std::u16string longLayout = [] {
    std::u16string f = u"=SUM(\n";
    while (f.size() < 4000) f += u"     A1,\n";
    return f + u"     A1\n)";
  }();
  struct Case {
    std::u16string content;
    bool wrap;
    std::u16string version;
    std::u16string after;
    int writes;
  };
  const std::vector<Case> cases = {
      {u"=IF(\n      A1,\n      SUM(\n            B1,\n            C1\n         ),\n      0\n   )\n   ", true,
       u"16.0", kIfSum, 1},
      {kIfSum, true, u"16.0", kIfSum, 1},  // a second run changes nothing
      {u"=SUM(\n   A1 A2,\n   \"a\nb\"\n)", false, u"16.0", u"=SUM(A1 A2,\"a\nb\")", 1},
      {u"two  words\nand a line", true, u"16.0", u"two  words\nand a line", 0},
      {u"'=SUM(\n   1,\n   2\n)", true, u"16.0", u"=SUM(\n   1,\n   2\n)", 0},  // text, not a formula
      {u"", false, u"16.0", u"", 0},
      // Entered under a version that takes 8,192 characters; the one-line result is too long now.
      {longLayout, false, u"11.0", longLayout, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.content.substr(0, 20)));
    app_->SetVersion(u"16.0");
    Select(u"B7", c.content, c.wrap);
    app_->SetVersion(c.version);
    const std::int32_t writes = app_->FormulaWrites();
    EXPECT_TRUE(corvane_.cvDeformulateCell().isEmpty());
    EXPECT_EQ(Cell(u"B7"), c.after);
    EXPECT_EQ(sheet_->CellWrap(7, 2), c.wrap);
    EXPECT_EQ(app_->FormulaWrites() - writes, c.writes);
  }
}

// The host holder belongs to the thread: a fresh thread has none. A failure that escaped would
// end the test program.
TEST(CellCommandsWithoutHost, EndQuietlyBeforeSetExcelApp) {
  std::thread([] {
    cls_corvane addin;
    EXPECT_TRUE(addin.cvFormulateCell().isEmpty());
    EXPECT_TRUE(addin.cvDeformulateCell().isEmpty());
  }).join();
}

}  // namespace
}  // namespace corvane
