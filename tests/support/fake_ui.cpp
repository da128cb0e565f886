#include "support/fake_ui.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "addin/mdl_support.h"
#include "support/corpus.h"
#include "windows/frm_about.h"
#include "windows/frm_calibration_progress.h"
#include "windows/frm_custom_msgbox.h"
#include "windows/frm_settings.h"

namespace corvane::testsupport {

using windows::Control;
using windows::ControlKind;
using windows::Form;

void FakeUi::Show(Form& form, windows::ShowMode mode) {
  log_.push_back({Record::Kind::Show, form.Name()});
  const auto self = form.weak_from_this();
  if (std::none_of(open_.begin(), open_.end(), [&](const auto& w) { return w.lock().get() == &form; }))
    open_.push_back(self);
  if (mode != windows::ShowMode::Modal) return;

  Message message{form.Caption(), {}, {}};
  std::vector<const Control*> buttons;
  for (const Control* c : form.Controls()) {
    if (!c->Visible()) continue;
    if (c->Kind() == ControlKind::Label) {
      if (!message.prompt.empty()) message.prompt += u"\n";
      message.prompt += c->Caption();
    } else if (c->Kind() == ControlKind::Image && c->onClick && c->GetPicture()) {
      buttons.push_back(c);
    }
  }
  std::stable_sort(buttons.begin(), buttons.end(), [](auto* a, auto* b) { return a->Left() < b->Left(); });
  for (const Control* b : buttons) message.buttons.emplace_back(b->GetPicture()->text);
  messages_.push_back(message);

  const auto keep = self.lock();
  Script script = defaultModal;
  if (!scripts_.empty()) {
    script = std::move(scripts_.front());
    scripts_.pop_front();
  }
  if (!script) {
    ADD_FAILURE() << "A modal window was shown that no test script answers: "
                  << corpus::Utf16ToUtf8(message.title) << ": " << corpus::Utf16ToUtf8(message.prompt);
    form.CloseBox();
    return;
  }
  script(form);
  if (form.Loaded()) {
    ADD_FAILURE() << "A test script left the modal window open: " << corpus::Utf16ToUtf8(message.prompt);
    form.CloseBox();
  }
}

void FakeUi::Unload(Form& form) {
  log_.push_back({Record::Kind::Unload, form.Name()});
  std::erase_if(open_, [&](const auto& w) {
    const auto f = w.lock();
    return !f || f.get() == &form;
  });
}

void FakeUi::Changed(Form&, const Control* control) {
  if (control && control->Kind() == ControlKind::ProgressBar) progress_.push_back(control->Value());
}

void FakeUi::Click(Form& form, std::u16string_view control) {
  Control& c = form.ControlNamed(control);
  const auto keep = form.weak_from_this().lock();  // the click may close the window
  form.MouseDown(c, windows::MouseButton::Left, 0, 1.0F, 1.0F);
  form.MouseUp(c, windows::MouseButton::Left, 0, 1.0F, 1.0F);
  form.Click(c);
}

Form* FakeUi::Open(std::u16string_view form) const {
  for (const auto& w : open_) {
    const auto f = w.lock();
    if (f && f->Loaded() && f->Name() == form) return f.get();
  }
  return nullptr;
}

double FakeMeasurer::LineWidthPixels(std::u16string_view text, std::u16string_view, double, double dpi) {
  double width = 0.0;
  for (const char16_t c : text) {
    const auto it = widths.find(c);
    width += it == widths.end() ? charWidthPx : it->second;
  }
  return width * dpi / 120.0;
}

double FakeMeasurer::LineHeightPixels(std::u16string_view, double, double dpi) { return lineHeightPx * dpi / 120.0; }

FakeWindowSystem::~FakeWindowSystem() {
  auto& module = mdl_Support::Module();
  const auto unload = [](auto& slot) {
    if (const auto form = slot) form->Unload();
    slot.reset();
  };
  unload(module.frmCustomMsgBox);
  unload(module.frmCalibrationProgress);
  unload(module.frmSettings);
  unload(module.frmAbout);
  unload(module.frmGraphics);
}

}  // namespace corvane::testsupport
