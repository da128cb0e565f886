// The window system seen from the window models: what a front end (Win32 windows, the terminal,
// a test's fake) must do to put a window model on screen and feed it the user's actions.
// Contract: the models own all state and behaviour; a back end only draws and delivers events.
// It delivers the user's actions by calling the model's event entry points (Form::MouseDown,
// MouseUp, Click, CloseBox), on the thread that shows the window, and it never keeps a
// reference to a window after Unload. Everything runs on one thread; no call may block except a
// modal Show, which returns only once the window has been unloaded.
#pragma once

namespace corvane::windows {

class Form;
class Control;
enum class BorderStyle;

enum class ShowMode { Modeless = 0, Modal = 1 };

// A length pair in twips (1440 to the inch).
struct TwipsSize {
  float width = 0.0F;
  float height = 0.0F;
};

class UiBackend {
 public:
  virtual ~UiBackend() = default;

  // The display's resolution in dots per inch; a pixel is 1440 / Dpi() twips.
  virtual double Dpi() = 0;
  // How much larger a window of this border style is than its client area (frame and caption).
  virtual TwipsSize FrameExtraTwips(BorderStyle border) = 0;

  // Puts the window on screen, or brings it to the front when it is shown already.
  // Modeless: returns at once. Modal: delivers events until the window has been unloaded, then
  // returns (the window has then been passed to Unload).
  virtual void Show(Form& form, ShowMode mode) = 0;
  // The model has been unloaded: take its window off the screen and forget it. Must not call
  // back into the model.
  virtual void Unload(Form& form) = 0;
  // Something the window shows has changed: `control` (or the window itself when null).
  virtual void Changed(Form& form, const Control* control) = 0;
  // Delivers the events that are waiting, then returns (the host's "process pending events").
  virtual void DoEvents() = 0;
};

}  // namespace corvane::windows
