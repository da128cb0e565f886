// `corvane settings [--format-all-parens on|off] [--always-notepad on|off] [--store PATH]`:
// the settings window. With a flag it loads the window, sets the boxes named and presses OK, so
// both options are written exactly as the window writes them; with none, on a terminal, the
// boxes are toggled from the keyboard and the window ends with OK or Cancel; with none and no
// terminal, the stored options are printed. Prints the options as they stand at the end.
#include <iostream>
#include <optional>
#include <string>

#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "base/options.h"
#include "cli/cli.h"
#include "platform/posix/terminal_ui.h"
#include "windows/frm_settings.h"
#include "windows/picture_button.h"

namespace corvane::cli {
namespace {

std::optional<bool> OnOff(std::vector<std::string>& args, std::string_view name) {
  const auto value = TakeOption(args, name);
  if (!value) return std::nullopt;
  if (*value == "on" || *value == "1") return true;
  if (*value == "off" || *value == "0") return false;
  throw UsageError("--" + std::string(name) + " takes on or off, not \"" + Printable(*value) + "\"");
}

std::string Describe(float state) {
  if (state == static_cast<float>(windows::kChecked)) return "on";
  if (state == static_cast<float>(windows::kGrayed)) return "on (shown greyed; OK stores it as on)";
  return "off";
}

void PrintBoxes(const windows::frmSettings& form) {
  std::cout << ToUtf8(form.chkFormatAllParens.Caption()) << ": " << Describe(form.chkFormatAllParens.Value()) << '\n'
            << ToUtf8(form.chkAlwaysSendToNotepad.Caption()) << ": " << Describe(form.chkAlwaysSendToNotepad.Value())
            << '\n';
}

void PrintStored() {
  for (const auto key : {options::kFormatAllParens, options::kAlwaysSendToNotepad}) {
    const std::u16string value = options::ReadText(Store(), key);
    std::cout << ToUtf8(key) << ": " << (value == u"0" ? "off" : value == u"1" ? "on" : "\"" + ToUtf8(value) + "\"")
              << '\n';
  }
}

int Run(std::vector<std::string>& args) {
  const std::string storeOption = TakeOption(args, "store").value_or("");
  const std::optional<bool> formatAllParens = OnOff(args, "format-all-parens");
  const std::optional<bool> alwaysNotepad = OnOff(args, "always-notepad");
  RejectUnknownOptions(args);
  if (!args.empty()) throw UsageError("unexpected argument \"" + Printable(args.front()) + "\"");

  ProgramServices program(storeOption);
  posix::TerminalUi& ui = program.terminal();

  cls_corvane corvane;
  try {
    corvane.cvSettings();
  } catch (const AutomationError& e) {
    PrintError("corvane settings: " + ToUtf8(e.description()) + " The settings file is " + program.storePath() + ".");
    return kExitFailed;
  }
  const auto form = mdl_Support::frmSettings();

  if (formatAllParens || alwaysNotepad) {
    if (formatAllParens) form->chkFormatAllParens.SetValue(static_cast<float>(*formatAllParens));
    if (alwaysNotepad) form->chkAlwaysSendToNotepad.SetValue(static_cast<float>(*alwaysNotepad));
    windows::ClickPictureButton(form->imgButtonOkMain);
    PrintStored();
    return kExitOk;
  }
  if (ui.InputIsTerminal() && ui.OutputIsTerminal()) {
    ui.Run(*form);
    PrintStored();
    return kExitOk;
  }
  PrintBoxes(*form);
  windows::ClickPictureButton(form->imgButtonCancelMain);
  return kExitOk;
}

const CommandRegistration kRegistration{
    {"settings",
     "settings [--format-all-parens on|off] [--always-notepad on|off] [--store PATH]   show or change the options",
     Run}};

}  // namespace
}  // namespace corvane::cli
