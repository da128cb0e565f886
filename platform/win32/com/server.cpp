// The library's entry points for its one class (kServerClass): process entry, class factory,
// the four COM exports and DllInstall, and the per-thread services.
#include <memory>
#include <new>

#include "addin/mdl_support.h"
#include "platform/win32/com/server.h"
#include "platform/win32/registry_store.h"
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
    return kServerClass.create(iid, out);
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

HRESULT LoadOwnTypeLib(ITypeLib** out) noexcept {
  try {
    const std::wstring path = ModulePath();
    return ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT DualTypeInfo::Load(REFIID iid) noexcept {
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadOwnTypeLib(library.Receive());
  if (SUCCEEDED(hr)) hr = library->GetTypeInfoOfGuid(iid, dispatchHalf.Receive());
  if (FAILED(hr)) return hr;
  // The dual interface's vtable half is what Invoke calls through.
  HREFTYPE vtable = 0;
  hr = dispatchHalf->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable);
  if (SUCCEEDED(hr)) hr = dispatchHalf->GetRefTypeInfo(vtable, vtableHalf.Receive());
  return hr;
}

HRESULT DualTypeInfo::Count(UINT* count) const noexcept {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT DualTypeInfo::Info(UINT index, ITypeInfo** out) const noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  dispatchHalf->AddRef();
  *out = dispatchHalf.get();
  return S_OK;
}

HRESULT DualTypeInfo::IdsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids) const noexcept {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  return ::DispGetIDsOfNames(vtableHalf.get(), names, count, ids);
}

HRESULT DualTypeInfo::Invoke(void* object, DISPID id, REFIID iid, WORD flags, DISPPARAMS* params, VARIANT* result,
                             EXCEPINFO* exception, UINT* badArgument) const noexcept {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  return ::DispInvoke(object, vtableHalf.get(), id, flags, params, result, exception, badArgument);
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
  if (clsid != *kServerClass.clsid) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) ClassFactory();
  if (!factory) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() { return ServerReferences() == 0 ? S_OK : S_FALSE; }

HRESULT STDAPICALLTYPE DllRegisterServer() { return SelfRegister(kServerClass, false, true); }

HRESULT STDAPICALLTYPE DllUnregisterServer() { return SelfRegister(kServerClass, false, false); }

// regsvr32 /n /i:user registers for the current user only; any other command line per machine.
HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine) {
  const bool perUser = commandLine && ::lstrcmpiW(commandLine, L"user") == 0;
  return SelfRegister(kServerClass, perUser, install != FALSE);
}

}  // extern "C"
