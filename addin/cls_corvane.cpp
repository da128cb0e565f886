#include "addin/cls_corvane.h"

#include "addin/mdl_support.h"
#include "base/platform.h"
#include "formatting/formulate_command.h"
#include "formatting/unformat.h"
#include "spacing/calibrate_command.h"
#include "windows/frm_about.h"
#include "windows/frm_settings.h"
#include "windows/window_prompter.h"

namespace corvane {

void cls_corvane::SetExcelApp(ObjectRef& excel_app) {
  Variant obj(excel_app);
  bool noClear = false;
  (void)mdl_Support::ExcelApp(obj, noClear);
}

std::u16string cls_corvane::cvHelpfilePath() {
  const auto& services = Services();
  std::u16string path = services.moduleFolder;
  path.push_back(services.pathSeparator);
  path += u"corvane.chm";
  return path;
}

Variant cls_corvane::cvFormulateCell() {
  // The command's own trap covers the host too: a call before SetExcelApp ends quietly.
  try {
    const std::shared_ptr<HostApplication> host = mdl_Support::Host();
    windows::WindowPrompter prompter;
    (void)formulate::FormulateCell(*this, *host, StoreInForce(), prompter);
  } catch (...) {
  }
  return Variant();
}

Variant cls_corvane::cvDeformulateCell() {
  try {
    DeformulateCell(*mdl_Support::Host());
  } catch (...) {
    // No host held: the command ends quietly, as on any failure.
  }
  return Variant();
}

void cls_corvane::cvCalibrateSpacing() {
  windows::WindowPrompter prompter;
  (void)calibration::CalibrateSpacing(*mdl_Support::Host(), StoreInForce(), prompter);
}

void cls_corvane::cvSettings() { mdl_Support::frmSettings()->Show(windows::ShowMode::Modeless); }

void cls_corvane::cvAbout() { mdl_Support::frmAbout()->Show(windows::ShowMode::Modeless); }

}  // namespace corvane
