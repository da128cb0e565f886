// What the window tests of the Windows build share: the Win32 platform installed for one test
// (with an in-memory store and a ShellExecuteA that starts nothing), real input (SendInput,
// SetCursorPos), message pumping until something has happened, scripts that act while a modal
// window waits, geometry in pixels and pixels read back from the screen.
//
// Typical use:
//
//   TEST_F(WindowTest, Something) {
//     const std::int32_t answer = MsgBoxWith(u"Calibrate now?", 4, [&](frmCustomMsgBox& box, HWND) {
//       ClickOn(Window(box.imgButtonYesMain));
//     });
//     EXPECT_EQ(answer, 6);
//   }
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "base/memory_store.h"
#include "platform/win32/handles.h"
#include "platform/win32/win32_platform.h"
#include "windows/form.h"
#include "windows/frm_custom_msgbox.h"

namespace corvane::wintest {

class WindowTest : public ::testing::Test {
 protected:
  WindowTest();
  ~WindowTest() override;

  // ---- The windows ----
  HWND Window(const windows::Form& form) const { return platform_.ui.WindowOf(form); }
  HWND Window(const windows::Control& control) const { return platform_.ui.WindowOf(control); }

  // ---- Messages and input ----
  // Delivers what is waiting until `done` holds or `timeoutMs` has passed; says whether it held.
  bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);
  void PumpFor(DWORD ms);
  // A left click (press and release together) on the middle of a window, or at a point.
  void ClickOn(HWND window) { ClickAt(CentreOf(window)); }
  void ClickAt(POINT screen);
  static POINT CentreOf(HWND window);

  // Runs `script` on this thread once the message box is up and waiting, while CustomMsgBox runs
  // with these arguments; returns its answer. The script gets the box and its window. A box the
  // script leaves open is closed from its frame and the test fails.
  std::int32_t MsgBoxWith(const std::u16string& prompt, std::int32_t style,
                          const std::function<void(windows::frmCustomMsgBox&, HWND)>& script);

  // ---- Geometry ----
  // The window has the model's outer and client size (in pixels at the screen's resolution);
  // the window of every control has the model's place, size and visibility, a picture control
  // the size of its picture.
  void ExpectMatchesModel(const windows::Form& form);

  // ---- Pixels ----
  // Whether the window's client area, read back from the screen once it has been redrawn and the
  // drawing has reached the display, shows any dark pixel (text on a light background).
  bool ShowsDarkPixels(HWND window);

  MemoryStore store_;
  win32::Win32Platform platform_;

 private:
  ScopedServices services_;
};

}  // namespace corvane::wintest
