// The add-in library driven as Excel drives it: Corvane.dll created by its programmatic
// identifier, handed the stand-in's Application, its commands called by name. The stand-in is
// strict about calling forms, so these tests also hold the library's Excel adapter to them. The
// add-in's windows are answered with real clicks; its settings land in the registry.
#include <windows.h>
#include <commctrl.h>
#include <oaidl.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "support/harness.h"
#include "hosts/memory/memory_workbook.h"
#include "platform/win32/com/com_handles.h"
#include "platform/win32/dispatch_host.h"
#include "platform/win32/registry.h"
#include "platform/win32/registry_store.h"
#include "platform/win32/text.h"
#include "standin/excel_standin.h"
#include "windows/frm_calibration_progress.h"
#include "windows/frm_about.h"
#include "windows/frm_custom_msgbox.h"
#include "windows/frm_settings.h"

namespace corvane::wintest {
namespace {

using standin::Call;
using standin::ExcelStandIn;
using win32::ComPtr;
using win32::UniqueVariant;

constexpr wchar_t kSettingsRoot[] = L"Software\\VB and VBA Program Settings\\Corvane";

std::wstring LibraryPath() {
  wchar_t self[MAX_PATH]{};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path = self;
  for (int up = 0; up < 3; ++up) path = path.substr(0, path.find_last_of(L'\\'));
  return path + L"\\Corvane.dll";
}

// The values of one registry key, name to data.
std::vector<std::pair<std::wstring, std::wstring>> ValuesOf(const std::wstring& section) {
  std::vector<std::pair<std::wstring, std::wstring>> values;
  win32::UniqueKey key;
  if (win32::OpenKey(HKEY_CURRENT_USER, std::wstring(kSettingsRoot) + L"\\" + section, KEY_READ, key) != ERROR_SUCCESS)
    return values;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256]{};
    wchar_t data[256]{};
    DWORD nameLength = 256;
    DWORD dataBytes = sizeof(data);
    DWORD type = 0;
    if (::RegEnumValueW(key.get(), i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataBytes) !=
        ERROR_SUCCESS)
      break;
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << "value " << std::string(name, name + nameLength);
    values.emplace_back(name, data);
  }
  return values;
}

class ExcelEndToEnd : public WindowTest {
 protected:
  static void SetUpTestSuite() {
    library_ = ::LoadLibraryW(LibraryPath().c_str());
    ASSERT_NE(library_, nullptr) << "Corvane.dll not found in the build folder";
    // Per machine: Wine's class lookup does not see per-user registrations.
    auto install = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(::GetProcAddress(library_, "DllRegisterServer")));
    ASSERT_NE(install, nullptr);
    ASSERT_EQ(install(), S_OK);
  }
  static void TearDownTestSuite() {
    auto uninstall = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(::GetProcAddress(library_, "DllUnregisterServer")));
    if (uninstall) uninstall();
  }

  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsRoot);
    app_ = memory::MemoryApplication::Create(&platform_.measurer);
    app_->SetListSeparator(u",");
    excel_ = std::make_unique<ExcelStandIn>(app_);
    excel_->SetObserver([this](const Call& call) {
      calls_.push_back(call);
      if (onCall_) onCall_(call);
    });
    book_ = app_->AddWorkbook();
    sheet_ = book_->Sheet(1);

    CLSID clsid{};
    ASSERT_EQ(::CLSIDFromProgID(L"Corvane.cls_corvane", &clsid), S_OK);
    ASSERT_EQ(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                 reinterpret_cast<void**>(corvane_.Receive())),
              S_OK);
    // As the host macro does: SetExcelApp Application.
    UniqueVariant application;
    application->vt = VT_DISPATCH;
    application->pdispVal = excel_->Application().Detach();
    ASSERT_EQ(Invoke(L"SetExcelApp", application.get()), S_OK);
  }

  void TearDown() override {
    excel_->SetObserver({});
    corvane_.Reset();
    excel_.reset();
    ::CoUninitialize();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsRoot);
  }

  // Calls a method of the add-in by name, as a macro does; `argument` (if any) goes by value.
  HRESULT Invoke(const wchar_t* name, VARIANT* argument = nullptr) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = corvane_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    DISPPARAMS params{argument, nullptr, argument ? 1u : 0u, 0};
    UniqueVariant result;
    EXCEPINFO info{};
    hr = corvane_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.get(), &info, nullptr);
    ::SysFreeString(info.bstrDescription);
    ::SysFreeString(info.bstrSource);
    ::SysFreeString(info.bstrHelpFile);
    return hr;
  }

  // The calibration data of the standard font: every code with the relative width `width`.
  void SeedWidths(const std::u16string& font, const std::u16string& width) {
    win32::RegistrySettingsStore store;
    for (int code = 2; code <= 767; ++code) store.SaveSetting(u"Corvane", u"Spacing_" + font, DecimalKey(code), width);
  }

  std::shared_ptr<memory::MemoryRange> ActiveCellWith(const std::u16string& address, const std::u16string& formula,
                                                      bool wrap) {
    auto cell = sheet_->Range(address);
    cell->SetFormula(formula);
    sheet_->SetCellWrap(cell->row1(), cell->col1(), wrap);
    app_->SetActiveCell(cell);
    return cell;
  }

  std::vector<Call> CallsTo(std::u16string_view member) const {
    std::vector<Call> found;
    for (const Call& call : calls_)
      if (call.member == member) found.push_back(call);
    return found;
  }

  // ---- The add-in's message window, answered with real clicks ----
  enum class Button { Ok, Yes, No };
  struct Shown {
    bool ok, yes, no;  // the buttons it showed
    int height;        // its outer height in pixels: longer prompts make taller windows
  };

  // While it lives, each message window of the add-in is answered with the next button of
  // `answers`; a window beyond them fails the test and is closed from its frame.
  class Answering {
   public:
    Answering(ExcelEndToEnd& test, std::vector<Button> answers) : test_(test), answers_(std::move(answers)) {
      model_ = std::make_shared<windows::frmCustomMsgBox>();
      current_ = this;
      timer_ = ::SetTimer(nullptr, 0, 50, &Answering::Tick);
    }
    ~Answering() {
      ::KillTimer(nullptr, timer_);
      current_ = nullptr;
      if (next_ < answers_.size()) ADD_FAILURE() << answers_.size() - next_ << " message window(s) never came";
    }
    Answering(const Answering&) = delete;
    Answering& operator=(const Answering&) = delete;

    const std::vector<Shown>& shown() const { return shown_; }

   private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
      if (current_ && !current_->busy_) current_->Answer();
    }
    HWND Item(HWND box, const windows::Control& control) const {
      return ::GetDlgItem(box, win32::ControlIdOf(*model_, control));
    }
    void Answer() {
      const HWND box = ::FindWindowW(L"CorvaneForm", L"Corvane");
      if (!box || !::IsWindowVisible(box)) return;
      busy_ = true;
      test_.PumpFor(50);  // drawn
      RECT rect{};
      ::GetWindowRect(box, &rect);
      const HWND ok = Item(box, model_->imgButtonOkMain);
      const HWND yes = Item(box, model_->imgButtonYesMain);
      const HWND no = Item(box, model_->imgButtonNoMain);
      shown_.push_back({::IsWindowVisible(ok) != FALSE, ::IsWindowVisible(yes) != FALSE, ::IsWindowVisible(no) != FALSE,
                        static_cast<int>(rect.bottom - rect.top)});
      if (next_ >= answers_.size()) {
        ADD_FAILURE() << "an unexpected message window appeared; closing it";
        ::PostMessageW(box, WM_CLOSE, 0, 0);
      } else {
        const Button answer = answers_[next_++];
        test_.ClickOn(answer == Button::Ok ? ok : answer == Button::Yes ? yes : no);
      }
      EXPECT_TRUE(test_.PumpUntil([&] { return !::IsWindow(box); })) << "the message window stayed open";
      busy_ = false;
    }

    ExcelEndToEnd& test_;
    std::vector<Button> answers_;
    std::size_t next_ = 0;
    std::vector<Shown> shown_;
    std::shared_ptr<windows::frmCustomMsgBox> model_;
    bool busy_ = false;
    UINT_PTR timer_ = 0;
    static inline Answering* current_ = nullptr;
  };

  static inline HMODULE library_ = nullptr;
  std::shared_ptr<memory::MemoryApplication> app_;
  std::unique_ptr<ExcelStandIn> excel_;
  std::shared_ptr<memory::MemoryWorkbook> book_;
  std::shared_ptr<memory::MemorySheet> sheet_;
  ComPtr<IDispatch> corvane_;
  std::vector<Call> calls_;
  std::function<void(const Call&)> onCall_;
};

const std::u16string kSum = u"=SUM(A1,MAX(B1,C1))";
// Laid out with every width 1: each level's text is as wide as its characters.
const std::u16string kSumLaidOut =
    u"=SUM(\n            A1,\n            MAX(\n                       B1,\n                       C1\n"
    u"               )\n    )\n    ";
const std::u16string kIf = u"=IF(A1>0,\"x(\",B1)";
const std::u16string kIfLaidOut = u"=IF(\n           A1>0,\n           \"x(\",\n           B1\n   )\n   ";

TEST_F(ExcelEndToEnd, FormulatesACellKeepsItsWrappingAndUnformatsIt) {
  SeedWidths(u"Calibri", u"1");
  ActiveCellWith(u"B7", kSum, true);
  {
    Answering none(*this, {});
    ASSERT_EQ(Invoke(L"cvFormulateCell"), S_OK);
  }
  EXPECT_EQ(sheet_->CellFormula(7, 2), kSumLaidOut);
  EXPECT_TRUE(sheet_->CellWrap(7, 2)) << "wrapping put back as it was";
  EXPECT_TRUE(CallsTo(u"FormulaArray").empty());
  EXPECT_TRUE(CallsTo(u"ScreenUpdating").empty()) << "formatting a cell leaves screen updating alone";
  ASSERT_EQ(CallsTo(u"International").size(), 1U);
  EXPECT_EQ(CallsTo(u"International")[0].args[0].value, Variant(std::int32_t{5}));

  ASSERT_EQ(Invoke(L"cvDeformulateCell"), S_OK);
  EXPECT_EQ(sheet_->CellFormula(7, 2), kSum);
  EXPECT_TRUE(sheet_->CellWrap(7, 2));

  // Wrapping that was off stays off.
  ActiveCellWith(u"C3", kIf, false);
  ASSERT_EQ(Invoke(L"cvFormulateCell"), S_OK);
  EXPECT_EQ(sheet_->CellFormula(3, 3), kIfLaidOut);
  EXPECT_FALSE(sheet_->CellWrap(3, 3));

  // An empty cell: the message, and nothing else.
  ActiveCellWith(u"D1", u"", false);
  Answering one(*this, {Button::Ok});
  ASSERT_EQ(Invoke(L"cvFormulateCell"), S_OK);
  ASSERT_EQ(one.shown().size(), 1U);
  EXPECT_TRUE(one.shown()[0].ok && !one.shown()[0].yes && !one.shown()[0].no);
}

TEST_F(ExcelEndToEnd, FormulatesAThreeByTwoArrayBlockAndPutsEachCellsWrappingBack) {
  SeedWidths(u"Calibri", u"1");
  auto block = sheet_->Range(u"B2:C4");
  block->SetFormulaArray(kIf);
  // A pattern no single value restores: the command must put back each cell's own.
  const bool wraps[3][2] = {{true, false}, {false, true}, {true, true}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 2; ++c) sheet_->SetCellWrap(2 + r, 2 + c, wraps[r][c]);
  app_->SetActiveCell(sheet_->Range(u"C3"));

  Answering none(*this, {});
  ASSERT_EQ(Invoke(L"cvFormulateCell"), S_OK);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 2; ++c) {
      SCOPED_TRACE(testing::Message() << "cell row " << 2 + r << ", column " << 2 + c);
      EXPECT_TRUE(sheet_->CellInArray(2 + r, 2 + c));
      EXPECT_EQ(sheet_->CellFormula(2 + r, 2 + c), kIfLaidOut);
      EXPECT_EQ(sheet_->CellWrap(2 + r, 2 + c), wraps[r][c]);
    }
  ASSERT_EQ(CallsTo(u"FormulaArray").size(), 1U);
  EXPECT_TRUE(CallsTo(u"Formula").size() >= 1 && CallsTo(u"Formula").back().flags == DISPATCH_PROPERTYGET)
      << "the block gets FormulaArray, never Formula";
  EXPECT_EQ(CallsTo(u"WrapText").size(), 12U) << "six read, six put back";

  // A single cell formatted afterwards by the same object gets Formula, not FormulaArray.
  calls_.clear();
  ActiveCellWith(u"E5", kSum, false);
  ASSERT_EQ(Invoke(L"cvFormulateCell"), S_OK);
  EXPECT_EQ(sheet_->CellFormula(5, 5), kSumLaidOut);
  EXPECT_TRUE(CallsTo(u"FormulaArray").empty());

  // Unformatting the block from any of its cells gives back the one-line array formula.
  app_->SetActiveCell(sheet_->Range(u"B4"));
  ASSERT_EQ(Invoke(L"cvDeformulateCell"), S_OK);
  EXPECT_EQ(sheet_->CellFormula(2, 2), kIf);
  EXPECT_TRUE(sheet_->CellInArray(4, 3));
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 2; ++c) EXPECT_EQ(sheet_->CellWrap(2 + r, 2 + c), wraps[r][c]);
}

TEST_F(ExcelEndToEnd, CalibrationCancelledAtCode100KeepsTheKeysUpTo100) {
  app_->SetStandardFont(u"Arial");
  auto progressModel = std::make_shared<windows::frmCalibrationProgress>();
  int barAtCancel = -1;
  bool cancelled = false;
  onCall_ = [&](const Call& call) {
    // The first measurement of the character with code 100 ("d").
    if (cancelled || call.member != u"Value" || !(call.args[0].value == Variant(u"'d"))) return;
    cancelled = true;
    const HWND progress = ::FindWindowW(L"CorvaneForm", L"Corvane Calibration");
    ASSERT_NE(progress, nullptr) << "no progress window while calibrating";
    barAtCancel = static_cast<int>(
        ::SendMessageW(::GetDlgItem(progress, win32::ControlIdOf(*progressModel, progressModel->pbCalibration)),
                       PBM_GETPOS, 0, 0));
    ClickOn(::GetDlgItem(progress, win32::ControlIdOf(*progressModel, progressModel->imgButtonCancelMain)));
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(progress); })) << "Cancel closes the progress window at once";
  };
  {
    Answering none(*this, {});  // a cancelled run ends without its closing notice
    ASSERT_EQ(Invoke(L"cvCalibrateSpacing"), S_OK);
  }
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(barAtCancel, 99) << "the bar shows the last character stored";

  std::map<int, std::wstring> widths;
  for (const auto& [name, value] : ValuesOf(L"Spacing_Arial")) widths[std::stoi(name)] = value;
  ASSERT_EQ(widths.size(), 99U) << "the keys 2 to 100";
  EXPECT_EQ(widths.begin()->first, 2);
  EXPECT_EQ(widths.rbegin()->first, 100);
  const RegionalFormat regional = win32::UserRegionalFormat();
  for (const auto& [code, text] : widths) {
    const double width = ParseNumber(win32::FromWide(text), regional);
    // Control characters may show nothing at all; every other character takes room.
    if (code >= 32) {
      EXPECT_GT(width, 0.0) << "code " << code;
    } else {
      EXPECT_GE(width, 0.0) << "code " << code;
    }
    EXPECT_LT(width, 10.0) << "code " << code;
  }
  EXPECT_EQ(widths[32], L"1") << "the space is the unit";
  EXPECT_TRUE(ValuesOf(L"Special_Arial").empty());

  // The scratch workbook went unsaved, screen updating is on again.
  const auto closes = CallsTo(u"Close");
  ASSERT_EQ(closes.size(), 1U);
  EXPECT_TRUE(closes[0].args[0].byName) << "SaveChanges is passed by name";
  EXPECT_EQ(closes[0].args[0].value, Variant(false));
  EXPECT_EQ(app_->OpenWorkbooks().size(), 1U);
  EXPECT_TRUE(app_->ScreenUpdating());
  const auto updates = CallsTo(u"ScreenUpdating");
  ASSERT_EQ(updates.size(), 2U);
  EXPECT_EQ(updates[0].args[0].value, Variant(false));
  EXPECT_EQ(updates[1].args[0].value, Variant(true));
  EXPECT_EQ(::FindWindowW(L"CorvaneForm", L"Corvane Calibration"), nullptr);
}

TEST_F(ExcelEndToEnd, TheCalibrationQuestionIsAnsweredInTheMessageWindow) {
  ActiveCellWith(u"B7", kSum, false);

  // No, then No: nothing changes.
  {
    Answering answers(*this, {Button::No, Button::No});
    ASSERT_EQ(Invoke(L"cvFormulateCell"), S_OK);
    ASSERT_EQ(answers.shown().size(), 2U);
    for (const Shown& shown : answers.shown()) EXPECT_TRUE(shown.yes && shown.no && !shown.ok);
    EXPECT_GT(answers.shown()[1].height, answers.shown()[0].height) << "the second question is the longer one";
  }
  EXPECT_EQ(sheet_->CellFormula(7, 2), kSum);

  // No, then Yes: laid out with every width 1, nothing calibrated.
  {
    Answering answers(*this, {Button::No, Button::Yes});
    ASSERT_EQ(Invoke(L"cvFormulateCell"), S_OK);
  }
  EXPECT_EQ(sheet_->CellFormula(7, 2), kSumLaidOut);
  EXPECT_TRUE(ValuesOf(L"Spacing_Calibri").empty());

  // Yes: a whole calibration with GDI's widths, its closing notice, then the layout.
  ActiveCellWith(u"B7", kSum, false);
  {
    Answering answers(*this, {Button::Yes, Button::Ok});
    ASSERT_EQ(Invoke(L"cvFormulateCell"), S_OK);
    ASSERT_EQ(answers.shown().size(), 2U);
    EXPECT_TRUE(answers.shown()[1].ok && !answers.shown()[1].yes) << "the closing notice has OK alone";
  }
  EXPECT_EQ(ValuesOf(L"Spacing_Calibri").size(), 766U);
  const std::u16string laidOut = sheet_->CellFormula(7, 2);
  EXPECT_NE(laidOut.find(u'\n'), std::u16string::npos);
  ASSERT_EQ(Invoke(L"cvDeformulateCell"), S_OK);
  EXPECT_EQ(sheet_->CellFormula(7, 2), kSum);
  // The next run finds the calibration and asks nothing.
  Answering none(*this, {});
  ASSERT_EQ(Invoke(L"cvFormulateCell"), S_OK);
  EXPECT_EQ(sheet_->CellFormula(7, 2), laidOut);
}

TEST_F(ExcelEndToEnd, SettingsAndAboutOpenWithoutWaitingAndCloseWithTheirButtons) {
  const auto settings = std::make_shared<windows::frmSettings>();
  ASSERT_EQ(Invoke(L"cvSettings"), S_OK) << "returns while the window is open";
  const HWND window = ::FindWindowW(L"CorvaneForm", L"Corvane Settings");
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return ::IsWindowVisible(window) != FALSE; }));
  ClickOn(::GetDlgItem(window, win32::ControlIdOf(*settings, settings->chkFormatAllParens)));
  ClickOn(::GetDlgItem(window, win32::ControlIdOf(*settings, settings->imgButtonOkMain)));
  EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(window); }));
  auto stored = ValuesOf(L"Settings");
  std::sort(stored.begin(), stored.end());
  EXPECT_EQ(stored, (std::vector<std::pair<std::wstring, std::wstring>>{{L"Always Send to Notepad", L"0"},
                                                                        {L"Format All Parens", L"1"}}));

  const auto about = std::make_shared<windows::frmAbout>();
  ASSERT_EQ(Invoke(L"cvAbout"), S_OK);
  const HWND aboutWindow = ::FindWindowW(L"CorvaneForm", L"About Corvane");
  ASSERT_NE(aboutWindow, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return ::IsWindowVisible(aboutWindow) != FALSE; }));
  ClickOn(::GetDlgItem(aboutWindow, win32::ControlIdOf(*about, about->imgButtonOkMain)));
  EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(aboutWindow); }));
}

// ---- Notepad ----

struct Process {
  DWORD id = 0;
  HWND window = nullptr;
  std::wstring title;
};

struct NotepadSearch {
  const std::wstring* name;
  Process found;
};

BOOL CALLBACK MatchNotepad(HWND hwnd, LPARAM param) {
  auto& search = *reinterpret_cast<NotepadSearch*>(param);
  wchar_t title[512]{};
  ::GetWindowTextW(hwnd, title, 512);
  if (std::wstring(title).find(*search.name) == std::wstring::npos || !::IsWindowVisible(hwnd)) return TRUE;
  search.found.window = hwnd;
  search.found.title = title;
  ::GetWindowThreadProcessId(hwnd, &search.found.id);
  return FALSE;
}

// A Notepad window whose title names `fileName`, if one is up.
Process FindNotepad(const std::wstring& fileName) {
  NotepadSearch search{&fileName, {}};
  ::EnumWindows(MatchNotepad, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  FILE* in = _wfopen(path.c_str(), L"rb");
  if (!in) return bytes;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) bytes.append(buffer, n);
  std::fclose(in);
  return bytes;
}

class NotepadDelivery : public ExcelEndToEnd {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH]{};
    ::GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"corvane-notepad-" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(folder_.c_str(), nullptr);
    ::SetEnvironmentVariableW(L"tmp", folder_.c_str());
    wchar_t thousands[8]{}, decimal[8]{};
    ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, thousands, 8);
    ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, decimal, 8);
    savedThousands_ = thousands;
    savedDecimal_ = decimal;
    ExcelEndToEnd::SetUp();
  }
  void TearDown() override {
    ExcelEndToEnd::TearDown();
    ::SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, savedThousands_.c_str());
    ::SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, savedDecimal_.c_str());
    ::SetEnvironmentVariableW(L"tmp", nullptr);
    const std::wstring file = folder_ + L"\\" + kFileName;
    ::DeleteFileW(file.c_str());
    ::RemoveDirectoryW(folder_.c_str());
  }

  // Waits for Notepad to show the file, then closes it and waits until its process has ended.
  Process CloseNotepadShowing(const std::wstring& fileName) {
    Process notepad;
    PumpUntil([&] { return (notepad = FindNotepad(fileName)).window != nullptr; }, 30000);
    if (!notepad.window) return notepad;
    const HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, notepad.id);
    ::PostMessageW(notepad.window, WM_CLOSE, 0, 0);
    if (process) {
      if (::WaitForSingleObject(process, 15000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "Notepad did not end when closed";
        ::TerminateProcess(process, 1);
      }
      ::CloseHandle(process);
    }
    return notepad;
  }

  static constexpr wchar_t kFileName[] = L"Book1 - Sheet1 - B7 - formatted formula.txt";
  std::wstring folder_;
  std::wstring savedThousands_, savedDecimal_;
};

TEST_F(NotepadDelivery, ATooLongFormulaGoesToAFileInTheAnsiCodePageWithRegionalNumbers) {
  // Regional settings with a point between thousands: the explanation's numbers follow them.
  ASSERT_TRUE(::SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, L","));
  ASSERT_TRUE(::SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, L"."));
  ASSERT_EQ(win32::UserRegionalFormat().thousandsSeparator, u'.');
  SeedWidths(u"Calibri", u"1");
  app_->SetVersion(u"11.0");
  // Short in one line, far beyond 1,024 characters once every argument has a line of its own.
  std::u16string formula = u"=SUM(\"caf\u00E9\"";
  for (int i = 1; i <= 90; ++i) formula += u",A" + DecimalKey(i);
  formula += u")";
  ASSERT_LT(formula.size(), 1024U);
  ActiveCellWith(u"B7", formula, true);

  {
    Answering none(*this, {});
    ASSERT_EQ(Invoke(L"cvFormulateCell"), S_OK);
  }
  const Process notepad = CloseNotepadShowing(kFileName);
  ASSERT_NE(notepad.window, nullptr) << "Notepad did not show the file";
  EXPECT_EQ(sheet_->CellFormula(7, 2), formula) << "the cell is left as it was";
  EXPECT_TRUE(sheet_->CellWrap(7, 2));

  const std::wstring path = folder_ + L"\\" + kFileName;
  const std::string bytes = ReadBytes(path);
  ASSERT_FALSE(bytes.empty()) << "no file at the path the workbook, sheet and cell name";
  // Back to text through the ANSI code page; it must be the same bytes that code page makes of it.
  const int length = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), length);
  EXPECT_EQ(win32::ToAnsi(win32::FromWide(wide)), bytes);
  if (::GetACP() == 1252) {
    EXPECT_NE(bytes.find("caf\xE9"), std::string::npos) << "one byte for the accent";
  }

  std::vector<std::wstring> lines;
  for (std::size_t start = 0; start < wide.size();) {
    const std::size_t end = wide.find(L"\r\n", start);
    ASSERT_NE(end, std::wstring::npos) << "every line ends with a carriage return and a line feed";
    lines.push_back(wide.substr(start, end - start));
    start = end + 2;
  }
  ASSERT_GT(lines.size(), 8U);
  EXPECT_EQ(lines[0],
            L"Unable to enter this formatted formula into Excel, because it has too many characters. The formatted "
            L"formula is shown below instead.");
  EXPECT_EQ(lines[1], L"");
  const std::wregex facts(
      L"This version of Excel allows a maximum of 1\\.024 characters in a formula\\. This formatted formula has "
      L"(\\d\\.\\d{3}) characters when formatted for Calibri font, or (\\d\\.\\d{3}) characters when formatted for a "
      L"non-proportional font such as Courier New or Lucinda Console\\.");
  std::wsmatch numbers;
  ASSERT_TRUE(std::regex_match(lines[2], numbers, facts)) << win32::ToAnsi(win32::FromWide(lines[2]));
  EXPECT_EQ(lines[3], L"");
  EXPECT_EQ(lines[4],
            L"Excel 2007 and later allow up to 8,192 characters in a formula. Excel 2003 and earlier allow up to "
            L"1,024 characters in a formula.");
  for (int i = 5; i < 8; ++i) EXPECT_EQ(lines[static_cast<std::size_t>(i)], L"");
  // The rest is the layout for Notepad, as long as the explanation says.
  std::wstring layout;
  for (std::size_t i = 8; i < lines.size(); ++i) layout += (i > 8 ? L"\n" : L"") + lines[i];
  const auto count = [](std::wstring text) { return std::stoi(text.erase(1, 1)); };
  EXPECT_EQ(static_cast<int>(layout.size()), count(numbers[2].str()));
  EXPECT_GT(count(numbers[1].str()), 1024);
  EXPECT_GT(count(numbers[1].str()), count(numbers[2].str())) << "seven spaces after a parenthesis in the cell, two here";
  EXPECT_EQ(lines[8], L"=SUM(");
  EXPECT_EQ(lines[9], L"       \"caf\u00E9\",");
  EXPECT_EQ(notepad.title.rfind(kFileName, 0), 0U) << "Notepad shows the file by its name";
}

TEST_F(NotepadDelivery, AlwaysSendToNotepadLeavesTheCellAndExplainsWhy) {
  SeedWidths(u"Calibri", u"1");
  win32::RegistrySettingsStore().SaveSetting(u"Corvane", u"Settings", u"Always Send to Notepad", u"1");
  ActiveCellWith(u"B7", kSum, false);
  {
    Answering none(*this, {});
    ASSERT_EQ(Invoke(L"cvFormulateCell"), S_OK);
  }
  ASSERT_NE(CloseNotepadShowing(kFileName).window, nullptr);
  EXPECT_EQ(sheet_->CellFormula(7, 2), kSum);
  EXPECT_TRUE(CallsTo(u"WrapText").size() == 1U && CallsTo(u"WrapText")[0].flags == DISPATCH_PROPERTYGET)
      << "wrapping read, never written";
  const std::string text = ReadBytes(folder_ + L"\\" + kFileName);
  EXPECT_EQ(text,
            "Corvane is currently configured to always send the formatted formula to Notepad instead of formatting "
            "the formula in the cell.\r\n\r\nTo format formulas in their cells, go to Corvane Settings and uncheck "
            "\"Always Send to Notepad\".\r\n\r\n\r\n\r\n"
            "=SUM(\r\n       A1,\r\n       MAX(\r\n             B1,\r\n             C1\r\n          )\r\n    )\r\n"
            "    \r\n");
}

// ---- The adapter and the stand-in, without the library ----

class ExcelAdapter : public WindowTest {
 protected:
  std::shared_ptr<memory::MemoryApplication> app_ = memory::MemoryApplication::Create(&platform_.measurer);
  ExcelStandIn excel_{app_};
  ComPtr<IDispatch> application_ = excel_.Application();

  HRESULT Raw(IDispatch* target, const wchar_t* name, WORD flags, std::vector<VARIANT> argsReversed,
              std::vector<DISPID> named = {}) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (const HRESULT hr = target->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id); FAILED(hr)) return hr;
    DISPPARAMS params{argsReversed.data(), named.data(), static_cast<UINT>(argsReversed.size()),
                      static_cast<UINT>(named.size())};
    UniqueVariant result;
    EXCEPINFO info{};
    const HRESULT hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result.get(), &info, nullptr);
    ::SysFreeString(info.bstrDescription);
    ::SysFreeString(info.bstrSource);
    ::SysFreeString(info.bstrHelpFile);
    return hr;
  }
  static VARIANT Long(LONG value) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
  }
  static VARIANT Bool(bool value) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
  }
};

TEST_F(ExcelAdapter, TheStandInRefusesCallingFormsExcelRefuses) {
  IDispatch* app = application_.get();
  EXPECT_EQ(Raw(app, L"International", DISPATCH_PROPERTYGET, {Long(5)}), S_OK);
  EXPECT_EQ(Raw(app, L"International", DISPATCH_PROPERTYGET, {}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Raw(app, L"International", DISPATCH_PROPERTYGET, {Long(5), Long(5)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Raw(app, L"Version", DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND) << "a property is not a method";
  // A put needs the put flag and the named argument DISPID_PROPERTYPUT.
  EXPECT_EQ(Raw(app, L"ScreenUpdating", DISPATCH_PROPERTYPUT, {Bool(false)}, {DISPID_PROPERTYPUT}), S_OK);
  EXPECT_FALSE(app_->ScreenUpdating());
  EXPECT_NE(Raw(app, L"ScreenUpdating", DISPATCH_PROPERTYPUT, {Bool(true)}), S_OK);
  EXPECT_EQ(Raw(app, L"ScreenUpdating", DISPATCH_METHOD, {Bool(true)}), DISP_E_MEMBERNOTFOUND);
  EXPECT_FALSE(app_->ScreenUpdating());
  EXPECT_EQ(Raw(app, L"Version", DISPATCH_PROPERTYPUT, {Long(1)}, {DISPID_PROPERTYPUT}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Raw(app, L"NoSuchMember", DISPATCH_PROPERTYGET, {}), DISP_E_UNKNOWNNAME);

  // Workbooks.Add is a method; Close wants SaveChanges.
  win32::ComPtr<IDispatch> books(
      win32::DispatchOf(win32::CallByName(app, u"Workbooks", DISPATCH_PROPERTYGET).object()));
  EXPECT_EQ(Raw(books.get(), L"Add", DISPATCH_PROPERTYGET, {}), DISP_E_MEMBERNOTFOUND);
  const Variant book = win32::CallByName(books.get(), u"Add", DISPATCH_METHOD);
  IDispatch* workbook = win32::DispatchOf(book.object());
  EXPECT_EQ(Raw(workbook, L"Close", DISPATCH_METHOD, {}), DISP_E_EXCEPTION) << "Excel would ask whether to save";
  const Variant sheet = win32::CallByName(workbook, u"Worksheets", DISPATCH_PROPERTYGET, {Variant(std::int32_t{1})});
  EXPECT_EQ(Raw(win32::DispatchOf(sheet.object()), L"Cells", DISPATCH_PROPERTYGET, {Long(1), Long(2), Long(3)}),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Raw(workbook, L"Close", DISPATCH_METHOD, {Bool(false)}, {7}), DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(app_->OpenWorkbooks().size(), 1U);
  win32::CallByName(workbook, u"Close", DISPATCH_METHOD, {Variant(false)}, u"SaveChanges");
  EXPECT_TRUE(app_->OpenWorkbooks().empty());
}

TEST_F(ExcelAdapter, EveryHostOperationReachesTheWorkbookAndRefusalsComeBackAsErrors) {
  auto memoryBook = app_->AddWorkbook();
  memoryBook->SetPath(u"C:\\Work");
  memoryBook->SetName(u"Budget.xlsx");
  memoryBook->Sheet(1)->SetName(u"Q1");
  memoryBook->Sheet(1)->Range(u"B2:C4")->SetFormulaArray(u"=A1:B3");
  app_->SetActiveCell(memoryBook->Sheet(1)->Range(u"C3"));
  app_->SetStandardFont(u"Arial");
  app_->SetVersion(u"12.0");
  app_->SetListSeparator(u";");

  const auto host = win32::MakeExcelApplication(application_.get());
  EXPECT_EQ(host->StandardFont(), u"Arial");
  EXPECT_EQ(host->Version(), u"12.0");
  EXPECT_EQ(host->International(5), Variant(u";"));

  const auto cell = host->ActiveCell();
  EXPECT_EQ(cell->HasArray(), Variant(true));
  const auto block = cell->CurrentArray();
  EXPECT_EQ(block->RowsCount(), 3);
  EXPECT_EQ(block->ColumnsCount(), 2);
  EXPECT_EQ(block->Address(false, false), u"B2:C4");
  EXPECT_EQ(block->Cells(3, 2)->Address(true, true), u"$C$4");
  EXPECT_EQ(cell->Formula(), u"=A1:B3");
  EXPECT_EQ(block->Parent()->Name(), u"Q1");
  EXPECT_EQ(block->Parent()->Parent()->Path(), u"C:\\Work");
  EXPECT_EQ(block->Parent()->Parent()->Name(), u"Budget.xlsx");
  block->Cells(1, 1)->SetWrapText(Variant(true));
  EXPECT_EQ(block->WrapText(), Variant(Null{})) << "mixed wrapping reads as Null";
  block->SetFormulaArray(u"=A1:B3+1");
  EXPECT_EQ(memoryBook->Sheet(1)->CellFormula(4, 3), u"=A1:B3+1");

  // What the spreadsheet refuses arrives as its error, with its description.
  try {
    cell->SetFormula(u"=1");
    ADD_FAILURE() << "changing part of an array block went through";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), err::kApplicationDefined);
    EXPECT_EQ(e.description(), u"You can't change part of an array.");
    EXPECT_EQ(e.source(), u"Microsoft Excel");
  }
  try {
    win32::CallByName(application_.get(), u"NoSuchMember", DISPATCH_PROPERTYGET);
    ADD_FAILURE() << "an unknown member answered";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 438);
  }

  // The measuring cell of a scratch workbook, with screen updating off meanwhile.
  host->SetScreenUpdating(false);
  EXPECT_FALSE(app_->ScreenUpdating());
  const auto scratch = host->WorkbooksAdd();
  const auto measuring = scratch->Worksheets(1)->Cells(1);
  EXPECT_EQ(measuring->Address(false, false), u"A1");
  measuring->SetValue(Variant(u"'" + std::u16string(40, u'W')));
  measuring->SetWrapText(Variant(false));
  measuring->EntireColumnAutoFit();
  const auto scratchBook = app_->OpenWorkbooks().back();
  EXPECT_EQ(measuring->EntireColumnWidth(), scratchBook->Sheet(1)->ColumnWidthPoints(1));
  EXPECT_GT(measuring->EntireColumnWidth(), 48.0) << "fitted to forty W's, wider than a fresh column";
  scratch->Close(false);
  EXPECT_FALSE(scratchBook->IsOpen());
  EXPECT_FALSE(scratchBook->ClosedWithSave());
  host->SetScreenUpdating(true);
  EXPECT_TRUE(app_->ScreenUpdating());
}

}  // namespace
}  // namespace corvane::wintest
