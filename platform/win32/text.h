// Text between the core's UTF-16 strings and the Windows API: wide strings are the same code
// units (wchar_t is 16 bits on Windows), narrow ones are in the ANSI code page.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace corvane::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide strings are UTF-16");

// A null-terminated wide copy of `text` for the API.
inline std::wstring Wide(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

inline std::u16string FromWide(std::wstring_view text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

// `text` in the ANSI code page; characters it lacks become the code page's default character.
std::string ToAnsi(std::u16string_view text);

}  // namespace corvane::win32
