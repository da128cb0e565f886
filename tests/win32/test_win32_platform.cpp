// The module's artwork and version resource, and the screen's resolution the run asked for.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "support/harness.h"
#include "platform/win32/artwork.h"
#include "windows/pictures.h"

namespace corvane::wintest {
namespace {

using win32::Artwork;

TEST(Artwork, EveryPictureComesFromTheModuleAtItsOwnSize) {
  Artwork art;
  for (const windows::Picture* picture :
       {&windows::art::kBanner, &windows::art::kOkUp, &windows::art::kOkDown, &windows::art::kCancelUp,
        &windows::art::kCancelDown, &windows::art::kYesUp, &windows::art::kYesDown, &windows::art::kNoUp,
        &windows::art::kNoDown}) {
    SCOPED_TRACE(std::string(picture->id));
    BITMAP bitmap{};
    ASSERT_TRUE(::GetObjectW(art.Bitmap(picture->id), sizeof(bitmap), &bitmap));
    EXPECT_EQ(bitmap.bmWidth, picture->widthPx);
    EXPECT_EQ(bitmap.bmHeight, picture->heightPx);
    EXPECT_EQ(bitmap.bmBitsPixel, picture->bitsPerPixel);
  }
  for (int size : {32, 16}) {
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(art.Icon(windows::art::kIcon.id, size), &info));
    const win32::UniqueBitmap mask(info.hbmMask);
    const win32::UniqueBitmap color(info.hbmColor);
    BITMAP bitmap{};
    ::GetObjectW(color.get(), sizeof(bitmap), &bitmap);
    EXPECT_EQ(bitmap.bmWidth, size) << "the icon's own image of that size";
  }
  ICONINFO hand{};
  ASSERT_TRUE(::GetIconInfo(art.Cursor(windows::art::kHandCursor.id), &hand));
  const win32::UniqueBitmap handMask(hand.hbmMask);
  const win32::UniqueBitmap handColor(hand.hbmColor);
  EXPECT_EQ(hand.xHotspot, static_cast<DWORD>(windows::art::kHandCursor.hotSpotX));
  EXPECT_EQ(hand.yHotspot, static_cast<DWORD>(windows::art::kHandCursor.hotSpotY));

  try {
    art.Bitmap("no_such_picture");
    ADD_FAILURE() << "an unknown picture loaded";
  } catch (const AutomationError& e) {
    EXPECT_NE(e.description().find(u"no_such_picture"), std::u16string::npos);
  }
}

std::wstring VersionString(const std::vector<char>& block, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  if (!::VerQueryValueW(block.data(), path.c_str(), &value, &length)) return L"<missing>";
  return length ? std::wstring(static_cast<const wchar_t*>(value)) : std::wstring();
}

TEST(VersionResource, NamesTheProductItsVersionAndSelfRegistration) {
  wchar_t path[MAX_PATH]{};
  ::GetModuleFileNameW(win32::ThisModule(), path, MAX_PATH);
  const DWORD size = ::GetFileVersionInfoSizeW(path, nullptr);
  ASSERT_GT(size, 0U);
  std::vector<char> block(size);
  ASSERT_TRUE(::GetFileVersionInfoW(path, 0, size, block.data()));
  EXPECT_EQ(VersionString(block, L"ProductName"), L"Corvane");
  EXPECT_EQ(VersionString(block, L"FileVersion"), L"1.00");
  EXPECT_EQ(VersionString(block, L"ProductVersion"), L"1.00");
  EXPECT_NE(VersionString(block, L"OLESelfRegister"), L"<missing>");

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000U);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000U);
}

TEST(Screen, ResolutionIsTheOneTheTestRunAskedFor) {
  char expected[16]{};
  if (!::GetEnvironmentVariableA("CORVANE_EXPECT_DPI", expected, sizeof(expected)))
    GTEST_SKIP() << "no resolution asked for";
  win32::Win32Ui ui;
  EXPECT_EQ(ui.Dpi(), std::atof(expected));
}

}  // namespace
}  // namespace corvane::wintest
