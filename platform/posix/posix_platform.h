// The POSIX platform: settings store on SQLite, regional format from LC_NUMERIC, the program's
// folder, text measurement with FreeType and fontconfig. One header for the whole platform.
#pragma once

#include <string>
#include <string_view>

#include "base/platform.h"

namespace corvane::posix {

// The decimal and thousands separators of LC_NUMERIC as the process has set it.
RegionalFormat RegionalFromLocale();

// UTF-16 as UTF-8 for the system's byte strings; a lone surrogate (which UTF-8 cannot carry)
// becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);

// File names and environment values are bytes here, not necessarily UTF-8. PathFromBytes decodes
// well-formed UTF-8 and keeps every other byte b as the lone surrogate U+DC00 + b; PathToBytes
// undoes that (any other lone surrogate becomes U+FFFD), so such a name comes back byte for byte.
std::u16string PathFromBytes(std::string_view bytes);
std::string PathToBytes(std::u16string_view path);

// Folder of the running program file, without a trailing separator.
std::u16string ProgramFolder();

}  // namespace corvane::posix
