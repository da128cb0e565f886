#include "platform/posix/terminal_ui.h"
#include "platform/posix/posix_platform.h"

#include <sys/ioctl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "windows/picture_button.h"

namespace corvane::posix {

namespace {

using windows::Control;
using windows::ControlKind;
using windows::Form;


// ---- Signals ----

// Ctrl-C while the progress window is open: noted here, served by DoEvents.
volatile std::sig_atomic_t gInterrupted = 0;
struct sigaction gPreviousInterrupt {};

extern "C" void NoteInterrupt(int) { gInterrupted = 1; }

// The terminal mode to put back when a signal ends the program while keys are read.
constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP};
struct termios gSavedMode {};
int gRawFd = -1;
volatile std::sig_atomic_t gRawActive = 0;
struct sigaction gPreviousFatal[std::size(kFatalSignals)] {};

extern "C" void RestoreTerminalAndReraise(int sig) {
  if (gRawActive) {
    tcsetattr(gRawFd, TCSANOW, &gSavedMode);
    gRawActive = 0;
  }
  for (std::size_t i = 0; i < std::size(kFatalSignals); ++i)
    if (kFatalSignals[i] == sig) sigaction(sig, &gPreviousFatal[i], nullptr);
  raise(sig);
}

// Non-canonical, no-echo reading of single keys for as long as it lives.
class KeyMode {
 public:
  explicit KeyMode(int fd) {
    if (tcgetattr(fd, &gSavedMode) != 0) return;
    struct termios raw = gSavedMode;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    gRawFd = fd;
    struct sigaction action {};
    action.sa_handler = RestoreTerminalAndReraise;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kFatalSignals); ++i) sigaction(kFatalSignals[i], &action, &gPreviousFatal[i]);
    gRawActive = 1;
    if (tcsetattr(fd, TCSANOW, &raw) != 0) {
      Restore();
      return;
    }
    active_ = true;
  }
  ~KeyMode() {
    if (active_) Restore();
  }
  KeyMode(const KeyMode&) = delete;
  KeyMode& operator=(const KeyMode&) = delete;

 private:
  void Restore() {
    if (gRawActive) tcsetattr(gRawFd, TCSANOW, &gSavedMode);
    gRawActive = 0;
    for (std::size_t i = 0; i < std::size(kFatalSignals); ++i) sigaction(kFatalSignals[i], &gPreviousFatal[i], nullptr);
  }
  bool active_ = false;
};

// One key, or -1 at end of input (end of file, a read error, Ctrl-D).
int ReadKey(int fd) {
  for (;;) {
    unsigned char byte = 0;
    const ssize_t n = ::read(fd, &byte, 1);
    if (n == 1) return byte == 0x04 ? -1 : byte;
    if (n < 0 && errno == EINTR) continue;
    return -1;
  }
}

// A key of a dialog: a character, or one of the keys that move and press.
enum class Key { Character, Up, Down, Left, Right, Tab, BackTab, Enter, Space, Escape, End };
struct DialogKey {
  Key key = Key::End;
  int character = 0;
};

// One key as a dialog reads it. An escape sequence (an arrow key, Shift-Tab) arrives at once;
// an Esc with nothing right behind it is the Esc key. Only what belongs to the key is read: a
// key typed later stays for whoever reads the terminal next.
DialogKey ReadDialogKey(int fd) {
  const int first = ReadKey(fd);
  if (first < 0) return {Key::End};
  if (first == '\t') return {Key::Tab};
  if (first == '\r' || first == '\n') return {Key::Enter};
  if (first == ' ') return {Key::Space};
  if (first != 0x1B) return {Key::Character, first};
  struct pollfd ready {fd, POLLIN, 0};
  constexpr int kSequenceGapMs = 30;
  if (poll(&ready, 1, kSequenceGapMs) != 1) return {Key::Escape};
  const int introducer = ReadKey(fd);
  if (introducer != '[' && introducer != 'O') return {Key::Escape};
  // Parameters, then the final byte.
  for (int c = ReadKey(fd); c >= 0; c = ReadKey(fd)) {
    if (c < 0x40 || c > 0x7E) continue;
    switch (c) {
      case 'A': return {Key::Up};
      case 'B': return {Key::Down};
      case 'C': return {Key::Right};
      case 'D': return {Key::Left};
      case 'Z': return {Key::BackTab};
      default: return {Key::Character, 0};
    }
  }
  return {Key::End};
}

int TerminalColumns(int fd) {
  struct winsize size {};
  if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 0;
}

// The clickable picture buttons of a window, in reading order.
bool IsButton(const Control& c) {
  return c.Kind() == ControlKind::Image && c.Visible() && c.onClick && c.GetPicture() && !c.GetPicture()->text.empty();
}

std::vector<Control*> InReadingOrder(const Form& form) {
  std::vector<Control*> controls = form.Controls();
  std::stable_sort(controls.begin(), controls.end(), [](const Control* a, const Control* b) {
    return a->Top() != b->Top() ? a->Top() < b->Top() : a->Left() < b->Left();
  });
  return controls;
}

std::vector<Control*> CheckBoxes(const Form& form) {
  std::vector<Control*> boxes;
  for (Control* c : InReadingOrder(form))
    if (c->Kind() == ControlKind::CheckBox && c->Visible()) boxes.push_back(c);
  return boxes;
}

std::vector<Control*> Buttons(const Form& form) {
  std::vector<Control*> buttons;
  for (Control* c : form.Controls())
    if (IsButton(*c)) buttons.push_back(c);
  std::stable_sort(buttons.begin(), buttons.end(),
                   [](const Control* a, const Control* b) { return a->Left() < b->Left(); });
  return buttons;
}

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

std::string TitleLines(std::u16string_view title) {
  return ToUtf8(title) + "\n" + std::string(std::max<std::size_t>(title.size(), 1), '-') + "\n";
}

// A label's text, its lines wrapped to the terminal's width when it has one (columns > 0).
std::string LabelLines(std::u16string_view caption, std::size_t indent, int columns) {
  std::string out;
  for (const auto& paragraph : windows::SplitLines(caption)) {
    std::vector<std::u16string> lines{paragraph};
    if (columns > static_cast<int>(indent) + 20) {
      const auto width = static_cast<float>(columns - 1 - static_cast<int>(indent));
      lines = windows::WrapLine(paragraph, width, [](std::u16string_view s) { return static_cast<float>(s.size()); });
    }
    for (const auto& line : lines) out += std::string(indent, ' ') + ToUtf8(line) + "\n";
  }
  return out;
}

// "[Y]es": the key of a button is the first letter of its text.
void AppendKey(std::string& keys, std::u16string_view text) {
  if (!keys.empty()) keys += "  ";
  keys.append("[").append(ToUtf8(text.substr(0, 1))).append("]").append(ToUtf8(text.substr(1)));
}

std::string CheckBoxLine(const Control& box, std::size_t number) {
  const char* mark = box.Value() == static_cast<float>(windows::kChecked)  ? "[x]"
                     : box.Value() == static_cast<float>(windows::kGrayed) ? "[-]"
                                                                           : "[ ]";
  return std::to_string(number) + " " + mark + " " + ToUtf8(box.Caption()) + "\n";
}

}  // namespace

TerminalUi::TerminalUi() : TerminalUi(Options{}) {}

TerminalUi::TerminalUi(Options options) : options_(options) {}

TerminalUi::~TerminalUi() { EndProgress(); }

bool TerminalUi::InputIsTerminal() const { return isatty(options_.input) == 1; }

bool TerminalUi::OutputIsTerminal() const { return isatty(options_.output) == 1; }

double TerminalUi::Dpi() { return options_.dpi; }

windows::TwipsSize TerminalUi::FrameExtraTwips(windows::BorderStyle border) {
  // A terminal has no frames; these are the usual sizes of a dialog frame with its caption.
  const auto tpp = static_cast<float>(1440.0 / options_.dpi);
  if (border == windows::BorderStyle::None) return {};
  return {6.0F * tpp, 29.0F * tpp};
}

void TerminalUi::Write(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(options_.output, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nobody is reading; the window goes on without its picture
    done += static_cast<std::size_t>(n);
  }
}

void TerminalUi::Show(Form& form, windows::ShowMode mode) {
  if (mode == windows::ShowMode::Modal) {
    Interact(form);
    return;
  }
  for (Control* c : form.Controls()) {
    if (c->Kind() == ControlKind::ProgressBar && c->Visible() && progress_ != &form) {
      EndProgress();
      progress_ = &form;
      gInterrupted = 0;
      struct sigaction action {};
      action.sa_handler = NoteInterrupt;
      sigemptyset(&action.sa_mask);
      action.sa_flags = SA_RESTART;
      interruptInstalled_ = sigaction(SIGINT, &action, &gPreviousInterrupt) == 0;
      DrawProgress(form);
      return;
    }
  }
}

void TerminalUi::Unload(Form& form) {
  if (&form == progress_) EndProgress();
}

void TerminalUi::Changed(Form& form, const Control* control) {
  if (&form == progress_ && control && control->Kind() == ControlKind::ProgressBar) DrawProgress(form);
}

void TerminalUi::DoEvents() {
  if (!gInterrupted || !progress_) return;
  gInterrupted = 0;
  Form& form = *progress_;
  const auto keep = form.weak_from_this().lock();
  for (Control* button : Buttons(form)) {
    if (button->GetPicture()->text == u"Cancel") {
      windows::ClickPictureButton(*button);
      return;
    }
  }
}

void TerminalUi::DrawProgress(const Form& form) {
  if (!OutputIsTerminal()) return;
  const Control* bar = nullptr;
  std::u16string label;
  for (const Control* c : InReadingOrder(form)) {
    if (c->Kind() == ControlKind::ProgressBar && !bar) bar = c;
    if (c->Kind() == ControlKind::Label && c->Visible() && label.empty()) label = c->Caption();
  }
  if (!bar) return;
  constexpr int kCells = 40;
  const double fraction = std::clamp((bar->Value() - bar->Min()) / (bar->Max() - bar->Min()), 0.0F, 1.0F);
  const int filled = static_cast<int>(fraction * kCells);
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100.0));
  // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on literal + string chains.
  std::string line = "\r";
  line.append(ToUtf8(label)).append(" [");
  line.append(static_cast<std::size_t>(filled), '#').append(static_cast<std::size_t>(kCells - filled), '.');
  line.append("] ").append(percent).append("\x1b[K");
  if (line == drawnProgress_) return;
  drawnProgress_ = line;
  Write(line);
}

void TerminalUi::EndProgress() {
  if (!drawnProgress_.empty()) Write("\r\x1b[K");
  drawnProgress_.clear();
  if (interruptInstalled_) sigaction(SIGINT, &gPreviousInterrupt, nullptr);
  interruptInstalled_ = false;
  gInterrupted = 0;
  progress_ = nullptr;
}

void TerminalUi::Render(const Form& form) {
  if (!drawnProgress_.empty()) {
    Write("\n");
    drawnProgress_.clear();
  }
  const int columns = OutputIsTerminal() ? TerminalColumns(options_.output) : 0;
  std::string out = TitleLines(form.Caption());

  const auto controls = InReadingOrder(form);
  float textLeft = -1.0F;  // the leftmost text, from which labels further right are indented
  for (const Control* c : controls)
    if (c->Visible() && (c->Kind() == ControlKind::Label || c->Kind() == ControlKind::CheckBox))
      textLeft = textLeft < 0.0F ? c->Left() : std::min(textLeft, c->Left());

  std::size_t boxNumber = 0;
  for (const Control* c : controls) {
    if (!c->Visible()) continue;
    if (c->Kind() == ControlKind::CheckBox) {
      out += CheckBoxLine(*c, ++boxNumber);
    } else if (c->Kind() == ControlKind::Label) {
      const auto indent = static_cast<std::size_t>(std::clamp((c->Left() - textLeft) / 90.0F, 0.0F, 20.0F));
      out += LabelLines(c->Caption(), indent, columns);
    }
  }

  out += "\n";
  std::string keys;
  if (boxNumber > 0) keys += boxNumber == 1 ? "[1] toggle" : "[1]-[" + std::to_string(boxNumber) + "] toggle";
  for (const Control* button : Buttons(form)) AppendKey(keys, button->GetPicture()->text);
  out += keys + "\n";
  Write(out);
}

void TerminalUi::Interact(Form& form) {
  const auto keep = form.weak_from_this().lock();
  if (!InputIsTerminal()) {
    Render(form);
    form.CloseBox();
    return;
  }
  // Keys typed once the choices are on screen must already arrive one by one, unechoed.
  KeyMode keyMode(options_.input);
  Render(form);
  // The focus goes round the check boxes and then the buttons, as Tab goes round a dialog; the
  // focused one is shown on a line of its own, rewritten in place on a terminal.
  std::size_t focus = 0;
  bool focusShown = false;
  const auto showFocus = [&](const std::vector<Control*>& items, const std::vector<Control*>& boxes) {
    if (items.empty()) return;
    const Control& item = *items[focus % items.size()];
    std::string line = "> ";
    if (focus % items.size() < boxes.size()) {
      line += CheckBoxLine(item, focus % items.size() + 1);
      line.pop_back();
    } else {
      line += "[" + ToUtf8(item.GetPicture()->text) + "]";
    }
    Write(OutputIsTerminal() ? "\r\x1b[K" + line : line + "\n");
    focusShown = true;
  };
  const auto press = [&](std::u16string_view text, bool orFirst) {
    const auto buttons = Buttons(form);
    for (Control* button : buttons) {
      if (button->GetPicture()->text == text) {
        windows::ClickPictureButton(*button);
        return;
      }
    }
    if (orFirst && !buttons.empty()) {
      windows::ClickPictureButton(*buttons.front());
    } else if (!orFirst) {
      form.CloseBox();
    }
  };
  while (form.Loaded()) {
    const DialogKey key = ReadDialogKey(options_.input);
    if (key.key == Key::End) {
      form.CloseBox();
      break;
    }
    const auto boxes = CheckBoxes(form);
    std::vector<Control*> items = boxes;
    for (Control* button : Buttons(form)) items.push_back(button);
    const std::size_t count = std::max<std::size_t>(items.size(), 1);
    switch (key.key) {
      case Key::Tab:
      case Key::Down:
      case Key::Right:
        focus = (focus + 1) % count;
        showFocus(items, boxes);
        continue;
      case Key::BackTab:
      case Key::Up:
      case Key::Left:
        focus = (focus + count - 1) % count;
        showFocus(items, boxes);
        continue;
      case Key::Space:
      case Key::Enter:
        if (focus < boxes.size() && key.key == Key::Space) {
          form.Click(*boxes[focus]);
          showFocus(items, boxes);
        } else if (focus >= boxes.size() && focus < items.size()) {
          windows::ClickPictureButton(*items[focus]);
        } else if (key.key == Key::Enter) {
          press(u"OK", true);
        }
        continue;
      case Key::Escape:
        press(u"Cancel", false);
        continue;
      default:
        break;
    }
    if (key.character >= '1' && key.character <= '9' && static_cast<std::size_t>(key.character - '0') <= boxes.size()) {
      Control& box = *boxes[static_cast<std::size_t>(key.character - '1')];
      form.Click(box);
      if (focusShown && OutputIsTerminal()) Write("\r\x1b[K");
      focusShown = false;
      Write(CheckBoxLine(box, static_cast<std::size_t>(key.character - '0')));
      continue;
    }
    for (Control* button : Buttons(form)) {
      if (Lower(button->GetPicture()->text.front()) == Lower(static_cast<char16_t>(key.character))) {
        windows::ClickPictureButton(*button);
        break;
      }
    }
  }
  if (focusShown && OutputIsTerminal()) Write("\n");
}

std::int32_t TerminalUi::Ask(std::u16string_view prompt, std::int32_t style, std::u16string_view title) {
  struct Choice {
    std::u16string_view text;
    std::int32_t answer;
  };
  std::vector<Choice> choices;
  if (style == buttons::kYesNo) {
    choices = {{u"Yes", answer::kYes}, {u"No", answer::kNo}};
  } else if (style == buttons::kOkCancel) {
    choices = {{u"OK", answer::kOk}, {u"Cancel", answer::kCancel}};
  } else {
    choices = {{u"OK", answer::kOk}};
  }
  const auto render = [&] {
    if (!drawnProgress_.empty()) {
      Write("\n");
      drawnProgress_.clear();
    }
    const int columns = OutputIsTerminal() ? TerminalColumns(options_.output) : 0;
    std::string keys;
    for (const Choice& choice : choices) AppendKey(keys, choice.text);
    Write(TitleLines(title) + LabelLines(prompt, 0, columns) + "\n" + keys + "\n");
  };
  if (!InputIsTerminal()) {
    render();
    return answer::kClosed;
  }
  KeyMode keyMode(options_.input);
  render();
  for (;;) {
    const int key = ReadKey(options_.input);
    if (key < 0) return answer::kClosed;
    for (const Choice& choice : choices)
      if (Lower(choice.text.front()) == Lower(static_cast<char16_t>(key))) return choice.answer;
  }
}

void TerminalUi::Run(Form& form) {
  const auto keep = form.weak_from_this().lock();
  if (!form.Loaded()) return;
  Interact(form);
}

}  // namespace corvane::posix
