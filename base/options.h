// The two options and where they live in the settings store, shared by the settings window, the
// formulate command and the program.
// Contract: application "Corvane", section "Settings", keys "Format All Parens", "Always Send
// to Notepad" and "Fit Width"; an absent key reads "0". FitWidth takes a stored "Fit Width" text
// as the widest line in widths of "0": a whole number from 1 to kMaxFitWidth, else 0 (off). ReadCheckState takes a stored text as a check-box state
// (a whole number after rounding half to even: 0, 1 or 2) and fails, naming key and text, on
// anything else; SaveOption writes "1" for on and "0" for off. Both go through the store given.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/platform.h"

namespace corvane::options {

inline constexpr std::u16string_view kAppName = u"Corvane";
inline constexpr std::u16string_view kSection = u"Settings";
inline constexpr std::u16string_view kFormatAllParens = u"Format All Parens";
inline constexpr std::u16string_view kAlwaysSendToNotepad = u"Always Send to Notepad";
inline constexpr std::u16string_view kFitWidth = u"Fit Width";
inline constexpr std::int32_t kMaxFitWidth = 32767;

// The stored text, "0" when absent.
std::u16string ReadText(SettingsStore& store, std::u16string_view key);
std::int32_t ReadCheckState(SettingsStore& store, std::u16string_view key);
void SaveOption(SettingsStore& store, std::u16string_view key, bool on);
std::int32_t FitWidth(std::u16string_view text);

}  // namespace corvane::options
