#include "windows/window_prompter.h"

#include <string>
#include <utility>

#include "addin/mdl_support.h"
#include "windows/frm_calibration_progress.h"

namespace corvane::windows {

std::int32_t WindowPrompter::Ask(std::u16string_view prompt, std::int32_t style, std::u16string_view title) noexcept {
  try {
    return mdl_Support::CustomMsgBox(std::u16string(prompt), style, std::u16string(title));
  } catch (...) {
    return answer::kNone;  // no memory for the texts: nothing could be asked
  }
}

void WindowPrompter::BeginProgress() {
  mdl_Support::Module().bCancelCalibration = false;
  progress_ = mdl_Support::frmCalibrationProgress();
  progress_->Show(ShowMode::Modeless);
}

void WindowPrompter::Advance(std::int32_t value) { progress_->pbCalibration.SetValue(static_cast<float>(value)); }

bool WindowPrompter::Cancelled() { return mdl_Support::Module().bCancelCalibration; }

void WindowPrompter::EndProgress() {
  const auto window = std::move(progress_);
  if (window) window->Unload();
}

}  // namespace corvane::windows
