// Runs the `corvane` program on a pseudo-terminal of its own, as a user at a keyboard would, so
// that it waits for the answers to its questions.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace corvane::testing {

class OnTerminal {
 public:
  explicit OnTerminal(std::vector<std::string> args);
  ~OnTerminal();
  OnTerminal(const OnTerminal&) = delete;
  OnTerminal& operator=(const OnTerminal&) = delete;

  // Reads the screen until `cue` appears (true), or the program ends or a minute passes (false).
  bool WaitFor(const std::string& cue);
  void Type(const std::string& keys) const;
  // Reads the rest of the screen and returns the exit status; a program still running after a
  // minute is killed.
  int Finish();
  const std::string& screen() const { return screen_; }

 private:
  int master_ = -1;
  pid_t pid_ = -1;
  bool ended_ = false;
  std::string screen_;
};

}  // namespace corvane::testing
