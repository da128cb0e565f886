// A window system, a text measurer and a shell for tests, so that code which shows windows can
// be driven and observed without a screen.
//
// Typical use:
//
//   corvane::testsupport::FakeWindowSystem fake;        // installs ui, measurer, shell and a store
//   fake.ui.QueueClick(u"Yes");                     // the next modal window is answered "Yes"
//   EXPECT_EQ(mdl_Support::CustomMsgBox(u"Calibrate now?", 4, u"Corvane"), 6);
//   EXPECT_EQ(fake.ui.Messages().back().prompt, u"Calibrate now?");
//
// Modal windows: every modal Show runs the next queued script with the live window (laid out
// and visible, so a script may inspect its controls), else `defaultModal`. A script delivers the
// user's actions (Click, CloseBox) and must leave the window unloaded. A modal
// window with no script, or one its script leaves open, is a test failure (ADD_FAILURE) and is
// closed by its close box, so a test never hangs.
//
// Modeless windows (settings, About, calibration progress) stay open until the code or the test
// unloads them: Open(name) gives the live window, Click(...) delivers a button click.
// `onDoEvents` runs on every DoEvents, e.g. to press Cancel on the progress window while the
// calibration runs:
//
//   fake.ui.onDoEvents = [&] { if (++n == 99) fake.ui.Click(*fake.ui.Open(u"frmCalibrationProgress"),
//                                                           u"imgButtonCancelMain"); };
//
// Observation: Log() (every Show and Unload in order),
// Messages() (title, prompt and buttons of every modal window, taken when it was shown) and
// ProgressValues() (each value the calibration progress bar took).
//
// FakeMeasurer: every UTF-16 code unit is `charWidthPx` pixels wide at 120 dpi (scaled linearly
// with dpi, whatever the face and size) unless `widths` says otherwise; a line is `lineHeightPx`
// high at 120 dpi. QuietShell starts nothing.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/memory_store.h"
#include "base/platform.h"
#include "windows/form.h"
#include "windows/ui_backend.h"

namespace corvane::testsupport {

class FakeUi final : public windows::UiBackend {
 public:
  using Script = std::function<void(windows::Form&)>;

  // ---- UiBackend: 120 dpi; every bordered window's frame adds 96 x 372 twips ----
  double Dpi() override { return 120.0; }
  windows::TwipsSize FrameExtraTwips(windows::BorderStyle border) override {
    return border == windows::BorderStyle::None ? windows::TwipsSize{} : windows::TwipsSize{96.0F, 372.0F};
  }
  void Show(windows::Form& form, windows::ShowMode mode) override;
  void Unload(windows::Form& form) override;
  void Changed(windows::Form& form, const windows::Control* control) override;
  void DoEvents() override {
    if (onDoEvents) onDoEvents();
  }

  // ---- Answering modal windows ----
  void QueueModal(Script script) { scripts_.push_back(std::move(script)); }
  // Clicks imgButton<button>Main ("Ok", "Cancel", "Yes", "No") with the left mouse button.
  void QueueClick(const std::u16string& button) {
    QueueModal([button](windows::Form& form) { Click(form, u"imgButton" + button + u"Main"); });
  }
  void QueueCloseBox() { QueueModal([](windows::Form& form) { form.CloseBox(); }); }
  Script defaultModal;

  // ---- Pending events ----
  std::function<void()> onDoEvents;

  // ---- The user's actions, as the window system delivers them ----
  // A left click with the pointer over the control: press, release and click.
  static void Click(windows::Form& form, std::u16string_view control);

  // ---- Observing ----
  struct Record {
    enum class Kind { Show, Unload } kind;
    std::u16string form;
  };
  struct Message {
    std::u16string title, prompt;
    std::vector<std::u16string> buttons;  // texts of the visible picture buttons, left to right
  };
  const std::vector<Record>& Log() const { return log_; }
  const std::vector<Message>& Messages() const { return messages_; }
  // The open window of that name (shown and not unloaded), or null.
  windows::Form* Open(std::u16string_view form) const;
  // Each value the calibration progress bar took.
  const std::vector<float>& ProgressValues() const { return progress_; }

 private:
  std::deque<Script> scripts_;
  std::vector<std::weak_ptr<windows::Form>> open_;
  std::vector<Record> log_;
  std::vector<Message> messages_;
  std::vector<float> progress_;
};

class FakeMeasurer final : public TextMeasurer {
 public:
  double charWidthPx = 7.0;
  double lineHeightPx = 18.0;
  std::map<char16_t, double> widths;

  double LineWidthPixels(std::u16string_view text, std::u16string_view face, double points, double dpi) override;
  double LineHeightPixels(std::u16string_view face, double points, double dpi) override;
  std::u16string ResolvedFace(std::u16string_view face) override { return std::u16string(face); }
};

// Starts nothing; every call answers "started" (above 32).
class QuietShell final : public Shell {
 public:
  std::int32_t ShellOpen(std::u16string_view, std::u16string_view, std::u16string_view, std::u16string_view,
                         std::int32_t) override {
    return 42;
  }
};

// The fakes and an in-memory store, installed for this thread while it lives. On destruction it
// unloads every shared window left over, so one test's windows never reach the next.
class FakeWindowSystem {
 public:
  FakeWindowSystem()
      : scope_([this] {
          PlatformServices services;
          services.store = &store;
          services.textMeasurer = &measurer;
          services.ui = &ui;
          services.shell = &shell;
          services.moduleFolder = u"/opt/corvane";
          return services;
        }()) {}
  ~FakeWindowSystem();
  FakeWindowSystem(const FakeWindowSystem&) = delete;
  FakeWindowSystem& operator=(const FakeWindowSystem&) = delete;

  FakeUi ui;
  FakeMeasurer measurer;
  QuietShell shell;
  MemoryStore store;

 private:
  ScopedServices scope_;
};

}  // namespace corvane::testsupport
