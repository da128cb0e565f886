// Win32Ui: the window models on screen as Win32 windows.
//
// Each shown form is one top-level window (class "CorvaneForm") with one child window per
// control: pictures and labels are windows of this layer's own class ("CorvaneControl") that draw
// the model's picture or text; check boxes are standard check boxes whose state the model keeps;
// the progress bar is the common controls' one. The windows are made when the form is first
// shown and destroyed when it is unloaded. Modeless windows are owned by a hidden window of the
// layer, which keeps them out of the task bar.
//
// A form may be unloaded by its own event (a button that closes its window): the record of its
// windows then outlives the event, so that the window procedures still on the stack find it, and
// is freed when the outermost event ends.
#include <windows.h>
#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/automation.h"
#include "platform/win32/artwork.h"
#include "platform/win32/gdi_text.h"
#include "platform/win32/handles.h"
#include "platform/win32/text.h"
#include "platform/win32/win32_platform.h"

namespace corvane::win32 {

namespace {

using windows::BorderStyle;
using windows::Color;
using windows::Control;
using windows::ControlKind;
using windows::Form;
using windows::MouseButton;
using windows::ShowMode;

constexpr wchar_t kFormClass[] = L"CorvaneForm";
constexpr wchar_t kControlClass[] = L"CorvaneControl";
constexpr wchar_t kOwnerClass[] = L"CorvaneOwner";
// Control identifiers start clear of IDOK and IDCANCEL, which Enter and Esc send to a window.
constexpr int kFirstControlId = 100;
// DoEvents returns after this many messages even if more keep coming.
constexpr int kMaxMessagesPerDoEvents = 10000;

LRESULT CALLBACK FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The window classes, registered once per process with this module's handle and unregistered
// when the module goes.
class WindowClasses {
 public:
  WindowClasses() {
    const HINSTANCE module = ThisModule();
    INITCOMMONCONTROLSEX common{sizeof(common), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&common);

    WNDCLASSEXW form{};
    form.cbSize = sizeof(form);
    form.lpfnWndProc = FormProc;
    form.hInstance = module;
    form.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    form.lpszClassName = kFormClass;
    if (::RegisterClassExW(&form)) form_ = RegisteredClass(kFormClass, module);

    WNDCLASSEXW control{};
    control.cbSize = sizeof(control);
    control.lpfnWndProc = ControlProc;
    control.hInstance = module;
    control.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    control.lpszClassName = kControlClass;
    if (::RegisterClassExW(&control)) control_ = RegisteredClass(kControlClass, module);

    WNDCLASSEXW owner{};
    owner.cbSize = sizeof(owner);
    owner.lpfnWndProc = ::DefWindowProcW;
    owner.hInstance = module;
    owner.lpszClassName = kOwnerClass;
    if (::RegisterClassExW(&owner)) owner_ = RegisteredClass(kOwnerClass, module);
  }

 private:
  RegisteredClass form_;
  RegisteredClass control_;
  RegisteredClass owner_;
};

void EnsureWindowClasses() { static const WindowClasses classes; }

struct FrameStyle {
  DWORD style;
  DWORD exStyle;
};

FrameStyle StyleOf(BorderStyle border, bool controlBox) {
  const DWORD common = WS_POPUP | WS_CLIPCHILDREN | (controlBox ? WS_SYSMENU : 0);
  switch (border) {
    case BorderStyle::None:
      return {WS_POPUP | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT};
    case BorderStyle::FixedSingle:
      return {common | WS_CAPTION, WS_EX_CONTROLPARENT};
    case BorderStyle::Sizable:
      return {common | WS_CAPTION | WS_THICKFRAME, WS_EX_CONTROLPARENT | WS_EX_WINDOWEDGE};
    case BorderStyle::FixedDialog:
      break;
  }
  return {common | WS_CAPTION, WS_EX_CONTROLPARENT | WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE};
}

int Px(float twips, double twipsPerPixel) { return static_cast<int>(std::lround(twips / twipsPerPixel)); }

COLORREF Resolve(Color color) {
  switch (color.system) {
    case Color::System::None:
      break;
    case Color::System::WindowBackground:
      return ::GetSysColor(COLOR_WINDOW);
    case Color::System::WindowText:
      return ::GetSysColor(COLOR_WINDOWTEXT);
    case Color::System::ButtonFace:
      return ::GetSysColor(COLOR_BTNFACE);
    case Color::System::ButtonText:
      return ::GetSysColor(COLOR_BTNTEXT);
  }
  return static_cast<COLORREF>(color.rgb);
}

UINT ButtonBit(MouseButton button) { return static_cast<UINT>(button); }

// The shift state as the models take it: 1 Shift, 2 Ctrl, 4 Alt.
std::int32_t ShiftState(WPARAM keys) {
  std::int32_t shift = 0;
  if (keys & MK_SHIFT) shift |= 1;
  if (keys & MK_CONTROL) shift |= 2;
  if (::GetKeyState(VK_MENU) < 0) shift |= 4;
  return shift;
}

void ReportEventFailure(const char* what) noexcept {
  ::OutputDebugStringA("Corvane: a window event failed: ");
  ::OutputDebugStringA(what);
  ::OutputDebugStringA("\n");
}

}  // namespace

// ---- Records of the windows on screen ----

struct FormWindow;

struct ControlWindow {
  FormWindow* owner = nullptr;
  Control* control = nullptr;
  HWND hwnd = nullptr;  // a child of the form's window, destroyed with it
  UINT buttonsDown = 0;  // mouse buttons pressed on this control and not yet released
  // What the window shows already, to leave it alone when nothing changed.
  std::u16string caption;
  int rangeMin = 0;
  int rangeMax = -1;
};

struct FormWindow {
  Win32Ui::Impl* ui = nullptr;
  Form* form = nullptr;
  UniqueWindow hwnd;
  std::vector<std::unique_ptr<ControlWindow>> controls;
  bool modal = false;
  bool unloaded = false;       // Unload has run: nothing may call the model any more
  std::vector<HWND> disabled;  // the windows a modal window disabled, enabled again at its end

  double TwipsPerPixel() const { return form->TwipsPerPixel(); }
  double Dpi() const { return 1440.0 / form->TwipsPerPixel(); }
  ControlWindow* Find(const Control* control) const {
    for (const auto& cw : controls)
      if (cw->control == control) return cw.get();
    return nullptr;
  }
  ControlWindow* Find(HWND child) const {
    for (const auto& cw : controls)
      if (cw->hwnd == child) return cw.get();
    return nullptr;
  }
};

struct Win32Ui::Impl {
  UniqueWindow owner;  // hidden; owns the windows so they stay out of the task bar
  Artwork art;
  FontCache fonts;
  std::map<COLORREF, UniqueBrush> brushes;
  std::vector<std::unique_ptr<FormWindow>> open;
  std::vector<std::unique_ptr<FormWindow>> retired;  // unloaded during an event that is still running
  std::vector<FormWindow*> events;                   // the forms whose events are running, innermost last

  FormWindow* Find(const Form& form) const {
    for (const auto& fw : open)
      if (fw->form == &form) return fw.get();
    return nullptr;
  }

  HBRUSH Brush(COLORREF color) {
    auto& brush = brushes[color];
    if (!brush) brush.reset(::CreateSolidBrush(color));
    return brush.get();
  }

  HWND Owner() {
    if (!owner) {
      owner.reset(::CreateWindowExW(0, kOwnerClass, L"Corvane", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                    ThisModule(), nullptr));
    }
    return owner.get();
  }

  std::unique_ptr<FormWindow> Create(Form& form);
  void CreateControl(FormWindow& fw, Control& control, int id);
  void ApplyForm(FormWindow& fw);
  void ApplyControl(FormWindow& fw, ControlWindow& cw);
  void Dispatch(MSG& msg);
  void RunModal(Form& form);
};

namespace {

// Delivers one event to a form's model: keeps the form and the record of its windows alive for
// the whole event, marks the window as the one whose event runs, and stops exceptions here.
template <typename Event>
void Deliver(FormWindow& fw, Event&& event) noexcept {
  if (fw.unloaded) return;
  Win32Ui::Impl& ui = *fw.ui;
  const auto keep = fw.form->weak_from_this().lock();
  ui.events.push_back(&fw);
  try {
    event(*fw.form);
  } catch (const AutomationError& e) {
    ReportEventFailure(e.what());
  } catch (const std::exception& e) {
    ReportEventFailure(e.what());
  } catch (...) {
    ReportEventFailure("unknown failure");
  }
  ui.events.pop_back();
  if (ui.events.empty()) ui.retired.clear();
}

BOOL CALLBACK CollectEnabledWindow(HWND hwnd, LPARAM found) {
  if (::IsWindowVisible(hwnd) && ::IsWindowEnabled(hwnd)) reinterpret_cast<std::vector<HWND>*>(found)->push_back(hwnd);
  return TRUE;
}

// Disables the thread's visible, enabled top-level windows and says which they were.
std::vector<HWND> DisableThreadWindows() {
  std::vector<HWND> found;
  ::EnumThreadWindows(::GetCurrentThreadId(), CollectEnabledWindow, reinterpret_cast<LPARAM>(&found));
  for (HWND hwnd : found) ::EnableWindow(hwnd, FALSE);
  return found;
}

// Top-left corner that centres a window of that size on the work area of the active monitor.
POINT CentredOrigin(int width, int height) {
  HMONITOR monitor = ::MonitorFromWindow(::GetForegroundWindow(), MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  RECT area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  if (::GetMonitorInfoW(monitor, &info)) area = info.rcWork;
  return POINT{area.left + (area.right - area.left - width) / 2, area.top + (area.bottom - area.top - height) / 2};
}

void PaintPicture(FormWindow& fw, const Control& control, HDC dc, const RECT& client) {
  ::FillRect(dc, &client, fw.ui->Brush(Resolve(fw.form->BackColor())));
  const windows::Picture* picture = control.GetPicture();
  if (!picture) return;
  HBITMAP bitmap = fw.ui->art.Bitmap(picture->id);
  BITMAP info{};
  ::GetObjectW(bitmap, sizeof(info), &info);
  const UniqueMemoryDc source = MakeMemoryDc(dc);
  const Selection selected(source.get(), bitmap);
  // Not stretched: the picture at its own size, from the top-left corner.
  ::BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, source.get(), 0, 0, SRCCOPY);
}

void PaintLabel(FormWindow& fw, const Control& control, HDC dc, const RECT& client) {
  ::FillRect(dc, &client, fw.ui->Brush(Resolve(control.BackColor())));
  HFONT font = fw.ui->fonts.Get(control.GetFont(), fw.Dpi());
  const auto measure = [&](std::u16string_view text) { return static_cast<float>(TextWidth(dc, font, text)); };

  // An auto-sized label shows the lines its fit made; one of fixed size wraps within its width.
  std::vector<std::u16string> lines;
  if (control.AutoSize()) {
    lines = control.Lines();
  } else {
    for (const auto& paragraph : windows::SplitLines(control.Caption()))
      for (auto& line : windows::WrapLine(paragraph, static_cast<float>(client.right), measure))
        lines.push_back(std::move(line));
  }

  const double lineHeight = LineHeight(dc, font);
  const Selection selected(dc, font);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, Resolve(control.ForeColor()));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::u16string& line = lines[i];
    const int width = static_cast<int>(measure(line));
    int x = 0;
    if (control.GetAlignment() == windows::Alignment::Center) x = (client.right - width) / 2;
    if (control.GetAlignment() == windows::Alignment::Right) x = client.right - width;
    const int y = static_cast<int>(std::lround(static_cast<double>(i) * lineHeight));
    ::ExtTextOutW(dc, x, y, ETO_CLIPPED, &client, reinterpret_cast<const wchar_t*>(line.c_str()),
                  static_cast<UINT>(line.size()), nullptr);
  }
}

FormWindow* FormOf(HWND hwnd) { return reinterpret_cast<FormWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }
ControlWindow* ControlOf(HWND hwnd) {
  return reinterpret_cast<ControlWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

LRESULT CALLBACK FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  FormWindow* fw = FormOf(hwnd);
  if (!fw) return ::DefWindowProcW(hwnd, message, wParam, lParam);

  switch (message) {
    case WM_ERASEBKGND: {
      RECT client{};
      ::GetClientRect(hwnd, &client);
      ::FillRect(reinterpret_cast<HDC>(wParam), &client, fw->ui->Brush(Resolve(fw->form->BackColor())));
      return 1;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      const ControlWindow* cw = fw->Find(reinterpret_cast<HWND>(lParam));
      if (!cw || fw->unloaded) break;
      const HDC dc = reinterpret_cast<HDC>(wParam);
      const COLORREF back = Resolve(cw->control->BackColor());
      ::SetTextColor(dc, Resolve(cw->control->ForeColor()));
      ::SetBkColor(dc, back);
      return reinterpret_cast<LRESULT>(fw->ui->Brush(back));
    }
    case WM_COMMAND: {
      // Only a check box's own click; IDOK and IDCANCEL (Enter and Esc) mean nothing here.
      ControlWindow* cw = lParam ? fw->Find(reinterpret_cast<HWND>(lParam)) : nullptr;
      if (cw && HIWORD(wParam) == BN_CLICKED && cw->control->Kind() == ControlKind::CheckBox) {
        Control* control = cw->control;
        Deliver(*fw, [control](Form& form) { form.Click(*control); });
      }
      return 0;
    }
    case WM_CLOSE:
      Deliver(*fw, [](Form& form) { form.CloseBox(); });
      return 0;
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  ControlWindow* cw = ControlOf(hwnd);
  if (!cw || cw->owner->unloaded) {
    if (message == WM_PAINT) {
      const PaintDc paint(hwnd);
      return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
  }
  FormWindow& fw = *cw->owner;
  Control* control = cw->control;

  MouseButton button = MouseButton::Left;
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT fills the whole control
    case WM_PAINT: {
      const PaintDc paint(hwnd);
      RECT client{};
      ::GetClientRect(hwnd, &client);
      try {
        if (control->Kind() == ControlKind::Label) {
          PaintLabel(fw, *control, paint.get(), client);
        } else {
          PaintPicture(fw, *control, paint.get(), client);
        }
      } catch (const std::exception& e) {
        ReportEventFailure(e.what());
      }
      return 0;
    }
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT && control->MouseIcon()) {
        try {
          ::SetCursor(fw.ui->art.Cursor(control->MouseIcon()->id));
          return TRUE;
        } catch (const std::exception& e) {
          ReportEventFailure(e.what());
        }
      }
      break;
    case WM_RBUTTONDOWN:
      button = MouseButton::Right;
      [[fallthrough]];
    case WM_MBUTTONDOWN:
      if (message == WM_MBUTTONDOWN) button = MouseButton::Middle;
      [[fallthrough]];
    case WM_LBUTTONDOWN: {
      // Capture, so that the release comes here wherever the pointer is by then.
      if (cw->buttonsDown == 0) ::SetCapture(hwnd);
      cw->buttonsDown |= ButtonBit(button);
      const double tpp = fw.TwipsPerPixel();
      const auto x = static_cast<float>(GET_X_LPARAM(lParam) * tpp);
      const auto y = static_cast<float>(GET_Y_LPARAM(lParam) * tpp);
      const std::int32_t shift = ShiftState(wParam);
      Deliver(fw, [&](Form& form) { form.MouseDown(*control, button, shift, x, y); });
      return 0;
    }
    case WM_RBUTTONUP:
      button = MouseButton::Right;
      [[fallthrough]];
    case WM_MBUTTONUP:
      if (message == WM_MBUTTONUP) button = MouseButton::Middle;
      [[fallthrough]];
    case WM_LBUTTONUP: {
      if (!(cw->buttonsDown & ButtonBit(button))) return 0;  // pressed elsewhere
      cw->buttonsDown &= ~ButtonBit(button);
      const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      RECT client{};
      ::GetClientRect(hwnd, &client);
      const bool over = ::PtInRect(&client, at) != FALSE;
      if (cw->buttonsDown == 0) ::ReleaseCapture();
      const double tpp = fw.TwipsPerPixel();
      const auto x = static_cast<float>(at.x * tpp);
      const auto y = static_cast<float>(at.y * tpp);
      const std::int32_t shift = ShiftState(wParam);
      Deliver(fw, [&](Form& form) {
        form.MouseUp(*control, button, shift, x, y);
        if (over && button == MouseButton::Left) form.Click(*control);
      });
      return 0;
    }
    case WM_CAPTURECHANGED:
      // Capture taken away while a button was down (another window, Alt+Tab): the press ends
      // without a click, so the picture does not stay pressed.
      if (cw->buttonsDown != 0 && reinterpret_cast<HWND>(lParam) != hwnd) {
        cw->buttonsDown = 0;
        Deliver(fw, [control](Form& form) { form.MouseUp(*control, MouseButton::Left, 0, 0.0F, 0.0F); });
      }
      return 0;
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

// ---- Building and updating the windows ----

std::unique_ptr<FormWindow> Win32Ui::Impl::Create(Form& form) {
  EnsureWindowClasses();
  auto fw = std::make_unique<FormWindow>();
  fw->ui = this;
  fw->form = &form;
  const double tpp = fw->TwipsPerPixel();
  const FrameStyle frame = StyleOf(form.Border(), form.ControlBox());
  const int width = Px(form.Width(), tpp);
  const int height = Px(form.Height(), tpp);
  const POINT at = CentredOrigin(width, height);
  HWND hwnd = ::CreateWindowExW(frame.exStyle, kFormClass, Wide(form.Caption()).c_str(), frame.style, at.x, at.y,
                                width, height, Owner(), nullptr, ThisModule(), fw.get());
  if (!hwnd) throw AutomationError(err::kApplicationDefined, u"The window \"" + form.Name() + u"\" cannot be made.");
  fw->hwnd.reset(hwnd);

  if (const windows::Picture* icon = form.Icon()) {
    ::SendMessageW(hwnd, WM_SETICON, ICON_BIG,
                   reinterpret_cast<LPARAM>(art.Icon(icon->id, ::GetSystemMetrics(SM_CXICON))));
    ::SendMessageW(hwnd, WM_SETICON, ICON_SMALL,
                   reinterpret_cast<LPARAM>(art.Icon(icon->id, ::GetSystemMetrics(SM_CXSMICON))));
  }

  for (Control* control : form.Controls()) CreateControl(*fw, *control, ControlIdOf(form, *control));
  for (const auto& cw : fw->controls) ApplyControl(*fw, *cw);
  return fw;
}

void Win32Ui::Impl::CreateControl(FormWindow& fw, Control& control, int id) {
  auto cw = std::make_unique<ControlWindow>();
  cw->owner = &fw;
  cw->control = &control;
  const wchar_t* windowClass = kControlClass;
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  void* param = cw.get();
  switch (control.Kind()) {
    case ControlKind::Image:
    case ControlKind::Label:
      break;
    case ControlKind::CheckBox:
      // Three states and not automatic: the model keeps the state, the control shows it.
      windowClass = L"BUTTON";
      style |= BS_3STATE | WS_TABSTOP;
      param = nullptr;
      break;
    case ControlKind::ProgressBar:
      windowClass = PROGRESS_CLASSW;
      param = nullptr;
      break;
  }
  cw->hwnd = ::CreateWindowExW(0, windowClass, L"", style, 0, 0, 0, 0, fw.hwnd.get(),
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ThisModule(), param);
  if (!cw->hwnd)
    throw AutomationError(err::kApplicationDefined, u"The control \"" + control.Name() + u"\" cannot be made.");
  fw.controls.push_back(std::move(cw));
}

void Win32Ui::Impl::ApplyForm(FormWindow& fw) {
  HWND hwnd = fw.hwnd.get();
  const Form& form = *fw.form;
  wchar_t current[256]{};
  ::GetWindowTextW(hwnd, current, 256);
  if (FromWide(current) != form.Caption()) ::SetWindowTextW(hwnd, Wide(form.Caption()).c_str());
  const double tpp = fw.TwipsPerPixel();
  RECT now{};
  ::GetWindowRect(hwnd, &now);
  const int width = Px(form.Width(), tpp);
  const int height = Px(form.Height(), tpp);
  if (now.right - now.left != width || now.bottom - now.top != height)
    ::SetWindowPos(hwnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::InvalidateRect(hwnd, nullptr, TRUE);
}

void Win32Ui::Impl::ApplyControl(FormWindow& fw, ControlWindow& cw) {
  const Control& control = *cw.control;
  HWND hwnd = cw.hwnd;
  const double tpp = fw.TwipsPerPixel();
  const int left = Px(control.Left(), tpp);
  const int top = Px(control.Top(), tpp);
  const int width = Px(control.Width(), tpp);
  const int height = Px(control.Height(), tpp);
  RECT now{};
  ::GetWindowRect(hwnd, &now);
  ::MapWindowPoints(nullptr, fw.hwnd.get(), reinterpret_cast<POINT*>(&now), 2);
  if (now.left != left || now.top != top || now.right - now.left != width || now.bottom - now.top != height)
    ::SetWindowPos(hwnd, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);

  switch (control.Kind()) {
    case ControlKind::CheckBox: {
      if (cw.caption != control.Caption()) {
        cw.caption = control.Caption();
        ::SetWindowTextW(hwnd, Wide(cw.caption).c_str());
      }
      ::SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(fonts.Get(control.GetFont(), fw.Dpi())), FALSE);
      const auto state = static_cast<std::int32_t>(control.Value());
      const WPARAM check = state == windows::kChecked  ? BST_CHECKED
                           : state == windows::kGrayed ? BST_INDETERMINATE
                                                       : BST_UNCHECKED;
      if (static_cast<WPARAM>(::SendMessageW(hwnd, BM_GETCHECK, 0, 0)) != check)
        ::SendMessageW(hwnd, BM_SETCHECK, check, 0);
      ::InvalidateRect(hwnd, nullptr, TRUE);
      break;
    }
    case ControlKind::ProgressBar: {
      const int min = static_cast<int>(std::lround(control.Min()));
      const int max = static_cast<int>(std::lround(control.Max()));
      if (min != cw.rangeMin || max != cw.rangeMax) {
        ::SendMessageW(hwnd, PBM_SETRANGE32, static_cast<WPARAM>(min), static_cast<LPARAM>(max));
        cw.rangeMin = min;
        cw.rangeMax = max;
      }
      ::SendMessageW(hwnd, PBM_SETPOS, static_cast<WPARAM>(std::lround(control.Value())), 0);
      break;
    }
    case ControlKind::Image:
    case ControlKind::Label:
      ::InvalidateRect(hwnd, nullptr, FALSE);
      break;
  }
  const bool visible = ::IsWindowVisible(hwnd) != FALSE;
  if (visible != control.Visible()) ::ShowWindow(hwnd, control.Visible() ? SW_SHOWNA : SW_HIDE);
}

void Win32Ui::Impl::Dispatch(MSG& msg) {
  // Keyboard navigation between the check boxes of a window; picture buttons take no keys.
  if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST && msg.hwnd) {
    HWND root = ::GetAncestor(msg.hwnd, GA_ROOT);
    for (const auto& fw : open)
      if (fw->hwnd.get() == root && ::IsDialogMessageW(root, &msg)) return;
  }
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
}

void Win32Ui::Impl::RunModal(Form& form) {
  while (form.Loaded()) {
    MSG msg{};
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      // The thread is asked to end (or its queue is gone): the window cannot stay open.
      if (FormWindow* fw = Find(form)) Deliver(*fw, [](Form& f) { f.CloseBox(); });
      if (got == 0) ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    Dispatch(msg);
  }
}

// ---- Win32Ui ----

int ControlIdOf(const Form& form, const Control& control) {
  const auto& controls = form.Controls();
  const auto found = std::find(controls.begin(), controls.end(), &control);
  return found == controls.end() ? 0 : kFirstControlId + static_cast<int>(found - controls.begin());
}

Win32Ui::Win32Ui() : impl_(std::make_unique<Impl>()) {}

Win32Ui::~Win32Ui() {
  // Windows still open go without a word to their models, which are going too.
  for (auto& fw : impl_->open) fw->unloaded = true;
  impl_->open.clear();
}

double Win32Ui::Dpi() {
  const WindowDc screen;
  const int dpi = screen ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
  return dpi > 0 ? static_cast<double>(dpi) : 96.0;
}

windows::TwipsSize Win32Ui::FrameExtraTwips(BorderStyle border) {
  const FrameStyle frame = StyleOf(border, true);
  RECT rect{0, 0, 100, 100};
  ::AdjustWindowRectEx(&rect, frame.style, FALSE, frame.exStyle);
  const double tpp = 1440.0 / Dpi();
  return windows::TwipsSize{static_cast<float>((rect.right - rect.left - 100) * tpp),
                            static_cast<float>((rect.bottom - rect.top - 100) * tpp)};
}

void Win32Ui::Show(Form& form, ShowMode mode) {
  Impl& ui = *impl_;
  if (FormWindow* shown = ui.Find(form)) {
    // Shown already (a modeless window opened again): to the front, still the one window.
    ::ShowWindow(shown->hwnd.get(), SW_SHOWNORMAL);
    ::SetForegroundWindow(shown->hwnd.get());
    return;
  }
  auto created = ui.Create(form);
  FormWindow& fw = *created;
  ui.open.push_back(std::move(created));
  HWND hwnd = fw.hwnd.get();
  if (mode == ShowMode::Modal) {
    fw.modal = true;
    fw.disabled = DisableThreadWindows();
  }
  ::ShowWindow(hwnd, SW_SHOW);
  ::SetForegroundWindow(hwnd);
  // The keyboard goes to the first control in tab order that takes it, else to the window.
  Control* first = nullptr;
  for (Control* control : form.Controls())
    if (control->TabStop() && control->Visible() && (!first || control->TabIndex() < first->TabIndex()))
      first = control;
  const ControlWindow* focus = first ? fw.Find(first) : nullptr;
  ::SetFocus(focus ? focus->hwnd : hwnd);
  ::UpdateWindow(hwnd);
  if (mode == ShowMode::Modal) ui.RunModal(form);
}

void Win32Ui::Unload(Form& form) {
  Impl& ui = *impl_;
  const auto found =
      std::find_if(ui.open.begin(), ui.open.end(), [&](const auto& fw) { return fw->form == &form; });
  if (found == ui.open.end()) return;
  std::unique_ptr<FormWindow> fw = std::move(*found);
  ui.open.erase(found);
  fw->unloaded = true;
  // The windows a modal window disabled take input again before it goes, so that activation
  // returns to them.
  for (HWND hwnd : fw->disabled)
    if (::IsWindow(hwnd)) ::EnableWindow(hwnd, TRUE);
  fw->disabled.clear();
  if (HWND capture = ::GetCapture(); capture && ::GetAncestor(capture, GA_ROOT) == fw->hwnd.get())
    ::ReleaseCapture();
  fw->hwnd.reset();
  if (!ui.events.empty()) ui.retired.push_back(std::move(fw));
}

void Win32Ui::Changed(Form& form, const Control* control) {
  Impl& ui = *impl_;
  FormWindow* fw = ui.Find(form);
  if (!fw || !fw->hwnd) return;
  if (!control) {
    ui.ApplyForm(*fw);
    return;
  }
  if (ControlWindow* cw = fw->Find(control)) ui.ApplyControl(*fw, *cw);
}

void Win32Ui::DoEvents() {
  MSG msg{};
  for (int i = 0; i < kMaxMessagesPerDoEvents && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop that owns the thread
      return;
    }
    impl_->Dispatch(msg);
  }
}

HWND Win32Ui::WindowOf(const Form& form) const {
  const FormWindow* fw = impl_->Find(form);
  return fw ? fw->hwnd.get() : nullptr;
}

HWND Win32Ui::WindowOf(const Control& control) const {
  const FormWindow* fw = impl_->Find(control.Owner());
  const ControlWindow* cw = fw ? fw->Find(&control) : nullptr;
  return cw ? cw->hwnd : nullptr;
}

HWND Win32Ui::EventWindow() const { return impl_->events.empty() ? nullptr : impl_->events.back()->hwnd.get(); }

}  // namespace corvane::win32
