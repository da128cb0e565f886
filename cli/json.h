// JSON strings for the program's batch mode (--jsonl): one JSON string per input line, one
// JSON object per output line.
// Contract: ParseJsonStringLine accepts exactly one JSON string (surrounding blanks allowed)
// and decodes it to UTF-16, keeping \u escapes of lone surrogates as they are; anything else
// throws UsageError with a message saying what is wrong. JsonQuote writes a JSON string whose
// text is valid UTF-8; characters UTF-8 cannot carry (lone surrogates) become \u escapes.
#pragma once

#include <string>
#include <string_view>

namespace corvane::cli {

std::u16string ParseJsonStringLine(std::string_view line);
std::string JsonQuote(std::u16string_view text);

}  // namespace corvane::cli
