#include "formatting/char_scan.h"

#include <algorithm>
#include <limits>

#include "addin/platform.h"

namespace corvane {

using namespace scan;

namespace {

// Scanning the text in place when the variant holds one spares a copy of the formula.
std::u16string_view TextOf(const Variant& value, std::u16string& converted) {
  if (value.isString()) return value.string();
  converted = ToText(value, Regional());
  return converted;
}

}  // namespace

Variant cls_corvane::PopulateCharArray(Variant& formulaArg, Variant& lengthArg) {
  // Error trap: whatever goes wrong, the caller gets no table and no error.
  try {
    std::u16string converted;
    const std::u16string_view text = TextOf(formulaArg, converted);
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

  // Pass 1: characters.
  StringTable table(1, length, 1, 4);
  for (iItem = 1; iItem <= length; ++iItem) table.setChar(iItem, kCharColumn, formula[iItem - 1]);
  const StringTable::Handle stringMark = table.Intern(kStringMark);
  const StringTable::Handle sheetMark = table.Intern(kSheetMark);

  // Pass 2: double quotes and string-literal text. Between two quotes nothing changes but
  // bPrevCharIsQuote, so each run of other characters is handled at once.
  bPrevCharIsQuote = false;
  strPrevQuoteType = kInitQuote;
  strPrevPrevQuoteType = kInitQuote;
  bInStringLiteral = false;
  for (iItem = 1; iItem <= length;) {
    const auto runEnd = static_cast<std::int32_t>(std::min(formula.find(kDoubleQuote, iItem - 1), formula.size()));
    if (runEnd >= iItem) {
      bPrevCharIsQuote = false;
      if (bInStringLiteral) table.fillInterned(iItem, runEnd, kStringMarkColumn, stringMark);
      iItem = runEnd + 1;
      continue;
    }
    // iItem is at a double quote.
    if (strPrevQuoteType == kEscapeQuote) {
      RecordQuoteType(kLiteralQuote, table, iItem, strPrevQuoteType, strPrevPrevQuoteType, bPrevCharIsQuote);
    } else {
      bNextCharIsQuote = iItem < length && formula[iItem] == kDoubleQuote;
      std::u16string_view type;
      if ((strPrevQuoteType == kInitQuote || strPrevQuoteType == kRightQuote) && !bPrevCharIsQuote) {
        type = kLeftQuote;
      } else if (strPrevQuoteType == kLeftQuote || strPrevQuoteType == kLiteralQuote) {
        type = bNextCharIsQuote ? kEscapeQuote : kRightQuote;
      }
      // A closing quote directly followed by a quote cannot arise: nothing is recorded then.
      if (!type.empty())
        RecordQuoteType(type, table, iItem, strPrevQuoteType, strPrevPrevQuoteType, bPrevCharIsQuote);
    }
    // Opening and escape quotes are not text of the literal; the literal quote is.
    if (bInStringLiteral &&
        !(bPrevCharIsQuote && (strPrevQuoteType == kLeftQuote || strPrevQuoteType == kEscapeQuote)))
      table.setInterned(iItem, kStringMarkColumn, stringMark);
    ++iItem;
  }

  // Pass 3: apostrophes of quoted sheet names. Between two apostrophes a name neither opens
  // nor ends, so each run of other characters is handled at once too.
  bPrevCharIsApostrophe = false;
  bInSheetName = false;
  bSheetNameEnded = false;
  strApostropheType.clear();
  for (iItem = 1; iItem <= length;) {
    const auto runEnd = static_cast<std::int32_t>(std::min(formula.find(kApostrophe, iItem - 1), formula.size()));
    if (runEnd >= iItem) {
      // The last character of the run sees the apostrophe after it, if any.
      bNextCharIsApostrophe = runEnd < length;
      bPrevCharIsApostrophe = false;
      if (bInSheetName) table.fillInterned(iItem, runEnd, kSheetMarkColumn, sheetMark);
      iItem = runEnd + 1;
      continue;
    }
    // iItem is at an apostrophe.
    bNextCharIsApostrophe = iItem < length && formula[iItem] == kApostrophe;
    if (table.get(iItem, kStringMarkColumn) != kStringMark) {
      if (!bPrevCharIsApostrophe) {
        if (strApostropheType == kSheetEndApostrophe) {
          strApostropheType = kSheetStartApostrophe;
          bInSheetName = true;
        } else if (bNextCharIsApostrophe) {
          strApostropheType = kSheetEscapeApostrophe;
        } else if (bInSheetName) {
          strApostropheType = kSheetEndApostrophe;
          bSheetNameEnded = true;
        } else {
          strApostropheType = kSheetStartApostrophe;
          bInSheetName = true;
        }
      } else if (strApostropheType == kSheetEscapeApostrophe) {
        strApostropheType = kSheetLiteralApostrophe;
      } else if (bNextCharIsApostrophe) {
        strApostropheType = kSheetEscapeApostrophe;
      }
    }
    bPrevCharIsApostrophe = true;
    if (bInSheetName || bSheetNameEnded) {
      table.setInterned(iItem, kSheetMarkColumn, sheetMark);
      if (bSheetNameEnded) {
        bInSheetName = false;
        bSheetNameEnded = false;
      }
    }
    ++iItem;
  }
  return table;
}

void cls_corvane::RecordQuoteType(std::u16string_view type, StringTable& table, std::int32_t item,
                                  std::u16string& prevType, std::u16string& prevPrevType, bool& prevIsQuote) {
  table.set(item, kQuoteClassColumn, type);
  prevPrevType = prevType;
  prevType = type;
  prevIsQuote = true;
  if (type == kLeftQuote) {
    bInStringLiteral = true;
  } else if (type == kRightQuote) {
    bInStringLiteral = false;
  }
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
  if (type == kLeftQuote) {
    bInStringLiteral = true;
  } else if (type == kRightQuote) {
    bInStringLiteral = false;
  }
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
