#include "formatting/formulate_command.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/options.h"
#include "formatting/notepad_file.h"
#include "formatting/unformat.h"
#include "spacing/calibrate_command.h"
#include "spacing/calibration_store.h"
#include "windows/ui_backend.h"

namespace corvane {

namespace formulate {

namespace {

constexpr std::int32_t kShortLimit = 1024;
constexpr std::int32_t kLongLimit = 8192;
constexpr std::int32_t kListSeparatorIndex = 5;

bool OptionOn(const std::u16string& text, const RegionalFormat& fmt) { return ToBool(Variant(text), fmt); }

bool HasOpenParen(std::u16string_view formula) { return formula.find(u'(') != std::u16string_view::npos; }

// The keys of the codes 2 to 767, made once: the widths are read at every run.
const std::u16string& WidthKey(std::int32_t code) {
  static const std::vector<std::u16string> keys = [] {
    std::vector<std::u16string> made;
    for (std::int32_t k = calibration::kFirstOrdinaryCode; k <= calibration::kLastOrdinaryCode; ++k)
      made.push_back(DecimalKey(k));
    return made;
  }();
  return keys[static_cast<std::size_t>(code - calibration::kFirstOrdinaryCode)];
}

std::u16string ReadWidth(SettingsStore& store, std::u16string_view section, std::int32_t code) {
  return store.GetSetting(calibration::kAppName, section, WidthKey(code), calibration::kNotFound);
}

// The block's cells, row by row; the same order serves saving and putting back.
template <typename Visit>
void ForEachCell(HostRange& block, std::int32_t rows, std::int32_t columns, Visit visit) {
  for (std::int32_t r = 1; r <= rows; ++r)
    for (std::int32_t c = 1; c <= columns; ++c) visit(*block.Cells(r, c));
}

}  // namespace

std::u16string LayOut(RunState& state, std::u16string_view formula, bool closeFollows) {
  layout::Options options;
  options.allParens = state.bFormatAllParens;
  options.destination = state.bSendToNotepad ? layout::Destination::TextFile : layout::Destination::Cell;
  options.listSeparator = state.strListSeparator;
  options.afterParen = state.strAfterParen;
  options.specialLine = [&state](std::u16string_view line) { return state.SpecialLineWidth(line); };
  options.fitWidth = state.iFitWidth;
  const std::shared_ptr<const spacing::Widths> widths = state.parsedWidths.For(state.SpacingArray, Regional());
  return layout::Layout(formula, options, *widths, &state.fitLists, closeFollows);
}

void CarrySettings(const RunState& from, RunState& to) {
  to.SpacingArray = from.SpacingArray;
  to.optionsSource = from.optionsSource;
  to.spacingSource = from.spacingSource;
  // The copy holds the same widths under a number of its own.
  if (from.spacingSource.contents == from.SpacingArray.contentId())
    to.spacingSource.contents = to.SpacingArray.contentId();
  else
    to.spacingSource = {};
}

std::int32_t FormulaLengthLimit(std::u16string_view versionText) {
  // The number at the start of the text, as the macro language's Val reads it.
  std::size_t i = 0;
  while (i < versionText.size() &&
         (versionText[i] == u' ' || versionText[i] == u'\t' || versionText[i] == u'\n' || versionText[i] == u'\r'))
    ++i;
  bool negative = false;
  if (i < versionText.size() && (versionText[i] == u'-' || versionText[i] == u'+')) negative = versionText[i++] == u'-';
  double number = 0.0;
  while (i < versionText.size() && versionText[i] >= u'0' && versionText[i] <= u'9')
    number = number * 10.0 + (versionText[i++] - u'0');
  if (i < versionText.size() && versionText[i] == u'.') {
    double scale = 0.1;
    for (++i; i < versionText.size() && versionText[i] >= u'0' && versionText[i] <= u'9'; ++i, scale /= 10.0)
      number += (versionText[i] - u'0') * scale;
  }
  if (negative) number = -number;
  return number <= 11.0 ? kShortLimit : kLongLimit;
}

Outcome FormulateCell(RunState& state, HostApplication& host, SettingsStore& store, Prompter& prompter) noexcept {
  Outcome outcome;
  const auto showMessage = [&](std::u16string_view prompt, std::int32_t style) {
    return prompter.Ask(prompt, style, kTitle);
  };
  // Error trap: any failure ends the command quietly; what was done before it stays done.
  try {
    const RegionalFormat& fmt = Regional();

    // The options' texts are read again only when the store may have changed since; the texts,
    // not the answers, are kept, so that the regional format in force still decides.
    const StoreVersion version = store.Version();
    if (!version.known() || state.optionsSource.version != version) {
      state.optionsSource = {};
      std::u16string allParens = options::ReadText(store, options::kFormatAllParens);
      std::u16string alwaysNotepad = options::ReadText(store, options::kAlwaysSendToNotepad);
      std::u16string fitWidth = options::ReadText(store, options::kFitWidth);
      state.optionsSource = {version, std::move(allParens), std::move(alwaysNotepad), std::move(fitWidth)};
    }
    state.bFormatAllParens = OptionOn(state.optionsSource.allParens, fmt);
    state.iFitWidth = options::FitWidth(state.optionsSource.fitWidth);
    const bool alwaysSendToNotepad = OptionOn(state.optionsSource.alwaysNotepad, fmt);

    const std::u16string fontName = host.StandardFont();
    const std::u16string section = calibration::SpacingSection(fontName);
    const std::int32_t limit = FormulaLengthLimit(host.Version());

    // Wrapping is saved before anything changes, so that it can be put back whatever the host
    // does to it when the laid-out text goes in.
    std::shared_ptr<HostRange> target = host.ActiveCell();
    const Variant hasArray = target->HasArray();
    const bool isArray = !hasArray.isNull() && ToBool(hasArray, fmt);
    std::int32_t rows = 1;
    std::int32_t columns = 1;
    std::vector<bool> savedWraps;
    if (isArray) {
      target = target->CurrentArray();
      rows = target->RowsCount();
      columns = target->ColumnsCount();
      savedWraps.reserve(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
      ForEachCell(*target, rows, columns, [&](HostRange& cell) { savedWraps.push_back(ToBool(cell.WrapText(), fmt)); });
    } else {
      savedWraps.push_back(ToBool(target->WrapText(), fmt));
    }

    state.strListSeparator = ToText(host.International(kListSeparatorIndex), fmt);
    state.bSendToNotepad = alwaysSendToNotepad;

    std::u16string formula = host.ActiveCell()->Formula();
    // A constant is the user's data, whatever it holds: only formulas are laid out. Text that
    // merely starts with "=" is a constant too, which only the cell can tell.
    const bool isFormula = !formula.empty() && formula.front() == u'=' && HoldsFormula(*target, fmt);
    // A layout the formula already has goes first, so that laying it out again changes nothing.
    if (isFormula && formula.find(u'\n') != std::u16string::npos) formula = RemoveLineBreaks(formula);
    if (formula.empty()) {
      showMessage(kNoFormulaPrompt, buttons::kOkOnly);
      outcome.ending = Ending::Message;
      outcome.cause = Cause::EmptyCell;
      return outcome;
    }

    // The widths, once per run and only when the store or the array changed since they were
    // read in full. A missing one offers calibration; the keys before it keep the values already
    // read, the ones after it are read as the loop goes on.
    const bool unchanged = version.known() && state.spacingSource.version == version &&
                           state.spacingSource.section == section &&
                           state.spacingSource.contents == state.SpacingArray.contentId();
    if (!unchanged) {
      state.spacingSource = {};
      bool complete = true;
      for (std::int32_t code = calibration::kFirstOrdinaryCode; code <= calibration::kLastOrdinaryCode; ++code) {
        std::u16string text = ReadWidth(store, section, code);
        // An entry that holds this text already (the previous run's) stays as it is, untouched,
        // so that widths converted from it before stay valid.
        const Variant& entry = std::as_const(state.SpacingArray).at(code);
        if (!entry.isString() || entry.string() != text) state.SpacingArray.at(code) = Variant(std::move(text));
        if (entry.string() != calibration::kNotFound) continue;
        complete = false;
        if (showMessage(kCalibratePrompt, buttons::kYesNo) != answer::kNo) {
          (void)calibration::CalibrateSpacing(host, store, prompter);
          Ui().DoEvents();
          state.SpacingArray.at(code) = Variant(ReadWidth(store, section, code));
          continue;
        }
        if (showMessage(kFormatAnywayPrompt, buttons::kYesNo) != answer::kYes) {
          outcome.ending = Ending::Declined;
          return outcome;
        }
        for (std::int32_t k = calibration::kFirstOrdinaryCode; k <= calibration::kLastOrdinaryCode; ++k)
          state.SpacingArray.at(k) = Variant(std::int32_t{1});
        break;
      }
      if (complete && version.known())
        state.spacingSource = {version, std::u16string(section), state.SpacingArray.contentId()};
    }

    std::u16string laidOut;
    std::int32_t inCellLength = 0;
    for (;;) {
      state.strAfterParen = state.bSendToNotepad ? u"  " : u"       ";
      if (!HasOpenParen(formula) || !isFormula) {
        showMessage(kUnableToFormatPrompt, buttons::kOkOnly);
        outcome.ending = Ending::Message;
        outcome.cause = isFormula ? Cause::NoParenthesis : Cause::Constant;
        return outcome;
      }
      laidOut = LayOut(state, formula, false);
      if (state.bSendToNotepad) break;

      inCellLength = static_cast<std::int32_t>(laidOut.size());
      if (inCellLength > limit) {
        // Only its length is wanted now: a long layout should not be held beside the next one.
        laidOut = std::u16string();
        state.bSendToNotepad = true;
        continue;
      }

      if (isArray) {
        target->SetFormulaArray(laidOut);
      } else {
        target->SetFormula(laidOut);
      }
      outcome.ending = Ending::IntoCell;
      outcome.laidOut = std::move(laidOut);

      if (isArray) {
        std::size_t k = 0;
        ForEachCell(*target, rows, columns, [&](HostRange& cell) { cell.SetWrapText(Variant(bool{savedWraps[k++]})); });
      } else {
        target->SetWrapText(Variant(bool{savedWraps.front()}));
      }
      return outcome;
    }

    // The text file; the cell, its formula and its wrapping stay as they are.
    const auto sheet = target->Parent();
    const auto book = sheet->Parent();
    std::u16string folder = book->Path();
    if (folder.empty()) {
      folder = Env().GetVariable(u"tmp");
      if (folder.empty()) folder = Env().TempFolder();
    }
    const std::u16string path = notepad::FilePath(folder, Services().pathSeparator, book->Name(), sheet->Name(),
                                                  target->Address(false, false));
    const notepad::TooLongFacts facts{limit, inCellLength, fontName, static_cast<std::int32_t>(laidOut.size())};
    Files().WriteTextFileReplacing(path,
                                   notepad::FileText(notepad::FileLines(alwaysSendToNotepad, facts, laidOut, fmt)));
    outcome.ending = Ending::IntoFile;
    outcome.laidOut = std::move(laidOut);
    outcome.filePath = path;

    Ui().DoEvents();
    Editor().OpenInEditor(path);
  } catch (const AutomationError& e) {
    // Nothing reaches the host macro; a front end may still say why the command ended.
    try {
      outcome.failure = e.description();
    } catch (...) {
      // Without memory for the text the reason stays unknown.
    }
  } catch (...) {
    // Nothing reaches the host macro.
  }
  return outcome;
}

}  // namespace formulate

}  // namespace corvane
