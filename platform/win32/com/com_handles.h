// Owning wrappers for the automation types the COM server hands across its boundary: COM
// interface pointers, BSTR, VARIANT and SAFEARRAY. Each releases its resource exactly once, also
// when an exception passes, and can give it away (detach) to a caller that takes ownership.
#pragma once

#include <oaidl.h>
#include <oleauto.h>
#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

namespace corvane::win32 {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes a new counted reference.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Adopts a reference the caller already owns.
  static ComPtr Adopt(T* p) {
    ComPtr result;
    result.p_ = p;
    return result;
  }
  void Reset() noexcept {
    if (auto* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // For functions that return a new reference through an out parameter.
  T** Receive() noexcept {
    Reset();
    return &p_;
  }
  T* Detach() noexcept { return std::exchange(p_, nullptr); }

 private:
  T* p_ = nullptr;
};

class UniqueBstr {
 public:
  UniqueBstr() = default;
  explicit UniqueBstr(std::u16string_view text)
      : b_(::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()))) {
    if (!b_ && !text.empty()) throw std::bad_alloc();
  }
  static UniqueBstr Adopt(BSTR b) {
    UniqueBstr result;
    result.b_ = b;
    return result;
  }
  UniqueBstr(UniqueBstr&& other) noexcept : b_(std::exchange(other.b_, nullptr)) {}
  UniqueBstr& operator=(UniqueBstr&& other) noexcept {
    std::swap(b_, other.b_);
    return *this;
  }
  ~UniqueBstr() { ::SysFreeString(b_); }
  BSTR get() const noexcept { return b_; }
  BSTR Detach() noexcept { return std::exchange(b_, nullptr); }
  BSTR* Receive() noexcept {
    ::SysFreeString(std::exchange(b_, nullptr));
    return &b_;
  }

 private:
  BSTR b_ = nullptr;
};

// The text of a BSTR (a null BSTR is the empty string).
inline std::u16string FromBstr(BSTR b) {
  return b ? std::u16string(reinterpret_cast<const char16_t*>(b), ::SysStringLen(b)) : std::u16string();
}

class UniqueVariant {
 public:
  UniqueVariant() noexcept { ::VariantInit(&v_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  UniqueVariant(UniqueVariant&& other) noexcept : v_(other.v_) { ::VariantInit(&other.v_); }
  ~UniqueVariant() { ::VariantClear(&v_); }
  VARIANT* get() noexcept { return &v_; }
  const VARIANT* get() const noexcept { return &v_; }
  VARIANT* operator->() noexcept { return &v_; }
  // Moves the value out into `target`, which must hold nothing that needs freeing.
  void DetachTo(VARIANT* target) noexcept {
    *target = v_;
    ::VariantInit(&v_);
  }

 private:
  VARIANT v_;
};

class UniqueSafeArray {
 public:
  UniqueSafeArray() = default;
  explicit UniqueSafeArray(SAFEARRAY* a) : a_(a) {}
  UniqueSafeArray(UniqueSafeArray&& other) noexcept : a_(std::exchange(other.a_, nullptr)) {}
  UniqueSafeArray& operator=(UniqueSafeArray&& other) noexcept {
    std::swap(a_, other.a_);
    return *this;
  }
  ~UniqueSafeArray() {
    if (a_) ::SafeArrayDestroy(a_);
  }
  SAFEARRAY* get() const noexcept { return a_; }
  SAFEARRAY* Detach() noexcept { return std::exchange(a_, nullptr); }

 private:
  SAFEARRAY* a_ = nullptr;
};

}  // namespace corvane::win32
