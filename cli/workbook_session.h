// One run of a command on the embedded in-memory workbook: a fresh application with Book1,
// Sheet1 and A1 as the active cell, handed to the add-in object as its host.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "addin/cls_corvane.h"
#include "hosts/memory/memory_workbook.h"

namespace corvane::cli {

class WorkbookSession {
 public:
  WorkbookSession();
  std::shared_ptr<memory::MemoryApplication>& app() { return app_; }
  std::shared_ptr<memory::MemoryWorkbook>& book() { return book_; }
  std::shared_ptr<memory::MemoryRange>& activeCell() { return cell_; }

  // Enters the text as the user would type it; throws UsageError when the spreadsheet refuses it.
  void PutIntoActiveCell(const std::u16string& text);
  std::u16string ActiveCellContent() const;
  // A batch's line `number` (from 1) runs in a cell of its own, so that each line's text file
  // has its own name: A1, A2, ... down the sheet's rows, then on in the next column (B1 follows
  // A1048576); past the sheet's last cell it starts again at A1, long emptied by then.
  void MoveToLine(std::uint64_t number);
  // Empties the active cell, wrap included: a batch keeps no cell of a line that is done.
  void ClearActiveCell();
  // SetExcelApp with this session's application.
  void HandOver(cls_corvane& corvane);

 private:
  std::shared_ptr<memory::MemoryApplication> app_;
  std::shared_ptr<memory::MemoryWorkbook> book_;
  std::shared_ptr<memory::MemoryRange> cell_;
};

// Standard input as UTF-16, with one trailing line feed (the terminal's or echo's) dropped.
std::u16string FromStdinText();

}  // namespace corvane::cli
