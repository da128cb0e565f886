// The shared formula corpus for tests: formulas.txt (one per line) and formulas-multiline.jsonl
// (one JSON string per line) from CORVANE_CORPUS_DIR; loading throws std::runtime_error when a
// file cannot be read or a line is malformed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane::corpus {

std::string Utf16ToUtf8(std::u16string_view utf16);

struct Formula {
  std::u16string text;
  std::string source;  // file name and line number, for failure messages
};

// Every formula of the corpus: formulas.txt first, then formulas-multiline.jsonl.
const std::vector<Formula>& LoadCorpus();

// Whether this build runs under the sanitizers (and so does the program it tests): ten times
// slower, and holding freed memory back, so that a peak of memory says nothing.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif
// Under the sanitizers every fifth formula, else the whole corpus: the corpus-wide checks must
// keep CI within its time.
constexpr std::size_t kStride = kSanitized ? 5 : 1;
std::vector<Formula> Sample();

// A golden file, tests/golden/<name>: cases ended by a blank line, each a header line and the
// lines expected (joined by line feeds); lines starting with "# " are comments.
struct Golden {
  std::string header, lines;
};
std::vector<Golden> LoadGolden(const std::string& name);

}  // namespace corvane::corpus
