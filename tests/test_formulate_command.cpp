// The formulate-cell command on the in-memory workbook: what reaches the cell, the text file, the
// editor and the user, for each way a run can go.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "addin/cls_corvane.h"
#include "base/memory_store.h"
#include "base/options.h"
#include "base/prompter.h"
#include "formatting/formulate_command.h"
#include "formatting/notepad_file.h"
#include "spacing/calibrate_command.h"
#include "hosts/memory/memory_workbook.h"
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
using testsupport::FakeDelivery;
using testsupport::FakeWindowSystem;

std::string U8(std::u16string_view s) { return corpus::Utf16ToUtf8(s); }

std::vector<std::u16string> Lines(std::u16string_view text, std::u16string_view separator = u"\n") {
  std::vector<std::u16string> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    if (end == std::u16string_view::npos) {
      lines.emplace_back(text.substr(start));
      return lines;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + separator.size();
  }
}

class FormulateTest : public ::testing::Test {
 protected:
  FormulateTest() {
    app_ = memory::MemoryApplication::Create(&fake_.measurer);
    book_ = app_->AddWorkbook();
    sheet_ = book_->Sheet(1);
    ObjectRef ref = app_;
    corvane_.SetExcelApp(ref);
    // Notices are acknowledged; a question nobody scripted fails the test.
    fake_.ui.defaultModal = [](windows::Form& form) {
      windows::ClickPictureButton(form.ControlNamed(u"imgButtonOkMain"));
    };
    delivery_.environment.variables[u"tmp"] = u"/home/user/tmp";
  }

  // Every ordinary code calibrated as `width`, except the space, which is the unit.
  void Calibrate(std::u16string_view width = u"1") {
    for (std::int32_t k = calibration::kFirstOrdinaryCode; k <= calibration::kLastOrdinaryCode; ++k)
      fake_.store.SaveSetting(u"Corvane", u"Spacing_Calibri", DecimalKey(k), k == 32 ? u"1" : width);
  }
  void SetOption(std::u16string_view key, bool on) {
    fake_.store.SaveSetting(u"Corvane", u"Settings", key, on ? u"1" : u"0");
  }
  std::shared_ptr<memory::MemoryRange> Select(std::u16string_view address, const std::u16string& formula = {}) {
    auto range = sheet_->Range(address);
    if (!formula.empty()) range->SetFormula(formula);
    app_->SetActiveCell(range);
    return range;
  }
  std::u16string Cell(std::u16string_view address) {
    const auto r = sheet_->Range(address);
    return sheet_->CellFormula(r->row1(), r->col1());
  }
  std::vector<std::u16string> Prompts() const {
    std::vector<std::u16string> prompts;
    for (const auto& m : fake_.ui.Messages()) prompts.push_back(m.prompt);
    return prompts;
  }
  // The add-in's own path: the windows ask, here on the fake window system.
  formulate::Outcome Run() { return formulate::FormulateCell(corvane_, *app_, Store(), prompter_); }

  // The text of the one file written.
  std::u16string OnlyFileText() {
    EXPECT_EQ(delivery_.files.written.size(), 1U);
    return delivery_.files.written.empty() ? std::u16string() : delivery_.files.written.begin()->second;
  }

  FakeWindowSystem fake_;
  FakeDelivery delivery_;
  std::shared_ptr<memory::MemoryApplication> app_;
  std::shared_ptr<memory::MemoryWorkbook> book_;
  std::shared_ptr<memory::MemorySheet> sheet_;
  cls_corvane corvane_;
  windows::WindowPrompter prompter_;
};

const std::u16string kIfSum = u"=IF(A1,SUM(B1,C1),0)";
// The same formula laid out for the text file, every width one character.
const std::vector<std::u16string> kIfSumNotepad = {u"=IF(",        u"      A1,", u"      SUM(",
                                                   u"            B1,", u"            C1", u"         ),",
                                                   u"      0",     u"   )",       u"   "};

const std::u16string kAlwaysSendFirstLine =
    u"Corvane is currently configured to always send the formatted formula to Notepad instead of formatting the "
    u"formula in the cell.";
const std::vector<std::u16string> kAlwaysSendHeader = {
    kAlwaysSendFirstLine,
    u"",
    u"To format formulas in their cells, go to Corvane Settings and uncheck \"Always Send to Notepad\".",
    u"",
    u"",
    u""};

// ---- Cells the command does not lay out ------------------------------------------------------

TEST_F(FormulateTest, CellsWithoutAFormulaToLayOutEndWithTheirMessageAndStayAsTheyWere) {
  Calibrate();
  struct Case {
    std::u16string content;
    std::u16string_view prompt;
  };
  const std::vector<Case> cases = {
      {u"", formulate::kNoFormulaPrompt},
      {u"=A1+B1", formulate::kUnableToFormatPrompt},
      // A text constant is the user's data even when it holds parentheses.
      {u"Total (net, before tax)", formulate::kUnableToFormatPrompt},
      {u"42", formulate::kUnableToFormatPrompt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.content));
    const std::size_t shown = fake_.ui.Messages().size();
    sheet_->Range(u"A1")->SetFormula(c.content);
    sheet_->SetCellWrap(1, 1, true);
    Select(u"A1");

    EXPECT_EQ(Run().ending, Ending::Message);
    ASSERT_EQ(fake_.ui.Messages().size(), shown + 1);
    EXPECT_EQ(fake_.ui.Messages().back().prompt, c.prompt);
    EXPECT_EQ(fake_.ui.Messages().back().title, u"Corvane");
    EXPECT_EQ(fake_.ui.Messages().back().buttons, std::vector<std::u16string>{u"OK"});
    EXPECT_EQ(Cell(u"A1"), c.content);
    EXPECT_TRUE(sheet_->CellWrap(1, 1));
  }
  EXPECT_TRUE(delivery_.files.written.empty());
  EXPECT_TRUE(delivery_.editor.opened.empty());
}

TEST_F(FormulateTest, AConstantIsCheckedOnlyAfterTheWidthsAsAFormulaWithoutParenthesisIs) {
  Select(u"A1", u"note (draft)");
  fake_.ui.QueueClick(u"No");
  fake_.ui.QueueClick(u"Yes");
  const auto outcome = Run();
  EXPECT_EQ(outcome.ending, Ending::Message);
  EXPECT_EQ(Prompts(), (std::vector<std::u16string>{std::u16string(formulate::kCalibratePrompt),
                                                    std::u16string(formulate::kFormatAnywayPrompt),
                                                    std::u16string(formulate::kUnableToFormatPrompt)}));
  EXPECT_EQ(Cell(u"A1"), u"note (draft)");
}

// ---- Into the cell ---------------------------------------------------------------------------

TEST_F(FormulateTest, OptionsAndListSeparatorAreReadAtEveryRun) {
  Calibrate();
  SetOption(options::kAlwaysSendToNotepad, true);
  Select(u"B7", u"=SUM(A1*(B1+C1),2)");
  const std::u16string b7 = u"/home/user/tmp/Book1 - Sheet1 - B7 - formatted formula.txt";

  Run();
  auto expected = kAlwaysSendHeader;
  for (const auto* line : {u"=SUM(", u"       A1*(B1+C1),", u"       2", u"    )", u"    ", u""})
    expected.emplace_back(line);
  EXPECT_EQ(Lines(delivery_.files.written.at(b7), u"\r\n"), expected);

  SetOption(options::kFormatAllParens, true);
  Run();
  expected.resize(kAlwaysSendHeader.size());
  for (const auto* line :
       {u"=SUM(", u"       A1*(", u"             B1+C1", u"          ),", u"       2", u"    )", u"    ", u""})
    expected.emplace_back(line);
  EXPECT_EQ(Lines(delivery_.files.written.at(b7), u"\r\n"), expected);

  // The host's list separator decides which character ends a line.
  app_->SetListSeparator(u";");
  Select(u"C1", u"=IF(A1;B1,C1;2)");
  Run();
  expected.resize(kAlwaysSendHeader.size());
  for (const auto* line : {u"=IF(", u"      A1;", u"      B1,C1;", u"      2", u"   )", u"   ", u""})
    expected.emplace_back(line);
  EXPECT_EQ(Lines(delivery_.files.written.at(u"/home/user/tmp/Book1 - Sheet1 - C1 - formatted formula.txt"), u"\r\n"),
            expected);
  EXPECT_EQ(Cell(u"B7"), u"=SUM(A1*(B1+C1),2)");
}

// Another store's contents under a store that reports no version.
class UnversionedStore final : public SettingsStore {
 public:
  explicit UnversionedStore(SettingsStore& base) : base_(base) {}
  std::u16string GetSetting(std::u16string_view app, std::u16string_view section, std::u16string_view key,
                            std::u16string_view defaultValue) override {
    return base_.GetSetting(app, section, key, defaultValue);
  }
  void SaveSetting(std::u16string_view app, std::u16string_view section, std::u16string_view key,
                   std::u16string_view value) override {
    base_.SaveSetting(app, section, key, value);
  }

 private:
  SettingsStore& base_;
};

TEST_F(FormulateTest, OptionsOfAStoreWithoutVersionAreReadAtEveryRun) {
  Calibrate();
  UnversionedStore store(fake_.store);
  const auto run = [&] {
    Select(u"B7", u"=SUM(A1*(B1+C1),2)");
    return formulate::FormulateCell(corvane_, *app_, store, prompter_).ending;
  };
  ASSERT_EQ(run(), Ending::IntoCell);
  SetOption(options::kAlwaysSendToNotepad, true);
  EXPECT_EQ(run(), Ending::IntoFile);
  SetOption(options::kAlwaysSendToNotepad, false);
  EXPECT_EQ(run(), Ending::IntoCell);
}

TEST_F(FormulateTest, TheLayoutGoesIntoTheCellAndItsWrappingIsPutBack) {
  Calibrate();
  for (const bool wrap : {false, true}) {
    SCOPED_TRACE(wrap ? "wrapping on" : "wrapping off");
    Select(u"D4", kIfSum);
    sheet_->SetCellWrap(4, 4, wrap);
    const auto outcome = Run();
    ASSERT_EQ(outcome.ending, Ending::IntoCell);
    EXPECT_EQ(Cell(u"D4"), outcome.laidOut);
    EXPECT_NE(outcome.laidOut, kIfSum);
    EXPECT_EQ(sheet_->CellWrap(4, 4), wrap);
    EXPECT_FALSE(sheet_->CellInArray(4, 4));
    EXPECT_TRUE(fake_.ui.Messages().empty());
    EXPECT_TRUE(delivery_.files.written.empty());
  }
}

// A laid-out formula, by this program or by hand, is laid out afresh: its line feeds and the
// spaces that touch them go first (not inside literals or names), every other space stays.
TEST_F(FormulateTest, ALayoutTheFormulaHasIsTakenOutFirst) {
  Calibrate();
  SetOption(options::kAlwaysSendToNotepad, true);
  for (const std::u16string& formula :
       {kIfSum, std::u16string(u"=IF(\n A1,SUM(B1,\n\n   C1),  \n  0\n)"), std::u16string(u"=IF(A1,SUM(B1,C1),0)\n  ")}) {
    Select(u"A1", formula);
    EXPECT_EQ(Lines(Run().laidOut), kIfSumNotepad) << corpus::Utf16ToUtf8(formula);
    EXPECT_EQ(Cell(u"A1"), formula) << "the text file route leaves the cell alone";
  }
  SetOption(options::kAlwaysSendToNotepad, false);
  Select(u"A1", kIfSum);
  const std::u16string once = Run().laidOut;
  EXPECT_EQ(Run().laidOut, once);
  EXPECT_EQ(Cell(u"A1"), once);
  // Line feeds inside a literal or a bracketed name are text; a space away from a line feed stays.
  Select(u"A1", u"=IF(A1=\"a\n b\",T[x\n y], 1)");
  ASSERT_EQ(Run().ending, Ending::IntoCell);
  EXPECT_EQ(Cell(u"A1"), u"=IF(\n           A1=\"a\n b\",\n           T[x\n y],\n            1\n   )\n   ");
}

TEST_F(FormulateTest, AnArrayBlockGetsFormulaArrayWithEveryCellsWrappingThenASingleCellGetsFormula) {
  Calibrate();
  sheet_->Range(u"B2:C4")->SetFormulaArray(kIfSum);
  const bool wraps[3][2] = {{true, false}, {false, true}, {true, true}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 2; ++c) sheet_->SetCellWrap(2 + r, 2 + c, wraps[r][c]);
  Select(u"C3");

  const auto outcome = Run();
  ASSERT_EQ(outcome.ending, Ending::IntoCell);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 2; ++c) {
      SCOPED_TRACE(testing::Message() << "row " << 2 + r << " column " << 2 + c);
      EXPECT_TRUE(sheet_->CellInArray(2 + r, 2 + c));
      EXPECT_EQ(sheet_->CellFormula(2 + r, 2 + c), outcome.laidOut);
      EXPECT_EQ(sheet_->CellWrap(2 + r, 2 + c), wraps[r][c]);
    }
  }

  // The same object, next on a plain cell: Formula, not FormulaArray.
  Select(u"E5", u"=SUM(A1,B1)");
  const auto single = Run();
  ASSERT_EQ(single.ending, Ending::IntoCell);
  EXPECT_FALSE(sheet_->CellInArray(5, 5));
  EXPECT_EQ(Cell(u"E5"), single.laidOut);
  EXPECT_EQ(sheet_->CellFormula(2, 2), outcome.laidOut);
}

TEST_F(FormulateTest, TheLimitFollowsTheVersionAndCountsEveryCharacterOfTheLayout) {
  Calibrate(u"0.5714");
  // The layout adds a fixed number of characters around a string literal's text.
  const auto formula = [](std::size_t n) { return u"=LEN(\"" + std::u16string(n, u'x') + u"\")"; };
  Select(u"A1", formula(10));
  const auto probe = Run();
  ASSERT_EQ(probe.ending, Ending::IntoCell);
  const std::size_t overhead = probe.laidOut.size() - 10;

  struct Case {
    std::u16string version;
    std::size_t layoutLength;
    Ending ending;
  };
  const std::vector<Case> cases = {{u"11.0", 1024, Ending::IntoCell},
                                   {u"11.0", 1025, Ending::IntoFile},
                                   {u"12.0", 1025, Ending::IntoCell},
                                   {u"12.0", 8192, Ending::IntoCell},
                                   {u"16.0", 8193, Ending::IntoFile}};
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.version) + " " + std::to_string(c.layoutLength));
    app_->SetVersion(c.version);
    Select(u"A1", formula(c.layoutLength - overhead));
    const auto outcome = Run();
    EXPECT_EQ(outcome.ending, c.ending);
    if (c.ending == Ending::IntoCell) {
      EXPECT_EQ(Cell(u"A1").size(), c.layoutLength);
    } else {
      EXPECT_EQ(Cell(u"A1"), formula(c.layoutLength - overhead));
      EXPECT_EQ(outcome.filePath, u"/home/user/tmp/Book1 - Sheet1 - A1 - formatted formula.txt");
    }
  }
}

TEST(FormulaLengthLimit, TakesTheNumberAtTheStartOfTheVersionText) {
  EXPECT_EQ(formulate::FormulaLengthLimit(u"11.5"), 8192);
  EXPECT_EQ(formulate::FormulaLengthLimit(u" 12.0 (Build 4518)"), 8192);
  EXPECT_EQ(formulate::FormulaLengthLimit(u"Excel"), 1024);
}

// ---- Into the text file ----------------------------------------------------------------------

TEST_F(FormulateTest, ATooLongLayoutIsWrittenWithItsExplanationAndOpenedLeavingTheCellAlone) {
  Calibrate();
  std::u16string formula = u"=CONCATENATE(";
  for (int i = 1; i <= 60; ++i) formula += (i > 1 ? u",LEFT(A" : u"LEFT(A") + DecimalKey(i) + u",1)";
  formula += u")";
  // The layout for the cell, as a newer version takes it.
  Select(u"B7", formula);
  const std::size_t inCell = Run().laidOut.size();

  app_->SetVersion(u"11.0");
  Select(u"B7", formula);
  sheet_->SetCellWrap(7, 2, true);
  const auto outcome = Run();
  ASSERT_EQ(outcome.ending, Ending::IntoFile);
  const std::u16string path = u"/home/user/tmp/Book1 - Sheet1 - B7 - formatted formula.txt";
  EXPECT_EQ(outcome.filePath, path);
  EXPECT_EQ(delivery_.editor.opened, std::vector<std::u16string>{path});
  EXPECT_EQ(Cell(u"B7"), formula);
  EXPECT_TRUE(sheet_->CellWrap(7, 2));
  // The file's layout is the one for the text file: character counts, two spaces after "(".
  EXPECT_EQ(Lines(outcome.laidOut)[1], std::u16string(15, u' ') + u"LEFT(");
  ASSERT_GT(inCell, outcome.laidOut.size());

  const std::u16string tooLong =
      u"Unable to enter this formatted formula into Excel, because it has too many characters. The formatted formula "
      u"is shown below instead.";
  const std::u16string limits =
      u"Excel 2007 and later allow up to 8,192 characters in a formula. Excel 2003 and earlier allow up to 1,024 "
      u"characters in a formula.";
  std::vector<std::u16string> expected = {
      tooLong,
      u"",
      u"This version of Excel allows a maximum of 1,024 characters in a formula. This formatted formula has " +
          FormatThousands(static_cast<double>(inCell), {}) + u" characters when formatted for Calibri font, or " +
          FormatThousands(static_cast<double>(outcome.laidOut.size()), {}) +
          u" characters when formatted for a non-proportional font such as Courier New or Lucinda Console.",
      u"",
      limits,
      u"", u"", u""};
  for (const auto& line : Lines(outcome.laidOut)) expected.push_back(line);
  expected.emplace_back();  // after the last line's CR LF
  EXPECT_EQ(Lines(OnlyFileText(), u"\r\n"), expected);
  EXPECT_NE(expected[2].find(u"characters in a formula. This formatted formula has 7,"), std::u16string::npos)
      << U8(expected[2]);
}

TEST_F(FormulateTest, TheExplanationUsesTheRegionalThousandsSeparator) {
  PlatformServices services = Services();
  services.regional = RegionalFormat{u',', u'.'};
  ScopedServices regional(services);
  const auto lines = notepad::FileLines(false, {8192, 12345, u"Arial", 9876}, u"=X(\n  1\n)", Regional());
  EXPECT_EQ(lines[2],
            u"This version of Excel allows a maximum of 8.192 characters in a formula. This formatted formula has "
            u"12.345 characters when formatted for Arial font, or 9.876 characters when formatted for a "
            u"non-proportional font such as Courier New or Lucinda Console.");
}

TEST_F(FormulateTest, AlwaysSendToNotepadWritesTheNotepadLayoutAndNeverTouchesTheCell) {
  Calibrate(u"0.6");
  SetOption(options::kAlwaysSendToNotepad, true);
  Select(u"A1", kIfSum);
  sheet_->SetCellWrap(1, 1, false);
  const auto outcome = Run();
  ASSERT_EQ(outcome.ending, Ending::IntoFile);
  EXPECT_EQ(Cell(u"A1"), kIfSum);
  EXPECT_FALSE(sheet_->CellWrap(1, 1));
  auto expected = kAlwaysSendHeader;
  expected.insert(expected.end(), kIfSumNotepad.begin(), kIfSumNotepad.end());
  expected.emplace_back();
  // Widths are character counts; only the closing parentheses use the calibrated "(" (0.6).
  EXPECT_EQ(Lines(OnlyFileText(), u"\r\n"), expected);
  EXPECT_EQ(delivery_.editor.opened.size(), 1U);
}

TEST_F(FormulateTest, TheFileFollowsTheWorkbookFolderOrTmpOrTheTemporaryFolder) {
  Calibrate();
  SetOption(options::kAlwaysSendToNotepad, true);
  Select(u"A1", kIfSum);

  book_->SetPath(u"/data/budgets");
  book_->SetName(u"Budget.xlsx");
  sheet_->SetName(u"Q1");
  EXPECT_EQ(Run().filePath, u"/data/budgets/Budget.xlsx - Q1 - A1 - formatted formula.txt");

  book_->SetPath(u"");
  EXPECT_EQ(Run().filePath, u"/home/user/tmp/Budget.xlsx - Q1 - A1 - formatted formula.txt");

  delivery_.environment.variables.clear();
  EXPECT_EQ(Run().filePath, u"/fallback/tmp/Budget.xlsx - Q1 - A1 - formatted formula.txt");
  EXPECT_EQ(delivery_.editor.opened.size(), 3U);
}

TEST_F(FormulateTest, TheLastLineOfTheLayoutIsWrittenWholeWhateverItHolds) {
  Calibrate();
  SetOption(options::kAlwaysSendToNotepad, true);
  Select(u"A1", u"=SUM(A1)+1");
  EXPECT_EQ(Lines(Run().laidOut), (std::vector<std::u16string>{u"=SUM(", u"       A1", u"    )", u"+1"}));
  EXPECT_TRUE(OnlyFileText().ends_with(u"\r\n    )\r\n+1\r\n"));

  Select(u"A1", u"=SUM(A1)");
  EXPECT_EQ(Lines(Run().laidOut), (std::vector<std::u16string>{u"=SUM(", u"       A1", u"    )", u"    "}));
  EXPECT_TRUE(OnlyFileText().ends_with(u"\r\n    )\r\n    \r\n"));
}

TEST_F(FormulateTest, NamesThatWouldLeaveTheFolderWriteNothing) {
  Calibrate();
  SetOption(options::kAlwaysSendToNotepad, true);
  Select(u"A1", kIfSum);
  for (const auto& [book, sheet] : std::vector<std::pair<std::u16string, std::u16string>>{
           {u"Book1", u"../../etc"}, {u"../x", u"Sheet1"}, {u"Book1", u"a\\..\\b"}, {u"Book1", std::u16string(u"a\0b", 3)}}) {
    SCOPED_TRACE(U8(book) + " / " + U8(sheet));
    book_->SetName(book);
    sheet_->SetName(sheet);
    const auto outcome = Run();
    EXPECT_EQ(outcome.ending, Ending::Failed);
    EXPECT_TRUE(delivery_.files.written.empty());
    EXPECT_TRUE(delivery_.editor.opened.empty());
    EXPECT_TRUE(fake_.ui.Messages().empty());
  }
  // Two dots inside a name are just part of it.
  book_->SetName(u"v1..2.xlsx");
  sheet_->SetName(u"Sheet1");
  EXPECT_EQ(Run().filePath, u"/home/user/tmp/v1..2.xlsx - Sheet1 - A1 - formatted formula.txt");
}

TEST_F(FormulateTest, FailuresEndQuietlyKeepingWhatWasDone) {
  Calibrate();
  // A file that cannot be written: nothing opened, nothing said.
  SetOption(options::kAlwaysSendToNotepad, true);
  delivery_.files.fail = true;
  Select(u"A1", kIfSum);
  EXPECT_EQ(Run().ending, Ending::Failed);
  EXPECT_TRUE(delivery_.editor.opened.empty());
  EXPECT_TRUE(fake_.ui.Messages().empty());

  // The host failing at the last call (wrapping put back): the layout stays in the cell.
  SetOption(options::kAlwaysSendToNotepad, false);
  Select(u"B1", kIfSum);
  sheet_->SetCellWrap(1, 2, true);
  const auto before = app_->CallCount();
  const auto written = Run();
  ASSERT_EQ(written.ending, Ending::IntoCell);
  const auto calls = app_->CallCount() - before;
  Select(u"B1", kIfSum);
  app_->FailAtCall(calls);
  const auto failed = Run();
  app_->FailAtCall(0);
  EXPECT_EQ(failed.ending, Ending::IntoCell);
  EXPECT_EQ(Cell(u"B1"), written.laidOut);
  EXPECT_TRUE(fake_.ui.Messages().empty());
}

// ---- Calibration questions -------------------------------------------------------------------

// The widths are read in full only when the store, the font or the array changed since they were:
// a run after an unchanged one reads no width, yet a save, a change of the array or a font with
// widths missing is seen by the very next run.
TEST_F(FormulateTest, WidthsAreReadAgainOnlyWhenTheStoreOrTheArrayChanged) {
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
  const std::size_t unchanged = readsOfRun();
  EXPECT_LT(unchanged, 10U);  // the options and the like, no width
  EXPECT_EQ(Cell(u"A1"), wide);

  // Another width stored (as a calibration would): read again, laid out with it.
  Calibrate(u"1");
  EXPECT_GE(readsOfRun(), unchanged + 766);
  EXPECT_NE(Cell(u"A1"), wide);
  const std::u16string narrow = Cell(u"A1");
  EXPECT_LT(readsOfRun(), 10U);

  // The array changed by someone else: read again, and the stored widths are back.
  corvane_.SpacingArray.at(65) = Variant(std::u16string(u"9"));
  EXPECT_GE(readsOfRun(), unchanged + 766);
  EXPECT_EQ(std::as_const(corvane_.SpacingArray).at(65), Variant(std::u16string(u"1")));
  EXPECT_EQ(Cell(u"A1"), narrow);
  EXPECT_LT(readsOfRun(), 10U);

  // Another standard font, not calibrated: the question comes at every run, never a kept table.
  app_->SetStandardFont(u"Arial");
  for (int run = 0; run < 2; ++run) {
    fake_.ui.QueueClick(u"No");
    fake_.ui.QueueClick(u"No");
    Select(u"A1", kIfSum);
    EXPECT_EQ(Run().ending, Ending::Declined) << run;
  }
}

TEST_F(FormulateTest, NoThenYesLaysOutWithEveryWidthOne) {
  Select(u"A1", kIfSum);
  fake_.ui.QueueClick(u"No");
  fake_.ui.QueueClick(u"Yes");
  const auto outcome = Run();
  EXPECT_EQ(outcome.ending, Ending::IntoCell);
  ASSERT_EQ(fake_.ui.Messages().size(), 2U);
  EXPECT_EQ(fake_.ui.Messages()[0].prompt, formulate::kCalibratePrompt);
  EXPECT_EQ(fake_.ui.Messages()[0].buttons, (std::vector<std::u16string>{u"Yes", u"No"}));
  EXPECT_EQ(fake_.ui.Messages()[1].prompt,
            u"Unable to format formula correctly until calibration is done. Format formula now anyway?\r\n\r\n(Results "
            u"may not be formatted correctly.)");
  for (std::int32_t k = 2; k <= 767; ++k) ASSERT_EQ(corvane_.SpacingArray.at(k), Variant(std::int32_t{1})) << k;
  EXPECT_TRUE(fake_.store.Keys(u"Corvane", u"Spacing_Calibri").empty());
}

TEST_F(FormulateTest, NoThenNoOrClosedChangesNothing) {
  for (const bool closeSecond : {false, true}) {
    SCOPED_TRACE(closeSecond ? "second closed" : "second No");
    Select(u"A1", kIfSum);
    sheet_->SetCellWrap(1, 1, true);
    fake_.ui.QueueClick(u"No");
    if (closeSecond) {
      fake_.ui.QueueCloseBox();
    } else {
      fake_.ui.QueueClick(u"No");
    }
    EXPECT_EQ(Run().ending, Ending::Declined);
    EXPECT_EQ(Cell(u"A1"), kIfSum);
    EXPECT_TRUE(sheet_->CellWrap(1, 1));
    EXPECT_EQ(app_->WorkbooksAdded(), 1);  // no calibration workbook
    EXPECT_TRUE(delivery_.files.written.empty());
  }
}

TEST_F(FormulateTest, ACancelledCalibrationAsksAgainAtTheFirstCodeStillMissing) {
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

  EXPECT_EQ(Run().ending, Ending::Declined);
  const auto prompts = Prompts();
  ASSERT_EQ(prompts.size(), 3U);
  EXPECT_EQ(prompts[0], formulate::kCalibratePrompt);
  EXPECT_EQ(prompts[1], formulate::kCalibratePrompt);
  EXPECT_EQ(prompts[2], formulate::kFormatAnywayPrompt);
  const auto keys = fake_.store.Keys(u"Corvane", u"Spacing_Calibri");
  ASSERT_FALSE(keys.empty());
  const std::int32_t firstMissing = static_cast<std::int32_t>(keys.size()) + 2;
  // The widths measured before the cancel were read; the second question came at the gap.
  for (std::int32_t k = 2; k < firstMissing; ++k)
    EXPECT_NE(corvane_.SpacingArray.at(k), Variant(std::u16string(calibration::kNotFound))) << k;
  EXPECT_EQ(corvane_.SpacingArray.at(firstMissing), Variant(std::u16string(calibration::kNotFound)));
  EXPECT_EQ(Cell(u"A1"), kIfSum);
}

TEST_F(FormulateTest, TheCalibrationQuestionClosedWithoutAnswerCalibratesAndGoesOn) {
  Select(u"A1", kIfSum);
  fake_.ui.QueueCloseBox();
  const auto outcome = Run();
  EXPECT_EQ(outcome.ending, Ending::IntoCell);
  const auto prompts = Prompts();
  ASSERT_EQ(prompts.size(), 2U);
  EXPECT_EQ(prompts[0], formulate::kCalibratePrompt);
  EXPECT_TRUE(prompts[1].starts_with(u"Calibration done.")) << U8(prompts[1]);
  EXPECT_EQ(fake_.store.Keys(u"Corvane", u"Spacing_Calibri").size(), 766U);
  for (std::int32_t k = 2; k <= 767; ++k)
    ASSERT_EQ(corvane_.SpacingArray.at(k),
              Variant(fake_.store.GetSetting(u"Corvane", u"Spacing_Calibri", DecimalKey(k), u"?")))
        << k;
  EXPECT_EQ(Cell(u"A1"), outcome.laidOut);
}

// A front end of its own: the command asks, calibrates and reads only through what it is given,
// never through the add-in's windows or the store in force.
class ScriptedPrompter final : public Prompter {
 public:
  std::vector<std::int32_t> answers;  // in order; a question beyond them fails the test
  std::vector<std::u16string> asked;
  std::vector<std::int32_t> progress;
  bool ended = false;

  std::int32_t Ask(std::u16string_view prompt, std::int32_t, std::u16string_view) noexcept override {
    asked.emplace_back(prompt);
    if (asked.size() > answers.size()) {
      ADD_FAILURE() << "unexpected question: " << U8(prompt);
      return answer::kNone;
    }
    return answers[asked.size() - 1];
  }
  void BeginProgress() override { ended = false; }
  void Advance(std::int32_t value) override { progress.push_back(value); }
  bool Cancelled() override { return false; }
  void EndProgress() override { ended = true; }
};

TEST_F(FormulateTest, TheCommandWorksOnlyThroughTheStoreAndPrompterItIsGiven) {
  Select(u"A1", kIfSum);
  MemoryStore given;
  ScriptedPrompter prompter;
  prompter.answers = {answer::kYes, answer::kOk};
  const auto outcome = formulate::FormulateCell(corvane_, *app_, given, prompter);

  EXPECT_EQ(outcome.ending, Ending::IntoCell);
  EXPECT_EQ(Cell(u"A1"), outcome.laidOut);
  ASSERT_EQ(prompter.asked.size(), 2U);
  EXPECT_EQ(prompter.asked[0], formulate::kCalibratePrompt);
  EXPECT_EQ(prompter.asked[1], calibration::kCalibrationDoneNotice);
  ASSERT_EQ(prompter.progress.size(), 766U);
  EXPECT_EQ(prompter.progress.front(), 2);
  EXPECT_EQ(prompter.progress.back(), 767);
  EXPECT_TRUE(prompter.ended);
  EXPECT_EQ(given.Keys(u"Corvane", u"Spacing_Calibri").size(), 766U);
  EXPECT_TRUE(fake_.store.Snapshot().empty()) << "the store in force is not touched";
  EXPECT_TRUE(fake_.ui.Log().empty()) << "no window is shown";

  // Calibrated now: the next run asks nothing.
  Select(u"B2", u"=SUM(A1,B1)");
  prompter.asked.clear();
  EXPECT_EQ(formulate::FormulateCell(corvane_, *app_, given, prompter).ending, Ending::IntoCell);
  EXPECT_TRUE(prompter.asked.empty());
}

}  // namespace
}  // namespace corvane
