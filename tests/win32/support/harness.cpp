#include "support/harness.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "addin/mdl_support.h"
#include "platform/win32/handles.h"
#include "windows/frm_about.h"
#include "windows/frm_calibration_progress.h"
#include "windows/frm_settings.h"

namespace corvane::wintest {

namespace {

HINSTANCE WINAPI StartNothing(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT) {
  return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));  // "started"
}

// Wine draws into the window's own memory and passes it on to the display a little later; the
// screen is read back only after that.
constexpr DWORD kDisplayLatencyMs = 120;

// The modal script waiting for its timer.
std::function<void()>* gPendingScript = nullptr;

void CALLBACK RunPendingScript(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  if (auto* script = std::exchange(gPendingScript, nullptr)) (*script)();
}

}  // namespace

WindowTest::WindowTest() : platform_(StartNothing), services_(platform_.Services(&store_)) {}

WindowTest::~WindowTest() {
  // One test's windows never reach the next.
  auto& module = mdl_Support::Module();
  const auto unload = [](auto& slot) {
    if (const auto form = slot) form->Unload();
    slot.reset();
  };
  unload(module.frmCustomMsgBox);
  unload(module.frmCalibrationProgress);
  unload(module.frmSettings);
  unload(module.frmAbout);
  unload(module.frmGraphics);
  if (::GetCapture()) ::ReleaseCapture();
  PumpFor(20);
}

bool WindowTest::PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG end = ::GetTickCount64() + timeoutMs;
  for (;;) {
    platform_.ui.DoEvents();
    if (done()) return true;
    if (::GetTickCount64() >= end) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

void WindowTest::PumpFor(DWORD ms) {
  const ULONGLONG end = ::GetTickCount64() + ms;
  PumpUntil([&] { return ::GetTickCount64() >= end; }, ms + 1000);
}

void WindowTest::ClickAt(POINT screen) {
  // The pointer there first (a real move: the windows under it see it).
  ::SetCursorPos(screen.x, screen.y);
  PumpUntil([&] {
    POINT now{};
    ::GetCursorPos(&now);
    return now.x == screen.x && now.y == screen.y;
  });
  PumpFor(30);
  // Press and release in one go, as a quick click comes: the frame's buttons track the mouse in
  // a loop of their own until the release.
  INPUT inputs[2]{};
  inputs[0].type = inputs[1].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  ::SendInput(2, inputs, sizeof(INPUT));
  PumpFor(80);
}

POINT WindowTest::CentreOf(HWND window) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

std::int32_t WindowTest::MsgBoxWith(const std::u16string& prompt, std::int32_t style,
                                    const std::function<void(windows::frmCustomMsgBox&, HWND)>& script) {
  bool ran = false;
  std::function<void()> run = [&] {
    ran = true;
    const auto box = mdl_Support::Module().frmCustomMsgBox;
    if (!box) {
      ADD_FAILURE() << "no message box while CustomMsgBox waits";
      return;
    }
    const HWND hwnd = Window(*box);
    EXPECT_TRUE(PumpUntil([&] { return ::IsWindowVisible(hwnd) != FALSE; })) << "the message box is not on screen";
    PumpFor(50);  // drawn
    script(*box, hwnd);
    if (box->Loaded()) {
      ADD_FAILURE() << "the script left the message box open; closing it";
      ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
    }
  };
  gPendingScript = &run;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 10, RunPendingScript);
  const std::int32_t answer = mdl_Support::CustomMsgBox(prompt, style, u"Corvane");
  if (gPendingScript) {
    gPendingScript = nullptr;
    ::KillTimer(nullptr, timer);
  }
  EXPECT_TRUE(ran) << "the message box never waited for the user";
  return answer;
}

void WindowTest::ExpectMatchesModel(const windows::Form& form) {
  const double tpp = form.TwipsPerPixel();
  const auto px = [&](float twips) { return static_cast<LONG>(std::lround(twips / tpp)); };
  const HWND hwnd = Window(form);
  ASSERT_NE(hwnd, nullptr);
  RECT outer{}, client{};
  ::GetWindowRect(hwnd, &outer);
  EXPECT_EQ(outer.right - outer.left, px(form.Width())) << "outer width of the window";
  EXPECT_EQ(outer.bottom - outer.top, px(form.Height())) << "outer height of the window";
  ::GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, px(form.ScaleWidth())) << "client width of the window";
  EXPECT_EQ(client.bottom, px(form.ScaleHeight())) << "client height of the window";
  for (const windows::Control* control : form.Controls()) {
    const std::string name(control->Name().begin(), control->Name().end());
    const HWND child = Window(*control);
    ASSERT_NE(child, nullptr) << name;
    EXPECT_EQ(::IsWindowVisible(child) != FALSE, control->Visible()) << name;
    if (!control->Visible()) continue;
    RECT place{};  // in the window's client coordinates
    ::GetWindowRect(child, &place);
    ::MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&place), 2);
    EXPECT_EQ(place.left, px(control->Left())) << name;
    EXPECT_EQ(place.top, px(control->Top())) << name;
    EXPECT_EQ(place.right - place.left, px(control->Width())) << name;
    EXPECT_EQ(place.bottom - place.top, px(control->Height())) << name;
    if (const windows::Picture* picture = control->GetPicture()) {
      EXPECT_EQ(place.right - place.left, picture->widthPx) << name << ": not stretched";
      EXPECT_EQ(place.bottom - place.top, picture->heightPx) << name << ": not stretched";
    }
  }
}

bool WindowTest::ShowsDarkPixels(HWND window) {
  ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  PumpFor(kDisplayLatencyMs);
  RECT client{};
  ::GetClientRect(window, &client);
  POINT origin{0, 0};
  ::ClientToScreen(window, &origin);
  const int width = client.right, height = client.bottom;
  const win32::WindowDc screen;
  const win32::UniqueMemoryDc memory = win32::MakeMemoryDc(screen.get());
  const win32::UniqueBitmap bitmap(::CreateCompatibleBitmap(screen.get(), width, height));
  {
    const win32::Selection selected(memory.get(), bitmap.get());
    ::BitBlt(memory.get(), 0, 0, width, height, screen.get(), origin.x, origin.y, SRCCOPY);
  }
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);  // 0x00RRGGBB
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(info.bmiHeader), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  ::GetDIBits(memory.get(), bitmap.get(), 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
  return std::any_of(pixels.begin(), pixels.end(), [](std::uint32_t pixel) { return (pixel & 0xFF) < 0x80; });
}

}  // namespace corvane::wintest
