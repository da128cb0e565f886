// Window models: a form (window) with its fixed properties and its controls, geometry in twips.
// Contract: a form is created through its shared-instance accessor (addin/mdl_support.h), which
// runs its load step; it lives until Unload. Controls belong to their form and are members of
// the form's class, registered in declaration order. Every change of something visible is
// reported to the back end that shows the form. Image controls take the size of their picture
// at the display's resolution; an auto-sized label takes the size of its text as measured by
// the platform's TextMeasurer. Back ends deliver the user's actions through MouseDown, MouseUp,
// Click and CloseBox; an event handler may unload its own form (the form stays alive until the
// event has been delivered). Invalid property values throw AutomationError 380.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/automation.h"
#include "windows/ui_backend.h"

namespace corvane::windows {

inline constexpr std::int32_t kInvalidPropertyValue = 380;

// A picture resource: its identity (the artwork's file stem) and its size in pixels.
struct Picture {
  std::string_view id;
  std::int32_t widthPx = 0;
  std::int32_t heightPx = 0;
  std::int32_t bitsPerPixel = 24;
  std::u16string_view text;  // what the picture says, for back ends that cannot draw it
};

// A mouse pointer resource; the hot spot is the pixel that points.
struct Cursor {
  std::string_view id;
  std::int32_t widthPx = 0;
  std::int32_t heightPx = 0;
  std::int32_t hotSpotX = 0;
  std::int32_t hotSpotY = 0;
};

struct Font {
  std::u16string name = u"Verdana";
  float size = 7.8F;  // points
  bool bold = false;
  bool italic = false;
  bool underline = false;
  friend bool operator==(const Font&, const Font&) = default;
};

// A colour: an RGB value or one of the system's colours, resolved by the back end.
struct Color {
  enum class System : std::uint8_t { None, WindowBackground, WindowText, ButtonFace, ButtonText };
  std::uint32_t rgb = 0;  // 0x00BBGGRR, as the Windows COLORREF
  System system = System::None;

  static constexpr Color Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return Color{static_cast<std::uint32_t>(r) | (static_cast<std::uint32_t>(g) << 8) |
                     (static_cast<std::uint32_t>(b) << 16),
                 System::None};
  }
  static constexpr Color Of(System s) { return Color{0, s}; }
  friend bool operator==(const Color&, const Color&) = default;
};

inline constexpr Color kWhite = Color::Rgb(255, 255, 255);

enum class ControlKind { Image, Label, CheckBox, ProgressBar };
enum class Alignment { Left, Right, Center };
enum class BorderStyle { None, FixedSingle, Sizable, FixedDialog };
enum class MouseButton : std::int32_t { Left = 1, Right = 2, Middle = 4 };

// Check-box states.
inline constexpr std::int32_t kUnchecked = 0;
inline constexpr std::int32_t kChecked = 1;
inline constexpr std::int32_t kGrayed = 2;

class Form;

class Control {
 public:
  using MouseHandler = std::function<void(MouseButton button, std::int32_t shift, float x, float y)>;

  Control(Form& owner, std::u16string name, ControlKind kind);
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  Form& Owner() const noexcept { return owner_; }
  const std::u16string& Name() const noexcept { return name_; }
  ControlKind Kind() const noexcept { return kind_; }

  float Left() const noexcept { return left_; }
  float Top() const noexcept { return top_; }
  float Width() const noexcept { return width_; }
  float Height() const noexcept { return height_; }
  void SetLeft(float v);
  void SetTop(float v);
  // An image control takes the size of each picture it is given; a size set afterwards holds
  // until the next picture.
  void SetWidth(float v);
  void SetHeight(float v);
  void Move(float left, float top);
  void Move(float left, float top, float width, float height);

  bool Visible() const noexcept { return visible_; }
  void SetVisible(bool v);

  // Label and check-box text.
  const std::u16string& Caption() const noexcept { return caption_; }
  void SetCaption(std::u16string v);
  const Font& GetFont() const noexcept { return font_; }
  void SetFont(Font v);
  Color BackColor() const noexcept { return backColor_; }
  void SetBackColor(Color v);
  Color ForeColor() const noexcept { return foreColor_; }
  void SetForeColor(Color v);
  Alignment GetAlignment() const noexcept { return alignment_; }
  void SetAlignment(Alignment v);

  // Label sizing: with AutoSize on, the label takes the size of its text (as wide as its widest
  // line unless WordWrap holds the width, as high as its lines). Refitted when AutoSize is
  // switched on and when the caption or font changes while it is on. A label of fixed size
  // shows its text wrapped at spaces within its width.
  bool WordWrap() const noexcept { return wordWrap_; }
  void SetWordWrap(bool v);
  bool AutoSize() const noexcept { return autoSize_; }
  void SetAutoSize(bool v);
  // The label's text as laid out by the last fit: its lines after line breaks (and wrapping).
  const std::vector<std::u16string>& Lines() const noexcept { return lines_; }

  // Image: the picture shown (null for none); the control takes its size.
  const Picture* GetPicture() const noexcept { return picture_; }
  void SetPicture(const Picture* v);

  // Check box: the state (0 clear, 1 ticked, 2 greyed). Progress bar: the position, Min to Max.
  float Value() const noexcept { return value_; }
  void SetValue(float v);
  float Min() const noexcept { return min_; }
  float Max() const noexcept { return max_; }
  void SetRange(float min, float max);

  std::int32_t TabIndex() const noexcept { return tabIndex_; }
  void SetTabIndex(std::int32_t v) { tabIndex_ = v; }
  // Whether the control can take the keyboard focus (image controls never can).
  bool TabStop() const noexcept { return kind_ != ControlKind::Image && kind_ != ControlKind::Label; }

  // The mouse pointer over this control: null for the normal one.
  const Cursor* MouseIcon() const noexcept { return mouseIcon_; }
  void SetMouseIcon(const Cursor* v);

  // Event handlers, installed by the window's class.
  MouseHandler onMouseDown;
  MouseHandler onMouseUp;
  std::function<void()> onClick;

 private:
  void Changed();
  void Fit();

  Form& owner_;
  std::u16string name_;
  ControlKind kind_;
  float left_ = 0.0F;
  float top_ = 0.0F;
  float width_ = 0.0F;
  float height_ = 0.0F;
  bool visible_ = true;
  std::u16string caption_;
  Font font_;
  Color backColor_ = kWhite;
  Color foreColor_ = Color::Of(Color::System::ButtonText);
  Alignment alignment_ = Alignment::Left;
  bool wordWrap_ = false;
  bool autoSize_ = false;
  std::vector<std::u16string> lines_;
  const Picture* picture_ = nullptr;
  float value_ = 0.0F;
  float min_ = 0.0F;
  float max_ = 100.0F;
  std::int32_t tabIndex_ = 0;
  const Cursor* mouseIcon_ = nullptr;
};

class Form : public AutomationObject, public std::enable_shared_from_this<Form> {
 public:
  ~Form() override;
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const std::u16string& Name() const noexcept { return name_; }

  // ---- Fixed properties ----
  const std::u16string& Caption() const noexcept { return caption_; }
  void SetCaption(std::u16string v);
  BorderStyle Border() const noexcept { return border_; }
  bool ControlBox() const noexcept { return controlBox_; }  // the title-bar close box
  bool MinButton() const noexcept { return false; }
  bool MaxButton() const noexcept { return false; }
  bool ShowInTaskbar() const noexcept { return showInTaskbar_; }
  Color BackColor() const noexcept { return backColor_; }
  const Font& GetFont() const noexcept { return font_; }
  const Picture* Icon() const noexcept { return icon_; }
  bool StartsCentred() const noexcept { return true; }
  const Cursor* MouseIcon() const noexcept { return mouseIcon_; }

  // ---- Geometry ----
  // Outer size (frame and caption included) and client size, in twips.
  float Width() const noexcept { return width_; }
  float Height() const noexcept { return height_; }
  void SetWidth(float v);
  void SetHeight(float v);
  float ScaleWidth() const noexcept { return width_ - frameExtra_.width; }
  float ScaleHeight() const noexcept { return height_ - frameExtra_.height; }
  double TwipsPerPixel() const noexcept { return twipsPerPixel_; }

  const std::vector<Control*>& Controls() const noexcept { return controls_; }
  // The control of that name; throws AutomationError 730 when there is none.
  Control& ControlNamed(std::u16string_view name) const;

  // ---- Life cycle ----
  bool Loaded() const noexcept { return loaded_; }
  bool Visible() const noexcept { return visible_; }
  bool IsModal() const noexcept { return modal_; }
  // Modal: returns once the window has been unloaded. Showing an open modeless window modally
  // fails (error 400).
  void Show(ShowMode mode);
  // Destroys the on-screen window and forgets the shared instance; the next reference creates
  // a new one. Nothing happens when the form has been unloaded already.
  void Unload();

  // ---- Events, delivered by the back end ----
  // MouseDown and MouseUp go to the control that was pressed (the release even when the pointer
  // has left it); Click follows a release over that control. Clicking a check box toggles it.
  void MouseDown(Control& control, MouseButton button, std::int32_t shift, float x, float y);
  void MouseUp(Control& control, MouseButton button, std::int32_t shift, float x, float y);
  void Click(Control& control);
  // The user closed the window from its frame (close box, window menu, Alt+F4): unloads it
  // without running any button's action.
  void CloseBox();

 protected:
  // `clientWidth` and `clientHeight` are the design client area; the outer size follows from
  // the back end's frame for `border`. Needs the window system (Ui()) for the resolution.
  Form(std::u16string name, BorderStyle border, float clientWidth, float clientHeight);

  // The form's load step; runs once, when the shared instance is created.
  virtual void Form_Load() {}
  // Clears the module-level variable that holds this form.
  virtual void ForgetSharedInstance() = 0;

  bool controlBox_ = true;
  bool showInTaskbar_ = false;
  Color backColor_ = kWhite;
  Font font_;
  const Picture* icon_ = nullptr;
  const Cursor* mouseIcon_ = nullptr;

 private:
  friend class Control;
  template <typename T>
  friend std::shared_ptr<T> LoadSharedInstance(std::shared_ptr<T>& slot);

  void Register(Control* control) { controls_.push_back(control); }
  void Changed(const Control* control);
  bool Owns(const Control& control) const;

  std::u16string name_;
  std::u16string caption_;
  BorderStyle border_;
  TwipsSize frameExtra_;
  double twipsPerPixel_ = 15.0;
  float width_ = 0.0F;
  float height_ = 0.0F;
  std::vector<Control*> controls_;
  bool loaded_ = true;
  bool visible_ = false;
  bool modal_ = false;
  UiBackend* shownOn_ = nullptr;
};

// The shared instance in `slot`, created and loaded when there is none. A load step that fails
// leaves the slot empty and passes its error on.
template <typename T>
std::shared_ptr<T> LoadSharedInstance(std::shared_ptr<T>& slot) {
  if (slot) return slot;
  auto form = std::make_shared<T>();
  static_cast<Form&>(*form).Form_Load();
  slot = form;
  return form;
}

// Text layout of labels, shared with back ends that draw the text themselves.
// Splits at line breaks (CR LF, or a lone CR or LF); an empty text is one empty line.
std::vector<std::u16string> SplitLines(std::u16string_view text);
// Greedy word wrap at spaces: each line as long as fits in `width`; a word wider than the
// line is broken where it must. `measure` gives a line's width in the same unit as `width`.
std::vector<std::u16string> WrapLine(std::u16string_view line, float width,
                                     const std::function<float(std::u16string_view)>& measure);

}  // namespace corvane::windows
