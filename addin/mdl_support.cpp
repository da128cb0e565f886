#include "addin/mdl_support.h"

namespace corvane::mdl_Support {

ModuleState& Module() {
  thread_local ModuleState state;
  return state;
}

Variant ExcelApp(Variant& obj, bool& bClear) noexcept {
  Variant result;
  try {
    ModuleState& module = Module();
    auto& held = module.m_ExcelApp;
    if (obj.isSomething()) {
      held = obj.object();
      module.application = std::dynamic_pointer_cast<HostApplication>(held);
    }
    if (bClear) {
      held.reset();
      module.application.reset();
    }
    result = Variant(held);
  } catch (...) {
    // The holder must never fail its caller; what was set so far is the answer.
  }
  return result;
}

std::shared_ptr<HostApplication> Host() {
  const ModuleState& module = Module();
  if (!module.m_ExcelApp)
    throw AutomationError(err::kObjectVariableNotSet, u"Object variable or With block variable not set");
  if (!module.application) throw AutomationError(438, u"Object doesn't support this property or method");
  return module.application;
}

}  // namespace corvane::mdl_Support
