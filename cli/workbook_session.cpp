#include "cli/workbook_session.h"

#include "cli/cli.h"

namespace corvane::cli {

WorkbookSession::WorkbookSession()
    : app_(memory::MemoryApplication::Create()), book_(app_->AddWorkbook()), cell_(book_->Sheet(1)->Range(1, 1, 1, 1)) {
  app_->SetActiveCell(cell_);
}

void WorkbookSession::PutIntoActiveCell(const std::u16string& text) {
  try {
    cell_->SetFormula(text);
  } catch (const AutomationError& e) {
    throw UsageError("the spreadsheet does not accept this text in a cell: " + ToUtf8(e.description()));
  }
}

void WorkbookSession::MoveToLine(std::uint64_t number) {
  const std::uint64_t cells = static_cast<std::uint64_t>(memory::kMaxRows) * memory::kMaxColumns;
  const std::uint64_t k = (number - 1) % cells;
  const auto row = static_cast<std::int32_t>(k % memory::kMaxRows) + 1;
  const auto col = static_cast<std::int32_t>(k / memory::kMaxRows) + 1;
  cell_ = book_->Sheet(1)->Range(row, col, row, col);
  app_->SetActiveCell(cell_);
}

void WorkbookSession::ClearActiveCell() {
  cell_->sheet()->SetCellWrap(cell_->row1(), cell_->col1(), false);
  cell_->SetFormula(u"");
}

std::u16string WorkbookSession::ActiveCellContent() const { return cell_->sheet()->CellFormula(cell_->row1(), cell_->col1()); }

void WorkbookSession::HandOver(cls_corvane& corvane) {
  ObjectRef app = app_;
  corvane.SetExcelApp(app);
}

std::u16string FromStdinText() {
  std::string data = ReadAllStdin();
  if (!data.empty() && data.back() == '\n') data.pop_back();
  std::string_view text = data;
  if (text.starts_with(kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
  return FromUtf8(text);
}

}  // namespace corvane::cli
