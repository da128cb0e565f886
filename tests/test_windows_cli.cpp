// `corvane settings` and `corvane about` as a user runs them, without a terminal: what the program
// prints and where it stores. What OK and the load step do is the settings window's (test_windows).
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/posix/sqlite_store.h"
#include "support/run_cli.h"

namespace corvane {
namespace {

using testing::RunCli;

class SettingsCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("corvane-settings-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    store_ = (dir_ / "settings.db").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::u16string Stored(std::u16string_view key) {
    return posix::SqliteStore(store_).GetSetting(u"Corvane", u"Settings", key, u"(missing)");
  }

  std::filesystem::path dir_;
  std::string store_;
};

TEST_F(SettingsCli, FlagsPressOkAndWithoutOneTheStoredStateIsShown) {
  auto result = RunCli({"settings", "--store", store_, "--always-notepad", "on"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "Format All Parens: off\nAlways Send to Notepad: on\n");
  EXPECT_EQ(Stored(u"Format All Parens"), u"0");
  EXPECT_EQ(Stored(u"Always Send to Notepad"), u"1");

  result = RunCli({"settings", "--store", store_, "--format-all-parens", "on", "--always-notepad", "off"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(Stored(u"Format All Parens"), u"1");
  EXPECT_EQ(Stored(u"Always Send to Notepad"), u"0");


  posix::SqliteStore(store_).SaveSetting(u"Corvane", u"Settings", u"Format All Parens", u"2");
  result = RunCli({"settings", "--store", store_});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "Format All Parens: on (shown greyed; OK stores it as on)\nAlways Send to Notepad: off\n");
  EXPECT_EQ(Stored(u"Format All Parens"), u"2") << "nothing written without a flag";
}

TEST_F(SettingsCli, AStoredValueThatFailsTheLoadIsNamedWithTheStore) {
  posix::SqliteStore(store_).SaveSetting(u"Corvane", u"Settings", u"Always Send to Notepad", u"-1");
  const auto result = RunCli({"settings", "--store", store_, "--format-all-parens", "on"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("\"Always Send to Notepad\" holds \"-1\""), std::string::npos) << result.err;
  EXPECT_NE(result.err.find(store_), std::string::npos) << result.err;
  EXPECT_EQ(Stored(u"Format All Parens"), u"(missing)") << "nothing saved";
}

TEST(AboutCli, PrintsTitleCopyrightAndAddress) {
  const auto result = RunCli({"about"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "Corvane 1.00, readable layout for Microsoft Excel formulas, by the Corvane project\n"
            "Copyright \u00A9 2026 the Corvane project\n"
            "https://corvane.dev/\n");
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace corvane
