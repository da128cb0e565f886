// The in-memory workbook: the embedded default host of the `corvane` program and the
// spreadsheet stand-in of the tests. It behaves as the spreadsheet does for every host
// operation the add-in uses, refusals included.
// Contract:
//  - Application: StandardFont (default "Calibri", always at kStandardFontPoints), Version
//    (default "16.0"), International(5) ("," unless the regional decimal separator is ",", then
//    ";"), ScreenUpdating, Workbooks.Add (Book1, Book2, ... each with one sheet "Sheet1"), ActiveCell.
//  - A Formula, FormulaArray or Value put is refused (AutomationError 1004, nothing changed)
//    when a formula (text starting with "=") is longer than the version's limit (1,024 for a
//    version number of 11 or less, else 8,192), nests functions more than 64 deep or has a line
//    break right before a whole-column or whole-row reference (formatting/refusal.h), when its
//    parentheses do not balance outside string literals, quoted sheet names and square brackets,
//    or when one of those is left open. Other text is a constant (a leading apostrophe is a
//    prefix, not content: "'=A1" is the text "=A1", which HasFormula tells from a formula) of at
//    most 32,767 characters. Reading Formula from any cell of an array block gives the block's
//    formula. Changing part of an array block is refused. Formulas are never evaluated. A
//    Formula or FormulaArray put whose text holds a line feed switches its cells to wrapping,
//    as the spreadsheet does.
//  - AutoFit sets a column to its widest content measured by the TextMeasurer in the standard
//    font at kStandardFontPoints and 96 dpi plus a fixed padding, rounded up to whole pixels;
//    Width is in points (0.75 point to the pixel).
//  - Objects of a closed workbook fail every call (AutomationError 424).
//  - Fault injection: with FailAtCall(k) set, the k-th host call from then on throws.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/host.h"
#include "base/platform.h"

namespace corvane::memory {

class MemoryApplication;
class MemoryWorkbook;
class MemorySheet;
class MemoryRange;

inline constexpr double kColumnPaddingPixels = 5.0;
// The one size everything is measured at, also in the scratch workbooks of a workbook file of
// another size: the store keeps one set of widths per font name, so every calibration of a name
// must measure alike, or a name's widths would depend on which workbook asked first.
inline constexpr double kStandardFontPoints = 11.0;
inline constexpr double kDefaultColumnPixels = 64.0;
inline constexpr std::int32_t kMaxRows = 1048576;
inline constexpr std::int32_t kMaxColumns = 16384;

class MemoryApplication : public HostApplication, public std::enable_shared_from_this<MemoryApplication> {
 public:
  // `measurer` measures text for AutoFit; null means the thread's Measurer() service.
  static std::shared_ptr<MemoryApplication> Create(TextMeasurer* measurer = nullptr);

  // ---- Host operations ----
  std::u16string StandardFont() override;
  std::u16string Version() override;
  std::shared_ptr<HostRange> ActiveCell() override;
  // 3, 4, 5: the decimal, thousands and list separator; any other index fails (1004).
  Variant International(std::int32_t index) override;
  void SetScreenUpdating(bool value) override;
  std::shared_ptr<HostWorkbook> WorkbooksAdd() override;

  // ---- For its user (the program, the tests) ----
  void SetStandardFont(std::u16string name) { standardFont_ = std::move(name); }
  void SetVersion(std::u16string version) { version_ = std::move(version); }
  // Overrides the list separator that International(5) reports (empty: from the region).
  void SetListSeparator(std::u16string separator) { listSeparator_ = std::move(separator); }
  bool ScreenUpdating() const { return screenUpdating_; }
  // How often ScreenUpdating was set, for tests that check it is put back.
  std::int32_t ScreenUpdatingChanges() const { return screenUpdatingChanges_; }

  std::shared_ptr<MemoryWorkbook> AddWorkbook();
  // Workbooks that are open now, in the order they were added.
  std::vector<std::shared_ptr<MemoryWorkbook>> OpenWorkbooks() const;
  // Number of workbooks ever added (the next one is Book<n+1>).
  std::int32_t WorkbooksAdded() const { return workbooksAdded_; }
  // Formula and FormulaArray puts that were taken.
  std::int32_t FormulaWrites() const { return formulaWrites_; }

  // Adding workbooks leaves it alone; closing its workbook leaves no cell active.
  void SetActiveCell(std::shared_ptr<MemoryRange> cell) { activeCell_ = std::move(cell); }

  // The formula length limit of the current version (1,024 or 8,192).
  std::size_t FormulaLimit() const;
  // The list separator that International(5) reports, which formulas are written with.
  std::u16string ListSeparator() const;

  // ---- Fault injection ----
  // Every host call (each member of the host operations on any object of this application)
  // counts one. FailAtCall(k) makes the k-th call from now throw AutomationError; 0 disables.
  void FailAtCall(std::int64_t k);
  std::int64_t CallCount() const { return calls_; }
  // Counts a call and throws when it is the one chosen to fail; also checks the workbook is open.
  void CountCall();

  TextMeasurer& measurer();
  RegionalFormat regional() const;

 private:
  MemoryApplication() = default;
  friend class MemoryWorkbook;
  friend class MemorySheet;
  friend class MemoryRange;

  TextMeasurer* measurer_ = nullptr;
  std::u16string standardFont_ = u"Calibri";
  std::u16string version_ = u"16.0";
  std::u16string listSeparator_;
  bool screenUpdating_ = true;
  std::int32_t screenUpdatingChanges_ = 0;
  std::int32_t workbooksAdded_ = 0;
  std::int32_t formulaWrites_ = 0;
  std::vector<std::shared_ptr<MemoryWorkbook>> workbooks_;
  std::shared_ptr<MemoryRange> activeCell_;
  std::int64_t calls_ = 0;
  std::int64_t failAt_ = 0;
};

class MemoryWorkbook : public HostWorkbook, public std::enable_shared_from_this<MemoryWorkbook> {
 public:
  // ---- Host operations ----
  std::shared_ptr<HostSheet> Worksheets(std::int32_t index) override;
  void Close(bool SaveChanges) override;
  std::u16string Path() override;
  std::u16string Name() override;

  // ---- For its user ----
  void SetPath(std::u16string path) { path_ = std::move(path); }
  void SetName(std::u16string name) { name_ = std::move(name); }
  bool IsOpen() const { return open_; }
  // Whether Close was called with SaveChanges True (the stand-in saves nothing either way).
  bool ClosedWithSave() const { return closedWithSave_; }
  std::shared_ptr<MemorySheet> AddSheet(std::u16string name);
  std::shared_ptr<MemorySheet> Sheet(std::int32_t index);  // 1-based; throws when absent
  std::shared_ptr<MemoryApplication> Application() const;

 private:
  friend class MemoryApplication;
  friend class MemorySheet;
  friend class MemoryRange;
  // Starts a host call on this workbook: counts it, then fails when the workbook is closed.
  std::shared_ptr<MemoryApplication> Enter();

  std::weak_ptr<MemoryApplication> app_;
  std::u16string name_;
  std::u16string path_;
  bool open_ = true;
  bool closedWithSave_ = false;
  std::vector<std::shared_ptr<MemorySheet>> sheets_;
};

class MemorySheet : public HostSheet, public std::enable_shared_from_this<MemorySheet> {
 public:
  // ---- Host operations ----
  std::shared_ptr<HostRange> Cells(std::int32_t index) override;
  std::u16string Name() override;
  std::shared_ptr<HostWorkbook> Parent() override;

  // ---- For its user ----
  void SetName(std::u16string name) { name_ = std::move(name); }
  // A range by its corners (1-based, inclusive) or by an address such as "B7" or "B2:D5".
  std::shared_ptr<MemoryRange> Range(std::int32_t row1, std::int32_t col1, std::int32_t row2, std::int32_t col2);
  std::shared_ptr<MemoryRange> Range(std::u16string_view address);

  // Direct inspection, not counted as host calls.
  std::u16string CellFormula(std::int32_t row, std::int32_t col) const;
  bool CellWrap(std::int32_t row, std::int32_t col) const;
  void SetCellWrap(std::int32_t row, std::int32_t col, bool wrap);
  bool CellInArray(std::int32_t row, std::int32_t col) const;
  double ColumnWidthPoints(std::int32_t col) const;

 private:
  friend class MemoryWorkbook;
  friend class MemoryRange;

  struct ArrayBlock {
    std::int32_t row1, col1, row2, col2;
    std::u16string formula;
  };
  struct Cell {
    std::u16string content;  // formula text or constant, as Formula reads it
    bool formula = false;    // text entered after an apostrophe is a constant, "=" or not
    bool wrap = false;
    std::shared_ptr<ArrayBlock> block;  // set for cells of an array formula
  };

  Cell* Find(std::int32_t row, std::int32_t col);
  const Cell* Find(std::int32_t row, std::int32_t col) const;
  Cell& At(std::int32_t row, std::int32_t col);
  // Starts a host call on this sheet or one of its ranges (see MemoryWorkbook::Enter).
  std::shared_ptr<MemoryApplication> Enter() const;

  std::weak_ptr<MemoryWorkbook> book_;
  std::u16string name_;
  std::map<std::pair<std::int32_t, std::int32_t>, Cell> cells_;  // (row, col)
  std::map<std::int32_t, double> columnPixels_;                   // fitted columns
};

class MemoryRange : public HostRange {
 public:
  MemoryRange(std::shared_ptr<MemorySheet> sheet, std::int32_t row1, std::int32_t col1, std::int32_t row2,
              std::int32_t col2);

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

  // ---- For its user ----
  std::shared_ptr<MemorySheet> sheet() const { return sheet_; }
  std::int32_t row1() const { return row1_; }
  std::int32_t col1() const { return col1_; }
  std::int32_t row2() const { return row2_; }
  std::int32_t col2() const { return col2_; }

 private:
  std::shared_ptr<MemoryApplication> Enter() const;
  std::int64_t CellCount() const;
  bool Contains(std::int32_t row, std::int32_t col) const;
  // Refuses a change that would cover part of an array block only.
  void CheckWholeBlocks() const;
  // Refuses a write that would materialise more cells than the stand-in keeps.
  void CheckWriteSize(std::size_t unitsPerCell) const;
  // Counts a formula put and switches its cells to wrapping when the text holds a line feed.
  void FormulaWritten(MemoryApplication& app, std::u16string_view text);
  // Every cell of the range wrapping (materialising those not stored yet).
  void WrapEveryCell();
  // Puts the same content (empty: none) into every cell, dissolving the blocks inside; checks
  // the size before it changes anything.
  void PutContent(const std::u16string& content, bool formula);

  std::shared_ptr<MemorySheet> sheet_;
  std::int32_t row1_, col1_, row2_, col2_;
};

// Column letters of a 1-based column number: 1 is A, 28 is AB, 16384 is XFD.
std::u16string ColumnLetters(std::int32_t column);

}  // namespace corvane::memory
