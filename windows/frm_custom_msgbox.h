// The message window `frmCustomMsgBox`: banner, prompt label and four picture buttons (OK,
// Cancel, Yes, No), which `mdl_Support::CustomMsgBox` places, shows and hides on every call.
// Contract: a button's Click stores its answer in `iMsgBoxResult` (1 OK, 2 Cancel, 6 Yes,
// 7 No) and unloads the window; the window handles no event of its own, so closing it from its
// frame leaves the answer as it was.
#pragma once

#include "windows/form.h"

namespace corvane::windows {

class frmCustomMsgBox final : public Form {
 public:
  frmCustomMsgBox();

  Control imgCorvane{*this, u"imgCorvane", ControlKind::Image};
  Control lblPrompt{*this, u"lblPrompt", ControlKind::Label};
  Control imgButtonOkMain{*this, u"imgButtonOkMain", ControlKind::Image};
  Control imgButtonCancelMain{*this, u"imgButtonCancelMain", ControlKind::Image};
  Control imgButtonYesMain{*this, u"imgButtonYesMain", ControlKind::Image};
  Control imgButtonNoMain{*this, u"imgButtonNoMain", ControlKind::Image};
  Control imgButtonOkUp{*this, u"imgButtonOkUp", ControlKind::Image};
  Control imgButtonCancelUp{*this, u"imgButtonCancelUp", ControlKind::Image};
  Control imgButtonYesUp{*this, u"imgButtonYesUp", ControlKind::Image};
  Control imgButtonNoUp{*this, u"imgButtonNoUp", ControlKind::Image};
  Control imgButtonOkDown{*this, u"imgButtonOkDown", ControlKind::Image};
  Control imgButtonCancelDown{*this, u"imgButtonCancelDown", ControlKind::Image};
  Control imgButtonYesDown{*this, u"imgButtonYesDown", ControlKind::Image};
  Control imgButtonNoDown{*this, u"imgButtonNoDown", ControlKind::Image};

 private:
  void ForgetSharedInstance() override;
};

}  // namespace corvane::windows
