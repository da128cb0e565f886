// Colour for a formula shown on a terminal: `--color=auto|always|never` of `format --mono` and
// `unformat`. Contract:
//  - UseColour(choice, fd): "always" yes, "never" no, "auto" (or none) only when `fd` is a
//    terminal and NO_COLOR is unset or empty; any other choice is bad usage (UsageError).
//  - Coloured(formula) is the formula's text in UTF-8 with SGR colours, decided by the lexer's
//    spans: string literals, sheet names (quoted, or a name before "!"), functions (a name right
//    before its "("), cell and range references, and parentheses by their level, each level
//    its own colour in turn. Control characters other than line feeds are shown escaped
//    ("\x1B"), as other text from users is. Every colour is reset before a line feed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane::cli {

bool UseColour(const std::optional<std::string>& choice, int fd);
std::string Coloured(std::u16string_view formula);

}  // namespace corvane::cli
