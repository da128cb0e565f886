#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "hosts/memory/memory_workbook.h"
#include "support/corpus.h"

namespace corvane {
namespace {

using corpus::Utf16ToUtf8;
using memory::MemoryApplication;
using memory::MemorySheet;

// The spreadsheet switches a cell to wrapping when a formula is put into it; the in-memory
// workbook does not. This host does, so that the command must put the wrapping back itself.
// It also counts the writes, so a test can tell that nothing was written.
struct WriteLog {
  int writes = 0;
};

class WrappingRange : public HostRange {
 public:
  WrappingRange(std::shared_ptr<HostRange> inner, std::shared_ptr<WriteLog> log)
      : inner_(std::move(inner)), log_(std::move(log)) {}
  Variant HasArray() override { return inner_->HasArray(); }
  std::shared_ptr<HostRange> CurrentArray() override { return Wrap(inner_->CurrentArray()); }
  std::int32_t RowsCount() override { return inner_->RowsCount(); }
  std::int32_t ColumnsCount() override { return inner_->ColumnsCount(); }
  std::shared_ptr<HostRange> Cells(std::int32_t r, std::int32_t c) override { return Wrap(inner_->Cells(r, c)); }
  std::u16string Formula() override { return inner_->Formula(); }
  void SetFormula(const std::u16string& text) override {
    inner_->SetFormula(text);
    Written();
  }
  void SetFormulaArray(const std::u16string& text) override {
    inner_->SetFormulaArray(text);
    Written();
  }
  Variant WrapText() override { return inner_->WrapText(); }
  void SetWrapText(const Variant& value) override { inner_->SetWrapText(value); }
  void SetValue(const Variant& value) override { inner_->SetValue(value); }
  void EntireColumnAutoFit() override { inner_->EntireColumnAutoFit(); }
  double EntireColumnWidth() override { return inner_->EntireColumnWidth(); }
  std::shared_ptr<HostSheet> Parent() override { return inner_->Parent(); }
  std::u16string Address(bool r, bool c) override { return inner_->Address(r, c); }

 private:
  std::shared_ptr<HostRange> Wrap(const std::shared_ptr<HostRange>& r) {
    return std::make_shared<WrappingRange>(r, log_);
  }
  void Written() {
    ++log_->writes;
    inner_->SetWrapText(Variant(true));
  }
  std::shared_ptr<HostRange> inner_;
  std::shared_ptr<WriteLog> log_;
};

class WrappingApplication : public HostApplication {
 public:
  explicit WrappingApplication(std::shared_ptr<MemoryApplication> inner) : inner_(std::move(inner)) {}
  std::u16string StandardFont() override { return inner_->StandardFont(); }
  std::u16string Version() override { return inner_->Version(); }
  std::shared_ptr<HostRange> ActiveCell() override {
    return std::make_shared<WrappingRange>(inner_->ActiveCell(), log);
  }
  Variant International(std::int32_t index) override { return inner_->International(index); }
  void SetScreenUpdating(bool value) override { inner_->SetScreenUpdating(value); }
  std::shared_ptr<HostWorkbook> WorkbooksAdd() override { return inner_->WorkbooksAdd(); }

  std::shared_ptr<WriteLog> log = std::make_shared<WriteLog>();

 private:
  std::shared_ptr<MemoryApplication> inner_;
};

const std::u16string kLaidOut =
    u"=IF(\n      A1,\n      SUM(\n            B1,\n            C1\n         ),\n      0\n   )\n   ";
const std::u16string kOneLine = u"=IF(A1,SUM(B1,C1),0)";
const std::u16string kLaidOutArray = u"=A1:A3*(\n    B1:B3 +\n    \"x y\"\n)";
const std::u16string kOneLineArray = u"=A1:A3*(B1:B3+\"x y\")";

class DeformulateCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    memoryApp = MemoryApplication::Create();
    host = std::make_shared<WrappingApplication>(memoryApp);
    sheet = memoryApp->AddWorkbook()->Sheet(1);
    ObjectRef ref = host;
    addin.SetExcelApp(ref);
  }
  // Puts `content` into a cell and makes it the active cell, without counting as a write.
  void Enter(std::u16string_view address, const std::u16string& content, bool wrap) {
    auto cell = sheet->Range(address);
    cell->SetFormula(content);
    sheet->SetCellWrap(cell->row1(), cell->col1(), wrap);
    memoryApp->SetActiveCell(cell);
  }
  Variant Run() {
    Variant result(u"not run");
    EXPECT_NO_THROW(result = addin.cvDeformulateCell());
    EXPECT_TRUE(result.isEmpty());
    return result;
  }

  std::shared_ptr<MemoryApplication> memoryApp;
  std::shared_ptr<WrappingApplication> host;
  std::shared_ptr<MemorySheet> sheet;
  cls_corvane addin;
};

TEST_F(DeformulateCommand, LaidOutCellComesBackToOneLineAndKeepsWrapping) {
  Enter(u"B7", kLaidOut, true);
  Run();
  EXPECT_EQ(Utf16ToUtf8(sheet->CellFormula(7, 2)), Utf16ToUtf8(kOneLine));
  EXPECT_TRUE(sheet->CellWrap(7, 2));
  EXPECT_EQ(addin.iLenFormula, static_cast<std::int32_t>(kLaidOut.size()));

  Run();  // a second run changes nothing
  EXPECT_EQ(Utf16ToUtf8(sheet->CellFormula(7, 2)), Utf16ToUtf8(kOneLine));
  EXPECT_TRUE(sheet->CellWrap(7, 2));
}

TEST_F(DeformulateCommand, CellThatDoesNotWrapIsNotSwitchedToWrapping) {
  Enter(u"C3", u"=SUM(\n   A1 A2,\n   \"a\nb\"\n)", false);
  Run();
  EXPECT_EQ(Utf16ToUtf8(sheet->CellFormula(3, 3)), "=SUM(A1 A2,\"a\nb\")");
  EXPECT_FALSE(sheet->CellWrap(3, 3));
  EXPECT_EQ(host->log->writes, 1);
}

TEST_F(DeformulateCommand, ArrayBlockIsRewrittenWholeAndEachCellKeepsItsWrapping) {
  sheet->Range(u"B2:C4")->SetFormulaArray(kLaidOutArray);
  const bool wraps[3][2] = {{true, false}, {false, true}, {true, true}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 2; ++c) sheet->SetCellWrap(2 + r, 2 + c, wraps[r][c]);
  memoryApp->SetActiveCell(sheet->Range(u"C3"));

  Run();
  EXPECT_EQ(host->log->writes, 1);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 2; ++c) {
      SCOPED_TRACE("cell row " + std::to_string(2 + r) + " column " + std::to_string(2 + c));
      EXPECT_TRUE(sheet->CellInArray(2 + r, 2 + c));
      EXPECT_EQ(Utf16ToUtf8(sheet->CellFormula(2 + r, 2 + c)), Utf16ToUtf8(kOneLineArray));
      EXPECT_EQ(sheet->CellWrap(2 + r, 2 + c), wraps[r][c]);
    }
  }
}

TEST_F(DeformulateCommand, ConstantsAndEmptyCellsAreLeftAlone) {
  Enter(u"A1", u"two  words\nand a line", true);
  Run();
  EXPECT_EQ(Utf16ToUtf8(sheet->CellFormula(1, 1)), "two  words\nand a line");
  EXPECT_TRUE(sheet->CellWrap(1, 1));

  memoryApp->SetActiveCell(sheet->Range(u"D9"));
  Run();
  EXPECT_EQ(sheet->CellFormula(9, 4), u"");
  EXPECT_FALSE(sheet->CellWrap(9, 4));
  EXPECT_EQ(host->log->writes, 0);
}

TEST_F(DeformulateCommand, RefusedWriteKeepsTheOldFormula) {
  // Entered under a version that takes 8,192 characters; the host now takes 1,024.
  std::u16string longFormula = u"=SUM(\n";
  while (longFormula.size() < 4000) longFormula += u"     A1,\n";
  longFormula += u"     A1\n)";
  ASSERT_GT(longFormula.size() / 3, 1024u) << "the one-line result must be too long as well";
  Enter(u"B2", longFormula, false);
  memoryApp->SetVersion(u"11.0");
  Run();
  EXPECT_EQ(sheet->CellFormula(2, 2), longFormula);
  EXPECT_FALSE(sheet->CellWrap(2, 2));
}

TEST_F(DeformulateCommand, AFailureAtAnyHostCallEndsItQuietly) {
  // Count the calls of a good run, then fail each one in turn.
  sheet->Range(u"B2:C4")->SetFormulaArray(kLaidOutArray);
  memoryApp->SetActiveCell(sheet->Range(u"B2"));
  const std::int64_t before = memoryApp->CallCount();
  Run();
  const std::int64_t calls = memoryApp->CallCount() - before;
  ASSERT_GT(calls, 10);

  for (std::int64_t k = 1; k <= calls; ++k) {
    SCOPED_TRACE("failing call " + std::to_string(k));
    sheet->Range(u"B2:C4")->SetFormulaArray(kLaidOutArray);
    for (int r = 2; r <= 4; ++r)
      for (int c = 2; c <= 3; ++c) sheet->SetCellWrap(r, c, false);
    memoryApp->SetActiveCell(sheet->Range(u"B2"));
    memoryApp->FailAtCall(k);
    Run();
    memoryApp->FailAtCall(0);
    // The block holds the old formula or the new one, never anything else.
    const std::u16string now = sheet->CellFormula(3, 3);
    EXPECT_TRUE(now == kLaidOutArray || now == kOneLineArray) << Utf16ToUtf8(now);
    EXPECT_TRUE(sheet->CellInArray(3, 3));
  }
}

TEST(DeformulateCommandWithoutHost, FailsQuietlyBeforeSetExcelApp) {
  // The host holder belongs to the thread: a fresh thread has none.
  bool threw = false;
  Variant result(u"not run");
  std::thread([&] {
    cls_corvane addin;
    try {
      result = addin.cvDeformulateCell();
    } catch (...) {
      threw = true;
    }
  }).join();
  EXPECT_FALSE(threw);
  EXPECT_TRUE(result.isEmpty());
}

}  // namespace
}  // namespace corvane
