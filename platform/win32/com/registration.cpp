// Self-registration: the keys of the class, its type library and its interface under the
// machine's or the user's Software\Classes, and an Excel COM add-in's key, written and removed
// for whichever library's class is given.
#include <string>
#include <string_view>
#include <utility>

#include <olectl.h>

#include "platform/win32/com/server.h"
#include "platform/win32/registry.h"
#include "platform/win32/win32_platform.h"

namespace corvane::win32::com {

namespace {

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40]{};
  ::StringFromGUID2(guid, text, 40);
  return text;
}

// The automation marshaller: the interface is described by the type library.
constexpr const wchar_t* kAutomationMarshaller = L"{00020424-0000-0000-C000-000000000046}";
#ifdef _WIN64
constexpr const wchar_t* kTypeLibPlatform = L"win64";
#else
constexpr const wchar_t* kTypeLibPlatform = L"win32";
#endif
// Where Excel looks for the COM add-ins it loads, per user (HKCU) or for every user (HKLM).
constexpr const wchar_t* kExcelAddins = L"Software\\Microsoft\\Office\\Excel\\Addins\\";
// Loaded at startup, and loaded now.
constexpr DWORD kLoadAtStartup = 3;

std::wstring TypeLibKey(const ServerClass& cls, const wchar_t* version) {
  return L"TypeLib\\" + GuidText(*cls.libid) + L"\\" + version;
}

// The text of a key's default value; empty when it has none.
std::wstring DefaultValue(HKEY parent, const std::wstring& path) {
  wchar_t value[MAX_PATH + 1]{};
  DWORD size = sizeof(value) - sizeof(wchar_t);
  if (::RegGetValueW(parent, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return {};
  return value;
}

// Whether a version key of the type library still names a file for some locale and platform.
bool HasLibraryFiles(HKEY classes, const std::wstring& versionKey) {
  UniqueKey version;
  if (OpenKey(classes, versionKey, KEY_READ, version) != ERROR_SUCCESS) return false;
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    if (::RegEnumKeyExW(version.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      return false;
    // Locale keys are hexadecimal numbers; FLAGS and HELPDIR are not.
    if (std::wstring_view(name).find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring_view::npos) continue;
    UniqueKey locale;
    DWORD platforms = 0;
    if (OpenKey(version.get(), name, KEY_READ, locale) == ERROR_SUCCESS &&
        ::RegQueryInfoKeyW(locale.get(), nullptr, nullptr, nullptr, &platforms, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        platforms > 0)
      return true;
  }
}

// Deletes a key when nothing is below it.
void DeleteIfEmpty(HKEY classes, const std::wstring& path) {
  UniqueKey key;
  if (OpenKey(classes, path, KEY_READ, key) != ERROR_SUCCESS) return;
  DWORD subkeys = 0;
  if (::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) == ERROR_SUCCESS &&
      subkeys == 0) {
    key.reset();
    ::RegDeleteKeyW(classes, path.c_str());
  }
}

// Removes this platform's entry of one version of the type library, and the version key with it
// when no other platform's library is registered there (the 32-bit and 64-bit libraries share
// the key). Returns whether another platform's library is still registered under the version.
bool UnregisterTypeLibVersion(HKEY classes, const ServerClass& cls, const wchar_t* version, LONG& result) {
  const std::wstring key = TypeLibKey(cls, version);
  if (const LONG status = DeleteTree(classes, key + L"\\0\\" + kTypeLibPlatform); status != ERROR_SUCCESS)
    result = status;
  DeleteIfEmpty(classes, key + L"\\0");
  if (HasLibraryFiles(classes, key)) return true;
  if (const LONG status = DeleteTree(classes, key); status != ERROR_SUCCESS) result = status;
  return false;
}

// Whether an earlier build's mistaken version key names this very file.
bool MistakenKeyIsOurs(HKEY classes, const ServerClass& cls, const std::wstring& path) {
  return cls.mistakenTypeLibVersion &&
         ::lstrcmpiW(DefaultValue(classes, TypeLibKey(cls, cls.mistakenTypeLibVersion) + L"\\0\\" + kTypeLibPlatform)
                         .c_str(),
                     path.c_str()) == 0;
}

LONG Register(HKEY classes, const ServerClass& cls) noexcept {
  try {
    const std::wstring path = ModulePath();
    if (path.empty()) return static_cast<LONG>(::GetLastError());
    if (MistakenKeyIsOurs(classes, cls, path)) {
      LONG ignored = ERROR_SUCCESS;
      UnregisterTypeLibVersion(classes, cls, cls.mistakenTypeLibVersion, ignored);
    }
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    const std::wstring clsid = L"CLSID\\" + GuidText(*cls.clsid);
    const std::wstring libid = GuidText(*cls.libid);
    const std::wstring lib = TypeLibKey(cls, cls.typeLibVersion);
    const std::wstring iface = L"Interface\\" + GuidText(*cls.iid);
    const std::pair<std::wstring, std::wstring> keys[] = {
        {lib, cls.libraryName},
        {lib + L"\\0\\" + kTypeLibPlatform, path},
        {lib + L"\\FLAGS", L"0"},
        {lib + L"\\HELPDIR", folder},
        {clsid, cls.progId},
        {clsid + L"\\ProgID", cls.progId},
        {clsid + L"\\TypeLib", libid},
        {clsid + L"\\VERSION", cls.classVersion},
        {cls.progId, cls.progId},
        {std::wstring(cls.progId) + L"\\CLSID", GuidText(*cls.clsid)},
        {iface, cls.interfaceName},
        {iface + L"\\ProxyStubClsid", kAutomationMarshaller},
        {iface + L"\\ProxyStubClsid32", kAutomationMarshaller},
    };
    for (const auto& [key, value] : keys)
      if (const LONG status = CreateKeyWithValue(classes, key, value); status != ERROR_SUCCESS) return status;
    if (const LONG status = CreateKeyWithValue(classes, clsid + L"\\InprocServer32", path, L"ThreadingModel",
                                               L"Apartment");
        status != ERROR_SUCCESS)
      return status;
    if (const LONG status = CreateKeyWithValue(classes, clsid + L"\\Programmable", L""); status != ERROR_SUCCESS)
      return status;
    return CreateKeyWithValue(classes, iface + L"\\TypeLib", libid, L"Version", cls.typeLibVersion);
  } catch (...) {
    return ERROR_OUTOFMEMORY;
  }
}

// Removes what Register wrote. The class and interface keys are this platform's own (64-bit
// Windows keeps them apart for 32-bit programs); the programmatic identifier and the type
// library's version key are shared, so they stay while the other platform's library is registered
// (`otherPlatform` tells).
LONG Unregister(HKEY classes, const ServerClass& cls, bool& otherPlatform) noexcept {
  try {
    LONG result = ERROR_SUCCESS;
    for (const std::wstring& key : {L"CLSID\\" + GuidText(*cls.clsid), L"Interface\\" + GuidText(*cls.iid)})
      if (const LONG status = DeleteTree(classes, key); status != ERROR_SUCCESS) result = status;
    otherPlatform = UnregisterTypeLibVersion(classes, cls, cls.typeLibVersion, result);
    if (MistakenKeyIsOurs(classes, cls, ModulePath()))
      UnregisterTypeLibVersion(classes, cls, cls.mistakenTypeLibVersion, result);
    if (!otherPlatform)
      if (const LONG status = DeleteTree(classes, cls.progId); status != ERROR_SUCCESS) result = status;
    // The library's key goes too when no version is registered under it any more.
    DeleteIfEmpty(classes, L"TypeLib\\" + GuidText(*cls.libid));
    return result;
  } catch (...) {
    return ERROR_OUTOFMEMORY;
  }
}

// Excel's key for the add-in: its name and description in the add-in list, loaded at startup.
LONG RegisterAddin(HKEY root, const ServerClass& cls) noexcept {
  try {
    UniqueKey key;
    LONG status = CreateKey(root, kExcelAddins + std::wstring(cls.progId), key);
    if (status == ERROR_SUCCESS) status = SetString(key.get(), L"FriendlyName", cls.addinName);
    if (status == ERROR_SUCCESS) status = SetString(key.get(), L"Description", cls.addinDescription);
    if (status == ERROR_SUCCESS)
      status = ::RegSetValueExW(key.get(), L"LoadBehavior", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kLoadAtStartup),
                                sizeof(kLoadAtStartup));
    return status;
  } catch (...) {
    return ERROR_OUTOFMEMORY;
  }
}

// Excel's key goes with the class, except where the other bitness's Excel needs it still. The
// user's key is one for both bitnesses (HKCU\Software is shared by the 32-bit and 64-bit views):
// it stays while the other bitness's class is registered for the user, which its type library's
// platform entry tells (TypeLib is shared too) or its class key in the other view (64-bit Windows
// keeps HKCU's Software\Classes\CLSID apart per bitness; Wine and 32-bit Windows have one, this
// library's, gone by now). The machine's key is each view's own (HKLM\Software is redirected).
LONG UnregisterAddin(HKEY root, const ServerClass& cls, bool otherPlatform) noexcept {
  try {
#ifdef _WIN64
    constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
#else
    constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
#endif
    UniqueKey otherClass;
    if (root == HKEY_CURRENT_USER &&
        (otherPlatform || OpenKey(root, L"Software\\Classes\\CLSID\\" + GuidText(*cls.clsid) + L"\\InprocServer32",
                                  KEY_READ | kOtherView, otherClass) == ERROR_SUCCESS))
      return ERROR_SUCCESS;
    return DeleteTree(root, kExcelAddins + std::wstring(cls.progId));
  } catch (...) {
    return ERROR_OUTOFMEMORY;
  }
}

}  // namespace

// The class registrations of the machine (HKLM\Software\Classes) or of the current user
// (HKCU\Software\Classes, no administrator rights needed); Excel's add-in key beside them.
HRESULT SelfRegister(const ServerClass& cls, bool perUser, bool install) noexcept {
  const HKEY root = perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  UniqueKey classes;
  LONG status = CreateKey(root, L"Software\\Classes", classes);
  bool otherPlatform = false;
  if (status == ERROR_SUCCESS)
    status = install ? Register(classes.get(), cls) : Unregister(classes.get(), cls, otherPlatform);
  if (cls.addinName) {
    const LONG addin = install ? (status == ERROR_SUCCESS ? RegisterAddin(root, cls) : status)
                               : UnregisterAddin(root, cls, otherPlatform);
    if (status == ERROR_SUCCESS) status = addin;
  }
  if (status == ERROR_SUCCESS) return S_OK;
  if (install && classes) {  // no half registration stays behind
    Unregister(classes.get(), cls, otherPlatform);
    if (cls.addinName) UnregisterAddin(root, cls, otherPlatform);
  }
  return status == ERROR_ACCESS_DENIED ? SELFREG_E_CLASS : HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

}  // namespace corvane::win32::com
