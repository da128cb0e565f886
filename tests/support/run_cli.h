// Runs the `corvane` program as a user would: arguments, standard input, environment
// additions; captures standard output, standard error and the exit status.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/xlsx_builder.h"

namespace corvane::testing {

struct CliResult {
  int status = -1;  // exit status, or 128 + signal number
  long peakKilobytes = 0;  // the program's peak resident memory
  std::string out;
  std::string err;
};

using Env = std::vector<std::pair<std::string, std::string>>;

// This process's environment with `changes` made ("NAME=value" entries), made before a fork so
// that the child has only to pass it to exec.
std::vector<std::string> EnvironmentWith(const Env& changes);

// `beforeExec` runs in the child just before the program starts (async-signal-safe calls only:
// limits, user ids); it may end the child with _exit. `whileRunning` gets the program's process
// id as soon as it is started, for tests that act on it (signals) while it runs.
CliResult RunCli(const std::vector<std::string>& args, const std::string& input = {}, const Env& env = {},
                 void (*beforeExec)() = nullptr, const std::function<void(pid_t)>& whileRunning = {});

// Runs `sql` (any number of statements) on the file with plain SQLite, as another program would;
// returns the first column of the last row a statement gave, "" for none.
std::string SqlValue(const std::string& path, const std::string& sql);

// A scratch folder `name` (in a folder of its own) that holds the settings store and serves as
// "tmp" for the text files; the program runs there without a desktop.
class CliFolder {
 public:
  explicit CliFolder(const std::string& name = "folder") : path_(root_ / name) { std::filesystem::create_directory(path_); }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  std::string store() const { return (path_ / "settings.db").string(); }
  CliResult Run(const std::vector<std::string>& args, const std::string& input = {}, const Env& env = {},
                void (*beforeExec)() = nullptr, const std::function<void(pid_t)>& whileRunning = {}) const;

 private:
  testsupport::TempFolder root_;
  std::filesystem::path path_;
};

}  // namespace corvane::testing
