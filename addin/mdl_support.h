// The support module: the one holder of the host's Application reference (`ExcelApp`), the
// message box routine `CustomMsgBox`, and the module-level state that exists once per thread
// (the message answer, the calibration cancel flag, the shared window instances).
// Contract: `ExcelApp` never fails; the add-in object's methods reach the host through `Host()`,
// which asks `ExcelApp` with no object and hands out the reference for one call only, and pass
// it on to the commands they run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/automation.h"
#include "base/host.h"

namespace corvane::windows {
class frmCustomMsgBox;
class frmCalibrationProgress;
class frmSettings;
class frmAbout;
class frmGraphics;
}  // namespace corvane::windows

namespace corvane::mdl_Support {

struct ModuleState {
  ObjectRef m_ExcelApp;
  // The same object as the host's Application, or empty when it is none: set with m_ExcelApp,
  // so that Host() does not cast on every call.
  std::shared_ptr<HostApplication> application;
  std::int32_t iMsgBoxResult = 0;
  bool bCancelCalibration = false;
  // The shared window instances: empty until first referenced, and again once unloaded.
  std::shared_ptr<windows::frmCustomMsgBox> frmCustomMsgBox;
  std::shared_ptr<windows::frmCalibrationProgress> frmCalibrationProgress;
  std::shared_ptr<windows::frmSettings> frmSettings;
  std::shared_ptr<windows::frmAbout> frmAbout;
  std::shared_ptr<windows::frmGraphics> frmGraphics;
};

// This thread's module state.
ModuleState& Module();

// Stores `obj` when it refers to an object, empties the holder when `bClear`, and returns
// what the holder refers to now. Any failure inside is swallowed.
Variant ExcelApp(Variant& obj, bool& bClear) noexcept;

// The host's Application object for one call. Throws AutomationError 91 when none is held
// (a command called before SetExcelApp), 438 when the held object is not an Application.
std::shared_ptr<HostApplication> Host();

// The shared window instances of this thread. The first reference creates the window and runs
// its load step (a failing load step passes its error on and leaves no instance); later
// references return the same instance until it is unloaded. Needs the window system (Ui()).
std::shared_ptr<windows::frmCustomMsgBox> frmCustomMsgBox();
std::shared_ptr<windows::frmCalibrationProgress> frmCalibrationProgress();
std::shared_ptr<windows::frmSettings> frmSettings();
std::shared_ptr<windows::frmAbout> frmAbout();
std::shared_ptr<windows::frmGraphics> frmGraphics();

// Shows `strPrompt` in the add-in's message window, titled `strTitle`, with the buttons of the
// style `iButtons` (1 OK and Cancel, 4 Yes and No, anything else OK alone), and waits until the
// window is closed. Returns 1 OK, 2 Cancel, 6 Yes, 7 No, -1 when the window was closed without
// a button, 0 when the window could not be prepared or shown (nothing is thrown).
std::int32_t CustomMsgBox(const std::u16string& strPrompt, const std::int32_t& iButtons,
                          const std::u16string& strTitle) noexcept;

}  // namespace corvane::mdl_Support
