#include "spacing/calibrate_command.h"

#include <memory>
#include <string>
#include <utility>

#include "spacing/calibration_store.h"
#include "spacing/measurement.h"

namespace corvane {

namespace calibration {

namespace {

// What a run has changed on the host, so that a failure part-way can put it back.
struct RunState {
  HostApplication& app;
  Prompter& prompter;
  std::shared_ptr<HostWorkbook> scratch;  // open while set
  bool progressShown = false;

  void CloseScratch() {
    const auto book = std::exchange(scratch, nullptr);
    book->Close(/*SaveChanges=*/false);
  }

  void EndProgress() {
    progressShown = false;
    prompter.EndProgress();
  }

  // Best effort: each step on its own, so one refusal does not keep the others from happening.
  void RestoreAfterFailure() noexcept {
    try {
      if (scratch) CloseScratch();
    } catch (...) {
    }
    try {
      app.SetScreenUpdating(true);
    } catch (...) {
    }
    try {
      if (progressShown) EndProgress();
    } catch (...) {
    }
  }
};

}  // namespace

bool CalibrateSpacing(HostApplication& app, SettingsStore& store, Prompter& prompter) {
  RunState run{app, prompter, nullptr, false};
  app.SetScreenUpdating(false);
  try {
    run.scratch = app.WorkbooksAdd();
    const std::shared_ptr<HostRange> cell = run.scratch->Worksheets(1)->Cells(1);
    const std::u16string section = SpacingSection(app.StandardFont());
    const double spaceWidth = measurement::SpaceWidth(*cell);

    // Set before the progress starts, so that a progress that fails to show is still ended.
    run.progressShown = true;
    prompter.BeginProgress();

    for (std::int32_t k = kFirstOrdinaryCode; k <= kLastOrdinaryCode; ++k) {
      measurement::CalibrateChar(*cell, store, section, k, spaceWidth);
      if (prompter.Cancelled()) {
        run.CloseScratch();
        run.EndProgress();
        app.SetScreenUpdating(true);
        return false;
      }
      prompter.Advance(k);
    }

    run.CloseScratch();
    app.SetScreenUpdating(true);
    run.EndProgress();
    measurement::ProcessPendingEvents();
  } catch (...) {
    run.RestoreAfterFailure();
    throw;
  }

  prompter.Notify(kCalibrationDoneNotice, u"Corvane");
  return true;
}

}  // namespace calibration

}  // namespace corvane
