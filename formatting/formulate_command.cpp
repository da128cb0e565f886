#include "formatting/formulate_command.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "addin/mdl_support.h"
#include "base/options.h"
#include "base/platform.h"
#include "formatting/notepad_file.h"
#include "spacing/calibration_store.h"
#include "windows/ui_backend.h"

namespace corvane {

namespace formulate {

namespace {

constexpr std::int32_t kShortLimit = 1024;
constexpr std::int32_t kLongLimit = 8192;
constexpr std::int32_t kListSeparatorIndex = 5;

bool ReadOption(std::u16string_view key) {
  return ToBool(Variant(options::ReadText(Store(), key)), Regional());
}

std::int32_t ShowMessage(std::u16string_view prompt, std::int32_t style) {
  return mdl_Support::CustomMsgBox(std::u16string(prompt), style, std::u16string(kTitle));
}

std::int32_t CountOpenParens(cls_corvane& self) {
  std::int32_t count = 0;
  self.iLen = static_cast<std::int32_t>(self.strFormula.size());
  for (self.iIndex = 1; self.iIndex <= self.iLen; ++self.iIndex)
    if (self.strFormula[static_cast<std::size_t>(self.iIndex - 1)] == u'(') ++count;
  return count;
}

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

void SetNotepadFlags(cls_corvane& self, bool value) {
  self.bSendToNotepad = value;
  self.bOutputToNotepad = value;
}

// The block's cells, row by row; the same order serves saving and putting back.
template <typename Visit>
void ForEachCell(cls_corvane& self, std::int32_t rows, std::int32_t columns, Visit visit) {
  for (std::int32_t r = 1; r <= rows; ++r)
    for (std::int32_t c = 1; c <= columns; ++c) visit(*self.rgTarget->Cells(r, c));
}

}  // namespace

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

Outcome FormulateCell(cls_corvane& self) noexcept {
  Outcome outcome;
  // Error trap: any failure ends the command quietly; what was done before it stays done.
  try {
    const RegionalFormat& fmt = Regional();

    self.bFormatAllParens = ReadOption(options::kFormatAllParens);
    self.bAlwaysSendToNotepad = ReadOption(options::kAlwaysSendToNotepad);

    const std::u16string fontName = mdl_Support::Host()->StandardFont();
    const std::u16string section = calibration::SpacingSection(fontName);
    const std::int32_t limit = FormulaLengthLimit(mdl_Support::Host()->Version());

    // Wrapping is saved before anything changes, so that it can be put back whatever the host
    // does to it when the laid-out text goes in.
    self.rgTarget = mdl_Support::Host()->ActiveCell();
    const Variant hasArray = self.rgTarget->HasArray();
    self.bIsArray = !hasArray.isNull() && ToBool(hasArray, fmt);
    std::int32_t rows = 1;
    std::int32_t columns = 1;
    std::vector<bool> savedWraps;
    if (self.bIsArray) {
      self.rgTarget = self.rgTarget->CurrentArray();
      rows = self.rgTarget->RowsCount();
      columns = self.rgTarget->ColumnsCount();
      savedWraps.reserve(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
      ForEachCell(self, rows, columns, [&](HostRange& cell) { savedWraps.push_back(ToBool(cell.WrapText(), fmt)); });
    } else {
      savedWraps.push_back(ToBool(self.rgTarget->WrapText(), fmt));
    }

    self.strListSeparator = ToText(mdl_Support::Host()->International(kListSeparatorIndex), fmt);
    SetNotepadFlags(self, self.bAlwaysSendToNotepad);

    self.strFormula = mdl_Support::Host()->ActiveCell()->Formula();
    self.iLenFormula = static_cast<std::int32_t>(self.strFormula.size());
    if (self.iLenFormula < 1) {
      ShowMessage(kNoFormulaPrompt, kStyleOkOnly);
      outcome.ending = Ending::Message;
      return outcome;
    }

    {
      Variant formulaArg(self.strFormula);
      Variant lengthArg(self.iLenFormula);
      self.strCharArray = self.PopulateCharArray(formulaArg, lengthArg).table();
    }

    // The widths, once per run and only when the store or the array changed since they were
    // read in full. A missing one offers calibration; the keys before it keep the values already
    // read, the ones after it are read as the loop goes on.
    SettingsStore& store = Store();
    const StoreVersion version = store.Version();
    const bool unchanged = version.known() && self.spacingSource.version == version &&
                           self.spacingSource.section == section &&
                           self.spacingSource.contents == self.SpacingArray.contentId();
    if (!unchanged) {
      self.spacingSource = {};
      bool complete = true;
      for (self.iIndex = calibration::kFirstOrdinaryCode; self.iIndex <= calibration::kLastOrdinaryCode; ++self.iIndex) {
        std::u16string text = ReadWidth(store, section, self.iIndex);
        // An entry that holds this text already (the previous run's) stays as it is, untouched,
        // so that widths converted from it before stay valid.
        const Variant& entry = std::as_const(self.SpacingArray).at(self.iIndex);
        if (!entry.isString() || entry.string() != text) self.SpacingArray.at(self.iIndex) = Variant(std::move(text));
        if (entry.string() != calibration::kNotFound) continue;
        complete = false;
        if (ShowMessage(kCalibratePrompt, kStyleYesNo) != kAnswerNo) {
          self.cvCalibrateSpacing();
          Ui().DoEvents();
          self.SpacingArray.at(self.iIndex) = Variant(ReadWidth(store, section, self.iIndex));
          continue;
        }
        if (ShowMessage(kFormatAnywayPrompt, kStyleYesNo) != kAnswerYes) {
          outcome.ending = Ending::Declined;
          return outcome;
        }
        for (self.iIndex2 = calibration::kFirstOrdinaryCode; self.iIndex2 <= calibration::kLastOrdinaryCode;
             ++self.iIndex2)
          self.SpacingArray.at(self.iIndex2) = Variant(std::int32_t{1});
        break;
      }
      if (complete && version.known())
        self.spacingSource = {version, std::u16string(section), self.SpacingArray.contentId()};
    }

    // A constant is the user's data, whatever it holds: only formulas are laid out.
    const bool isFormula = self.strFormula.front() == u'=';
    std::u16string laidOut;
    std::int32_t inCellLength = 0;
    for (;;) {
      self.strAfterParen = self.bSendToNotepad ? u"  " : u"       ";
      if (CountOpenParens(self) == 0 || !isFormula) {
        ShowMessage(kUnableToFormatPrompt, kStyleOkOnly);
        outcome.ending = Ending::Message;
        return outcome;
      }
      laidOut = self.LayoutFormula();
      if (self.bOutputToNotepad) break;

      inCellLength = static_cast<std::int32_t>(laidOut.size());
      if (inCellLength > limit) {
        SetNotepadFlags(self, true);
        continue;
      }

      if (self.bIsArray) {
        self.rgTarget->SetFormulaArray(laidOut);
      } else {
        self.rgTarget->SetFormula(laidOut);
      }
      outcome.ending = Ending::IntoCell;
      outcome.laidOut = laidOut;

      if (self.bIsArray) {
        std::size_t k = 0;
        ForEachCell(self, rows, columns, [&](HostRange& cell) { cell.SetWrapText(Variant(bool{savedWraps[k++]})); });
      } else {
        self.rgTarget->SetWrapText(Variant(bool{savedWraps.front()}));
      }
      return outcome;
    }

    // The text file; the cell, its formula and its wrapping stay as they are.
    const auto sheet = self.rgTarget->Parent();
    const auto book = sheet->Parent();
    std::u16string folder = book->Path();
    if (folder.empty()) {
      folder = Env().GetVariable(u"tmp");
      if (folder.empty()) folder = Env().TempFolder();
    }
    const std::u16string path = notepad::FilePath(folder, Services().pathSeparator, book->Name(), sheet->Name(),
                                                  self.rgTarget->Address(false, false));
    const notepad::TooLongFacts facts{limit, inCellLength, fontName, static_cast<std::int32_t>(laidOut.size())};
    Files().WriteTextFileReplacing(path,
                                   notepad::FileText(notepad::FileLines(self.bAlwaysSendToNotepad, facts, laidOut, fmt)));
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

Variant cls_corvane::cvFormulateCell() {
  (void)formulate::FormulateCell(*this);
  return Variant();
}

}  // namespace corvane
