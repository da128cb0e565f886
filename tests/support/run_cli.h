// Runs the `corvane` program as a user would: arguments, standard input, environment
// additions; captures standard output, standard error and the exit status.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace corvane::testing {

struct CliResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// `beforeExec` runs in the child just before the program starts (async-signal-safe calls only:
// limits, user ids); it may end the child with _exit.
CliResult RunCli(const std::vector<std::string>& args, const std::string& input = {},
                 const std::vector<std::pair<std::string, std::string>>& env = {}, void (*beforeExec)() = nullptr);

}  // namespace corvane::testing
