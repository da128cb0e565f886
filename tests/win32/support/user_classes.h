// Windows merges the user's class registrations (HKCU\Software\Classes) over the machine's, and
// Excel finds a per-user add-in through them; Wine's COM reads the machine's only. These follow a
// class the user has registered as COM would: ProgID, CLSID, InprocServer32 (the library stays
// loaded), then the library's class factory. REGDB_E_CLASSNOTREG when the user has not
// registered it.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>

#include "platform/win32/com/com_handles.h"

namespace corvane::testsupport {

// The text of a key's default value under the user's class registrations, or "".
inline std::wstring UserClassValue(const std::wstring& path) {
  wchar_t value[MAX_PATH + 1]{};
  DWORD size = sizeof(value) - sizeof(wchar_t);
  const std::wstring key = L"Software\\Classes\\" + path;
  return ::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) == ERROR_SUCCESS
             ? value
             : L"";
}

inline HRESULT CreateFromUserClasses(const wchar_t* progId, REFIID iid, void** out) {
  const std::wstring clsidText = UserClassValue(std::wstring(progId) + L"\\CLSID");
  CLSID clsid{};
  if (clsidText.empty()) return REGDB_E_CLASSNOTREG;
  if (FAILED(::CLSIDFromString(clsidText.c_str(), &clsid))) return CO_E_CLASSSTRING;
  const HMODULE library = ::LoadLibraryW(UserClassValue(L"CLSID\\" + clsidText + L"\\InprocServer32").c_str());
  if (!library) return HRESULT_FROM_WIN32(::GetLastError());
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(::GetProcAddress(library, "DllGetClassObject")));
  win32::ComPtr<IClassFactory> factory;
  const HRESULT got = get ? get(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.Receive())) : E_NOINTERFACE;
  return FAILED(got) ? got : factory->CreateInstance(nullptr, iid, out);
}

}  // namespace corvane::testsupport
