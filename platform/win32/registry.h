// Registry keys as owned handles, and the few operations the add-in needs on them.
// Contract: every function reports failure by its Win32 status (ERROR_SUCCESS on success) and
// never throws; an opened or created key is closed exactly once.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

namespace corvane::win32 {

struct KeyDeleter {
  void operator()(HKEY key) const noexcept { ::RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyDeleter>;

inline LONG OpenKey(HKEY parent, const std::wstring& path, REGSAM access, UniqueKey& out) noexcept {
  HKEY key = nullptr;
  const LONG status = ::RegOpenKeyExW(parent, path.c_str(), 0, access, &key);
  out.reset(status == ERROR_SUCCESS ? key : nullptr);
  return status;
}

inline LONG CreateKey(HKEY parent, const std::wstring& path, UniqueKey& out) noexcept {
  HKEY key = nullptr;
  const LONG status = ::RegCreateKeyExW(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
  out.reset(status == ERROR_SUCCESS ? key : nullptr);
  return status;
}

// Writes a string value (`name` empty: the key's default value).
inline LONG SetString(HKEY key, const std::wstring& name, const std::wstring& value) noexcept {
  return ::RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// Creates `path` under `parent` and sets its default value (and, when given, one named value).
inline LONG CreateKeyWithValue(HKEY parent, const std::wstring& path, const std::wstring& value,
                               const std::wstring& name = {}, const std::wstring& namedValue = {}) noexcept {
  UniqueKey key;
  LONG status = CreateKey(parent, path, key);
  if (status == ERROR_SUCCESS && !value.empty()) status = SetString(key.get(), L"", value);
  if (status == ERROR_SUCCESS && !name.empty()) status = SetString(key.get(), name, namedValue);
  return status;
}

// Removes `path` and everything below it; a key that does not exist counts as removed.
inline LONG DeleteTree(HKEY parent, const std::wstring& path) noexcept {
  const LONG status = ::RegDeleteTreeW(parent, path.c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
    const LONG last = ::RegDeleteKeyW(parent, path.c_str());
    return last == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : last;
  }
  return status;
}

}  // namespace corvane::win32
