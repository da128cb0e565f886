#include "spacing/spacing_model.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

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

}  // namespace corvane
