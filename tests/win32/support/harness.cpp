#include "support/harness.h"

#include <cmath>
#include <cstdio>

#include "addin/mdl_support.h"
#include "platform/win32/artwork.h"
#include "platform/win32/handles.h"
#include "platform/win32/resource_ids.h"
#include "windows/frm_about.h"
#include "windows/frm_calibration_progress.h"
#include "windows/frm_settings.h"

namespace corvane::wintest {

namespace {

std::vector<ShellCall>& RecordedShellCalls() {
  static std::vector<ShellCall> calls;
  return calls;
}

HINSTANCE WINAPI RecordShellExecute(HWND owner, LPCSTR operation, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                                    INT showCommand) {
  const auto text = [](LPCSTR s) { return s ? std::string(s) : std::string("<null>"); };
  RecordedShellCalls().push_back(
      {owner, text(operation), text(file), text(parameters), text(directory), static_cast<int>(showCommand)});
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

void CALLBACK CloseUnexpectedMessage(HWND, UINT, UINT_PTR, DWORD) {
  const auto box = mdl_Support::Module().frmCustomMsgBox;
  if (!box || !box->Visible()) return;
  ADD_FAILURE() << "an unexpected message box appeared; closing it";
  box->CloseBox();
}

// Sends mouse button events (each of `down` pressed, then each of them released when `up`).
void SendButton(windows::MouseButton button, bool down, bool up) {
  const bool right = button == windows::MouseButton::Right, middle = button == windows::MouseButton::Middle;
  INPUT inputs[2]{};
  UINT count = 0;
  if (down) inputs[count++].mi.dwFlags = right ? MOUSEEVENTF_RIGHTDOWN : middle ? MOUSEEVENTF_MIDDLEDOWN : MOUSEEVENTF_LEFTDOWN;
  if (up) inputs[count++].mi.dwFlags = right ? MOUSEEVENTF_RIGHTUP : middle ? MOUSEEVENTF_MIDDLEUP : MOUSEEVENTF_LEFTUP;
  for (INPUT& input : inputs) input.type = INPUT_MOUSE;
  ::SendInput(count, inputs, sizeof(INPUT));
}

Image ReadBitmap(HDC dc, HBITMAP bitmap, int width, int height) {
  Image image{width, height, std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height)};
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  ::GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), image.pixels.data(), &info, DIB_RGB_COLORS);
  for (auto& pixel : image.pixels) pixel &= 0x00FFFFFF;
  return image;
}

// Copies a rectangle of a device context into an image.
Image CopyFrom(HDC source, int x, int y, int width, int height) {
  const win32::UniqueMemoryDc memory = win32::MakeMemoryDc(source);
  const win32::UniqueBitmap bitmap(::CreateCompatibleBitmap(source, width, height));
  {
    const win32::Selection selected(memory.get(), bitmap.get());
    ::BitBlt(memory.get(), 0, 0, width, height, source, x, y, SRCCOPY);
  }
  return ReadBitmap(memory.get(), bitmap.get(), width, height);
}

void WriteBmp(const Image& image, const std::wstring& path) {
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = image.width;
  header.biHeight = -image.height;
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  const DWORD bytes = static_cast<DWORD>(image.pixels.size() * 4);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(file) + sizeof(header);
  file.bfSize = file.bfOffBits + bytes;
  FILE* out = _wfopen(path.c_str(), L"wb");
  if (!out) {
    ADD_FAILURE() << "cannot write the screenshot";
    return;
  }
  std::fwrite(&file, sizeof(file), 1, out);
  std::fwrite(&header, sizeof(header), 1, out);
  std::fwrite(image.pixels.data(), 4, image.pixels.size(), out);
  std::fclose(out);
}

std::wstring ScreenshotFolder() {
  wchar_t buffer[MAX_PATH]{};
  if (::GetEnvironmentVariableW(L"CORVANE_SCREENSHOTS", buffer, MAX_PATH) > 0) return buffer;
  ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  std::wstring folder(buffer);
  folder.resize(folder.find_last_of(L"\\/"));
  return folder + L"\\screenshots";
}

}  // namespace

const std::vector<ShellCall>& ShellCalls() { return RecordedShellCalls(); }

WindowTest::WindowTest() : platform_(RecordShellExecute), services_(platform_.Services(&store_)) {
  RecordedShellCalls().clear();
}

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

void WindowTest::PointAt(POINT screen) {
  ::SetCursorPos(screen.x, screen.y);
  PumpUntil([&] {
    POINT now{};
    ::GetCursorPos(&now);
    return now.x == screen.x && now.y == screen.y;
  });
  PumpFor(30);
}

void WindowTest::Press(windows::MouseButton button) {
  SendButton(button, true, false);
  PumpFor(60);
}

void WindowTest::Release(windows::MouseButton button) {
  SendButton(button, false, true);
  PumpFor(60);
}

void WindowTest::ClickOn(HWND window, windows::MouseButton button) { ClickAt(CentreOf(window), button); }

void WindowTest::ClickAt(POINT screen, windows::MouseButton button) {
  PointAt(screen);
  // Press and release in one go, as a quick click comes: the frame's buttons track the mouse in
  // a loop of their own until the release.
  SendButton(button, true, true);
  PumpFor(80);
}

void WindowTest::Tap(WORD virtualKey, bool alt) {
  std::vector<INPUT> inputs;
  const auto key = [&](WORD vk, bool down) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    inputs.push_back(input);
  };
  if (alt) key(VK_MENU, true);
  key(virtualKey, true);
  key(virtualKey, false);
  if (alt) key(VK_MENU, false);
  ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  PumpFor(100);
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

WindowTest::NoMessageExpected::NoMessageExpected() {
  timer_ = ::SetTimer(nullptr, 0, 200, CloseUnexpectedMessage);
}

WindowTest::NoMessageExpected::~NoMessageExpected() { ::KillTimer(nullptr, timer_); }

RECT WindowTest::PlaceOf(HWND child) {
  RECT rect{};
  ::GetWindowRect(child, &rect);
  ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

SIZE WindowTest::SizeOf(HWND window) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

void WindowTest::ExpectMatchesModel(const windows::Form& form) {
  const double tpp = form.TwipsPerPixel();
  const auto px = [&](float twips) { return static_cast<LONG>(std::lround(twips / tpp)); };
  const HWND hwnd = Window(form);
  ASSERT_NE(hwnd, nullptr);
  const SIZE size = SizeOf(hwnd);
  EXPECT_EQ(size.cx, px(form.Width())) << "outer width of the window";
  EXPECT_EQ(size.cy, px(form.Height())) << "outer height of the window";
  RECT client{};
  ::GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, px(form.ScaleWidth())) << "client width of the window";
  EXPECT_EQ(client.bottom, px(form.ScaleHeight())) << "client height of the window";
  if (form.Border() == windows::BorderStyle::FixedDialog) {
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(hwnd, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(::GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), static_cast<DWORD>(WS_CAPTION | WS_SYSMENU)) << "title and close box";
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0U) << "fixed size";
    EXPECT_TRUE(exStyle & WS_EX_DLGMODALFRAME) << "a dialog frame";
  }
  if (form.Icon()) {
    EXPECT_NE(::SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0), 0) << "the shared icon";
  }
  if (form.BackColor() == windows::kWhite) {
    const Image shown = Capture(hwnd);
    EXPECT_EQ(shown.At(1, shown.height - 2), 0xFFFFFFU) << "a white background";
  }
  for (const windows::Control* control : form.Controls()) {
    const std::string name(control->Name().begin(), control->Name().end());
    const HWND child = Window(*control);
    ASSERT_NE(child, nullptr) << name;
    EXPECT_EQ(::IsWindowVisible(child) != FALSE, control->Visible()) << name;
    if (!control->Visible()) continue;
    const RECT place = PlaceOf(child);
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

Image WindowTest::Capture(HWND window) {
  ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  PumpFor(kDisplayLatencyMs);
  RECT client{};
  ::GetClientRect(window, &client);
  POINT origin{0, 0};
  ::ClientToScreen(window, &origin);
  const win32::WindowDc screen;
  return CopyFrom(screen.get(), origin.x, origin.y, client.right, client.bottom);
}

Image WindowTest::PictureOf(std::string_view identity) {
  const win32::UniqueBitmap bitmap(static_cast<HBITMAP>(::LoadImageW(
      win32::ThisModule(), MAKEINTRESOURCEW(win32::ResourceIdOf(identity)), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  if (!bitmap) return {};
  BITMAP info{};
  ::GetObjectW(bitmap.get(), sizeof(info), &info);
  const win32::WindowDc screen;
  return ReadBitmap(screen.get(), bitmap.get(), info.bmWidth, info.bmHeight);
}

void WindowTest::Screenshot(HWND window, const std::string& name) {
  ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
  PumpFor(kDisplayLatencyMs);
  RECT rect{};
  ::GetWindowRect(window, &rect);
  const win32::WindowDc screen;
  const Image image = CopyFrom(screen.get(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  const std::wstring folder = ScreenshotFolder();
  ::CreateDirectoryW(folder.c_str(), nullptr);
  WriteBmp(image, folder + L"\\" + std::wstring(name.begin(), name.end()) + L".bmp");
}

}  // namespace corvane::wintest
