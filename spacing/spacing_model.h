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
//  - Cost: an ordinary code unit is one table lookup and one addition. The numeric widths are
//    kept in a per-thread memo (WidthMemo) that is checked against SpacingArray's entries, so any
//    change of an entry or of the regional format is seen by the next measurement.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

#include "base/automation.h"

namespace corvane::spacing {

inline constexpr std::int32_t kMemoCodes = 768;  // codes 0..767: ordinary, looked up in SpacingArray

// The numeric widths of SpacingArray's entries, converted once and reused while an entry stays
// as it was. A pass is one measurement or one layout run: the first time a pass meets a code, the
// code's entry is compared with the value its width was converted from (and converted again when
// they differ), so conversion costs nothing per character and no stale width is ever used.
// Shared by every object of the thread: it is validated by content, not by owner.
class WidthMemo {
 public:
  // Starts a pass over `spacing` read with `fmt`; `spacing` must outlive the pass.
  void BeginPass(const VariantArray& spacing, const RegionalFormat& fmt);

  // The width of an ordinary code (0..767) in the current pass; false when its entry does not
  // convert to a number (or is missing), which ends a measurement.
  bool Width(char16_t code, double& width) {
    const double known = known_[code];
    if (known == known) [[likely]] {
      width = known;
      return true;
    }
    return Check(code, width);
  }

  // The width of any code if it is known in this pass, NaN otherwise (always for a special
  // code): a sum of these is a number exactly when every code in it was known.
  double KnownOrNaN(char16_t code) const { return known_[std::min<std::size_t>(code, kMemoCodes)]; }

 private:
  bool Check(char16_t code, double& width);
  void Refresh(char16_t code);
  void Convert(char16_t code, const Variant& entry);

  const VariantArray* spacing_ = nullptr;
  std::uint64_t contentId_ = 0;  // spacing_'s contents when the pass began
  const Variant* entries_ = nullptr;  // the entry of code lower, when the entries lie side by side
  RegionalFormat fmt_;
  bool fmtKnown_ = false;
  std::uint64_t pass_ = 0;
  std::array<std::uint64_t, kMemoCodes> stamp_{};
  // Per code: its width once checked in this pass and found a number; NaN otherwise (and for
  // a width that is NaN itself), which sends the code through Check. One load per character.
  // The last element stands for every special code and stays NaN.
  std::array<double, kMemoCodes + 1> known_ = [] {
    std::array<double, kMemoCodes + 1> a;
    a.fill(std::numeric_limits<double>::quiet_NaN());
    return a;
  }();
  std::array<double, kMemoCodes> width_{};
  std::array<bool, kMemoCodes> ok_{};
  // The entry each width was converted from; only scalar entries are kept (never objects).
  std::array<Variant, kMemoCodes> source_{};
  std::array<bool, kMemoCodes> hasSource_{};
};

// This thread's memo.
WidthMemo& ThreadWidthMemo();

}  // namespace corvane::spacing
