// The add-in's building blocks over the core: the layout step, the measure of a line and of a
// special character, and the measuring steps of the calibration. They work on the object's
// fields, the host held by mdl_Support and the store in force, as the host macro calls them.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "addin/char_scan.h"
#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "base/platform.h"
#include "spacing/calibration_store.h"
#include "spacing/measurement.h"
#include "spacing/spacing_model.h"

namespace corvane {

namespace {

// A scratch workbook opened for measuring, with screen updating off while it is open. Close()
// ends it on the normal path; when a failure leaves it open, the destructor closes it unsaved
// and puts screen updating back on, ignoring failures of its own.
class ScratchWorkbook {
 public:
  ScratchWorkbook() = default;
  ScratchWorkbook(const ScratchWorkbook&) = delete;
  ScratchWorkbook& operator=(const ScratchWorkbook&) = delete;
  ~ScratchWorkbook() {
    if (book_) {
      try {
        book_->Close(false);
      } catch (...) {
      }
    }
    if (screenOff_) {
      try {
        mdl_Support::Host()->SetScreenUpdating(true);
      } catch (...) {
      }
    }
  }

  bool IsOpen() const { return book_ != nullptr; }

  // Screen updating off, a new workbook, and cell A1 of its first worksheet.
  std::shared_ptr<HostRange> Open() {
    mdl_Support::Host()->SetScreenUpdating(false);
    screenOff_ = true;
    book_ = mdl_Support::Host()->WorkbooksAdd();
    return book_->Worksheets(1)->Cells(1);
  }

  // Closes it without saving and switches screen updating back on.
  void Close() {
    if (book_) {
      book_->Close(false);
      book_.reset();
    }
    if (screenOff_) {
      mdl_Support::Host()->SetScreenUpdating(true);
      screenOff_ = false;
    }
  }

 private:
  std::shared_ptr<HostWorkbook> book_;
  bool screenOff_ = false;
};

// The measuring building blocks' cell: one must be given.
HostRange& MeasuringCell(const std::shared_ptr<HostRange>& rgCalibrate) {
  if (!rgCalibrate)
    throw AutomationError(err::kObjectVariableNotSet, u"Object variable or With block variable not set");
  return *rgCalibrate;
}

}  // namespace

std::u16string cls_corvane::RemoveSpacesInLastLine(Variant& str) {
  std::u16string converted;
  const std::u16string_view text = TextView(str, Regional(), converted);
  std::size_t end = text.size();
  while (end >= 1 && text[end - 1] == u' ') --end;  // spaces (code 32) only
  return std::u16string(text.substr(0, end));
}

std::u16string cls_corvane::LayoutFormula() {
  using scan::kCharColumn;
  const StringTable& table = strCharArray;
  const std::int32_t n = iLenFormula;
  if (n >= 1 && (static_cast<std::size_t>(n) > strFormula.size() || table.rows() == 0 || table.rowLower() > 1 ||
                 table.rowUpper() < n || table.colLower() > kCharColumn || table.colUpper() < scan::kSheetMarkColumn))
    throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
  const std::u16string_view formula =
      std::u16string_view(strFormula).substr(0, static_cast<std::size_t>(std::max(n, 0)));
  const bool closeFollows = n >= 1 && n != table.rowUpper() && table.get(n + 1, kCharColumn) == u")";
  return formulate::LayOut(*this, formula, closeFollows);
}

double cls_corvane::SpecialLineWidth(std::u16string_view line) {
  Variant text{std::u16string(line)};
  return GetSpacingThisLevel(text);
}

double cls_corvane::GetSpacingThisLevel(Variant& str) {
  double total = 0.0;
  // Error trap: whatever fails, the answer is the width of the characters before it.
  try {
    std::u16string converted;
    const std::u16string_view text = TextView(str, Regional(), converted);
    if (bSendToNotepad) return static_cast<double>(text.size());

    const std::shared_ptr<const spacing::Widths> widths = parsedWidths.For(SpacingArray, Regional());
    ScratchWorkbook scratch;
    std::shared_ptr<HostRange> rgCalibrate;
    std::size_t i = 0;
    try {
      for (;;) {
        i += widths->Sum(text.substr(i), total);
        // The end, or an ordinary code whose entry is no number: the sum ends there.
        if (i == text.size() || text[i] < spacing::kFirstSpecialCode) break;
        std::u16string section = calibration::SpecialSection(mdl_Support::Host()->StandardFont());
        std::int32_t code = text[i];
        // One scratch workbook serves every special character of this text that is not stored.
        if (!scratch.IsOpen() && calibration::ReadWidthText(section, code) == calibration::kNotFound)
          rgCalibrate = scratch.Open();
        total += GetSpecialCharSpacing(code, rgCalibrate, section);
        ++i;
      }
      scratch.Close();
    } catch (...) {
      return total;  // the scratch workbook closes on the way out
    }
  } catch (...) {
  }
  return total;
}

double cls_corvane::GetSpecialCharSpacing(std::int32_t& iUnicodeValue, std::shared_ptr<HostRange>& rgCalibrate,
                                          std::u16string& strRegSection) {
  std::u16string stored = calibration::ReadWidthText(strRegSection, iUnicodeValue);
  if (stored == calibration::kNotFound) {
    ScratchWorkbook own;
    const bool opensOwn = !rgCalibrate;
    try {
      if (opensOwn) rgCalibrate = own.Open();
      // The space is measured afresh for every character calibrated here.
      double spaceWidth = GetSpaceWidth(rgCalibrate);
      CalibrateOneChar(iUnicodeValue, rgCalibrate, strRegSection, spaceWidth);
      stored = calibration::ReadWidthText(strRegSection, iUnicodeValue);
      own.Close();
    } catch (...) {
      // Its workbook closes on the way out; a measuring cell in it must not outlive it.
      if (opensOwn) rgCalibrate.reset();
      throw;
    }
    if (opensOwn) rgCalibrate.reset();
  }
  return ToDouble(Variant(std::move(stored)), Regional());
}

std::int32_t cls_corvane::GetIndentSpacesCount(std::int32_t& iIndentLevel, Variant& LevelsArray) {
  double sum = 0.0;
  for (std::int32_t level = 1; level <= iIndentLevel; ++level)
    sum += ToDouble(LevelsArray.array().at(level), Regional());
  return RoundToLong(sum);
}

double cls_corvane::GetSpaceWidth(std::shared_ptr<HostRange>& rgCalibrate) {
  return measurement::SpaceWidth(MeasuringCell(rgCalibrate));
}

bool cls_corvane::CalibrateOneChar(std::int32_t& iChar, std::shared_ptr<HostRange>& rgCalibrate,
                                   std::u16string& strRegSection, double& dblSpaceWidthNoOverhead) {
  (void)measurement::CharOfCode(iChar);  // a code out of range fails before the measuring cell is looked at
  const double ratio = measurement::MeasureRatio(MeasuringCell(rgCalibrate), iChar, dblSpaceWidthNoOverhead);
  // The store in force is looked up only now, as the key is saved.
  calibration::SaveWidth(strRegSection, iChar, ratio);
  measurement::ProcessPendingEvents();
  return true;
}

}  // namespace corvane
