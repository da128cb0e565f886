// The --jsonl batches of `corvane format` and `corvane unformat`: standard input holds one JSON
// string a line, and every line gets one answer line, in order, whatever became of the others.
// Contract: memory holds the line at hand and the answers not yet written, never the batch. The
// answers are written whenever the program is about to wait for more input (and every 64 KiB),
// so that a program that feeds one line at a time reads each answer before it sends the next,
// while a file of lines is answered in few writes. A UTF-8 byte-order mark before the first
// line is dropped. A line that fails answers {"error": REASON}; Finish returns 0 when no line
// failed, else 1, and says on standard error how many failed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane::cli {

class JsonlBatch {
 public:
  JsonlBatch() = default;
  ~JsonlBatch();  // writes what is left, also when an exception ends the batch
  JsonlBatch(const JsonlBatch&) = delete;
  JsonlBatch& operator=(const JsonlBatch&) = delete;

  // Moves to the next line; false at the end of the input. Throws UsageError when standard
  // input cannot be read.
  bool Next();
  std::size_t number() const { return number_; }  // the line's number, from 1
  // The line's JSON string, decoded; throws UsageError saying what is wrong with it.
  std::u16string Text() const;
  // The line's answer, a JSON object without its line feed.
  void Answer(std::string_view object);
  void Fail(std::u16string_view reason);
  void Fail(std::string_view reason);
  int Finish(std::string_view command);
  // Writes the answers made so far (before a message on standard error, say).
  void Flush();

 private:
  std::string in_;
  std::size_t next_ = 0;  // where the unread part of in_ starts
  std::string_view line_;
  bool end_ = false;
  bool markChecked_ = false;
  std::string out_;
  std::size_t number_ = 0;
  std::size_t failed_ = 0;
};

}  // namespace corvane::cli
