#include "support/run_cli.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <memory>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <thread>

#ifndef CORVANE_CLI_PATH
#error "CORVANE_CLI_PATH must name the corvane program"
#endif

namespace corvane::testing {

std::vector<std::string> EnvironmentWith(const Env& changes) {
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    const std::string_view name = variable.substr(0, variable.find('='));
    if (std::none_of(changes.begin(), changes.end(), [&](const auto& e) { return e.first == name; }))
      variables.emplace_back(variable);
  }
  // As setenv one after another would: a name given twice takes its last value.
  for (auto it = changes.begin(); it != changes.end(); ++it)
    if (std::none_of(it + 1, changes.end(), [&](const auto& e) { return e.first == it->first; }))
      variables.push_back(it->first + "=" + it->second);
  return variables;
}

CliResult RunCli(const std::vector<std::string>& args, const std::string& input, const Env& env,
                 void (*beforeExec)(), const std::function<void(pid_t)>& whileRunning) {
  // A program that exits without reading all its input must not take the test down with SIGPIPE.
  static const bool kPipeIgnored = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
  (void)kPipeIgnored;
  // Input through a pipe, read as it comes; the outputs into files, so that nothing blocks.
  const testsupport::TempFolder dir;
  const std::string out = (dir / "out").string(), err = (dir / "err").string();
  std::vector<std::string> words = {CORVANE_CLI_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv(words.size() + 1, nullptr);  // ended by a null pointer
  std::transform(words.begin(), words.end(), argv.begin(), [](std::string& w) { return w.data(); });
  // The environment is made here: between fork and exec the child may call only what is safe
  // after a fork in a process with threads (setenv allocates, and another thread may have held
  // the allocator's lock at the fork, which hung the child for good).
  std::vector<std::string> variables = EnvironmentWith(env);
  std::vector<char*> envp(variables.size() + 1, nullptr);
  std::transform(variables.begin(), variables.end(), envp.begin(), [](std::string& v) { return v.data(); });
  int in[2];
  if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    // As from a shell, whatever this test runs under (nohup ignores SIGHUP, for one).
    for (const int sig : {SIGPIPE, SIGHUP, SIGINT, SIGTERM}) std::signal(sig, SIG_DFL);
    if (beforeExec != nullptr) beforeExec();
    execve(CORVANE_CLI_PATH, argv.data(), envp.data());
    _exit(127);
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
  if (whileRunning) whileRunning(pid);
  int status = 0;
  struct rusage usage {};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  feeder.join();
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), usage.ru_maxrss,
          testsupport::ReadBytes(out), testsupport::ReadBytes(err)};
}

std::string SqlValue(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  const std::unique_ptr<sqlite3, int (*)(sqlite3*)> guard(db, sqlite3_close);
  std::string result;
  for (const char* tail = sql.c_str(); *tail != '\0';) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, tail, -1, &stmt, &tail) != SQLITE_OK || stmt == nullptr) break;
    if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0) != nullptr)
      result = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    sqlite3_finalize(stmt);
  }
  return result;
}

CliResult CliFolder::Run(const std::vector<std::string>& args, const std::string& input, const Env& env,
                         void (*beforeExec)(), const std::function<void(pid_t)>& whileRunning) const {
  Env all = {{"CORVANE_STORE", store()}, {"tmp", path_.string()}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
  all.insert(all.end(), env.begin(), env.end());
  return RunCli(args, input, all, beforeExec, whileRunning);
}

}  // namespace corvane::testing
