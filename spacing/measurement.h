// Character measurement: how wide a character is in the host's standard font, relative to a
// space, found the only way the host allows: by fitting a scratch column to text and reading the
// column's width back.
// Contract:
//  - M(t), one measurement on the measuring cell: Value = "'" + t (the text prefix, not shown),
//    WrapText = False, EntireColumn.AutoFit, the host's pending events, EntireColumn.Width in
//    points.
//  - The column overhead of a character c is 2·M(c) − M(cc), rounded to 4 places (ties to even);
//    its width without overhead is M(c repeated 100 times) minus that overhead.
//  - SpaceWidth (the add-in's GetSpaceWidth) returns the space's width without overhead (the
//    width of 100 spaces, in points) and writes nothing.
//  - CalibrateChar measures the character with the UTF-16 code it is given and saves (width
//    without overhead) / (space width), rounded to 4 places, under that code in the section it is
//    given of the store it is given (and nowhere else); the add-in's CalibrateOneChar does the
//    same into the store in force and returns True. The key is saved only after the three
//    measurements have succeeded.
//  - Opening and closing the scratch workbook, screen updating and the progress window are the
//    caller's business. Neither method recovers from a failure: a refused host call or save
//    throws AutomationError to the caller. So does a code outside 0..65535 (error 5) and a ratio
//    that is no finite number (a space measured zero wide: error 11; error 6 otherwise), so that
//    no meaningless width is ever stored.
//  - The host's pending events are processed through the window system's DoEvents (nothing to
//    process when no window system is installed); that is how the progress window's Cancel
//    button is served while a calibration runs.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/host.h"
#include "base/platform.h"

namespace corvane::measurement {

inline constexpr int kCopies = 100;  // copies of a character in the final measurement

// Lets the host process its pending events (the window system's DoEvents).
void ProcessPendingEvents();

// M(text): one measurement on `cell`, in points. `wrapFirst` puts WrapText before the value
// (the order of the space's second measurement; the width is the same either way).
double Measure(HostRange& cell, std::u16string_view text, bool wrapFirst = false);

// 2·w1 − w2, rounded to 4 places.
double ColumnOverhead(double w1, double w2);

// widthNoOverhead / spaceWidthNoOverhead, unrounded; throws when that is no finite number.
double RelativeWidth(double widthNoOverhead, double spaceWidthNoOverhead);

// The code unit of a character code; error 5 outside 0..65535.
char16_t CharOfCode(std::int32_t code);
// The space's width without overhead on `cell` (GetSpaceWidth).
double SpaceWidth(HostRange& cell);
// The character `code`'s width on `cell` relative to the space's, unrounded; saves nothing.
double MeasureRatio(HostRange& cell, std::int32_t code, double spaceWidthNoOverhead);
// Measures the character `code` on `cell` and saves its relative width into `section` of `store`
// (CalibrateOneChar).
void CalibrateChar(HostRange& cell, SettingsStore& store, std::u16string_view section, std::int32_t code,
                   double spaceWidthNoOverhead);

}  // namespace corvane::measurement
