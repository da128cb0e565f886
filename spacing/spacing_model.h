// Spacing model: the width of a text in space units, and the number of spaces that reach the
// position the open levels of a laid-out formula add up to.
// Contract:
//  - cls_corvane::GetSpacingThisLevel(str): with bSendToNotepad set, the number of UTF-16 code
//    units of str, touching nothing else. Otherwise the sum, in order from 0, of the width of each
//    code unit: codes 2..767 from SpacingArray (text converted with the regional format, the
//    whole number 1 as it is), codes 0 and 1 (which have no entry) 0, codes 768 and above from the
//    store's "Special_" + standard font section, measured in one scratch workbook per call when
//    not stored yet (screen updating off while it is open). Error trap: any failure ends the call
//    with the total of the code units before the failing one; a scratch workbook it opened is
//    closed unsaved and screen updating put back on, on every path.
//  - GetSpecialCharSpacing: the stored width of one special code, measured and saved first when
//    missing; opens (and closes again) its own scratch workbook only when given no measuring cell,
//    and then leaves rgCalibrate empty again. No recovery: failures pass to the caller, after its
//    own scratch workbook is closed and screen updating put back on.
//  - GetIndentSpacesCount: the sum of LevelsArray(1..iIndentLevel) (Empty counts 0) rounded to a
//    whole number, ties to even. A missing element or a value that does not convert throws.
//  - Widths: SpacingArray's entries converted once. The object keeps the table it parsed last
//    (WidthsCache) and parses again when the array's contents or the regional format changed,
//    so a run never uses a stale width, and runs that find both unchanged share one table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "base/automation.h"

namespace corvane::spacing {

// Codes below this are ordinary, their widths in the width array; from it on they are special,
// their widths in the store.
inline constexpr char16_t kFirstSpecialCode = 768;

// The widths of the ordinary codes, from a width array read with a regional format. An entry
// that is no number (or missing from the array) keeps the failure its conversion gave, for the
// one place that must fail with it.
class Widths {
 public:
  Widths(const VariantArray& spacing, const RegionalFormat& fmt);

  // Adds the widths of `text` to `sum`, in order, up to the first code that is special or whose
  // entry is no number; returns how many codes it added.
  std::size_t Sum(std::u16string_view text, double& sum) const;

  // The width of an ordinary code; throws its entry's failure when it has no number.
  double At(char16_t code) const;

 private:
  struct Entry {
    double width = 0.0;
    bool number = true;
  };
  struct Failure {
    char16_t code;
    AutomationError error;
  };
  std::array<Entry, kFirstSpecialCode> entries_{};
  std::vector<Failure> failures_;  // the entries that are no number, rare: a gap in the calibration
};

// The table of an object's width array: parsed again only when the array's contents or the
// regional format changed since. A run holds the table it was given, whatever happens meanwhile.
class WidthsCache {
 public:
  std::shared_ptr<const Widths> For(const VariantArray& spacing, const RegionalFormat& fmt);

 private:
  std::shared_ptr<const Widths> widths_;
  std::uint64_t contents_ = 0;
  RegionalFormat fmt_;
};

}  // namespace corvane::spacing
