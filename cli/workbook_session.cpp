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

std::u16string WorkbookSession::ActiveCellContent() const { return cell_->sheet()->CellFormula(cell_->row1(), cell_->col1()); }

void WorkbookSession::HandOver(cls_corvane& corvane) {
  ObjectRef app = app_;
  corvane.SetExcelApp(app);
}

std::u16string FromStdinText() {
  std::string data = ReadAllStdin();
  if (!data.empty() && data.back() == '\n') data.pop_back();
  return FromUtf8(data);
}

}  // namespace corvane::cli
