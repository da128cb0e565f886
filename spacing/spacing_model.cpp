#include "spacing/spacing_model.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "base/platform.h"
#include "spacing/calibration_store.h"

namespace corvane {

namespace spacing {

Widths::Widths(const VariantArray& spacing, const RegionalFormat& fmt) {
  for (std::int32_t code = calibration::kFirstOrdinaryCode; code < kFirstSpecialCode; ++code) {
    Entry& entry = entries_[static_cast<std::size_t>(code)];
    try {
      entry.width = ToDouble(spacing.at(code), fmt);
    } catch (const AutomationError& e) {
      entry.number = false;
      failures_.push_back({static_cast<char16_t>(code), e});
    }
  }
}

std::size_t Widths::Sum(std::u16string_view text, double& sum) const {
  double total = sum;  // a local, so that the running sum can stay in a register
  std::size_t k = 0;
  for (; k < text.size(); ++k) {
    const char16_t code = text[k];
    if (code >= kFirstSpecialCode || !entries_[code].number) break;
    total += entries_[code].width;
  }
  sum = total;
  return k;
}

double Widths::At(char16_t code) const {
  const Entry& entry = entries_.at(code);
  if (entry.number) return entry.width;
  for (const Failure& failure : failures_)
    if (failure.code == code) throw failure.error;
  throw AutomationError(err::kTypeMismatch, u"Type mismatch");  // not reached: every gap has its failure
}

std::shared_ptr<const Widths> WidthsCache::For(const VariantArray& spacing, const RegionalFormat& fmt) {
  const std::uint64_t contents = spacing.contentId();
  if (!widths_ || contents != contents_ || fmt.decimalSeparator != fmt_.decimalSeparator ||
      fmt.thousandsSeparator != fmt_.thousandsSeparator) {
    widths_ = std::make_shared<const Widths>(spacing, fmt);
    contents_ = contents;
    fmt_ = fmt;
  }
  return widths_;
}

}  // namespace spacing

namespace {

std::u16string_view TextOf(const Variant& value, std::u16string& converted) {
  if (value.isString()) return value.string();
  converted = ToText(value, Regional());
  return converted;
}

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

}  // namespace

double cls_corvane::GetSpacingThisLevel(Variant& str) {
  double total = 0.0;
  // Error trap: whatever fails, the answer is the width of the characters before it.
  try {
    std::u16string converted;
    const std::u16string_view text = TextOf(str, converted);
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

}  // namespace corvane
