// `corvane settings [--format-all-parens on|off] [--always-notepad on|off] [--fit-width N|off]
// [--store PATH]`: the two options of the settings window, and "Fit Width", which only this
// command sets. With a flag it reads both as the settings window loads them and saves both as
// its OK saves them, the ones named changed; with none, on a terminal, the settings window's
// boxes are toggled from the keyboard and the window ends with OK or Cancel; with none and no
// terminal, the options are printed as the window would show them. Prints the options as they
// stand at the end.
#include <iostream>
#include <optional>
#include <string>

#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "base/options.h"
#include "cli/cli.h"
#include "platform/posix/terminal_ui.h"
#include "windows/frm_settings.h"

namespace corvane::cli {
namespace {

std::optional<bool> OnOff(std::vector<std::string>& args, std::string_view name) {
  const auto value = TakeOption(args, name);
  if (!value) return std::nullopt;
  if (*value == "on" || *value == "1") return true;
  if (*value == "off" || *value == "0") return false;
  throw UsageError("--" + std::string(name) + " takes on or off, not \"" + Printable(*value) + "\"");
}

std::string Describe(std::int32_t state) {
  if (state == windows::kChecked) return "on";
  if (state == windows::kGrayed) return "on (shown greyed; OK stores it as on)";
  return "off";
}

void PrintFitWidth() {
  const std::int32_t width = options::FitWidth(options::ReadText(Store(), options::kFitWidth));
  std::cout << ToUtf8(options::kFitWidth) << ": " << (width == 0 ? "off" : std::to_string(width)) << '\n';
}

std::optional<std::int32_t> FitWidthWanted(std::vector<std::string>& args) {
  const auto value = TakeOption(args, "fit-width");
  if (!value) return std::nullopt;
  return options::FitWidth(FitWidthOption(*value));
}

constexpr std::u16string_view kKeys[] = {options::kFormatAllParens, options::kAlwaysSendToNotepad};

void PrintStored() {
  for (const auto key : kKeys) {
    const std::u16string value = options::ReadText(Store(), key);
    std::cout << ToUtf8(key) << ": " << (value == u"0" ? "off" : value == u"1" ? "on" : "\"" + ToUtf8(value) + "\"")
              << '\n';
  }
  PrintFitWidth();
}

int Run(std::vector<std::string>& args) {
  const std::string storeOption = TakeOption(args, "store").value_or("");
  const std::optional<bool> formatAllParens = OnOff(args, "format-all-parens");
  const std::optional<bool> alwaysNotepad = OnOff(args, "always-notepad");
  const std::optional<std::int32_t> fitWidth = FitWidthWanted(args);
  RejectUnknownOptions(args);
  if (!args.empty()) throw UsageError("unexpected argument \"" + Printable(args.front()) + "\"");

  ProgramServices program(storeOption);
  posix::TerminalUi& ui = program.terminal();
  const auto loadFailed = [&](const AutomationError& e) {
    PrintError("corvane settings: " + ToUtf8(e.description()) + " The settings file is " + program.storePath() + ".");
    return kExitFailed;
  };

  if (!formatAllParens && !alwaysNotepad && !fitWidth && ui.InputIsTerminal() && ui.OutputIsTerminal()) {
    cls_corvane corvane;
    try {
      corvane.cvSettings();
    } catch (const AutomationError& e) {
      return loadFailed(e);
    }
    ui.Run(*mdl_Support::frmSettings());
    PrintStored();
    return kExitOk;
  }

  // Read as the window's load step reads them, failing the same way on a stored text that is no
  // check-box state.
  std::int32_t states[std::size(kKeys)] = {};
  try {
    for (std::size_t i = 0; i < std::size(kKeys); ++i) states[i] = options::ReadCheckState(Store(), kKeys[i]);
  } catch (const AutomationError& e) {
    return loadFailed(e);
  }
  if (formatAllParens || alwaysNotepad || fitWidth) {
    // Both keys are written, as the window's OK writes them: any state but clear is on.
    const std::optional<bool> given[] = {formatAllParens, alwaysNotepad};
    if (formatAllParens || alwaysNotepad)
      for (std::size_t i = 0; i < std::size(kKeys); ++i)
        options::SaveOption(Store(), kKeys[i], given[i] ? *given[i] : states[i] != windows::kUnchecked);
    if (fitWidth)
      Store().SaveSetting(options::kAppName, options::kSection, options::kFitWidth, Ascii16(std::to_string(*fitWidth)));
    PrintStored();
    return kExitOk;
  }
  for (std::size_t i = 0; i < std::size(kKeys); ++i) std::cout << ToUtf8(kKeys[i]) << ": " << Describe(states[i]) << '\n';
  PrintFitWidth();
  return kExitOk;
}

const CommandRegistration kRegistration{{
    .name = "settings",
    .forms = {"settings [--format-all-parens on|off] [--always-notepad on|off] [--fit-width N|off]"},
    .summary = "show or change the options (in a window on a terminal)",
    .options = {{"--format-all-parens on|off", "Format All Parens: lay out every group in parentheses"},
                {"--always-notepad on|off", "Always Send to Notepad: write every layout to a text file"},
                {"--fit-width N|off", "Fit Width: keep a level on one line when it fits in N widths of \"0\""}},
    .exits = {"0 the options were shown or saved", "1 the settings file could not be read or written",
              "2 bad usage"},
    .run = Run,
    .usesStore = true}};

}  // namespace
}  // namespace corvane::cli
