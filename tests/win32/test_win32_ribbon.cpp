// The ribbon add-in as Excel loads it: CorvaneRibbon.dll and Corvane.dll registered, the add-in
// found by its Addins key, created by ProgID and connected with the stand-in's Application; the
// ribbon's XML read with MSXML, and each button's and the "Fit Width" drop-down's callbacks called
// by name through IDispatch with a ribbon control, as Excel calls them, their effect checked on the
// stand-in's workbook, windows and settings.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "support/harness.h"
#include "hosts/memory/memory_workbook.h"
#include "platform/win32/com/com_handles.h"
#include "platform/win32/registry_store.h"
#include "platform/win32/text.h"
#include "standin/excel_standin.h"

namespace corvane::wintest {
namespace {

using win32::ComPtr;
using win32::UniqueBstr;
using win32::UniqueVariant;

constexpr wchar_t kAddinKey[] = L"Software\\Microsoft\\Office\\Excel\\Addins\\Corvane.Ribbon";
constexpr wchar_t kNamespace[] = L"http://schemas.microsoft.com/office/2009/07/customui";

// Calls `name` on `object` by name with the given arguments (the first one first).
HRESULT Call(IDispatch* object, const wchar_t* name, WORD flags, std::initializer_list<VARIANT> args = {},
             VARIANT* result = nullptr) {
  std::vector<VARIANT> reversed(args.begin(), args.end());
  std::reverse(reversed.begin(), reversed.end());
  DISPID id = 0, put = DISPID_PROPERTYPUT;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  if (const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id); FAILED(hr)) return hr;
  DISPPARAMS params{reversed.data(), flags == DISPATCH_PROPERTYPUT ? &put : nullptr, static_cast<UINT>(reversed.size()),
                    flags == DISPATCH_PROPERTYPUT ? 1U : 0U};
  UniqueVariant ignored;
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result ? result : ignored.get(), nullptr,
                        nullptr);
}
// Arguments that borrow their value (the caller keeps it alive).
VARIANT Text(BSTR b) { VARIANT v{}; return v.vt = VT_BSTR, v.bstrVal = b, v; }
VARIANT Index(LONG i) { VARIANT v{}; return v.vt = VT_I4, v.lVal = i, v; }
VARIANT Object(IDispatch* d) { VARIANT v{}; return v.vt = VT_DISPATCH, v.pdispVal = d, v; }
// A property of an MSXML object read by name, as text or as an object.
std::wstring TextOf(IDispatch* object, const wchar_t* name, std::initializer_list<VARIANT> args = {}) {
  UniqueVariant value;
  if (FAILED(Call(object, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, value.get())) ||
      FAILED(::VariantChangeType(value.get(), value.get(), VARIANT_ALPHABOOL, VT_BSTR)))
    return L"(none)";
  return {value->bstrVal, ::SysStringLen(value->bstrVal)};
}
ComPtr<IDispatch> ObjectOf(IDispatch* object, const wchar_t* name, std::initializer_list<VARIANT> args = {}) {
  UniqueVariant value;
  if (FAILED(Call(object, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, value.get())) || value->vt != VT_DISPATCH)
    return {};
  return ComPtr<IDispatch>(value->pdispVal);
}

// The control Excel passes to a callback: IRibbonControl (000C0395-...) with an Id.
class RibbonControl final : public IDispatch {
 public:
  explicit RibbonControl(std::wstring id) : id_(std::move(id)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
    static const IID kRibbonControl = {0x000C0395, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    *out = iid == IID_IUnknown || iid == IID_IDispatch || iid == kRibbonControl ? this : nullptr;
    return *out ? S_OK : E_NOINTERFACE;  // lives on the test's stack: no counting
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return 2; }
  ULONG STDMETHODCALLTYPE Release() noexcept override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override { return *count = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return DISP_E_BADINDEX; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) noexcept override {
    return DISP_E_MEMBERNOTFOUND;
  }
  // The rest of IRibbonControl's vtable: Id, Context, Tag.
  virtual HRESULT STDMETHODCALLTYPE get_Id(BSTR* id) noexcept { return *id = ::SysAllocString(id_.c_str()), S_OK; }
  virtual HRESULT STDMETHODCALLTYPE get_Context(IDispatch** context) noexcept { return *context = nullptr, S_OK; }
  virtual HRESULT STDMETHODCALLTYPE get_Tag(BSTR* tag) noexcept { return *tag = ::SysAllocString(L""), S_OK; }

 private:
  std::wstring id_;
};

using Entry = HRESULT(STDAPICALLTYPE*)();
using Install = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);

class RibbonAddin : public WindowTest {
 protected:
  // The build's libraries, registered per machine (Wine's class lookup does not see per-user
  // registrations); or, for tests/win32/setup.sh, those the setup program installed in the folder
  // CORVANE_INSTALLED names, as it registered them.
  static void SetUpTestSuite() {
    wchar_t self[MAX_PATH]{};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder = self;
    for (int up = 0; up < 3; ++up) folder.resize(folder.find_last_of(L'\\'));
    if (Installed()) folder = Installed();
    for (HMODULE& library : libraries_) {
      library = ::LoadLibraryW((folder + (&library == &libraries_[0] ? L"\\Corvane.dll" : L"\\CorvaneRibbon.dll")).c_str());
      ASSERT_NE(library, nullptr);
      if (!Installed()) {
        ASSERT_EQ(Export<Entry>(library, "DllRegisterServer")(), S_OK);
      }
    }
  }
  static void TearDownTestSuite() {
    for (HMODULE library : libraries_)
      if (library && !Installed()) Export<Entry>(library, "DllUnregisterServer")();
  }
  static const wchar_t* Installed() { return ::_wgetenv(L"CORVANE_INSTALLED"); }
  template <typename F>
  static F Export(HMODULE library, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
  }

  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    current_ = this;
    timer_ = ::SetTimer(nullptr, 0, 50, &RibbonAddin::CloseMessage);
    ASSERT_EQ(excel_.LoadComAddin(L"Corvane.Ribbon", addin_), S_OK);
    for (int code = 2; code <= 767; ++code) store_.SaveSetting(u"Corvane", u"Spacing_Calibri", DecimalKey(code), u"1");
    store_.SaveSetting(u"Corvane", u"Settings", u"Fit Width", u"0");  // an installation's may be on
  }
  void TearDown() override {
    if (addin_) {
      EXPECT_EQ(standin::ExcelStandIn::UnloadComAddin(addin_.get()), S_OK);
    }
    addin_.Reset();
    ::KillTimer(nullptr, timer_);
    current_ = nullptr;
    ::CoUninitialize();
    // An installation's settings are the setup test's to check.
    if (!Installed()) ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Corvane");
  }

  // A callback of the ribbon's XML called as Excel calls it: by name, with the control.
  HRESULT Callback(const wchar_t* name, const wchar_t* controlId, VARIANT* result = nullptr) {
    RibbonControl control(controlId);
    return Call(addin_.get(), name, DISPATCH_METHOD, {Object(&control)}, result);
  }

  // A message window that comes up is noted by the module that shows it, and closed.
  static void CALLBACK CloseMessage(HWND, UINT, UINT_PTR, DWORD) {
    const HWND box = ::FindWindowW(L"CorvaneForm", L"Corvane");
    if (!current_ || !box || !::IsWindowVisible(box)) return;
    current_->messagesFrom_.push_back(reinterpret_cast<HMODULE>(::GetWindowLongPtrW(box, GWLP_HINSTANCE)));
    ::PostMessageW(box, WM_CLOSE, 0, 0);
  }

  static inline HMODULE libraries_[2] = {};  // Corvane.dll, CorvaneRibbon.dll
  static inline RibbonAddin* current_ = nullptr;
  std::shared_ptr<memory::MemoryApplication> app_ = memory::MemoryApplication::Create(&platform_.measurer);
  standin::ExcelStandIn excel_{app_};
  std::shared_ptr<memory::MemorySheet> sheet_ = app_->AddWorkbook()->Sheet(1);
  ComPtr<IDispatch> addin_;
  win32::RegistrySettingsStore store_;  // the settings, with the standard font's widths every one 1
  std::vector<HMODULE> messagesFrom_;
  UINT_PTR timer_ = 0;
};

TEST_F(RibbonAddin, IsRegisteredForExcelPerMachineAndPerUser) {
  if (Installed()) GTEST_SKIP() << "the setup test checks an installation's registration";
  const auto install = Export<Install>(libraries_[1], "DllInstall");
  for (const bool perUser : {false, true}) {
    SCOPED_TRACE(perUser ? "per user" : "per machine");
    if (perUser) {
      ASSERT_EQ(install(TRUE, L"user"), S_OK);
    }
    const HKEY root = perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    DWORD behavior = 0, size = sizeof(behavior);
    EXPECT_EQ(::RegGetValueW(root, kAddinKey, L"LoadBehavior", RRF_RT_REG_DWORD, nullptr, &behavior, &size), 0);
    EXPECT_EQ(behavior, 3U);
    const auto text = [&](const wchar_t* key, const wchar_t* name) {
      wchar_t value[512]{};
      DWORD bytes = sizeof(value);
      return ::RegGetValueW(root, key, name, RRF_RT_REG_SZ, nullptr, value, &bytes) == 0 ? std::wstring(value) : L"(none)";
    };
    EXPECT_EQ(text(kAddinKey, L"FriendlyName"), L"Corvane");
    EXPECT_GT(text(kAddinKey, L"Description").size(), 10U);
    EXPECT_NE(text(L"Software\\Classes\\CLSID\\{98E15803-7E1D-4246-B5BD-1A52218557E9}\\InprocServer32", nullptr)
                  .find(L"\\CorvaneRibbon.dll"),
              std::wstring::npos);
    if (!perUser) continue;
    // Excel's key for the user is the other bitness's too: it stays while that one's registration
    // (its type library's entry, faked here) does, and goes with the last one.
    const std::wstring platforms = L"Software\\Classes\\TypeLib\\{C434DB95-B90B-4B09-8F4D-489E3D21E0CC}\\1.0\\0";
    ::RegSetKeyValueW(root, (platforms + (sizeof(void*) == 8 ? L"\\win32" : L"\\win64")).c_str(), nullptr, REG_SZ, L"", 2);
    for (const LONG left : {ERROR_SUCCESS, ERROR_FILE_NOT_FOUND}) {
      ASSERT_EQ(install(FALSE, L"user"), S_OK);
      EXPECT_EQ(::RegGetValueW(root, kAddinKey, L"LoadBehavior", RRF_RT_REG_DWORD, nullptr, nullptr, nullptr), left);
      ::RegDeleteTreeW(root, platforms.c_str());
    }
  }
}

TEST_F(RibbonAddin, TheRibbonIsACorvaneTabWhoseCallbacksTheAddinAnswers) {
  std::wstring xml;
  ASSERT_EQ(standin::ExcelStandIn::RibbonXml(addin_.get(), xml), S_OK);
  CLSID msxml{};
  ComPtr<IDispatch> document;
  ASSERT_EQ(::CLSIDFromProgID(L"Msxml2.DOMDocument.6.0", &msxml), S_OK);
  ASSERT_EQ(::CoCreateInstance(msxml, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(document.Receive())),
            S_OK);
  EXPECT_EQ(TextOf(document.get(), L"loadXML", {Text(UniqueBstr(win32::FromWide(xml)).get())}), L"True")
      << TextOf(ObjectOf(document.get(), L"parseError").get(), L"reason") << xml;
  const ComPtr<IDispatch> root = ObjectOf(document.get(), L"documentElement");
  ASSERT_TRUE(root);
  EXPECT_EQ(TextOf(root.get(), L"namespaceURI"), kNamespace);
  EXPECT_EQ(TextOf(root.get(), L"baseName"), L"customUI");
  const ComPtr<IDispatch> tab = ObjectOf(ObjectOf(root.get(), L"getElementsByTagName", {Text(UniqueBstr(u"tab").get())}).get(),
                                         L"item", {Index(0)});
  ASSERT_TRUE(tab);
  EXPECT_EQ(TextOf(tab.get(), L"getAttribute", {Text(UniqueBstr(u"label").get())}), L"Corvane");

  const ComPtr<IDispatch> buttons = ObjectOf(root.get(), L"getElementsByTagName", {Text(UniqueBstr(u"button").get())});
  ASSERT_TRUE(buttons);
  const struct {
    const wchar_t* id;
    const wchar_t* label;
    int pictureSize;  // at the 96 and 120 dots per inch the tests run at
  } expected[] = {{L"cvFormat", L"Format formula", 32}, {L"cvRemove", L"Remove layout", 32},
                  {L"cvCalibrate", L"Calibrate", 32},    {L"cvSettings", L"Settings", 16},
                  {L"cvAbout", L"About", 16},            {L"cvHelp", L"Help", 16}};
  ASSERT_EQ(TextOf(buttons.get(), L"length"), std::to_wstring(std::size(expected)));
  for (int i = 0; i < static_cast<int>(std::size(expected)); ++i) {
    SCOPED_TRACE(i);
    const ComPtr<IDispatch> button = ObjectOf(buttons.get(), L"item", {Index(i)});
    ASSERT_TRUE(button);
    const auto attribute = [&](const char16_t* name) {
      return TextOf(button.get(), L"getAttribute", {Text(UniqueBstr(name).get())});
    };
    EXPECT_EQ(attribute(u"id"), expected[i].id);
    EXPECT_EQ(attribute(u"label"), expected[i].label);
    EXPECT_NE(attribute(u"screentip"), L"(none)");
    EXPECT_EQ(attribute(u"keytip").size(), 1U);
    // The picture is an icon of the button's size.
    UniqueVariant picture;
    ASSERT_EQ(Callback(attribute(u"getImage").c_str(), expected[i].id, picture.get()), S_OK);
    ComPtr<IPicture> icon;
    ASSERT_EQ(picture->vt, VT_DISPATCH);
    ASSERT_EQ(picture->pdispVal->QueryInterface(IID_IPicture, reinterpret_cast<void**>(icon.Receive())), S_OK);
    SHORT type = 0;
    OLE_HANDLE handle = 0;
    icon->get_Type(&type);
    icon->get_Handle(&handle);
    ICONINFO info{};
    ASSERT_EQ(type, PICTYPE_ICON);
    ASSERT_TRUE(::GetIconInfo(reinterpret_cast<HICON>(static_cast<UINT_PTR>(handle)), &info));
    BITMAP colour{};
    ::GetObjectW(info.hbmColor, sizeof(colour), &colour);
    EXPECT_EQ(colour.bmWidth, expected[i].pictureSize);
    EXPECT_EQ(colour.bmBitsPixel, 32) << "the picture keeps its alpha";
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
  }
  const ComPtr<IDispatch> fit = ObjectOf(
      ObjectOf(root.get(), L"getElementsByTagName", {Text(UniqueBstr(u"dropDown").get())}).get(), L"item", {Index(0)});
  ASSERT_TRUE(fit);
  for (const auto& [name, value] :
       {std::pair{u"id", L"cvFitWidth"}, {u"label", L"Fit Width"}, {u"keytip", L"W"}, {u"supertip", L"digit 0"}})
    EXPECT_NE(TextOf(fit.get(), L"getAttribute", {Text(UniqueBstr(name).get())}).find(value), std::wstring::npos);
  // Every callback that any element names (on..., get...) is answered by name.
  const ComPtr<IDispatch> callbacks = ObjectOf(document.get(), L"selectNodes",
      {Text(UniqueBstr(u"//@*[starts-with(name(), 'on') or starts-with(name(), 'get')]").get())});
  ASSERT_EQ(TextOf(callbacks.get(), L"length"), std::to_wstring(2 * std::size(expected) + 5));
  for (LONG i = 0; i < static_cast<LONG>(2 * std::size(expected) + 5); ++i) {
    std::wstring name = TextOf(ObjectOf(callbacks.get(), L"item", {Index(i)}).get(), L"nodeValue");
    DISPID id = 0;
    LPOLESTR names[] = {name.data()};
    EXPECT_EQ(addin_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << name;
  }
  EXPECT_TRUE(messagesFrom_.empty());
}

// The first visible window of the thread's with this title.
HWND Shown(const wchar_t* title) {
  const HWND window = ::FindWindowW(L"CorvaneForm", title);
  return window && ::IsWindowVisible(window) ? window : nullptr;
}

TEST_F(RibbonAddin, EachButtonRunsItsCommandOnTheWorkbookAndFailuresGoToTheMessageWindow) {
  const std::u16string sum = u"=SUM(A1,MAX(B1,C1))";
  sheet_->Range(u"B7")->SetFormula(sum);
  app_->SetActiveCell(sheet_->Range(u"B7"));

  ASSERT_EQ(Callback(L"OnButton", L"cvFormat"), S_OK);
  EXPECT_EQ(sheet_->CellFormula(7, 2).substr(0, 20), u"=SUM(\n            A1") << "laid out";
  ASSERT_EQ(Callback(L"OnButton", L"cvRemove"), S_OK);
  EXPECT_EQ(sheet_->CellFormula(7, 2), sum);
  for (const auto& [id, title] : {std::pair{L"cvSettings", L"Corvane Settings"}, std::pair{L"cvAbout", L"About Corvane"}}) {
    SCOPED_TRACE(title);
    ASSERT_EQ(Callback(L"OnButton", id), S_OK);
    HWND window = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (window = Shown(title)) != nullptr; })) << "the window did not open";
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(window) || !::IsWindowVisible(window); }));
  }
  ASSERT_EQ(Callback(L"OnButton", L"cvHelp"), S_OK);
  ASSERT_EQ(excel_.HelpOpened().size(), 1U) << "Application.Help was asked once";
  EXPECT_TRUE(excel_.HelpOpened()[0].ends_with(u"\\corvane.chm"));
  EXPECT_TRUE(messagesFrom_.empty()) << "no message so far";
  // Every character measured in a scratch workbook of Excel's, closed after, and Corvane.dll's
  // notice that it is done.
  ASSERT_EQ(Callback(L"OnButton", L"cvCalibrate"), S_OK);
  EXPECT_EQ(app_->OpenWorkbooks().size(), 1U);
  EXPECT_TRUE(app_->ScreenUpdating());
  const auto width = [&](const char16_t* code) {
    return ToDouble(Variant(store_.GetSetting(u"Corvane", u"Spacing_Calibri", code, u"")), Services().regional);
  };
  EXPECT_GT(width(u"87"), width(u"105")) << "W wider than i";
  EXPECT_EQ(messagesFrom_, std::vector<HMODULE>{libraries_[0]});

  // A failure reaches the user in the add-in's message window and is not Excel's to handle:
  // Corvane.dll's automation error from Excel refusing a call of the calibration, a control the
  // ribbon does not have, and Excel gone from under the add-in.
  app_->FailAtCall(20);
  ASSERT_EQ(Callback(L"OnButton", L"cvCalibrate"), S_OK);
  app_->FailAtCall(0);
  EXPECT_EQ(app_->OpenWorkbooks().size(), 1U) << "the scratch workbook is closed after the failure too";
  ASSERT_EQ(Callback(L"OnButton", L"cvNoSuchButton"), S_OK);
  ASSERT_EQ(standin::ExcelStandIn::UnloadComAddin(addin_.get()), S_OK);
  ASSERT_EQ(Callback(L"OnButton", L"cvFormat"), S_OK);
  EXPECT_EQ(messagesFrom_, (std::vector<HMODULE>{libraries_[0], libraries_[1], libraries_[1], libraries_[1]}));
  EXPECT_EQ(sheet_->CellFormula(7, 2), sum) << "nothing ran without Excel";
}

TEST_F(RibbonAddin, TheFitWidthDropDownShowsTheStoredWidthAndSavesThePickedOne) {
  RibbonControl control(L"cvFitWidth");
  const auto stored = [&] { return store_.GetSetting(u"Corvane", u"Settings", u"Fit Width", u""); };
  // The stored text: the items' labels, the one selected. Another width (set by hand) is an item
  // of its own; reading saves nothing.
  for (const auto& [text, labels, selected] : {std::tuple{u"0", L"Off 40 60 80 100 120", L"0"},
                                               {u"72", L"Off 40 60 72 80 100 120", L"3"},
                                               {u"120", L"Off 40 60 80 100 120", L"5"},
                                               {u"wide", L"Off 40 60 80 100 120", L"0"}}) {
    store_.SaveSetting(u"Corvane", u"Settings", u"Fit Width", text);
    std::wstring all;
    for (LONG i = 0; i < std::stol(TextOf(addin_.get(), L"GetFitWidthCount", {Object(&control)})); ++i)
      all += (i ? L" " : L"") + TextOf(addin_.get(), L"GetFitWidthLabel", {Object(&control), Index(i)});
    EXPECT_EQ(all, labels);
    EXPECT_EQ(TextOf(addin_.get(), L"GetFitWidthIndex", {Object(&control)}), selected);
    EXPECT_EQ(stored(), text);
  }
  // Picking an item by the id it was given saves its width ("0" for off), which the next layout
  // uses: fewer lines at 40 than off.
  std::size_t lines[2]{};
  for (const LONG i : {0, 1}) {  // Off, then 40
    const UniqueBstr id(win32::FromWide(TextOf(addin_.get(), L"GetFitWidthId", {Object(&control), Index(i)})));
    ASSERT_EQ(Call(addin_.get(), L"OnFitWidth", DISPATCH_METHOD, {Object(&control), Text(id.get()), Index(i)}), S_OK);
    EXPECT_EQ(stored(), i ? u"40" : u"0");
    sheet_->Range(u"B7")->SetFormula(u"=IF(SUM(A1,B1,C1)>10,MAX(A1,B1,C1),MIN(A1,B1,C1))");
    app_->SetActiveCell(sheet_->Range(u"B7"));
    ASSERT_EQ(Callback(L"OnButton", L"cvFormat"), S_OK);
    lines[i] = std::ranges::count(sheet_->CellFormula(7, 2), u'\n');
  }
  EXPECT_LT(lines[1], lines[0]);
  // An item the drop-down does not have, and one past its end: the message window, nothing saved.
  const UniqueBstr unknown(u"cvFit4x");
  EXPECT_EQ(Call(addin_.get(), L"OnFitWidth", DISPATCH_METHOD, {Object(&control), Text(unknown.get()), Index(1)}), S_OK);
  EXPECT_EQ(TextOf(addin_.get(), L"GetFitWidthLabel", {Object(&control), Index(6)}), L"");
  EXPECT_EQ(messagesFrom_, std::vector<HMODULE>(2, libraries_[1]));
  EXPECT_EQ(stored(), u"40");
}

// The add-in as the setup program leaves it, for tests/win32/setup.sh, which names the folder of
// this bitness's installed libraries in CORVANE_INSTALLED (and runs the tests above on them):
// registered for the user alone, found and loaded from there, connected, and its ribbon and
// pictures served from the installed module.
class InstalledAddin : public WindowTest {};
TEST_F(InstalledAddin, LoadsFromTheUsersRegistration) {
  const wchar_t* folder = ::_wgetenv(L"CORVANE_INSTALLED");
  if (!folder) GTEST_SKIP() << "no installation named (CORVANE_INSTALLED)";
  HKEY machine = nullptr;
  EXPECT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAddinKey, 0, KEY_READ, &machine), ERROR_FILE_NOT_FOUND);
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    const auto app = memory::MemoryApplication::Create(&platform_.measurer);
    standin::ExcelStandIn excel(app);
    ComPtr<IDispatch> addin;
    ASSERT_EQ(excel.LoadComAddin(L"Corvane.Ribbon", addin), S_OK);
    wchar_t loaded[MAX_PATH]{};
    ::GetModuleFileNameW(::GetModuleHandleW(L"CorvaneRibbon.dll"), loaded, MAX_PATH);
    EXPECT_EQ(::lstrcmpiW(loaded, (std::wstring(folder) + L"\\CorvaneRibbon.dll").c_str()), 0) << loaded;
    std::wstring xml;
    ASSERT_EQ(standin::ExcelStandIn::RibbonXml(addin.get(), xml), S_OK);
    EXPECT_NE(xml.find(L"label=\"Corvane\""), std::wstring::npos) << xml;
    RibbonControl control(L"cvFormat");
    UniqueVariant picture;
    EXPECT_EQ(Call(addin.get(), L"GetButtonImage", DISPATCH_METHOD, {Object(&control)}, picture.get()), S_OK);
    EXPECT_EQ(picture->vt, VT_DISPATCH);
    EXPECT_EQ(standin::ExcelStandIn::UnloadComAddin(addin.get()), S_OK);
  }
  ::CoUninitialize();
}

}  // namespace
}  // namespace corvane::wintest
