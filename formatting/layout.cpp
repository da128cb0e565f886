#include "formatting/layout.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <memory>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/platform.h"
#include "formatting/char_scan.h"
#include "formatting/lexer.h"
#include "formatting/run_finder.h"
#include "spacing/spacing_model.h"

namespace corvane {

using namespace scan;
using layout::kArithmetic;
using layout::kCharFlags;
using layout::kOperator;

namespace {

constexpr char16_t kLineFeed = u'\n';
constexpr char16_t kSpace = u' ';

std::uint8_t FlagsOf(std::u16string_view c) {
  return c.size() == 1 && c[0] < 128 ? kCharFlags[c[0]] : 0;
}

// A count of indentation spaces; a negative one fails as making that many spaces would.
[[gnu::noinline]] std::int32_t SpaceCountByCall(double width) {
  const std::int32_t count = RoundToLong(width);
  if (count < 0) throw AutomationError(err::kInvalidProcedureCall, u"Invalid procedure call or argument");
  return count;
}

inline std::int32_t SpaceCount(double width) {
#if FLT_EVAL_METHOD == 0
  // Adding and taking away 2^52 rounds a number in [0, 2^31) to a whole one in the current
  // rounding mode (ties to even), as RoundToLong does, without a call: this runs for every line.
  if (width >= 0.0 && width < 2147483647.0) [[likely]]
    return static_cast<std::int32_t>((width + 0x1p52) - 0x1p52);
#endif
  return SpaceCountByCall(width);
}

// Whether the layout is still at the start of an operand at position `at` (1-based): one began
// at `from` (0: none) and no operator stands from there up to `at`. Each operand's characters
// are looked at once at most: the caller starts a new one at `at`.
bool OperandStart(const char16_t* text, std::int32_t from, std::int32_t at) {
  if (from < 1) return false;
  for (std::int32_t k = from; k < at; ++k)
    if (FlagsOf(std::u16string_view(text + (k - 1), 1)) & kOperator) return false;
  return true;
}

// A growable run of code units whose appends stay inline: the layout appends one character at
// a time, and a call per character would cost as much as the rest of its work.
class TextBuffer {
 public:
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  char16_t back() const { return data_[size_ - 1]; }
  char16_t operator[](std::size_t i) const { return data_[i]; }
  std::u16string_view view() const { return {data_.get(), size_}; }
  std::size_t capacity() const { return capacity_; }

  void reserve(std::size_t capacity) {
    if (capacity > capacity_) [[unlikely]]
      Grow(capacity);
  }
  void clear() { size_ = 0; }
  void truncate(std::size_t size) { size_ = std::min(size, size_); }

  TextBuffer& operator+=(char16_t c) {
    reserve(size_ + 1);
    data_[size_++] = c;
    return *this;
  }
  TextBuffer& operator+=(std::u16string_view s) {
    reserve(size_ + s.size());
    Copy(data_.get() + size_, s.data(), s.size());
    size_ += s.size();
    return *this;
  }
  TextBuffer& appendSpaces(std::size_t count) {
    // Whole chunks of 64, the last one partly past the end (capacity allows for it): nearly
    // every indentation takes one chunk, written without a loop or a branch on its length.
    static constexpr std::array<char16_t, 64> kChunk = [] {
      std::array<char16_t, 64> a;
      a.fill(kSpace);
      return a;
    }();
    reserve(size_ + count + kChunk.size());
    char16_t* const out = data_.get() + size_;
    std::memcpy(out, kChunk.data(), sizeof kChunk);
    for (std::size_t k = kChunk.size(); k < count; k += kChunk.size()) [[unlikely]]
      std::memcpy(out + k, kChunk.data(), sizeof kChunk);
    size_ += count;
    return *this;
  }

  // Copies n code units; the short texts most appends are take two overlapping moves, without
  // a call or a loop.
  static void Copy(char16_t* out, const char16_t* in, std::size_t n) {
    const auto copy = [&]<std::size_t kUnits>(std::integral_constant<std::size_t, kUnits>) {
      std::memcpy(out, in, kUnits * sizeof(char16_t));
      std::memcpy(out + n - kUnits, in + n - kUnits, kUnits * sizeof(char16_t));
    };
    if (n > 16) {
      std::memcpy(out, in, n * sizeof(char16_t));
    } else if (n >= 8) {
      copy(std::integral_constant<std::size_t, 8>{});
    } else if (n >= 4) {
      copy(std::integral_constant<std::size_t, 4>{});
    } else if (n >= 2) {
      copy(std::integral_constant<std::size_t, 2>{});
    } else if (n == 1) {
      *out = *in;
    }
  }

  friend void swap(TextBuffer& a, TextBuffer& b) noexcept {
    std::swap(a.data_, b.data_);
    std::swap(a.size_, b.size_);
    std::swap(a.capacity_, b.capacity_);
  }

 private:
  // Out of the way of the appends, which it would keep from being inlined.
  void Grow(std::size_t needed);

  std::unique_ptr<char16_t[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

void TextBuffer::Grow(std::size_t needed) {
  const std::size_t capacity = std::max({needed, capacity_ * 2, std::size_t{32}});
  auto bigger = std::make_unique_for_overwrite<char16_t[]>(capacity);
  std::copy_n(data_.get(), size_, bigger.get());
  data_ = std::move(bigger);
  capacity_ = capacity;
}

// The output so far (`cur`) and the output as it stood when the current character's turn began
// (`prev`), the one a rebuild goes back to. Instead of copying the whole output at every
// character, both are kept as a shared prefix plus a short tail each:
//   cur  = base_ + curTail_
//   prev = base_[0, prevLen_) + prevTail_
// After consecutive closing parentheses the two differ by more than the last turn's text (each
// rebuild goes back one turn further than the last one wrote), hence two tails that a rebuild
// swaps rather than copies. Every character written is copied a bounded number of times.
class Output {
 public:
  // Works in `buffers` (base, cur tail, prev tail, scratch), which it empties first.
  explicit Output(std::array<TextBuffer, 4>& buffers, std::size_t expected)
      : base_(buffers[0]), curTail_(buffers[1]), prevTail_(buffers[2]), scratch_(buffers[3]) {
    for (TextBuffer& b : buffers) b.clear();
    base_.reserve(expected);
  }

  // A turn that appends to cur; returns where to append.
  TextBuffer& Append() {
    Flatten();
    prevLen_ = base_.size();
    prevTail_.clear();
    return base_;
  }

  // Turns that each append one character of `run`: the last one's turn began one character
  // before the end.
  void AppendRun(std::u16string_view run) {
    Flatten();
    prevTail_.clear();
    base_ += run;
    prevLen_ = base_.size() - 1;
  }

  // A turn that first takes the trailing spaces off cur; `endsWithLineFeed` tells whether what
  // remains ends with a line feed. Returns where to append.
  TextBuffer& TrimAndAppend(bool& endsWithLineFeed) {
    Flatten();
    std::size_t keep = base_.size();
    while (keep > 0 && base_[keep - 1] == kSpace) --keep;
    prevTail_.clear();
    prevTail_.appendSpaces(base_.size() - keep);
    prevLen_ = keep;
    base_.truncate(keep);
    endsWithLineFeed = keep > 0 && base_[keep - 1] == kLineFeed;
    return base_;
  }

  // A turn that starts again from prev (the output before the previous character was laid
  // out); returns where to append.
  TextBuffer& Rebuild() {
    if (base_.size() == prevLen_) {
      // cur's tail becomes prev's, and prev's tail is where this turn writes.
      swap(curTail_, prevTail_);
    } else {
      scratch_.clear();
      scratch_ += base_.view().substr(prevLen_);
      scratch_ += curTail_.view();
      base_.truncate(prevLen_);
      swap(curTail_, prevTail_);
      swap(prevTail_, scratch_);
    }
    return curTail_;
  }

  std::u16string Take() const {
    if (curTail_.empty()) return std::u16string(base_.view());
    std::u16string text;
    text.reserve(base_.size() + curTail_.size());
    text.append(base_.view());
    text.append(curTail_.view());
    return text;
  }

 private:
  void Flatten() {
    if (!curTail_.empty()) [[unlikely]] {
      base_ += curTail_.view();
      curTail_.clear();
    }
  }

  TextBuffer& base_;
  TextBuffer& curTail_;
  TextBuffer& prevTail_;
  TextBuffer& scratch_;
  std::size_t prevLen_ = 0;
};

// strLineText: the text of the current line since its last break, and its width as
// GetSpacingThisLevel gives it: summed in the same order with the same widths, so the same
// number. For a text editor only its length counts. For the cell the line is kept as the
// pieces of text it was appended from, not copied: mostly one stretch of the formula, which
// each append extends. A measurement sums from where the last measurement of the same line
// stopped (inline groups measure one line again and again), and a line that is never measured
// is never summed. A line with a special character (code 768 and above) is measured by
// GetSpacingThisLevel itself, since that reads (and may first calibrate) the store.
class LineText {
 public:
  LineText(bool notepad, std::vector<std::u16string_view>& pieces, spacing::WidthMemo& memo)
      : notepad_(notepad), pieces_(pieces), memo_(memo) {
    pieces_.clear();
  }

  // Appends s, whose text must stay in place until the line is cleared.
  void Append(std::u16string_view s) {
    if (notepad_) {
      length_ += s.size();
    } else if (s.data() == end_) {
      end_ += s.size();
    } else if (begin_ == nullptr) {
      begin_ = s.data();
      end_ = s.data() + s.size();
    } else {
      StartPiece(s);
    }
  }
  void AppendSpaces(std::int32_t count) {
    if (notepad_) {
      length_ += static_cast<std::size_t>(count);
      return;
    }
    static constexpr std::u16string_view kSpaces = u"                                ";
    for (auto left = static_cast<std::size_t>(count); left > 0;) {
      const std::size_t chunk = std::min(left, kSpaces.size());
      StartPiece(kSpaces.substr(0, chunk));
      left -= chunk;
    }
  }

  void Clear() {
    length_ = 0;
    pieces_.clear();
    begin_ = end_ = nullptr;
    summed_ = nullptr;
    width_ = 0.0;
    failed_ = false;
    special_ = false;
  }

  // GetSpacingThisLevel(strLineText).
  double Width(cls_corvane& addin) { return WidthWith({}, addin); }

  // GetSpacingThisLevel(strLineText & extra), for a line that ends there: `extra` is summed
  // after the rest, as appending it would, but not kept.
  double WidthWith(std::u16string_view extra, cls_corvane& addin) {
    if (notepad_) return static_cast<double>(static_cast<std::int32_t>(length_ + extra.size()));
    if (!failed_ && !special_) {
      // Earlier pieces were summed when the next one started.
      const char16_t* from = summed_ != nullptr ? summed_ : begin_;
      summed_ = Sum(from, end_);
      if (!failed_ && !special_ && !extra.empty()) Sum(extra.data(), extra.data() + extra.size());
    }
    if (!special_) return width_;
    std::u16string text;
    for (const std::u16string_view piece : pieces_) text += piece;
    text.append(begin_, end_);
    text += extra;
    Variant value(std::move(text));
    return addin.GetSpacingThisLevel(value);
  }

 private:
  // The current piece is complete: it is summed (measurements go in order) and kept, and s
  // starts the next one. Rare, and kept out of line so that Append stays inline.
  [[gnu::noinline]] void StartPiece(std::u16string_view s) {
    if (begin_ != nullptr) {
      if (!failed_ && !special_) Sum(summed_ != nullptr ? summed_ : begin_, end_);
      pieces_.emplace_back(begin_, static_cast<std::size_t>(end_ - begin_));
    }
    begin_ = s.data();
    end_ = s.data() + s.size();
    summed_ = nullptr;
  }

  // Adds the widths of [from, to) in order and returns where it stopped: after a character
  // whose entry is no number nothing more is added (failed_), and a special character stops it
  // (special_).
  const char16_t* Sum(const char16_t* from, const char16_t* to) {
    // Mostly every width is known: one load and one addition per character. A NaN sum means
    // one was not (or was no number): the checked loop below then goes over it again.
    double sum = width_;  // a local, so that the running sum stays in a register
    for (const char16_t* p = from; p != to; ++p) sum += memo_.KnownOrNaN(*p);
    if (sum == sum) [[likely]] {
      width_ = sum;
      return to;
    }
    sum = width_;
    for (; from != to; ++from) {
      const char16_t c = *from;
      double width;
      if (c >= spacing::kMemoCodes) [[unlikely]] {
        special_ = true;
        break;
      }
      if (!memo_.Width(c, width)) [[unlikely]] {
        failed_ = true;
        break;
      }
      sum += width;
    }
    width_ = sum;
    return from;
  }

  bool notepad_;
  std::vector<std::u16string_view>& pieces_;  // the cell's line before its current piece
  spacing::WidthMemo& memo_;
  std::size_t length_ = 0;             // the editor's line
  const char16_t* begin_ = nullptr;    // the current piece
  const char16_t* end_ = nullptr;
  const char16_t* summed_ = nullptr;   // how far the current piece is summed (null: not at all)
  double width_ = 0.0;
  bool failed_ = false;
  bool special_ = false;
};

struct StackEntry {
  bool level;    // "N": opened a level or an empty pair
  double width;  // otherwise: the width of the line's text before the inline "("
};

enum class Kind { Separator, Open, Close, Other };

// Working storage of a layout, kept per thread so that laying out many short formulas does not
// allocate it again each time.
struct LayoutStorage {
  std::array<TextBuffer, 4> output;
  std::vector<std::u16string_view> line;
  std::vector<double> levelWidth;
  std::vector<double> levelSum;
  std::vector<StackEntry> parenStack;
  bool busy = false;
};

// Lends the thread's storage (or fresh storage, should a layout ever run inside another).
class BorrowedStorage {
 public:
  BorrowedStorage() {
    thread_local LayoutStorage shared;
    if (shared.busy) {
      own_ = std::make_unique<LayoutStorage>();
      storage_ = own_.get();
    } else {
      storage_ = &shared;
    }
    storage_->busy = true;
  }
  ~BorrowedStorage() {
    storage_->busy = false;
    // Keep small buffers for the next formula, not the memory of a huge one.
    constexpr std::size_t kKeep = std::size_t{1} << 20;
    if (storage_->output[0].capacity() > kKeep || storage_->line.capacity() > kKeep / 16) *storage_ = LayoutStorage{};
  }
  BorrowedStorage(const BorrowedStorage&) = delete;
  BorrowedStorage& operator=(const BorrowedStorage&) = delete;
  LayoutStorage* operator->() const { return storage_; }

 private:
  std::unique_ptr<LayoutStorage> own_;
  LayoutStorage* storage_;
};

}  // namespace

std::u16string cls_corvane::RemoveSpacesInLastLine(Variant& str) {
  std::u16string converted;
  const std::u16string_view text = str.isString() ? std::u16string_view(str.string())
                                                  : std::u16string_view(converted = ToText(str, Regional()));
  iIndex = static_cast<std::int32_t>(text.size());
  while (iIndex >= 1 && text[static_cast<std::size_t>(iIndex) - 1] == kSpace) --iIndex;
  return std::u16string(text.substr(0, static_cast<std::size_t>(iIndex)));
}

std::u16string cls_corvane::LayoutFormula() {
  // The characters are read from strFormula, whose table strCharArray is (the formulate
  // command builds one from the other); the lexer tells which of them are syntax. A table or
  // formula that does not cover every position fails before anything is laid out.
  const StringTable& table = strCharArray;
  const std::int32_t n = iLenFormula;
  if (n >= 1 && (static_cast<std::size_t>(n) > strFormula.size() || table.rows() == 0 || table.rowLower() > 1 ||
                 table.rowUpper() < n || table.colLower() > kCharColumn || table.colUpper() < kSheetMarkColumn))
    throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
  const char16_t* const text = strFormula.data();
  // The table's columns by position, index 0 for row 1 like `text`.
  const auto columnFromRow1 = [&](std::int32_t col) { return table.column(col) + (1 - table.rowLower()); };
  const StringTable::Handle* const charCells = n >= 1 ? columnFromRow1(kCharColumn) : nullptr;

  BorrowedStorage storage;
  // LevelsArray(1 ..) and the running sums of its elements, so that GetIndentSpacesCount's sum
  // (element 1 first) is one lookup: only the top element changes. Each level's two elements
  // are written when it opens, before anything reads them; element 0 of the sums is the empty
  // sum. Every level is opened by a "(" of the formula, so they never outnumber those.
  std::vector<double>& levelWidth = storage->levelWidth;
  std::vector<double>& levelSum = storage->levelSum;
  if (levelSum.empty()) {
    levelWidth.assign(1, 0.0);
    levelSum.assign(1, 0.0);
  }
  std::vector<StackEntry>& parenStack = storage->parenStack;  // ParenStack without its bottom entry
  parenStack.clear();

  spacing::WidthMemo& memo = spacing::ThreadWidthMemo();
  memo.BeginPass(SpacingArray, Regional());
  LineText line(bSendToNotepad, storage->line, memo);
  const std::u16string_view separator = strListSeparator;
  const std::u16string_view afterParen = strAfterParen;
  Output out(storage->output, static_cast<std::size_t>(std::max(n, 0)) * 2 + 16);
  const std::u16string_view formula(text, static_cast<std::size_t>(std::max(n, 0)));
  std::size_t nameEnd = 0;  // the end of the last literal or name met (0-based, exclusive)

  const std::int32_t rowUpper = table.rowUpper();
  // A one-unit separator; otherwise no single character can equal it.
  const char32_t separatorChar = separator.size() == 1 ? separator[0] : char32_t{0x110000};
  // Tells the characters that are ordinary wherever they stand and whatever their marks.
  const layout::RunFinder runs(separatorChar);

  std::int32_t indentLevel = 0;
  std::int32_t openInline = 0;
  std::int32_t indentSpaces = 0;
  std::int32_t indent = 0;      // strIndent, as a count of spaces
  std::int32_t prevIndent = 0;  // strPrevIndent
  bool afterRightParen = false;
  bool afterEmptyPair = false;
  bool afterInlineClose = false;
  std::int32_t lastStructural = 0;  // the position of the last separator or parenthesis turn
  // Where the current operand began (just after a separator or an opening parenthesis), or
  // 0 when the layout is not at the start of one: an operator since that position ends the
  // start, which is looked for only where it matters (an inline "(" candidate).
  std::int32_t operandFrom = 0;
  bool parenWidthKnown = false;
  double parenWidth = 0.0;  // SpacingArray(40) + Len(strAfterParen)

  const auto indentOfLevels = [&] { return SpaceCount(levelSum[static_cast<std::size_t>(indentLevel)]); };

  std::int32_t i = 1;
  try {
    for (; i <= n; ++i) {
      prevIndent = indent;

      // Most characters can be nothing but ordinary, wherever they stand, and so is every
      // character of a literal or a name (a quoted sheet name, a bracketed name) after its first:
      // a run of them is taken in one step, each of its turns appending its character to the
      // output and the line.
      const auto at = static_cast<std::size_t>(i - 1);
      const std::size_t runEnd = afterRightParen ? at
                                 : at < nameEnd  ? nameEnd
                                                 : runs.Find(text, at, static_cast<std::size_t>(n));
      if (runEnd > at) {
        const auto last = static_cast<std::int32_t>(runEnd);  // the run's last position
        const std::u16string_view runText(text + (i - 1), static_cast<std::size_t>(last - i + 1));
        out.AppendRun(runText);
        line.Append(runText);
        i = last;
        if (i == n) continue;
        ++i;  // the character that ended the run takes its turn below
      }
      const std::u16string_view c(text + (i - 1), 1);
      // A literal or name is met at its first character, and the lexer tells where it ends.
      // Outside names the character alone tells its kind, as the lexer gives it: the separator
      // before parentheses.
      if (static_cast<std::size_t>(i) > nameEnd && lex::StartsName(c[0])) {
        bool unclosed = false;
        nameEnd = lex::NameEnd(formula, static_cast<std::size_t>(i - 1), unclosed);
      }
      const bool inName = static_cast<std::size_t>(i) <= nameEnd;
      Kind kind = Kind::Other;
      bool emptyPair = false;
      if (!inName) {
        if (static_cast<char32_t>(c[0]) == separatorChar) {
          kind = Kind::Separator;
        } else if (c[0] == u'(') {
          kind = Kind::Open;
          emptyPair = i != rowUpper && charCells[i] == u')';
        } else if (c[0] == u')') {
          kind = Kind::Close;
          emptyPair = i != 1 && charCells[i - 2] == u'(';
        }
      }

      const bool prevClosedLevel = afterRightParen && !afterEmptyPair && !afterInlineClose;
      switch (kind) {
        case Kind::Separator: {
          indentSpaces = indentOfLevels();
          indent = indentSpaces;
          TextBuffer& o = prevClosedLevel ? out.Rebuild() : out.Append();
          if (prevClosedLevel) {
            // The closing parenthesis keeps its line, and the separator joins it there.
            o += kLineFeed;
            o.appendSpaces(static_cast<std::size_t>(prevIndent));
            o += u')';
          }
          o += c[0];
          o += kLineFeed;
          o.appendSpaces(static_cast<std::size_t>(indent));
          line.Clear();
          afterRightParen = false;
          afterEmptyPair = false;
          operandFrom = i + 1;
          lastStructural = i;
          break;
        }

        case Kind::Open: {
          parenStack.push_back({true, 0.0});
          TextBuffer& o = out.Append();
          o += c[0];
          // After an arithmetic operator: the character before took an ordinary turn.
          const bool afterArithmeticOperator = !bFormatAllParens && i >= 2 && lastStructural != i - 1 &&
                                               (FlagsOf(std::u16string_view(text + (i - 2), 1)) & kArithmetic) != 0;
          if ((afterArithmeticOperator || openInline > 0) && !OperandStart(text, operandFrom, i)) {
            parenStack.back() = {false, line.Width(*this)};
            line.Append(c);
            ++openInline;
          } else if (emptyPair) {
            line.Append(c);
          } else {
            line.Append(c);
            ++indentLevel;
            const auto k = static_cast<std::size_t>(indentLevel);
            if (k == levelSum.size()) [[unlikely]] {
              levelWidth.push_back(0.0);
              levelSum.push_back(0.0);
            }
            // The line with strAfterParen appended, which the line break below clears at once.
            levelWidth[k] = line.WidthWith(afterParen, *this);
            levelSum[k] = levelSum[k - 1] + levelWidth[k];
            indent = indentOfLevels();
            o += kLineFeed;
            o.appendSpaces(static_cast<std::size_t>(indent));
            line.Clear();
          }
          afterRightParen = false;
          afterEmptyPair = false;
          operandFrom = i + 1;
          lastStructural = i;
          break;
        }

        case Kind::Close: {
          // Nothing to close: the bottom entry of ParenStack may not be popped.
          if (parenStack.empty())
            throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
          const StackEntry top = parenStack.back();
          if (emptyPair) {
            out.Append() += c[0];
            line.Append(c);
            if (!top.level) --openInline;
            afterEmptyPair = true;
          } else if (!top.level) {
            bool endsWithLineFeed = false;
            TextBuffer& o = out.TrimAndAppend(endsWithLineFeed);
            if (endsWithLineFeed) {
              // It would begin a line: it goes under its opening parenthesis.
              indent = SpaceCount(top.width);
              o.appendSpaces(static_cast<std::size_t>(indent));
              line.AppendSpaces(indent);
            }
            o += c[0];
            line.Append(c);
            --openInline;
            afterInlineClose = true;
            afterEmptyPair = false;
          } else {
            if (indentLevel < 1) throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
            if (!parenWidthKnown) {
              double entry;
              // Converted as the width table converts it; a failure is the conversion's own.
              if (!memo.Width(u'(', entry)) entry = ToDouble(std::as_const(SpacingArray).at(40), Regional());
              parenWidth = entry + static_cast<double>(afterParen.size());
              parenWidthKnown = true;
            }
            const auto k = static_cast<std::size_t>(indentLevel);
            // The level's width without the parenthesis and the spaces after it.
            levelWidth[k] = levelWidth[k] - parenWidth;
            levelSum[k] = levelSum[k - 1] + levelWidth[k];
            indentSpaces = indentOfLevels();
            indent = indentSpaces;
            TextBuffer& o = prevClosedLevel ? out.Rebuild() : out.Append();
            if (prevClosedLevel) {
              o += kLineFeed;
              o.appendSpaces(static_cast<std::size_t>(prevIndent));
              o += c[0];
            }
            o += kLineFeed;
            o.appendSpaces(static_cast<std::size_t>(indent));
            o += c[0];
            o += kLineFeed;
            o.appendSpaces(static_cast<std::size_t>(indent));
            --indentLevel;
            line.Clear();
            afterInlineClose = false;
            afterEmptyPair = false;
          }
          afterRightParen = true;
          operandFrom = 0;
          lastStructural = i;
          parenStack.pop_back();
          break;
        }

        case Kind::Other: {
          if (afterRightParen) {
            indentSpaces = indentOfLevels();
            indent = indentSpaces;
            if (afterEmptyPair) {
              TextBuffer& o = out.Append();
              o += kLineFeed;
              o.appendSpaces(static_cast<std::size_t>(indent));
              o += c[0];
              line.Clear();
            } else if (afterInlineClose) {
              out.Append() += c[0];
            } else {
              // The closing parenthesis keeps its line; this text starts the next one.
              TextBuffer& o = out.Rebuild();
              o += kLineFeed;
              o.appendSpaces(static_cast<std::size_t>(prevIndent));
              o += u')';
              o += kLineFeed;
              o.appendSpaces(static_cast<std::size_t>(indent));
              o += c[0];
            }
          } else {
            out.Append() += c[0];
          }
          line.Append(c);
          afterRightParen = false;
          afterEmptyPair = false;
          break;
        }
      }
    }
  } catch (...) {
    iItem = i;
    throw;
  }

  // The object's copies of the last character's record and of the indentation, set once here
  // rather than at every character: nothing reads them during the layout.
  iItem = i;
  iIndentSpaces = indentSpaces;
  AssignSpaces(strIndent, static_cast<std::size_t>(indent));
  AssignSpaces(strPrevIndent, static_cast<std::size_t>(prevIndent));
  if (n >= 1) {
    AssignText(strCurrentChar, table.get(n, kCharColumn));
    AssignText(strPrevChar, n != 1 ? table.get(n - 1, kCharColumn) : std::u16string_view());
    AssignText(strNextChar, n != rowUpper ? table.get(n + 1, kCharColumn) : std::u16string_view());
  }
  return out.Take();
}

}  // namespace corvane
