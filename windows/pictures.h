// The artwork of the add-in's windows: each picture's identity (the file stem of its resource,
// resources/<id>.bmp, .ico or .cur) and its size in pixels. The models use only these; the
// Win32 back end loads the resources by identity.
#pragma once

#include "windows/form.h"

namespace corvane::windows::art {

// The product banner at the top of every window.
inline constexpr Picture kBanner{"banner", 565, 34, 24, u"Corvane"};

// Picture buttons: released (121 x 27) and pressed (121 x 25) looks, the same in every window.
inline constexpr Picture kOkUp{"button_ok_up", 121, 27, 24, u"OK"};
inline constexpr Picture kOkDown{"button_ok_down", 121, 25, 24, u"OK"};
inline constexpr Picture kCancelUp{"button_cancel_up", 121, 27, 24, u"Cancel"};
inline constexpr Picture kCancelDown{"button_cancel_down", 121, 25, 24, u"Cancel"};
inline constexpr Picture kYesUp{"button_yes_up", 121, 27, 24, u"Yes"};
inline constexpr Picture kYesDown{"button_yes_down", 121, 25, 24, u"Yes"};
inline constexpr Picture kNoUp{"button_no_up", 121, 27, 24, u"No"};
inline constexpr Picture kNoDown{"button_no_down", 121, 25, 24, u"No"};

// The icon all windows share: two crossed rulers (32 x 32 and 16 x 16 images, 16 colours).
inline constexpr Picture kIcon{"corvane", 32, 32, 4, u"Corvane"};

// The hand with raised index finger, pointing with its fingertip.
inline constexpr Cursor kHandCursor{"hand", 32, 32, 6, 1};

}  // namespace corvane::windows::art
