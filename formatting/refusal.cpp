#include "formatting/refusal.h"

#include <cstdint>
#include <vector>

#include "base/automation.h"
#include "base/unit_scan.h"
#include "formatting/lexer.h"

namespace corvane::refusal {

namespace {

constexpr std::int64_t kLastColumn = 16384;   // XFD
constexpr std::int64_t kLastRow = 1048576;

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - (u'a' - u'A')) : c; }

enum class Whole : std::uint8_t { None, Column, Row };

// Whether one end of a range names a whole column ($?letters) or a whole row ($?digits).
Whole WholeEnd(std::u16string_view text) {
  if (!text.empty() && text.front() == u'$') text.remove_prefix(1);
  if (text.empty() || text.size() > 7) return Whole::None;
  std::int64_t value = 0;
  if (IsDigit(text.front())) {
    for (const char16_t c : text) {
      if (!IsDigit(c)) return Whole::None;
      value = value * 10 + (c - u'0');
    }
    return value >= 1 && value <= kLastRow ? Whole::Row : Whole::None;
  }
  for (const char16_t c : text) {
    if (Upper(c) < u'A' || Upper(c) > u'Z') return Whole::None;
    value = value * 26 + (Upper(c) - u'A' + 1);
  }
  return value <= kLastColumn ? Whole::Column : Whole::None;
}

bool HasBreak(std::u16string_view text) { return text.find_first_of(u"\n\r") != std::u16string_view::npos; }

bool IsReferenceLetter(char16_t c) { return c == u'$' || IsDigit(c) || (Upper(c) >= u'A' && Upper(c) <= u'Z'); }

// Whether some ":" has right before it a whole column's or row's end that a line break precedes.
// Every break refusal has that shape, and a laid-out text (all breaks) is checked for every
// cell, so the lexer is asked only when one is there.
bool MayBreakBeforeRange(std::u16string_view text) {
  for (std::size_t colon = scan::Find(text, u':', 0); colon != std::u16string_view::npos;
       colon = scan::Find(text, u':', colon + 1)) {
    std::size_t k = colon;
    while (k > 0 && colon - k < 8 && IsReferenceLetter(text[k - 1])) --k;
    if (k == colon || WholeEnd(text.substr(k, colon - k)) == Whole::None) continue;
    for (; k > 0 && lex::IsWhitespace(text[k - 1]); --k)
      if (text[k - 1] == u'\n' || text[k - 1] == u'\r') return true;
  }
  return false;
}

}  // namespace

std::optional<std::u16string> LengthRefusal(std::size_t length, std::size_t lengthLimit) {
  if (length <= lengthLimit) return std::nullopt;
  return u"the formula is longer than the " + DecimalKey(static_cast<std::int64_t>(lengthLimit)) +
         u" characters this version allows";
}

std::optional<std::u16string> NestingRefusal(std::u16string_view formula, std::u16string_view separator) {
  // Calls cannot nest deeper than the text has opening parentheses: most formulas end here.
  if (scan::Count(formula, u'(') <= kMaxFunctionNesting)
    return std::nullopt;
  std::vector<bool> open;  // each open parenthesis: whether it is a call's
  std::size_t calls = 0;
  const std::vector<lex::Span> spans = lex::Lex(formula, separator);
  for (std::size_t k = 0; k < spans.size(); ++k) {
    if (spans[k].kind == lex::Kind::OpenParen) {
      // The lexer's text right before it is the function's name.
      const bool call = k > 0 && spans[k - 1].kind == lex::Kind::Text;
      open.push_back(call);
      if (call && ++calls > kMaxFunctionNesting)
        return u"the formula nests functions more than " + DecimalKey(static_cast<std::int64_t>(kMaxFunctionNesting)) +
               u" levels deep";
    } else if (spans[k].kind == lex::Kind::CloseParen && !open.empty()) {
      calls -= open.back() ? 1 : 0;
      open.pop_back();
    }
  }
  return std::nullopt;
}

std::optional<std::u16string> BreakRefusal(std::u16string_view formula, std::u16string_view separator) {
  if (!MayBreakBeforeRange(formula)) return std::nullopt;
  const std::vector<lex::Span> spans = lex::Lex(formula, separator);
  const auto text = [&](const lex::Span& s) { return formula.substr(s.begin, s.end - s.begin); };
  for (std::size_t k = 0; k + 3 < spans.size(); ++k) {
    const lex::Span &space = spans[k], &from = spans[k + 1], &colon = spans[k + 2], &to = spans[k + 3];
    if (space.kind != lex::Kind::Whitespace || from.kind != lex::Kind::Text || colon.kind != lex::Kind::Operator ||
        to.kind != lex::Kind::Text || text(colon) != u":" || !HasBreak(text(space)))
      continue;
    const Whole whole = WholeEnd(text(from));
    if (whole != Whole::None && whole == WholeEnd(text(to)))
      return u"the formula has a line break right before the whole-" +
             std::u16string(whole == Whole::Column ? u"column" : u"row") + u" reference " +
             std::u16string(formula.substr(from.begin, to.end - from.begin));
  }
  return std::nullopt;
}

std::optional<std::u16string> Refusal(std::u16string_view formula, std::u16string_view separator,
                                      std::size_t lengthLimit) {
  if (auto why = LengthRefusal(formula.size(), lengthLimit)) return why;
  if (auto why = NestingRefusal(formula, separator)) return why;
  return BreakRefusal(formula, separator);
}

std::u16string Sentence(std::u16string clause) {
  if (!clause.empty()) clause.front() = Upper(clause.front());
  return clause + u'.';
}

}  // namespace corvane::refusal
