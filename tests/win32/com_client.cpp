// The add-in library as a client sees it: registration for the current user, creation by
// programmatic identifier, every call by name through IDispatch with by-reference arguments,
// automation errors with their error information, the lifetime exports.
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32/com/com_handles.h"

using corvane::win32::ComPtr;
using corvane::win32::FromBstr;
using corvane::win32::UniqueBstr;
using corvane::win32::UniqueVariant;

namespace {

const CLSID kClsid = {0x31e726e8, 0x236b, 0x4b4a, {0x81, 0x1b, 0x16, 0x2a, 0xdb, 0xc1, 0x5e, 0x84}};

std::wstring LibraryPath() {
  // The test runs beside the build folder's tests; the library is at the build folder's top.
  wchar_t self[MAX_PATH]{};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path = self;
  for (int up = 0; up < 3; ++up) path = path.substr(0, path.find_last_of(L'\\'));
  return path + L"\\Corvane.dll";
}

// An export of the library as the function type it has.
template <typename F>
F Export(HMODULE library, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

class ComClient : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    library_ = ::LoadLibraryW(LibraryPath().c_str());
    ASSERT_NE(library_, nullptr) << "Corvane.dll not found beside the tests";
    // Per machine: Wine's class root does not show the per-user registrations.
    auto install = Export<HRESULT(STDAPICALLTYPE*)()>(library_, "DllRegisterServer");
    ASSERT_NE(install, nullptr);
    ASSERT_EQ(install(), S_OK);
  }
  static void TearDownTestSuite() {
    auto uninstall = Export<HRESULT(STDAPICALLTYPE*)()>(library_, "DllUnregisterServer");
    if (uninstall) uninstall();
  }
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { ::CoUninitialize(); }

  static ComPtr<IDispatch> Create() {
    CLSID clsid{};
    EXPECT_EQ(::CLSIDFromProgID(L"Corvane.cls_corvane", &clsid), S_OK);
    ComPtr<IDispatch> object;
    EXPECT_EQ(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                 reinterpret_cast<void**>(object.Receive())),
              S_OK);
    return object;
  }

  // Calls `name` with the arguments as given (rgvarg order: last argument first).
  static HRESULT Call(IDispatch* object, const wchar_t* name, std::vector<VARIANT> argsReversed, VARIANT* result,
                      EXCEPINFO* info = nullptr) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    const HRESULT found = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(found)) return found;
    DISPPARAMS params{argsReversed.empty() ? nullptr : argsReversed.data(), nullptr,
                      static_cast<UINT>(argsReversed.size()), 0};
    EXCEPINFO scratch{};
    const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                      &params, result, info ? info : &scratch, nullptr);
    if (!info) {
      ::SysFreeString(scratch.bstrDescription);
      ::SysFreeString(scratch.bstrSource);
      ::SysFreeString(scratch.bstrHelpFile);
    }
    return hr;
  }

  static VARIANT Ref(VARIANT* v) {
    VARIANT r;
    ::VariantInit(&r);
    r.vt = VT_BYREF | VT_VARIANT;
    r.pvarVal = v;
    return r;
  }

  static HMODULE library_;
};
HMODULE ComClient::library_ = nullptr;

UniqueVariant Text(const wchar_t* text) {
  UniqueVariant v;
  v->vt = VT_BSTR;
  v->bstrVal = ::SysAllocString(text);
  return v;
}
UniqueVariant Long(LONG value) {
  UniqueVariant v;
  v->vt = VT_I4;
  v->lVal = value;
  return v;
}

TEST_F(ComClient, HelpPathAndCommandBeforeHostAndIdentity) {
  ComPtr<IDispatch> object = Create();
  ASSERT_TRUE(object);
  UniqueVariant path;
  ASSERT_EQ(Call(object.get(), L"cvHelpfilePath", {}, path.get()), S_OK);
  ASSERT_EQ(path->vt, VT_BSTR);
  std::wstring text = path->bstrVal;
  std::wstring expected = LibraryPath();
  expected = expected.substr(0, expected.find_last_of(L'\\')) + L"\\corvane.chm";
  EXPECT_EQ(::lstrcmpiW(text.c_str(), expected.c_str()), 0) << std::string(text.begin(), text.end());

  // The type information is the library's own.
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(object->GetTypeInfo(0, 0, info.Receive()), S_OK);
  ComPtr<ITypeLib> typeLib;
  UINT index = 0;
  ASSERT_EQ(info->GetContainingTypeLib(typeLib.Receive(), &index), S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(typeLib->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr->wMajorVerNum, 104);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->lcid, 1033u);
  typeLib->ReleaseTLibAttr(attr);
  TYPEATTR* typeAttr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&typeAttr), S_OK);
  EXPECT_EQ(typeAttr->cFuncs, 7 + 16) << "IDispatch's seven and the sixteen methods";
  EXPECT_TRUE(typeAttr->wTypeFlags & TYPEFLAG_FHIDDEN);
  EXPECT_TRUE(typeAttr->wTypeFlags & TYPEFLAG_FDUAL);
  EXPECT_TRUE(typeAttr->wTypeFlags & TYPEFLAG_FNONEXTENSIBLE);
  info->ReleaseTypeAttr(typeAttr);

  // No host handed over yet: the unformat command ends quietly (its own error trap), the
  // settings window and the building blocks that need a range fail as automation errors.
  UniqueVariant ignored;
  EXPECT_EQ(Call(object.get(), L"cvDeformulateCell", {}, ignored.get()), S_OK);
  EXCEPINFO error{};
  UniqueVariant nothing;
  UniqueVariant none;
  none->vt = VT_DISPATCH;
  none->pdispVal = nullptr;
  UniqueVariant width;
  const HRESULT hr = Call(object.get(), L"GetSpaceWidth", {Ref(none.get())}, width.get(), &error);
  EXPECT_EQ(hr, DISP_E_EXCEPTION);
  UniqueBstr description = UniqueBstr::Adopt(error.bstrDescription);
  UniqueBstr source = UniqueBstr::Adopt(error.bstrSource);
  UniqueBstr help = UniqueBstr::Adopt(error.bstrHelpFile);
  EXPECT_FALSE(FromBstr(description.get()).empty());
  EXPECT_FALSE(FromBstr(source.get()).empty());
  EXPECT_TRUE(error.scode < 0);
}

TEST_F(ComClient, ScanMethodsByReference) {
  ComPtr<IDispatch> object = Create();
  ASSERT_TRUE(object);
  // PopulateCharArray: a two-dimensional string array, rows from 1.
  UniqueVariant formula = Text(L"=SUM(\"a(\",B1)");
  UniqueVariant length = Long(13);
  UniqueVariant table;
  ASSERT_EQ(Call(object.get(), L"PopulateCharArray", {Ref(length.get()), Ref(formula.get())}, table.get()), S_OK);
  ASSERT_EQ(table->vt, VT_ARRAY | VT_BSTR);
  ASSERT_EQ(::SafeArrayGetDim(table->parray), 2u);
  LONG low = 0, high = 0;
  ::SafeArrayGetLBound(table->parray, 1, &low);
  ::SafeArrayGetUBound(table->parray, 1, &high);
  EXPECT_EQ(low, 1);
  EXPECT_EQ(high, 13);
  LONG index[2] = {5, 1};
  BSTR cell = nullptr;
  ASSERT_EQ(::SafeArrayGetElement(table->parray, index, &cell), S_OK);
  EXPECT_EQ(FromBstr(cell), u"(");
  ::SysFreeString(cell);

  // CheckChar: the record, through the type library.
  UniqueVariant item = Long(5);
  UniqueVariant record;
  ASSERT_EQ(Call(object.get(), L"CheckChar", {Ref(table.get()), Ref(item.get())}, record.get()), S_OK);
  ASSERT_EQ(record->vt, VT_RECORD);
  ComPtr<IRecordInfo> recordInfo(record->pRecInfo);
  GUID recordGuid{};
  ASSERT_EQ(recordInfo->GetGuid(&recordGuid), S_OK);
  const GUID expectedGuid = {0x9cdf35ea, 0xd94b, 0x4d85, {0x85, 0x21, 0x40, 0x6d, 0x9b, 0x1e, 0xf1, 0x10}};
  EXPECT_TRUE(IsEqualGUID(recordGuid, expectedGuid));
  UniqueVariant field;
  ASSERT_EQ(recordInfo->GetField(record->pvRecord, L"bIsLeftParen", field.get()), S_OK);
  EXPECT_EQ(field->vt, VT_BOOL);
  EXPECT_EQ(field->boolVal, VARIANT_TRUE);
  UniqueVariant current;
  ASSERT_EQ(recordInfo->GetField(record->pvRecord, L"strNextChar", current.get()), S_OK);
  EXPECT_EQ(FromBstr(current->bstrVal), u"\"");

  // Every field of the record, for a syntactic parenthesis and for one inside a string literal
  // (script engines cannot read records, so this client is where they are checked).
  struct Expected {
    LONG item;
    const char16_t *current, *prev, *next;
    bool left, right, empty, separator, literal, notParen;
  };
  for (const Expected& e : {Expected{5, u"(", u"M", u"\"", true, false, false, false, false, false},
                            Expected{8, u"(", u"a", u"\"", false, false, false, false, true, false},
                            Expected{13, u")", u"1", u"", false, true, false, false, false, false}}) {
    SCOPED_TRACE(e.item);
    UniqueVariant at = Long(e.item);
    UniqueVariant check;
    ASSERT_EQ(Call(object.get(), L"CheckChar", {Ref(table.get()), Ref(at.get())}, check.get()), S_OK);
    ASSERT_EQ(check->vt, VT_RECORD);
    const auto text = [&](const wchar_t* name) {
      UniqueVariant v;
      EXPECT_EQ(check->pRecInfo->GetField(check->pvRecord, name, v.get()), S_OK);
      return v->vt == VT_BSTR ? FromBstr(v->bstrVal) : std::u16string(u"<not a string>");
    };
    const auto flag = [&](const wchar_t* name) {
      UniqueVariant v;
      EXPECT_EQ(check->pRecInfo->GetField(check->pvRecord, name, v.get()), S_OK);
      EXPECT_EQ(v->vt, VT_BOOL);
      return v->boolVal == VARIANT_TRUE;
    };
    EXPECT_EQ(text(L"strCurrentChar"), e.current);
    EXPECT_EQ(text(L"strPrevChar"), e.prev);
    EXPECT_EQ(text(L"strNextChar"), e.next);
    EXPECT_EQ(flag(L"bIsLeftParen"), e.left);
    EXPECT_EQ(flag(L"bIsRightParen"), e.right);
    EXPECT_EQ(flag(L"bIsEmptyParens"), e.empty);
    EXPECT_EQ(flag(L"bIsArgSeparator"), e.separator);
    EXPECT_EQ(flag(L"bIsStringLiteral"), e.literal);
    EXPECT_EQ(flag(L"bIsNotParen"), e.notParen);
  }

  // SetQuoteType updates the caller's variables.
  UniqueVariant type = Text(L"LEFT_QUOTE");
  UniqueVariant at = Long(6);
  UniqueVariant prev = Text(L"");
  UniqueVariant prevPrev = Text(L"");
  UniqueVariant isQuote;
  isQuote->vt = VT_BOOL;
  isQuote->boolVal = VARIANT_FALSE;
  UniqueVariant none;
  ASSERT_EQ(Call(object.get(), L"SetQuoteType",
                 {Ref(isQuote.get()), Ref(prevPrev.get()), Ref(prev.get()), Ref(at.get()), Ref(table.get()),
                  Ref(type.get())},
                 none.get()),
            S_OK);
  ASSERT_EQ(prev->vt, VT_BSTR);
  EXPECT_EQ(FromBstr(prev->bstrVal), u"LEFT_QUOTE");
  EXPECT_EQ(isQuote->vt, VT_BOOL);
  EXPECT_EQ(isQuote->boolVal, VARIANT_TRUE);

  // RemoveSpacesInLastLine and GetIndentSpacesCount, plain values through by-reference slots.
  UniqueVariant lines = Text(L"a\n   ");
  UniqueVariant trimmed;
  ASSERT_EQ(Call(object.get(), L"RemoveSpacesInLastLine", {Ref(lines.get())}, trimmed.get()), S_OK);
  EXPECT_EQ(trimmed->vt, VT_BSTR);
  UniqueVariant wrongType = Text(L"not a number");
  UniqueVariant unused;
  EXPECT_EQ(Call(object.get(), L"CheckChar", {Ref(table.get()), Ref(wrongType.get())}, unused.get()),
            DISP_E_EXCEPTION);
}

TEST_F(ComClient, LifetimeExports) {
  auto getClassObject = Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(library_, "DllGetClassObject");
  auto canUnload = Export<HRESULT(STDAPICALLTYPE*)()>(library_, "DllCanUnloadNow");
  ASSERT_NE(getClassObject, nullptr);
  ASSERT_NE(canUnload, nullptr);
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(none, nullptr);

  ::CoFreeUnusedLibraries();
  EXPECT_EQ(canUnload(), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(getClassObject(kClsid, IID_IClassFactory, reinterpret_cast<void**>(factory.Receive())), S_OK);
  EXPECT_EQ(canUnload(), S_FALSE) << "a factory lives";
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory.Reset();
  EXPECT_EQ(canUnload(), S_FALSE) << "a lock lives";
  ComPtr<IClassFactory> again;
  ASSERT_EQ(getClassObject(kClsid, IID_IClassFactory, reinterpret_cast<void**>(again.Receive())), S_OK);
  ASSERT_EQ(again->LockServer(FALSE), S_OK);
  ComPtr<IDispatch> object;
  ASSERT_EQ(again->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(object.Receive())), S_OK);
  again.Reset();
  EXPECT_EQ(canUnload(), S_FALSE) << "an object lives";
  object.Reset();
  EXPECT_EQ(canUnload(), S_OK);
}

}  // namespace
