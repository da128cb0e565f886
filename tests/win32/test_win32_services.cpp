// The Windows services behind the core's seams, where the end-to-end tests (test_win32_excel)
// do not reach: the registry settings store's defaults, change tracking and refusals, and the
// text file replacing another whole.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/automation.h"
#include "platform/win32/registry.h"
#include "platform/win32/registry_store.h"
#include "platform/win32/text.h"
#include "platform/win32/win32_files.h"

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
  EXPECT_EQ(get(u"Spacing_Arial", u"40"), u"Not Found") << "another key";
  EXPECT_EQ(get(u"Special_Arial", u"32"), u"Not Found") << "another section";
  EXPECT_EQ(store.GetSetting(u"Other", u"Spacing_Arial", u"32", u"0"), u"0") << "another application";
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
  EXPECT_EQ(store.Version(), first);
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

TEST(TextFile, ReplacesTheOldOneWholeOrLeavesNothingBehind) {
  wchar_t temp[MAX_PATH]{};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"corvane files " + std::to_wstring(::GetCurrentProcessId());
  const std::wstring path = folder + L"\\Book1 - Sheet1 - B7 - formatted formula.txt";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const auto names = [&] {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data{};
    const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(search, &data))
      if (data.cFileName[0] != L'.') found.emplace_back(data.cFileName);
    if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
    return found;
  };
  win32::Win32FileSystem files;
  files.WriteTextFileReplacing(win32::FromWide(path), std::u16string(20000, u'x'));
  files.WriteTextFileReplacing(win32::FromWide(path), u"=SUM(\r\n");
  WIN32_FILE_ATTRIBUTE_DATA written{};
  ASSERT_TRUE(::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &written));
  EXPECT_EQ(written.nFileSizeLow, 7U) << "the shorter text replaced the longer one whole";
  EXPECT_EQ(names().size(), 1U) << "no temporary file is left beside it";
  ::DeleteFileW(path.c_str());

  const auto errorOf = [&](const std::wstring& target) {
    try {
      files.WriteTextFileReplacing(win32::FromWide(target), u"text");
    } catch (const AutomationError& e) {
      return e.number();
    }
    return 0;
  };
  EXPECT_EQ(errorOf(folder + L"\\no such folder\\a.txt"), err::kPathNotFound);
  // A folder stands where the file should go: the text is written, then cannot take its place.
  ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr));
  EXPECT_NE(errorOf(path), 0);
  EXPECT_EQ(names().size(), 1U) << "no temporary file is left";
  ::RemoveDirectoryW(path.c_str());
  ::RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace corvane::wintest
