// The ribbon add-in object: what Excel calls on a COM add-in (IDTExtensibility2), the ribbon's
// XML (IRibbonExtensibility), and the callbacks of its buttons and of its "Fit Width" drop-down,
// reached by name through IDispatch. The commands run on one Corvane.cls_corvane object, created
// through COM and handed Excel's Application as the macro module does; the drop-down reads and
// saves the option in the settings store itself. A failure goes to the user in the add-in's
// message window: Excel never sees an error from a callback.
#include <olectl.h>

#include <algorithm>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "addin/mdl_support.h"
#include "base/automation.h"
#include "base/options.h"
#include "base/platform.h"
#include "platform/win32/com/com_handles.h"
#include "platform/win32/com/server.h"
#include "platform/win32/ribbon/ribbon_ids.h"
#include "platform/win32/text.h"
#include "platform/win32/win32_platform.h"
#include "ribbon_h.h"

namespace corvane::win32::com {

namespace {

struct Button {
  const wchar_t* id;
  const wchar_t* label;
  const wchar_t* screentip;
  const wchar_t* supertip;
  const wchar_t* keytip;
  bool large;
  int picture;
  const wchar_t* method;  // of cls_corvane; null for Help, which Excel opens
};

constexpr Button kButtons[] = {
    {L"cvFormat", L"Format formula", L"Format formula", L"Lay out the active cell's formula, one level per line.",
     L"F", true, IDI_RIBBON_FORMAT, L"cvFormulateCell"},
    {L"cvRemove", L"Remove layout", L"Remove layout", L"Put the active cell's laid-out formula back on one line.",
     L"R", true, IDI_RIBBON_REMOVE, L"cvDeformulateCell"},
    {L"cvCalibrate", L"Calibrate", L"Calibrate", L"Measure the character widths of the standard font.", L"C", true,
     IDI_RIBBON_CALIBRATE, L"cvCalibrateSpacing"},
    {L"cvSettings", L"Settings", L"Settings", L"Choose how formulas are laid out.", L"S", false, IDI_RIBBON_SETTINGS,
     L"cvSettings"},
    {L"cvAbout", L"About", L"About Corvane", L"Version, copyright and web address.", L"A", false, IDI_RIBBON_ABOUT,
     L"cvAbout"},
    {L"cvHelp", L"Help", L"Corvane Help", L"Open Corvane's help.", L"H", false, IDI_RIBBON_HELP, nullptr},
};

constexpr const wchar_t* kOnAction = L"OnButton";
constexpr const wchar_t* kGetImage = L"GetButtonImage";

// The "Fit Width" drop-down: off and the usual widths, and the stored width when it is another
// one (set outside the ribbon), in order, so that the drop-down shows what the next layout uses.
// Reading never saves; picking an item saves its width, which its id carries ("cvFit72").
constexpr const wchar_t* kFitWidthDropDown =
    L"<dropDown id=\"cvFitWidth\" label=\"Fit Width\" sizeString=\"00000\" screentip=\"Fit Width\" supertip=\"The "
    L"widest a line may be, in widths of the standard font's digit 0: a level that fits stays on one line. Off "
    L"breaks every level.\" keytip=\"W\" getItemCount=\"GetFitWidthCount\" getItemID=\"GetFitWidthId\" "
    L"getItemLabel=\"GetFitWidthLabel\" getSelectedItemIndex=\"GetFitWidthIndex\" onAction=\"OnFitWidth\"/>";
constexpr std::int32_t kFitWidths[] = {0, 40, 60, 80, 100, 120};
constexpr std::u16string_view kFitWidthItem = u"cvFit";

struct FitWidthItems {
  std::vector<std::int32_t> widths;
  long selected;
};
FitWidthItems ReadFitWidthItems() {
  const std::int32_t stored = options::FitWidth(options::ReadText(Store(), options::kFitWidth));
  FitWidthItems items{{std::begin(kFitWidths), std::end(kFitWidths)}, 0};
  auto at = std::ranges::lower_bound(items.widths, stored);
  if (at == items.widths.end() || *at != stored) at = items.widths.insert(at, stored);
  items.selected = static_cast<long>(at - items.widths.begin());
  return items;
}
std::int32_t FitWidthAt(long index) {
  const FitWidthItems items = ReadFitWidthItems();
  if (index < 0 || index >= static_cast<long>(items.widths.size()))
    throw AutomationError(err::kSubscriptOutOfRange, u"Corvane's Fit Width has no item " + DecimalKey(index) + u".");
  return items.widths[static_cast<std::size_t>(index)];
}

std::wstring RibbonXml() {
  std::wstring xml =
      L"<customUI xmlns=\"http://schemas.microsoft.com/office/2009/07/customui\"><ribbon><tabs>"
      L"<tab id=\"cvTab\" label=\"Corvane\" keytip=\"Y2\"><group id=\"cvGroup\" label=\"Formula layout\">";
  for (const Button& b : kButtons) {
    xml += L"<button id=\"" + std::wstring(b.id) + L"\" label=\"" + b.label + L"\" size=\"" +
           (b.large ? L"large" : L"normal") + L"\" screentip=\"" + b.screentip + L"\" supertip=\"" + b.supertip +
           L"\" keytip=\"" + b.keytip + L"\" getImage=\"" + kGetImage + L"\" onAction=\"" + kOnAction + L"\"/>";
  }
  return xml + kFitWidthDropDown + L"</group></tab></tabs></ribbon></customUI>";
}

// A failure of a call to another object, with the description that object gave.
[[noreturn]] void Fail(const std::u16string& what, HRESULT hr, const EXCEPINFO* info = nullptr) {
  std::u16string description;
  if (info && info->bstrDescription) description = FromBstr(info->bstrDescription);
  if (description.empty()) {
    wchar_t* text = nullptr;
    if (::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr) &&
        text) {
      description = FromWide(text);
      ::LocalFree(text);
      while (!description.empty() && (description.back() == u'\n' || description.back() == u'\r'))
        description.pop_back();
    }
  }
  if (description.empty()) {
    wchar_t code[16]{};
    ::wsprintfW(code, L"0x%08lX", static_cast<unsigned long>(hr));
    description = u"error " + FromWide(code);
  }
  throw AutomationError(err::kApplicationDefined, what + u"\r\n\r\n" + description);
}

// Calls `name` on `object` by name, as a macro does; `argsReversed` as DISPPARAMS holds them.
void CallByName(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> argsReversed = {},
                VARIANT* result = nullptr) {
  const std::u16string what = u"Corvane could not run " + FromWide(name) + u".";
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  if (const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id); FAILED(hr))
    Fail(what, hr);
  DISPPARAMS params{argsReversed.data(), nullptr, static_cast<UINT>(argsReversed.size()), 0};
  UniqueVariant ignored;
  EXCEPINFO info{};
  const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                    result ? result : ignored.get(), &info, nullptr);
  const UniqueBstr source = UniqueBstr::Adopt(info.bstrSource), description = UniqueBstr::Adopt(info.bstrDescription),
                   helpFile = UniqueBstr::Adopt(info.bstrHelpFile);
  if (FAILED(hr)) Fail(what, hr == DISP_E_EXCEPTION && FAILED(info.scode) ? info.scode : hr, &info);
}

// The Id of the ribbon control a callback is for.
std::u16string ControlId(IDispatch* control) {
  ComPtr<IRibbonControl> ribbonControl;
  UniqueBstr id;
  if (!control ||
      FAILED(control->QueryInterface(IID_IRibbonControl, reinterpret_cast<void**>(ribbonControl.Receive()))) ||
      FAILED(ribbonControl->get_Id(id.Receive())))
    throw AutomationError(err::kTypeMismatch, u"Corvane was called without a ribbon control.");
  return FromBstr(id.get());
}
const Button& ButtonOf(IDispatch* control) {
  const std::u16string id = ControlId(control);
  for (const Button& b : kButtons)
    if (id == FromWide(b.id)) return b;
  throw AutomationError(err::kInvalidProcedureCall, u"Corvane has no button " + id + u".");
}

// The picture of a button at the size it is shown: a large button's 32 pixels; a normal one's
// 16, or 32 on a screen of 150 % or more, where Office would otherwise enlarge the small picture.
ComPtr<IPictureDisp> PictureOf(const Button& button) {
  int size = 32;
  if (!button.large) {
    const HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    size = dpi >= 144 ? 32 : 16;
  }
  const auto icon = static_cast<HICON>(
      ::LoadImageW(ThisModule(), MAKEINTRESOURCEW(button.picture), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
  if (!icon) Fail(u"Corvane could not load the picture of " + FromWide(button.label) + u".", HRESULT_FROM_WIN32(::GetLastError()));
  PICTDESC desc{};
  desc.cbSizeofstruct = sizeof(desc);
  desc.picType = PICTYPE_ICON;
  desc.icon.hicon = icon;
  ComPtr<IPictureDisp> picture;
  // The picture owns the icon from here on.
  if (const HRESULT hr = ::OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE,
                                                    reinterpret_cast<void**>(picture.Receive()));
      FAILED(hr)) {
    ::DestroyIcon(icon);
    Fail(u"Corvane could not make the picture of " + FromWide(button.label) + u".", hr);
  }
  return picture;
}

// Runs `body`; a failure is shown in the add-in's message window and goes no further.
template <typename F>
HRESULT Boundary(F&& body) noexcept {
  std::u16string message;
  try {
    EnsureThreadServices();
    body();
    return S_OK;
  } catch (const AutomationError& e) {
    try {
      message = e.description();
    } catch (...) {
    }
  } catch (const std::bad_alloc&) {
    message = u"Out of memory";
  } catch (...) {
    message = u"Internal error in Corvane.";
  }
  try {
    EnsureThreadServices();
    (void)mdl_Support::CustomMsgBox(message, 0, u"Corvane");
  } catch (...) {
  }
  return S_OK;
}

class RibbonObject final : public _Ribbon, public IDTExtensibility2, public IRibbonExtensibility {
 public:
  HRESULT Init() noexcept { return types_.Load(IID__Ribbon); }

  // ---- IUnknown ----
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__Ribbon) {
      *out = static_cast<_Ribbon*>(this);
    } else if (iid == IID_IDTExtensibility2) {
      *out = static_cast<IDTExtensibility2*>(this);
    } else if (iid == IID_IRibbonExtensibility) {
      *out = static_cast<IRibbonExtensibility*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return references_.Add(); }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const long left = references_.Drop();
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // ---- IDispatch: the callbacks by name, from the type library ----
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override { return types_.Count(count); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) noexcept override {
    return types_.Info(index, out);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) noexcept override {
    return types_.IdsOfNames(iid, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* badArgument) noexcept override {
    return types_.Invoke(static_cast<_Ribbon*>(this), id, iid, flags, params, result, exception, badArgument);
  }

  // ---- IDTExtensibility2 ----
  HRESULT STDMETHODCALLTYPE OnConnection(IDispatch* application, ext_ConnectMode, IDispatch*,
                                         SAFEARRAY**) noexcept override {
    return Boundary([&] {
      Disconnect();
      application_ = ComPtr<IDispatch>(application);
      (void)Corvane();
    });
  }
  HRESULT STDMETHODCALLTYPE OnDisconnection(ext_DisconnectMode, SAFEARRAY**) noexcept override {
    Disconnect();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnAddInsUpdate(SAFEARRAY**) noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnStartupComplete(SAFEARRAY**) noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnBeginShutdown(SAFEARRAY**) noexcept override { return S_OK; }

  // ---- IRibbonExtensibility ----
  HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR, BSTR* xml) noexcept override {
    if (!xml) return E_POINTER;
    *xml = nullptr;
    try {
      const std::wstring text = RibbonXml();
      *xml = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      return *xml ? S_OK : E_OUTOFMEMORY;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  // ---- _Ribbon: the callbacks ----
  HRESULT STDMETHODCALLTYPE OnButton(IDispatch* control) noexcept override {
    return Boundary([&] {
      const Button& button = ButtonOf(control);
      IDispatch* corvane = Corvane();
      if (button.method) return CallByName(corvane, button.method, DISPATCH_METHOD);
      // Help: Excel opens the help file that the add-in names, as the macro module has it do.
      UniqueVariant path;
      CallByName(corvane, L"cvHelpfilePath", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, path.get());
      CallByName(application_.get(), L"Help", DISPATCH_METHOD, {*path.get()});
    });
  }
  HRESULT STDMETHODCALLTYPE GetButtonImage(IDispatch* control, IPictureDisp** image) noexcept override {
    if (!image) return E_POINTER;
    *image = nullptr;
    return Boundary([&] { *image = PictureOf(ButtonOf(control)).Detach(); });
  }
  // The drop-down's callbacks, each for a ribbon control (whichever: the XML names them for one).
  HRESULT STDMETHODCALLTYPE GetFitWidthCount(IDispatch* control, long* count) noexcept override {
    if (!count) return E_POINTER;
    *count = static_cast<long>(std::size(kFitWidths));
    return Boundary([&] {
      (void)ControlId(control);
      *count = static_cast<long>(ReadFitWidthItems().widths.size());
    });
  }
  HRESULT STDMETHODCALLTYPE GetFitWidthId(IDispatch* control, long index, BSTR* id) noexcept override {
    if (!id) return E_POINTER;
    *id = nullptr;
    return Boundary([&] {
      (void)ControlId(control);
      *id = UniqueBstr(std::u16string(kFitWidthItem) + DecimalKey(FitWidthAt(index))).Detach();
    });
  }
  HRESULT STDMETHODCALLTYPE GetFitWidthLabel(IDispatch* control, long index, BSTR* label) noexcept override {
    if (!label) return E_POINTER;
    *label = nullptr;
    return Boundary([&] {
      (void)ControlId(control);
      const std::int32_t width = FitWidthAt(index);
      *label = UniqueBstr(width == 0 ? u"Off" : DecimalKey(width)).Detach();
    });
  }
  HRESULT STDMETHODCALLTYPE GetFitWidthIndex(IDispatch* control, long* index) noexcept override {
    if (!index) return E_POINTER;
    *index = 0;
    return Boundary([&] {
      (void)ControlId(control);
      *index = ReadFitWidthItems().selected;
    });
  }
  // The item's width from its id (the index may be of a list that has changed since), saved as
  // `corvane settings --fit-width` saves it: "0" for off.
  HRESULT STDMETHODCALLTYPE OnFitWidth(IDispatch* control, BSTR selectedId, long) noexcept override {
    return Boundary([&] {
      (void)ControlId(control);
      const std::u16string id = FromBstr(selectedId), digits = id.substr(std::min(id.size(), kFitWidthItem.size()));
      const std::int32_t width = options::FitWidth(digits);
      if (!id.starts_with(kFitWidthItem) || (width == 0 && digits != u"0"))
        throw AutomationError(err::kInvalidProcedureCall, u"Corvane's Fit Width has no item " + id + u".");
      Store().SaveSetting(options::kAppName, options::kSection, options::kFitWidth, DecimalKey(width));
    });
  }

 private:
  // The add-in object, created once Excel has connected and handed Excel's Application.
  IDispatch* Corvane() {
    if (corvane_) return corvane_.get();
    if (!application_) throw AutomationError(err::kObjectVariableNotSet, u"Excel has not connected Corvane yet.");
    const std::u16string what = u"Corvane could not start: Corvane.dll, registered beside the ribbon, is needed.";
    CLSID clsid{};
    ComPtr<IDispatch> created;
    HRESULT hr = ::CLSIDFromProgID(L"Corvane.cls_corvane", &clsid);
    if (SUCCEEDED(hr))
      hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(created.Receive()));
    // A registration for the user alone is not seen by every COM (Wine's, for one): the
    // Corvane.dll installed beside this library serves then.
    if (FAILED(hr) && SUCCEEDED(CreateBeside(created))) hr = S_OK;
    if (FAILED(hr)) Fail(what, hr);
    VARIANT app{};
    app.vt = VT_DISPATCH;
    app.pdispVal = application_.get();
    CallByName(created.get(), L"SetExcelApp", DISPATCH_METHOD, {app});
    corvane_ = created;
    return corvane_.get();
  }
  // The class of Corvane.dll from the copy in this library's folder, loaded for good (its
  // object keeps per-thread state for as long as the process lives).
  static HRESULT CreateBeside(ComPtr<IDispatch>& created) {
    static constexpr CLSID kCorvaneClass = {0x31E726E8, 0x236B, 0x4B4A, {0x81, 0x1B, 0x16, 0x2A, 0xDB, 0xC1, 0x5E, 0x84}};
    const std::wstring path = Wide(ModuleFolder()) + L"\\Corvane.dll";
    const HMODULE library = ::LoadLibraryW(path.c_str());
    if (!library) return HRESULT_FROM_WIN32(::GetLastError());
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(::GetProcAddress(library, "DllGetClassObject")));
    if (!get) return CLASS_E_CLASSNOTAVAILABLE;
    ComPtr<IClassFactory> factory;
    if (const HRESULT hr = get(kCorvaneClass, IID_IClassFactory, reinterpret_cast<void**>(factory.Receive())); FAILED(hr))
      return hr;
    return factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(created.Receive()));
  }
  void Disconnect() noexcept {
    corvane_.Reset();
    application_.Reset();
  }

  ObjectReferences references_;
  DualTypeInfo types_;
  ComPtr<IDispatch> application_;
  ComPtr<IDispatch> corvane_;
};

}  // namespace

const ServerClass kServerClass = {
    .clsid = &CLSID_Ribbon,
    .progId = L"Corvane.Ribbon",
    .classVersion = L"1.0",
    .libid = &LIBID_CorvaneRibbon,
    .libraryName = L"CorvaneRibbon",
    .typeLibVersion = L"1.0",
    .iid = &IID__Ribbon,
    .interfaceName = L"_Ribbon",
    .mistakenTypeLibVersion = nullptr,
    .addinName = L"Corvane",
    .addinDescription = L"Readable layout for long formulas: the Corvane tab on the ribbon.",
    .create = &CreateServerObject<RibbonObject>,
};

}  // namespace corvane::win32::com
