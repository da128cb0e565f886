// Spacing model: the widths of the ordinary characters as a table (the add-in's building blocks
// that measure a line and count indentation spaces over it are in addin/building_blocks.cpp).
// Contract:
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
