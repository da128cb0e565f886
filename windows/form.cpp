#include "windows/form.h"

#include <algorithm>
#include <utility>

#include "base/platform.h"

namespace corvane::windows {

namespace {

AutomationError InvalidPropertyValue() { return AutomationError(kInvalidPropertyValue, u"Invalid property value"); }

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// The number of leading code units of `text` that fit in `width`: at least one character, and
// never half of a surrogate pair.
std::size_t FittingPrefix(std::u16string_view text, float width,
                          const std::function<float(std::u16string_view)>& measure) {
  std::size_t lo = 1;  // fits, or is the least we take
  std::size_t hi = text.size();
  while (lo + 1 < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (measure(text.substr(0, mid)) <= width) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  if (lo < text.size() && IsHighSurrogate(text[lo - 1])) lo = lo > 1 ? lo - 1 : lo + 1;
  return lo;
}

}  // namespace

std::vector<std::u16string> SplitLines(std::u16string_view text) {
  std::vector<std::u16string> lines;
  std::u16string current;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      lines.push_back(std::move(current));
      current.clear();
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      current.push_back(c);
    }
  }
  lines.push_back(std::move(current));
  return lines;
}

std::vector<std::u16string> WrapLine(std::u16string_view line, float width,
                                     const std::function<float(std::u16string_view)>& measure) {
  std::vector<std::u16string> out;
  std::u16string current;
  bool wrapped = false;
  const auto breakLongWord = [&] {
    while (current.size() > 1 && measure(current) > width) {
      const std::size_t fit = FittingPrefix(current, width, measure);
      if (fit >= current.size()) break;
      out.push_back(current.substr(0, fit));
      current.erase(0, fit);
      wrapped = true;
    }
  };
  std::size_t pos = 0;
  for (bool first = true;; first = false) {
    const std::size_t space = line.find(u' ', pos);
    const std::u16string_view word =
        line.substr(pos, space == std::u16string_view::npos ? std::u16string_view::npos : space - pos);
    if (first) {
      current = word;
    } else if (wrapped && current.empty()) {
      current = word;
    } else {
      std::u16string candidate = current + u' ';
      candidate += word;
      if (measure(candidate) <= width) {
        current = std::move(candidate);
      } else {
        // Spaces at a wrap point go with the break.
        while (!current.empty() && current.back() == u' ') current.pop_back();
        out.push_back(std::move(current));
        current = word;
        wrapped = true;
      }
    }
    breakLongWord();
    if (space == std::u16string_view::npos) break;
    pos = space + 1;
  }
  // Trailing spaces that caused a break leave no empty line behind.
  if (!(wrapped && current.empty())) out.push_back(std::move(current));
  return out;
}

// ---- Control ----

Control::Control(Form& owner, std::u16string name, ControlKind kind)
    : owner_(owner), name_(std::move(name)), kind_(kind) {
  if (kind_ == ControlKind::ProgressBar) backColor_ = Color::Of(Color::System::ButtonFace);
  owner_.Register(this);
}

void Control::Changed() { owner_.Changed(this); }

void Control::SetLeft(float v) {
  left_ = v;
  Changed();
}

void Control::SetTop(float v) {
  top_ = v;
  Changed();
}

void Control::SetWidth(float v) {
  if (v < 0.0F) throw InvalidPropertyValue();
  width_ = v;
  Changed();
}

void Control::SetHeight(float v) {
  if (v < 0.0F) throw InvalidPropertyValue();
  height_ = v;
  Changed();
}

void Control::Move(float left, float top) {
  left_ = left;
  top_ = top;
  Changed();
}

void Control::Move(float left, float top, float width, float height) {
  if (width < 0.0F || height < 0.0F) throw InvalidPropertyValue();
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  Changed();
}

void Control::SetVisible(bool v) {
  visible_ = v;
  Changed();
}

void Control::SetCaption(std::u16string v) {
  caption_ = std::move(v);
  if (autoSize_) Fit();
  Changed();
}

void Control::SetFont(Font v) {
  font_ = std::move(v);
  if (autoSize_) Fit();
  Changed();
}

void Control::SetBackColor(Color v) {
  backColor_ = v;
  Changed();
}

void Control::SetForeColor(Color v) {
  foreColor_ = v;
  Changed();
}

void Control::SetAlignment(Alignment v) {
  alignment_ = v;
  Changed();
}

void Control::SetWordWrap(bool v) {
  wordWrap_ = v;
  Changed();
}

void Control::SetAutoSize(bool v) {
  autoSize_ = v;
  if (autoSize_) Fit();
  Changed();
}

void Control::Fit() {
  if (kind_ != ControlKind::Label) return;
  TextMeasurer& measurer = Measurer();
  const double tpp = owner_.TwipsPerPixel();
  const double dpi = 1440.0 / tpp;
  const auto measure = [&](std::u16string_view text) {
    return static_cast<float>(measurer.LineWidthPixels(text, font_.name, font_.size, dpi) * tpp);
  };
  std::vector<std::u16string> lines;
  for (auto& paragraph : SplitLines(caption_)) {
    if (wordWrap_) {
      for (auto& line : WrapLine(paragraph, width_, measure)) lines.push_back(std::move(line));
    } else {
      lines.push_back(std::move(paragraph));
    }
  }
  float width = width_;
  if (!wordWrap_) {
    width = 0.0F;
    for (const auto& line : lines) width = std::max(width, measure(line));
  }
  const double lineHeight = measurer.LineHeightPixels(font_.name, font_.size, dpi) * tpp;
  width_ = width;
  height_ = static_cast<float>(static_cast<double>(lines.size()) * lineHeight);
  lines_ = std::move(lines);
}

void Control::SetPicture(const Picture* v) {
  picture_ = v;
  if (picture_) {
    const double tpp = owner_.TwipsPerPixel();
    width_ = static_cast<float>(picture_->widthPx * tpp);
    height_ = static_cast<float>(picture_->heightPx * tpp);
  }
  Changed();
}

void Control::SetValue(float v) {
  switch (kind_) {
    case ControlKind::CheckBox:
      if (v != static_cast<float>(kUnchecked) && v != static_cast<float>(kChecked) && v != static_cast<float>(kGrayed))
        throw InvalidPropertyValue();
      break;
    case ControlKind::ProgressBar:
      if (!(v >= min_ && v <= max_)) throw InvalidPropertyValue();
      break;
    default:
      throw AutomationError(438, u"Object doesn't support this property or method");
  }
  value_ = v;
  Changed();
}

void Control::SetRange(float min, float max) {
  if (!(min < max)) throw InvalidPropertyValue();
  min_ = min;
  max_ = max;
  value_ = std::clamp(value_, min_, max_);
  Changed();
}

void Control::SetMouseIcon(const Cursor* v) {
  mouseIcon_ = v;
  Changed();
}

// ---- Form ----

Form::Form(std::u16string name, BorderStyle border, float clientWidth, float clientHeight)
    : name_(std::move(name)), border_(border) {
  UiBackend& ui = Ui();
  const double dpi = ui.Dpi();
  if (!(dpi > 0.0)) throw AutomationError(err::kApplicationDefined, u"The display reports no resolution.");
  twipsPerPixel_ = 1440.0 / dpi;
  frameExtra_ = ui.FrameExtraTwips(border);
  width_ = clientWidth + frameExtra_.width;
  height_ = clientHeight + frameExtra_.height;
}

Form::~Form() = default;

void Form::SetCaption(std::u16string v) {
  caption_ = std::move(v);
  Changed(nullptr);
}

void Form::SetWidth(float v) {
  if (v < frameExtra_.width) throw InvalidPropertyValue();
  width_ = v;
  Changed(nullptr);
}

void Form::SetHeight(float v) {
  if (v < frameExtra_.height) throw InvalidPropertyValue();
  height_ = v;
  Changed(nullptr);
}

Control& Form::ControlNamed(std::u16string_view name) const {
  for (Control* control : controls_)
    if (control->Name() == name) return *control;
  throw AutomationError(438, u"Object doesn't support this property or method");
}

bool Form::Owns(const Control& control) const { return &control.Owner() == this; }

void Form::Changed(const Control* control) {
  if (shownOn_ && loaded_) shownOn_->Changed(*this, control);
}

void Form::Show(ShowMode mode) {
  const auto keep = weak_from_this().lock();
  if (!loaded_) throw AutomationError(364, u"Object was unloaded");
  if (mode == ShowMode::Modal && visible_)
    throw AutomationError(400, u"Form already displayed; can't show modally");
  UiBackend& ui = Ui();
  visible_ = true;
  modal_ = mode == ShowMode::Modal;
  shownOn_ = &ui;
  ui.Show(*this, mode);
}

void Form::Unload() {
  const auto keep = weak_from_this().lock();
  if (!loaded_) return;
  loaded_ = false;
  visible_ = false;
  modal_ = false;
  if (UiBackend* ui = std::exchange(shownOn_, nullptr)) ui->Unload(*this);
  ForgetSharedInstance();
}

void Form::MouseDown(Control& control, MouseButton button, std::int32_t shift, float x, float y) {
  const auto keep = weak_from_this().lock();
  if (!loaded_ || !Owns(control) || !control.Visible()) return;
  if (control.onMouseDown) control.onMouseDown(button, shift, x, y);
}

void Form::MouseUp(Control& control, MouseButton button, std::int32_t shift, float x, float y) {
  const auto keep = weak_from_this().lock();
  if (!loaded_ || !Owns(control)) return;
  if (control.onMouseUp) control.onMouseUp(button, shift, x, y);
}

void Form::Click(Control& control) {
  const auto keep = weak_from_this().lock();
  if (!loaded_ || !Owns(control) || !control.Visible()) return;
  if (control.Kind() == ControlKind::CheckBox)
    control.SetValue(static_cast<float>(control.Value() == static_cast<float>(kUnchecked) ? kChecked : kUnchecked));
  if (control.onClick) control.onClick();
}

void Form::CloseBox() {
  const auto keep = weak_from_this().lock();
  if (!loaded_) return;
  Unload();
}

}  // namespace corvane::windows
