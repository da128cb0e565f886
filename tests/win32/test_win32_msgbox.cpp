// The message box as a real window: its geometry against the model's layout at the screen's
// resolution, the picture buttons under real mouse input, the answers, keys that do nothing,
// and the modality.
#include <windows.h>

#include <cmath>
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

class MsgBoxTest : public WindowTest {
 protected:
  // Centred on the work area it opened on (within a pixel of rounding).
  static void ExpectCentred(HWND hwnd) {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &info);
    RECT rect{};
    ::GetWindowRect(hwnd, &rect);
    EXPECT_NEAR((rect.left + rect.right) / 2.0, (info.rcWork.left + info.rcWork.right) / 2.0, 1.0);
    EXPECT_NEAR((rect.top + rect.bottom) / 2.0, (info.rcWork.top + info.rcWork.bottom) / 2.0, 1.0);
  }

  // Whether the label shows text: some of its pixels are darker than its white background.
  bool ShowsText(HWND label) {
    const Image image = Capture(label);
    for (std::uint32_t pixel : image.pixels)
      if ((pixel & 0xFF) < 0x80) return true;
    return false;
  }
};

TEST_F(MsgBoxTest, EachKindOfMessageHasTheGeometryTheModelComputes) {
  struct Case {
    const char* name;
    std::u16string prompt;
    std::int32_t style;
    std::u16string button;  // clicked to answer
    std::int32_t answer;
  };
  const Case cases[] = {
      {"msgbox_one_line", u"No formula in cell.", 0, u"imgButtonOkMain", 1},
      {"msgbox_yes_no", std::u16string(kCalibrateNow), 4, u"imgButtonNoMain", 7},
      {"msgbox_notice", std::u16string(calibration::kCalibrationDoneNotice), 0, u"imgButtonOkMain", 1},
      {"msgbox_empty_ok_cancel", u"", 1, u"imgButtonCancelMain", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::int32_t answer = MsgBoxWith(c.prompt, c.style, [&](frmCustomMsgBox& box, HWND hwnd) {
      ExpectMatchesModel(box);
      ExpectCentred(hwnd);
      EXPECT_EQ(ShowsText(Window(box.lblPrompt)), !c.prompt.empty());
      const bool wrapped = c.prompt == calibration::kCalibrationDoneNotice;
      if (wrapped) {
        // Wrapped at the label's width, every line fitting it as GDI measures the font.
        EXPECT_EQ(box.lblPrompt.Width(), 6850.0F);
        EXPECT_GT(box.lblPrompt.Lines().size(), 5U);
        EXPECT_FLOAT_EQ(box.Height(), box.lblPrompt.Height() + 2480.0F);
        const double dpi = 1440.0 / box.TwipsPerPixel();
        for (const auto& line : box.lblPrompt.Lines())
          EXPECT_LE(platform_.measurer.LineWidthPixels(line, u"Verdana", 9.0, dpi) * box.TwipsPerPixel(), 6850.0);
      } else {
        EXPECT_EQ(box.Width(), 7150.0F);
        EXPECT_EQ(box.Height(), 2780.0F);
      }
      Screenshot(hwnd, c.name);
      ClickOn(Window(box.ControlNamed(c.button)));
    });
    EXPECT_EQ(answer, c.answer);
  }
}

TEST_F(MsgBoxTest, YesAnswersSixAndClosingFromTheFrameAnswersMinusOne) {
  EXPECT_EQ(MsgBoxWith(std::u16string(kCalibrateNow), 4,
                       [&](frmCustomMsgBox& box, HWND) { ClickOn(Window(box.imgButtonYesMain)); }),
            6);

  // The title bar's close box, found where the frame says it is.
  EXPECT_EQ(MsgBoxWith(std::u16string(kCalibrateNow), 4,
                       [&](frmCustomMsgBox&, HWND hwnd) {
                         RECT rect{};
                         ::GetWindowRect(hwnd, &rect);
                         POINT closeBox{};
                         const int captionY = rect.top + ::GetSystemMetrics(SM_CYCAPTION) / 2 + 2;
                         for (int x = rect.right - 2; x > rect.left; --x) {
                           const LPARAM at = MAKELPARAM(x, captionY);
                           if (::SendMessageW(hwnd, WM_NCHITTEST, 0, at) == HTCLOSE) {
                             closeBox = POINT{x - 3, captionY};
                             break;
                           }
                         }
                         ASSERT_NE(closeBox.x, 0) << "no close box on the title bar";
                         ClickAt(closeBox);
                       }),
            -1);
}

TEST_F(MsgBoxTest, EnterEscAndTabDoNothingButAltF4Closes) {
  const std::int32_t answer = MsgBoxWith(std::u16string(kCalibrateNow), 4, [&](frmCustomMsgBox& box, HWND hwnd) {
    for (int key : {VK_RETURN, VK_ESCAPE, VK_TAB, VK_SPACE}) Tap(static_cast<WORD>(key));
    EXPECT_TRUE(box.Loaded());
    EXPECT_TRUE(::IsWindowVisible(hwnd));
    EXPECT_EQ(box.imgButtonYesMain.GetPicture(), &windows::art::kYesUp);
    EXPECT_EQ(box.imgButtonNoMain.GetPicture(), &windows::art::kNoUp);
    Tap(VK_F4, /*alt=*/true);
  });
  EXPECT_EQ(answer, -1);
}

TEST_F(MsgBoxTest, PressedPictureHoldsUntilTheReleaseAndDraggingOffClicksNothing) {
  const std::int32_t answer = MsgBoxWith(u"No formula in cell.", 1, [&](frmCustomMsgBox& box, HWND hwnd) {
    const HWND ok = Window(box.imgButtonOkMain);
    const RECT released = PlaceOf(ok);
    const Image upPicture = PictureOf("button_ok_up");
    const Image downPicture = PictureOf("button_ok_down");
    ASSERT_EQ(upPicture.width, 121);
    ASSERT_EQ(downPicture.height, 25);
    EXPECT_EQ(Capture(ok), upPicture) << "the released picture, drawn as it is";

    PointAt(ok);
    Press();
    RECT place = PlaceOf(ok);
    EXPECT_EQ(place.right - place.left, 121);
    EXPECT_EQ(place.bottom - place.top, 25) << "pressed: two pixels shorter";
    EXPECT_EQ(place.left, released.left) << "the top-left corner stays";
    EXPECT_EQ(place.top, released.top);
    EXPECT_EQ(Capture(ok), downPicture) << "the pressed picture, drawn as it is";
    Screenshot(hwnd, "msgbox_ok_pressed");

    // Off the window entirely, then released: the release still comes, no answer.
    RECT frame{};
    ::GetWindowRect(hwnd, &frame);
    PointAt(POINT{frame.right + 40, frame.bottom + 40});
    EXPECT_EQ(box.imgButtonOkMain.GetPicture(), &windows::art::kOkDown) << "held while the pointer is away";
    Release();
    place = PlaceOf(ok);
    EXPECT_EQ(place.bottom - place.top, 27);
    EXPECT_EQ(Capture(ok), upPicture);
    EXPECT_TRUE(box.Loaded()) << "a release off the button runs no action";

    // The right button presses the picture too, but a right click is no Click.
    const HWND cancel = Window(box.imgButtonCancelMain);
    PointAt(cancel);
    Press(MouseButton::Right);
    EXPECT_EQ(box.imgButtonCancelMain.GetPicture(), &windows::art::kCancelDown);
    EXPECT_EQ(SizeOf(cancel).cy, 25);
    Release(MouseButton::Right);
    EXPECT_EQ(box.imgButtonCancelMain.GetPicture(), &windows::art::kCancelUp);
    EXPECT_EQ(SizeOf(cancel).cy, 27);
    EXPECT_TRUE(box.Loaded());

    ClickOn(ok);
  });
  EXPECT_EQ(answer, 1);
}

TEST_F(MsgBoxTest, TheSecondMessageShowsOnlyItsOwnButtons) {
  ASSERT_EQ(MsgBoxWith(std::u16string(kCalibrateNow), 4,
                       [&](frmCustomMsgBox& box, HWND) { ClickOn(Window(box.imgButtonYesMain)); }),
            6);
  const std::int32_t answer = MsgBoxWith(u"Unable to format this cell.", 0, [&](frmCustomMsgBox& box, HWND hwnd) {
    EXPECT_FALSE(::IsWindowVisible(Window(box.imgButtonYesMain)));
    EXPECT_FALSE(::IsWindowVisible(Window(box.imgButtonNoMain)));
    EXPECT_FALSE(::IsWindowVisible(Window(box.imgButtonCancelMain)));
    EXPECT_TRUE(::IsWindowVisible(Window(box.imgButtonOkMain)));
    ExpectMatchesModel(box);
    // OK alone, centred on the window's width.
    const RECT ok = PlaceOf(Window(box.imgButtonOkMain));
    EXPECT_NEAR((ok.left + ok.right) / 2.0, box.Width() / 2.0 / box.TwipsPerPixel(), 1.0);
    Screenshot(hwnd, "msgbox_second_message");
    ClickOn(Window(box.imgButtonOkMain));
  });
  EXPECT_EQ(answer, 1);
}

// A stand-in for the host's own window on the same thread: counts the clicks it receives.
int gHostClicks = 0;
LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_LBUTTONDOWN) ++gHostClicks;
  return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

TEST_F(MsgBoxTest, WhileItWaitsTheThreadsOtherWindowsTakeNoInput) {
  WNDCLASSW host{};
  host.lpfnWndProc = HostProc;
  host.hInstance = ::GetModuleHandleW(nullptr);
  host.lpszClassName = L"CorvaneTestHost";
  ::RegisterClassW(&host);
  const win32::UniqueWindow hostWindow(::CreateWindowExW(0, L"CorvaneTestHost", L"Host", WS_POPUP | WS_VISIBLE | WS_BORDER,
                                                          10, 10, 200, 150, nullptr, nullptr, host.hInstance, nullptr));
  ASSERT_TRUE(hostWindow);
  cls_corvane corvane;
  corvane.cvSettings();  // a modeless window of the add-in, open meanwhile
  const HWND settings = Window(*mdl_Support::Module().frmSettings);
  gHostClicks = 0;
  ClickOn(hostWindow.get());
  ASSERT_EQ(gHostClicks, 1) << "the host window takes clicks before";

  const std::int32_t answer = MsgBoxWith(u"No formula in cell.", 0, [&](frmCustomMsgBox& box, HWND) {
    EXPECT_FALSE(::IsWindowEnabled(hostWindow.get()));
    EXPECT_FALSE(::IsWindowEnabled(settings));
    ClickOn(hostWindow.get());
    EXPECT_EQ(gHostClicks, 1) << "no click reaches the host while the message waits";
    ClickOn(Window(box.imgButtonOkMain));
  });
  EXPECT_EQ(answer, 1);
  EXPECT_TRUE(::IsWindowEnabled(hostWindow.get()));
  EXPECT_TRUE(::IsWindowEnabled(settings));
  ClickOn(hostWindow.get());
  EXPECT_EQ(gHostClicks, 2);
}

}  // namespace
}  // namespace corvane::wintest
