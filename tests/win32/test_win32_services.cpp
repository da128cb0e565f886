// The registry settings store where the end-to-end tests (test_win32_excel) do not reach: its
// defaults, change tracking and refusals.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "base/automation.h"
#include "platform/win32/registry.h"
#include "platform/win32/registry_store.h"

namespace corvane::wintest {
namespace {

TEST(RegistryStore, KeepsTextValuesTracksChangesFromAnywhereAndRefusesWhatTheRegistryRefuses) {
  const std::wstring base = L"Software\\Corvane tests " + std::to_wstring(::GetCurrentProcessId());
  ::RegDeleteTreeW(HKEY_CURRENT_USER, base.c_str());
  win32::RegistrySettingsStore store(HKEY_CURRENT_USER, base);
  EXPECT_FALSE(store.Version().known()) << "no key to watch yet";
  const auto get = [&](const std::u16string& section, const std::u16string& key) {
    return store.GetSetting(u"Corvane", section, key, u"Not Found");
  };
  EXPECT_EQ(get(u"Spacing_Arial", u"32"), u"Not Found");
  const std::u16string longText(5000, u'7');
  store.SaveSetting(u"Corvane", u"Spacing_Arial", u"32", u"1");
  store.SaveSetting(u"Corvane", u"Spacing_Arial", u"32", u"0,5714");
  store.SaveSetting(u"Corvane", u"Settings", u"Format All Parens", u"");
  store.SaveSetting(u"Corvane", u"Special_Segoe UI \u00C9", u"8364", longText);
  EXPECT_EQ(get(u"Spacing_Arial", u"32"), u"0,5714");
  EXPECT_EQ(get(u"Settings", u"Format All Parens"), u"") << "an empty value is a value";
  EXPECT_EQ(get(u"Special_Segoe UI \u00C9", u"8364"), longText);
  // A value of another type (written by hand) counts as missing.
  win32::UniqueKey section;
  ASSERT_EQ(win32::OpenKey(HKEY_CURRENT_USER, base + L"\\Corvane\\Spacing_Arial", KEY_SET_VALUE, section), ERROR_SUCCESS);
  const DWORD number = 1;
  ::RegSetValueExW(section.get(), L"50", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  EXPECT_EQ(get(u"Spacing_Arial", u"50"), u"Not Found");

  // The version a formulate run keeps its widths by: the same while nothing changes, another
  // after a change by another writer or by a save of its own (the notification is not immediate).
  const auto changedFrom = [&](const StoreVersion& was) {
    for (int wait = 0; wait < 200; ++wait, ::Sleep(10))
      if (store.Version() != was) return true;
    return false;
  };
  const StoreVersion first = store.Version();
  ASSERT_TRUE(first.known());
  win32::RegistrySettingsStore(HKEY_CURRENT_USER, base).SaveSetting(u"Corvane", u"Spacing_Arial", u"40", u"0,5");
  EXPECT_TRUE(changedFrom(first)) << "another writer";
  const StoreVersion second = store.Version();
  store.SaveSetting(u"Corvane", u"Special_Arial", u"8364", u"1,1");
  EXPECT_TRUE(changedFrom(second)) << "its own save, in a new section";

  // A key name may not be longer than 255 characters.
  EXPECT_THROW(store.SaveSetting(u"Corvane", u"Spacing_" + std::u16string(300, u'F'), u"32", u"1"), AutomationError);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, base.c_str());
  ::RegDeleteKeyW(HKEY_CURRENT_USER, base.c_str());
}

}  // namespace
}  // namespace corvane::wintest
