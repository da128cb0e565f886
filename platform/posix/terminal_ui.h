// The add-in's windows on a text terminal, for the `corvane` program.
// Contract:
// - A modal window (the message box) prints its title, its texts (line breaks kept) and its
//   buttons, e.g. "[Y]es  [N]o", on the output; when the input is a terminal it reads single
//   keys until the window is unloaded, as a dialog takes them: the arrow keys and Tab
//   (Shift-Tab back) move the focus round the check boxes and the buttons (the focused one is
//   shown on a "> " line), Space toggles the focused check box or presses the focused button,
//   Enter presses the focused button or else OK, Esc presses Cancel (or the close box); the first
//   letter of a button presses it and a digit toggles its check box. When the input is not a
//   terminal, or at end of input (also Ctrl-D), the window is closed as by its close box. Other
//   keys are ignored. Only the window's own keys are read: what is typed after it closes stays
//   for the next reader. (A question asked with Ask takes the first letters only.)
// - A modeless window with a progress bar is a bar on the output, drawn only when the output is
//   a terminal and redrawn as the value moves. While it is open, Ctrl-C (SIGINT) is its Cancel
//   button, delivered when pending events are processed (DoEvents); once it is unloaded the
//   previous SIGINT disposition is back.
// - Other modeless windows print nothing when shown; Run() works them from the keyboard.
// - Ask() prints a question as the message window prints and reads its answer in the same way.
// While keys are read the terminal is in non-canonical, no-echo mode; it is restored when the
// reading ends, also when a signal ends the program.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/prompter.h"
#include "windows/form.h"
#include "windows/ui_backend.h"

namespace corvane::posix {

class TerminalUi final : public windows::UiBackend {
 public:
  struct Options {
    int input = 0;    // file descriptor the keys come from
    int output = 2;   // file descriptor the windows are drawn on
    double dpi = 96.0;
  };

  TerminalUi();
  explicit TerminalUi(Options options);
  ~TerminalUi() override;
  TerminalUi(const TerminalUi&) = delete;
  TerminalUi& operator=(const TerminalUi&) = delete;

  double Dpi() override;
  windows::TwipsSize FrameExtraTwips(windows::BorderStyle border) override;
  void Show(windows::Form& form, windows::ShowMode mode) override;
  void Unload(windows::Form& form) override;
  void Changed(windows::Form& form, const windows::Control* control) override;
  void DoEvents() override;

  // Prints the window and works it from the keyboard until it is unloaded; closes it as by its
  // close box when the input is not a terminal or ends.
  void Run(windows::Form& form);

  // A question printed as the message window prints (title, text, "[Y]es  [N]o"), with the
  // buttons of the message box's style (4 Yes and No, 1 OK and Cancel, else OK alone), answered
  // with one key: 1 OK, 2 Cancel, 6 Yes, 7 No, or -1 when the input is not a terminal or ends.
  std::int32_t Ask(std::u16string_view prompt, std::int32_t style, std::u16string_view title);

  bool InputIsTerminal() const;
  bool OutputIsTerminal() const;

 private:
  void Render(const windows::Form& form);
  // Prints the window, then reads keys until it is unloaded.
  void Interact(windows::Form& form);
  void DrawProgress(const windows::Form& form);
  void EndProgress();
  void Write(const std::string& text);

  Options options_;
  windows::Form* progress_ = nullptr;  // the open progress window, if any
  std::string drawnProgress_;
  bool interruptInstalled_ = false;
};

}  // namespace corvane::posix
