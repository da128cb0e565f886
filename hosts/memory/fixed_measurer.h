// A deterministic text measurer for tests, and the fallback of the program until real font
// metrics are available. It knows no fonts: every UTF-16 code unit has a fixed width.
// Contract: at 11 points and 96 dpi a space and the narrow characters i l j ' . , ! | are
// 3 pixels wide, "(" and ")" 4, W and M 11, other capitals A-Z 8, everything else 6; widths
// scale linearly with points/11 * dpi/96, whatever the face. A line is 1.2 times the size
// high. ResolvedFace names no real font ("fixed widths").
#pragma once

#include "base/platform.h"

namespace corvane::memory {

class FixedMeasurer : public TextMeasurer {
 public:
  // Width of one code unit in pixels at 11 points and 96 dpi.
  static int BaseWidth(char16_t c);

  double LineWidthPixels(std::u16string_view text, std::u16string_view face, double points, double dpi) override;
  double LineHeightPixels(std::u16string_view face, double points, double dpi) override;
  std::u16string ResolvedFace(std::u16string_view face) override;
};

}  // namespace corvane::memory
