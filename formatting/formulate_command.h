// The formulate-cell command: lays out the formula of the active cell (or of the array block it
// belongs to) and puts it back, or writes it to a text file opened in the text editor.
// Contract:
//  - FormulateCell works on the host, the store and the prompter it is given, and on the add-in
//    object's layout fields (its widths and destination stay as the run left them, for the
//    building blocks that measure a line). It never throws: any failure ends it quietly (what was
//    done before stays done) and the outcome says how far it came; front ends use the outcome.
//    cls_corvane::cvFormulateCell runs it on the held host, the store in force and the add-in's
//    windows, and returns Empty.
//  - Options (base/options.h) are read when the store reports a version other than the one they
//    were last read at, or none; the widths of the codes 2 to 767 are read
//    from "Spacing_" + the standard font when the store, the section or the object's width table
//    changed since they were last read in full, with the calibration questions when one is
//    missing (a Yes runs the calibration command with the same host, store and prompter).
//  - Only a formula (text starting with "=") that holds an opening parenthesis is laid out; a
//    constant is never rewritten ("Unable to format this cell."). The layout a formula already
//    has is taken out first (RemoveLineBreaks), so that a second run changes nothing.
//  - The text file goes to the workbook's folder, or for a workbook never saved to the folder
//    named by the variable "tmp" (else the platform's temporary folder); a name that would leave
//    that folder writes nothing. Files(), Env() and Editor() of base/platform.h do the work.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "addin/cls_corvane.h"
#include "base/host.h"
#include "base/platform.h"
#include "base/prompter.h"

namespace corvane::formulate {

inline constexpr std::u16string_view kTitle = u"Corvane";
inline constexpr std::u16string_view kNoFormulaPrompt = u"No formula in cell.";
inline constexpr std::u16string_view kCalibratePrompt =
    u"Corvane is not yet calibrated to your configuration. Calibrate now?";
inline constexpr std::u16string_view kFormatAnywayPrompt =
    u"Unable to format formula correctly until calibration is done. Format formula now anyway?\r\n\r\n"
    u"(Results may not be formatted correctly.)";
inline constexpr std::u16string_view kUnableToFormatPrompt = u"Unable to format this cell.";

// The host's formula length limit for its version text: 1,024 when the number at the start of
// the text is 11 or less (a text without a number counts 0), else 8,192.
std::int32_t FormulaLengthLimit(std::u16string_view versionText);

enum class Ending {
  Failed,         // a failure ended the command quietly
  Message,        // a message ended it ("No formula in cell.", "Unable to format this cell.")
  Declined,       // the user would neither calibrate nor format without calibration
  IntoCell,       // the layout went into the cell or array block
  IntoFile,       // the layout was written to the text file
};

// Why a message ended the command, for a front end that says more than the message does.
enum class Cause {
  None,
  EmptyCell,      // "No formula in cell."
  Constant,       // "Unable to format this cell.": the cell holds a constant
  NoParenthesis,  // "Unable to format this cell.": the formula has no "(" to lay out
};

struct Outcome {
  Ending ending = Ending::Failed;
  Cause cause = Cause::None;  // set when a message ended it
  std::u16string laidOut;   // the layout delivered (IntoCell, IntoFile)
  std::u16string filePath;  // the text file written (IntoFile)
  std::u16string failure;   // what ended it (Failed), when it was an AutomationError
};

Outcome FormulateCell(cls_corvane& self, HostApplication& host, SettingsStore& store, Prompter& prompter) noexcept;

}  // namespace corvane::formulate
