// The message box as a real window: what the Win32 layer adds to the model (test_windows) — the
// windows' geometry against the model's at the screen's resolution, text measured and drawn by
// GDI, the pictures as drawn, real mouse and keyboard input, the frame's close box, modality.
#include <windows.h>

#include <algorithm>
#include <string>

#include "support/harness.h"
#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "spacing/calibrate_command.h"
#include "windows/frm_custom_msgbox.h"
#include "windows/frm_settings.h"
#include "windows/pictures.h"

namespace corvane::wintest {
namespace {

using windows::frmCustomMsgBox;
using windows::MouseButton;

constexpr std::u16string_view kCalibrateNow = u"Corvane is not yet calibrated to your configuration. Calibrate now?";

TEST_F(WindowTest, EachKindOfMessageIsTheModelsWindowCentredOnTheWorkArea) {
  struct Case {
    const char* name;
    std::u16string prompt;
    std::int32_t style;
    std::u16string button;  // clicked to answer
    std::int32_t answer;
  };
  // In this order, so that a message after a yes/no question shows only its own buttons.
  const Case cases[] = {
      {"msgbox_yes_no", std::u16string(kCalibrateNow), 4, u"imgButtonNoMain", 7},
      {"msgbox_notice", std::u16string(calibration::kCalibrationDoneNotice), 0, u"imgButtonOkMain", 1},
      {"msgbox_empty_ok_cancel", u"", 1, u"imgButtonCancelMain", 2},
      {"msgbox_one_line", u"No formula in cell.", 0, u"imgButtonOkMain", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::int32_t answer = MsgBoxWith(c.prompt, c.style, [&](frmCustomMsgBox& box, HWND hwnd) {
      ExpectMatchesModel(box);
      MONITORINFO monitor{};
      monitor.cbSize = sizeof(monitor);
      ::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
      RECT rect{};
      ::GetWindowRect(hwnd, &rect);
      EXPECT_NEAR(rect.left + rect.right, monitor.rcWork.left + monitor.rcWork.right, 2.0);
      EXPECT_NEAR(rect.top + rect.bottom, monitor.rcWork.top + monitor.rcWork.bottom, 2.0);
      // Text is drawn (some pixels darker than the white background) only when there is some.
      const Image label = Capture(Window(box.lblPrompt));
      const auto dark = [](std::uint32_t pixel) { return (pixel & 0xFF) < 0x80; };
      EXPECT_EQ(std::any_of(label.pixels.begin(), label.pixels.end(), dark), !c.prompt.empty());
      // Wrapped, every line fits the label as GDI measures the font.
      const double dpi = 1440.0 / box.TwipsPerPixel();
      for (const auto& line : box.lblPrompt.Lines())
        EXPECT_LE(platform_.measurer.LineWidthPixels(line, u"Verdana", 9.0, dpi) * box.TwipsPerPixel(),
                  box.lblPrompt.Width());
      Screenshot(hwnd, c.name);
      ClickOn(Window(box.ControlNamed(c.button)));
    });
    EXPECT_EQ(answer, c.answer);
  }
}

TEST_F(WindowTest, EnterEscTabAndSpaceDoNothingWhileAltF4AndTheCloseBoxAnswerMinusOne) {
  EXPECT_EQ(MsgBoxWith(std::u16string(kCalibrateNow), 4,
                       [&](frmCustomMsgBox& box, HWND hwnd) {
                         for (int key : {VK_RETURN, VK_ESCAPE, VK_TAB, VK_SPACE}) Tap(static_cast<WORD>(key));
                         EXPECT_TRUE(box.Loaded());
                         EXPECT_TRUE(::IsWindowVisible(hwnd));
                         EXPECT_EQ(box.imgButtonYesMain.GetPicture(), &windows::art::kYesUp);
                         EXPECT_EQ(box.imgButtonNoMain.GetPicture(), &windows::art::kNoUp);
                         Tap(VK_F4, /*alt=*/true);
                       }),
            -1);
  // The title bar's close box, found where the frame says it is.
  EXPECT_EQ(MsgBoxWith(std::u16string(kCalibrateNow), 4,
                       [&](frmCustomMsgBox&, HWND hwnd) {
                         RECT rect{};
                         ::GetWindowRect(hwnd, &rect);
                         const int y = rect.top + ::GetSystemMetrics(SM_CYCAPTION) / 2 + 2;
                         int x = rect.right - 2;
                         while (x > rect.left && ::SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(x, y)) != HTCLOSE)
                           --x;
                         ASSERT_GT(x, rect.left) << "no close box on the title bar";
                         ClickAt(POINT{x - 3, y});
                       }),
            -1);
}

TEST_F(WindowTest, ThePressedPictureIsDrawnInPlaceUntilTheReleaseAndDraggingOffClicksNothing) {
  const std::int32_t answer = MsgBoxWith(u"No formula in cell.", 1, [&](frmCustomMsgBox& box, HWND hwnd) {
    const HWND ok = Window(box.imgButtonOkMain);
    const RECT released = PlaceOf(ok);
    const Image upPicture = PictureOf("button_ok_up");
    EXPECT_EQ(Capture(ok), upPicture) << "the released picture, drawn as it is";

    PointAt(ok);
    Press();
    const RECT pressed = PlaceOf(ok);
    EXPECT_EQ(pressed.bottom - pressed.top, released.bottom - released.top - 2) << "two pixels shorter";
    EXPECT_EQ(std::make_pair(pressed.left, pressed.top), std::make_pair(released.left, released.top));
    EXPECT_EQ(Capture(ok), PictureOf("button_ok_down")) << "the pressed picture, drawn as it is";
    Screenshot(hwnd, "msgbox_ok_pressed");

    // Off the window entirely, then released: the release still comes, no answer.
    RECT frame{};
    ::GetWindowRect(hwnd, &frame);
    PointAt(POINT{frame.right + 40, frame.bottom + 40});
    EXPECT_EQ(box.imgButtonOkMain.GetPicture(), &windows::art::kOkDown) << "held while the pointer is away";
    Release();
    EXPECT_EQ(SizeOf(ok).cy, released.bottom - released.top);
    EXPECT_EQ(Capture(ok), upPicture);
    EXPECT_TRUE(box.Loaded()) << "a release off the button runs no action";

    // The right button presses the picture too.
    PointAt(Window(box.imgButtonCancelMain));
    Press(MouseButton::Right);
    EXPECT_EQ(box.imgButtonCancelMain.GetPicture(), &windows::art::kCancelDown);
    Release(MouseButton::Right);
    EXPECT_EQ(box.imgButtonCancelMain.GetPicture(), &windows::art::kCancelUp);
    ClickOn(ok);
  });
  EXPECT_EQ(answer, 1);
}

TEST_F(WindowTest, WhileAMessageWaitsTheThreadsOtherWindowsAreDisabled) {
  // A stand-in for the host's own window on this thread, and a modeless window of the add-in.
  const win32::UniqueWindow host(::CreateWindowExW(0, L"STATIC", L"Host", WS_POPUP | WS_VISIBLE | WS_BORDER, 10, 10,
                                                   200, 150, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(host);
  cls_corvane corvane;
  corvane.cvSettings();
  const HWND settings = Window(*mdl_Support::Module().frmSettings);
  EXPECT_EQ(MsgBoxWith(u"No formula in cell.", 0,
                       [&](frmCustomMsgBox& box, HWND) {
                         EXPECT_FALSE(::IsWindowEnabled(host.get()));
                         EXPECT_FALSE(::IsWindowEnabled(settings));
                         ClickOn(host.get());
                         EXPECT_TRUE(box.Loaded()) << "the message still waits";
                         ClickOn(Window(box.imgButtonOkMain));
                       }),
            1);
  EXPECT_TRUE(::IsWindowEnabled(host.get()));
  EXPECT_TRUE(::IsWindowEnabled(settings));
}

}  // namespace
}  // namespace corvane::wintest
