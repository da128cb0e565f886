#include "platform/win32/registry_store.h"

#include <vector>

#include "platform/win32/registry.h"
#include "platform/win32/text.h"

namespace corvane::win32 {

RegistrySettingsStore::RegistrySettingsStore(HKEY root, std::wstring base) : root_(root), base_(std::move(base)) {}

std::wstring RegistrySettingsStore::SectionPath(std::u16string_view appName, std::u16string_view section) const {
  return base_ + L"\\" + Wide(appName) + L"\\" + Wide(section);
}

std::u16string RegistrySettingsStore::GetSetting(std::u16string_view appName, std::u16string_view section,
                                                 std::u16string_view key, std::u16string_view defaultValue) {
  UniqueKey sectionKey;
  if (OpenKey(root_, SectionPath(appName, section), KEY_QUERY_VALUE, sectionKey) != ERROR_SUCCESS)
    return std::u16string(defaultValue);
  const std::wstring name = Wide(key);
  // The value may grow between the size query and the read: retry with the new size.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0;
    DWORD bytes = 0;
    if (::RegQueryValueExW(sectionKey.get(), name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
      return std::u16string(defaultValue);
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    const LONG status = ::RegQueryValueExW(sectionKey.get(), name.c_str(), nullptr, &type,
                                           reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) return std::u16string(defaultValue);
    std::size_t length = size / sizeof(wchar_t);
    while (length > 0 && buffer[length - 1] == L'\0') --length;  // the stored terminator
    return FromWide(std::wstring_view(buffer.data(), length));
  }
  return std::u16string(defaultValue);
}

void RegistrySettingsStore::SaveSetting(std::u16string_view appName, std::u16string_view section,
                                        std::u16string_view key, std::u16string_view value) {
  UniqueKey sectionKey;
  LONG status = CreateKey(root_, SectionPath(appName, section), sectionKey);
  if (status == ERROR_SUCCESS) status = SetString(sectionKey.get(), Wide(key), Wide(value));
  if (status != ERROR_SUCCESS)
    throw AutomationError(err::kApplicationDefined, u"The setting could not be saved in the registry (error " +
                                                        DecimalKey(status) + u").");
}

// Asks to be told of the next change anywhere below the applications' key.
bool RegistrySettingsStore::Watch() {
  if (!watched_ && OpenKey(root_, base_, KEY_NOTIFY, watched_) != ERROR_SUCCESS) return false;
  if (!changed_) changed_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!changed_) return false;
  ::ResetEvent(changed_.get());
  return ::RegNotifyChangeKeyValue(watched_.get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                   changed_.get(), TRUE) == ERROR_SUCCESS;
}

StoreVersion RegistrySettingsStore::Version() {
  const bool watching = watched_ && changed_;
  if (watching && ::WaitForSingleObject(changed_.get(), 0) == WAIT_TIMEOUT) return {number_, changes_, 0};
  // First call, or something changed since the last: count it and watch again. A change between
  // the two is caught by the new watch's first answer or has already been read.
  ++changes_;
  if (!Watch()) {
    watched_.reset();
    return {};
  }
  return {number_, changes_, 0};
}

}  // namespace corvane::win32
