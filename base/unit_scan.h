// Searches for one UTF-16 unit that the checks of every formula a host is given make, several
// times a formula: how often a unit occurs, where it next occurs, and where a run of spaces ends.
// A laid-out formula is mostly indentation, so each goes several units a step (eight where the
// processor has the instructions for it, four spaces at a time); its plain twin (...Plain) is the
// standard algorithm it must agree with.
#pragma once

#include <cstddef>
#include <string_view>

namespace corvane::scan {

std::size_t Count(std::u16string_view text, char16_t unit);
std::size_t CountPlain(std::u16string_view text, char16_t unit);

// The position of the first `unit` at or after `from`; npos when there is none.
std::size_t Find(std::u16string_view text, char16_t unit, std::size_t from);
std::size_t FindPlain(std::u16string_view text, char16_t unit, std::size_t from);

// The position of the first unit at or after `from` that is no space; the size when there is none.
std::size_t SpacesEnd(std::u16string_view text, std::size_t from);
std::size_t SpacesEndPlain(std::u16string_view text, std::size_t from);

}  // namespace corvane::scan
