// Runs the `corvane` program as a user would: arguments, standard input, environment
// additions; captures standard output, standard error and the exit status.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace corvane::testing {

struct CliResult {
  int status = -1;  // exit status, or 128 + signal number
  long peakKilobytes = 0;  // the program's peak resident memory
  std::string out;
  std::string err;
};

// `beforeExec` runs in the child just before the program starts (async-signal-safe calls only:
// limits, user ids); it may end the child with _exit.
CliResult RunCli(const std::vector<std::string>& args, const std::string& input = {},
                 const std::vector<std::pair<std::string, std::string>>& env = {}, void (*beforeExec)() = nullptr);

// Starts the program without waiting for it, for tests that act on it while it runs: standard
// input and output on /dev/null, standard error into `errFile` if named. WaitCli gives its status
// as CliResult::status does.
pid_t SpawnCli(const std::vector<std::string>& args, const std::string& errFile = {});
int WaitCli(pid_t pid);

}  // namespace corvane::testing
