// The add-in object `cls_corvane`: the add-in's methods over the core's commands, and the
// building blocks the host macro may call.
// Contract: a command method runs its command (formatting/, spacing/) on the host held by
// mdl_Support, the store in force and the add-in's windows (windows/window_prompter.h). The
// object is the formulate command's RunState, so that the building blocks work on what the last
// run left (its widths, destination and separator); the character scan's fields are its own.
// All start empty. Methods take their arguments by reference as the automation interface passes
// them. Commands end quietly on any failure; the building blocks throw AutomationError to their
// caller.
// Building blocks (addin/building_blocks.cpp):
//  - GetSpacingThisLevel(str): with bSendToNotepad set, the number of UTF-16 code units of str,
//    touching nothing else. Otherwise the sum, in order from 0, of the width of each code unit:
//    codes 2..767 from SpacingArray (text converted with the regional format, the whole number 1
//    as it is), codes 0 and 1 (which have no entry) 0, codes 768 and above from the store's
//    "Special_" + standard font section, measured in one scratch workbook per call when not
//    stored yet (screen updating off while it is open). Error trap: any failure ends the call
//    with the total of the code units before the failing one; a scratch workbook it opened is
//    closed unsaved and screen updating put back on, on every path.
//  - GetSpecialCharSpacing: the stored width of one special code, measured and saved first when
//    missing; opens (and closes again) its own scratch workbook only when given no measuring cell,
//    and then leaves rgCalibrate empty again. No recovery: failures pass to the caller, after its
//    own scratch workbook is closed and screen updating put back on.
//  - GetIndentSpacesCount: the sum of LevelsArray(1..iIndentLevel) (Empty counts 0) rounded to a
//    whole number, ties to even. A missing element or a value that does not convert throws.
//  - LayoutFormula, over the layout (inputs: strFormula, iLenFormula, strCharArray =
//    PopulateCharArray of strFormula, strListSeparator, bFormatAllParens, SpacingArray,
//    bSendToNotepad (the text file, else the cell), strAfterParen):
//    it lays out the first iLenFormula characters of strFormula, with SpacingArray as parsed
//    (spacing::WidthsCache) and special characters measured by GetSpacingThisLevel on the whole
//    line. It needs the table only to cover the formula, and reads from it only the character
//    after the last one (a "(" there is half of an empty pair when the next row holds ")").
//    CheckChar itself still classifies parentheses and separators of names as syntax (and
//    those after a double quote inside a sheet name as text of a literal). Failures are the
//    layout's, and a formula or table shorter than iLenFormula (error 9) before anything is
//    laid out; the formulate command's trap catches them.
//  - RemoveSpacesInLastLine(str) returns str without the spaces (code 32 only) at its end; it
//    never fails on a text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/automation.h"
#include "base/platform.h"
#include "base/host.h"
#include "base/paren_check.h"
#include "formatting/formulate_command.h"

namespace corvane {

class cls_corvane : public AutomationObject, public formulate::RunState {
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

  // The measure of a line for the formulate command: GetSpacingThisLevel.
  double SpecialLineWidth(std::u16string_view line) override;

  // ---- The character scan's fields (the formulate command's are RunState's) ----
  std::u16string strFormula;
  std::int32_t iLenFormula = 0;
  StringTable strCharArray;  // no rows until a scan has filled it

 private:
  // Typed forms of the scan's steps, working on the object's own fields.
  StringTable Scan(std::u16string_view formula, std::int32_t length);
  // CheckChar on a table already in hand.
  ParenCheck CheckCharAt(std::int32_t item, const StringTable& table) const;
};

}  // namespace corvane
