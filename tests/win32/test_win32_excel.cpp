// The add-in library driven as Excel and its macros drive it: Corvane.dll registered, created by
// its programmatic identifier, handed the stand-in's Application and called by name with
// by-reference arguments. The stand-in is strict about calling forms, as Excel is, so these
// tests also hold the library's Excel adapter to them. What the commands do is tested on the
// in-memory workbook; here is what COM, the registry, the ANSI text file and Notepad add (and
// tests/win32/vbscript calls every method as a script does).
#include <windows.h>
#include <oaidl.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "support/harness.h"
#include "hosts/memory/memory_workbook.h"
#include "platform/win32/com/com_handles.h"
#include "platform/win32/registry_store.h"
#include "platform/win32/text.h"
#include "standin/excel_standin.h"
#include "windows/frm_custom_msgbox.h"

namespace corvane::wintest {
namespace {

using win32::ComPtr;
using win32::UniqueVariant;

constexpr wchar_t kSettingsRoot[] = L"Software\\VB and VBA Program Settings\\Corvane";
constexpr wchar_t kFileName[] = L"Book1 - Sheet1 - B7 - formatted formula.txt";
// The library's registration exports.
using Entry = HRESULT(STDAPICALLTYPE*)();
Entry Export(HMODULE library, const char* name) {
  return reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
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
    corvane_.Reset();
    ::CoUninitialize();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsRoot);
  }

  // Calls a method of the add-in by name as a macro does, every argument by reference (the last
  // one first, as rgvarg holds them).
  HRESULT Invoke(const wchar_t* name, const std::vector<VARIANT*>& argsReversed = {}, VARIANT* result = nullptr) {
    std::vector<VARIANT> refs(argsReversed.size());
    for (std::size_t i = 0; i < refs.size(); ++i) {
      refs[i].vt = VT_BYREF | VT_VARIANT;
      refs[i].pvarVal = argsReversed[i];
    }
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (const HRESULT hr = corvane_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id); FAILED(hr)) return hr;
    DISPPARAMS params{refs.data(), nullptr, static_cast<UINT>(refs.size()), 0};
    UniqueVariant ignored;
    EXCEPINFO info{};
    const HRESULT hr = corvane_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                        &params, result ? result : ignored.get(), &info, nullptr);
    ::SysFreeString(info.bstrDescription);
    ::SysFreeString(info.bstrSource);
    ::SysFreeString(info.bstrHelpFile);
    return hr;
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

  // Each message window of the add-in is answered with a real click on OK, and which of the
  // Yes, No and OK buttons it showed is noted in `shown_`; while `answerOk_` is false a message
  // window fails the test and is closed from its frame.
  static void CALLBACK AnswerMessage(HWND, UINT, UINT_PTR, DWORD) {
    const HWND box = ::FindWindowW(L"CorvaneForm", L"Corvane");
    if (!current_ || current_->answering_ || !box || !::IsWindowVisible(box)) return;
    current_->answering_ = true;
    current_->PumpFor(50);  // drawn
    const auto model = std::make_shared<windows::frmCustomMsgBox>();
    std::string shown;
    for (const windows::Control* button : {&model->imgButtonYesMain, &model->imgButtonNoMain, &model->imgButtonOkMain})
      shown += ::IsWindowVisible(::GetDlgItem(box, win32::ControlIdOf(*model, *button))) ? "1" : "0";
    current_->shown_.push_back(shown);
    if (current_->answerOk_) {
      current_->ClickOn(::GetDlgItem(box, win32::ControlIdOf(*model, model->imgButtonOkMain)));
    } else {
      ADD_FAILURE() << "an unexpected message window appeared (" << shown << "); closing it";
      ::PostMessageW(box, WM_CLOSE, 0, 0);
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
  bool answerOk_ = false;
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
  ASSERT_EQ(Invoke(L"cvDeformulateCell"), S_OK);
  EXPECT_EQ(sheet_->CellFormula(7, 2), sum);

  // An empty cell: the message window with OK alone, closed by a click.
  ActiveCellWith(u"D1", u"", false);
  answerOk_ = true;
  ASSERT_EQ(Invoke(L"cvFormulateCell"), S_OK);
  EXPECT_EQ(shown_, std::vector<std::string>{"001"}) << "Yes, No, OK";
}

// The first visible window whose title starts with the file's name (Notepad's), if one is up.
BOOL CALLBACK MatchNotepad(HWND hwnd, LPARAM found) {
  wchar_t title[512]{};
  ::GetWindowTextW(hwnd, title, 512);
  if (!::IsWindowVisible(hwnd) || std::wstring(title).rfind(kFileName, 0) != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = hwnd;
  return FALSE;
}

TEST_F(ExcelEndToEnd, ATooLongFormulaGoesToAnAnsiFileWithRegionalNumbersShownInNotepad) {
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

  // Notepad shows the file by its name.
  HWND notepad = nullptr;
  EXPECT_TRUE(PumpUntil([&] { return !::EnumWindows(MatchNotepad, reinterpret_cast<LPARAM>(&notepad)); }, 30000))
      << "Notepad did not show the file";
  if (notepad) ::PostMessageW(notepad, WM_CLOSE, 0, 0);

  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
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
  EXPECT_NE(wide.find(L"allows a maximum of 1.024 characters"), std::wstring::npos) << "the user's thousands";
  EXPECT_NE(wide.find(L"\r\n\r\n=SUM(\r\n       \"caf\u00E9\",\r\n       A1,\r\n"), std::wstring::npos)
      << "the layout for Notepad after the explanation";
  for (std::size_t at = wide.find(L'\n'); at != std::wstring::npos; at = wide.find(L'\n', at + 1))
    ASSERT_TRUE(at > 0 && wide[at - 1] == L'\r') << "a line feed without a carriage return at " << at;
}

}  // namespace
}  // namespace corvane::wintest
