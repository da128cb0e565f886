// The support module: the one holder of the host's Application reference (`ExcelApp`) and the
// module-level state that exists once per thread (the message answer, the calibration cancel
// flag, the shared window instances).
// Contract: `ExcelApp` never fails; every host access goes through `Host()`, which asks
// `ExcelApp` with no object and hands out the reference for one call only.
#pragma once

#include <cstdint>
#include <memory>

#include "addin/automation.h"
#include "addin/host.h"

namespace corvane::mdl_Support {

struct ModuleState {
  ObjectRef m_ExcelApp;
  std::int32_t iMsgBoxResult = 0;
  bool bCancelCalibration = false;
};

// This thread's module state.
ModuleState& Module();

// Stores `obj` when it refers to an object, empties the holder when `bClear`, and returns
// what the holder refers to now. Any failure inside is swallowed.
Variant ExcelApp(Variant& obj, bool& bClear) noexcept;

// The host's Application object for one call. Throws AutomationError 91 when none is held
// (a command called before SetExcelApp), 438 when the held object is not an Application.
std::shared_ptr<HostApplication> Host();

}  // namespace corvane::mdl_Support
