// The add-in library driven as Excel and its macros drive it: Corvane.dll registered, created by
// its programmatic identifier, handed the stand-in's Application and called by name with
// by-reference arguments. The stand-in is strict about calling forms, as Excel is, so these
// tests also hold the library's Excel adapter to them. What the commands do is tested on the
// in-memory workbook; here is what COM, the registry, the ANSI text file and Notepad add (and
// tests/win32/vbscript calls every method as a script does).
#include <windows.h>
#include <oaidl.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/harness.h"
#include "hosts/memory/memory_workbook.h"
#include "platform/win32/com/com_handles.h"
#include "platform/win32/dispatch_host.h"
#include "platform/win32/registry_store.h"
#include "platform/win32/text.h"
#include "standin/excel_standin.h"
#include "windows/frm_custom_msgbox.h"

namespace corvane::wintest {
namespace {

using standin::Call;
using win32::ComPtr;
using win32::UniqueVariant;

constexpr wchar_t kSettingsRoot[] = L"Software\\VB and VBA Program Settings\\Corvane";
const CLSID kClsid = {0x31e726e8, 0x236b, 0x4b4a, {0x81, 0x1b, 0x16, 0x2a, 0xdb, 0xc1, 0x5e, 0x84}};

// An export of the library as the function type it has.
template <typename F = HRESULT(STDAPICALLTYPE*)()>
F Export(HMODULE library, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

VARIANT Long(LONG value) {
  VARIANT v{};
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

UniqueVariant Text(const wchar_t* text) {
  UniqueVariant v;
  v->vt = VT_BSTR;
  v->bstrVal = ::SysAllocString(text);
  return v;
}

class ExcelEndToEnd : public WindowTest {
 protected:
  static void SetUpTestSuite() {
    wchar_t self[MAX_PATH]{};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    for (int up = 0; up < 3; ++up) path.resize(path.find_last_of(L'\\'));
    library_ = ::LoadLibraryW((path + L"\\Corvane.dll").c_str());
    ASSERT_NE(library_, nullptr) << "Corvane.dll not found in the build folder";
    // Per machine: Wine's class lookup does not see per-user registrations.
    const auto install = Export(library_, "DllRegisterServer");
    ASSERT_NE(install, nullptr);
    ASSERT_EQ(install(), S_OK);
  }
  static void TearDownTestSuite() {
    if (const auto uninstall = Export(library_, "DllUnregisterServer")) uninstall();
  }

  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsRoot);
    app_->SetListSeparator(u",");
    excel_.SetObserver([this](const Call& call) { calls_.push_back(call); });
    current_ = this;
    timer_ = ::SetTimer(nullptr, 0, 50, &ExcelEndToEnd::AnswerMessage);
    CLSID clsid{};
    ASSERT_EQ(::CLSIDFromProgID(L"Corvane.cls_corvane", &clsid), S_OK);
    ASSERT_EQ(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                 reinterpret_cast<void**>(corvane_.Receive())),
              S_OK);
    // As the host macro does: SetExcelApp Application.
    UniqueVariant application;
    application->vt = VT_DISPATCH;
    application->pdispVal = excel_.Application().Detach();
    ASSERT_EQ(Invoke(L"SetExcelApp", {application.get()}), S_OK);
  }

  void TearDown() override {
    ::KillTimer(nullptr, timer_);
    current_ = nullptr;
    excel_.SetObserver({});
    corvane_.Reset();
    ::CoUninitialize();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsRoot);
  }

  // Calls `name` on `target` with the arguments as given (rgvarg order: the last one first).
  static HRESULT Dispatch(IDispatch* target, const wchar_t* name, WORD flags, std::vector<VARIANT> args,
                          std::vector<DISPID> named = {}, VARIANT* result = nullptr, EXCEPINFO* info = nullptr) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (const HRESULT hr = target->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id); FAILED(hr)) return hr;
    DISPPARAMS params{args.data(), named.data(), static_cast<UINT>(args.size()), static_cast<UINT>(named.size())};
    UniqueVariant ignored;
    EXCEPINFO scratch{};
    const HRESULT hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result ? result : ignored.get(),
                                      info ? info : &scratch, nullptr);
    ::SysFreeString(scratch.bstrDescription);
    ::SysFreeString(scratch.bstrSource);
    ::SysFreeString(scratch.bstrHelpFile);
    return hr;
  }
  // Calls a method of the add-in by name as a macro does, every argument by reference.
  HRESULT Invoke(const wchar_t* name, const std::vector<VARIANT*>& argsReversed = {}, VARIANT* result = nullptr,
                 EXCEPINFO* info = nullptr) {
    std::vector<VARIANT> refs(argsReversed.size());
    for (std::size_t i = 0; i < refs.size(); ++i) {
      refs[i].vt = VT_BYREF | VT_VARIANT;
      refs[i].pvarVal = argsReversed[i];
    }
    return Dispatch(corvane_.get(), name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, refs, {}, result, info);
  }

  void ActiveCellWith(const std::u16string& address, const std::u16string& formula, bool wrap) {
    auto cell = sheet_->Range(address);
    cell->SetFormula(formula);
    sheet_->SetCellWrap(cell->row1(), cell->col1(), wrap);
    app_->SetActiveCell(cell);
    // The calibration data of the standard font, Calibri: every code with the relative width 1.
    win32::RegistrySettingsStore store;
    for (int code = 2; code <= 767; ++code) store.SaveSetting(u"Corvane", u"Spacing_Calibri", DecimalKey(code), u"1");
  }

  // Each message window of the add-in is answered with a real click on `answer_` ("ok", "yes" or
  // "no") and the buttons it showed are noted in `shown_`; while `answer_` is empty a message
  // window fails the test and is closed from its frame.
  static void CALLBACK AnswerMessage(HWND, UINT, UINT_PTR, DWORD) {
    const HWND box = ::FindWindowW(L"CorvaneForm", L"Corvane");
    if (!current_ || current_->answering_ || !box || !::IsWindowVisible(box)) return;
    current_->answering_ = true;
    current_->PumpFor(50);  // drawn
    const auto model = std::make_shared<windows::frmCustomMsgBox>();
    const auto item = [&](const windows::Control& control) {
      return ::GetDlgItem(box, win32::ControlIdOf(*model, control));
    };
    std::map<std::string, HWND> buttons{
        {"no", item(model->imgButtonNoMain)}, {"ok", item(model->imgButtonOkMain)}, {"yes", item(model->imgButtonYesMain)}};
    std::string shown;
    for (const auto& [name, button] : buttons)
      if (::IsWindowVisible(button)) shown += (shown.empty() ? "" : " ") + name;
    current_->shown_.push_back(shown);
    if (current_->answer_.empty()) {
      ADD_FAILURE() << "an unexpected message window appeared (" << shown << "); closing it";
      ::PostMessageW(box, WM_CLOSE, 0, 0);
    } else {
      current_->ClickOn(buttons[current_->answer_]);
    }
    EXPECT_TRUE(current_->PumpUntil([&] { return !::IsWindow(box); })) << "the message window stayed open";
    current_->answering_ = false;
  }

  static inline HMODULE library_ = nullptr;
  static inline ExcelEndToEnd* current_ = nullptr;
  std::shared_ptr<memory::MemoryApplication> app_ = memory::MemoryApplication::Create(&platform_.measurer);
  standin::ExcelStandIn excel_{app_};
  std::shared_ptr<memory::MemoryWorkbook> book_ = app_->AddWorkbook();
  std::shared_ptr<memory::MemorySheet> sheet_ = book_->Sheet(1);
  ComPtr<IDispatch> corvane_;
  std::vector<Call> calls_;
  std::string answer_;
  std::vector<std::string> shown_;
  bool answering_ = false;
  UINT_PTR timer_ = 0;
};

TEST_F(ExcelEndToEnd, LaysOutTheActiveCellAndTakesTheLayoutOutAgain) {
  const std::u16string sum = u"=SUM(A1,MAX(B1,C1))";
  ActiveCellWith(u"B7", sum, true);
  ASSERT_EQ(Invoke(L"cvFormulateCell"), S_OK);
  // Laid out with every width 1: each level's text is as wide as its characters.
  EXPECT_EQ(sheet_->CellFormula(7, 2), u"=SUM(\n            A1,\n            MAX(\n                       B1,\n"
                                       u"                       C1\n               )\n    )\n    ");
  EXPECT_TRUE(sheet_->CellWrap(7, 2)) << "wrapping put back as it was";
  std::vector<Variant> separatorAsked;
  for (const Call& call : calls_)
    if (call.member == u"International") separatorAsked.push_back(call.args[0].value);
  EXPECT_EQ(separatorAsked, std::vector<Variant>{Variant(std::int32_t{5})}) << "the list separator, asked once";
  ASSERT_EQ(Invoke(L"cvDeformulateCell"), S_OK);
  EXPECT_EQ(sheet_->CellFormula(7, 2), sum);

  // An empty cell: the message window with OK alone, closed by a click.
  ActiveCellWith(u"D1", u"", false);
  answer_ = "ok";
  ASSERT_EQ(Invoke(L"cvFormulateCell"), S_OK);
  EXPECT_EQ(shown_, std::vector<std::string>{"ok"});
}

// A Notepad window whose title names `name`, if one is up.
struct Notepad {
  const wchar_t* name;
  HWND window;
  std::wstring title;
};
BOOL CALLBACK MatchNotepad(HWND hwnd, LPARAM param) {
  auto& search = *reinterpret_cast<Notepad*>(param);
  wchar_t title[512]{};
  ::GetWindowTextW(hwnd, title, 512);
  if (!::IsWindowVisible(hwnd) || std::wstring(title).find(search.name) == std::wstring::npos) return TRUE;
  search.window = hwnd;
  search.title = title;
  return FALSE;
}

TEST_F(ExcelEndToEnd, ATooLongFormulaGoesToAnAnsiFileWithRegionalNumbersShownInNotepad) {
  constexpr wchar_t kFileName[] = L"Book1 - Sheet1 - B7 - formatted formula.txt";
  wchar_t temp[MAX_PATH]{}, thousands[8]{}, decimal[8]{};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"corvane-notepad-" + std::to_wstring(::GetCurrentProcessId());
  const std::wstring path = folder + L"\\" + kFileName;
  ::CreateDirectoryW(folder.c_str(), nullptr);
  ::SetEnvironmentVariableW(L"tmp", folder.c_str());
  ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, thousands, 8);
  ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, decimal, 8);
  // Regional settings with a point between thousands: the explanation's numbers follow them.
  ASSERT_TRUE(::SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, L","));
  ASSERT_TRUE(::SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, L"."));
  app_->SetVersion(u"11.0");
  // Short in one line, far beyond 1,024 characters once every argument has a line of its own.
  std::u16string formula = u"=SUM(\"caf\u00E9\"";
  for (int i = 1; i <= 90; ++i) formula += u",A" + DecimalKey(i);
  formula += u")";
  ActiveCellWith(u"B7", formula, true);
  ASSERT_EQ(Invoke(L"cvFormulateCell"), S_OK);
  EXPECT_EQ(sheet_->CellFormula(7, 2), formula) << "the cell is left as it was";

  // Notepad shows the file by its name; closed, its process ends.
  Notepad notepad{kFileName, nullptr, {}};
  const auto found = [&] {
    ::EnumWindows(MatchNotepad, reinterpret_cast<LPARAM>(&notepad));
    return notepad.window != nullptr;
  };
  EXPECT_TRUE(PumpUntil(found, 30000) && notepad.title.rfind(kFileName, 0) == 0) << "Notepad did not show the file";
  DWORD id = 0;
  ::GetWindowThreadProcessId(notepad.window, &id);
  if (const HANDLE process = notepad.window ? ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id) : nullptr) {
    ::PostMessageW(notepad.window, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(process, 15000) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "Notepad did not end when closed";
      ::TerminateProcess(process, 1);
    }
    ::CloseHandle(process);
  }

  std::string bytes;
  if (FILE* in = _wfopen(path.c_str(), L"rb")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) bytes.append(buffer, n);
    std::fclose(in);
  }
  ::SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, thousands);
  ::SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, decimal);
  ::SetEnvironmentVariableW(L"tmp", nullptr);
  ::DeleteFileW(path.c_str());
  ::RemoveDirectoryW(folder.c_str());
  // Back to text through the ANSI code page; it must be the same bytes that code page makes of it.
  std::wstring wide(bytes.size(), L'\0');
  wide.resize(static_cast<std::size_t>(::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                             wide.data(), static_cast<int>(wide.size()))));
  ASSERT_FALSE(wide.empty()) << "no file at the path the workbook, sheet and cell name";
  EXPECT_EQ(win32::ToAnsi(win32::FromWide(wide)), bytes);
  if (::GetACP() == 1252) {
    EXPECT_NE(bytes.find("caf\xE9"), std::string::npos) << "one byte for the accent";
  }
  EXPECT_NE(wide.find(L"allows a maximum of 1.024 characters"), std::wstring::npos) << "the user's thousands";
  EXPECT_NE(wide.find(L"\r\n\r\n=SUM(\r\n       \"caf\u00E9\",\r\n       A1,\r\n"), std::wstring::npos)
      << "the layout for Notepad after the explanation";
  for (std::size_t at = wide.find(L'\n'); at != std::wstring::npos; at = wide.find(L'\n', at + 1))
    ASSERT_TRUE(at > 0 && wide[at - 1] == L'\r') << "a line feed without a carriage return at " << at;
}

TEST_F(ExcelEndToEnd, TypeInformationAndAnAutomationErrorsHresultWithItsErrorInformation) {
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(corvane_->GetTypeInfo(0, 0, info.Receive()), S_OK);
  TYPEATTR* typeAttr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&typeAttr), S_OK);
  EXPECT_EQ(typeAttr->cFuncs, 7 + 16) << "IDispatch's seven and the sixteen methods";
  EXPECT_EQ(typeAttr->wTypeFlags & (TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE),
            TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE);
  info->ReleaseTypeAttr(typeAttr);

  // The building blocks that need a range fail as automation errors without one.
  UniqueVariant none;
  none->vt = VT_DISPATCH;
  none->pdispVal = nullptr;
  EXCEPINFO error{};
  EXPECT_EQ(Invoke(L"GetSpaceWidth", {none.get()}, nullptr, &error), DISP_E_EXCEPTION);
  const win32::UniqueBstr description = win32::UniqueBstr::Adopt(error.bstrDescription);
  const win32::UniqueBstr source = win32::UniqueBstr::Adopt(error.bstrSource);
  const win32::UniqueBstr help = win32::UniqueBstr::Adopt(error.bstrHelpFile);
  EXPECT_FALSE(win32::FromBstr(description.get()).empty());
  EXPECT_FALSE(win32::FromBstr(source.get()).empty());
  EXPECT_LT(error.scode, 0);
}

TEST_F(ExcelEndToEnd, ATypedTableAndRecordsThroughByReferenceArguments) {
  // PopulateCharArray: a two-dimensional string array, rows from 1.
  UniqueVariant formula = Text(L"=SUM(\"a(\",B1)");
  UniqueVariant length;
  *length.get() = Long(13);
  UniqueVariant table;
  ASSERT_EQ(Invoke(L"PopulateCharArray", {length.get(), formula.get()}, table.get()), S_OK);
  ASSERT_EQ(table->vt, VT_ARRAY | VT_BSTR);
  ASSERT_EQ(::SafeArrayGetDim(table->parray), 2u);
  LONG low = 0, high = 0;
  ::SafeArrayGetLBound(table->parray, 1, &low);
  ::SafeArrayGetUBound(table->parray, 1, &high);
  EXPECT_EQ(low, 1);
  EXPECT_EQ(high, 13);

  // CheckChar: the record of the type library, its texts and the names of its true flags, for a
  // syntactic parenthesis, one inside a string literal and a closing one (script engines cannot
  // read records).
  for (const auto& [item, expected] : std::map<LONG, std::u16string>{
           {5, u"(|M|\"|bIsLeftParen"}, {8, u"(|a|\"|bIsStringLiteral"}, {13, u")|1||bIsRightParen"}}) {
    UniqueVariant at;
    *at.get() = Long(item);
    UniqueVariant check;
    ASSERT_EQ(Invoke(L"CheckChar", {table.get(), at.get()}, check.get()), S_OK);
    ASSERT_EQ(check->vt, VT_RECORD);
    IRecordInfo& record = *check->pRecInfo;
    GUID guid{};
    record.GetGuid(&guid);
    EXPECT_TRUE(IsEqualGUID(guid, GUID{0x9cdf35ea, 0xd94b, 0x4d85, {0x85, 0x21, 0x40, 0x6d, 0x9b, 0x1e, 0xf1, 0x10}}));
    std::vector<BSTR> names(16);
    ULONG count = 16;
    record.GetFieldNames(&count, names.data());
    names.resize(count);
    EXPECT_EQ(count, 9U) << "three texts and six flags";
    std::u16string found;
    for (BSTR name : names) {
      UniqueVariant field;
      EXPECT_EQ(record.GetField(check->pvRecord, name, field.get()), S_OK);
      if (field->vt == VT_BSTR) found += win32::FromBstr(field->bstrVal) + u"|";
      if (field->vt == VT_BOOL && field->boolVal) found += win32::FromBstr(name);
      ::SysFreeString(name);
    }
    EXPECT_EQ(found, expected) << item;
  }
  UniqueVariant wrongType = Text(L"not a number");
  EXPECT_EQ(Invoke(L"CheckChar", {table.get(), wrongType.get()}), DISP_E_EXCEPTION);
}

TEST_F(ExcelEndToEnd, LifetimeExports) {
  corvane_.Reset();
  auto getClassObject = Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(library_, "DllGetClassObject");
  auto canUnload = Export(library_, "DllCanUnloadNow");
  ASSERT_TRUE(getClassObject && canUnload);
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(none, nullptr);
  ::CoFreeUnusedLibraries();
  EXPECT_EQ(canUnload(), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(getClassObject(kClsid, IID_IClassFactory, reinterpret_cast<void**>(factory.Receive())), S_OK);
  EXPECT_EQ(canUnload(), S_FALSE) << "a factory lives";
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory.Reset();
  EXPECT_EQ(canUnload(), S_FALSE) << "a lock lives";
  ASSERT_EQ(getClassObject(kClsid, IID_IClassFactory, reinterpret_cast<void**>(factory.Receive())), S_OK);
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  ComPtr<IDispatch> object;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(object.Receive())), S_OK);
  factory.Reset();
  EXPECT_EQ(canUnload(), S_FALSE) << "an object lives";
  object.Reset();
  EXPECT_EQ(canUnload(), S_OK);
}

// The stand-in itself (the adapter's calling forms are only held to Excel's while it refuses
// what Excel refuses), and its refusals as the adapter reads them.
TEST_F(ExcelEndToEnd, TheStandInRefusesCallingFormsExcelRefusesAndTheAdapterReadsItsErrors) {
  const ComPtr<IDispatch> application = excel_.Application();
  IDispatch* app = application.get();
  EXPECT_EQ(Dispatch(app, L"International", DISPATCH_PROPERTYGET, {Long(5)}), S_OK);
  EXPECT_EQ(Dispatch(app, L"International", DISPATCH_PROPERTYGET, {}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Dispatch(app, L"International", DISPATCH_PROPERTYGET, {Long(5), Long(5)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Dispatch(app, L"Version", DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND) << "a property is not a method";
  EXPECT_EQ(Dispatch(app, L"Version", DISPATCH_PROPERTYPUT, {Long(1)}, {DISPID_PROPERTYPUT}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Dispatch(app, L"NoSuchMember", DISPATCH_PROPERTYGET, {}), DISP_E_UNKNOWNNAME);
  // A put needs the put flag and the named argument DISPID_PROPERTYPUT; a named argument must be
  // one the member has; a method is called as one.
  ActiveCellWith(u"C3", u"=1", false);
  const Variant cell = win32::CallByName(app, u"ActiveCell", DISPATCH_PROPERTYGET);
  IDispatch* range = win32::DispatchOf(cell.object());
  EXPECT_NE(Dispatch(range, L"Formula", DISPATCH_PROPERTYPUT, {Long(2)}), S_OK);
  EXPECT_EQ(Dispatch(range, L"Formula", DISPATCH_METHOD, {Long(2)}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(sheet_->CellFormula(3, 3), u"=1");
  EXPECT_EQ(Dispatch(range, L"Formula", DISPATCH_PROPERTYPUT, {Long(2)}, {DISPID_PROPERTYPUT}), S_OK);
  EXPECT_EQ(sheet_->CellFormula(3, 3), u"2");
  EXPECT_EQ(Dispatch(range, L"Address", DISPATCH_PROPERTYGET, {Long(0)}, {7}), DISP_E_PARAMNOTFOUND);
  const Variant sheet = win32::CallByName(range, u"Parent", DISPATCH_PROPERTYGET);
  const Variant book = win32::CallByName(win32::DispatchOf(sheet.object()), u"Parent", DISPATCH_PROPERTYGET);
  EXPECT_EQ(Dispatch(win32::DispatchOf(book.object()), L"Close", DISPATCH_PROPERTYGET, {}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Dispatch(win32::DispatchOf(book.object()), L"Close", DISPATCH_METHOD, {}), DISP_E_EXCEPTION)
      << "Excel would ask whether to save";

  // Through the adapter: what the spreadsheet refuses arrives as its error, with its description.
  sheet_->Range(u"B2:B3")->SetFormulaArray(u"=A1:A2");
  app_->SetActiveCell(sheet_->Range(u"B3"));
  const auto host = win32::MakeExcelApplication(app);
  try {
    host->ActiveCell()->SetFormula(u"=1");
    ADD_FAILURE() << "changing part of an array block went through";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), err::kApplicationDefined);
    EXPECT_EQ(e.description(), u"You can't change part of an array.");
    EXPECT_EQ(e.source(), u"Microsoft Excel");
  }
  try {
    win32::CallByName(app, u"NoSuchMember", DISPATCH_PROPERTYGET);
    ADD_FAILURE() << "an unknown member answered";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 438);
  }
  host->ActiveCell()->Parent()->Parent()->Close(false);  // SaveChanges by name, or the stand-in refuses
  EXPECT_FALSE(book_->IsOpen());
}

}  // namespace
}  // namespace corvane::wintest
