#include "spacing/spacing_model.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "base/platform.h"
#include "spacing/calibration_store.h"

namespace corvane {

namespace spacing {

namespace {

bool IsScalar(const Variant& v) {
  switch (v.type()) {
    case Variant::Type::Empty:
    case Variant::Type::Boolean:
    case Variant::Type::Long:
    case Variant::Type::Double:
    case Variant::Type::String:
      return true;
    default:
      return false;
  }
}

// Same value for the conversion: doubles compare by their bits, so that -0 and NaN entries are
// converted from exactly what they hold.
bool SameEntry(const Variant& a, const Variant& b) {
  if (a.type() != b.type()) return false;
  if (a.type() == Variant::Type::String) {
    // The common case (texts as read from the store), compared without the general machinery.
    const std::u16string& x = a.string();
    const std::u16string& y = b.string();
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(char16_t)) == 0;
  }
  if (a.type() == Variant::Type::Double) {
    // Bit for bit: -0 is not 0 here, and a NaN matches itself.
    return std::bit_cast<std::uint64_t>(a.asDouble()) == std::bit_cast<std::uint64_t>(b.asDouble());
  }
  return a == b;
}

}  // namespace

void WidthMemo::BeginPass(const VariantArray& spacing, const RegionalFormat& fmt) {
  const std::uint64_t contentId = spacing.contentId();
  const bool sameFormat = fmtKnown_ && fmt.decimalSeparator == fmt_.decimalSeparator &&
                          fmt.thousandsSeparator == fmt_.thousandsSeparator;
  // The same table unchanged since the last pass: every width checked then still holds.
  if (&spacing == spacing_ && contentId == contentId_ && sameFormat) return;
  spacing_ = &spacing;
  contentId_ = contentId;
  // Reaching an entry directly spares a call per code; checked, not assumed.
  entries_ = nullptr;
  if (spacing.size() > 0) {
    const Variant* first = &spacing.at(spacing.lower());
    if (&spacing.at(spacing.upper()) == first + (spacing.upper() - spacing.lower())) entries_ = first;
  }
  if (!sameFormat) {
    // Text converts differently now: nothing converted before may be reused.
    hasSource_.fill(false);
    fmt_ = fmt;
    fmtKnown_ = true;
  }
  ++pass_;
  known_.fill(std::numeric_limits<double>::quiet_NaN());
}

bool WidthMemo::Check(char16_t code, double& width) {
  if (stamp_[code] != pass_) Refresh(code);
  width = width_[code];
  return ok_[code];
}

void WidthMemo::Refresh(char16_t code) {
  stamp_[code] = pass_;
  if (code < calibration::kFirstOrdinaryCode) {
    // Codes 0 and 1 have no entry and are not special: they add nothing to a width.
    width_[code] = 0.0;
    ok_[code] = true;
    known_[code] = 0.0;
    return;
  }
  if (code < spacing_->lower() || code > spacing_->upper()) {
    ok_[code] = false;  // the table lookup itself would fail
    return;
  }
  const Variant& entry = entries_ ? entries_[code - spacing_->lower()] : spacing_->at(code);
  if (!hasSource_[code] || !SameEntry(entry, source_[code])) Convert(code, entry);
  if (ok_[code]) known_[code] = width_[code];
}

void WidthMemo::Convert(char16_t code, const Variant& entry) {
  try {
    width_[code] = ToDouble(entry, fmt_);
    ok_[code] = true;
  } catch (...) {
    ok_[code] = false;
  }
  hasSource_[code] = IsScalar(entry);
  source_[code] = hasSource_[code] ? entry : Variant();
}

WidthMemo& ThreadWidthMemo() {
  thread_local WidthMemo memo;
  return memo;
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
    iLen = static_cast<std::int32_t>(text.size());
    if (bSendToNotepad) return static_cast<double>(iLen);

    spacing::WidthMemo& memo = spacing::ThreadWidthMemo();
    memo.BeginPass(SpacingArray, Regional());
    ScratchWorkbook scratch;
    std::shared_ptr<HostRange> rgCalibrate;
    const char16_t* const chars = text.data();
    const std::size_t n = text.size();
    std::size_t i = 0;  // iIndex - 1; the field is set when the loop ends
    try {
      for (; i < n; ++i) {
        const char16_t c = chars[i];
        if (c < spacing::kMemoCodes) [[likely]] {
          double width;
          if (!memo.Width(c, width)) [[unlikely]]
            break;
          total += width;
          continue;
        }
        std::u16string section = calibration::SpecialSection(mdl_Support::Host()->StandardFont());
        std::int32_t code = c;
        // One scratch workbook serves every special character of this text that is not stored.
        if (!scratch.IsOpen() && calibration::ReadWidthText(section, code) == calibration::kNotFound)
          rgCalibrate = scratch.Open();
        total += GetSpecialCharSpacing(code, rgCalibrate, section);
      }
      scratch.Close();
    } catch (...) {
      iIndex = static_cast<std::int32_t>(i + 1);
      return total;  // the scratch workbook closes on the way out
    }
    iIndex = static_cast<std::int32_t>(i + 1);
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
  dblIndentSum = 0.0;
  for (iLevel = 1; iLevel <= iIndentLevel; ++iLevel)
    dblIndentSum += ToDouble(LevelsArray.array().at(iLevel), Regional());
  return RoundToLong(dblIndentSum);
}

}  // namespace corvane
