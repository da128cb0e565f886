// The library's entry points: process entry, class factory, the four COM exports and DllInstall,
// registration, and the per-thread services.
#include <memory>
#include <string>

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
constexpr const wchar_t* kTypeLibVersion = L"104.0";
// The automation marshaller: the interface is described by the type library.
constexpr const wchar_t* kAutomationMarshaller = L"{00020424-0000-0000-C000-000000000046}";
#ifdef _WIN64
constexpr const wchar_t* kTypeLibPlatform = L"win64";
#else
constexpr const wchar_t* kTypeLibPlatform = L"win32";
#endif

LONG Register(HKEY classes) noexcept {
  try {
    const std::wstring path = ModulePath();
    if (path.empty()) return static_cast<LONG>(::GetLastError());
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    const std::wstring clsid = L"CLSID\\" + GuidText(CLSID_cls_corvane);
    const std::wstring libid = GuidText(LIBID_Corvane);
    const std::wstring lib = L"TypeLib\\" + libid + L"\\" + kTypeLibVersion;
    const std::wstring iface = L"Interface\\" + GuidText(IID__cls_corvane);
    const std::pair<std::wstring, std::wstring> keys[] = {
        {lib, L"Corvane"},
        {lib + L"\\0\\" + kTypeLibPlatform, path},
        {lib + L"\\FLAGS", L"0"},
        {lib + L"\\HELPDIR", folder},
        {clsid, kProgId},
        {clsid + L"\\ProgID", kProgId},
        {clsid + L"\\TypeLib", libid},
        {clsid + L"\\VERSION", kTypeLibVersion},
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

LONG Unregister(HKEY classes) noexcept {
  try {
    const std::wstring libid = L"TypeLib\\" + GuidText(LIBID_Corvane);
    LONG result = ERROR_SUCCESS;
    for (const std::wstring& key :
         {L"CLSID\\" + GuidText(CLSID_cls_corvane), std::wstring(kProgId), L"Interface\\" + GuidText(IID__cls_corvane),
          libid + L"\\" + kTypeLibVersion}) {
      if (const LONG status = DeleteTree(classes, key); status != ERROR_SUCCESS) result = status;
    }
    // The library's key goes too when no other version is registered under it.
    UniqueKey library;
    if (OpenKey(classes, libid, KEY_READ, library) == ERROR_SUCCESS) {
      DWORD subkeys = 0;
      if (::RegQueryInfoKeyW(library.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
          subkeys == 0) {
        library.reset();
        ::RegDeleteKeyW(classes, libid.c_str());
      }
    }
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
