// Calibration store: where calibrated character widths live in the settings store.
// Contract: application "Corvane"; section "Spacing_" + font name for codes 2..767 and
// "Special_" + font name for codes 768..65535, the font name appended unchanged; the key is
// the code as decimal text; the value is the width relative to a space, rounded to 4 decimal
// places (ties to even) and written as the shortest decimal text in the regional format.
// Every read passes the default "Not Found", which is never written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/automation.h"
#include "base/platform.h"

namespace corvane::calibration {

inline constexpr std::u16string_view kAppName = u"Corvane";
inline constexpr std::u16string_view kNotFound = u"Not Found";
inline constexpr std::int32_t kFirstOrdinaryCode = 2;
inline constexpr std::int32_t kLastOrdinaryCode = 767;
inline constexpr std::int32_t kFirstSpecialCode = 768;

std::u16string SpacingSection(std::u16string_view fontName);
std::u16string SpecialSection(std::u16string_view fontName);

// The value text of a relative width: rounded to 4 places, shortest regional text.
std::u16string RatioText(double ratio, const RegionalFormat& fmt);

// Reads one code's stored text from a section ("Not Found" if absent); without a store given,
// from the store in force.
std::u16string ReadWidthText(SettingsStore& store, std::u16string_view section, std::int32_t code);
std::u16string ReadWidthText(std::u16string_view section, std::int32_t code);
// Saves one code's relative width (rounded) into a section; without a store given, of the store
// in force.
void SaveWidth(SettingsStore& store, std::u16string_view section, std::int32_t code, double ratio);
void SaveWidth(std::u16string_view section, std::int32_t code, double ratio);

}  // namespace corvane::calibration
