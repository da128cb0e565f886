// The calibration command: measures the space, then the codes 2 to 767 in ascending order, saving
// each code's relative width into "Spacing_" + the standard font name right after measuring it,
// while the prompter's progress counts and offers Cancel. cls_corvane::cvCalibrateSpacing runs it
// on the held host, the store in force and the add-in's windows.
// Contract:
//  - Screen updating is off and one scratch workbook is open for the whole run; the standard
//    font name is read once.
//  - Cancelled() is asked after each saved code: a cancelled run stops there (the codes saved
//    so far stay), closes the scratch workbook unsaved, ends the progress, switches screen
//    updating back on, shows nothing and returns false.
//  - A finished run closes the workbook unsaved, switches screen updating on, ends the progress,
//    lets pending events run, then gives the closing notice (kCalibrationDoneNotice) once,
//    titled "Corvane", and returns true.
//  - The progress advances to k after code k has been saved, 2 to 767; never for the code after
//    which the run was cancelled.
//  - A failure part-way (a refused host call or save) also closes the scratch workbook unsaved,
//    switches screen updating on and ends the progress, each as far as the host still allows,
//    and then passes the original failure to the caller; the saved codes stay.
#pragma once

#include <string_view>

#include "base/host.h"
#include "base/platform.h"
#include "base/prompter.h"

namespace corvane::calibration {

inline constexpr std::u16string_view kCalibrationDoneNotice =
    u"Calibration done.\r\n\r\n"
    u"You should calibrate again whenever you change the standard font in Excel, or upgrade to a new version of "
    u"Excel or Windows, or upgrade to a new computer motherboard or video card, or upgrade your video driver.\r\n\r\n"
    u"See Corvane Help for more information.";

// True when every code was measured and saved, false when the user cancelled.
bool CalibrateSpacing(HostApplication& app, SettingsStore& store, Prompter& prompter);

}  // namespace corvane::calibration
