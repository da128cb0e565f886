// Spreadsheet host operations: the one list of what the add-in asks of the spreadsheet.
// Contract: every member below is one member of the host's object model (named in its comment);
// a failing call throws AutomationError and changes nothing it was refused. Host objects are
// counted references (shared_ptr); nobody keeps them beyond the work at hand.
// Implementations: the in-memory workbook (hosts/memory) and the Excel automation adapter.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/automation.h"

namespace corvane {

class HostRange;
class HostSheet;
class HostWorkbook;

class HostApplication : public AutomationObject {
 public:
  virtual std::u16string StandardFont() = 0;                      // Application.StandardFont
  virtual std::u16string Version() = 0;                           // Application.Version
  virtual std::shared_ptr<HostRange> ActiveCell() = 0;            // Application.ActiveCell
  virtual Variant International(std::int32_t index) = 0;          // Application.International(index)
  virtual void SetScreenUpdating(bool value) = 0;                 // Application.ScreenUpdating = value
  virtual std::shared_ptr<HostWorkbook> WorkbooksAdd() = 0;       // Application.Workbooks.Add
};

class HostWorkbook : public AutomationObject {
 public:
  virtual std::shared_ptr<HostSheet> Worksheets(std::int32_t index) = 0;  // Workbook.Worksheets(index)
  virtual void Close(bool SaveChanges) = 0;                               // Workbook.Close SaveChanges:=...
  virtual std::u16string Path() = 0;                                      // Workbook.Path
  virtual std::u16string Name() = 0;                                      // Workbook.Name
};

class HostSheet : public AutomationObject {
 public:
  virtual std::shared_ptr<HostRange> Cells(std::int32_t index) = 0;  // Worksheet.Cells(index), 1 is A1
  virtual std::u16string Name() = 0;                                 // Worksheet.Name
  virtual std::shared_ptr<HostWorkbook> Parent() = 0;                // Worksheet.Parent
};

class HostRange : public AutomationObject {
 public:
  virtual Variant HasArray() = 0;                                                  // Range.HasArray
  virtual Variant HasFormula() = 0;                                                // Range.HasFormula
  virtual std::shared_ptr<HostRange> CurrentArray() = 0;                           // Range.CurrentArray
  virtual std::int32_t RowsCount() = 0;                                            // Range.Rows.Count
  virtual std::int32_t ColumnsCount() = 0;                                         // Range.Columns.Count
  virtual std::shared_ptr<HostRange> Cells(std::int32_t row, std::int32_t column) = 0;  // Range.Cells(r, c)
  virtual std::u16string Formula() = 0;                                            // Range.Formula
  virtual void SetFormula(const std::u16string& text) = 0;                         // Range.Formula = text
  virtual void SetFormulaArray(const std::u16string& text) = 0;                    // Range.FormulaArray = text
  virtual Variant WrapText() = 0;                                                  // Range.WrapText
  virtual void SetWrapText(const Variant& value) = 0;                              // Range.WrapText = value
  virtual void SetValue(const Variant& value) = 0;                                 // Range.Value = value
  virtual void EntireColumnAutoFit() = 0;                                          // Range.EntireColumn.AutoFit
  virtual double EntireColumnWidth() = 0;                                          // Range.EntireColumn.Width
  virtual std::shared_ptr<HostSheet> Parent() = 0;                                 // Range.Parent
  virtual std::u16string Address(bool RowAbsolute, bool ColumnAbsolute) = 0;      // Range.Address(r, c)
};

// Whether every cell of the range holds a formula (HasFormula is Null for a mix).
inline bool HoldsFormula(HostRange& range, const RegionalFormat& fmt) {
  const Variant answer = range.HasFormula();
  return !answer.isNull() && ToBool(answer, fmt);
}

}  // namespace corvane
