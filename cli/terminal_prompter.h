// The prompter of a command run from the terminal.
// Contract:
//  - A question with an answer given in advance (Preset) gets it without being shown; with
//    Remember, the Yes or No the user gives to that question stands for the rest of the run.
//    Every other question is asked on the terminal (posix::TerminalUi::Ask: without a terminal
//    it counts as closed, -1).
//  - A notice (OK alone) is, by the mode chosen: asked on the terminal like a question; printed
//    on standard error with its CR LF line breaks as LF (Print), or kept silently (Collect); both
//    answer OK.
//  - Every prompt is kept in `prompts` in order, every notice also in `notices`, until
//    ForgetShown.
//  - The calibration's progress is the progress window on the terminal (windows::WindowPrompter
//    over the terminal as the window system): a bar, Ctrl-C cancels.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/prompter.h"
#include "platform/posix/terminal_ui.h"
#include "windows/window_prompter.h"

namespace corvane::cli {

class TerminalPrompter final : public Prompter {
 public:
  enum class Notices { Ask, Print, Collect };

  TerminalPrompter(posix::TerminalUi& terminal, Notices mode) : terminal_(terminal), mode_(mode) {}

  void Preset(std::u16string_view prompt, std::int32_t answer) { presets_[std::u16string(prompt)] = answer; }
  void Remember(std::u16string_view prompt) { remembered_.insert(std::u16string(prompt)); }

  std::int32_t Ask(std::u16string_view prompt, std::int32_t style, std::u16string_view title) noexcept override;
  void BeginProgress() override { progress_.BeginProgress(); }
  void Advance(std::int32_t value) override { progress_.Advance(value); }
  bool Cancelled() override { return progress_.Cancelled(); }
  void EndProgress() override { progress_.EndProgress(); }

  std::vector<std::u16string> prompts;
  std::vector<std::u16string> notices;
  // Before each formula of a run: what was shown for the one before is no longer needed.
  void ForgetShown() {
    prompts.clear();
    notices.clear();
  }

 private:
  posix::TerminalUi& terminal_;
  Notices mode_;
  std::map<std::u16string, std::int32_t, std::less<>> presets_;
  std::set<std::u16string, std::less<>> remembered_;
  windows::WindowPrompter progress_;
};

}  // namespace corvane::cli
