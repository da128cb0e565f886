#include "platform/win32/dispatch_host.h"

#include <vector>

#include "base/platform.h"
#include "platform/win32/text.h"

namespace corvane::win32 {

namespace {

std::u16string Text(const Variant& v) { return ToText(v, Regional()); }

SAFEARRAY* TableToSafeArray(const StringTable& table) {
  SAFEARRAYBOUND bounds[2];
  bounds[0].lLbound = table.rowLower();
  bounds[0].cElements = static_cast<ULONG>(table.rows());
  bounds[1].lLbound = table.colLower();
  bounds[1].cElements = static_cast<ULONG>(table.cols());
  UniqueSafeArray array(::SafeArrayCreate(VT_BSTR, 2, bounds));
  if (!array.get()) throw std::bad_alloc();
  for (std::int32_t r = table.rowLower(); r <= table.rowUpper(); ++r)
    for (std::int32_t c = table.colLower(); c <= table.colUpper(); ++c) {
      LONG index[2] = {r, c};
      UniqueBstr text(table.get(r, c));
      // SafeArrayPutElement copies the string.
      if (FAILED(::SafeArrayPutElement(array.get(), index, text.get()))) throw std::bad_alloc();
    }
  return array.Detach();
}

SAFEARRAY* ArrayToSafeArray(const VariantArray& items) {
  SAFEARRAYBOUND bound;
  bound.lLbound = items.lower();
  bound.cElements = static_cast<ULONG>(items.size());
  UniqueSafeArray array(::SafeArrayCreate(VT_VARIANT, 1, &bound));
  if (!array.get()) throw std::bad_alloc();
  for (std::int32_t i = items.lower(); i <= items.upper(); ++i) {
    UniqueVariant element;
    ToVariant(items.at(i), element.get());
    LONG index = i;
    if (FAILED(::SafeArrayPutElement(array.get(), &index, element.get()))) throw std::bad_alloc();
  }
  return array.Detach();
}

Variant FromSafeArray(SAFEARRAY* array, VARTYPE elementType) {
  if (!array) return Variant();
  const UINT dims = ::SafeArrayGetDim(array);
  auto bounds = [&](UINT dim) {
    LONG lower = 0, upper = -1;
    ::SafeArrayGetLBound(array, dim, &lower);
    ::SafeArrayGetUBound(array, dim, &upper);
    return std::pair<LONG, LONG>(lower, upper);
  };
  auto element = [&](LONG* index) {
    UniqueVariant out;
    if (elementType == VT_VARIANT) {
      if (FAILED(::SafeArrayGetElement(array, index, out.get()))) throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
    } else if (elementType == VT_BSTR) {
      BSTR text = nullptr;
      if (FAILED(::SafeArrayGetElement(array, index, &text))) throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
      out->vt = VT_BSTR;
      out->bstrVal = text;
    } else {
      throw AutomationError(err::kTypeMismatch, u"Type mismatch");
    }
    return FromVariant(*out.get());
  };
  if (dims == 2) {
    const auto [rLow, rUp] = bounds(1);
    const auto [cLow, cUp] = bounds(2);
    StringTable table(rLow, rUp, cLow, cUp);
    for (LONG r = rLow; r <= rUp; ++r)
      for (LONG c = cLow; c <= cUp; ++c) {
        LONG index[2] = {r, c};
        const Variant v = element(index);
        table.set(r, c, v.isString() ? v.string() : Text(v));
      }
    return Variant(std::move(table));
  }
  if (dims == 1) {
    const auto [low, up] = bounds(1);
    VariantArray items(low, up);
    for (LONG i = low; i <= up; ++i) items.at(i) = element(&i);
    return Variant(std::move(items));
  }
  throw AutomationError(err::kTypeMismatch, u"Type mismatch");
}

}  // namespace

IDispatch* DispatchOf(const ObjectRef& object) noexcept {
  const auto* holder = dynamic_cast<const DispatchHolder*>(object.get());
  return holder ? holder->Dispatch() : nullptr;
}

void ToVariant(const Variant& value, VARIANT* out) {
  switch (value.type()) {
    case Variant::Type::Empty:
      out->vt = VT_EMPTY;
      return;
    case Variant::Type::Null:
      out->vt = VT_NULL;
      return;
    case Variant::Type::Boolean:
      out->vt = VT_BOOL;
      out->boolVal = value.asBool() ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case Variant::Type::Long:
      out->vt = VT_I4;
      out->lVal = value.asLong();
      return;
    case Variant::Type::Double:
      out->vt = VT_R8;
      out->dblVal = value.asDouble();
      return;
    case Variant::Type::String:
      out->bstrVal = UniqueBstr(value.string()).Detach();
      out->vt = VT_BSTR;
      return;
    case Variant::Type::Object: {
      IDispatch* dispatch = DispatchOf(value.object());
      if (!dispatch && value.object()) throw AutomationError(err::kTypeMismatch, u"Type mismatch");
      if (dispatch) dispatch->AddRef();
      out->vt = VT_DISPATCH;
      out->pdispVal = dispatch;
      return;
    }
    case Variant::Type::StringTable:
      out->parray = TableToSafeArray(value.table());
      out->vt = VT_ARRAY | VT_BSTR;
      return;
    case Variant::Type::Array:
      out->parray = ArrayToSafeArray(value.array());
      out->vt = VT_ARRAY | VT_VARIANT;
      return;
  }
}

Variant FromVariant(const VARIANT& value) {
  if (value.vt & VT_BYREF) {
    UniqueVariant direct;
    const HRESULT hr = ::VariantCopyInd(direct.get(), const_cast<VARIANT*>(&value));
    if (FAILED(hr)) throw AutomationError(err::kTypeMismatch, u"Type mismatch");
    return FromVariant(*direct.get());
  }
  if (value.vt & VT_ARRAY) return FromSafeArray(value.parray, static_cast<VARTYPE>(value.vt & VT_TYPEMASK));
  switch (value.vt) {
    case VT_EMPTY:
    case VT_ERROR:  // a missing optional argument
      return Variant();
    case VT_NULL:
      return Variant(Null{});
    case VT_BOOL:
      return Variant(value.boolVal != VARIANT_FALSE);
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_INT: {
      UniqueVariant converted;
      if (FAILED(::VariantChangeType(converted.get(), const_cast<VARIANT*>(&value), 0, VT_I4)))
        throw AutomationError(err::kOverflow, u"Overflow");
      return Variant(static_cast<std::int32_t>(converted->lVal));
    }
    case VT_BSTR:
      return Variant(FromBstr(value.bstrVal));
    case VT_DISPATCH:
      return Variant(value.pdispVal ? ObjectRef(std::make_shared<DispatchObject>(value.pdispVal)) : ObjectRef());
    case VT_UNKNOWN: {
      if (!value.punkVal) return Variant(ObjectRef());
      ComPtr<IDispatch> dispatch;
      if (FAILED(value.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.Receive()))))
        throw AutomationError(err::kTypeMismatch, u"Type mismatch");
      return Variant(ObjectRef(std::make_shared<DispatchObject>(dispatch.get())));
    }
    default: {
      // Every other number (single, currency, date, decimal, 64-bit) as a double.
      UniqueVariant converted;
      if (FAILED(::VariantChangeType(converted.get(), const_cast<VARIANT*>(&value), 0, VT_R8)))
        throw AutomationError(err::kTypeMismatch, u"Type mismatch");
      return Variant(converted->dblVal);
    }
  }
}

void ThrowCallFailure(HRESULT hr, const EXCEPINFO* info, std::u16string_view member) {
  std::u16string description;
  std::u16string source;
  HRESULT code = hr;
  if (hr == DISP_E_EXCEPTION && info) {
    description = FromBstr(info->bstrDescription);
    source = FromBstr(info->bstrSource);
    code = info->scode ? info->scode : static_cast<HRESULT>(0x800A0000u | info->wCode);
  }
  std::int32_t number = err::kApplicationDefined;
  if (HRESULT_FACILITY(code) == FACILITY_CONTROL) number = HRESULT_CODE(code);
  else if (code == DISP_E_UNKNOWNNAME || code == DISP_E_MEMBERNOTFOUND) number = 438;
  else if (code == DISP_E_TYPEMISMATCH) number = err::kTypeMismatch;
  else if (code == DISP_E_BADPARAMCOUNT || code == DISP_E_PARAMNOTOPTIONAL) number = 450;
  if (description.empty()) {
    description = number == 438 ? u"Object doesn't support this property or method"
                                : u"Method '" + std::u16string(member) + u"' failed (" +
                                      DecimalKey(static_cast<std::uint32_t>(code)) + u")";
  }
  if (source.empty()) source = u"Corvane";
  throw AutomationError(number, std::move(description), std::move(source));
}

Variant CallByName(IDispatch* target, std::u16string_view name, WORD flags, std::initializer_list<Variant> args,
                   std::u16string_view namedArgument) {
  if (!target) throw AutomationError(err::kObjectVariableNotSet, u"Object variable or With block variable not set");
  // The member's name, then the named argument's, resolved together.
  std::wstring member = Wide(name);
  std::wstring named = Wide(namedArgument);
  LPOLESTR names[2] = {member.data(), named.data()};
  const UINT nameCount = namedArgument.empty() ? 1u : 2u;
  DISPID ids[2] = {DISPID_UNKNOWN, DISPID_UNKNOWN};
  HRESULT hr = target->GetIDsOfNames(IID_NULL, names, nameCount, LOCALE_USER_DEFAULT, ids);
  if (FAILED(hr)) ThrowCallFailure(hr, nullptr, name);

  // Arguments go in reverse order; named arguments come first.
  std::vector<UniqueVariant> values(args.size());
  std::size_t slot = args.size();
  for (const Variant& arg : args) ToVariant(arg, values[--slot].get());
  std::vector<VARIANT> raw;
  raw.reserve(values.size());
  for (auto& v : values) raw.push_back(*v.get());

  DISPID namedIds[1];
  DISPPARAMS params{raw.empty() ? nullptr : raw.data(), nullptr, static_cast<UINT>(raw.size()), 0};
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    namedIds[0] = DISPID_PROPERTYPUT;
    params.rgdispidNamedArgs = namedIds;
    params.cNamedArgs = 1;
  } else if (!namedArgument.empty()) {
    namedIds[0] = ids[1];
    params.rgdispidNamedArgs = namedIds;
    params.cNamedArgs = 1;
  }
  UniqueVariant result;
  EXCEPINFO info{};
  UINT badArgument = 0;
  hr = target->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result.get(), &info, &badArgument);
  // A callee may leave its error information to be filled in only when someone asks.
  if (hr == DISP_E_EXCEPTION && info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
  UniqueBstr description = UniqueBstr::Adopt(info.bstrDescription);
  UniqueBstr source = UniqueBstr::Adopt(info.bstrSource);
  UniqueBstr help = UniqueBstr::Adopt(info.bstrHelpFile);
  if (FAILED(hr)) ThrowCallFailure(hr, &info, name);
  return FromVariant(*result.get());
}

// ---- Excel's objects ----

namespace {

constexpr WORD kGet = DISPATCH_PROPERTYGET;
constexpr WORD kPut = DISPATCH_PROPERTYPUT;
constexpr WORD kCall = DISPATCH_METHOD;

IDispatch* RequireObject(const Variant& v) {
  IDispatch* dispatch = v.isObject() ? DispatchOf(v.object()) : nullptr;
  if (!dispatch) throw AutomationError(err::kObjectRequired, u"Object required");
  return dispatch;
}

class ExcelBase : public DispatchHolder {
 public:
  explicit ExcelBase(IDispatch* dispatch) : dispatch_(dispatch) {}
  IDispatch* Dispatch() const noexcept override { return dispatch_.get(); }

 protected:
  Variant Get(std::u16string_view name, std::initializer_list<Variant> args = {}) {
    return CallByName(dispatch_.get(), name, kGet, args);
  }
  void Put(std::u16string_view name, const Variant& value) { CallByName(dispatch_.get(), name, kPut, {value}); }
  Variant Call(std::u16string_view name, std::initializer_list<Variant> args = {}, std::u16string_view named = {}) {
    return CallByName(dispatch_.get(), name, kCall, args, named);
  }
  std::u16string GetText(std::u16string_view name) { return Text(Get(name)); }

 private:
  ComPtr<IDispatch> dispatch_;
};

class ExcelWorkbook;
class ExcelSheet;

class ExcelRange final : public HostRange, public ExcelBase {
 public:
  using ExcelBase::ExcelBase;
  Variant HasArray() override { return Get(u"HasArray"); }
  Variant HasFormula() override { return Get(u"HasFormula"); }
  std::shared_ptr<HostRange> CurrentArray() override { return Range(Get(u"CurrentArray")); }
  std::int32_t RowsCount() override { return Count(u"Rows"); }
  std::int32_t ColumnsCount() override { return Count(u"Columns"); }
  std::shared_ptr<HostRange> Cells(std::int32_t row, std::int32_t column) override {
    return Range(Get(u"Cells", {Variant(row), Variant(column)}));
  }
  std::u16string Formula() override { return GetText(u"Formula"); }
  void SetFormula(const std::u16string& text) override { Put(u"Formula", Variant(text)); }
  void SetFormulaArray(const std::u16string& text) override { Put(u"FormulaArray", Variant(text)); }
  Variant WrapText() override { return Get(u"WrapText"); }
  void SetWrapText(const Variant& value) override { Put(u"WrapText", value); }
  void SetValue(const Variant& value) override { Put(u"Value", value); }
  void EntireColumnAutoFit() override {
    CallByName(RequireObject(Get(u"EntireColumn")), u"AutoFit", kCall);
  }
  double EntireColumnWidth() override {
    return ToDouble(CallByName(RequireObject(Get(u"EntireColumn")), u"Width", kGet), Regional());
  }
  std::shared_ptr<HostSheet> Parent() override;
  std::u16string Address(bool RowAbsolute, bool ColumnAbsolute) override {
    return Text(Get(u"Address", {Variant(RowAbsolute), Variant(ColumnAbsolute)}));
  }

  static std::shared_ptr<HostRange> Range(const Variant& v) {
    return std::make_shared<ExcelRange>(RequireObject(v));
  }

 private:
  std::int32_t Count(std::u16string_view part) {
    return ToLong(CallByName(RequireObject(Get(part)), u"Count", kGet), Regional());
  }
};

class ExcelWorkbook final : public HostWorkbook, public ExcelBase {
 public:
  using ExcelBase::ExcelBase;
  std::shared_ptr<HostSheet> Worksheets(std::int32_t index) override;
  void Close(bool SaveChanges) override { Call(u"Close", {Variant(SaveChanges)}, u"SaveChanges"); }
  std::u16string Path() override { return GetText(u"Path"); }
  std::u16string Name() override { return GetText(u"Name"); }
};

class ExcelSheet final : public HostSheet, public ExcelBase {
 public:
  using ExcelBase::ExcelBase;
  std::shared_ptr<HostRange> Cells(std::int32_t index) override {
    return ExcelRange::Range(Get(u"Cells", {Variant(index)}));
  }
  std::u16string Name() override { return GetText(u"Name"); }
  std::shared_ptr<HostWorkbook> Parent() override {
    return std::make_shared<ExcelWorkbook>(RequireObject(Get(u"Parent")));
  }
};

std::shared_ptr<HostSheet> ExcelRange::Parent() { return std::make_shared<ExcelSheet>(RequireObject(Get(u"Parent"))); }

std::shared_ptr<HostSheet> ExcelWorkbook::Worksheets(std::int32_t index) {
  return std::make_shared<ExcelSheet>(RequireObject(Get(u"Worksheets", {Variant(index)})));
}

class ExcelApplication final : public HostApplication, public ExcelBase {
 public:
  using ExcelBase::ExcelBase;
  std::u16string StandardFont() override { return GetText(u"StandardFont"); }
  std::u16string Version() override { return GetText(u"Version"); }
  std::shared_ptr<HostRange> ActiveCell() override {
    const Variant cell = Get(u"ActiveCell");
    if (!cell.isSomething())
      throw AutomationError(err::kObjectVariableNotSet, u"Object variable or With block variable not set");
    return ExcelRange::Range(cell);
  }
  Variant International(std::int32_t index) override { return Get(u"International", {Variant(index)}); }
  void SetScreenUpdating(bool value) override { Put(u"ScreenUpdating", Variant(value)); }
  std::shared_ptr<HostWorkbook> WorkbooksAdd() override {
    const Variant books = Get(u"Workbooks");
    return std::make_shared<ExcelWorkbook>(RequireObject(CallByName(RequireObject(books), u"Add", kCall)));
  }
};

}  // namespace

std::shared_ptr<HostApplication> MakeExcelApplication(IDispatch* application) {
  return std::make_shared<ExcelApplication>(application);
}

std::shared_ptr<HostRange> MakeExcelRange(IDispatch* range) { return std::make_shared<ExcelRange>(range); }

}  // namespace corvane::win32
