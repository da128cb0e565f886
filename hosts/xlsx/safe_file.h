// Reading and replacing a workbook file without losing anything: only regular files are opened
// or replaced, a read-modify-write holds a lock that other runs wait for, and a replacement is
// written beside the target and renamed over it, leaving nothing behind on any exit path that can
// run code.
// Contract:
//  - OpenRegularFile opens for reading without ever blocking (a FIFO would hang a plain open) and
//    refuses, with a clear AutomationError, anything that is not a regular file.
//  - CheckReplaceable refuses, touching nothing, a target that exists and is not a regular file
//    (a FIFO, a device, a folder, a socket; a symbolic link is followed to what it names) or that
//    is read-only: no write bit at all in its mode (so that root, whom access() lets write
//    anything, is refused too), or no write permission for this user (AutomationError 70).
//  - FileLock holds an exclusive flock on a file until it is destroyed or the process ends. A lock
//    held elsewhere is waited for, at most `patience`, after `waiting` is called once; a file
//    replaced meanwhile (by the run that held the lock) is opened and locked again, so that the
//    lock is always on the file the path names. Where the file system has no locks, none is held.
//  - AtomicFile writes a temporary ".NAME.corvane-XXXXXX" beside the target (a symbolic link
//    there is followed to the file it names), checks the target with CheckReplaceable first and
//    again just before the rename, and removes the temporary file on failure, on destruction, and
//    when SIGINT, SIGTERM, SIGHUP or SIGQUIT ends the process (the signal's previous action is then
//    restored and the signal raised again). SIGXFSZ is ignored while it exists, so that reaching
//    the file size limit fails the write (EFBIG) and takes the ordinary error path.
//  - Fail and FailErrno are the one way the workbook file's code reports a file's failure: the
//    path (shown even when it is not UTF-8) and what went wrong, with the matching error number.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace corvane::xlsx {

int OpenRegularFile(const std::string& path);

// Gives the path a save would replace (the link at `target` followed).
std::string CheckReplaceable(const std::string& target);

class FileLock {
 public:
  FileLock(const std::string& path, std::chrono::milliseconds patience, const std::function<void()>& waiting);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_ = -1;
};

// Writes bytes to `target` atomically (temporary file in the same folder, flushed, renamed over
// the target), with the permissions of the file it replaces, else 0666 less the umask. Throws
// AutomationError naming the path and the system's reason; nothing is left behind.
// Throws AutomationError(number) saying "PATH" why.
[[noreturn]] void Fail(std::int32_t number, const std::string& path, const std::string& why);
// Throws for an errno: file not found, permission denied, path not found, or device I/O.
[[noreturn]] void FailErrno(const std::string& path, const std::string& doing, int error);

class AtomicFile {
 public:
  explicit AtomicFile(const std::string& target);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void Append(const void* data, std::size_t size);
  // Writes or reads bytes at a place in the temporary file (the package writer goes back to
  // complete the headers of what it has written).
  void WriteAt(std::uint64_t offset, const void* data, std::size_t size);
  void ReadAt(std::uint64_t offset, void* data, std::size_t size);
  // Flushes, checks `expected` (when given) still names the target, renames over it.
  void Commit(const struct stat* expected);
  const std::string& finalPath() const { return final_; }

 private:
  // Removes the temporary file when a signal ends the process; restores the signals' actions.
  class SignalCleanup {
   public:
    SignalCleanup();
    ~SignalCleanup();
    SignalCleanup(const SignalCleanup&) = delete;
    SignalCleanup& operator=(const SignalCleanup&) = delete;
  };

  SignalCleanup signals_;
  std::string final_;
  std::string temp_;
  int fd_ = -1;
};

}  // namespace corvane::xlsx
