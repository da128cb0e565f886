// The in-process COM server around cls_corvane: the automation object, its class factory, the
// library's lifetime counters and the per-thread services a thread gets on its first object.
// Contract:
//  - Every COM entry point is noexcept: failures come back as HRESULTs, automation errors with
//    error information (IErrorInfo: source and description) and, through Invoke, EXCEPINFO.
//  - The library may be unloaded when no object and no factory lock remain.
//  - A thread's services (registry settings store, Win32 windows, GDI measurement, shell,
//    files, environment, Notepad) live from its first object until the thread detaches or the
//    library is unloaded, like the module state they serve.
#pragma once

#include <windows.h>

#include <atomic>

#include "corvane_h.h"

namespace corvane::win32::com {

// Objects and factory locks alive; the library may be unloaded at zero.
std::atomic<long>& ServerReferences() noexcept;

// Makes sure this thread has the platform services installed, with the user's regional number
// format as it is now.
void EnsureThreadServices();
// Releases this thread's module state and services (thread detach, library unload).
void ReleaseThreadState() noexcept;

// A new cls_corvane object answering `iid`.
HRESULT CreateCorvaneObject(REFIID iid, void** out) noexcept;
// A new class factory for cls_corvane answering `iid`.
HRESULT CreateClassFactory(REFIID iid, void** out) noexcept;

// The type library embedded in this module (loaded once).
HRESULT LoadOwnTypeLib(ITypeLib** out) noexcept;

}  // namespace corvane::win32::com
