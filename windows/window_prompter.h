// The add-in's prompter: questions and notices in the message window (mdl_Support::CustomMsgBox),
// the calibration's progress in the progress window, whose Cancel sets the module's cancel flag.
// Contract: as base/prompter.h. BeginProgress clears the cancel flag, then loads and shows the
// shared progress window modeless and holds it until EndProgress, which unloads it (once it is
// closed, later progress shows nowhere). Needs the window system (Ui()).
#pragma once

#include <memory>

#include "base/prompter.h"

namespace corvane::windows {

class frmCalibrationProgress;

class WindowPrompter final : public Prompter {
 public:
  std::int32_t Ask(std::u16string_view prompt, std::int32_t style, std::u16string_view title) noexcept override;
  void BeginProgress() override;
  void Advance(std::int32_t value) override;
  bool Cancelled() override;
  void EndProgress() override;

 private:
  std::shared_ptr<frmCalibrationProgress> progress_;
};

}  // namespace corvane::windows
