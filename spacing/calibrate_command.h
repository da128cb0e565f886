// The calibration command `cls_corvane::cvCalibrateSpacing`: measures the space, then the codes
// 2 to 767 in ascending order, saving each code's relative width into "Spacing_" + the standard
// font name right after measuring it, while the progress window counts and offers Cancel.
// Contract:
//  - Screen updating is off and one scratch workbook is open for the whole run; the standard
//    font name is read once.
//  - The cancel flag is read after each saved code: a cancelled run stops there (the codes saved
//    so far stay), closes the scratch workbook unsaved, unloads the progress window, switches
//    screen updating back on and shows nothing.
//  - A finished run closes the workbook unsaved, switches screen updating on, unloads the
//    progress window, lets pending events run, and then shows the closing notice
//    (kCalibrationDoneNotice) once, titled "Corvane", with an OK button.
//  - The progress bar takes the value k after code k has been saved, 2 to 767; it is never set
//    for the code after which the run was cancelled.
//  - A failure part-way (a refused host call or save) also closes the scratch workbook unsaved,
//    switches screen updating on and unloads the progress window, each as far as the host still
//    allows, and then passes the original failure to the caller; the saved codes stay.
#pragma once

#include <string_view>

namespace corvane::calibration {

inline constexpr std::u16string_view kCalibrationDoneNotice =
    u"Calibration done.\r\n\r\n"
    u"You should calibrate again whenever you change the standard font in Excel, or upgrade to a new version of "
    u"Excel or Windows, or upgrade to a new computer motherboard or video card, or upgrade your video driver.\r\n\r\n"
    u"See Corvane Help for more information.";

}  // namespace corvane::calibration
