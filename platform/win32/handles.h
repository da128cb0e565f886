// Owning wrappers for the Win32 handles of the platform layer. Each one gives its handle back
// with the call that matches how it was obtained, exactly once, also when an exception passes.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>
#include <utility>

namespace corvane::win32 {

struct WindowDeleter {
  void operator()(HWND window) const noexcept { ::DestroyWindow(window); }
};
// A top-level window; its child windows go with it.
using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDeleter>;

struct GdiObjectDeleter {
  void operator()(void* object) const noexcept { ::DeleteObject(static_cast<HGDIOBJ>(object)); }
};
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;
using UniqueBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;
using UniqueBrush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiObjectDeleter>;

struct IconDeleter {
  void operator()(HICON icon) const noexcept { ::DestroyIcon(icon); }
};
using UniqueIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

struct CursorDeleter {
  void operator()(HCURSOR cursor) const noexcept { ::DestroyCursor(cursor); }
};
using UniqueCursor = std::unique_ptr<std::remove_pointer_t<HCURSOR>, CursorDeleter>;

struct KernelHandleDeleter {
  void operator()(HANDLE handle) const noexcept { ::CloseHandle(handle); }
};
// An event or other kernel object (CloseHandle).
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, KernelHandleDeleter>;

// A memory device context (CreateCompatibleDC / DeleteDC).
struct MemoryDcDeleter {
  void operator()(HDC dc) const noexcept { ::DeleteDC(dc); }
};
using UniqueMemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDeleter>;

inline UniqueMemoryDc MakeMemoryDc(HDC compatibleWith = nullptr) {
  return UniqueMemoryDc(::CreateCompatibleDC(compatibleWith));
}

// The device context of a window's client area, or of the screen for no window
// (GetDC / ReleaseDC).
class WindowDc {
 public:
  explicit WindowDc(HWND window = nullptr) : window_(window), dc_(::GetDC(window)) {}
  ~WindowDc() {
    if (dc_) ::ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// BeginPaint / EndPaint for one WM_PAINT.
class PaintDc {
 public:
  explicit PaintDc(HWND window) : window_(window) { dc_ = ::BeginPaint(window_, &paint_); }
  ~PaintDc() { ::EndPaint(window_, &paint_); }
  PaintDc(const PaintDc&) = delete;
  PaintDc& operator=(const PaintDc&) = delete;
  HDC get() const noexcept { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_ = nullptr;
};

// Selects a GDI object into a device context and puts the previous one back.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
  ~Selection() {
    if (previous_) ::SelectObject(dc_, previous_);
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A registered window class, unregistered with its module's handle (a library that is unloaded
// must not leave its classes behind).
class RegisteredClass {
 public:
  RegisteredClass() = default;
  RegisteredClass(const wchar_t* name, HINSTANCE module) : name_(name), module_(module) {}
  ~RegisteredClass() { Reset(); }
  RegisteredClass(RegisteredClass&& other) noexcept
      : name_(std::exchange(other.name_, nullptr)), module_(other.module_) {}
  RegisteredClass& operator=(RegisteredClass&& other) noexcept {
    if (this != &other) {
      Reset();
      name_ = std::exchange(other.name_, nullptr);
      module_ = other.module_;
    }
    return *this;
  }

 private:
  void Reset() noexcept {
    if (name_) ::UnregisterClassW(std::exchange(name_, nullptr), module_);
  }
  const wchar_t* name_ = nullptr;
  HINSTANCE module_ = nullptr;
};

}  // namespace corvane::win32
