// The modeless windows as real windows: settings (check boxes from and to the store), About
// (the link through the shell, the hand pointer) and the calibration progress window (Cancel
// served while the calibration runs).
#include <windows.h>
#include <commctrl.h>

#include <cmath>
#include <string>

#include "support/harness.h"
#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "hosts/memory/memory_workbook.h"
#include "spacing/calibration_store.h"
#include "windows/frm_about.h"
#include "windows/frm_calibration_progress.h"
#include "windows/frm_settings.h"

namespace corvane::wintest {
namespace {

using windows::Control;

std::u16string Stored(MemoryStore& store, std::u16string_view key) {
  return store.GetSetting(u"Corvane", u"Settings", key, u"<missing>");
}

// Where a check box's box is: near its left end, halfway down.
POINT BoxOf(HWND checkBox) {
  RECT rect{};
  ::GetWindowRect(checkBox, &rect);
  return POINT{rect.left + 6, (rect.top + rect.bottom) / 2};
}

LRESULT CheckState(HWND checkBox) { return ::SendMessageW(checkBox, BM_GETCHECK, 0, 0); }

BOOL CALLBACK CountSettingsWindow(HWND hwnd, LPARAM count) {
  wchar_t title[64]{};
  ::GetWindowTextW(hwnd, title, 64);
  if (::IsWindowVisible(hwnd) && std::wstring(title) == L"Corvane Settings") ++*reinterpret_cast<int*>(count);
  return TRUE;
}

int SettingsWindowsOnScreen() {
  int count = 0;
  ::EnumThreadWindows(::GetCurrentThreadId(), CountSettingsWindow, reinterpret_cast<LPARAM>(&count));
  return count;
}

class SettingsWindowTest : public WindowTest {
 protected:
  windows::frmSettings& Open() {
    corvane_.cvSettings();  // returns at once: the window is modeless
    auto& settings = *mdl_Support::Module().frmSettings;
    EXPECT_TRUE(PumpUntil([&] { return ::IsWindowVisible(Window(settings)) != FALSE; }));
    PumpFor(50);
    return settings;
  }
  cls_corvane corvane_;
};

TEST_F(SettingsWindowTest, LoadsTheStoredOptionsAndOkWritesBothAsOneOrZero) {
  store_.SaveSetting(u"Corvane", u"Settings", u"Format All Parens", u"1");
  store_.ResetCounts();
  windows::frmSettings& settings = Open();
  const HWND hwnd = Window(settings);
  ExpectMatchesModel(settings);
  const HWND formatAll = Window(settings.chkFormatAllParens);
  const HWND notepad = Window(settings.chkAlwaysSendToNotepad);
  EXPECT_EQ(CheckState(formatAll), BST_CHECKED);
  EXPECT_EQ(CheckState(notepad), BST_UNCHECKED);

  // The check boxes' font: Verdana at 7.8 points at the screen's resolution.
  LOGFONTW font{};
  ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(formatAll, WM_GETFONT, 0, 0)), sizeof(font), &font);
  EXPECT_EQ(std::wstring(font.lfFaceName), L"Verdana");
  EXPECT_EQ(font.lfHeight, -std::lround(7.8 * 1440.0 / settings.TwipsPerPixel() / 72.0));
  Screenshot(hwnd, "settings");

  ClickAt(BoxOf(notepad));
  ClickAt(BoxOf(formatAll));
  EXPECT_EQ(CheckState(notepad), BST_CHECKED);
  EXPECT_EQ(CheckState(formatAll), BST_UNCHECKED);
  EXPECT_EQ(settings.chkAlwaysSendToNotepad.Value(), 1.0F);
  EXPECT_EQ(settings.chkFormatAllParens.Value(), 0.0F);
  EXPECT_EQ(store_.SaveCount(), 0U) << "nothing is stored before OK";
  Screenshot(hwnd, "settings_ticked");

  ClickOn(Window(settings.imgButtonOkMain));
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_EQ(mdl_Support::Module().frmSettings, nullptr);
  EXPECT_EQ(Stored(store_, u"Format All Parens"), u"0");
  EXPECT_EQ(Stored(store_, u"Always Send to Notepad"), u"1");
  EXPECT_EQ(store_.SaveCount(), 2U);
}

TEST_F(SettingsWindowTest, CancelWritesNothingAndOpeningAgainKeepsTheOneWindow) {
  windows::frmSettings& settings = Open();
  const HWND hwnd = Window(settings);
  ClickAt(BoxOf(Window(settings.chkFormatAllParens)));
  ASSERT_EQ(settings.chkFormatAllParens.Value(), 1.0F);

  corvane_.cvSettings();
  PumpFor(50);
  EXPECT_EQ(mdl_Support::Module().frmSettings.get(), &settings);
  EXPECT_EQ(Window(settings), hwnd);
  EXPECT_EQ(SettingsWindowsOnScreen(), 1);
  EXPECT_EQ(CheckState(Window(settings.chkFormatAllParens)), BST_CHECKED) << "the ticks as they stand";

  ClickOn(Window(settings.imgButtonCancelMain));
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_EQ(store_.SaveCount(), 0U);
  EXPECT_TRUE(store_.Keys(u"Corvane", u"Settings").empty());

  windows::frmSettings& again = Open();
  EXPECT_EQ(CheckState(Window(again.chkFormatAllParens)), BST_UNCHECKED) << "the unconfirmed tick is gone";
}

class AboutWindowTest : public WindowTest {
 protected:
  windows::frmAbout& Open() {
    corvane_.cvAbout();
    auto& about = *mdl_Support::Module().frmAbout;
    EXPECT_TRUE(PumpUntil([&] { return ::IsWindowVisible(Window(about)) != FALSE; }));
    PumpFor(50);
    return about;
  }
  cls_corvane corvane_;
};

TEST_F(AboutWindowTest, EachClickOnTheLinkAsksTheShellOnceToOpenTheAddress) {
  windows::frmAbout& about = Open();
  const HWND hwnd = Window(about);
  ExpectMatchesModel(about);
  Screenshot(hwnd, "about");

  ClickOn(Window(about.lblHyperlink));
  ASSERT_EQ(ShellCalls().size(), 1U);
  const ShellCall& call = ShellCalls()[0];
  EXPECT_EQ(call.owner, hwnd);
  EXPECT_EQ(call.operation, "open");
  EXPECT_EQ(call.file, "https://corvane.dev/");
  EXPECT_EQ(call.parameters, "1");
  EXPECT_EQ(call.directory, "1");
  EXPECT_EQ(call.showCommand, 3);
  EXPECT_TRUE(::IsWindowVisible(hwnd)) << "the window stays";

  ClickOn(Window(about.lblHyperlink));
  EXPECT_EQ(ShellCalls().size(), 2U);
  ClickOn(Window(about.lblCopyright));
  EXPECT_EQ(ShellCalls().size(), 2U) << "only the link opens anything";

  ClickOn(Window(about.imgButtonOkMain));
  EXPECT_FALSE(::IsWindow(hwnd));
}

TEST_F(AboutWindowTest, ThePointerOverTheLinkIsTheHandPointingWithItsFingertip) {
  windows::frmAbout& about = Open();
  PointAt(Window(about.lblHyperlink));
  const HCURSOR hand = ::GetCursor();
  ICONINFO info{};
  ASSERT_TRUE(::GetIconInfo(hand, &info));
  const win32::UniqueBitmap mask(info.hbmMask);
  const win32::UniqueBitmap color(info.hbmColor);
  EXPECT_FALSE(info.fIcon);
  EXPECT_EQ(info.xHotspot, 6U);
  EXPECT_EQ(info.yHotspot, 1U);
  BITMAP bitmap{};
  ::GetObjectW(color ? color.get() : mask.get(), sizeof(bitmap), &bitmap);
  EXPECT_EQ(bitmap.bmWidth, 32);

  PointAt(Window(about.lblCopyright));
  EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_ARROW)) << "the normal pointer elsewhere";
  PointAt(Window(about.lblHyperlink));
  EXPECT_EQ(::GetCursor(), hand);
}

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
  HWND bar = nullptr;
  LRESULT lastPosition = 0;
  bool clicked = false;
  bool looked = false;
  measurer.onMeasure = [&] {
    const auto progress = mdl_Support::Module().frmCalibrationProgress;
    if (!progress || clicked) return;
    window = Window(*progress);
    bar = Window(progress->pbCalibration);
    lastPosition = ::SendMessageW(bar, PBM_GETPOS, 0, 0);
    if (!looked && progress->pbCalibration.Value() >= 50.0F) {
      looked = true;
      ExpectMatchesModel(*progress);
      PBRANGE range{};
      ::SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
      EXPECT_EQ(range.iLow, 1);
      EXPECT_EQ(range.iHigh, 767);
      EXPECT_EQ(lastPosition, 50);
      Screenshot(window, "calibration_progress");
    }
    if (progress->pbCalibration.Value() >= 99.0F) {
      // The user clicks Cancel now, while code 100 is measured: the click waits in the queue
      // until the calibration lets pending events through.
      clicked = true;
      const POINT cancel = CentreOf(Window(progress->imgButtonCancelMain));
      ::SetCursorPos(cancel.x, cancel.y);
      INPUT inputs[2]{};
      inputs[0].type = INPUT_MOUSE;
      inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
      inputs[1].type = INPUT_MOUSE;
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
  EXPECT_EQ(mdl_Support::Module().frmCalibrationProgress, nullptr);
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
