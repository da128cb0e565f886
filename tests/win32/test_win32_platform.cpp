// The module's artwork as the windows load it, and the screen's resolution the run asked for.
// (scripts/wine-test checks that every resource and the version information are in the modules.)
#include <windows.h>

#include <cstdlib>
#include <string>

#include "support/harness.h"
#include "platform/win32/artwork.h"
#include "windows/pictures.h"

namespace corvane::wintest {
namespace {

TEST(Artwork, EveryPictureIconAndCursorComesFromTheModuleAsTheModelHasIt) {
  win32::Artwork art;
  namespace a = windows::art;
  for (const windows::Picture* picture : {&a::kBanner, &a::kOkUp, &a::kOkDown, &a::kCancelUp, &a::kCancelDown,
                                          &a::kYesUp, &a::kYesDown, &a::kNoUp, &a::kNoDown}) {
    BITMAP bitmap{};
    ASSERT_TRUE(::GetObjectW(art.Bitmap(picture->id), sizeof(bitmap), &bitmap)) << picture->id;
    EXPECT_EQ(bitmap.bmWidth, picture->widthPx) << picture->id;
    EXPECT_EQ(bitmap.bmHeight, picture->heightPx) << picture->id;
    EXPECT_EQ(bitmap.bmBitsPixel, picture->bitsPerPixel) << picture->id;
  }
  for (int size : {32, 16}) {
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(art.Icon(a::kIcon.id, size), &info));
    const win32::UniqueBitmap mask(info.hbmMask), color(info.hbmColor);
    BITMAP bitmap{};
    ::GetObjectW(color.get(), sizeof(bitmap), &bitmap);
    EXPECT_EQ(bitmap.bmWidth, size) << "the icon's own image of that size";
  }
  ICONINFO hand{};
  ASSERT_TRUE(::GetIconInfo(art.Cursor(a::kHandCursor.id), &hand));
  const win32::UniqueBitmap handMask(hand.hbmMask), handColor(hand.hbmColor);
  EXPECT_EQ(hand.xHotspot, static_cast<DWORD>(a::kHandCursor.hotSpotX));
  EXPECT_EQ(hand.yHotspot, static_cast<DWORD>(a::kHandCursor.hotSpotY));
  EXPECT_THROW(art.Bitmap("no_such_picture"), AutomationError);
}

TEST(Screen, ResolutionIsTheOneTheTestRunAskedFor) {
  char expected[16]{};
  if (!::GetEnvironmentVariableA("CORVANE_EXPECT_DPI", expected, sizeof(expected)))
    GTEST_SKIP() << "no resolution asked for";
  EXPECT_EQ(win32::Win32Ui().Dpi(), std::atof(expected));
}

}  // namespace
}  // namespace corvane::wintest
