// The workbook-file host: the spreadsheet host operations over an .xlsx/.xlsm file, so that the
// add-in's commands work on the formulas people keep in workbook files.
// Contract:
//  - Application: StandardFont is the font of the workbook's default cell style (or the one
//    given in the options), Version the options' version text (default "16.0", which sets the
//    formula length limit as the spreadsheet does), International(3/4/5) the decimal, thousands
//    and list separators (the list separator "," unless the regional decimal separator is ",",
//    then ";", or as given), ActiveCell what the front end set. Workbooks.Add gives an in-memory
//    scratch workbook whose AutoFit measures in the workbook's standard font at the in-memory
//    workbook's size (memory::kStandardFontPoints, whatever size the file gives), for the
//    calibration and measurement of characters.
//  - Formula gives "=" and the formula in the dialect of International(5) (formulas are stored
//    without "=" and with "," in the file), the block's formula for a cell of an array formula,
//    the moved formula of a shared-formula cell; a constant's value as text for other cells.
//    Formula and FormulaArray puts are converted back and refused (AutomationError 1004, nothing
//    changed) as the spreadsheet refuses them (formatting/refusal.h: over the version's length
//    limit, nested too deep, a line break before a whole column or row; unbalanced parentheses,
//    characters an XML file cannot hold) and where a workbook file would need more
//    than a formula change: a cell without a formula, part of an array block, a new block.
//  - WrapText reads each cell's format (its own, else its row's, else its column's). A put that
//    would change a cell's format is refused; putting back the value read changes nothing.
//    Value, AutoFit and Width are refused on the file's own sheets (they belong to the scratch
//    workbooks).
//  - Every refusal or failure of a call is also kept as the application's LastRefusal, so that a
//    front end can say why a command that ends quietly left a cell alone.
//  - Close(SaveChanges:=True) saves the file (atomically); Close(False) discards the changes.
//    Objects of a closed workbook fail every call (AutomationError 424).
//  - A Companion is a second application over the same workbook file, with its own workbook and
//    sheet objects, active cell, LastRefusal and scratch workbooks, for another thread: the two
//    may work at once on different cells as the workbook file allows (hosts/xlsx/workbook_file.h),
//    each through its own objects. Only the first one saves or closes the workbook.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/host.h"
#include "base/platform.h"
#include "hosts/memory/memory_workbook.h"
#include "hosts/xlsx/formula_text.h"
#include "hosts/xlsx/workbook_file.h"

namespace corvane::xlsx {

class XlsxWorkbook;
class XlsxSheet;
class XlsxRange;

struct HostOptions {
  std::u16string version = u"16.0";
  std::u16string listSeparator;   // empty: from the regional format
  std::u16string standardFont;    // empty: the workbook's
  TextMeasurer* measurer = nullptr;  // for scratch workbooks; null: the thread's Measurer()
  PackageLimits limits;
};

class XlsxApplication : public HostApplication, public std::enable_shared_from_this<XlsxApplication> {
 public:
  // Opens the workbook file; throws AutomationError with a clear message when it cannot be used.
  static std::shared_ptr<XlsxApplication> Open(const std::string& path, HostOptions options = {});

  // ---- Host operations ----
  std::u16string StandardFont() override;
  std::u16string Version() override;
  std::shared_ptr<HostRange> ActiveCell() override;
  Variant International(std::int32_t index) override;
  void SetScreenUpdating(bool value) override;
  std::shared_ptr<HostWorkbook> WorkbooksAdd() override;

  // ---- For the front end ----
  std::shared_ptr<XlsxWorkbook> Workbook() const { return workbook_; }
  std::shared_ptr<XlsxApplication> Companion() const;
  void SetActiveCell(std::shared_ptr<HostRange> cell) { activeCell_ = std::move(cell); }
  const Dialect& dialect() const { return dialect_; }
  std::size_t FormulaLimit() const;
  bool ScreenUpdating() const { return screenUpdating_; }
  const std::u16string& LastRefusal() const { return lastRefusal_; }
  void ClearLastRefusal() { lastRefusal_.clear(); }
  // Runs a host call: keeps its refusal as LastRefusal and passes it on.
  template <class Fn>
  auto Call(Fn fn) -> decltype(fn()) {
    try {
      return fn();
    } catch (const AutomationError& e) {
      lastRefusal_ = e.description();
      throw;
    }
  }

 private:
  XlsxApplication() = default;

  HostOptions options_;
  Dialect dialect_;
  std::shared_ptr<XlsxWorkbook> workbook_;
  std::shared_ptr<HostRange> activeCell_;
  std::shared_ptr<memory::MemoryApplication> scratch_;
  bool screenUpdating_ = true;
  std::u16string lastRefusal_;
};

class XlsxWorkbook : public HostWorkbook, public std::enable_shared_from_this<XlsxWorkbook> {
 public:
  XlsxWorkbook(std::weak_ptr<XlsxApplication> app, std::shared_ptr<WorkbookFile> file);

  // ---- Host operations ----
  std::shared_ptr<HostSheet> Worksheets(std::int32_t index) override;
  void Close(bool SaveChanges) override;
  std::u16string Path() override;
  std::u16string Name() override;

  // ---- For the front end ----
  WorkbookFile& file() { return *file_; }
  std::shared_ptr<WorkbookFile> fileShared() const { return file_; }
  bool IsOpen() const { return open_; }
  std::size_t SheetCount() const { return file_->WorksheetCount(); }
  std::shared_ptr<XlsxSheet> Sheet(std::size_t index);  // 0-based
  std::shared_ptr<XlsxSheet> SheetNamed(std::u16string_view name);  // null when absent
  std::shared_ptr<XlsxSheet> ActiveSheet() { return Sheet(file_->ActiveWorksheet()); }
  // This workbook's object for the worksheet that `other` (of a companion) stands for.
  std::shared_ptr<XlsxSheet> SheetLike(XlsxSheet& other);
  // Writes the workbook with its changes (to its own file when `target` is empty).
  void Save(const std::string& target = {});

  std::shared_ptr<XlsxApplication> Enter();  // starts a host call: fails once closed

 private:
  std::weak_ptr<XlsxApplication> app_;
  std::shared_ptr<WorkbookFile> file_;
  std::vector<std::shared_ptr<XlsxSheet>> sheets_;
  bool open_ = true;
};

class XlsxSheet : public HostSheet, public std::enable_shared_from_this<XlsxSheet> {
 public:
  XlsxSheet(std::weak_ptr<XlsxWorkbook> book, Worksheet& sheet);

  // ---- Host operations ----
  std::shared_ptr<HostRange> Cells(std::int32_t index) override;
  std::u16string Name() override;
  std::shared_ptr<HostWorkbook> Parent() override;

  // ---- For the front end ----
  Worksheet& data() { return sheet_; }
  std::shared_ptr<XlsxRange> Range(const CellRect& rect);
  std::shared_ptr<XlsxApplication> Enter() const;

 private:
  std::weak_ptr<XlsxWorkbook> book_;
  Worksheet& sheet_;
};

class XlsxRange : public HostRange {
 public:
  XlsxRange(std::shared_ptr<XlsxSheet> sheet, const CellRect& rect);

  // ---- Host operations ----
  Variant HasArray() override;
  Variant HasFormula() override;
  std::shared_ptr<HostRange> CurrentArray() override;
  std::int32_t RowsCount() override;
  std::int32_t ColumnsCount() override;
  std::shared_ptr<HostRange> Cells(std::int32_t row, std::int32_t column) override;
  std::u16string Formula() override;
  void SetFormula(const std::u16string& text) override;
  void SetFormulaArray(const std::u16string& text) override;
  Variant WrapText() override;
  void SetWrapText(const Variant& value) override;
  void SetValue(const Variant& value) override;
  void EntireColumnAutoFit() override;
  double EntireColumnWidth() override;
  std::shared_ptr<HostSheet> Parent() override;
  std::u16string Address(bool RowAbsolute, bool ColumnAbsolute) override;

  const CellRect& rect() const { return rect_; }
  std::shared_ptr<XlsxSheet> sheet() const { return sheet_; }

 private:
  // Checks a formula the spreadsheet would accept and gives its file form.
  std::u16string FileText(XlsxApplication& app, const std::u16string& text, std::u16string_view previous) const;

  std::shared_ptr<XlsxSheet> sheet_;
  CellRect rect_;
};

}  // namespace corvane::xlsx
