#include "platform/win32/gdi_text.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "base/automation.h"
#include "platform/win32/text.h"

namespace corvane::win32 {

HFONT FontCache::Get(const windows::Font& font, double dpi) {
  Key key{font.name, font.size, font.bold, font.italic, font.underline, dpi};
  if (auto found = fonts_.find(key); found != fonts_.end()) return found->second.get();

  LOGFONTW lf{};
  // A negative height asks for the character height (the em), as point sizes mean it.
  lf.lfHeight = -static_cast<LONG>(std::lround(static_cast<double>(font.size) * dpi / 72.0));
  lf.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = font.italic ? TRUE : FALSE;
  lf.lfUnderline = font.underline ? TRUE : FALSE;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
  lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  lf.lfQuality = DEFAULT_QUALITY;
  lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  const std::size_t length = std::min<std::size_t>(font.name.size(), LF_FACESIZE - 1);
  std::copy_n(font.name.data(), length, reinterpret_cast<char16_t*>(lf.lfFaceName));

  UniqueFont handle(::CreateFontIndirectW(&lf));
  if (!handle) throw AutomationError(err::kApplicationDefined, u"The font \"" + font.name + u"\" cannot be made.");
  return fonts_.emplace(std::move(key), std::move(handle)).first->second.get();
}

double TextWidth(HDC dc, HFONT font, std::u16string_view text) {
  if (text.empty()) return 0.0;
  const Selection selected(dc, font);
  SIZE size{};
  const int count = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
  if (!::GetTextExtentPoint32W(dc, reinterpret_cast<const wchar_t*>(text.data()), count, &size))
    throw AutomationError(err::kApplicationDefined, u"The text cannot be measured.");
  return static_cast<double>(size.cx);
}

double LineHeight(HDC dc, HFONT font) {
  const Selection selected(dc, font);
  TEXTMETRICW metrics{};
  if (!::GetTextMetricsW(dc, &metrics))
    throw AutomationError(err::kApplicationDefined, u"The font's metrics cannot be read.");
  return static_cast<double>(metrics.tmHeight + metrics.tmExternalLeading);
}

}  // namespace corvane::win32
