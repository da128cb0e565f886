// The shared window instances of mdl_Support and the commands that open the modeless windows.
#include "addin/mdl_support.h"
#include "windows/frm_about.h"
#include "windows/frm_calibration_progress.h"
#include "windows/frm_custom_msgbox.h"
#include "windows/frm_settings.h"

namespace corvane {

namespace mdl_Support {

std::shared_ptr<windows::frmCustomMsgBox> frmCustomMsgBox() {
  return windows::LoadSharedInstance(Module().frmCustomMsgBox);
}

std::shared_ptr<windows::frmCalibrationProgress> frmCalibrationProgress() {
  return windows::LoadSharedInstance(Module().frmCalibrationProgress);
}

std::shared_ptr<windows::frmSettings> frmSettings() { return windows::LoadSharedInstance(Module().frmSettings); }

std::shared_ptr<windows::frmAbout> frmAbout() { return windows::LoadSharedInstance(Module().frmAbout); }

std::shared_ptr<windows::frmGraphics> frmGraphics() { return windows::LoadSharedInstance(Module().frmGraphics); }

}  // namespace mdl_Support

}  // namespace corvane
