// The message box as a real window: what the Win32 layer adds to the model (test_windows) — the
// window's geometry against the model's at the screen's resolution, text measured and drawn by
// GDI, real mouse and keyboard input, modality.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "support/harness.h"
#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "spacing/calibrate_command.h"
#include "windows/frm_custom_msgbox.h"
#include "windows/frm_settings.h"

namespace corvane::wintest {
namespace {

using windows::frmCustomMsgBox;

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
      EXPECT_EQ(ShowsDarkPixels(Window(box.lblPrompt)), !c.prompt.empty());
      // Wrapped, every line fits the label as GDI measures the font.
      const double dpi = 1440.0 / box.TwipsPerPixel();
      for (const auto& line : box.lblPrompt.Lines())
        EXPECT_LE(platform_.measurer.LineWidthPixels(line, u"Verdana", 9.0, dpi) * box.TwipsPerPixel(),
                  box.lblPrompt.Width());
      ClickOn(Window(box.ControlNamed(c.button)));
    });
    EXPECT_EQ(answer, c.answer);
  }
}

// Modal as a message box: the thread's other windows (the host's, a modeless one of the add-in)
// are disabled while it waits; Enter, Esc, Tab and Space do nothing; Alt+F4 answers -1.
TEST_F(WindowTest, WhileAMessageWaitsOtherWindowsAreDisabledKeysDoNothingAndAltF4AnswersMinusOne) {
  const win32::UniqueWindow host(::CreateWindowExW(0, L"STATIC", L"Host", WS_POPUP | WS_VISIBLE | WS_BORDER, 10, 10,
                                                   200, 150, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(host);
  cls_corvane corvane;
  corvane.cvSettings();
  const HWND settings = Window(*mdl_Support::Module().frmSettings);
  EXPECT_EQ(MsgBoxWith(std::u16string(kCalibrateNow), 4,
                       [&](frmCustomMsgBox& box, HWND) {
                         EXPECT_FALSE(::IsWindowEnabled(host.get()));
                         EXPECT_FALSE(::IsWindowEnabled(settings));
                         ClickOn(host.get());
                         for (int key : {VK_RETURN, VK_ESCAPE, VK_TAB, VK_SPACE}) Tap(static_cast<WORD>(key));
                         EXPECT_TRUE(box.Loaded()) << "the message still waits";
                         Tap(VK_F4, /*alt=*/true);
                       }),
            -1);
  EXPECT_TRUE(::IsWindowEnabled(host.get()));
  EXPECT_TRUE(::IsWindowEnabled(settings));
}

// The resolution the run asked for (scripts/wine-test runs at 120 and 96 dots per inch).
TEST(Screen, ResolutionIsTheOneTheTestRunAskedFor) {
  char expected[16]{};
  if (!::GetEnvironmentVariableA("CORVANE_EXPECT_DPI", expected, sizeof(expected)))
    GTEST_SKIP() << "no resolution asked for";
  EXPECT_EQ(win32::Win32Ui().Dpi(), std::atof(expected));
}

}  // namespace
}  // namespace corvane::wintest
