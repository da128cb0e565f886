#include "standin/excel_standin.h"

// The Office interfaces of a COM add-in, as the ribbon add-in's type library declares them.
#include <initguid.h>

#include "ribbon_h.h"

#include <atomic>
#include <functional>
#include <utility>
#include <vector>

#include "platform/win32/dispatch_host.h"
#include "tests/win32/support/user_classes.h"

namespace corvane::standin {

using win32::ComPtr;
using win32::UniqueBstr;

namespace {

using memory::MemoryRange;

[[noreturn]] void Refuse(std::u16string description) {
  throw AutomationError(err::kApplicationDefined, std::move(description), u"Microsoft Excel");
}

template <typename T>
std::shared_ptr<T> As(const std::shared_ptr<AutomationObject>& object) {
  auto typed = std::dynamic_pointer_cast<T>(object);
  if (!typed) Refuse(u"The in-memory workbook gave an object of another kind.");
  return typed;
}

// One argument as the callee received it; a missing optional argument is Empty and `given` false.
struct Argument {
  Variant value;
  bool given = false;
};

struct Args {
  std::vector<Argument> items;
  bool Has(std::size_t i) const { return i < items.size() && items[i].given; }
  std::int32_t Long(std::size_t i) const { return ToLong(items.at(i).value, Services().regional); }
  bool Bool(std::size_t i) const { return ToBool(items.at(i).value, Services().regional); }
  std::u16string Text(std::size_t i) const { return ToText(items.at(i).value, Services().regional); }
};

// One object of the model: a table of members called through IDispatch by name.
class Object final : public IDispatch {
 public:
  using Getter = std::function<Variant(const Args&)>;
  using Putter = std::function<void(const Args&)>;
  struct Member {
    const wchar_t* name;
    std::vector<const wchar_t*> params;  // every parameter, in order
    std::size_t required;                // how many of them must be given
    Getter get;
    Putter put;
    bool method = false;  // called with DISPATCH_METHOD, not read
  };

  Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  Object& Property(const wchar_t* name, Getter get, Putter put = {}, std::vector<const wchar_t*> params = {},
                   std::size_t required = 0) {
    members_.push_back({name, std::move(params), required, std::move(get), std::move(put)});
    return *this;
  }
  Object& Method(const wchar_t* name, Getter call, std::vector<const wchar_t*> params, std::size_t required) {
    members_.push_back({name, std::move(params), required, std::move(call), {}, true});
    return *this;
  }
  // The object as a value to return; it takes over the reference the object was made with.
  Variant Value() {
    Variant value(ObjectRef(std::make_shared<win32::DispatchObject>(this)));
    Release();
    return value;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDispatch) return E_NOINTERFACE;
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const long left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override { return count ? (*count = 0, S_OK) : E_POINTER; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return DISP_E_BADINDEX; }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) noexcept override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const Member* member = nullptr;
    for (std::size_t m = 0; m < members_.size(); ++m)
      if (::lstrcmpiW(names[0], members_[m].name) == 0) {
        member = &members_[m];
        ids[0] = static_cast<DISPID>(m + 1);
      }
    if (!member) return DISP_E_UNKNOWNNAME;
    // A named argument's id is its place among the member's parameters.
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i)
      for (std::size_t k = 0; k < member->params.size(); ++k)
        if (::lstrcmpiW(names[i], member->params[k]) == 0) ids[i] = static_cast<DISPID>(k);
    for (UINT i = 1; i < count; ++i)
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    return hr;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT*) noexcept override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (id < 1 || static_cast<std::size_t>(id) > members_.size()) return DISP_E_MEMBERNOTFOUND;
    const Member& member = members_[static_cast<std::size_t>(id - 1)];
    DISPPARAMS none{};
    if (!params) params = &none;
    if (result) ::VariantInit(result);
    try {
      Args args;
      const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
      if (put) {
        if (!member.put || !(flags & DISPATCH_PROPERTYPUT)) return DISP_E_MEMBERNOTFOUND;
        if (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
          return DISP_E_PARAMNOTOPTIONAL;
        if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        args.items.push_back({win32::FromVariant(params->rgvarg[0]), true});
      } else {
        if (!(flags & (member.method ? DISPATCH_METHOD : DISPATCH_PROPERTYGET)) || !member.get)
          return DISP_E_MEMBERNOTFOUND;
        if (const HRESULT hr = ReadArguments(member, *params, args); FAILED(hr)) return hr;
      }
      if (put) {
        member.put(args);
      } else {
        const Variant value = member.get(args);
        if (result) win32::ToVariant(value, result);
      }
      return S_OK;
    } catch (const AutomationError& e) {
      if (result) ::VariantClear(result);
      if (exception) {
        *exception = EXCEPINFO{};
        // Excel's run-time error numbers travel in FACILITY_CONTROL, as 0x800A03EC for 1004.
        exception->scode = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, e.number() & 0xFFFF);
        try {
          exception->bstrSource = UniqueBstr(u"Microsoft Excel").Detach();
          exception->bstrDescription = UniqueBstr(e.description()).Detach();
        } catch (...) {
        }
      }
      return DISP_E_EXCEPTION;
    } catch (...) {
      if (result) ::VariantClear(result);
      return E_OUTOFMEMORY;
    }
  }

 private:
  ~Object() = default;

  // rgvarg holds the named arguments first, then the positional ones from the last to the first.
  static HRESULT ReadArguments(const Member& member, const DISPPARAMS& params, Args& args) {
    if (params.cArgs > member.params.size() || params.cNamedArgs > params.cArgs) return DISP_E_BADPARAMCOUNT;
    args.items.assign(member.params.size(), Argument{});
    const UINT positional = params.cArgs - params.cNamedArgs;
    const auto take = [&](std::size_t at, const VARIANT& v) {
      if (v.vt != VT_ERROR || v.scode != DISP_E_PARAMNOTFOUND) args.items[at] = {win32::FromVariant(v), true};
    };
    for (UINT i = 0; i < positional; ++i) take(i, params.rgvarg[params.cArgs - 1 - i]);
    for (UINT i = 0; i < params.cNamedArgs; ++i) {
      const DISPID at = params.rgdispidNamedArgs[i];
      if (at < static_cast<DISPID>(positional) || static_cast<std::size_t>(at) >= member.params.size())
        return DISP_E_PARAMNOTFOUND;
      take(static_cast<std::size_t>(at), params.rgvarg[i]);
    }
    for (std::size_t i = 0; i < member.required; ++i)
      if (!args.items[i].given) return i < params.cArgs ? DISP_E_PARAMNOTOPTIONAL : DISP_E_BADPARAMCOUNT;
    return S_OK;
  }

  std::vector<Member> members_;
  std::atomic<long> references_{1};
};

Variant Sheet(const std::shared_ptr<HostSheet>& s);

Variant Workbook(const std::shared_ptr<HostWorkbook>& book) {
  return (new Object)
      ->Property(L"Name", [book](const Args&) { return Variant(book->Name()); })
      .Property(L"Path", [book](const Args&) { return Variant(book->Path()); })
      .Property(
          L"Worksheets", [book](const Args& a) { return Sheet(book->Worksheets(a.Long(0))); }, {}, {L"Index"}, 1)
      .Method(
          L"Close", [book](const Args& a) { return book->Close(a.Has(0) && a.Bool(0)), Variant(); }, {L"SaveChanges"}, 0)
      .Value();
}

Variant Range(std::shared_ptr<MemoryRange> r);

Variant Sheet(const std::shared_ptr<HostSheet>& s) {
  return (new Object)
      ->Property(L"Name", [s](const Args&) { return Variant(s->Name()); })
      .Property(L"Parent", [s](const Args&) { return Workbook(s->Parent()); })
      .Property(
          L"Cells", [s](const Args& a) { return Range(As<MemoryRange>(s->Cells(a.Long(0)))); }, {}, {L"RowIndex"}, 1)
      .Value();
}

Variant Range(std::shared_ptr<MemoryRange> r) {
  const auto column = [r](const Args&) {
    return (new Object)
        ->Method(L"AutoFit", [r](const Args&) { return r->EntireColumnAutoFit(), Variant(); }, {}, 0)
        .Property(L"Width", [r](const Args&) { return Variant(r->EntireColumnWidth()); })
        .Value();
  };
  const auto address = [r](const Args& a) {
    if (a.Has(2) || a.Has(3) || a.Has(4)) Refuse(u"The stand-in gives A1 addresses of its own sheet only.");
    return Variant(r->Address(a.Has(0) ? a.Bool(0) : true, a.Has(1) ? a.Bool(1) : true));
  };
  return (new Object)
      ->Property(
          L"Formula", [r](const Args&) { return Variant(r->Formula()); },
          [r](const Args& a) { r->SetFormula(a.Text(0)); })
      .Property(
          L"WrapText", [r](const Args&) { return r->WrapText(); },
          [r](const Args& a) { r->SetWrapText(a.items[0].value); })
      .Property(L"HasArray", [r](const Args&) { return r->HasArray(); })
      .Property(L"HasFormula", [r](const Args&) { return r->HasFormula(); })
      .Property(L"Value", {}, [r](const Args& a) { r->SetValue(a.items[0].value); })
      .Property(L"EntireColumn", column)
      .Property(L"Parent", [r](const Args&) { return Sheet(r->Parent()); })
      .Property(L"Address", address, {}, {L"RowAbsolute", L"ColumnAbsolute", L"ReferenceStyle", L"External", L"RelativeTo"})
      .Value();
}

Variant Application(const std::shared_ptr<memory::MemoryApplication>& app,
                    const std::shared_ptr<std::vector<std::u16string>>& help) {
  const auto openHelp = [help](const Args& a) {
    help->push_back(a.Text(0));
    return Variant();
  };
  return (new Object)
      ->Property(L"StandardFont", [app](const Args&) { return Variant(app->StandardFont()); })
      .Property(L"Version", [app](const Args&) { return Variant(app->Version()); })
      .Property(L"ActiveCell", [app](const Args&) { return Range(As<MemoryRange>(app->ActiveCell())); })
      .Property(
          L"ScreenUpdating", [app](const Args&) { return Variant(app->ScreenUpdating()); },
          [app](const Args& a) { app->SetScreenUpdating(a.Bool(0)); })
      .Property(L"Workbooks",
                [app](const Args&) {
                  return (new Object)
                      ->Method(L"Add", [app](const Args&) { return Workbook(app->WorkbooksAdd()); }, {}, 0)
                      .Value();
                })
      .Property(
          L"International", [app](const Args& a) { return app->International(a.Long(0)); }, {}, {L"Index"}, 1)
      .Method(L"Help", openHelp, {L"HelpFile", L"HelpContextID"}, 0)
      .Value();
}

}  // namespace

ExcelStandIn::ExcelStandIn(std::shared_ptr<memory::MemoryApplication> app) : app_(std::move(app)) {}

ComPtr<IDispatch> ExcelStandIn::Application() const {
  return ComPtr<IDispatch>(win32::DispatchOf(standin::Application(app_, help_).object()));
}

HRESULT ExcelStandIn::LoadComAddin(const wchar_t* progId, ComPtr<IDispatch>& addin) {
  const std::wstring key = std::wstring(L"Software\\Microsoft\\Office\\Excel\\Addins\\") + progId;
  DWORD behavior = 0, size = sizeof(behavior);
  LONG status = ::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"LoadBehavior", RRF_RT_REG_DWORD, nullptr, &behavior, &size);
  if (status != ERROR_SUCCESS)
    status = ::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"LoadBehavior", RRF_RT_REG_DWORD, nullptr, &behavior, &size);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(status));
  if ((behavior & 3) != 3) return S_FALSE;  // not loaded at startup
  CLSID clsid{};
  ComPtr<IDTExtensibility2> extensibility;
  HRESULT hr = testsupport::CreateFromUserClasses(progId, IID_IDTExtensibility2,
                                                   reinterpret_cast<void**>(extensibility.Receive()));
  if (hr == REGDB_E_CLASSNOTREG) hr = ::CLSIDFromProgID(progId, &clsid);
  if (hr == S_OK && !extensibility)
    hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDTExtensibility2,
                            reinterpret_cast<void**>(extensibility.Receive()));
  if (FAILED(hr)) return hr;
  SAFEARRAY* custom = ::SafeArrayCreateVector(VT_VARIANT, 0, 0);
  hr = extensibility->OnConnection(Application().get(), ext_cm_Startup, nullptr, &custom);
  ::SafeArrayDestroy(custom);
  if (SUCCEEDED(hr)) hr = extensibility->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(addin.Receive()));
  return hr;
}

HRESULT ExcelStandIn::RibbonXml(IDispatch* addin, std::wstring& xml) {
  ComPtr<IRibbonExtensibility> ribbon;
  BSTR text = nullptr;
  HRESULT hr = addin->QueryInterface(IID_IRibbonExtensibility, reinterpret_cast<void**>(ribbon.Receive()));
  if (SUCCEEDED(hr)) hr = ribbon->GetCustomUI(UniqueBstr(u"Microsoft.Excel.Workbook").get(), &text);
  if (SUCCEEDED(hr)) xml.assign(text, ::SysStringLen(text));
  ::SysFreeString(text);
  return hr;
}

HRESULT ExcelStandIn::UnloadComAddin(IDispatch* addin) {
  ComPtr<IDTExtensibility2> extensibility;
  HRESULT hr = addin->QueryInterface(IID_IDTExtensibility2, reinterpret_cast<void**>(extensibility.Receive()));
  SAFEARRAY* custom = ::SafeArrayCreateVector(VT_VARIANT, 0, 0);
  if (SUCCEEDED(hr)) hr = extensibility->OnBeginShutdown(&custom);
  if (SUCCEEDED(hr)) hr = extensibility->OnDisconnection(ext_dm_HostShutdown, &custom);
  ::SafeArrayDestroy(custom);
  return hr;
}

}  // namespace corvane::standin
