// The POSIX side of the text-file delivery: replacing writes, the temporary folder, and starting
// the desktop's opener without waiting and without leaving a child behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "platform/posix/file_delivery.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::u16string Path16(const fs::path& path) {
  const std::string s = path.string();
  return std::u16string(s.begin(), s.end());  // the test folders are ASCII
}

class TempDir {
 public:
  TempDir() {
    std::string templ = (fs::temp_directory_path() / "corvane-delivery-XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  std::size_t Entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(path_), {})); }

 private:
  fs::path path_;
};

// Sets or unsets an environment variable for as long as it lives.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvVar() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(PosixFileSystem, WritesUtf8AndReplacesAFileOrALinkWithoutFollowingIt) {
  TempDir dir;
  posix::PosixFileSystem files;
  const fs::path target = dir.path() / "Book1 - Sheet1 - A1 - formatted formula.txt";

  files.WriteTextFileReplacing(Path16(target), u"=SUM(\u20AC)\r\n  \U0001F600\r\n");
  EXPECT_EQ(Slurp(target), "=SUM(\xE2\x82\xAC)\r\n  \xF0\x9F\x98\x80\r\n");

  files.WriteTextFileReplacing(Path16(target), u"short\r\n");
  EXPECT_EQ(Slurp(target), "short\r\n");

  // A link planted at the name is replaced by the file; what it pointed to is untouched.
  const fs::path victim = dir.path() / "victim.txt";
  std::ofstream(victim) << "keep me";
  fs::remove(target);
  fs::create_symlink(victim, target);
  files.WriteTextFileReplacing(Path16(target), u"formula\r\n");
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(target)));
  EXPECT_EQ(Slurp(target), "formula\r\n");
  EXPECT_EQ(Slurp(victim), "keep me");

  // A dangling link is no way out of the folder either.
  fs::remove(target);
  fs::create_symlink(dir.path() / "elsewhere" / "made.txt", target);
  files.WriteTextFileReplacing(Path16(target), u"x");
  EXPECT_EQ(Slurp(target), "x");
  EXPECT_FALSE(fs::exists(dir.path() / "elsewhere"));

  // No temporary file is left beside it.
  EXPECT_EQ(dir.Entries(), 2U);
}

TEST(PosixFileSystem, AFileThatCannotBeWrittenThrowsAndLeavesNothing) {
  TempDir dir;
  posix::PosixFileSystem files;
  EXPECT_THROW(files.WriteTextFileReplacing(Path16(dir.path() / "missing" / "f.txt"), u"x"), AutomationError);

  // A folder standing at the name is not replaced.
  fs::create_directory(dir.path() / "taken");
  EXPECT_THROW(files.WriteTextFileReplacing(Path16(dir.path() / "taken"), u"x"), AutomationError);
  EXPECT_TRUE(fs::is_directory(dir.path() / "taken"));
  EXPECT_EQ(dir.Entries(), 1U);

  if (geteuid() != 0) {
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_THROW(files.WriteTextFileReplacing(Path16(dir.path() / "f.txt"), u"x"), AutomationError);
    fs::permissions(dir.path(), fs::perms::owner_all);
    EXPECT_EQ(dir.Entries(), 1U);
  }
}

TEST(PosixEnvironment, TheTemporaryFolderIsTmpdirElseSlashTmp) {
  const TempDir dir;  // before TMPDIR changes
  posix::PosixEnvironment env;
  {
    EnvVar tmpdir("TMPDIR", "/run/user/1000");
    EXPECT_EQ(env.TempFolder(), u"/run/user/1000");
  }
  EnvVar tmpdir("TMPDIR", "");
  EXPECT_EQ(env.TempFolder(), u"/tmp");
  // A value that is not UTF-8 keeps its bytes, so that a file can still be made in that folder.
  const fs::path latin1 = dir.path() / "caf\xE9";
  fs::create_directory(latin1);
  EnvVar odd("tmp", latin1.c_str());
  const std::u16string folder = env.GetVariable(u"tmp");
  EXPECT_EQ(folder.substr(folder.size() - 4), u"caf\xDCE9");
  posix::PosixFileSystem().WriteTextFileReplacing(folder + u"/f.txt", u"x");
  EXPECT_EQ(Slurp(latin1 / "f.txt"), "x");
}

// An opener that notes its argument and where its output goes, then lingers.
class FakeOpener {
 public:
  explicit FakeOpener(const TempDir& dir) : script_(dir.path() / "opener"), log_(dir.path() / "opened.log") {
    std::ofstream(script_) << "#!/bin/sh\n"
                              "printf '%s|%s|%s|%s' \"$1\" \"$#\" \"$(readlink /proc/$$/fd/0)\" \"$(readlink /proc/$$/fd/1)\" > '"
                           << log_.string() << ".tmp'\n"
                              "mv '" << log_.string() << ".tmp' '" << log_.string() << "'\n"
                              "sleep 2\n";
    fs::permissions(script_, fs::perms::owner_all);
  }
  std::string opener() const { return script_.string(); }
  // What the opener logged, waiting up to `timeout` for it.
  std::optional<std::string> Logged(std::chrono::milliseconds timeout) const {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
      if (fs::exists(log_)) return Slurp(log_);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
  }

 private:
  fs::path script_;
  fs::path log_;
};

TEST(PosixEditorLauncher, StartsTheOpenerDetachedWithoutWaitingWhenADisplayIsThere) {
  TempDir dir;
  FakeOpener opener(dir);
  posix::PosixEditorLauncher launcher(opener.opener());
  EnvVar display("DISPLAY", ":0");
  EnvVar wayland("WAYLAND_DISPLAY", nullptr);
  const std::string file = (dir.path() / "Book1 - Sheet1 - A1 - formatted formula.txt").string();

  const auto start = std::chrono::steady_clock::now();
  launcher.OpenInEditor(std::u16string(file.begin(), file.end()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500)) << "waited for the editor";

  const auto logged = opener.Logged(std::chrono::seconds(10));
  ASSERT_TRUE(logged.has_value());
  EXPECT_EQ(*logged, file + "|1|/dev/null|/dev/null");
  // Nothing is left for this process to reap.
  int status = 0;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(PosixEditorLauncher, StartsNothingWithoutADisplayAndNeverFails) {
  TempDir dir;
  FakeOpener opener(dir);
  EnvVar display("DISPLAY", nullptr);
  EnvVar wayland("WAYLAND_DISPLAY", "");
  posix::PosixEditorLauncher(opener.opener()).OpenInEditor(u"/tmp/x.txt");
  EnvVar waylandOn("WAYLAND_DISPLAY", "wayland-0");
  posix::PosixEditorLauncher((dir.path() / "no-such-opener").string()).OpenInEditor(u"/tmp/x.txt");
  EXPECT_FALSE(opener.Logged(std::chrono::milliseconds(300)).has_value());
}

}  // namespace
}  // namespace corvane
