#include "hosts/xlsx/safe_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <thread>

#include "base/automation.h"
#include "hosts/xlsx/xml_text.h"

namespace corvane::xlsx {

namespace {

std::u16string Text(std::string_view utf8) {
  auto wide = Utf16(utf8);
  return wide ? *wide : Ascii16("(a name that is not UTF-8)");
}

const char* KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// ---- The temporary file under signals ----

// Signals that end the process by default and that a user or a session sends to stop a run.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The temporary file's path, for the handler: a fixed buffer, set while those signals are blocked.
char gTempPath[PATH_MAX];
volatile std::sig_atomic_t gTempArmed = 0;
struct sigaction gPrevious[std::size(kEndingSignals)] {};
bool gHandled[std::size(kEndingSignals)] = {};
struct sigaction gPreviousFileSize {};

extern "C" void RemoveTempAndReraise(int sig) {
  if (gTempArmed) {
    ::unlink(gTempPath);
    gTempArmed = 0;
  }
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
    if (kEndingSignals[i] == sig) sigaction(sig, &gPrevious[i], nullptr);
  raise(sig);
}

// Holds the ending signals back while it lives, so that the path and the flag change together.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : kEndingSignals) sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_{};
};

}  // namespace

int OpenRegularFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) FailErrno(path, "cannot be opened", errno);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    FailErrno(path, "cannot be examined", error);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    Fail(err::kApplicationDefined, path,
         std::string("is ") + KindOf(st.st_mode) + ", not a workbook file; it was not read.");
  }
  // Reads of a regular file never block; the flag goes so that the descriptor behaves as usual.
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

std::string CheckReplaceable(const std::string& target) {
  std::string resolved = target;
  struct stat st;
  if (lstat(target.c_str(), &st) != 0) return resolved;  // a new name; its folder decides later
  if (S_ISLNK(st.st_mode)) {
    char buffer[PATH_MAX];
    if (!realpath(target.c_str(), buffer)) FailErrno(target, "names a link that cannot be followed", errno);
    resolved = buffer;
    if (stat(resolved.c_str(), &st) != 0) return resolved;
  }
  if (!S_ISREG(st.st_mode))
    Fail(err::kApplicationDefined, target,
         std::string("is ") + KindOf(st.st_mode) +
             "; a workbook is written only to a regular file or a new name. Nothing was written.");
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(resolved.c_str(), W_OK) != 0)
    Fail(err::kPermissionDenied, target, "is read-only; it was not replaced.");
  return resolved;
}

// ---- FileLock ----

FileLock::FileLock(const std::string& path, std::chrono::milliseconds patience, const std::function<void()>& waiting) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  bool told = false;
  for (;;) {
    const int fd = OpenRegularFile(path);
    bool locked = false;
    while (!locked) {
      if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        locked = true;
        continue;
      }
      const int error = errno;
      if (error == EINTR) continue;
      if (error == ENOLCK || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL) break;  // no locks here
      if (error != EWOULDBLOCK) {
        ::close(fd);
        FailErrno(path, "cannot be locked", error);
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        ::close(fd);
        Fail(err::kApplicationDefined, path,
             "is still locked by another run (of this program or another one); it was not changed. Run the command "
             "again when that run has finished.");
      }
      if (!told && waiting) waiting();
      told = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The run that held the lock may have replaced the file: the lock must be on the one the
    // path names now.
    struct stat held, now;
    if (!locked || (fstat(fd, &held) == 0 && stat(path.c_str(), &now) == 0 && held.st_dev == now.st_dev &&
                    held.st_ino == now.st_ino)) {
      fd_ = fd;
      return;
    }
    ::close(fd);
  }
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);
}

// ---- AtomicFile ----

AtomicFile::SignalCleanup::SignalCleanup() {
  struct sigaction action {};
  action.sa_handler = RemoveTempAndReraise;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    // A signal ignored on purpose (nohup) stays ignored.
    struct sigaction current {};
    gHandled[i] = sigaction(kEndingSignals[i], nullptr, &current) == 0 && current.sa_handler != SIG_IGN &&
                  sigaction(kEndingSignals[i], &action, &gPrevious[i]) == 0;
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &gPreviousFileSize);
}

AtomicFile::SignalCleanup::~SignalCleanup() {
  const SignalsHeld held;
  gTempArmed = 0;
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
    if (gHandled[i]) sigaction(kEndingSignals[i], &gPrevious[i], nullptr);
  sigaction(SIGXFSZ, &gPreviousFileSize, nullptr);
}

AtomicFile::AtomicFile(const std::string& target) : final_(CheckReplaceable(target)) {
  const std::string folder = FolderOf(final_);
  const auto slash = final_.rfind('/');
  const std::string base = slash == std::string::npos ? final_ : final_.substr(slash + 1);
  std::string pattern = folder + "/." + base + ".corvane-XXXXXX";
  if (pattern.size() >= sizeof gTempPath) FailErrno(final_, "cannot be written", ENAMETOOLONG);
  {
    // Created and recorded for the signal handler as one step.
    const SignalsHeld held;
    fd_ = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ >= 0) {
      std::memcpy(gTempPath, pattern.c_str(), pattern.size() + 1);
      gTempArmed = 1;
    }
  }
  if (fd_ < 0) FailErrno(final_, "cannot be written (no temporary file in its folder)", errno);
  temp_ = pattern;
  struct stat st;
  if (stat(final_.c_str(), &st) == 0) {
    fchmod(fd_, st.st_mode & 07777);
    if (fchown(fd_, st.st_uid, st.st_gid) != 0) {
      // Only the owner's group may be kept by an ordinary user; the permissions are what matter.
    }
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
  }
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_.empty()) ::unlink(temp_.c_str());
  gTempArmed = 0;
}

void AtomicFile::Append(const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd_, bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      FailErrno(final_, "cannot be written; it was not changed", errno);
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
}

void AtomicFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, bytes, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      FailErrno(final_, "cannot be written; it was not changed", errno);
    }
    bytes += n;
    offset += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
}

void AtomicFile::ReadAt(std::uint64_t offset, void* data, std::size_t size) {
  char* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::pread(fd_, bytes, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) FailErrno(final_, "cannot be written; it was not changed", n < 0 ? errno : EIO);
    bytes += n;
    offset += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
}

void AtomicFile::Commit(const struct stat* expected) {
  if (fsync(fd_) != 0) FailErrno(final_, "cannot be written; it was not changed", errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) FailErrno(final_, "cannot be written; it was not changed", errno);
  if (expected) {
    struct stat now;
    if (stat(final_.c_str(), &now) != 0 || now.st_dev != expected->st_dev || now.st_ino != expected->st_ino ||
        now.st_size != expected->st_size || now.st_mtim.tv_sec != expected->st_mtim.tv_sec ||
        now.st_mtim.tv_nsec != expected->st_mtim.tv_nsec)
      Fail(err::kApplicationDefined, final_,
           "was changed by another program since it was read; it was not overwritten. Run the command again.");
  }
  // Something other than a file may have taken the name since the start.
  struct stat there;
  if (lstat(final_.c_str(), &there) == 0 && !S_ISREG(there.st_mode))
    Fail(err::kApplicationDefined, final_,
         std::string("is now ") + KindOf(there.st_mode) + "; it was not replaced. Nothing was written.");
  {
    // A signal now finds either the temporary file or the renamed one, never a name half taken.
    const SignalsHeld held;
    if (::rename(temp_.c_str(), final_.c_str()) != 0)
      FailErrno(final_, "cannot be replaced; it was not changed", errno);
    gTempArmed = 0;
    temp_.clear();
  }
  const int dir = ::open(FolderOf(final_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    ::close(dir);
  }
}

void Fail(std::int32_t number, const std::string& path, const std::string& why) {
  throw AutomationError(number, u"\"" + Text(path) + u"\" " + Text(why));
}

void FailErrno(const std::string& path, const std::string& doing, int error) {
  const std::int32_t number = error == ENOENT                                        ? err::kFileNotFound
                              : error == EACCES || error == EPERM || error == EROFS ? err::kPermissionDenied
                              : error == ENOTDIR                                     ? err::kPathNotFound
                                                                                     : err::kDeviceIO;
  Fail(number, path, doing + ": " + std::strerror(error) + ".");
}

}  // namespace corvane::xlsx
