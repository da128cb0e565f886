// How a command talks to the user: questions with the message box's buttons, notices, and the
// progress of a calibration that the user may cancel. The add-in shows its windows
// (windows/window_prompter.h); the `corvane` program asks on the terminal (cli/).
// Contract: Ask never throws and answers with the message box's codes (1 OK, 2 Cancel, 6 Yes,
// 7 No, -1 closed without an answer, 0 could not be asked). A notice needs no answer. Progress
// runs from BeginProgress to EndProgress; Cancelled says whether the user cancelled since
// BeginProgress. The progress calls may throw; EndProgress ends the progress even then.
#pragma once

#include <cstdint>
#include <string_view>

namespace corvane {

namespace answer {
inline constexpr std::int32_t kNone = 0;
inline constexpr std::int32_t kClosed = -1;
inline constexpr std::int32_t kOk = 1;
inline constexpr std::int32_t kCancel = 2;
inline constexpr std::int32_t kYes = 6;
inline constexpr std::int32_t kNo = 7;
}  // namespace answer

// The message box's button styles; anything else shows OK alone.
namespace buttons {
inline constexpr std::int32_t kOkOnly = 0;
inline constexpr std::int32_t kOkCancel = 1;
inline constexpr std::int32_t kYesNo = 4;
}  // namespace buttons

class Prompter {
 public:
  virtual ~Prompter() = default;
  virtual std::int32_t Ask(std::u16string_view prompt, std::int32_t style, std::u16string_view title) noexcept = 0;
  // A notice is a message with OK alone, whose answer nobody needs.
  virtual void Notify(std::u16string_view prompt, std::u16string_view title) noexcept {
    (void)Ask(prompt, buttons::kOkOnly, title);
  }

  virtual void BeginProgress() = 0;
  // The value reached, 2 to 767 (the code just saved).
  virtual void Advance(std::int32_t value) = 0;
  virtual bool Cancelled() = 0;
  virtual void EndProgress() = 0;
};

}  // namespace corvane
