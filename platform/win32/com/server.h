// The in-process COM server that each add-in library is: one creatable class with its class
// factory, the library's lifetime counters, self-registration and the per-thread services a
// thread gets on its first object. server.cpp holds the entry points, registration.cpp the
// registry keys; each library defines its class (kServerClass) beside the object.
// Contract:
//  - Every COM entry point is noexcept: failures come back as HRESULTs, automation errors with
//    error information (IErrorInfo: source and description) and, through Invoke, EXCEPINFO.
//  - The library may be unloaded when no object and no factory lock remain.
//  - A thread's services (registry settings store, Win32 windows, GDI measurement, shell,
//    files, environment, Notepad) live from its first object until the thread detaches or the
//    library is unloaded, like the module state they serve.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <new>
#include <string>

#include "platform/win32/com/com_handles.h"

namespace corvane::win32::com {

// What a library registers for its class, and how it makes one.
struct ServerClass {
  const CLSID* clsid;
  const wchar_t* progId;
  const wchar_t* classVersion;  // decimal, as the class key shows it
  const GUID* libid;
  const wchar_t* libraryName;
  // Major and minor in hexadecimal, as the system writes and looks up the key (LoadRegTypeLib
  // finds nothing under a decimal "104.0").
  const wchar_t* typeLibVersion;
  const IID* iid;  // the class's default dual interface, marshalled by the automation marshaller
  const wchar_t* interfaceName;
  // What an earlier build registered, by mistake, as the type library's version key; removed
  // where it names this file. Null: none.
  const wchar_t* mistakenTypeLibVersion;
  // An Excel COM add-in: its name and description in Excel's list of add-ins. Null: not one.
  const wchar_t* addinName;
  const wchar_t* addinDescription;
  HRESULT (*create)(REFIID iid, void** out) noexcept;
};

// The class of this library (defined once per library).
extern const ServerClass kServerClass;

// Objects and factory locks alive; the library may be unloaded at zero.
std::atomic<long>& ServerReferences() noexcept;

// An object's count of references, and its share in the library's count of live objects: every
// object of the library's classes holds one.
class ObjectReferences {
 public:
  ObjectReferences() noexcept { ++ServerReferences(); }
  ~ObjectReferences() { --ServerReferences(); }
  ObjectReferences(const ObjectReferences&) = delete;
  ObjectReferences& operator=(const ObjectReferences&) = delete;
  ULONG Add() noexcept { return static_cast<ULONG>(++count_); }
  // The references left; the owner deletes itself at zero.
  long Drop() noexcept { return --count_; }

 private:
  std::atomic<long> count_{1};
};

// A new object of class T (with Init() and its interfaces) answering `iid`, as a class factory
// makes it: nothing is handed out when Init fails.
template <class T>
HRESULT CreateServerObject(REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  auto* object = new (std::nothrow) T();
  if (!object) return E_OUTOFMEMORY;
  HRESULT hr = object->Init();
  if (SUCCEEDED(hr)) hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

// Makes sure this thread has the platform services installed, with the user's regional number
// format as it is now.
void EnsureThreadServices();
// Releases this thread's module state and services (thread detach, library unload).
void ReleaseThreadState() noexcept;

// The type library embedded in this module (loaded once).
HRESULT LoadOwnTypeLib(ITypeLib** out) noexcept;

// The type information of a dual interface of this library's type library, and the IDispatch
// members an object answers from it (GetIDsOfNames and Invoke through the vtable half).
struct DualTypeInfo {
  ComPtr<ITypeInfo> dispatchHalf;  // which GetTypeInfo gives out
  ComPtr<ITypeInfo> vtableHalf;    // which names and calls go through

  HRESULT Load(REFIID iid) noexcept;
  HRESULT Count(UINT* count) const noexcept;
  HRESULT Info(UINT index, ITypeInfo** out) const noexcept;
  HRESULT IdsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids) const noexcept;
  HRESULT Invoke(void* object, DISPID id, REFIID iid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* badArgument) const noexcept;
};


// Registers (install) or unregisters `cls` for the current user (HKCU) or the machine (HKLM):
// the class, its type library and interface, and, for an add-in, Excel's add-in key. A failed
// registration leaves nothing behind.
HRESULT SelfRegister(const ServerClass& cls, bool perUser, bool install) noexcept;

}  // namespace corvane::win32::com
