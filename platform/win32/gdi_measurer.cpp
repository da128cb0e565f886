// GdiTextMeasurer: text widths and line heights from GDI, in a memory device context of its own.
#include "base/automation.h"
#include "platform/win32/gdi_text.h"
#include "platform/win32/text.h"
#include "platform/win32/win32_platform.h"

namespace corvane::win32 {

struct GdiTextMeasurer::Impl {
  UniqueMemoryDc dc = MakeMemoryDc();
  FontCache fonts;

  HFONT Font(std::u16string_view face, double points, double dpi) {
    if (!dc) throw AutomationError(err::kApplicationDefined, u"No device context for measuring text.");
    windows::Font font;
    font.name = std::u16string(face);
    font.size = static_cast<float>(points);
    return fonts.Get(font, dpi);
  }
};

GdiTextMeasurer::GdiTextMeasurer() : impl_(std::make_unique<Impl>()) {}
GdiTextMeasurer::~GdiTextMeasurer() = default;

double GdiTextMeasurer::LineWidthPixels(std::u16string_view text, std::u16string_view face, double points,
                                        double dpi) {
  return TextWidth(impl_->dc.get(), impl_->Font(face, points, dpi), text);
}

double GdiTextMeasurer::LineHeightPixels(std::u16string_view face, double points, double dpi) {
  return LineHeight(impl_->dc.get(), impl_->Font(face, points, dpi));
}

std::u16string GdiTextMeasurer::ResolvedFace(std::u16string_view face) {
  const Selection selected(impl_->dc.get(), impl_->Font(face, 10.0, 96.0));
  wchar_t name[LF_FACESIZE]{};
  const int length = ::GetTextFaceW(impl_->dc.get(), LF_FACESIZE, name);
  if (length <= 0) return std::u16string(face);
  return FromWide(name);
}

}  // namespace corvane::win32
