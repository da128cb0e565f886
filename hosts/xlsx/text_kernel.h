// Scans a workbook run makes over every formula's text, several times a cell: whether text is
// ASCII, where the next character to escape in XML is, whether text holds only characters XML
// takes without a second look. Each works many characters at a time; its plain twin (...Plain) is the
// character-by-character reading it must agree with.
#pragma once

#include <cstddef>
#include <string_view>

namespace corvane::xlsx::kernel {

bool IsAscii(std::u16string_view text);
bool IsAscii(std::string_view text);
bool IsAsciiPlain(std::u16string_view text);
bool IsAsciiPlain(std::string_view text);

// The position of the first '&', '<', '>' or carriage return at or after `from`; size when none.
std::size_t NextToEscape(std::string_view text, std::size_t from);
std::size_t NextToEscapePlain(std::string_view text, std::size_t from);

// Whether every unit is a tab, line feed, carriage return or lies in U+0020..U+D7FF: characters
// XML allows, with no surrogate, U+FFFE or U+FFFF to look at. False says nothing either way.
bool OrdinaryXmlText(std::u16string_view text);
bool OrdinaryXmlTextPlain(std::u16string_view text);


}  // namespace corvane::xlsx::kernel
