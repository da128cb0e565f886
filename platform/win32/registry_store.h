// The settings store of the Windows build: the per-user registry, where the macro language's
// GetSetting and SaveSetting keep it, HKCU\Software\VB and VBA Program Settings\<app>\<section>,
// one string value per key.
// Contract: a key, section or application that does not exist, or a value that is not a string,
// reads as the default; saving creates the keys as needed and throws AutomationError when the
// registry refuses.
#pragma once

#include <windows.h>

#include <string>

#include "addin/platform.h"

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

 private:
  std::wstring SectionPath(std::u16string_view appName, std::u16string_view section) const;
  HKEY root_;
  std::wstring base_;
};

}  // namespace corvane::win32
