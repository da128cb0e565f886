// The settings store of the Windows build: the per-user registry, where the macro language's
// GetSetting and SaveSetting keep it, HKCU\Software\VB and VBA Program Settings\<app>\<section>,
// one string value per key.
// Contract: a key, section or application that does not exist, or a value that is not a string,
// reads as the default; saving creates the keys as needed and throws AutomationError when the
// registry refuses. Version() is known once the applications' key exists: the registry's change
// notification on it (its whole tree) tells of every change, by this process or another, seen
// at the next call; until the key exists, and when the notification cannot be had, the version
// is unknown.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/platform.h"
#include "platform/win32/handles.h"
#include "platform/win32/registry.h"

namespace corvane::win32 {

class RegistrySettingsStore final : public SettingsStore {
 public:
  // `root` and `base`: where the applications live (the per-user default above).
  explicit RegistrySettingsStore(HKEY root = HKEY_CURRENT_USER,
                                 std::wstring base = L"Software\\VB and VBA Program Settings");

  std::u16string GetSetting(std::u16string_view appName, std::u16string_view section, std::u16string_view key,
                            std::u16string_view defaultValue) override;
  void SaveSetting(std::u16string_view appName, std::u16string_view section, std::u16string_view key,
                   std::u16string_view value) override;
  StoreVersion Version() override;

 private:
  std::wstring SectionPath(std::u16string_view appName, std::u16string_view section) const;
  bool Watch();
  HKEY root_;
  std::wstring base_;
  const std::uint64_t number_ = NewStoreNumber();
  std::uint64_t changes_ = 0;
  UniqueKey watched_;
  UniqueHandle changed_;
};

}  // namespace corvane::win32
