#include "platform/posix/file_delivery.h"
#include "platform/posix/posix_platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

#include "base/utf8.h"

namespace corvane::posix {

namespace {

// Every byte that does not start a well-formed character becomes U+FFFD.
std::u16string FromUtf8(std::string_view bytes) {
  return utf8::Utf8ToUtf16(bytes, [](unsigned char) { return static_cast<char16_t>(utf8::kReplacement); });
}

[[noreturn]] void Fail(int error, const std::string& path) {
  const std::int32_t number = error == ENOENT || error == ENOTDIR ? err::kPathNotFound
                              : error == EACCES || error == EPERM || error == EROFS || error == EISDIR
                                  ? err::kPermissionDenied
                                  : err::kDeviceIO;
  throw AutomationError(number, FromUtf8("Cannot write " + path + ": " + std::strerror(error)));
}

// Closes the descriptor and removes the temporary file unless the rename has taken it over.
class TempFile {
 public:
  TempFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Closes now, reporting the error a delayed write may only show here.
  int Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
  }
  void Release() { path_.clear(); }

 private:
  int fd_;
  std::string path_;
};

}  // namespace

void PosixFileSystem::WriteTextFileReplacing(std::u16string_view path16, std::u16string_view text) {
  const std::string path = PathToBytes(path16);
  if (path.empty() || path.back() == '/' || path.find('\0') != std::string::npos) Fail(ENOENT, path);
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));

  // The temporary name is short, so that it fits wherever the final name fits.
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device entropy;
  std::string tempPath;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    std::string name = ".corvane-";
    for (int i = 0; i < 8; ++i) name.push_back(kLetters[entropy() % (sizeof kLetters - 1)]);
    name += ".tmp";
    tempPath = folder == "/" ? std::string() : folder;
    tempPath.append("/").append(name);
    fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) Fail(errno, path);
  }
  if (fd < 0) Fail(EEXIST, path);
  TempFile temp(fd, tempPath);

  const std::string bytes = ToUtf8(text);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(temp.fd(), bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno, path);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(temp.fd()) != 0) Fail(errno, path);
  if (const int error = temp.Close(); error != 0) Fail(error, path);
  if (::rename(temp.path().c_str(), path.c_str()) != 0) Fail(errno, path);
  temp.Release();
}

std::u16string PosixEnvironment::GetVariable(std::u16string_view name) {
  const std::string key = ToUtf8(name);
  if (key.empty() || key.find('=') != std::string::npos || key.find('\0') != std::string::npos) return {};
  const char* value = std::getenv(key.c_str());
  return value ? PathFromBytes(value) : std::u16string();
}

std::u16string PosixEnvironment::TempFolder() {
  const char* tmpdir = std::getenv("TMPDIR");
  return tmpdir && *tmpdir ? PathFromBytes(tmpdir) : std::u16string(u"/tmp");
}

PosixEditorLauncher::PosixEditorLauncher(std::string opener) : shell_(std::move(opener)) {}

bool PosixEditorLauncher::DisplayAvailable() {
  const auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

void PosixEditorLauncher::OpenInEditor(std::u16string_view path) noexcept {
  if (!DisplayAvailable()) return;
  try {
    // The shell backgrounds the opener and ends at once; the result does not matter here.
    (void)shell_.ShellOpen(u"open", path, u"", u"", 1);
  } catch (...) {
    // An editor that cannot be started is not started.
  }
}

}  // namespace corvane::posix
