// The automation object: _cls_corvane's sixteen methods, each converting its by-reference
// arguments, calling the portable object, writing changed arguments back to the caller, and
// turning any failure into an automation error. IDispatch is driven by the type library.
#include <new>
#include <string>

#include "addin/cls_corvane.h"
#include "corvane_h.h"
#include "platform/win32/com/com_handles.h"
#include "platform/win32/com/server.h"
#include "base/platform.h"
#include "platform/win32/dispatch_host.h"

namespace corvane::win32::com {

namespace {

const GUID kParenCheckGuid = {0x9cdf35ea, 0xd94b, 0x4d85, {0x85, 0x21, 0x40, 0x6d, 0x9b, 0x1e, 0xf1, 0x10}};

// Hands an automation error to the caller: error information for IErrorInfo, and the failure
// code the macro language shows as run-time error `number`.
HRESULT Report(std::int32_t number, const std::u16string& description, const std::u16string& source) noexcept {
  ComPtr<ICreateErrorInfo> create;
  if (SUCCEEDED(::CreateErrorInfo(create.Receive()))) {
    create->SetGUID(IID__cls_corvane);
    UniqueBstr sourceText, descriptionText;
    try {
      sourceText = UniqueBstr(source);
      descriptionText = UniqueBstr(description);
    } catch (...) {
    }
    create->SetSource(sourceText.get());
    create->SetDescription(descriptionText.get());
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.Receive()))))
      ::SetErrorInfo(0, info.get());
  }
  if (number <= 0 || number > 0xFFFF) return E_FAIL;
  return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number);
}

template <typename F>
HRESULT Boundary(F&& body) noexcept {
  try {
    ::SetErrorInfo(0, nullptr);
    EnsureThreadServices();
    body();
    return S_OK;
  } catch (const AutomationError& e) {
    return Report(e.number(), e.description(), e.source());
  } catch (const std::bad_alloc&) {
    Report(7, u"Out of memory", u"Corvane");
    return E_OUTOFMEMORY;
  } catch (...) {
    return Report(err::kApplicationDefined, u"Internal error in Corvane.", u"Corvane");
  }
}

// Writes `value` into a by-reference argument, through references the caller's VARIANT may hold.
void WriteBack(VARIANT* target, const Variant& value) {
  if (!target) return;
  if (target->vt == (VT_BYREF | VT_VARIANT)) return WriteBack(target->pvarVal, value);
  UniqueVariant fresh;
  ToVariant(value, fresh.get());
  if (target->vt & VT_BYREF) {
    // A typed reference: the caller's variable keeps its type.
    const VARTYPE type = static_cast<VARTYPE>(target->vt & ~VT_BYREF);
    if (type & VT_ARRAY) {
      if (fresh->vt != type) throw AutomationError(err::kTypeMismatch, u"Type mismatch");
      if (*target->pparray) ::SafeArrayDestroy(*target->pparray);
      *target->pparray = std::exchange(fresh->parray, nullptr);
      fresh->vt = VT_EMPTY;
      return;
    }
    if (FAILED(::VariantChangeType(fresh.get(), fresh.get(), 0, type)))
      throw AutomationError(err::kTypeMismatch, u"Type mismatch");
    switch (type) {
      case VT_BSTR:
        ::SysFreeString(*target->pbstrVal);
        *target->pbstrVal = std::exchange(fresh->bstrVal, nullptr);
        fresh->vt = VT_EMPTY;
        return;
      case VT_I4: *target->plVal = fresh->lVal; return;
      case VT_I2: *target->piVal = fresh->iVal; return;
      case VT_BOOL: *target->pboolVal = fresh->boolVal; return;
      case VT_R8: *target->pdblVal = fresh->dblVal; return;
      default: throw AutomationError(err::kTypeMismatch, u"Type mismatch");
    }
  }
  ::VariantClear(target);
  fresh.DetachTo(target);
}

// A by-reference variant argument for the portable object; changes go back on Commit.
class VariantArg {
 public:
  explicit VariantArg(VARIANT* arg) : arg_(arg), value_(arg ? FromVariant(*arg) : Variant()), original_(value_) {}
  Variant& operator*() { return value_; }
  void Commit() {
    if (!(value_ == original_)) WriteBack(arg_, value_);
  }

 private:
  VARIANT* arg_;
  Variant value_;
  Variant original_;
};

std::shared_ptr<HostRange> RangeArg(IDispatch** arg) {
  return arg && *arg ? MakeExcelRange(*arg) : std::shared_ptr<HostRange>();
}

class CorvaneObject final : public _cls_corvane, public ISupportErrorInfo {
 public:
  HRESULT Init() noexcept { return types_.Load(IID__cls_corvane); }

  // ---- IUnknown ----
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__cls_corvane) {
      *out = static_cast<_cls_corvane*>(this);
    } else if (iid == IID_ISupportErrorInfo) {
      *out = static_cast<ISupportErrorInfo*>(this);
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

  // ---- ISupportErrorInfo ----
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) noexcept override {
    return iid == IID__cls_corvane ? S_OK : S_FALSE;
  }

  // ---- IDispatch, from the type library ----
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override { return types_.Count(count); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) noexcept override {
    return types_.Info(index, out);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) noexcept override {
    return types_.IdsOfNames(iid, names, count, ids);
  }
  // Arguments come by position (the last one first in DISPPARAMS), each a VARIANT or a
  // reference to the caller's VARIANT; results and failures as automation expects them.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* badArgument) noexcept override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!params) return E_INVALIDARG;
    if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
    if (params->cNamedArgs) return DISP_E_NONAMEDARGS;
    UINT expected = 0;
    if (const HRESULT hr = ArgumentCount(id, expected); FAILED(hr)) return hr;
    if (params->cArgs != expected) return DISP_E_BADPARAMCOUNT;
    UniqueVariant answer;
    HRESULT hr = S_OK;
    try {
      EnsureThreadServices();  // the arguments convert in the regional format in force
      hr = Dispatch(id, params, answer.get());
    } catch (const AutomationError& e) {
      hr = Report(e.number(), e.description(), e.source());
    } catch (...) {
      hr = Report(err::kApplicationDefined, u"Internal error in Corvane.", u"Corvane");
    }
    if (FAILED(hr)) {
      if (badArgument) *badArgument = 0;
      if (exception) {
        *exception = EXCEPINFO{};
        exception->scode = hr;
        FillException(exception);
      }
      return DISP_E_EXCEPTION;
    }
    if (result) answer.DetachTo(result);
    return S_OK;
  }

  // ---- _cls_corvane ----
  HRESULT STDMETHODCALLTYPE SetExcelApp(IDispatch** excel_app) noexcept override {
    return Boundary([&] {
      ObjectRef app;
      if (excel_app && *excel_app) app = MakeExcelApplication(*excel_app);
      core_.SetExcelApp(app);
    });
  }
  HRESULT STDMETHODCALLTYPE cvHelpfilePath(BSTR* result) noexcept override {
    if (!result) return E_POINTER;
    *result = nullptr;
    return Boundary([&] { *result = UniqueBstr(core_.cvHelpfilePath()).Detach(); });
  }
  HRESULT STDMETHODCALLTYPE cvSettings() noexcept override { return Boundary([&] { core_.cvSettings(); }); }
  HRESULT STDMETHODCALLTYPE cvAbout() noexcept override { return Boundary([&] { core_.cvAbout(); }); }
  HRESULT STDMETHODCALLTYPE cvFormulateCell(VARIANT* result) noexcept override {
    if (!result) return E_POINTER;
    ::VariantInit(result);
    return Boundary([&] { ToVariant(core_.cvFormulateCell(), result); });
  }
  HRESULT STDMETHODCALLTYPE cvDeformulateCell(VARIANT* result) noexcept override {
    if (!result) return E_POINTER;
    ::VariantInit(result);
    return Boundary([&] { ToVariant(core_.cvDeformulateCell(), result); });
  }
  HRESULT STDMETHODCALLTYPE RemoveSpacesInLastLine(VARIANT* str, BSTR* result) noexcept override {
    if (!result) return E_POINTER;
    *result = nullptr;
    return Boundary([&] {
      VariantArg text(str);
      UniqueBstr answer(core_.RemoveSpacesInLastLine(*text));
      text.Commit();
      *result = answer.Detach();
    });
  }
  HRESULT STDMETHODCALLTYPE SetQuoteType(VARIANT* strType, VARIANT* strCharArray, VARIANT* iItem,
                                         VARIANT* strPrevQuoteType, VARIANT* strPrevPrevQuoteType,
                                         VARIANT* bPrevCharIsQuote) noexcept override {
    return Boundary([&] {
      VariantArg type(strType), table(strCharArray), item(iItem), prev(strPrevQuoteType),
          prevPrev(strPrevPrevQuoteType), prevIsQuote(bPrevCharIsQuote);
      core_.SetQuoteType(*type, *table, *item, *prev, *prevPrev, *prevIsQuote);
      for (VariantArg* arg : {&type, &table, &item, &prev, &prevPrev, &prevIsQuote}) arg->Commit();
    });
  }
  HRESULT STDMETHODCALLTYPE cvCalibrateSpacing() noexcept override {
    return Boundary([&] { core_.cvCalibrateSpacing(); });
  }
  HRESULT STDMETHODCALLTYPE GetSpaceWidth(IDispatch** rgCalibrate, double* result) noexcept override {
    if (!result) return E_POINTER;
    *result = 0;
    return Boundary([&] {
      auto range = RangeArg(rgCalibrate);
      *result = core_.GetSpaceWidth(range);
    });
  }
  HRESULT STDMETHODCALLTYPE CalibrateOneChar(LONG* iChar, IDispatch** rgCalibrate, BSTR* strRegSection,
                                             double* dblSpaceWidthNoOverhead, VARIANT_BOOL* result) noexcept override {
    if (!result || !iChar || !strRegSection || !dblSpaceWidthNoOverhead) return E_POINTER;
    *result = VARIANT_FALSE;
    return Boundary([&] {
      std::int32_t code = *iChar;
      auto range = RangeArg(rgCalibrate);
      std::u16string section = FromBstr(*strRegSection);
      const std::u16string originalSection = section;
      const bool ok = core_.CalibrateOneChar(code, range, section, *dblSpaceWidthNoOverhead);
      *iChar = code;
      if (section != originalSection) {
        UniqueBstr changed(section);
        ::SysFreeString(*strRegSection);
        *strRegSection = changed.Detach();
      }
      *result = ok ? VARIANT_TRUE : VARIANT_FALSE;
    });
  }
  HRESULT STDMETHODCALLTYPE CheckChar(VARIANT* iItem, VARIANT* strCharArray, ::ParenCheck* result) noexcept override {
    if (!result) return E_POINTER;
    *result = {};
    return Boundary([&] {
      VariantArg item(iItem), table(strCharArray);
      const corvane::ParenCheck check = core_.CheckChar(*item, *table);
      UniqueBstr current(check.strCurrentChar), prev(check.strPrevChar), next(check.strNextChar);
      item.Commit();
      table.Commit();
      auto flag = [](bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; };
      result->bIsLeftParen = flag(check.bIsLeftParen);
      result->bIsRightParen = flag(check.bIsRightParen);
      result->bIsEmptyParens = flag(check.bIsEmptyParens);
      result->bIsArgSeparator = flag(check.bIsArgSeparator);
      result->bIsStringLiteral = flag(check.bIsStringLiteral);
      result->bIsNotParen = flag(check.bIsNotParen);
      result->strCurrentChar = current.Detach();
      result->strPrevChar = prev.Detach();
      result->strNextChar = next.Detach();
    });
  }
  HRESULT STDMETHODCALLTYPE GetSpacingThisLevel(VARIANT* str, double* result) noexcept override {
    if (!result) return E_POINTER;
    *result = 0;
    return Boundary([&] {
      VariantArg text(str);
      *result = core_.GetSpacingThisLevel(*text);
      text.Commit();
    });
  }
  HRESULT STDMETHODCALLTYPE GetSpecialCharSpacing(LONG* iUnicodeValue, IDispatch** rgCalibrate, BSTR* strRegSection,
                                                  double* result) noexcept override {
    if (!result || !iUnicodeValue || !strRegSection) return E_POINTER;
    *result = 0;
    return Boundary([&] {
      std::int32_t code = *iUnicodeValue;
      auto range = RangeArg(rgCalibrate);
      std::u16string section = FromBstr(*strRegSection);
      *result = core_.GetSpecialCharSpacing(code, range, section);
      *iUnicodeValue = code;
    });
  }
  HRESULT STDMETHODCALLTYPE GetIndentSpacesCount(LONG* iIndentLevel, VARIANT* LevelsArray,
                                                 LONG* result) noexcept override {
    if (!result || !iIndentLevel) return E_POINTER;
    *result = 0;
    return Boundary([&] {
      std::int32_t level = *iIndentLevel;
      VariantArg levels(LevelsArray);
      *result = core_.GetIndentSpacesCount(level, *levels);
      *iIndentLevel = level;
      levels.Commit();
    });
  }
  HRESULT STDMETHODCALLTYPE PopulateCharArray(VARIANT* strFormula, VARIANT* iLenFormula,
                                              SAFEARRAY** result) noexcept override {
    if (!result) return E_POINTER;
    *result = nullptr;
    return Boundary([&] {
      VariantArg formula(strFormula), length(iLenFormula);
      const Variant table = core_.PopulateCharArray(*formula, *length);
      UniqueVariant out;
      if (table.type() == Variant::Type::StringTable) ToVariant(table, out.get());
      formula.Commit();
      length.Commit();
      if (out->vt == (VT_ARRAY | VT_BSTR)) {
        *result = out->parray;
        out->vt = VT_EMPTY;
      }
    });
  }


 private:
  HRESULT ArgumentCount(DISPID id, UINT& count) noexcept {
    TYPEATTR* attr = nullptr;
    if (FAILED(types_.vtableHalf->GetTypeAttr(&attr))) return E_UNEXPECTED;
    HRESULT hr = DISP_E_MEMBERNOTFOUND;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
      FUNCDESC* desc = nullptr;
      if (FAILED(types_.vtableHalf->GetFuncDesc(i, &desc))) continue;
      if (desc->memid == id) {
        count = 0;
        for (SHORT p = 0; p < desc->cParams; ++p)
          if (!(desc->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) ++count;
        hr = S_OK;
      }
      types_.vtableHalf->ReleaseFuncDesc(desc);
      if (hr == S_OK) break;
    }
    types_.vtableHalf->ReleaseTypeAttr(attr);
    return hr;
  }

  // The caller's VARIANT for argument `index` (from the first).
  static VARIANT* Arg(DISPPARAMS* params, UINT index) {
    VARIANT* v = &params->rgvarg[params->cArgs - 1 - index];
    return v->vt == (VT_BYREF | VT_VARIANT) ? v->pvarVal : v;
  }
  static LONG LongArg(VARIANT* v) { return ToLong(FromVariant(*v), Regional()); }
  static double DoubleArg(VARIANT* v) { return ToDouble(FromVariant(*v), Regional()); }
  static ComPtr<IDispatch> ObjectArg(VARIANT* v) {
    const Variant value = FromVariant(*v);
    if (value.isEmpty()) return {};
    if (!value.isObject()) throw AutomationError(err::kTypeMismatch, u"Type mismatch");
    return ComPtr<IDispatch>(DispatchOf(value.object()));
  }
  static void WriteIfChanged(VARIANT* v, const Variant& before, const Variant& after) {
    if (!(before == after)) WriteBack(v, after);
  }

  HRESULT Dispatch(DISPID id, DISPPARAMS* params, VARIANT* answer) {
    auto arg = [&](UINT i) { return Arg(params, i); };
    switch (id) {
      case 0x60030000: {
        ComPtr<IDispatch> app = ObjectArg(arg(0));
        IDispatch* raw = app.get();
        return SetExcelApp(&raw);
      }
      case 0x60030001:
        answer->vt = VT_BSTR;
        return cvHelpfilePath(&answer->bstrVal);
      case 0x60030002: return cvSettings();
      case 0x60030003: return cvAbout();
      case 0x60030004: return cvFormulateCell(answer);
      case 0x60030005: return cvDeformulateCell(answer);
      case 0x60030006:
        answer->vt = VT_BSTR;
        return RemoveSpacesInLastLine(arg(0), &answer->bstrVal);
      case 0x60030007: return SetQuoteType(arg(0), arg(1), arg(2), arg(3), arg(4), arg(5));
      case 0x60030008: return cvCalibrateSpacing();
      case 0x60030009: {
        ComPtr<IDispatch> range = ObjectArg(arg(0));
        IDispatch* raw = range.get();
        answer->vt = VT_R8;
        return GetSpaceWidth(&raw, &answer->dblVal);
      }
      case 0x6003000a: {
        LONG code = LongArg(arg(0));
        ComPtr<IDispatch> range = ObjectArg(arg(1));
        IDispatch* raw = range.get();
        UniqueBstr section(ToText(FromVariant(*arg(2)), Regional()));
        BSTR sectionSlot = section.get();
        double width = DoubleArg(arg(3));
        const LONG codeBefore = code;
        const double widthBefore = width;
        answer->vt = VT_BOOL;
        const HRESULT hr = CalibrateOneChar(&code, &raw, &sectionSlot, &width, &answer->boolVal);
        if (sectionSlot != section.get()) {  // the callee replaced (and freed) the string
          section.Detach();
          section = UniqueBstr::Adopt(sectionSlot);
        }
        WriteIfChanged(arg(0), Variant(static_cast<std::int32_t>(codeBefore)), Variant(static_cast<std::int32_t>(code)));
        WriteIfChanged(arg(3), Variant(widthBefore), Variant(width));
        return hr;
      }
      case 0x6003000b: {
        ::ParenCheck check{};
        const HRESULT hr = CheckChar(arg(0), arg(1), &check);
        if (FAILED(hr)) return hr;
        return RecordResult(check, answer);
      }
      case 0x6003000c:
        answer->vt = VT_R8;
        return GetSpacingThisLevel(arg(0), &answer->dblVal);
      case 0x6003000d: {
        LONG code = LongArg(arg(0));
        const LONG codeBefore = code;
        ComPtr<IDispatch> range = ObjectArg(arg(1));
        IDispatch* raw = range.get();
        UniqueBstr section(ToText(FromVariant(*arg(2)), Regional()));
        BSTR sectionSlot = section.get();
        answer->vt = VT_R8;
        const HRESULT hr = GetSpecialCharSpacing(&code, &raw, &sectionSlot, &answer->dblVal);
        WriteIfChanged(arg(0), Variant(static_cast<std::int32_t>(codeBefore)), Variant(static_cast<std::int32_t>(code)));
        return hr;
      }
      case 0x6003000e: {
        LONG level = LongArg(arg(0));
        const LONG levelBefore = level;
        answer->vt = VT_I4;
        const HRESULT hr = GetIndentSpacesCount(&level, arg(1), &answer->lVal);
        WriteIfChanged(arg(0), Variant(static_cast<std::int32_t>(levelBefore)), Variant(static_cast<std::int32_t>(level)));
        return hr;
      }
      case 0x6003000f: {
        SAFEARRAY* table = nullptr;
        const HRESULT hr = PopulateCharArray(arg(0), arg(1), &table);
        if (table) {
          answer->vt = VT_ARRAY | VT_BSTR;
          answer->parray = table;
        }
        return hr;
      }
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

  // The record as a VARIANT: a copy owned by the caller, described by the type library.
  HRESULT RecordResult(::ParenCheck& check, VARIANT* answer) {
    struct Fields {
      ::ParenCheck* p;
      ~Fields() {
        ::SysFreeString(p->strCurrentChar);
        ::SysFreeString(p->strPrevChar);
        ::SysFreeString(p->strNextChar);
      }
    } owned{&check};
    ComPtr<ITypeLib> library;
    UINT index = 0;
    HRESULT hr = types_.vtableHalf->GetContainingTypeLib(library.Receive(), &index);
    ComPtr<ITypeInfo> recordType;
    if (SUCCEEDED(hr)) hr = library->GetTypeInfoOfGuid(kParenCheckGuid, recordType.Receive());
    ComPtr<IRecordInfo> info;
    if (SUCCEEDED(hr)) hr = ::GetRecordInfoFromTypeInfo(recordType.get(), info.Receive());
    if (FAILED(hr)) return hr;
    void* copy = info->RecordCreate();
    if (!copy) return E_OUTOFMEMORY;
    hr = info->RecordCopy(&check, copy);
    if (FAILED(hr)) {
      info->RecordDestroy(copy);
      return hr;
    }
    answer->vt = VT_RECORD;
    answer->pvRecord = copy;
    answer->pRecInfo = info.Detach();
    return S_OK;
  }

 public:
 private:
  // The error information of the failed call as the caller's exception record.
  static void FillException(EXCEPINFO* exception) noexcept {
    ComPtr<IErrorInfo> info;
    if (::GetErrorInfo(0, info.Receive()) != S_OK || !info) return;
    info->GetSource(&exception->bstrSource);
    info->GetDescription(&exception->bstrDescription);
  }

  ObjectReferences references_;
  corvane::cls_corvane core_;
  DualTypeInfo types_;
};

HRESULT CreateCorvaneObject(REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    EnsureThreadServices();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return CreateServerObject<CorvaneObject>(iid, out);
}

}  // namespace

// The identifiers and the versions are fixed: hosts set up for the add-in find the class by them.
const ServerClass kServerClass = {
    .clsid = &CLSID_cls_corvane,
    .progId = L"Corvane.cls_corvane",
    .classVersion = L"104.0",
    .libid = &LIBID_Corvane,
    .libraryName = L"Corvane",
    .typeLibVersion = L"68.0",
    .iid = &IID__cls_corvane,
    .interfaceName = L"_cls_corvane",
    .mistakenTypeLibVersion = L"104.0",
    .addinName = nullptr,
    .addinDescription = nullptr,
    .create = &CreateCorvaneObject,
};

}  // namespace corvane::win32::com
