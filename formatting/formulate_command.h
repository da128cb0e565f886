// The formulate-cell command: lays out the formula of the active cell (or of the array block it
// belongs to) and puts it back, or writes it to a text file opened in the text editor.
// Contract:
//  - FormulateCell works on the host, the store and the prompter it is given, and on the state it
//    is given (RunState: what one run leaves for the next; the add-in object is one, so that its
//    building blocks see the widths and destination of the last run). It never throws: any
//    failure ends it quietly (what was done before stays done) and the outcome says how far it
//    came; front ends use the outcome. The add-in's cvFormulateCell runs it on the held host, the
//    store in force and the add-in's windows, and returns Empty.
//  - Options (base/options.h) are read when the store reports a version other than the one they
//    were last read at, or none; the widths of the codes 2 to 767 are read
//    from "Spacing_" + the standard font when the store, the section or the state's width table
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
#include <memory>
#include <string>
#include <string_view>

#include "base/host.h"
#include "base/platform.h"
#include "base/prompter.h"
#include "formatting/layout.h"
#include "spacing/spacing_model.h"

namespace corvane::formulate {

inline constexpr std::u16string_view kTitle = u"Corvane";
inline constexpr std::u16string_view kNoFormulaPrompt = u"No formula in cell.";
inline constexpr std::u16string_view kCalibratePrompt =
    u"Corvane is not yet calibrated to your configuration. Calibrate now?";
inline constexpr std::u16string_view kFormatAnywayPrompt =
    u"Unable to format formula correctly until calibration is done. Format formula now anyway?\r\n\r\n"
    u"(Results may not be formatted correctly.)";
inline constexpr std::u16string_view kUnableToFormatPrompt = u"Unable to format this cell.";

// What one formulate run leaves for the next. The options' stored texts and the widths are read
// again only when their source changed; the separator, destination and room after "(" are those
// of the last layout. The names are the add-in's, whose object is a RunState: its building
// blocks (the layout and the measure of a line) work on what the last run left.
class RunState {
 public:
  // Where SpacingArray's widths came from: the store's version, the section, and the array's
  // contents right after every width was read. A run that finds all three as they were reads
  // nothing again; any save, another process's change or a change of the array reads anew.
  struct SpacingSource {
    StoreVersion version;
    std::u16string section;
    std::uint64_t contents = 0;
  };
  // The options' stored texts and the store's version they were read at (known versions only).
  struct OptionsSource {
    StoreVersion version;
    std::u16string allParens;
    std::u16string alwaysNotepad;
    std::u16string fitWidth;
  };

  RunState() = default;
  RunState(const RunState&) = delete;
  RunState& operator=(const RunState&) = delete;
  virtual ~RunState() = default;

  // The width of a line for the cell that holds a special character (code 768 and above), which
  // the width array cannot give.
  virtual double SpecialLineWidth(std::u16string_view line) = 0;

  VariantArray SpacingArray{2, 767};
  std::u16string strListSeparator;
  bool bSendToNotepad = false;
  std::u16string strAfterParen;
  bool bFormatAllParens = false;
  std::int32_t iFitWidth = 0;  // "Fit Width": the widest line in widths of "0"; 0 breaks every level
  SpacingSource spacingSource;
  OptionsSource optionsSource;
  // SpacingArray parsed, for the layout and the measure of a line: parsed again when it changed.
  spacing::WidthsCache parsedWidths;
  // The fitted layout's lists, kept from one layout to the next.
  layout::FitLists fitLists;
};

// Gives `to` the settings `from` has read (the widths, the options and where they came from), so
// that a run on `to` reads from the store no more than the next run on `from` would.
void CarrySettings(const RunState& from, RunState& to);

// Lays out `formula` with the state's separator, options, widths and destination (a ")" follows
// it when `closeFollows`). No error trap: failures throw.
std::u16string LayOut(RunState& state, std::u16string_view formula, bool closeFollows);

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

Outcome FormulateCell(RunState& state, HostApplication& host, SettingsStore& store, Prompter& prompter) noexcept;

}  // namespace corvane::formulate
