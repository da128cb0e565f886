// The bridge between the core's automation values and COM: VARIANT conversions, calls by name
// on IDispatch, and the host operations implemented on Excel's object model, called by name
// exactly as Excel expects each member (property gets with arguments, property puts, methods,
// the named argument SaveChanges of Close).
// Contract:
//  - ToVariant / FromVariant convert every value the core knows; a string table is a
//    two-dimensional SAFEARRAY of BSTR with the table's bounds (rows first), a variant array a
//    one-dimensional SAFEARRAY of VARIANT. By-reference VARIANTs are read through.
//  - A COM object reference becomes a DispatchObject (or, where the caller asks for a host
//    object, the matching Excel adapter); a DispatchObject goes back as its IDispatch.
//  - A failing call throws AutomationError with the error number of the macro language
//    (the low word of an 0x800A.... failure, else 1004 / 438 / 13 as Excel's macros see them)
//    and the description and source the callee gave.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "base/automation.h"
#include "base/host.h"
#include "platform/win32/com/com_handles.h"

namespace corvane::win32 {

// An automation object of another component, held by a counted reference.
class DispatchHolder {
 public:
  virtual ~DispatchHolder() = default;
  virtual IDispatch* Dispatch() const noexcept = 0;
};

class DispatchObject final : public AutomationObject, public DispatchHolder {
 public:
  explicit DispatchObject(IDispatch* dispatch) : dispatch_(dispatch) {}
  IDispatch* Dispatch() const noexcept override { return dispatch_.get(); }

 private:
  ComPtr<IDispatch> dispatch_;
};

// The IDispatch behind a core object reference, or null.
IDispatch* DispatchOf(const ObjectRef& object) noexcept;

// Writes `value` into `out` (which must be empty). Throws AutomationError 13 for an object that
// has no IDispatch.
void ToVariant(const Variant& value, VARIANT* out);
Variant FromVariant(const VARIANT& value);

// A failing HRESULT with its exception information as AutomationError.
[[noreturn]] void ThrowCallFailure(HRESULT hr, const EXCEPINFO* info, std::u16string_view member);

// Calls `name` on `target` with `flags` (DISPATCH_PROPERTYGET, DISPATCH_METHOD, ...) and the
// positional arguments in order; `namedArgument` (when not empty) names the last argument.
Variant CallByName(IDispatch* target, std::u16string_view name, WORD flags, std::initializer_list<Variant> args = {},
                   std::u16string_view namedArgument = {});

// Excel's Application object as the host of the add-in.
std::shared_ptr<HostApplication> MakeExcelApplication(IDispatch* application);
// An Excel Range object.
std::shared_ptr<HostRange> MakeExcelRange(IDispatch* range);

}  // namespace corvane::win32
