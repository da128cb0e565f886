// The Windows services behind the core's seams: the registry settings store, the text file
// written in the ANSI code page and moved into place, the environment, and Notepad's start.
#include <windows.h>

#include <string>
#include <vector>

#include "support/harness.h"
#include "platform/win32/registry.h"
#include "platform/win32/registry_store.h"
#include "platform/win32/text.h"
#include "platform/win32/win32_files.h"

namespace corvane::wintest {
namespace {

using win32::FromWide;
using win32::Wide;

// A registry folder of this test process, removed again at the end.
class RegistryStore : public ::testing::Test {
 protected:
  void SetUp() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str()); }
  void TearDown() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, base_.c_str());
  }
  const std::wstring base_ = L"Software\\Corvane tests " + std::to_wstring(::GetCurrentProcessId());
};

TEST_F(RegistryStore, KeepsTextValuesAndAnswersTheDefaultForAnythingElse) {
  win32::RegistrySettingsStore store(HKEY_CURRENT_USER, base_);
  EXPECT_EQ(store.GetSetting(u"Corvane", u"Spacing_Arial", u"32", u"Not Found"), u"Not Found") << "nothing yet";
  store.SaveSetting(u"Corvane", u"Spacing_Arial", u"32", u"1");
  store.SaveSetting(u"Corvane", u"Spacing_Arial", u"40", u"0,5714");
  EXPECT_EQ(store.GetSetting(u"Corvane", u"Spacing_Arial", u"32", u"Not Found"), u"1");
  EXPECT_EQ(store.GetSetting(u"Corvane", u"Spacing_Arial", u"40", u"Not Found"), u"0,5714");
  EXPECT_EQ(store.GetSetting(u"Corvane", u"Spacing_Arial", u"41", u"Not Found"), u"Not Found") << "another key";
  EXPECT_EQ(store.GetSetting(u"Corvane", u"Special_Arial", u"32", u"Not Found"), u"Not Found") << "another section";
  EXPECT_EQ(store.GetSetting(u"Other", u"Spacing_Arial", u"32", u"0"), u"0") << "another application";

  // Overwritten, emptied (an empty value is a value), long, and beyond the basic Latin letters.
  store.SaveSetting(u"Corvane", u"Spacing_Arial", u"32", u"1,0001");
  EXPECT_EQ(store.GetSetting(u"Corvane", u"Spacing_Arial", u"32", u"Not Found"), u"1,0001");
  store.SaveSetting(u"Corvane", u"Settings", u"Format All Parens", u"");
  EXPECT_EQ(store.GetSetting(u"Corvane", u"Settings", u"Format All Parens", u"0"), u"");
  const std::u16string longText(5000, u'7');
  store.SaveSetting(u"Corvane", u"Special_Segoe UI \u00C9", u"8364", longText);
  EXPECT_EQ(store.GetSetting(u"Corvane", u"Special_Segoe UI \u00C9", u"8364", u"Not Found"), longText);

  // A value of another type (written by hand) counts as missing.
  win32::UniqueKey section;
  ASSERT_EQ(win32::OpenKey(HKEY_CURRENT_USER, base_ + L"\\Corvane\\Spacing_Arial", KEY_SET_VALUE, section),
            ERROR_SUCCESS);
  const DWORD number = 1;
  ASSERT_EQ(::RegSetValueExW(section.get(), L"50", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number),
            ERROR_SUCCESS);
  EXPECT_EQ(store.GetSetting(u"Corvane", u"Spacing_Arial", u"50", u"Not Found"), u"Not Found");
}

// The version a formulate run keeps its widths by: unknown until there is a key to watch, then
// the same while nothing changes and another after any change, by this store or another writer.
TEST_F(RegistryStore, ItsVersionChangesWithEveryChangeFromAnywhere) {
  win32::RegistrySettingsStore store(HKEY_CURRENT_USER, base_);
  EXPECT_FALSE(store.Version().known()) << "no key to watch yet";
  store.SaveSetting(u"Corvane", u"Spacing_Arial", u"32", u"1");
  const StoreVersion first = store.Version();
  ASSERT_TRUE(first.known());
  EXPECT_EQ(store.Version(), first);
  // The change notification comes from the registry, not always at once.
  const auto changedFrom = [&](const StoreVersion& was) {
    for (int wait = 0; wait < 200; ++wait, ::Sleep(10))
      if (store.Version() != was) return true;
    return false;
  };
  win32::RegistrySettingsStore other(HKEY_CURRENT_USER, base_);
  other.SaveSetting(u"Corvane", u"Spacing_Arial", u"40", u"0,5");
  EXPECT_TRUE(changedFrom(first)) << "another writer";
  const StoreVersion second = store.Version();
  EXPECT_EQ(store.Version(), second);
  store.SaveSetting(u"Corvane", u"Special_Arial", u"8364", u"1,1");
  EXPECT_TRUE(changedFrom(second)) << "its own save, in a new section";
}

TEST_F(RegistryStore, LivesWhereTheMacroLanguageKeepsItsSettings) {
  const std::u16string app = u"Corvane test " + DecimalKey(::GetCurrentProcessId());
  const std::wstring appKey = L"Software\\VB and VBA Program Settings\\" + Wide(app);
  win32::RegistrySettingsStore().SaveSetting(app, u"Spacing_Times New Roman", u"32", u"1");
  wchar_t data[16]{};
  DWORD bytes = sizeof data;
  DWORD type = 0;
  const LONG status = ::RegGetValueW(HKEY_CURRENT_USER, (appKey + L"\\Spacing_Times New Roman").c_str(), L"32",
                                     RRF_RT_ANY, &type, data, &bytes);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, appKey.c_str());
  ::RegDeleteKeyW(HKEY_CURRENT_USER, appKey.c_str());
  ASSERT_EQ(status, ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_STREQ(data, L"1");
}

TEST_F(RegistryStore, ASaveTheRegistryRefusesIsAnError) {
  // A key name may not be longer than 255 characters.
  win32::RegistrySettingsStore store(HKEY_CURRENT_USER, base_);
  const std::u16string section = u"Spacing_" + std::u16string(300, u'F');
  try {
    store.SaveSetting(u"Corvane", section, u"32", u"1");
    ADD_FAILURE() << "a section name the registry cannot hold was saved";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), err::kApplicationDefined);
    EXPECT_NE(e.description().find(u"registry"), std::u16string::npos);
  }
  EXPECT_EQ(store.GetSetting(u"Corvane", section, u"32", u"Not Found"), u"Not Found");
}

// A fresh folder of this test, emptied and removed at the end.
class TextFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH]{};
    ::GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"corvane files " + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(folder_.c_str(), nullptr);
  }
  void TearDown() override {
    for (const std::wstring& name : Names()) ::DeleteFileW((folder_ + L"\\" + name).c_str());
    ::RemoveDirectoryW(folder_.c_str());
  }
  std::vector<std::wstring> Names() const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((folder_ + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      if (std::wstring(found.cFileName) != L"." && std::wstring(found.cFileName) != L"..") names.push_back(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
  }
  std::string Bytes(const std::wstring& name) const {
    std::string bytes;
    const HANDLE file = ::CreateFileW((folder_ + L"\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    ::CloseHandle(file);
    return bytes;
  }
  std::u16string Path(const std::wstring& name) const { return FromWide(folder_ + L"\\" + name); }

  std::wstring folder_;
  win32::Win32FileSystem files_;
};

TEST_F(TextFiles, TheTextArrivesWholeInTheAnsiCodePageReplacingWhatWasThere) {
  const std::wstring name = L"Book1 - Sheet1 - B7 - formatted formula.txt";
  files_.WriteTextFileReplacing(Path(name), std::u16string(20000, u'x'));
  const std::u16string text = u"=SUM(\r\n       \"caf\u00E9\"\r\n    )\r\n";
  files_.WriteTextFileReplacing(Path(name), text);
  EXPECT_EQ(Bytes(name), win32::ToAnsi(text)) << "the shorter text replaced the longer one whole";
  if (::GetACP() == 1252) {
    EXPECT_EQ(Bytes(name).size(), text.size()) << "one byte a character";
  }
  EXPECT_EQ(Names(), std::vector<std::wstring>{name}) << "no temporary file is left beside it";
}

TEST_F(TextFiles, AFileThatCannotBeWrittenLeavesNothingBehind) {
  try {
    files_.WriteTextFileReplacing(FromWide(folder_ + L"\\no such folder\\a.txt"), u"text");
    ADD_FAILURE() << "written into a folder that does not exist";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), err::kPathNotFound) << win32::ToAnsi(e.description());
  }
  EXPECT_TRUE(Names().empty());
  // A folder stands where the file should go: the text is written, then cannot take its place.
  const std::wstring name = L"Book1 - Sheet1 - B7 - formatted formula.txt";
  ASSERT_TRUE(::CreateDirectoryW((folder_ + L"\\" + name).c_str(), nullptr));
  try {
    files_.WriteTextFileReplacing(Path(name), u"text");
    ADD_FAILURE() << "a folder was replaced by a file";
  } catch (const AutomationError& e) {
    EXPECT_NE(e.description().find(u"could not be written"), std::u16string::npos);
  }
  EXPECT_EQ(Names(), std::vector<std::wstring>{name}) << "no temporary file is left";
  ::RemoveDirectoryW((folder_ + L"\\" + name).c_str());
}

TEST(Environment, ReadsVariablesOfAnyLengthAndNamesTheTemporaryFolder) {
  win32::Win32Environment environment;
  const std::wstring value(1000, L'v');
  ASSERT_TRUE(::SetEnvironmentVariableW(L"CORVANE_TEST_VARIABLE", value.c_str()));
  EXPECT_EQ(environment.GetVariable(u"CORVANE_TEST_VARIABLE"), FromWide(value));
  ::SetEnvironmentVariableW(L"CORVANE_TEST_VARIABLE", nullptr);
  EXPECT_EQ(environment.GetVariable(u"CORVANE_TEST_VARIABLE"), u"");
  const std::u16string temp = environment.TempFolder();
  ASSERT_FALSE(temp.empty());
  EXPECT_NE(temp.back(), u'\\') << "no trailing separator";
  const DWORD attributes = ::GetFileAttributesW(Wide(temp).c_str());
  EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
}

TEST(Notepad, StartsWithTheUnquotedPathInANormalWindow) {
  std::vector<std::pair<std::wstring, WORD>> started;
  win32::NotepadLauncher launcher([&](const std::wstring& line, WORD show) {
    started.emplace_back(line, show);
    return true;
  });
  launcher.OpenInEditor(u"C:\\My Work\\Budget.xlsx - Q1 - B7 - formatted formula.txt");
  ASSERT_EQ(started.size(), 1U);
  EXPECT_EQ(started[0].first, L"notepad.exe C:\\My Work\\Budget.xlsx - Q1 - B7 - formatted formula.txt");
  EXPECT_EQ(started[0].second, SW_SHOWNORMAL);

  // Failing to start is not the caller's problem: the file is written either way.
  win32::NotepadLauncher failing([](const std::wstring&, WORD) -> bool { throw std::runtime_error("no Notepad"); });
  EXPECT_NO_THROW(failing.OpenInEditor(u"C:\\a.txt"));
  EXPECT_FALSE(win32::NotepadLauncher::StartProcess(L"no-such-program-anywhere.exe C:\\a.txt", SW_SHOWNORMAL));
}

}  // namespace
}  // namespace corvane::wintest
