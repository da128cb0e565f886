// The window artwork from the resources of the module that contains the layer: pictures by the
// identities the window models use (windows/pictures.h), the icon in the sizes the system asks
// for, and mouse pointers.
// Contract: each resource is loaded once and owned here until the cache is destroyed. A picture,
// icon or pointer the module does not hold is an AutomationError naming it.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "platform/win32/handles.h"

namespace corvane::win32 {

// The resource identifier of a picture, icon or pointer identity; 0 for an unknown one.
int ResourceIdOf(std::string_view identity) noexcept;

class Artwork {
 public:
  HBITMAP Bitmap(std::string_view identity);
  // The icon image nearest to `sizePx` square.
  HICON Icon(std::string_view identity, int sizePx);
  HCURSOR Cursor(std::string_view identity);

 private:
  std::map<std::string, UniqueBitmap, std::less<>> bitmaps_;
  std::map<std::pair<std::string, int>, UniqueIcon> icons_;
  std::map<std::string, UniqueCursor, std::less<>> cursors_;
};

}  // namespace corvane::win32
