#include "spacing/calibrate_command.h"

#include <utility>

#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "spacing/calibration_store.h"
#include "spacing/measurement.h"
#include "windows/frm_calibration_progress.h"

namespace corvane {

namespace {

// What a run has changed on the host, so that a failure part-way can put it back.
struct RunState {
  std::shared_ptr<HostApplication> app;
  std::shared_ptr<HostWorkbook> scratch;  // open while set
  std::shared_ptr<windows::frmCalibrationProgress> progress;

  void CloseScratch() {
    const auto book = std::exchange(scratch, nullptr);
    book->Close(/*SaveChanges=*/false);
  }

  // Best effort: each step on its own, so one refusal does not keep the others from happening.
  void RestoreAfterFailure() noexcept {
    try {
      if (scratch) CloseScratch();
    } catch (...) {
    }
    try {
      app->SetScreenUpdating(true);
    } catch (...) {
    }
    try {
      if (progress) progress->Unload();
    } catch (...) {
    }
  }
};

}  // namespace

void cls_corvane::cvCalibrateSpacing() {
  RunState run;
  run.app = mdl_Support::Host();
  run.app->SetScreenUpdating(false);
  try {
    run.scratch = run.app->WorkbooksAdd();
    std::shared_ptr<HostRange> rgCalibrate = run.scratch->Worksheets(1)->Cells(1);
    std::u16string strRegSection = calibration::SpacingSection(run.app->StandardFont());
    double dblSpaceWidthNoOverhead = GetSpaceWidth(rgCalibrate);

    auto& module = mdl_Support::Module();
    module.bCancelCalibration = false;
    // The window is held for the whole run: once it is closed, later progress shows nowhere.
    run.progress = mdl_Support::frmCalibrationProgress();
    run.progress->Show(windows::ShowMode::Modeless);

    for (std::int32_t k = calibration::kFirstOrdinaryCode; k <= calibration::kLastOrdinaryCode; ++k) {
      std::int32_t iChar = k;
      (void)CalibrateOneChar(iChar, rgCalibrate, strRegSection, dblSpaceWidthNoOverhead);
      if (module.bCancelCalibration) {
        run.CloseScratch();
        run.progress->Unload();
        run.app->SetScreenUpdating(true);
        return;
      }
      run.progress->pbCalibration.SetValue(static_cast<float>(k));
    }

    run.CloseScratch();
    run.app->SetScreenUpdating(true);
    run.progress->Unload();
    measurement::ProcessPendingEvents();
  } catch (...) {
    run.RestoreAfterFailure();
    throw;
  }

  const std::u16string prompt(calibration::kCalibrationDoneNotice);
  const std::int32_t okOnly = 0;
  (void)mdl_Support::CustomMsgBox(prompt, okOnly, u"Corvane");
}

}  // namespace corvane
