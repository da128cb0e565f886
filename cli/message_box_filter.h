// The window system of a command run from the terminal that answers some message boxes itself.
// Contract: every call passes to the terminal's back end, except showing the message window
// modally, which goes to ShowMessageBox; the derived class either answers the box (clicks one
// of its buttons) or hands it on with ShowOnTerminal.
#pragma once

#include "windows/form.h"
#include "windows/ui_backend.h"

namespace corvane::cli {

class MessageBoxFilter : public windows::UiBackend {
 public:
  explicit MessageBoxFilter(windows::UiBackend& terminal) : terminal_(terminal) {}

  double Dpi() override { return terminal_.Dpi(); }
  windows::TwipsSize FrameExtraTwips(windows::BorderStyle border) override { return terminal_.FrameExtraTwips(border); }
  void Unload(windows::Form& form) override { terminal_.Unload(form); }
  void Changed(windows::Form& form, const windows::Control* control) override { terminal_.Changed(form, control); }
  void DoEvents() override { terminal_.DoEvents(); }

  void Show(windows::Form& form, windows::ShowMode mode) final {
    if (mode == windows::ShowMode::Modal && form.Name() == u"frmCustomMsgBox") {
      ShowMessageBox(form);
    } else {
      terminal_.Show(form, mode);
    }
  }

 protected:
  virtual void ShowMessageBox(windows::Form& box) = 0;
  void ShowOnTerminal(windows::Form& box) { terminal_.Show(box, windows::ShowMode::Modal); }

 private:
  windows::UiBackend& terminal_;
};

}  // namespace corvane::cli
