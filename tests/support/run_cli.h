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

CliResult RunCli(const std::vector<std::string>& args, const std::string& input = {},
                 const std::vector<std::pair<std::string, std::string>>& env = {});

}  // namespace corvane::testing
