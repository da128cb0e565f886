// The calibration progress window `frmCalibrationProgress`: banner, "Calibrating...", a progress
// bar from 1 to 767 whose value the calibration command sets, and a Cancel picture button.
// Contract: Cancel sets `bCancelCalibration` and unloads the window; nothing else happens in the
// window (closing it from its frame leaves the flag clear).
#pragma once

#include "windows/form.h"

namespace corvane::windows {

class frmCalibrationProgress final : public Form {
 public:
  frmCalibrationProgress();

  Control Image2{*this, u"Image2", ControlKind::Image};
  Control lblCalibrating{*this, u"lblCalibrating", ControlKind::Label};
  Control pbCalibration{*this, u"pbCalibration", ControlKind::ProgressBar};
  Control imgButtonCancelMain{*this, u"imgButtonCancelMain", ControlKind::Image};
  Control imgButtonCancelUp{*this, u"imgButtonCancelUp", ControlKind::Image};
  Control imgButtonCancelDown{*this, u"imgButtonCancelDown", ControlKind::Image};

 private:
  void ForgetSharedInstance() override;
};

}  // namespace corvane::windows
