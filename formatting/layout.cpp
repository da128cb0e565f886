#include "formatting/layout.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <memory>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "addin/platform.h"
#include "formatting/char_scan.h"
#include "formatting/run_finder.h"
#include "spacing/spacing_model.h"

namespace corvane {

using namespace scan;
using layout::kArithmetic;
using layout::kCharFlags;
using layout::kOperator;

namespace {

constexpr char16_t kLineFeed = u'\n';
constexpr StringTable::Handle kStringHandle = StringTable::CommonHandle(kStringMark);
constexpr StringTable::Handle kSheetHandle = StringTable::CommonHandle(kSheetMark);
constexpr char16_t kSpace = u' ';

std::uint8_t FlagsOf(std::u16string_view c) {
  return c.size() == 1 && c[0] < 128 ? kCharFlags[c[0]] : 0;
}

// A count of indentation spaces; a negative one fails as making that many spaces would.
std::int32_t SpaceCount(double width) {
#if FLT_EVAL_METHOD == 0
  // Adding and taking away 2^52 rounds a number in [0, 2^31) to a whole one in the current
  // rounding mode (ties to even), as RoundToLong does, without a call: this runs for every line.
  if (width >= 0.0 && width < 2147483647.0) return static_cast<std::int32_t>((width + 0x1p52) - 0x1p52);
#endif
  const std::int32_t count = RoundToLong(width);
  if (count < 0) throw AutomationError(err::kInvalidProcedureCall, u"Invalid procedure call or argument");
  return count;
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
    char16_t* out = data_.get() + size_;
    if (s.size() > 32) {
      std::copy(s.begin(), s.end(), out);
    } else {
      // Short texts (most runs) four units at a time, without a call.
      std::size_t k = 0;
      for (; k + 4 <= s.size(); k += 4) std::memcpy(out + k, s.data() + k, 4 * sizeof(char16_t));
      for (; k < s.size(); ++k) out[k] = s[k];
    }
    size_ += s.size();
    return *this;
  }
  TextBuffer& append(std::size_t count, char16_t c) {
    reserve(size_ + count);
    std::fill_n(data_.get() + size_, count, c);
    size_ += count;
    return *this;
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
    prevTail_.append(base_.size() - keep, kSpace);
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

// strLineText: the text of the current line since its last break. Its width is summed when
// it is measured, from where the last measurement of the same line stopped, in the same order
// and with the same widths as GetSpacingThisLevel sums it: the same number, without summing a
// character twice when inline groups measure one line again and again. A line with a special
// character (code 768 and above) is measured by GetSpacingThisLevel itself, since that reads
// (and may first calibrate) the store.
class LineText {
 public:
  LineText(bool notepad, TextBuffer& text, spacing::WidthMemo& memo) : notepad_(notepad), text_(text), memo_(memo) {
    text_.clear();
  }

  void Push(char16_t c) {
    if (notepad_) {
      ++length_;  // only the length counts
    } else {
      text_ += c;
    }
  }
  void Append(std::u16string_view s) {
    if (notepad_) {
      length_ += s.size();
    } else {
      text_ += s;
    }
  }
  void AppendSpaces(std::int32_t count) {
    if (notepad_) {
      length_ += static_cast<std::size_t>(count);
    } else {
      text_.append(static_cast<std::size_t>(count), kSpace);
    }
  }

  void Clear() {
    length_ = 0;
    text_.clear();
    measured_ = 0;
    width_ = 0.0;
    failed_ = false;
    special_ = false;
  }

  // GetSpacingThisLevel(strLineText).
  double Width(cls_corvane& addin) {
    if (notepad_) return static_cast<double>(static_cast<std::int32_t>(length_));
    // Locals, so that the running sum stays in a register.
    double sum = width_;
    std::size_t k = measured_;
    const std::size_t size = text_.size();
    if (!failed_ && !special_) {
      const std::u16string_view text = text_.view();
      for (; k < size; ++k) {
        const char16_t c = text[k];
        double width;
        if (c >= spacing::kMemoCodes) [[unlikely]] {
          special_ = true;
          break;
        }
        if (!memo_.Width(c, width)) [[unlikely]] {
          failed_ = true;  // this character and all later ones add nothing
          break;
        }
        sum += width;
      }
    }
    width_ = sum;
    measured_ = k;
    if (!special_) return width_;
    Variant text(std::u16string(text_.view()));
    return addin.GetSpacingThisLevel(text);
  }

 private:
  bool notepad_;
  TextBuffer& text_;  // kept for the cell only
  spacing::WidthMemo& memo_;
  std::size_t length_ = 0;
  std::size_t measured_ = 0;  // characters of text_ summed into width_
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
  TextBuffer line;
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
    if (storage_->output[0].capacity() > kKeep || storage_->line.capacity() > kKeep) *storage_ = LayoutStorage{};
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
  // command builds one from the other); the table gives the marks. A table or formula that does
  // not cover every position fails before anything is laid out.
  const StringTable& table = strCharArray;
  const std::int32_t n = iLenFormula;
  if (n >= 1 && (static_cast<std::size_t>(n) > strFormula.size() || table.rows() == 0 || table.rowLower() > 1 ||
                 table.rowUpper() < n || table.colLower() > kCharColumn || table.colUpper() < kSheetMarkColumn))
    throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
  const char16_t* const text = strFormula.data();

  BorrowedStorage storage;
  // LevelsArray(1 .. number of "(" in the formula) and the running sums of its elements, so that
  // GetIndentSpacesCount's sum (element 1 first) is one lookup: only the top element changes.
  const auto levelCapacity = static_cast<std::size_t>(std::count(strFormula.begin(), strFormula.end(), u'('));
  std::vector<double>& levelWidth = storage->levelWidth;
  std::vector<double>& levelSum = storage->levelSum;
  levelWidth.assign(levelCapacity + 1, 0.0);
  levelSum.assign(levelCapacity + 1, 0.0);
  std::vector<StackEntry>& parenStack = storage->parenStack;  // ParenStack without its bottom entry
  parenStack.clear();

  spacing::WidthMemo& memo = spacing::ThreadWidthMemo();
  memo.BeginPass(SpacingArray, Regional());
  LineText line(bSendToNotepad, storage->line, memo);
  Output out(storage->output, static_cast<std::size_t>(std::max(n, 0)) * 2 + 16);

  const std::u16string_view separator = strListSeparator;
  const std::u16string_view afterParen = strAfterParen;
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
  bool afterArithmeticOperator = false;
  bool operandStart = false;
  std::int32_t bracketDepth = 0;  // square brackets open outside literals and sheet names
  bool parenWidthKnown = false;
  double parenWidth = 0.0;  // SpacingArray(40) + Len(strAfterParen)

  const auto indentOfLevels = [&] { return SpaceCount(levelSum[static_cast<std::size_t>(indentLevel)]); };

  std::int32_t i = 1;
  try {
    for (; i <= n; ++i) {
      prevIndent = indent;

      // The classification CheckChar gives, worked out here (CheckChar's record of three strings
      // per character costs more than the rest of the layout), then names made ordinary
      // characters. Most characters can be nothing but ordinary, whatever their marks: a run of
      // them is taken in one step, each of its turns appending its character to the output and
      // the line. Only the other characters look at their marks in the table.
      const layout::RunFinder::Run run = afterRightParen ? layout::RunFinder::Run{static_cast<std::size_t>(i - 1), false, 0}
                                                     : runs.Find(text, static_cast<std::size_t>(i - 1),
                                                                 static_cast<std::size_t>(n));
      if (run.end > static_cast<std::size_t>(i - 1)) {
        const auto last = static_cast<std::int32_t>(run.end);  // the run's last position
        const std::u16string_view runText(text + (i - 1), static_cast<std::size_t>(last - i + 1));
        out.AppendRun(runText);
        line.Append(runText);
        if (!bFormatAllParens) afterArithmeticOperator = (run.lastFlags & kArithmetic) != 0;
        if (run.anyOperator) operandStart = false;
        i = last;
        if (i == n) continue;
        ++i;  // the character that ended the run takes its turn below
      }
      const std::u16string_view c(text + (i - 1), 1);
      const bool inLiteral = table.handle(i, kStringMarkColumn) == kStringHandle;
      const bool inSheetName = table.handle(i, kSheetMarkColumn) == kSheetHandle;
      const bool inName = inSheetName || bracketDepth > 0;
      if (!inLiteral && !inSheetName && c.size() == 1) {
        if (c[0] == u'[') {
          ++bracketDepth;
        } else if (c[0] == u']' && bracketDepth > 0) {
          --bracketDepth;
        }
      }
      Kind kind = Kind::Other;
      bool emptyPair = false;
      if (static_cast<char32_t>(c[0]) == separatorChar) {
        if (!inLiteral) kind = Kind::Separator;
      } else if (c.size() == 1 && (c[0] == u'(' || c[0] == u')') && !inLiteral) {
        if (c[0] == u'(') {
          kind = Kind::Open;
          emptyPair = i != rowUpper && table.handle(i + 1, kCharColumn) == u')';
        } else {
          kind = Kind::Close;
          emptyPair = i != 1 && table.handle(i - 1, kCharColumn) == u'(';
        }
      }
      if (inName) kind = Kind::Other;

      const bool prevClosedLevel = afterRightParen && !afterEmptyPair && !afterInlineClose;
      switch (kind) {
        case Kind::Separator: {
          indentSpaces = indentOfLevels();
          indent = indentSpaces;
          TextBuffer& o = prevClosedLevel ? out.Rebuild() : out.Append();
          if (prevClosedLevel) {
            // The closing parenthesis keeps its line, and the separator joins it there.
            o += kLineFeed;
            o.append(static_cast<std::size_t>(prevIndent), kSpace);
            o += u')';
          }
          o += c;
          o += kLineFeed;
          o.append(static_cast<std::size_t>(indent), kSpace);
          line.Clear();
          afterRightParen = false;
          afterArithmeticOperator = false;
          afterEmptyPair = false;
          operandStart = true;
          break;
        }

        case Kind::Open: {
          parenStack.push_back({true, 0.0});
          TextBuffer& o = out.Append();
          o += c;
          if ((afterArithmeticOperator || openInline > 0) && !operandStart) {
            parenStack.back() = {false, line.Width(*this)};
            line.Append(c);
            ++openInline;
          } else if (emptyPair) {
            line.Append(c);
          } else {
            line.Append(c);
            line.Append(afterParen);
            if (static_cast<std::size_t>(indentLevel) >= levelCapacity)
              throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
            ++indentLevel;
            const auto k = static_cast<std::size_t>(indentLevel);
            levelWidth[k] = line.Width(*this);
            levelSum[k] = levelSum[k - 1] + levelWidth[k];
            indent = indentOfLevels();
            o += kLineFeed;
            o.append(static_cast<std::size_t>(indent), kSpace);
            line.Clear();
          }
          afterRightParen = false;
          afterArithmeticOperator = false;
          afterEmptyPair = false;
          operandStart = true;
          break;
        }

        case Kind::Close: {
          // Nothing to close: the bottom entry of ParenStack may not be popped.
          if (parenStack.empty())
            throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
          const StackEntry top = parenStack.back();
          if (emptyPair) {
            out.Append() += c;
            line.Append(c);
            if (!top.level) --openInline;
            afterEmptyPair = true;
          } else if (!top.level) {
            bool endsWithLineFeed = false;
            TextBuffer& o = out.TrimAndAppend(endsWithLineFeed);
            if (endsWithLineFeed) {
              // It would begin a line: it goes under its opening parenthesis.
              indent = SpaceCount(top.width);
              o.append(static_cast<std::size_t>(indent), kSpace);
              line.AppendSpaces(indent);
            }
            o += c;
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
              o.append(static_cast<std::size_t>(prevIndent), kSpace);
              o += c;
            }
            o += kLineFeed;
            o.append(static_cast<std::size_t>(indent), kSpace);
            o += c;
            o += kLineFeed;
            o.append(static_cast<std::size_t>(indent), kSpace);
            --indentLevel;
            line.Clear();
            afterInlineClose = false;
            afterEmptyPair = false;
          }
          afterRightParen = true;
          afterArithmeticOperator = false;
          operandStart = false;
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
              o.append(static_cast<std::size_t>(indent), kSpace);
              o += c;
              line.Clear();
            } else if (afterInlineClose) {
              out.Append() += c;
            } else {
              // The closing parenthesis keeps its line; this text starts the next one.
              TextBuffer& o = out.Rebuild();
              o += kLineFeed;
              o.append(static_cast<std::size_t>(prevIndent), kSpace);
              o += u')';
              o += kLineFeed;
              o.append(static_cast<std::size_t>(indent), kSpace);
              o += c;
            }
          } else {
            out.Append() += c;
          }
          line.Append(c);
          afterRightParen = false;
          afterEmptyPair = false;
          if (!bFormatAllParens) afterArithmeticOperator = (FlagsOf(c) & kArithmetic) != 0;
          if (FlagsOf(c) & kOperator) operandStart = false;
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
  strIndent.assign(static_cast<std::size_t>(indent), kSpace);
  strPrevIndent.assign(static_cast<std::size_t>(prevIndent), kSpace);
  if (n >= 1) {
    strCurrentChar.assign(table.get(n, kCharColumn));
    strPrevChar.assign(n != 1 ? table.get(n - 1, kCharColumn) : std::u16string_view());
    strNextChar.assign(n != rowUpper ? table.get(n + 1, kCharColumn) : std::u16string_view());
  }
  return out.Take();
}

}  // namespace corvane
