#include "standin/excel_standin.h"

#include <atomic>
#include <utility>

#include "platform/win32/dispatch_host.h"

namespace corvane::standin {

using win32::ComPtr;
using win32::UniqueBstr;

struct ExcelStandIn::Shared {
  std::shared_ptr<memory::MemoryApplication> app;
  CallObserver observer;
};

namespace {

using memory::MemoryApplication;
using memory::MemoryRange;
using memory::MemorySheet;
using memory::MemoryWorkbook;
using Shared = ExcelStandIn::Shared;

// Excel's own run-time error numbers travel in FACILITY_CONTROL, as 0x800A03EC for 1004.
HRESULT ExcelCode(std::int32_t number) {
  if (number <= 0 || number > 0xFFFF) return E_FAIL;
  return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number);
}

[[noreturn]] void Refuse(std::u16string description) {
  throw AutomationError(err::kApplicationDefined, std::move(description), u"Microsoft Excel");
}

bool IsMissing(const VARIANT& v) { return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND; }

struct Args {
  std::vector<Argument> items;
  bool Has(std::size_t i) const { return i < items.size() && items[i].given; }
  const Variant& At(std::size_t i) const { return items.at(i).value; }
  std::int32_t Long(std::size_t i) const { return ToLong(At(i), Services().regional); }
  bool Bool(std::size_t i) const { return ToBool(At(i), Services().regional); }
};

// A new object with one counted reference, as the caller's result.
template <typename T, typename... A>
void ReturnNew(VARIANT* result, A&&... args) {
  ComPtr<IDispatch> object = ComPtr<IDispatch>::Adopt(new T(std::forward<A>(args)...));
  if (!result) return;
  result->vt = VT_DISPATCH;
  result->pdispVal = object.Detach();
}

void Return(VARIANT* result, const Variant& value) {
  if (result) win32::ToVariant(value, result);
}

template <typename T>
std::shared_ptr<T> As(const std::shared_ptr<AutomationObject>& object) {
  auto typed = std::dynamic_pointer_cast<T>(object);
  if (!typed) Refuse(u"The in-memory workbook gave an object of another kind.");
  return typed;
}

// One object of the model: a table of members called through IDispatch by name.
class Object : public IDispatch {
 public:
  Object(std::shared_ptr<Shared> shared, std::u16string kind) : shared_(std::move(shared)), kind_(std::move(kind)) {}
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const long left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** out) noexcept override {
    if (out) *out = nullptr;
    return DISP_E_BADINDEX;
  }

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
    HRESULT hr = S_OK;
    // Named arguments are known by their position in the member's parameter list.
    for (UINT i = 1; i < count; ++i) {
      for (std::size_t p = 0; p < member->params.size(); ++p)
        if (::lstrcmpiW(names[i], member->params[p]) == 0) ids[i] = static_cast<DISPID>(p);
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* badArgument) noexcept override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (id < 1 || static_cast<std::size_t>(id) > members_.size()) return DISP_E_MEMBERNOTFOUND;
    const Member& member = members_[static_cast<std::size_t>(id - 1)];
    DISPPARAMS none{};
    if (!params) params = &none;
    if (result) ::VariantInit(result);
    try {
      Call call{kind_, std::u16string(reinterpret_cast<const char16_t*>(member.name)), flags, {}};
      Args args;
      if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (!member.put || !(flags & DISPATCH_PROPERTYPUT)) return DISP_E_MEMBERNOTFOUND;
        if (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
          return DISP_E_PARAMNOTOPTIONAL;
        if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        args.items.push_back({win32::FromVariant(params->rgvarg[0]), true, false});
      } else {
        const WORD needed = member.method ? DISPATCH_METHOD : DISPATCH_PROPERTYGET;
        if (!(flags & needed) || !member.get) return DISP_E_MEMBERNOTFOUND;
        if (const HRESULT hr = ReadArguments(member, *params, args, badArgument); FAILED(hr)) return hr;
      }
      call.args = args.items;
      if (shared_->observer) shared_->observer(call);
      if (flags & DISPATCH_PROPERTYPUT)
        member.put(args.At(0));
      else
        member.get(args, result);
      return S_OK;
    } catch (const AutomationError& e) {
      if (result) ::VariantClear(result);
      if (exception) {
        *exception = EXCEPINFO{};
        exception->scode = ExcelCode(e.number());
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

 protected:
  using Getter = std::function<void(const Args&, VARIANT*)>;
  using Putter = std::function<void(const Variant&)>;
  struct Member {
    const wchar_t* name;
    bool method;                          // called, not read
    std::vector<const wchar_t*> params;   // every parameter, in order
    std::size_t required;                 // how many of them must be given
    Getter get;
    Putter put;
  };

  void Property(const wchar_t* name, Getter get, Putter put = {}, std::vector<const wchar_t*> params = {},
                std::size_t required = 0) {
    members_.push_back({name, false, std::move(params), required, std::move(get), std::move(put)});
  }
  void Method(const wchar_t* name, Getter call, std::vector<const wchar_t*> params = {}, std::size_t required = 0) {
    members_.push_back({name, true, std::move(params), required, std::move(call), {}});
  }

  std::shared_ptr<Shared> shared_;

 private:
  static HRESULT ReadArguments(const Member& member, const DISPPARAMS& params, Args& args, UINT* badArgument) {
    if (params.cNamedArgs > params.cArgs) return E_INVALIDARG;
    const UINT positional = params.cArgs - params.cNamedArgs;
    if (positional > member.params.size()) return DISP_E_BADPARAMCOUNT;
    args.items.assign(member.params.size(), Argument{});
    // rgvarg holds the named arguments first, then the positional ones from the last to the first.
    for (UINT i = 0; i < positional; ++i) {
      const VARIANT& v = params.rgvarg[params.cArgs - 1 - i];
      if (IsMissing(v)) continue;
      args.items[i] = {win32::FromVariant(v), true, false};
    }
    for (UINT n = 0; n < params.cNamedArgs; ++n) {
      const DISPID at = params.rgdispidNamedArgs[n];
      if (at < 0 || static_cast<std::size_t>(at) >= member.params.size() || static_cast<UINT>(at) < positional) {
        if (badArgument) *badArgument = n;
        return DISP_E_PARAMNOTFOUND;
      }
      args.items[static_cast<std::size_t>(at)] = {win32::FromVariant(params.rgvarg[n]), true, true};
    }
    for (std::size_t i = 0; i < member.required; ++i)
      if (!args.items[i].given) return i < positional ? DISP_E_PARAMNOTOPTIONAL : DISP_E_BADPARAMCOUNT;
    return S_OK;
  }

  std::u16string kind_;
  std::vector<Member> members_;
  std::atomic<long> references_{1};
};

class ApplicationObject;
class WorkbookObject;
class WorksheetObject;

enum class RangeView { Cells, Rows, Columns };

class RangeObject final : public Object {
 public:
  RangeObject(std::shared_ptr<Shared> shared, std::shared_ptr<MemoryRange> range, RangeView view = RangeView::Cells);

 private:
  std::shared_ptr<MemoryRange> range_;
  RangeView view_;
};

class WorksheetObject final : public Object {
 public:
  WorksheetObject(std::shared_ptr<Shared> shared, std::shared_ptr<MemorySheet> sheet);

 private:
  std::shared_ptr<MemorySheet> sheet_;
};

class WorksheetsObject final : public Object {
 public:
  WorksheetsObject(std::shared_ptr<Shared> shared, std::shared_ptr<MemoryWorkbook> book);

  static void Item(const std::shared_ptr<Shared>& shared, MemoryWorkbook& book, std::int32_t index, VARIANT* result) {
    ReturnNew<WorksheetObject>(result, shared, As<MemorySheet>(book.Worksheets(index)));
  }

 private:
  std::shared_ptr<MemoryWorkbook> book_;
};

class WorkbookObject final : public Object {
 public:
  WorkbookObject(std::shared_ptr<Shared> shared, std::shared_ptr<MemoryWorkbook> book);

 private:
  std::shared_ptr<MemoryWorkbook> book_;
};

class WorkbooksObject final : public Object {
 public:
  explicit WorkbooksObject(std::shared_ptr<Shared> shared);

  static void Item(const std::shared_ptr<Shared>& shared, std::int32_t index, VARIANT* result) {
    shared->app->CountCall();
    const auto books = shared->app->OpenWorkbooks();
    if (index < 1 || index > static_cast<std::int32_t>(books.size()))
      throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range", u"Microsoft Excel");
    ReturnNew<WorkbookObject>(result, shared, books[static_cast<std::size_t>(index - 1)]);
  }
};

class ApplicationObject final : public Object {
 public:
  explicit ApplicationObject(std::shared_ptr<Shared> shared);
};

// ---- Range ----

RangeObject::RangeObject(std::shared_ptr<Shared> shared, std::shared_ptr<MemoryRange> range, RangeView view)
    : Object(std::move(shared), u"Range"), range_(std::move(range)), view_(view) {
  MemoryRange& r = *range_;
  Property(
      L"Formula", [&r](const Args&, VARIANT* out) { Return(out, Variant(r.Formula())); },
      [&r](const Variant& v) { r.SetFormula(ToText(v, Services().regional)); });
  Property(
      L"FormulaArray", [&r](const Args&, VARIANT* out) { Return(out, Variant(r.Formula())); },
      [&r](const Variant& v) { r.SetFormulaArray(ToText(v, Services().regional)); });
  Property(L"Value", {}, [&r](const Variant& v) { r.SetValue(v); });
  Property(
      L"WrapText", [&r](const Args&, VARIANT* out) { Return(out, r.WrapText()); },
      [&r](const Variant& v) { r.SetWrapText(v); });
  Property(L"HasArray", [&r](const Args&, VARIANT* out) { Return(out, r.HasArray()); });
  Property(L"CurrentArray", [this, &r](const Args&, VARIANT* out) {
    ReturnNew<RangeObject>(out, shared_, As<MemoryRange>(r.CurrentArray()));
  });
  Property(L"Rows", [this](const Args&, VARIANT* out) { ReturnNew<RangeObject>(out, shared_, range_, RangeView::Rows); });
  Property(L"Columns",
           [this](const Args&, VARIANT* out) { ReturnNew<RangeObject>(out, shared_, range_, RangeView::Columns); });
  Property(L"Count", [this, &r](const Args&, VARIANT* out) {
    switch (view_) {
      case RangeView::Rows: return Return(out, Variant(r.RowsCount()));
      case RangeView::Columns: return Return(out, Variant(r.ColumnsCount()));
      case RangeView::Cells: break;
    }
    const std::int64_t cells = std::int64_t{r.RowsCount()} * r.ColumnsCount();
    Return(out, cells > 0x7FFFFFFF ? Variant(static_cast<double>(cells)) : Variant(static_cast<std::int32_t>(cells)));
  });
  Property(
      L"Cells",
      [this, &r](const Args& a, VARIANT* out) {
        if (!a.Has(0) && !a.Has(1)) return ReturnNew<RangeObject>(out, shared_, range_);
        if (!a.Has(0)) Refuse(u"Cells needs a row or an index.");
        if (a.Has(1)) return ReturnNew<RangeObject>(out, shared_, As<MemoryRange>(r.Cells(a.Long(0), a.Long(1))));
        // One index counts along the rows of the range, then down.
        const std::int32_t index = a.Long(0);
        if (index < 1) Refuse(u"Cells(index) counts from 1.");
        const std::int32_t columns = r.col2() - r.col1() + 1;
        ReturnNew<RangeObject>(out, shared_, As<MemoryRange>(r.Cells((index - 1) / columns + 1, (index - 1) % columns + 1)));
      },
      {}, {L"RowIndex", L"ColumnIndex"});
  Property(L"EntireColumn", [this, &r](const Args&, VARIANT* out) {
    ReturnNew<RangeObject>(out, shared_, r.sheet()->Range(1, r.col1(), memory::kMaxRows, r.col2()));
  });
  Method(L"AutoFit", [&r](const Args&, VARIANT* out) {
    // Excel fits only whole columns or rows; the stand-in keeps columns.
    if (r.row1() != 1 || r.row2() != memory::kMaxRows) Refuse(u"AutoFit method of Range class failed");
    r.EntireColumnAutoFit();
    Return(out, Variant(true));
  });
  Property(L"Width", [&r](const Args&, VARIANT* out) { Return(out, Variant(r.EntireColumnWidth())); });
  Property(L"Parent", [this, &r](const Args&, VARIANT* out) {
    ReturnNew<WorksheetObject>(out, shared_, As<MemorySheet>(r.Parent()));
  });
  Property(
      L"Address",
      [&r](const Args& a, VARIANT* out) {
        if ((a.Has(2) && a.Long(2) != 1) || a.Has(3) || a.Has(4))
          Refuse(u"The stand-in gives A1 addresses of its own sheet only.");
        Return(out, Variant(r.Address(a.Has(0) ? a.Bool(0) : true, a.Has(1) ? a.Bool(1) : true)));
      },
      {}, {L"RowAbsolute", L"ColumnAbsolute", L"ReferenceStyle", L"External", L"RelativeTo"});
}

// ---- Worksheet ----

WorksheetObject::WorksheetObject(std::shared_ptr<Shared> shared, std::shared_ptr<MemorySheet> sheet)
    : Object(std::move(shared), u"Worksheet"), sheet_(std::move(sheet)) {
  MemorySheet& s = *sheet_;
  Property(L"Name", [&s](const Args&, VARIANT* out) { Return(out, Variant(s.Name())); });
  Property(L"Parent", [this, &s](const Args&, VARIANT* out) {
    ReturnNew<WorkbookObject>(out, shared_, As<MemoryWorkbook>(s.Parent()));
  });
  Property(
      L"Cells",
      [this, &s](const Args& a, VARIANT* out) {
        if (!a.Has(0) && !a.Has(1)) {
          (void)s.Name();  // a call on the sheet: fails as every call does once its workbook is closed
          return ReturnNew<RangeObject>(out, shared_, s.Range(1, 1, memory::kMaxRows, memory::kMaxColumns));
        }
        if (!a.Has(0)) Refuse(u"Cells needs a row or an index.");
        if (!a.Has(1)) return ReturnNew<RangeObject>(out, shared_, As<MemoryRange>(s.Cells(a.Long(0))));
        const auto first = As<MemoryRange>(s.Cells(1));
        ReturnNew<RangeObject>(out, shared_, As<MemoryRange>(first->Cells(a.Long(0), a.Long(1))));
      },
      {}, {L"RowIndex", L"ColumnIndex"});
}

// ---- Worksheets ----

WorksheetsObject::WorksheetsObject(std::shared_ptr<Shared> shared, std::shared_ptr<MemoryWorkbook> book)
    : Object(std::move(shared), u"Worksheets"), book_(std::move(book)) {
  Property(L"Count", [this](const Args&, VARIANT* out) {
    std::int32_t count = 0;
    (void)book_->Name();  // counted, and refused once the workbook is closed
    for (;; ++count) {
      try {
        book_->Sheet(count + 1);
      } catch (const AutomationError&) {
        break;
      }
    }
    Return(out, Variant(count));
  });
  Property(
      L"Item", [this](const Args& a, VARIANT* out) { Item(shared_, *book_, a.Long(0), out); }, {}, {L"Index"}, 1);
  Property(L"Parent", [this](const Args&, VARIANT* out) { ReturnNew<WorkbookObject>(out, shared_, book_); });
}

// ---- Workbook ----

WorkbookObject::WorkbookObject(std::shared_ptr<Shared> shared, std::shared_ptr<MemoryWorkbook> book)
    : Object(std::move(shared), u"Workbook"), book_(std::move(book)) {
  MemoryWorkbook& b = *book_;
  Property(L"Name", [&b](const Args&, VARIANT* out) { Return(out, Variant(b.Name())); });
  Property(L"Path", [&b](const Args&, VARIANT* out) { Return(out, Variant(b.Path())); });
  Property(L"Parent", [this](const Args&, VARIANT* out) { ReturnNew<ApplicationObject>(out, shared_); });
  Property(
      L"Worksheets",
      [this, &b](const Args& a, VARIANT* out) {
        if (a.Has(0)) return WorksheetsObject::Item(shared_, b, a.Long(0), out);
        ReturnNew<WorksheetsObject>(out, shared_, book_);
      },
      {}, {L"Index"});
  Method(
      L"Close",
      [&b](const Args& a, VARIANT* out) {
        if (!a.Has(0)) Refuse(u"Close without SaveChanges would ask the user whether to save the workbook.");
        if (a.Has(1) || a.Has(2)) Refuse(u"The stand-in saves no workbook under another name.");
        b.Close(a.Bool(0));
        Return(out, Variant());
      },
      {L"SaveChanges", L"Filename", L"RouteWorkbook"});
}

// ---- Workbooks ----

WorkbooksObject::WorkbooksObject(std::shared_ptr<Shared> shared) : Object(std::move(shared), u"Workbooks") {
  Property(L"Count", [this](const Args&, VARIANT* out) {
    shared_->app->CountCall();
    Return(out, Variant(static_cast<std::int32_t>(shared_->app->OpenWorkbooks().size())));
  });
  Property(
      L"Item", [this](const Args& a, VARIANT* out) { Item(shared_, a.Long(0), out); }, {}, {L"Index"}, 1);
  Method(
      L"Add",
      [this](const Args& a, VARIANT* out) {
        if (a.Has(0)) Refuse(u"The stand-in keeps no workbook templates.");
        ReturnNew<WorkbookObject>(out, shared_, As<MemoryWorkbook>(shared_->app->WorkbooksAdd()));
      },
      {L"Template"});
  Property(L"Parent", [this](const Args&, VARIANT* out) { ReturnNew<ApplicationObject>(out, shared_); });
}

// ---- Application ----

ApplicationObject::ApplicationObject(std::shared_ptr<Shared> shared) : Object(std::move(shared), u"Application") {
  MemoryApplication& app = *shared_->app;
  Property(L"Name", [](const Args&, VARIANT* out) { Return(out, Variant(u"Microsoft Excel")); });
  Property(L"Version", [&app](const Args&, VARIANT* out) { Return(out, Variant(app.Version())); });
  Property(
      L"StandardFont", [&app](const Args&, VARIANT* out) { Return(out, Variant(app.StandardFont())); },
      [&app](const Variant& v) { app.SetStandardFont(ToText(v, Services().regional)); });
  Property(L"StandardFontSize", [&app](const Args&, VARIANT* out) { Return(out, Variant(app.StandardFontSize())); });
  Property(L"ActiveCell", [this, &app](const Args&, VARIANT* out) {
    ReturnNew<RangeObject>(out, shared_, As<MemoryRange>(app.ActiveCell()));
  });
  Property(L"ActiveWorkbook", [this, &app](const Args&, VARIANT* out) {
    const auto cell = As<MemoryRange>(app.ActiveCell());
    ReturnNew<WorkbookObject>(out, shared_, As<MemoryWorkbook>(cell->Parent()->Parent()));
  });
  Property(
      L"International", [&app](const Args& a, VARIANT* out) { Return(out, app.International(a.Long(0))); }, {},
      {L"Index"}, 1);
  Property(
      L"ScreenUpdating", [&app](const Args&, VARIANT* out) { Return(out, Variant(app.ScreenUpdating())); },
      [&app](const Variant& v) { app.SetScreenUpdating(ToBool(v, Services().regional)); });
  Property(
      L"Workbooks",
      [this](const Args& a, VARIANT* out) {
        if (a.Has(0)) return WorkbooksObject::Item(shared_, a.Long(0), out);
        ReturnNew<WorkbooksObject>(out, shared_);
      },
      {}, {L"Index"});
}

}  // namespace

ExcelStandIn::ExcelStandIn(std::shared_ptr<memory::MemoryApplication> app)
    : app_(std::move(app)), shared_(std::make_shared<Shared>()) {
  shared_->app = app_;
}

ExcelStandIn::~ExcelStandIn() { shared_->observer = {}; }

ComPtr<IDispatch> ExcelStandIn::Application() const {
  return ComPtr<IDispatch>::Adopt(new ApplicationObject(shared_));
}

void ExcelStandIn::SetObserver(CallObserver observer) { shared_->observer = std::move(observer); }

}  // namespace corvane::standin
