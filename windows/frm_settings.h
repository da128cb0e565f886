// The settings window `frmSettings`: the two options "Format All Parens" and "Always Send to
// Notepad" as check boxes with their help texts, and OK and Cancel picture buttons.
// Contract: the load step reads both options (base/options.h) from the store in force and fails,
// naming key and value, when a stored text is not a check-box state. OK saves both keys as "1"
// (any state but clear) or "0" and unloads; Cancel and the frame's close box unload without
// saving.
#pragma once

#include "windows/form.h"

namespace corvane::windows {

class frmSettings final : public Form {
 public:
  frmSettings();

  Control Image2{*this, u"Image2", ControlKind::Image};
  Control chkFormatAllParens{*this, u"chkFormatAllParens", ControlKind::CheckBox};
  Control Label2{*this, u"Label2", ControlKind::Label};
  Control chkAlwaysSendToNotepad{*this, u"chkAlwaysSendToNotepad", ControlKind::CheckBox};
  Control Label1{*this, u"Label1", ControlKind::Label};
  Control imgButtonOkMain{*this, u"imgButtonOkMain", ControlKind::Image};
  Control imgButtonCancelMain{*this, u"imgButtonCancelMain", ControlKind::Image};
  Control imgButtonOkUp{*this, u"imgButtonOkUp", ControlKind::Image};
  Control imgButtonOkDown{*this, u"imgButtonOkDown", ControlKind::Image};
  Control imgButtonCancelUp{*this, u"imgButtonCancelUp", ControlKind::Image};
  Control imgButtonCancelDown{*this, u"imgButtonCancelDown", ControlKind::Image};

 private:
  void Form_Load() override;
  void ForgetSharedInstance() override;
  void Ok();
};

}  // namespace corvane::windows
