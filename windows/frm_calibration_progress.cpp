#include "windows/frm_calibration_progress.h"

#include "addin/mdl_support.h"
#include "windows/picture_button.h"
#include "windows/pictures.h"

namespace corvane::windows {

frmCalibrationProgress::frmCalibrationProgress()
    : Form(u"frmCalibrationProgress", BorderStyle::FixedDialog, 7284.0F, 3192.0F) {
  SetCaption(u"Corvane Calibration");
  backColor_ = Color::Of(Color::System::WindowBackground);
  icon_ = &art::kIcon;

  Image2.SetPicture(&art::kBanner);
  Image2.Move(240.0F, 240.0F);

  lblCalibrating.SetCaption(u"Calibrating...");
  lblCalibrating.SetFont(Font{u"Verdana", 7.8F});
  lblCalibrating.SetBackColor(kWhite);
  lblCalibrating.Move(840.0F, 1200.0F, 1812.0F, 252.0F);

  pbCalibration.Move(840.0F, 1560.0F, 5532.0F, 372.0F);
  pbCalibration.SetRange(1.0F, 767.0F);
  pbCalibration.SetValue(1.0F);

  InstallPictureButton(imgButtonCancelMain, imgButtonCancelUp, imgButtonCancelDown, art::kCancelUp,
                       art::kCancelDown, [this] {
                         mdl_Support::Module().bCancelCalibration = true;
                         Unload();
                       });
  imgButtonCancelMain.Move(2880.0F, 2640.0F);
  imgButtonCancelUp.Move(240.0F, 2640.0F);
  imgButtonCancelDown.Move(5520.0F, 2640.0F);
}

void frmCalibrationProgress::ForgetSharedInstance() {
  auto& slot = mdl_Support::Module().frmCalibrationProgress;
  if (slot.get() == this) slot.reset();
}

}  // namespace corvane::windows
