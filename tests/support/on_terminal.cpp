#include "support/on_terminal.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/run_cli.h"

namespace corvane::testing {

Terminal::Terminal() {
  if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
}

Terminal::~Terminal() {
  if (slave_ >= 0) ::close(slave_);
  ::close(master_);
}

bool Terminal::WaitFor(const std::string& cue) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (cue.empty() || screen_.find(cue) == std::string::npos) {
    if (std::chrono::steady_clock::now() > until) return false;
    pollfd fd{master_, POLLIN, 0};
    if (::poll(&fd, 1, 100) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) {
      ended_ = true;
      return false;
    }
    screen_.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

void Terminal::Type(const std::string& keys) const { (void)!::write(master_, keys.data(), keys.size()); }

OnTerminal::OnTerminal(std::vector<std::string> args, const std::string& program) {
  args.insert(args.begin(), program.empty() ? std::string(CORVANE_CLI_PATH) : program);
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Made before the fork, as RunCli does: the child then calls nothing that may allocate.
  std::vector<std::string> variables = EnvironmentWith({{"DISPLAY", ""}, {"CORVANE", CORVANE_CLI_PATH}});
  std::vector<char*> envp;
  envp.reserve(variables.size() + 1);
  for (auto& v : variables) envp.push_back(v.data());
  envp.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setsid();
    for (int fd = 0; fd < 3; ++fd) ::dup2(slave_, fd);
    ::close(slave_);
    ::close(master_);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(slave_);
  slave_ = -1;  // the program's end only: its exit ends the screen
}

OnTerminal::~OnTerminal() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

int OnTerminal::Finish() {
  (void)WaitFor("");
  if (!ended_) ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace corvane::testing
