// The shared formula corpus for tests: UTF-8 and JSON string decoding, and loading.
// Contract: decoders throw std::invalid_argument on malformed input (they never guess);
// LoadCorpus reads formulas.txt (one per line) and formulas-multiline.jsonl (one JSON string
// per line) from CORVANE_CORPUS_DIR and throws std::runtime_error when a file cannot be read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane::corpus {

// Strict UTF-8 to UTF-16: no overlong forms, no surrogates, nothing above U+10FFFF.
std::u16string Utf8ToUtf16(std::string_view utf8);
// UTF-16 to UTF-8 for messages; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// One JSON string literal (surrounding whitespace allowed), escapes and surrogate pairs decoded.
std::u16string DecodeJsonString(std::string_view json);

struct Formula {
  std::u16string text;
  std::string source;  // file name and line number, for failure messages
};

// Every formula of the corpus: formulas.txt first, then formulas-multiline.jsonl.
std::vector<Formula> LoadCorpus();

}  // namespace corvane::corpus
