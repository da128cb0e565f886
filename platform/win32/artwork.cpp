#include "platform/win32/artwork.h"

#include <array>

#include "base/automation.h"
#include "platform/win32/resource_ids.h"
#include "platform/win32/text.h"
#include "platform/win32/win32_platform.h"

namespace corvane::win32 {

namespace {

struct ResourceName {
  std::string_view identity;
  int id;
};

constexpr std::array kResources{
    ResourceName{"banner", IDB_BANNER},
    ResourceName{"button_ok_up", IDB_BUTTON_OK_UP},
    ResourceName{"button_ok_down", IDB_BUTTON_OK_DOWN},
    ResourceName{"button_cancel_up", IDB_BUTTON_CANCEL_UP},
    ResourceName{"button_cancel_down", IDB_BUTTON_CANCEL_DOWN},
    ResourceName{"button_yes_up", IDB_BUTTON_YES_UP},
    ResourceName{"button_yes_down", IDB_BUTTON_YES_DOWN},
    ResourceName{"button_no_up", IDB_BUTTON_NO_UP},
    ResourceName{"button_no_down", IDB_BUTTON_NO_DOWN},
    ResourceName{"corvane", IDI_CORVANE},
    ResourceName{"hand", IDC_CORVANE_HAND},
};

[[noreturn]] void Missing(std::string_view kind, std::string_view identity) {
  std::u16string text = u"The ";
  text.append(kind.begin(), kind.end());
  text += u" \"";
  text.append(identity.begin(), identity.end());
  text += u"\" is missing from the add-in's resources.";
  throw AutomationError(err::kApplicationDefined, text);
}

// Loads an image resource of this module; null when the module does not hold it.
HANDLE LoadFromModule(std::string_view identity, UINT type, int width, int height, UINT flags) {
  const int id = ResourceIdOf(identity);
  if (id == 0) return nullptr;
  return ::LoadImageW(ThisModule(), MAKEINTRESOURCEW(id), type, width, height, flags);
}

}  // namespace

int ResourceIdOf(std::string_view identity) noexcept {
  for (const auto& resource : kResources)
    if (resource.identity == identity) return resource.id;
  return 0;
}

HBITMAP Artwork::Bitmap(std::string_view identity) {
  if (auto found = bitmaps_.find(identity); found != bitmaps_.end()) return found->second.get();
  // As a DIB section, so that the pixels are exactly the file's whatever the screen's depth.
  UniqueBitmap bitmap(static_cast<HBITMAP>(LoadFromModule(identity, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  if (!bitmap) Missing("picture", identity);
  return bitmaps_.emplace(std::string(identity), std::move(bitmap)).first->second.get();
}

HICON Artwork::Icon(std::string_view identity, int sizePx) {
  const auto key = std::make_pair(std::string(identity), sizePx);
  if (auto found = icons_.find(key); found != icons_.end()) return found->second.get();
  UniqueIcon icon(static_cast<HICON>(LoadFromModule(identity, IMAGE_ICON, sizePx, sizePx, 0)));
  if (!icon) Missing("icon", identity);
  return icons_.emplace(key, std::move(icon)).first->second.get();
}

HCURSOR Artwork::Cursor(std::string_view identity) {
  if (auto found = cursors_.find(identity); found != cursors_.end()) return found->second.get();
  // The pointer's own size (32 x 32), not the system's default size, so the hot spot stays put.
  UniqueCursor cursor(static_cast<HCURSOR>(LoadFromModule(identity, IMAGE_CURSOR, 0, 0, 0)));
  if (!cursor) Missing("mouse pointer", identity);
  return cursors_.emplace(std::string(identity), std::move(cursor)).first->second.get();
}

}  // namespace corvane::win32
