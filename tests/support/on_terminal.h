// A pseudo-terminal, as a user at a keyboard has one: what is written to it (the screen) and
// the keys typed into it. OnTerminal runs the `corvane` program on one of its own, so that it
// waits for the answers to its questions; a test may also give the terminal's end to code it
// runs itself (slave()).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace corvane::testing {

class Terminal {
 public:
  Terminal();
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  int slave() const { return slave_; }
  // Reads the screen until `cue` appears (true), or the other end is closed or a minute passes
  // (false).
  bool WaitFor(const std::string& cue);
  void Type(const std::string& keys) const;
  const std::string& screen() const { return screen_; }

 protected:
  int master_ = -1;
  int slave_ = -1;
  bool ended_ = false;
  std::string screen_;
};

class OnTerminal : public Terminal {
 public:
  // The program with `args`; or, with a `program` given, that program (e.g. "/bin/sh") with
  // `args`, and the `corvane` program's path in the environment variable CORVANE.
  explicit OnTerminal(std::vector<std::string> args, const std::string& program = {});
  ~OnTerminal();
  OnTerminal(const OnTerminal&) = delete;
  OnTerminal& operator=(const OnTerminal&) = delete;

  // Reads the rest of the screen and returns the exit status; a program still running after a
  // minute is killed.
  int Finish();

 private:
  pid_t pid_ = -1;
};

}  // namespace corvane::testing
