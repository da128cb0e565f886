// The Win32 platform layer: the add-in's windows as real Win32 windows, text measured with GDI,
// the Windows shell, and the services a Windows front end installs for the core.
// Contract:
// - Everything runs on the thread that created it (the host's user-interface thread); windows
//   belong to that thread.
// - Win32Ui shows a window model as a top-level window of fixed size built from the model's
//   controls: pictures and labels drawn here, check boxes as standard check boxes, the progress
//   bar from the common controls. Twips become pixels at the screen's resolution (rounded to the
//   nearest pixel); fonts, colours, pictures, icon and mouse pointers are the models' own, the
//   artwork coming from the resources of the module that contains this layer. Mouse presses
//   capture the mouse, so the release reaches the pressed control wherever the pointer is; a
//   release of the left button over that control is a Click. The frame's close box (and Alt+F4)
//   is the model's CloseBox; Enter, Esc and Tab never reach a picture button. A modal window
//   disables the thread's other windows until it is unloaded and runs the message loop
//   meanwhile; DoEvents delivers what is waiting and returns. A failure inside an event handler
//   ends that handler and goes no further: an exception must not cross the window system.
// - GdiTextMeasurer measures with the same fonts that Win32Ui draws with, so an auto-sized
//   label's size and its drawn text agree.
// - Win32Shell opens a document or address with ShellExecuteA, the texts in the ANSI code page,
//   owned by the window whose event asked for it.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <memory>
#include <string>

#include "base/platform.h"
#include "windows/form.h"
#include "windows/ui_backend.h"

namespace corvane::win32 {

// The module (library or program) that contains this layer: its resources hold the artwork.
HMODULE ThisModule() noexcept;
// The folder of that module's file, without a trailing separator.
std::u16string ModuleFolder();
// The full path of that library's file; empty when the system does not say.
std::wstring ModulePath();
// The decimal and thousands separators of the user's regional settings.
RegionalFormat UserRegionalFormat();
// The dialog item identifier that the window of `control` gets: the controls of a form are
// numbered in the form's order, so another module can find a control of a window it did not
// make (GetDlgItem). 0 when the control is not the form's.
int ControlIdOf(const windows::Form& form, const windows::Control& control);

class GdiTextMeasurer final : public TextMeasurer {
 public:
  GdiTextMeasurer();
  ~GdiTextMeasurer() override;
  GdiTextMeasurer(const GdiTextMeasurer&) = delete;
  GdiTextMeasurer& operator=(const GdiTextMeasurer&) = delete;

  double LineWidthPixels(std::u16string_view text, std::u16string_view face, double points, double dpi) override;
  double LineHeightPixels(std::u16string_view face, double points, double dpi) override;
  // The face GDI chose for `face` (after the system's font substitutions).
  std::u16string ResolvedFace(std::u16string_view face) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Every window must have been unloaded before the back end is destroyed.
class Win32Ui final : public windows::UiBackend {
 public:
  Win32Ui();
  ~Win32Ui() override;
  Win32Ui(const Win32Ui&) = delete;
  Win32Ui& operator=(const Win32Ui&) = delete;

  double Dpi() override;
  windows::TwipsSize FrameExtraTwips(windows::BorderStyle border) override;
  void Show(windows::Form& form, windows::ShowMode mode) override;
  void Unload(windows::Form& form) override;
  void Changed(windows::Form& form, const windows::Control* control) override;
  void DoEvents() override;

  // The window that shows `form` / `control`, or null when it is not on screen.
  HWND WindowOf(const windows::Form& form) const;
  HWND WindowOf(const windows::Control& control) const;
  // The window whose event is being delivered, else null: the owner for the shell.
  HWND EventWindow() const;

  struct Impl;  // the windows on screen (win32_ui.cpp)

 private:
  std::unique_ptr<Impl> impl_;
};

class Win32Shell final : public Shell {
 public:
  using ShellExecuteFunction = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);

  // `owner` names the owner window of each call (may be empty: no owner); `execute` is the
  // shell's function (replaceable so that a test can watch the calls without a browser).
  explicit Win32Shell(std::function<HWND()> owner = {}, ShellExecuteFunction execute = ::ShellExecuteA);

  std::int32_t ShellOpen(std::u16string_view operation, std::u16string_view file, std::u16string_view parameters,
                         std::u16string_view directory, std::int32_t showCommand) override;

 private:
  std::function<HWND()> owner_;
  ShellExecuteFunction execute_;
};

// The layer's services wired together: the shell's owner is the window of the current event.
class Win32Platform {
 public:
  explicit Win32Platform(Win32Shell::ShellExecuteFunction execute = ::ShellExecuteA);

  // The services for the core, with `store` as the settings store.
  PlatformServices Services(SettingsStore* store);

  Win32Ui ui;
  GdiTextMeasurer measurer;
  Win32Shell shell;
};

}  // namespace corvane::win32
