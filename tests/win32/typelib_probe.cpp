// What a client finds of the registered add-in, printed one fact a line for
// com_registration.sh: the type library through LoadRegTypeLib and QueryPathOfRegTypeLib (as a
// VBA reference or the automation marshaller finds it), and the class created by its programmatic
// identifier with the type information its IDispatch hands out (its library, functions and flags).
//
//   typelib_probe           the class root as the process sees it
//   typelib_probe user      the current user's registrations (HKCU\Software\Classes), which Windows
//                           merges into the class root and Wine does not: that key is made the
//                           class root for the type library calls, and the class is created by
//                           following its keys (ProgID, CLSID, InprocServer32) as COM would
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "platform/win32/com/com_handles.h"
#include "tests/win32/support/user_classes.h"

using corvane::win32::ComPtr;
using corvane::win32::UniqueBstr;

namespace {

const GUID kLibId = {0x523cd1e6, 0x66cc, 0x4825, {0x81, 0x62, 0xa6, 0xda, 0x2b, 0x7e, 0x37, 0xfd}};

void PrintLibAttr(const char* what, ITypeLib* library) {
  TLIBATTR* attr = nullptr;
  if (FAILED(library->GetLibAttr(&attr))) return (void)std::printf("%s attributes unreadable\n", what);
  std::printf("%s version %u.%u locale %lu\n", what, attr->wMajorVerNum, attr->wMinorVerNum,
              static_cast<unsigned long>(attr->lcid));
  library->ReleaseTLibAttr(attr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool user = argc > 1 && std::wcscmp(argv[1], L"user") == 0;
  HKEY classes = nullptr;
  if (user && (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_READ, &classes) != ERROR_SUCCESS ||
               ::RegOverridePredefKey(HKEY_CLASSES_ROOT, classes) != ERROR_SUCCESS)) {
    std::printf("no user class root\n");
    return 1;
  }
  if (classes) ::RegCloseKey(classes);
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  {
    ComPtr<ITypeLib> library;
    const HRESULT loaded = ::LoadRegTypeLib(kLibId, 104, 0, 0x409, library.Receive());
    std::printf("LoadRegTypeLib 0x%08lx\n", static_cast<unsigned long>(loaded));
    if (SUCCEEDED(loaded)) PrintLibAttr("registered library", library.get());

    UniqueBstr path;
    const HRESULT queried = ::QueryPathOfRegTypeLib(kLibId, 104, 0, 0x409, path.Receive());
    std::printf("QueryPathOfRegTypeLib 0x%08lx\n", static_cast<unsigned long>(queried));
    if (SUCCEEDED(queried)) std::printf("path %ls\n", path.get());

    ComPtr<IDispatch> object;
    CLSID clsid{};
    HRESULT created = user ? corvane::testsupport::CreateFromUserClasses(L"Corvane.cls_corvane", IID_IDispatch,
                                                                         reinterpret_cast<void**>(object.Receive()))
                           : ::CLSIDFromProgID(L"Corvane.cls_corvane", &clsid);
    if (!user && SUCCEEDED(created))
      created = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(object.Receive()));
    std::printf("created by ProgID 0x%08lx\n", static_cast<unsigned long>(created));
    ComPtr<ITypeInfo> info;
    ComPtr<ITypeLib> containing;
    UINT index = 0;
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(created) && SUCCEEDED(object->GetTypeInfo(0, 0x409, info.Receive())) &&
        SUCCEEDED(info->GetContainingTypeLib(containing.Receive(), &index)) && SUCCEEDED(info->GetTypeAttr(&attr))) {
      PrintLibAttr("type information's library", containing.get());
      // IDispatch's seven functions and the class's own; hidden, dual and not extensible.
      std::printf("type information functions %u flags 0x%x\n", attr->cFuncs,
                  attr->wTypeFlags & (TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE));
      info->ReleaseTypeAttr(attr);
    } else if (SUCCEEDED(created)) {
      std::printf("type information unavailable\n");
    }
  }
  ::CoUninitialize();
  return 0;
}
