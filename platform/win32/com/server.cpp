// The library's entry points: process entry, class factory, the four COM exports and DllInstall,
// registration, and the per-thread services.
#include <memory>
#include <string>
#include <string_view>

#include <olectl.h>

#include "addin/mdl_support.h"
#include "platform/win32/com/com_handles.h"
#include "platform/win32/com/server.h"
#include "platform/win32/registry.h"
#include "platform/win32/registry_store.h"
#include "platform/win32/text.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_platform.h"

namespace corvane::win32::com {

std::atomic<long>& ServerReferences() noexcept {
  static std::atomic<long> references{0};
  return references;
}

namespace {

struct ThreadServices {
  RegistrySettingsStore store;
  Win32Platform platform;
  Win32FileSystem files;
  Win32Environment environment;
  NotepadLauncher editor;
  std::unique_ptr<ScopedServices> installed;

  ThreadServices() {
    PlatformServices services = platform.Services(&store);
    services.files = &files;
    services.environment = &environment;
    services.editor = &editor;
    installed = std::make_unique<ScopedServices>(services);
  }
};

thread_local std::unique_ptr<ThreadServices> tServices;

class ClassFactory final : public IClassFactory {
 public:
  ClassFactory() { ++ServerReferences(); }
  ~ClassFactory() { --ServerReferences(); }
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const long left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) noexcept override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CreateCorvaneObject(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override {
    if (lock)
      ++ServerReferences();
    else
      --ServerReferences();
    return S_OK;
  }

 private:
  std::atomic<long> references_{1};
};

// ---- Registration ----

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40]{};
  ::StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(ThisModule(), path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

constexpr const wchar_t* kProgId = L"Corvane.cls_corvane";
// The class's version as the type library states it (decimal, as the class key shows it).
constexpr const wchar_t* kClassVersion = L"104.0";
// The type library's version 104.0 as the system writes and looks up its key: major and minor in
// hexadecimal (LoadRegTypeLib finds nothing under "104.0").
constexpr const wchar_t* kTypeLibVersion = L"68.0";
// What earlier builds registered, by mistake, as the version key; removed where it names this file.
constexpr const wchar_t* kMistakenTypeLibVersion = L"104.0";
// The automation marshaller: the interface is described by the type library.
constexpr const wchar_t* kAutomationMarshaller = L"{00020424-0000-0000-C000-000000000046}";
#ifdef _WIN64
constexpr const wchar_t* kTypeLibPlatform = L"win64";
#else
constexpr const wchar_t* kTypeLibPlatform = L"win32";
#endif

std::wstring TypeLibKey(const wchar_t* version) { return L"TypeLib\\" + GuidText(LIBID_Corvane) + L"\\" + version; }

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
bool UnregisterTypeLibVersion(HKEY classes, const wchar_t* version, LONG& result) {
  const std::wstring key = TypeLibKey(version);
  if (const LONG status = DeleteTree(classes, key + L"\\0\\" + kTypeLibPlatform); status != ERROR_SUCCESS)
    result = status;
  DeleteIfEmpty(classes, key + L"\\0");
  if (HasLibraryFiles(classes, key)) return true;
  if (const LONG status = DeleteTree(classes, key); status != ERROR_SUCCESS) result = status;
  return false;
}

LONG Register(HKEY classes) noexcept {
  try {
    const std::wstring path = ModulePath();
    if (path.empty()) return static_cast<LONG>(::GetLastError());
    // An earlier build's registration under the mistaken key goes, if it names this very file.
    const std::wstring mistaken = TypeLibKey(kMistakenTypeLibVersion);
    if (::lstrcmpiW(DefaultValue(classes, mistaken + L"\\0\\" + kTypeLibPlatform).c_str(), path.c_str()) == 0) {
      LONG ignored = ERROR_SUCCESS;
      UnregisterTypeLibVersion(classes, kMistakenTypeLibVersion, ignored);
    }
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    const std::wstring clsid = L"CLSID\\" + GuidText(CLSID_cls_corvane);
    const std::wstring libid = GuidText(LIBID_Corvane);
    const std::wstring lib = TypeLibKey(kTypeLibVersion);
    const std::wstring iface = L"Interface\\" + GuidText(IID__cls_corvane);
    const std::pair<std::wstring, std::wstring> keys[] = {
        {lib, L"Corvane"},
        {lib + L"\\0\\" + kTypeLibPlatform, path},
        {lib + L"\\FLAGS", L"0"},
        {lib + L"\\HELPDIR", folder},
        {clsid, kProgId},
        {clsid + L"\\ProgID", kProgId},
        {clsid + L"\\TypeLib", libid},
        {clsid + L"\\VERSION", kClassVersion},
        {kProgId, kProgId},
        {std::wstring(kProgId) + L"\\CLSID", GuidText(CLSID_cls_corvane)},
        {iface, L"_cls_corvane"},
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
    return CreateKeyWithValue(classes, iface + L"\\TypeLib", libid, L"Version", kTypeLibVersion);
  } catch (...) {
    return ERROR_OUTOFMEMORY;
  }
}

// Removes what Register wrote. The class and interface keys are this platform's own (64-bit
// Windows keeps them apart for 32-bit programs); the programmatic identifier and the type
// library's version key are shared, so they stay while the other platform's library is registered.
LONG Unregister(HKEY classes) noexcept {
  try {
    LONG result = ERROR_SUCCESS;
    for (const std::wstring& key : {L"CLSID\\" + GuidText(CLSID_cls_corvane), L"Interface\\" + GuidText(IID__cls_corvane)})
      if (const LONG status = DeleteTree(classes, key); status != ERROR_SUCCESS) result = status;
    const bool otherPlatform = UnregisterTypeLibVersion(classes, kTypeLibVersion, result);
    const std::wstring mistaken = TypeLibKey(kMistakenTypeLibVersion);
    if (::lstrcmpiW(DefaultValue(classes, mistaken + L"\\0\\" + kTypeLibPlatform).c_str(), ModulePath().c_str()) == 0)
      UnregisterTypeLibVersion(classes, kMistakenTypeLibVersion, result);
    if (!otherPlatform)
      if (const LONG status = DeleteTree(classes, kProgId); status != ERROR_SUCCESS) result = status;
    // The library's key goes too when no version is registered under it any more.
    DeleteIfEmpty(classes, L"TypeLib\\" + GuidText(LIBID_Corvane));
    return result;
  } catch (...) {
    return ERROR_OUTOFMEMORY;
  }
}

// The class registrations of the machine (HKLM\Software\Classes) or of the current user
// (HKCU\Software\Classes, no administrator rights needed).
HRESULT WithClassesRoot(bool perUser, bool install) noexcept {
  UniqueKey classes;
  LONG status = CreateKey(perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, L"Software\\Classes", classes);
  if (status == ERROR_SUCCESS) status = install ? Register(classes.get()) : Unregister(classes.get());
  if (status == ERROR_SUCCESS) return S_OK;
  if (install) Unregister(classes.get());  // no half registration stays behind
  return status == ERROR_ACCESS_DENIED ? SELFREG_E_CLASS : HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

}  // namespace

void EnsureThreadServices() {
  if (!tServices) tServices = std::make_unique<ThreadServices>();
  // Numbers are written and read in the regional format in force at each call: the user may
  // change it while the host runs.
  Services().regional = UserRegionalFormat();
}

void ReleaseThreadState() noexcept {
  try {
    // The module state first: its windows need the window system that the services hold.
    mdl_Support::Module() = mdl_Support::ModuleState{};
    tServices.reset();
  } catch (...) {
  }
}

HRESULT CreateClassFactory(REFIID iid, void** out) noexcept {
  auto* factory = new (std::nothrow) ClassFactory();
  if (!factory) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

HRESULT LoadOwnTypeLib(ITypeLib** out) noexcept {
  try {
    const std::wstring path = ModulePath();
    return ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace corvane::win32::com

using namespace corvane::win32::com;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_THREAD_DETACH:
      ReleaseThreadState();
      break;
    case DLL_PROCESS_DETACH:
      // At process exit other modules may be gone already: only an unload frees the state.
      if (!reserved) ReleaseThreadState();
      break;
    default:
      // The state of a thread is set up when it first uses the library.
      break;
  }
  return TRUE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_cls_corvane) return CLASS_E_CLASSNOTAVAILABLE;
  return CreateClassFactory(iid, out);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() { return ServerReferences() == 0 ? S_OK : S_FALSE; }

HRESULT STDAPICALLTYPE DllRegisterServer() { return WithClassesRoot(false, true); }

HRESULT STDAPICALLTYPE DllUnregisterServer() { return WithClassesRoot(false, false); }

// regsvr32 /n /i:user registers for the current user only; any other command line per machine.
HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine) {
  const bool perUser = commandLine && ::lstrcmpiW(commandLine, L"user") == 0;
  return WithClassesRoot(perUser, install != FALSE);
}

}  // extern "C"
