// JSON strings for the program's batch mode (--jsonl): one JSON string per input line, one
// JSON object per output line.
// Contract: ParseJsonStringLine accepts exactly one JSON string (surrounding blanks allowed)
// and decodes it to UTF-16, keeping \u escapes of lone surrogates as they are; anything else
// throws UsageError with a message saying what is wrong. JsonQuote writes a JSON string whose
// text is valid UTF-8; characters UTF-8 cannot carry (lone surrogates) become \u escapes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane::cli {

std::u16string ParseJsonStringLine(std::string_view line);
std::string JsonQuote(std::u16string_view text);

// JsonQuote's kernel: copies to `out`, one byte each, the units from `from` on that a JSON
// string carries as themselves (printable ASCII but '"' and '\\'), and returns where they end.
// An answer is mostly indentation, so the runs are long: it goes eight units a step where the
// processor has the instructions for it, and may write up to eight bytes past the run's end
// (`out` has that room); the plain twin goes one by one and writes only the run. They agree on
// the end and on the run's bytes.
std::size_t CopyUnescaped(std::u16string_view text, std::size_t from, char* out);
std::size_t CopyUnescapedPlain(std::u16string_view text, std::size_t from, char* out);

}  // namespace corvane::cli
