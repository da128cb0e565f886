// Excel's stand-in for the add-in's tests: the in-memory workbook (hosts/memory) as an automation
// object model with Excel's member names and calling forms, reached through IDispatch by name.
// It has the members the add-in's Excel adapter calls to lay out a cell and to calibrate, and no
// more:
//  - Application: StandardFont, Version, ActiveCell, International(Index), ScreenUpdating,
//    Workbooks.Add. Range: Formula (get, put), WrapText (get, put), Value (put), HasArray,
//    HasFormula, EntireColumn (AutoFit, Width), Parent, Address([RowAbsolute], [ColumnAbsolute],
//    ...). Worksheet: Name, Parent, Cells(RowIndex). Workbook: Name, Path, Worksheets(Index),
//    Close([SaveChanges]).
//    Application.Help(HelpFile) notes the file it was asked to open (HelpOpened).
//  - COM add-ins as Excel loads them: found by their key under Software\Microsoft\Office\Excel\Addins
//    (the user's, else the machine's) set to load at startup, created by ProgID (the user's class
//    registration first, as Windows merges it and Wine's COM does not) and connected
//    with the Application (IDTExtensibility2); the ribbon's XML from IRibbonExtensibility.
//  - Strict like Excel: a property is read only with DISPATCH_PROPERTYGET and written only with
//    DISPATCH_PROPERTYPUT carrying the named argument DISPID_PROPERTYPUT (DISP_E_MEMBERNOTFOUND
//    otherwise); too many or too few arguments give DISP_E_BADPARAMCOUNT, an unknown name
//    DISP_E_UNKNOWNNAME, a named argument the member does not have DISP_E_UNKNOWNNAME, or
//    DISP_E_PARAMNOTFOUND where a positional one stands. A refusal of the workbook comes back as DISP_E_EXCEPTION with Excel's code
//    (0x800A03EC for error 1004) and the description.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/automation.h"
#include "hosts/memory/memory_workbook.h"
#include "platform/win32/com/com_handles.h"

namespace corvane::standin {

class ExcelStandIn {
 public:
  explicit ExcelStandIn(std::shared_ptr<memory::MemoryApplication> app);
  ExcelStandIn(const ExcelStandIn&) = delete;
  ExcelStandIn& operator=(const ExcelStandIn&) = delete;

  // The Application object (a new counted reference each time).
  win32::ComPtr<IDispatch> Application() const;
  const std::vector<std::u16string>& HelpOpened() const { return *help_; }

  // The add-in `progId` loaded and connected as Excel starts: S_FALSE when its key does not
  // load it at startup; `addin` is its IDispatch, through which Excel calls the ribbon's callbacks.
  HRESULT LoadComAddin(const wchar_t* progId, win32::ComPtr<IDispatch>& addin);
  static HRESULT RibbonXml(IDispatch* addin, std::wstring& xml);
  // As Excel closes: the add-in told of the shutdown and disconnected.
  static HRESULT UnloadComAddin(IDispatch* addin);

 private:
  std::shared_ptr<memory::MemoryApplication> app_;
  std::shared_ptr<std::vector<std::u16string>> help_ = std::make_shared<std::vector<std::u16string>>();
};

}  // namespace corvane::standin
