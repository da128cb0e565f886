// GDI fonts for the models' fonts, shared by the window back end (drawing) and the text
// measurer, so that what is measured is what is drawn.
// Contract: a font is made at a given resolution: its height is the point size at that many
// dots per inch, rounded to whole pixels. A line's height is the font's height plus its external
// leading. Handles are owned by the cache and live as long as it does.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <string_view>
#include <tuple>

#include "platform/win32/handles.h"
#include "windows/form.h"

namespace corvane::win32 {

class FontCache {
 public:
  // Throws AutomationError when GDI cannot make the font.
  HFONT Get(const windows::Font& font, double dpi);

 private:
  using Key = std::tuple<std::u16string, float, bool, bool, bool, double>;
  std::map<Key, UniqueFont> fonts_;
};

// Width of one line of `text` in pixels, with `font` selected into `dc`.
double TextWidth(HDC dc, HFONT font, std::u16string_view text);
// Height of one line in pixels.
double LineHeight(HDC dc, HFONT font);

}  // namespace corvane::win32
