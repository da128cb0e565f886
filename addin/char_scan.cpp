#include "addin/char_scan.h"

#include <cstddef>
#include <limits>

#include "base/platform.h"

namespace corvane {

using namespace scan;

namespace {

// The position of the first unit in text[from, n) equal to `a` or `b`, or n.
std::size_t FindUnit(const char16_t* text, std::size_t from, std::size_t n, char16_t a, char16_t b) {
  std::size_t i = from;
  while (i < n && text[i] != a && text[i] != b) ++i;
  return i;
}

std::size_t FindUnit(const char16_t* text, std::size_t from, std::size_t n, char16_t target) {
  return FindUnit(text, from, n, target, target);
}

}  // namespace

Variant cls_corvane::PopulateCharArray(Variant& formulaArg, Variant& lengthArg) {
  // Error trap: whatever goes wrong, the caller gets no table and no error.
  try {
    std::u16string converted;
    const std::u16string_view text = TextView(formulaArg, Regional(), converted);
    const std::int32_t length = ToLong(lengthArg, Regional());
    return Variant(Scan(text, length));
  } catch (...) {
    return Variant();
  }
}

StringTable cls_corvane::Scan(std::u16string_view formula, std::int32_t length) {
  if (length < 1) throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
  // The last position must leave room for the counter to step past it.
  if (static_cast<std::size_t>(length) > formula.size() || length == std::numeric_limits<std::int32_t>::max())
    throw AutomationError(err::kInvalidProcedureCall, u"Invalid procedure call or argument");

  formula = formula.substr(0, static_cast<std::size_t>(length));
  const char16_t* const text = formula.data();
  const auto n = static_cast<std::size_t>(length);

  // Pass 1: characters.
  StringTable table(formula, kSheetMarkColumn);
  constexpr StringTable::Handle stringMark = StringTable::CommonHandle(kStringMark);
  constexpr StringTable::Handle sheetMark = StringTable::CommonHandle(kSheetMark);
  // Columns 2 to 4 by position (index 1 for row 1): every row 1..n exists, so the passes
  // write without checking each cell's bounds.
  StringTable::Handle* const quoteClasses = table.column(kQuoteClassColumn) - 1;
  StringTable::Handle* const stringMarks = table.column(kStringMarkColumn) - 1;
  StringTable::Handle* const sheetMarks = table.column(kSheetMarkColumn) - 1;
  // Marks rows from..to (inclusive).
  const auto mark = [](StringTable::Handle* marks, std::size_t from, std::size_t to, StringTable::Handle handle) {
    for (std::size_t r = from; r <= to; ++r) marks[r] = handle;
  };

  // Before the first quote or apostrophe the passes below change nothing: they start there.
  const std::size_t firstMark = FindUnit(text, 0, n, kDoubleQuote, kApostrophe) + 1;

  // Pass 2: double quotes and string-literal text. Between two quotes nothing changes but
  // whether the previous character was a quote, so each run of other characters is handled at once.
  enum Quote : std::uint8_t { kInit, kLeft, kRight, kEscape, kLiteral };
  static constexpr StringTable::Handle kQuoteHandle[] = {
      0, StringTable::CommonHandle(kLeftQuote), StringTable::CommonHandle(kRightQuote),
      StringTable::CommonHandle(kEscapeQuote), StringTable::CommonHandle(kLiteralQuote)};
  Quote prevType = kInit;
  bool prevIsQuote = false;
  bool nextIsQuote = false;
  bool inLiteral = false;
  const auto record = [&](Quote type, std::size_t item) {
    quoteClasses[item] = kQuoteHandle[type];
    prevType = type;
    prevIsQuote = true;
    if (type == kLeft) {
      inLiteral = true;
    } else if (type == kRight) {
      inLiteral = false;
    }
  };
  for (std::size_t i = firstMark; i <= n;) {
    const std::size_t runEnd = FindUnit(text, i - 1, n, kDoubleQuote);
    if (runEnd >= i) {
      prevIsQuote = false;
      if (inLiteral) mark(stringMarks, i, runEnd, stringMark);
      i = runEnd + 1;
      continue;
    }
    // i is at a double quote.
    if (prevType == kEscape) {
      record(kLiteral, i);
    } else {
      nextIsQuote = i < n && text[i] == kDoubleQuote;
      // A closing quote directly followed by a quote cannot arise: nothing is recorded then.
      if ((prevType == kInit || prevType == kRight) && !prevIsQuote) {
        record(kLeft, i);
      } else if (prevType == kLeft || prevType == kLiteral) {
        record(nextIsQuote ? kEscape : kRight, i);
      }
    }
    // Opening and escape quotes are not text of the literal; the literal quote is.
    if (inLiteral && !(prevIsQuote && (prevType == kLeft || prevType == kEscape)))
      stringMarks[i] = stringMark;
    ++i;
  }

  // Pass 3: apostrophes of quoted sheet names. Between two apostrophes a name neither opens
  // nor ends, so each run of other characters is handled at once too.
  enum Apostrophe : std::uint8_t { kNone, kStart, kEscapeApostrophe, kLiteralApostrophe, kEnd };
  Apostrophe type = kNone;
  bool prevIsApostrophe = false;
  bool nextIsApostrophe = false;
  bool inSheetName = false;
  bool sheetNameEnded = false;
  for (std::size_t i = firstMark; i <= n;) {
    const std::size_t runEnd = FindUnit(text, i - 1, n, kApostrophe);
    if (runEnd >= i) {
      // The last character of the run sees the apostrophe after it, if any.
      nextIsApostrophe = runEnd < n;
      prevIsApostrophe = false;
      if (inSheetName) mark(sheetMarks, i, runEnd, sheetMark);
      i = runEnd + 1;
      continue;
    }
    // i is at an apostrophe.
    nextIsApostrophe = i < n && text[i] == kApostrophe;
    if (stringMarks[i] != stringMark) {
      if (!prevIsApostrophe) {
        if (type == kEnd) {
          type = kStart;
          inSheetName = true;
        } else if (nextIsApostrophe) {
          type = kEscapeApostrophe;
        } else if (inSheetName) {
          type = kEnd;
          sheetNameEnded = true;
        } else {
          type = kStart;
          inSheetName = true;
        }
      } else if (type == kEscapeApostrophe) {
        type = kLiteralApostrophe;
      } else if (nextIsApostrophe) {
        type = kEscapeApostrophe;
      }
    }
    prevIsApostrophe = true;
    if (inSheetName || sheetNameEnded) {
      sheetMarks[i] = sheetMark;
      if (sheetNameEnded) {
        inSheetName = false;
        sheetNameEnded = false;
      }
    }
    ++i;
  }
  return table;
}

void cls_corvane::SetQuoteType(Variant& typeArg, Variant& tableArg, Variant& itemArg, Variant& prevTypeArg,
                               Variant& prevPrevTypeArg, Variant& prevIsQuoteArg) {
  // Copied first: a caller may pass one variable for several arguments.
  const std::u16string type = ToText(typeArg, Regional());
  const std::int32_t row = ToLong(itemArg, Regional());
  tableArg.table().set(row, kQuoteClassColumn, type);
  prevPrevTypeArg = prevTypeArg;
  prevTypeArg = Variant(type);
  prevIsQuoteArg = Variant(true);
}

ParenCheck cls_corvane::CheckChar(Variant& itemArg, Variant& tableArg) {
  const StringTable& table = tableArg.table();
  return CheckCharAt(ToLong(itemArg, Regional()), table);
}

ParenCheck cls_corvane::CheckCharAt(std::int32_t item, const StringTable& table) const {
  ParenCheck check;
  check.strCurrentChar = table.at(item, kCharColumn);
  if (item != 1) check.strPrevChar = table.at(item - 1, kCharColumn);
  if (item != table.rowUpper()) check.strNextChar = table.at(item + 1, kCharColumn);
  const bool inLiteral = table.at(item, kStringMarkColumn) == kStringMark;

  if (check.strCurrentChar == strListSeparator) {
    check.bIsNotParen = true;
    if (inLiteral) {
      check.bIsStringLiteral = true;
    } else {
      check.bIsArgSeparator = true;
    }
  } else if (check.strCurrentChar != u"(" && check.strCurrentChar != u")") {
    check.bIsNotParen = true;
  } else if (inLiteral) {
    check.bIsStringLiteral = true;
  } else if (check.strCurrentChar == u"(") {
    check.bIsLeftParen = true;
    check.bIsEmptyParens = check.strNextChar == u")";
  } else {
    check.bIsRightParen = true;
    check.bIsEmptyParens = check.strPrevChar == u"(";
  }
  return check;
}

}  // namespace corvane
