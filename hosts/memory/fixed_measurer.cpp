#include "hosts/memory/fixed_measurer.h"

#include <cstdint>

namespace corvane::memory {

int FixedMeasurer::BaseWidth(char16_t c) {
  switch (c) {
    case u' ':
    case u'i':
    case u'l':
    case u'j':
    case u'\'':
    case u'.':
    case u',':
    case u'!':
    case u'|':
      return 3;
    case u'(':
    case u')':
      return 4;
    case u'W':
    case u'M':
      return 11;
    default:
      return (c >= u'A' && c <= u'Z') ? 8 : 6;
  }
}

double FixedMeasurer::LineWidthPixels(std::u16string_view text, std::u16string_view, double points, double dpi) {
  // Whole base pixels first, scaled once, so that equal texts measure exactly alike.
  std::int64_t base = 0;
  for (char16_t c : text) base += BaseWidth(c);
  return static_cast<double>(base) * (points * dpi) / (11.0 * 96.0);
}

double FixedMeasurer::LineHeightPixels(std::u16string_view, double points, double dpi) {
  return points * dpi / 72.0 * 1.2;
}

std::u16string FixedMeasurer::ResolvedFace(std::u16string_view) { return u"fixed widths"; }

}  // namespace corvane::memory
