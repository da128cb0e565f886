// The windows as real windows: what the Win32 layer adds to the models (test_windows) — the
// windows' geometry against the model's at the screen's resolution, text measured and drawn by
// GDI, check boxes ticked by real clicks, and Cancel clicked while the calibration runs.
#include <windows.h>
#include <commctrl.h>

#include <cmath>
#include <string>

#include "support/harness.h"
#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "hosts/memory/memory_workbook.h"
#include "spacing/calibrate_command.h"
#include "spacing/calibration_store.h"
#include "windows/frm_calibration_progress.h"
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

TEST_F(WindowTest, SettingsShowTheStoredOptionsAndRealClicksTickThemForOk) {
  store_.SaveSetting(u"Corvane", u"Settings", u"Format All Parens", u"1");
  cls_corvane corvane;
  corvane.cvSettings();  // returns at once: the window is modeless
  const auto& slot = mdl_Support::Module().frmSettings;
  ASSERT_TRUE(PumpUntil([&] { return slot && ::IsWindowVisible(Window(*slot)) != FALSE; }));
  PumpFor(50);
  windows::frmSettings& settings = *slot;
  const HWND hwnd = Window(settings);
  ExpectMatchesModel(settings);
  const HWND formatAll = Window(settings.chkFormatAllParens);
  const HWND notepad = Window(settings.chkAlwaysSendToNotepad);
  EXPECT_EQ(::SendMessageW(formatAll, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(::SendMessageW(notepad, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  LOGFONTW font{};  // Verdana at 7.8 points at the screen's resolution
  ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(formatAll, WM_GETFONT, 0, 0)), sizeof(font), &font);
  EXPECT_EQ(std::wstring(font.lfFaceName), L"Verdana");
  EXPECT_EQ(font.lfHeight, -std::lround(7.8 * 1440.0 / settings.TwipsPerPixel() / 72.0));

  for (const HWND box : {notepad, formatAll}) {  // on the box itself: near its left end, halfway down
    RECT rect{};
    ::GetWindowRect(box, &rect);
    ClickAt(POINT{rect.left + 6, (rect.top + rect.bottom) / 2});
  }
  EXPECT_EQ(::SendMessageW(notepad, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(::SendMessageW(formatAll, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  ClickOn(Window(settings.imgButtonOkMain));
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_EQ(store_.GetSetting(u"Corvane", u"Settings", u"Format All Parens", u""), u"0");
  EXPECT_EQ(store_.GetSetting(u"Corvane", u"Settings", u"Always Send to Notepad", u""), u"1");
}

// While it lives, a message box that appears fails the test and is closed from its frame.
class NoMessageExpected {
 public:
  NoMessageExpected() : timer_(::SetTimer(nullptr, 0, 200, Close)) {}
  ~NoMessageExpected() { ::KillTimer(nullptr, timer_); }
  NoMessageExpected(const NoMessageExpected&) = delete;
  NoMessageExpected& operator=(const NoMessageExpected&) = delete;

 private:
  static void CALLBACK Close(HWND, UINT, UINT_PTR, DWORD) {
    const auto box = mdl_Support::Module().frmCustomMsgBox;
    if (!box || !box->Visible()) return;
    ADD_FAILURE() << "an unexpected message box appeared; closing it";
    box->CloseBox();
  }
  UINT_PTR timer_;
};

// Measures with GDI and lets the test act at a chosen moment of the calibration run.
class ObservedMeasurer final : public TextMeasurer {
 public:
  explicit ObservedMeasurer(TextMeasurer& inner) : inner_(inner) {}
  std::function<void()> onMeasure;
  double LineWidthPixels(std::u16string_view text, std::u16string_view face, double points, double dpi) override {
    if (onMeasure) onMeasure();
    return inner_.LineWidthPixels(text, face, points, dpi);
  }
  double LineHeightPixels(std::u16string_view face, double points, double dpi) override {
    return inner_.LineHeightPixels(face, points, dpi);
  }
  std::u16string ResolvedFace(std::u16string_view face) override { return inner_.ResolvedFace(face); }

 private:
  TextMeasurer& inner_;
};

TEST_F(WindowTest, CancelClickedWhileCodeOneHundredIsMeasuredStopsTheCalibration) {
  ObservedMeasurer measurer(platform_.measurer);
  const auto app = memory::MemoryApplication::Create(&measurer);
  app->SetActiveCell(app->AddWorkbook()->Sheet(1)->Range(1, 1, 1, 1));
  cls_corvane corvane;
  ObjectRef held = app;
  corvane.SetExcelApp(held);

  HWND window = nullptr;
  LRESULT lastPosition = 0;
  bool clicked = false;
  measurer.onMeasure = [&] {
    const auto progress = mdl_Support::Module().frmCalibrationProgress;
    if (!progress || clicked) return;
    window = Window(*progress);
    lastPosition = ::SendMessageW(Window(progress->pbCalibration), PBM_GETPOS, 0, 0);
    if (progress->pbCalibration.Value() >= 99.0F) {
      // The user clicks Cancel now, while code 100 is measured: the click waits in the queue
      // until the calibration lets pending events through.
      clicked = true;
      ExpectMatchesModel(*progress);
      const POINT cancel = CentreOf(Window(progress->imgButtonCancelMain));
      ::SetCursorPos(cancel.x, cancel.y);
      INPUT inputs[2]{};
      inputs[0].type = inputs[1].type = INPUT_MOUSE;
      inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
      inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
      ::SendInput(2, inputs, sizeof(INPUT));
      ::Sleep(100);  // the input has reached the queue before the measurement goes on
    }
  };
  {
    const NoMessageExpected noNotice;  // a cancelled run ends without the closing notice
    corvane.cvCalibrateSpacing();
  }
  measurer.onMeasure = nullptr;
  ASSERT_TRUE(clicked) << "the progress window never reached 99";
  EXPECT_TRUE(mdl_Support::Module().bCancelCalibration);
  EXPECT_FALSE(::IsWindow(window)) << "the window closed with Cancel";
  EXPECT_EQ(lastPosition, 99) << "the bar followed the codes up to the click";
  const std::u16string section = calibration::SpacingSection(app->StandardFont());
  EXPECT_TRUE(store_.Contains(u"Corvane", section, u"100")) << "the code being measured is kept";
  EXPECT_FALSE(store_.Contains(u"Corvane", section, u"101")) << "and the run stops there";

  Variant none;
  bool clear = true;
  (void)mdl_Support::ExcelApp(none, clear);
}

}  // namespace
}  // namespace corvane::wintest
