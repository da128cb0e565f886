#include "support/run_cli.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "support/files.h"

#ifndef CORVANE_CLI_PATH
#error "CORVANE_CLI_PATH must name the corvane program"
#endif

namespace corvane::testing {
namespace {

// In the child: `fd` becomes the file `path` (created or emptied) when one is named.
void Redirect(int fd, const std::string& path) {
  if (!path.empty()) dup2(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), fd);
}

// In the child: runs the program with `args`; never returns.
[[noreturn]] void Exec(const std::vector<std::string>& args) {
  std::vector<std::string> words = {CORVANE_CLI_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  execv(CORVANE_CLI_PATH, argv.data());
  _exit(127);
}

}  // namespace

CliResult RunCli(const std::vector<std::string>& args, const std::string& input,
                 const std::vector<std::pair<std::string, std::string>>& env, void (*beforeExec)()) {
  // A program that exits without reading all its input must not take the test down with SIGPIPE.
  static const bool kPipeIgnored = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
  (void)kPipeIgnored;
  // Input through a pipe, read as it comes; the outputs into files, so that nothing blocks.
  std::string dir = (std::filesystem::temp_directory_path() / "corvane-run-XXXXXX").string();
  int in[2];
  if (!mkdtemp(dir.data()) || pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("mkdtemp or pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(in[0], 0);
    Redirect(1, dir + "/out");
    Redirect(2, dir + "/err");
    std::signal(SIGPIPE, SIG_DFL);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    if (beforeExec != nullptr) beforeExec();
    Exec(args);
  }
  close(in[0]);
  std::thread feeder([&] {
    for (std::size_t done = 0; done < input.size();) {
      const ssize_t n = write(in[1], input.data() + done, input.size() - done);
      if (n < 0 && errno != EINTR) break;
      done += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    close(in[1]);
  });
  int status = 0;
  struct rusage usage {};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  feeder.join();
  CliResult result{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), usage.ru_maxrss,
                   testsupport::ReadBytes(dir + "/out"), testsupport::ReadBytes(dir + "/err")};
  std::filesystem::remove_all(dir);
  return result;
}

pid_t SpawnCli(const std::vector<std::string>& args, const std::string& errFile) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) dup2(null, fd);
    Redirect(2, errFile);
    Exec(args);
  }
  return pid;
}

int WaitCli(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace corvane::testing
