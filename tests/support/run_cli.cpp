#include "support/run_cli.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <stdexcept>

#ifndef CORVANE_CLI_PATH
#error "CORVANE_CLI_PATH must name the corvane program"
#endif

namespace corvane::testing {
namespace {

// The argument vector execv takes, over `words` (which must outlive it).
std::vector<char*> Argv(std::vector<std::string>& words) {
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return argv;
}

}  // namespace

CliResult RunCli(const std::vector<std::string>& args, const std::string& input,
                 const std::vector<std::pair<std::string, std::string>>& env, void (*beforeExec)()) {
  // A program that exits without reading all its input must not take the test down with SIGPIPE.
  static const bool kPipeIgnored = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
  (void)kPipeIgnored;
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    std::signal(SIGPIPE, SIG_DFL);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<std::string> words = {CORVANE_CLI_PATH};
    words.insert(words.end(), args.begin(), args.end());
    const std::vector<char*> argv = Argv(words);
    if (beforeExec != nullptr) beforeExec();
    execv(CORVANE_CLI_PATH, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // Feed input and drain both outputs together so that no pipe fills up and blocks.
  std::size_t written = 0;
  if (input.empty()) {
    close(in[1]);
    in[1] = -1;
  } else {
    fcntl(in[1], F_SETFL, O_NONBLOCK);
  }
  CliResult result;
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen || in[1] >= 0) {
    pollfd fds[3] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}, {in[1], POLLOUT, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    char buffer[65536];
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
      if (n > 0) {
        (k == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
      } else {
        (k == 0 ? outOpen : errOpen) = false;
      }
    }
    if (in[1] >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t n = write(in[1], input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      if (n < 0 && errno != EAGAIN) written = input.size();
      if (written == input.size()) {
        close(in[1]);
        in[1] = -1;
      }
    }
  }
  close(out[0]);
  close(err[0]);
  int status = 0;
  struct rusage usage {};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return result;
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.peakKilobytes = usage.ru_maxrss;
  return result;
}

pid_t SpawnCli(const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) dup2(null, fd);
    std::vector<std::string> words = {CORVANE_CLI_PATH};
    words.insert(words.end(), args.begin(), args.end());
    const std::vector<char*> argv = Argv(words);
    execv(CORVANE_CLI_PATH, argv.data());
    _exit(127);
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
