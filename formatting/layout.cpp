#include "formatting/layout.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/automation.h"
#include "base/platform.h"
#include "formatting/lexer.h"

namespace corvane {

namespace layout {

namespace {

constexpr char16_t kLineFeed = u'\n';
constexpr char16_t kSpace = u' ';

// Per ASCII character: can it be syntax or start a literal, name or array constant (see
// lexer.h), is it one of the arithmetic operators + - * / ^, is it an operator at all (those and
// < > =).
constexpr std::uint8_t kStructural = 1;
constexpr std::uint8_t kArithmetic = 2;
constexpr std::uint8_t kOperator = 4;
constexpr auto kCharFlags = [] {
  std::array<std::uint8_t, 128> flags{};
  for (const char c : {'(', ')', '[', '"', '\'', '{'}) flags[static_cast<unsigned char>(c)] = kStructural;
  for (const char c : {'+', '-', '*', '/', '^'}) flags[static_cast<unsigned char>(c)] = kArithmetic | kOperator;
  for (const char c : {'<', '>', '='}) flags[static_cast<unsigned char>(c)] = kOperator;
  return flags;
}();

std::uint8_t FlagsOf(char16_t c) { return c < kCharFlags.size() ? kCharFlags[c] : 0; }

// A count of indentation spaces; a negative one fails as making that many spaces would.
std::int32_t SpaceCount(double width) {
  const std::int32_t count = RoundToLong(width);
  if (count < 0) throw AutomationError(err::kInvalidProcedureCall, u"Invalid procedure call or argument");
  return count;
}

// A line break and the indentation of the next line.
void AppendBreak(std::u16string& text, std::int32_t indent) {
  text += kLineFeed;
  text.append(static_cast<std::size_t>(indent), kSpace);
}

// The laid-out text. A level's ")" ends its output with a line break and the indentation of
// what follows, which stand only until the next character: a separator, a parenthesis or an
// intersection joins the ")" line instead, and another level's ")" takes a line of its own right
// below, so they are held back until then.
class Output {
 public:
  explicit Output(std::size_t expected) { text_.reserve(expected); }

  // Where a turn that starts a fresh line after a level's ")" (or continues a line) writes.
  std::u16string& Text() {
    if (pending_) {
      AppendBreak(text_, *pending_);
      pending_.reset();
    }
    return text_;
  }

  // A level's ")" on a line of its own, and the indentation of the line after it.
  void CloseLevel(std::int32_t indent) {
    pending_.reset();
    AppendBreak(text_, indent);
    text_ += u')';
    pending_ = indent;
  }

  // A turn that continues the line of the level's ")" just written.
  std::u16string& Reopen() {
    pending_.reset();
    return text_;
  }

  std::u16string Take() {
    Text();
    return std::move(text_);
  }

 private:
  std::u16string text_;
  std::optional<std::int32_t> pending_;  // the break after a level's ")" not yet written
};

// The text of the current line since its last break, and its width when asked. For the text
// file only its length counts. For the cell a measurement sums from where the last one of the
// same line stopped (an inline group measures its line again and again), in order, so that the
// sum is the very number that summing the whole line gives.
class Line {
 public:
  Line(const Options& options, const spacing::Widths& widths)
      : textFile_(options.destination == Destination::TextFile), options_(options), widths_(widths) {}

  void Append(std::u16string_view s) {
    if (textFile_) {
      length_ += s.size();
    } else {
      text_ += s;
    }
  }
  void AppendSpaces(std::int32_t count) {
    if (textFile_) {
      length_ += static_cast<std::size_t>(count);
    } else {
      text_.append(static_cast<std::size_t>(count), kSpace);
    }
  }
  void Clear() {
    length_ = 0;
    text_.clear();
    summed_ = 0;
    sum_ = 0.0;
  }

  // The width of the line with `extra` after it (not kept).
  double Width(std::u16string_view extra = {}) {
    if (textFile_) return static_cast<double>(static_cast<std::int32_t>(length_ + extra.size()));
    // After a code that ends the sum, nothing more is added.
    summed_ += widths_.Sum(std::u16string_view(text_).substr(summed_), sum_);
    double width = sum_;
    char16_t stop = 0;
    if (summed_ < text_.size()) {
      stop = text_[summed_];
    } else if (const std::size_t k = widths_.Sum(extra, width); k < extra.size()) {
      stop = extra[k];
    }
    if (stop < spacing::kFirstSpecialCode || !options_.specialLine) return width;
    return extra.empty() ? options_.specialLine(text_) : options_.specialLine(text_ + std::u16string(extra));
  }

 private:
  bool textFile_;
  const Options& options_;
  const spacing::Widths& widths_;
  std::size_t length_ = 0;  // the text file's line
  std::u16string text_;     // the cell's line
  std::size_t summed_ = 0;  // how much of text_ sum_ holds
  double sum_ = 0.0;
};

// One open parenthesis: whether it opened a level (or is half of an empty pair), or else was
// kept inline, with the width of its line before it, under which its ")" goes should that
// begin a line.
struct OpenParen {
  bool level;
  double width;
};

// One open level, as clang-format's ParenState is: the position to which the lines inside it
// are indented.
struct ParenState {
  double width;   // what the level adds: the width of its opening line through afterParen
  double indent;  // the enclosing level's indent plus `width`, summed from the outermost level
  bool let = false;             // a LET, whose names share their values' lines when they fit
  std::int32_t separators = 0;  // of the level itself so far: a LET's even ones follow a name
};

constexpr std::uint32_t kNoPartner = 0x7FFFFFFF;
constexpr std::uint32_t kLetBit = 0x80000000;

// What a fitted layout asks of the whole formula before it starts, from the lexer: each "(" 's
// partner ")" and whether it opens a LET; and, for the cell, the running sum of the widths at
// every parenthesis and separator and right after it (the only places a stretch to measure
// starts or ends), so that whether a stretch fits is known without summing it again at every
// level it is in. Nothing else of the sums is written or read.
// Its lists are the caller's when it keeps some (FitLists).
struct FitPlan {
  FitLists own;  // when the caller keeps none
  FitLists& lists;
  std::vector<std::uint32_t>& partner = lists.partner;    // at each "(": its ")" or kNoPartner, and kLetBit
  std::vector<double>& sum = lists.sum;                   // the widths before the position (cell)
  std::vector<std::uint32_t>& unsummed = lists.unsummed;  // how many special or uncalibrated codes before it
  double limit = 0.0;

  FitPlan(const FitPlan&) = delete;
  FitPlan& operator=(const FitPlan&) = delete;
  FitPlan(FitPlan&&) = delete;
  FitPlan& operator=(FitPlan&&) = delete;

  FitPlan(std::u16string_view formula, const Options& options, const spacing::Widths& widths, char32_t separator,
          FitLists* given)
      : lists(given ? *given : own) {
    partner.assign(formula.size(), kNoPartner);
    std::vector<lex::Span>& spans = lists.spans;
    lex::Lex(formula, options.listSeparator, spans);
    std::vector<std::uint32_t>& open = lists.open;
    open.clear();
    bool inArray = false;  // its parentheses are values, as the layout reads it
    for (std::size_t k = 0; k < spans.size(); ++k) {
      const lex::Span& span = spans[k];
      if (span.kind == lex::Kind::ArrayOpen || span.kind == lex::Kind::ArrayClose) {
        inArray = span.kind == lex::Kind::ArrayOpen;
      } else if (inArray) {
        continue;
      } else if (span.kind == lex::Kind::OpenParen) {
        open.push_back(span.begin);
        const bool let = k > 0 && spans[k - 1].kind == lex::Kind::Text &&
                         IsLet(formula.substr(spans[k - 1].begin, span.begin - spans[k - 1].begin));
        partner[span.begin] = kNoPartner | (let ? kLetBit : 0);
      } else if (span.kind == lex::Kind::CloseParen && !open.empty()) {
        partner[open.back()] = (partner[open.back()] & kLetBit) | span.begin;
        open.pop_back();
      }
    }
    const bool textFile = options.destination == Destination::TextFile;
    double zero = 0.0;
    // The text file counts characters; an uncalibrated "0" counts as a space.
    if (textFile || widths.Sum(u"0", zero) == 0) zero = 1.0;
    limit = options.fitWidth * zero;
    if (textFile) return;
    const std::size_t n = formula.size();
    sum.resize(n + 1);  // only the places written below are read
    unsummed.resize(n + 1);
    double total = 0.0;
    std::uint32_t gaps = 0;
    const auto add = [&](std::size_t from, std::size_t to) {
      while (from < to) {
        from += widths.Sum(formula.substr(from, to - from), total);
        if (from < to) ++gaps, ++from;
      }
    };
    sum[0] = 0.0;
    unsummed[0] = 0;
    for (std::size_t k = 0; k < n;) {
      std::size_t end = k;
      while (end < n && formula[end] != u'(' && formula[end] != u')' && formula[end] != separator) ++end;
      add(k, end);
      sum[end] = total;
      unsummed[end] = gaps;
      if (end == n) break;
      add(end, end + 1);
      sum[end + 1] = total;
      unsummed[end + 1] = gaps;
      k = end + 1;
    }
  }

  std::size_t Partner(std::size_t at) const { return partner[at] & ~kLetBit; }
  bool Let(std::size_t at) const { return (partner[at] & kLetBit) != 0; }

  // The function's name as the formula has it, or as a file stores it.
  static bool IsLet(std::u16string_view name) { return SameLetters(name, u"let") || SameLetters(name, u"_xlfn.let"); }

  // Whether `text` is `lower` but for the case of its ASCII letters.
  static bool SameLetters(std::u16string_view text, std::u16string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t k = 0; k < text.size(); ++k) {
      const char16_t c = text[k];
      if (c != lower[k] && !(c >= u'A' && c <= u'Z' && c + (u'a' - u'A') == lower[k])) return false;
    }
    return true;
  }
};

// A layout on its way through the formula: one turn per character, but a run of characters
// that can only be ordinary where they stand takes one step.
class Layouter {
 public:
  Layouter(std::u16string_view formula, bool closeFollows, const Options& options, const spacing::Widths& widths,
           FitLists* lists)
      : formula_(formula),
        closeFollows_(closeFollows),
        options_(options),
        widths_(widths),
        // A one-unit separator; no single character can equal a longer one.
        separator_(options.listSeparator.size() == 1 ? options.listSeparator[0] : char32_t{0x110000}),
        out_(formula.size() * 2 + 16),
        line_(options, widths) {
    if (options.fitWidth > 0) plan_ = std::make_unique<FitPlan>(formula, options, widths, separator_, lists);
  }

  std::u16string Run() {
    const std::size_t n = formula_.size();
    for (std::size_t at = 0; at < n; ++at) {
      // Every character of a literal or name after its first is ordinary, and so is every
      // character that can be neither syntax nor the start of a name: a run of them is taken at
      // once, each appending itself to the output and the line. After a ")" the next character
      // takes its own turn.
      if (!afterRightParen_) {
        const std::size_t runEnd = at < nameEnd_ ? nameEnd_ : OrdinaryRunEnd(at);
        if (runEnd > at) {
          const std::u16string_view run = formula_.substr(at, runEnd - at);
          out_.Text() += run;
          line_.Append(run);
          if (runEnd == n) break;
          at = runEnd;
        }
      }
      at = Turn(at);
    }
    return out_.Take();
  }

 private:
  std::size_t OrdinaryRunEnd(std::size_t at) const {
    std::size_t k = at;
    while (k < formula_.size() && formula_[k] != separator_ && (FlagsOf(formula_[k]) & kStructural) == 0) ++k;
    return k;
  }

  // Returns the last position the turn took.
  std::size_t Turn(std::size_t at) {
    const char16_t c = formula_[at];
    // A literal, name or array constant is met at its first character, and the lexer tells where
    // it ends: its separators part values, not arguments. Outside them the character alone tells
    // its kind: the separator before parentheses.
    if (at >= nameEnd_ && lex::StartsName(c)) {
      bool unclosed = false;
      nameEnd_ = lex::NameEnd(formula_, at, unclosed);
    } else if (at >= nameEnd_ && c == u'{') {
      nameEnd_ = lex::ArrayEnd(formula_, at);
    }
    const bool afterLevelClose = afterRightParen_ && !afterEmptyPair_ && !afterInlineClose_;
    if (at < nameEnd_) {
      Other(c);
    } else if (c == kSpace && (afterLevelClose || (afterRightParen_ && afterEmptyPair_)) && Intersection(at)) {
      return Intersect(at, afterLevelClose);
    } else if (c == separator_) {
      Separator(at, afterLevelClose);
    } else if (c == u'(') {
      Open(at, afterLevelClose);
    } else if (c == u')') {
      Close(at);
    } else {
      Other(c);
    }
    return at;
  }

  std::int32_t LevelIndent() const { return SpaceCount(levels_.empty() ? 0.0 : levels_.back().indent); }

  // The line measures from the current level's indentation; a line that starts elsewhere (the
  // line of a level's ")", an inline ")" under its "(") holds the difference as spaces first.
  void StartLineAt(std::int32_t column, std::u16string_view text) {
    line_.Clear();
    line_.AppendSpaces(std::max(column - LevelIndent(), 0));
    line_.Append(text);
  }

  // Whether the spaces from `at` on are an intersection operator.
  bool Intersection(std::size_t at) const {
    std::size_t end = at;
    while (end < formula_.size() && formula_[end] == kSpace) ++end;
    return lex::IsIntersection(formula_, at, end);
  }

  // An intersection right after a ")" stays on its line with the operand after it: at the start
  // of a line it would read as indentation.
  std::size_t Intersect(std::size_t at, bool afterLevelClose) {
    std::size_t end = at;
    while (end < formula_.size() && formula_[end] == kSpace) ++end;
    const std::u16string_view run = formula_.substr(at, end - at);
    if (afterLevelClose) {
      out_.Reopen() += run;
      StartLineAt(indent_, u")");
    } else {
      out_.Text() += run;
    }
    line_.Append(run);
    afterRightParen_ = false;
    afterEmptyPair_ = false;
    return end - 1;
  }

  void Separator(std::size_t at, bool afterLevelClose) {
    indent_ = LevelIndent();
    // After a level's ")" the separator joins its line.
    std::u16string& o = afterLevelClose ? out_.Reopen() : out_.Text();
    o += formula_[at];
    if (LetNameFitsWithValue(at, afterLevelClose)) {
      line_.Append(formula_.substr(at, 1));
      // The space that parts a name from its value, unless the formula has its own.
      if (at + 1 < formula_.size() && formula_[at + 1] != kSpace) {
        o += kSpace;
        line_.AppendSpaces(1);
      }
    } else {
      AppendBreak(o, indent_);
      line_.Clear();
    }
    afterRightParen_ = false;
    afterEmptyPair_ = false;
    operandFrom_ = at + 2;
    lastStructural_ = at + 1;
  }

  void Open(std::size_t at, bool afterLevelClose) {
    const std::size_t i = at + 1;
    const std::u16string_view paren = formula_.substr(at, 1);
    parens_.push_back({true, 0.0});
    if (afterLevelClose) {
      // Right after a level's ")" (a function called on the spot): on that line, where a break
      // could read as an intersection, and measured from where it stands.
      out_.Reopen() += paren;
      StartLineAt(indent_, u")");
    } else {
      out_.Text() += paren;
    }
    // After an arithmetic operator that took an ordinary turn.
    const bool afterArithmetic = !options_.allParens && i >= 2 && lastStructural_ != i - 1 &&
                                 (FlagsOf(formula_[at - 1]) & kArithmetic) != 0;
    const bool emptyPair = at + 1 < formula_.size() ? formula_[at + 1] == u')' : closeFollows_;
    if ((afterArithmetic || openInline_ > 0) && !OperandStart(i)) {
      // Its ")" may have to go under it: measured from the start of the output line. One that
      // fits keeps its separators on the line too.
      if (plan_ && FitsOnLine(at, TailEnd(plan_->Partner(at)), false)) nameEnd_ = plan_->Partner(at);
      parens_.back() = {false, LevelIndent() + line_.Width()};
      line_.Append(paren);
      ++openInline_;
    } else if (emptyPair) {
      // What follows a pair that fits with it stays on the line, as after an inline group.
      emptyPairFits_ = plan_ && FitsOnLine(at, TailEnd(at + 1), false);
      line_.Append(paren);
    } else if (plan_ && FitsOnLine(at, TailEnd(plan_->Partner(at)), false)) {
      // The level fits: its text is written as it stands, and its ")" closes an inline group.
      parens_.back() = {false, LevelIndent() + line_.Width()};
      line_.Append(paren);
      ++openInline_;
      nameEnd_ = plan_->Partner(at);
    } else {
      line_.Append(paren);
      const double width = line_.Width(options_.afterParen);
      levels_.push_back({width, (levels_.empty() ? 0.0 : levels_.back().indent) + width, plan_ && plan_->Let(at)});
      indent_ = LevelIndent();
      AppendBreak(out_.Text(), indent_);
      line_.Clear();
    }
    afterRightParen_ = false;
    afterEmptyPair_ = false;
    operandFrom_ = i + 1;
    lastStructural_ = i;
  }

  void Close(std::size_t at) {
    const std::u16string_view paren = formula_.substr(at, 1);
    // Nothing to close: the bottom of the parenthesis stack may not be taken.
    if (parens_.empty()) throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
    const OpenParen top = parens_.back();
    if (at >= 1 && formula_[at - 1] == u'(') {
      // The second half of an empty pair.
      out_.Text() += paren;
      line_.Append(paren);
      if (!top.level) --openInline_;
      afterEmptyPair_ = !emptyPairFits_;
      afterInlineClose_ = afterInlineClose_ || emptyPairFits_;
      emptyPairFits_ = false;
    } else if (!top.level) {
      std::u16string& o = out_.Text();
      const std::size_t keep = o.find_last_not_of(kSpace) + 1;  // 0 when all are spaces
      o.resize(keep);
      if (keep > 0 && o.back() == kLineFeed) {
        // It would begin a line: it goes under its opening parenthesis.
        indent_ = SpaceCount(top.width);
        o.append(static_cast<std::size_t>(indent_), kSpace);
        o += paren;
        StartLineAt(indent_, paren);
      } else {
        o += paren;
        line_.Append(paren);
      }
      --openInline_;
      afterInlineClose_ = true;
      afterEmptyPair_ = false;
    } else {
      if (levels_.empty()) throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
      if (!parenWidthKnown_) {
        parenWidth_ = widths_.At(u'(') + static_cast<double>(options_.afterParen.size());
        parenWidthKnown_ = true;
      }
      // The ")" goes under its "(": the level's width without the parenthesis and the room after it.
      const double enclosing = levels_.size() >= 2 ? levels_[levels_.size() - 2].indent : 0.0;
      indent_ = SpaceCount(enclosing + (levels_.back().width - parenWidth_));
      levels_.pop_back();
      out_.CloseLevel(indent_);
      line_.Clear();
      afterInlineClose_ = false;
      afterEmptyPair_ = false;
    }
    afterRightParen_ = true;
    operandFrom_ = 0;
    lastStructural_ = at + 1;
    parens_.pop_back();
  }

  void Other(char16_t c) {
    if (afterRightParen_) {
      indent_ = LevelIndent();
      if (afterEmptyPair_) {
        std::u16string& o = out_.Text();
        AppendBreak(o, indent_);
        o += c;
        line_.Clear();
      } else if (afterInlineClose_) {
        out_.Text() += c;
      } else {
        // The level's ")" keeps its line; this text starts the next one.
        std::u16string& o = out_.Reopen();
        AppendBreak(o, indent_);
        o += c;
      }
    } else {
      out_.Text() += c;
    }
    line_.Append(std::u16string_view(&c, 1));
    afterRightParen_ = false;
    afterEmptyPair_ = false;
  }

  // Whether formula_[from, to), with a space after its first character when `space`, fits on the
  // current line. A stretch without a partner never fits (to is then past the end).
  bool FitsOnLine(std::size_t from, std::size_t to, bool space) {
    if (to > formula_.size()) return false;
    const double column = LevelIndent();
    if (options_.destination == Destination::TextFile)
      return column + line_.Width() + static_cast<double>(to - from) + (space ? 1.0 : 0.0) <= plan_->limit;
    if (plan_->unsummed[to] == plan_->unsummed[from]) {
      double stretch = plan_->sum[to] - plan_->sum[from];
      if (space) widths_.Sum(u" ", stretch);
      return column + line_.Width() + stretch <= plan_->limit + 1e-9;
    }
    std::u16string text(formula_.substr(from, to - from));
    if (space) text.insert(1, 1, kSpace);
    return column + line_.Width(text) <= plan_->limit + 1e-9;
  }

  // Where the text that stays on the line after the ")" at `close` of the "(" just pushed ends:
  // through the next separator or "(" that opens a level, before the ")" of the enclosing level.
  // Inline groups, and the ends of those it stands in, are followed as Open and Close keep them;
  // past the end when `close` is no partner.
  std::size_t TailEnd(std::size_t close) const {
    if (close == kNoPartner) return SIZE_MAX;
    const std::size_t n = formula_.size();
    std::int32_t depth = 0;
    std::size_t enclosing = parens_.size() - 1;  // the open parentheses around the tail
    std::int32_t openInline = openInline_;
    bool operandStart = false;
    for (std::size_t k = close + 1; k < n;) {
      const char16_t c = formula_[k];
      bool unclosed = false;
      if (lex::StartsName(c)) {
        k = lex::NameEnd(formula_, k, unclosed);
        continue;
      }
      if (c == u'{') {
        k = lex::ArrayEnd(formula_, k);
        continue;
      }
      if (c == separator_) return k + 1;
      if (c == u'(') {
        if (k + 1 < n && formula_[k + 1] == u')') {
          k += 2;
          continue;
        }
        const bool afterArithmetic = !options_.allParens && (FlagsOf(formula_[k - 1]) & kArithmetic) != 0;
        if (!((afterArithmetic || depth > 0 || openInline > 0) && !operandStart)) return k + 1;
        ++depth;
        operandStart = true;
      } else if (c == u')') {
        if (depth == 0) {
          if (enclosing == 0 || parens_[enclosing - 1].level) return k;
          --enclosing;
          --openInline;
        } else {
          --depth;
        }
        operandStart = false;
      } else if ((FlagsOf(c) & kOperator) != 0) {
        operandStart = false;
      }
      ++k;
    }
    return n;
  }

  // Whether the separator at `at` ends a name of a broken LET level whose value, through the
  // separator after it, fits on the name's line. Counts the level's separators, also those after
  // a level's ")", which no name ends with.
  bool LetNameFitsWithValue(std::size_t at, bool afterLevelClose) {
    if (!plan_ || levels_.empty() || parens_.empty() || !parens_.back().level || !levels_.back().let) return false;
    if (levels_.back().separators++ % 2 != 0 || afterLevelClose) return false;
    // The value's end: the level's next separator; a value that ends the LET is its body.
    std::size_t k = at + 1;
    while (k < formula_.size() && formula_[k] != separator_ && formula_[k] != u')') {
      bool unclosed = false;
      if (lex::StartsName(formula_[k])) {
        k = lex::NameEnd(formula_, k, unclosed);
      } else if (formula_[k] == u'{') {
        k = lex::ArrayEnd(formula_, k);
      } else if (formula_[k] == u'(' && plan_->Partner(k) != kNoPartner) {
        k = plan_->Partner(k) + 1;
      } else {
        ++k;
      }
    }
    if (k >= formula_.size() || formula_[k] != separator_) return false;
    const bool space = at + 1 < formula_.size() && formula_[at + 1] != kSpace;
    return FitsOnLine(at, k + 1, space);
  }

  // Whether the layout is still at the start of an operand at position `i` (1-based): one began
  // at operandFrom_ (0: none) and no operator stands from there up to `i`. Each operand's
  // characters are looked at once at most, since every "(" starts a new one.
  bool OperandStart(std::size_t i) const {
    if (operandFrom_ < 1) return false;
    for (std::size_t k = operandFrom_; k < i; ++k)
      if ((FlagsOf(formula_[k - 1]) & kOperator) != 0) return false;
    return true;
  }

  const std::u16string_view formula_;
  const bool closeFollows_;  // a ")" stands after the formula, for a "(" at its end
  const Options& options_;
  const spacing::Widths& widths_;
  const char32_t separator_;
  Output out_;
  Line line_;
  std::vector<OpenParen> parens_;
  std::vector<ParenState> levels_;  // the open levels, the innermost last
  std::size_t nameEnd_ = 0;  // the end of the last literal or name met (0-based, exclusive)
  std::int32_t openInline_ = 0;
  std::int32_t indent_ = 0;
  bool afterRightParen_ = false;
  bool afterEmptyPair_ = false;
  bool afterInlineClose_ = false;
  std::size_t lastStructural_ = 0;  // the position of the last separator or parenthesis turn
  // Where the current operand began (just after a separator or an opening parenthesis), or 0
  // when the layout is not at the start of one.
  std::size_t operandFrom_ = 0;
  bool parenWidthKnown_ = false;
  double parenWidth_ = 0.0;  // the width of "(" and afterParen
  std::unique_ptr<const FitPlan> plan_;  // with a fit width only
  bool emptyPairFits_ = false;
};

}  // namespace

std::u16string Layout(std::u16string_view formula, const Options& options, const spacing::Widths& widths,
                      FitLists* lists, bool closeFollows) {
  return Layouter(formula, closeFollows, options, widths, lists).Run();
}

}  // namespace layout

}  // namespace corvane
