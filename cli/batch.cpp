#include "cli/batch.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "cli/cli.h"
#include "cli/json.h"

namespace corvane::cli {

namespace {
constexpr std::size_t kChunk = 1U << 16;
}  // namespace

JsonlBatch::~JsonlBatch() { Flush(); }

bool JsonlBatch::Next() {
  for (;;) {
    if (markChecked_) {
      const std::size_t end = in_.find('\n', next_);
      if (end != std::string::npos) {
        line_ = std::string_view(in_).substr(next_, end - next_);
        next_ = end + 1;
        break;
      }
      if (end_) {
        if (next_ == in_.size()) return false;
        line_ = std::string_view(in_).substr(next_);  // the last line, without its line feed
        next_ = in_.size();
        break;
      }
    } else if (end_ || in_.size() >= kUtf8ByteOrderMark.size() || !kUtf8ByteOrderMark.starts_with(in_)) {
      if (in_.starts_with(kUtf8ByteOrderMark)) in_.erase(0, kUtf8ByteOrderMark.size());
      markChecked_ = true;
      continue;
    }
    // More input is needed: the answers go out first, since the writer may be waiting for them.
    Flush();
    in_.erase(0, next_);
    next_ = 0;
    const std::size_t had = in_.size();
    in_.resize(had + kChunk);
    const ssize_t n = ::read(STDIN_FILENO, in_.data() + had, kChunk);
    in_.resize(had + (n > 0 ? static_cast<std::size_t>(n) : 0));
    if (n == 0) end_ = true;
    if (n < 0 && errno != EINTR) throw UsageError("cannot read standard input");
  }
  ++number_;
  return true;
}

std::u16string JsonlBatch::Text() const { return ParseJsonStringLine(line_); }

void JsonlBatch::Answer(std::string_view object) {
  out_ += object;
  out_ += '\n';
  if (out_.size() >= kChunk) Flush();
}

void JsonlBatch::Fail(std::u16string_view reason) {
  ++failed_;
  Answer("{\"error\":" + JsonQuote(reason) + "}");
}

// Messages may quote the input: shown as Printable shows it, which is always UTF-8.
void JsonlBatch::Fail(std::string_view reason) { Fail(FromUtf8(Printable(reason))); }

void JsonlBatch::Flush() {
  if (out_.empty()) return;
  std::fwrite(out_.data(), 1, out_.size(), stdout);
  std::fflush(stdout);
  out_.clear();
}

int JsonlBatch::Finish(std::string_view command) {
  Flush();
  if (failed_ == 0) return kExitOk;
  PrintError("corvane " + std::string(command) + ": " + std::to_string(failed_) + " of " + std::to_string(number_) +
             (number_ == 1 ? " line" : " lines") + " failed; each answers {\"error\": ...} with the reason");
  return kExitFailed;
}

}  // namespace corvane::cli
