#include "addin/mdl_support.h"

namespace corvane::mdl_Support {

ModuleState& Module() {
  thread_local ModuleState state;
  return state;
}

Variant ExcelApp(Variant& obj, bool& bClear) noexcept {
  Variant result;
  try {
    auto& held = Module().m_ExcelApp;
    if (obj.isSomething()) held = obj.object();
    if (bClear) held.reset();
    result = Variant(held);
  } catch (...) {
    // The holder must never fail its caller; what was set so far is the answer.
  }
  return result;
}

std::shared_ptr<HostApplication> Host() {
  Variant none;
  bool noClear = false;
  const Variant held = ExcelApp(none, noClear);
  if (!held.isSomething())
    throw AutomationError(err::kObjectVariableNotSet, u"Object variable or With block variable not set");
  auto app = std::dynamic_pointer_cast<HostApplication>(held.object());
  if (!app) throw AutomationError(438, u"Object doesn't support this property or method");
  return app;
}

}  // namespace corvane::mdl_Support
