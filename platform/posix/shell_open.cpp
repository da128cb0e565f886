#include "platform/posix/shell_open.h"
#include "platform/posix/posix_platform.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

extern char** environ;

namespace corvane::posix {

namespace {

constexpr std::int32_t kStarted = 42;
constexpr std::int32_t kFileNotFound = 2;
constexpr std::int32_t kNoAssociation = 31;

bool IsOpen(std::u16string_view operation) {
  if (operation.empty()) return true;
  if (operation.size() != 4) return false;
  for (std::size_t i = 0; i < 4; ++i) {
    char16_t c = operation[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != u"open"[i]) return false;
  }
  return true;
}

bool Executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

bool Installed(const std::string& program) {
  if (program.find('/') != std::string::npos) return Executable(program);
  const char* path = std::getenv("PATH");
  std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  while (!dirs.empty()) {
    const std::size_t colon = dirs.find(':');
    const std::string_view dir = dirs.substr(0, colon);
    if (!dir.empty() && Executable(std::string(dir) + "/" + program)) return true;
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  return false;
}

}  // namespace

PosixShell::PosixShell(std::string opener) : opener_(std::move(opener)) {}

std::int32_t PosixShell::ShellOpen(std::u16string_view operation, std::u16string_view file, std::u16string_view,
                                   std::u16string_view, std::int32_t) {
  if (!IsOpen(operation)) return kNoAssociation;
  if (file.empty() || file.find(u'\0') != std::u16string_view::npos) return kFileNotFound;
  if (!Installed(opener_)) return kNoAssociation;
  // The shell starts the opener in the background and ends at once, so the opener is nobody's
  // child here: waiting for the shell takes no time and leaves no zombie. The address travels as
  // an argument, never as shell text.
  std::string script = "\"$0\" \"$1\" </dev/null >/dev/null 2>&1 &";
  std::string sh = "sh";
  std::string dashC = "-c";
  std::string target = PathToBytes(file);
  char* argv[] = {sh.data(), dashC.data(), script.data(), opener_.data(), target.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) return kNoAssociation;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? kStarted : kNoAssociation;
}

}  // namespace corvane::posix
