// The add-in object `cls_corvane`: the add-in's methods over the core's commands, and the
// building blocks the host macro may call.
// Contract: a command method runs its command (formatting/, spacing/) on the host held by
// mdl_Support, the store in force and the add-in's windows (windows/window_prompter.h). The
// fields below are what the building blocks work on; they start empty and keep the values of the
// last command (the formulate command leaves its widths, destination and character table there).
// Methods take their arguments by reference as the automation interface passes them. Commands
// end quietly on any failure; the building blocks throw AutomationError to their caller.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/automation.h"
#include "base/platform.h"
#include "base/host.h"
#include "base/paren_check.h"
#include "formatting/layout.h"
#include "spacing/spacing_model.h"

namespace corvane {

class cls_corvane : public AutomationObject {
 public:
  // ---- Host holder and help ----
  void SetExcelApp(ObjectRef& excel_app);
  std::u16string cvHelpfilePath();

  // ---- Windows ----
  // Show the shared settings / About window modeless (loading it first if needed) and return at
  // once; a failing load step or show passes to the caller.
  void cvSettings();
  void cvAbout();

  // ---- Character scan ----
  // The character table (rows 1..iLenFormula, columns 1..4), or Empty when the scan failed.
  Variant PopulateCharArray(Variant& strFormula, Variant& iLenFormula);
  void SetQuoteType(Variant& strType, Variant& strCharArray, Variant& iItem, Variant& strPrevQuoteType,
                    Variant& strPrevPrevQuoteType, Variant& bPrevCharIsQuote);
  ParenCheck CheckChar(Variant& iItem, Variant& strCharArray);

  // ---- Unformat ----
  Variant cvDeformulateCell();

  // ---- Layout and formulate ----
  Variant cvFormulateCell();
  std::u16string RemoveSpacesInLastLine(Variant& str);
  // The layout step over the object's fields: lays out strFormula (with strCharArray,
  // strListSeparator, bFormatAllParens, iFitWidth, SpacingArray, bSendToNotepad and strAfterParen
  // as set) and returns the laid-out text. No error trap: failures throw.
  std::u16string LayoutFormula();
  // The same on a formula in hand, the table's only contribution given: whether a ")" follows the
  // laid-out part. The formulate command lays out its whole formula this way, with the fields
  // other than the formula and its table set by the run.
  std::u16string LayOut(std::u16string_view formula, bool closeFollows);

  // ---- Spacing model ----
  double GetSpacingThisLevel(Variant& str);
  double GetSpecialCharSpacing(std::int32_t& iUnicodeValue, std::shared_ptr<HostRange>& rgCalibrate,
                               std::u16string& strRegSection);
  std::int32_t GetIndentSpacesCount(std::int32_t& iIndentLevel, Variant& LevelsArray);

  // ---- Measurement and calibration ----
  void cvCalibrateSpacing();
  double GetSpaceWidth(std::shared_ptr<HostRange>& rgCalibrate);
  bool CalibrateOneChar(std::int32_t& iChar, std::shared_ptr<HostRange>& rgCalibrate, std::u16string& strRegSection,
                        double& dblSpaceWidthNoOverhead);

  // ---- Object fields (all start empty) ----
  VariantArray SpacingArray{2, 767};
  std::u16string strListSeparator;
  bool bSendToNotepad = false;
  std::u16string strAfterParen;
  std::u16string strFormula;
  std::int32_t iLenFormula = 0;
  StringTable strCharArray;  // no rows until a scan has filled it
  bool bFormatAllParens = false;
  std::int32_t iFitWidth = 0;  // "Fit Width": the widest line in widths of "0"; 0 breaks every level
  // Where SpacingArray's widths came from: the store's version, the section, and the array's
  // contents right after every width was read. A formulate run that finds all three as they were
  // reads nothing again; any save, another process's change or a change of the array reads anew.
  struct SpacingSource {
    StoreVersion version;
    std::u16string section;
    std::uint64_t contents = 0;
  };
  SpacingSource spacingSource;
  // The two options' stored texts and the store's version they were read at (known versions only).
  struct OptionsSource {
    StoreVersion version;
    std::u16string allParens;
    std::u16string alwaysNotepad;
    std::u16string fitWidth;
  };
  OptionsSource optionsSource;
  // SpacingArray parsed, for the layout and GetSpacingThisLevel: parsed again when it changed.
  spacing::WidthsCache parsedWidths;
  // The fitted layout's lists, kept from one layout to the next.
  layout::FitLists fitLists;

 private:
  // Typed forms of the scan's steps, working on the object's own fields.
  StringTable Scan(std::u16string_view formula, std::int32_t length);

 public:
  // CheckChar on a table already in hand; the layout calls it for every character.
  ParenCheck CheckCharAt(std::int32_t item, const StringTable& table) const;
};

}  // namespace corvane
