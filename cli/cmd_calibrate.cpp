// `corvane calibrate [--font NAME] [--store PATH]`: runs the calibration command on the in-memory
// workbook, whose columns fit to the real font, with a progress bar on the terminal (Ctrl-C
// cancels after the character being measured) and the closing notice; then says which font file
// measured the widths. `corvane calibrate --show` lists the stored widths of the font instead.
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "base/automation.h"
#include "cli/cli.h"
#include "cli/terminal_prompter.h"
#include "cli/workbook_session.h"
#include "spacing/calibrate_command.h"
#include "spacing/calibration_store.h"

namespace corvane::cli {
namespace {

bool IsControl(std::int32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

// The character as a user can read it in a listing: itself, or U+XXXX for a control character.
std::string Shown(std::int32_t code) {
  if (IsControl(code)) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(code));
    return buffer;
  }
  return ToUtf8(std::u16string(1, static_cast<char16_t>(code)));
}

// The first code of 2..767 with no stored width, or nothing when the font is fully calibrated.
std::optional<std::int32_t> FirstMissing(const std::u16string& section) {
  for (std::int32_t k = calibration::kFirstOrdinaryCode; k <= calibration::kLastOrdinaryCode; ++k)
    if (calibration::ReadWidthText(section, k) == calibration::kNotFound) return k;
  return std::nullopt;
}

std::string ServedBy(const std::u16string& font) {
  // Said with the size, as a workbook file of another size is measured at this one too.
  return ToUtf8(font) + " is measured with " + ToUtf8(Measurer().ResolvedFace(font)) + " at " +
         ToUtf8(FormatShortest(memory::kStandardFontPoints, RegionalFormat{})) + " pt";
}

int ShowStored(const std::u16string& font) {
  const std::u16string section = calibration::SpacingSection(font);
  // One consistent picture of the store, even while a calibration elsewhere is writing it.
  SettingsStore::ReadScope reads(Store());

  std::string out;
  std::optional<std::int32_t> firstMissing;
  std::int32_t stored = 0;
  for (std::int32_t k = calibration::kFirstOrdinaryCode; k <= calibration::kLastOrdinaryCode; ++k) {
    const std::u16string text = calibration::ReadWidthText(section, k);
    if (text == calibration::kNotFound) {
      if (!firstMissing) firstMissing = k;
    } else {
      ++stored;
    }
    out += std::to_string(k) + '\t' + Shown(k) + '\t' + ToUtf8(text) + '\n';
  }
  if (stored == 0) {
    // 767 lines of "Not Found" would bury the answer; status 1, as for a search that finds nothing.
    PrintError("corvane calibrate: " + ToUtf8(font) + " is not calibrated (corvane calibrate --font NAME measures it); " +
               ServedBy(font));
    return kExitFailed;
  }
  if (!firstMissing) {
    out += ToUtf8(font) + ": fully calibrated; " + ServedBy(font) + '\n';
  } else {
    out += ToUtf8(font) + ": not fully calibrated, first missing code " + std::to_string(*firstMissing) + "; " +
           ServedBy(font) + '\n';
  }
  std::cout << out;
  std::cout.flush();
  return kExitOk;
}

int Calibrate(WorkbookSession& session, ProgramServices& program) {
  const std::u16string font = session.app()->StandardFont();
  // The closing notice is shown as the message window shows on the terminal.
  TerminalPrompter prompter(program.terminal(), TerminalPrompter::Notices::Ask);
  // A failure reaches main(), which reports it.
  if (!calibration::CalibrateSpacing(*session.app(), Store(), prompter)) {
    PrintError("corvane calibrate: cancelled; the widths measured before the cancel are stored (see corvane "
               "calibrate --show)");
    return kExitFailed;
  }
  const std::u16string section = calibration::SpacingSection(font);
  if (const auto missing = FirstMissing(section)) {
    // Another program changing the store at the same moment is the only way here.
    PrintError("corvane calibrate: code " + std::to_string(*missing) + " is missing from " + ToUtf8(section) +
               " in " + program.storePath() + " after the calibration");
    return kExitFailed;
  }
  std::cout << "Calibrated " << ToUtf8(font) << " (" << ToUtf8(section) << " in " << program.storePath() << "); "
            << ServedBy(font) << '\n';
  std::cout.flush();
  return kExitOk;
}

int Run(std::vector<std::string>& args) {
  const std::optional<std::string> fontOption = TakeOption(args, "font");
  const std::optional<std::string> storeOption = TakeOption(args, "store");
  const bool show = TakeFlag(args, "show");
  RejectUnknownOptions(args);
  if (!args.empty()) throw UsageError("calibrate takes no arguments besides its options");
  std::optional<std::u16string> font;
  if (fontOption) {
    font = OptionFromUtf8(*fontOption, "font");
    if (font->empty()) throw UsageError("--font needs a font name");
  }

  ProgramServices program(storeOption.value_or(""));

  WorkbookSession session;
  if (font) session.app()->SetStandardFont(*font);
  if (show) return ShowStored(session.app()->StandardFont());
  program.WarnOfStandIn(session.app()->StandardFont(), "calibrate");
  return Calibrate(session, program);
}

const CommandRegistration kRegistration{{
    .name = "calibrate",
    .forms = {"calibrate [--font NAME] [--show]"},
    .summary = "measure the standard font's character widths (--show: list them)",
    .options = {{"--font NAME", "the font to measure (else the standard font, Calibri)"},
                {"--show", "list the stored widths and the font file that measures them, measuring nothing"}},
    .exits = {"0 the font was calibrated, or its widths listed",
              "1 cancelled (the widths measured before are kept), or the settings file failed",
              "2 bad usage or invalid input"},
    .run = Run,
    .usesStore = true}};

}  // namespace
}  // namespace corvane::cli
