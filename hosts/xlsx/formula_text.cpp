#include "hosts/xlsx/formula_text.h"

#include <algorithm>
#include <map>
#include <vector>

#include "formatting/lexer.h"
#include "formatting/refusal.h"

namespace corvane::xlsx {

namespace {

enum class Tok : std::uint8_t { Literal, SheetName, Bracket, BraceOpen, BraceClose, Name, Number, Other };

struct Token {
  Tok kind;
  std::size_t begin;
  std::size_t end;
  bool open = false;  // a literal, quoted name or bracket that the text never closes
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// Characters of names, functions and references (the "$" of absolute references included).
bool IsNameChar(char16_t c) {
  return IsLetter(c) || IsDigit(c) || c == u'_' || c == u'.' || c == u'\\' || c == u'?' || c == u'$' ||
         (c >= 0x80 && c != 0xA0 && c != 0x3000);
}

// Splits a formula into the pieces the conversions care about: literals and names as the lexer
// (formatting/lexer.h) gives them, the rest in this dialect's terms. Numbers are recognised with
// the given decimal separator; digits after name characters belong to the name (A1, LOG10).
// Inside braces `braceSeparator` always separates, even where it could belong to a name (".").
std::vector<Token> Lex(std::u16string_view s, char16_t decimal, char16_t braceSeparator = 0) {
  std::vector<Token> tokens;
  const std::size_t n = s.size();
  std::size_t i = 0;
  bool inBraces = false;
  while (i < n) {
    const char16_t c = s[i];
    if (lex::StartsName(c)) {
      // Literals, quoted names and brackets as the rest of the program reads them.
      bool unclosed = false;
      const std::size_t end = lex::NameEnd(s, i, unclosed);
      tokens.push_back({c == u'"' ? Tok::Literal : c == u'[' ? Tok::Bracket : Tok::SheetName, i, end, unclosed});
      i = end;
    } else if (c == u'{' || c == u'}') {
      inBraces = c == u'{';
      tokens.push_back({c == u'{' ? Tok::BraceOpen : Tok::BraceClose, i, i + 1});
      ++i;
    } else if (inBraces && braceSeparator != 0 && c == braceSeparator) {
      tokens.push_back({Tok::Other, i, i + 1});
      ++i;
    } else if (IsDigit(c) || (c == decimal && i + 1 < n && IsDigit(s[i + 1]) &&
                              !(!tokens.empty() && tokens.back().kind == Tok::Number && tokens.back().end == i))) {
      const std::size_t begin = i;
      while (i < n && IsDigit(s[i])) ++i;
      if (i + 1 < n && s[i] == decimal && IsDigit(s[i + 1])) {
        ++i;
        while (i < n && IsDigit(s[i])) ++i;
      } else if (i < n && s[i] == decimal && i == begin) {
        ++i;
      }
      if (i < n && (s[i] == u'E' || s[i] == u'e')) {
        std::size_t k = i + 1;
        if (k < n && (s[k] == u'+' || s[k] == u'-')) ++k;
        if (k < n && IsDigit(s[k])) {
          i = k;
          while (i < n && IsDigit(s[i])) ++i;
        }
      }
      tokens.push_back({Tok::Number, begin, i});
    } else if (IsNameChar(c)) {
      const std::size_t begin = i;
      while (i < n && IsNameChar(s[i]) && !(inBraces && braceSeparator != 0 && s[i] == braceSeparator)) ++i;
      tokens.push_back({Tok::Name, begin, i});
    } else {
      tokens.push_back({Tok::Other, i, i + 1});
      ++i;
    }
  }
  return tokens;
}

constexpr std::u16string_view kPrefixes[] = {u"_xlfn.", u"_xlws.", u"_xlpm."};

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (Upper(text[i]) != Upper(prefix[i])) return false;
  return true;
}

// The length of the run of storage prefixes a name starts with ("_xlfn._xlws.SORT" has two).
std::size_t PrefixLength(std::u16string_view name) {
  std::size_t length = 0;
  for (bool found = true; found;) {
    found = false;
    for (const auto prefix : kPrefixes) {
      if (StartsWithNoCase(name.substr(length), prefix) && name.size() > length + prefix.size()) {
        length += prefix.size();
        found = true;
      }
    }
  }
  return length;
}

// Whether "_xl" (in any case) occurs: the only way a storage prefix can.
bool MayHavePrefix(std::u16string_view text) {
  for (std::size_t i = 0; i + 2 < text.size(); ++i)
    if (text[i] == u'_' && Upper(text[i + 1]) == u'X' && Upper(text[i + 2]) == u'L') return true;
  return false;
}

std::u16string UpperText(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = Upper(c);
  return out;
}

[[noreturn]] void RefuseDialect(char16_t c) {
  throw AutomationError(err::kApplicationDefined, u"There is a problem with this formula: \"" + std::u16string(1, c) +
                                                      u"\" is not a separator in this formula's language.");
}

// ---- references ----

struct RefPart {
  bool absolute = false;
  std::int32_t value = 0;
};

// "$?LETTERS" of at most three letters naming a column on the sheet.
std::optional<RefPart> ColumnPart(std::u16string_view text) {
  RefPart part;
  std::size_t i = 0;
  if (i < text.size() && text[i] == u'$') part.absolute = true, ++i;
  if (text.size() - i < 1 || text.size() - i > 3) return std::nullopt;
  for (; i < text.size(); ++i) {
    if (!IsLetter(text[i])) return std::nullopt;
    part.value = part.value * 26 + (Upper(text[i]) - u'A' + 1);
  }
  if (part.value > kMaxColumns) return std::nullopt;
  return part;
}

// "$?DIGITS" naming a row on the sheet.
std::optional<RefPart> RowPart(std::u16string_view text) {
  RefPart part;
  std::size_t i = 0;
  if (i < text.size() && text[i] == u'$') part.absolute = true, ++i;
  if (i == text.size() || text.size() - i > 7) return std::nullopt;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return std::nullopt;
    part.value = part.value * 10 + (text[i] - u'0');
  }
  if (part.value < 1 || part.value > kMaxRows) return std::nullopt;
  return part;
}

struct CellRef {
  RefPart col;
  RefPart row;
};

std::optional<CellRef> CellRefOf(std::u16string_view text) {
  if (text.empty()) return std::nullopt;
  std::size_t i = text[0] == u'$' ? 1 : 0;
  const std::size_t letters = i;
  while (i < text.size() && IsLetter(text[i])) ++i;
  if (i == letters) return std::nullopt;
  if (i < text.size() && text[i] == u'$') ++i;
  if (i == text.size()) return std::nullopt;
  std::size_t split = i;
  if (text[split - 1] == u'$') --split;
  const auto col = ColumnPart(text.substr(0, split));
  const auto row = RowPart(text.substr(split));
  if (!col || !row) return std::nullopt;
  return CellRef{*col, *row};
}

bool ShiftPart(RefPart& part, std::int32_t by, std::int32_t max) {
  if (part.absolute) return true;
  const std::int64_t moved = std::int64_t{part.value} + by;
  if (moved < 1 || moved > max) return false;
  part.value = static_cast<std::int32_t>(moved);
  return true;
}

void AppendPart(std::u16string& out, const RefPart& part, bool column) {
  if (part.absolute) out += u'$';
  out += column ? ColumnName(part.value) : DecimalKey(part.value);
}

}  // namespace

Dialect MakeDialect(char16_t listSeparator, char16_t decimalSeparator) {
  auto usable = [](char16_t c) {
    return c > u' ' && !IsLetter(c) && !IsDigit(c) && std::u16string_view(u"\"'[]{}()$_\\?!:#@&%^*/+-<>=").find(c) ==
                                                          std::u16string_view::npos;
  };
  if (listSeparator == decimalSeparator || !usable(listSeparator) || IsNameChar(listSeparator) ||
      !(usable(decimalSeparator) || decimalSeparator == u'.'))
    throw AutomationError(err::kInvalidProcedureCall,
                          u"\"" + std::u16string(1, listSeparator) + u"\" and \"" + std::u16string(1, decimalSeparator) +
                              u"\" cannot serve as list and decimal separator of formulas.");
  Dialect d;
  d.list = listSeparator;
  d.decimal = decimalSeparator;
  d.arrayColumn = decimalSeparator == u',' ? u'.' : u',';
  d.arrayRow = u';';
  if (d.arrayColumn == d.list) d.arrayColumn = u'\\';
  return d;
}

namespace {

// Whether the conversions leave a text as it is: the dialect separates arguments and decimals as
// the file does, and the text has no array constant (whose separators may differ) and no
// storage prefix. Most formulas of a "," locale are such.
bool UnchangedOutsideArrays(const Dialect& d) { return d.list == u',' && d.decimal == u'.'; }

// Whether `a` or `b` occurs; no exit inside the loop, so that it is done in wide steps.
bool Holds(std::u16string_view text, char16_t a, char16_t b) {
  unsigned found = 0;
  for (const char16_t c : text) found |= static_cast<unsigned>(c == a) | static_cast<unsigned>(c == b);
  return found != 0;
}

}  // namespace

std::u16string ShownFormula(std::u16string_view fileText, const Dialect& d) {
  if (UnchangedOutsideArrays(d) && (d.IsFileDialect() || !Holds(fileText, u'{', u'{')) &&
      !MayHavePrefix(fileText)) {
    std::u16string out;
    out.reserve(fileText.size() + 1);
    out += u'=';
    out += fileText;
    return out;
  }
  return ShownFormulaByTokens(fileText, d);
}

std::u16string FileFormula(std::u16string_view shownText, const Dialect& d, std::u16string_view previousFileText) {
  if (shownText.empty() || shownText.front() != u'=')
    throw AutomationError(err::kApplicationDefined, u"A formula starts with \"=\".");
  const std::u16string_view body = shownText.substr(1);
  // Outside array constants such a dialect refuses only ";" (which the file form never has there).
  if (UnchangedOutsideArrays(d) && (d.IsFileDialect() || !Holds(body, u'{', u';')) &&
      !MayHavePrefix(previousFileText))
    return std::u16string(body);
  return FileFormulaByTokens(shownText, d, previousFileText);
}

std::u16string ShownFormulaByTokens(std::u16string_view fileText, const Dialect& d) {
  std::u16string out = u"=";
  out.reserve(fileText.size() + 1);
  bool inBraces = false;
  for (const Token& t : Lex(fileText, u'.')) {
    const std::u16string_view piece = fileText.substr(t.begin, t.end - t.begin);
    switch (t.kind) {
      case Tok::BraceOpen:
        inBraces = true;
        out += piece;
        break;
      case Tok::BraceClose:
        inBraces = false;
        out += piece;
        break;
      case Tok::Other:
        if (piece[0] == u',') {
          out += inBraces ? d.arrayColumn : d.list;
        } else if (piece[0] == u';' && inBraces) {
          out += d.arrayRow;
        } else {
          out += piece;
        }
        break;
      case Tok::Number:
        for (const char16_t c : piece) out += c == u'.' ? d.decimal : c;
        break;
      case Tok::Name:
        out += piece.substr(PrefixLength(piece));
        break;
      default:
        out += piece;
        break;
    }
  }
  return out;
}

std::u16string FileFormulaByTokens(std::u16string_view shownText, const Dialect& d, std::u16string_view previousFileText) {
  if (shownText.empty() || shownText.front() != u'=')
    throw AutomationError(err::kApplicationDefined, u"A formula starts with \"=\".");
  const std::u16string_view body = shownText.substr(1);

  // The storage prefixes of the names the previous text carried, by name.
  std::map<std::u16string, std::u16string> prefixes;
  if (MayHavePrefix(previousFileText)) {
    for (const Token& t : Lex(previousFileText, u'.')) {
      if (t.kind != Tok::Name) continue;
      const std::u16string_view name = previousFileText.substr(t.begin, t.end - t.begin);
      const std::size_t length = PrefixLength(name);
      if (length > 0) prefixes.emplace(UpperText(name.substr(length)), std::u16string(name.substr(0, length)));
    }
  }

  std::u16string out;
  out.reserve(body.size() + 16);
  bool inBraces = false;
  for (const Token& t : Lex(body, d.decimal, d.arrayColumn)) {
    const std::u16string_view piece = body.substr(t.begin, t.end - t.begin);
    switch (t.kind) {
      case Tok::BraceOpen:
        inBraces = true;
        out += piece;
        break;
      case Tok::BraceClose:
        inBraces = false;
        out += piece;
        break;
      case Tok::Other: {
        const char16_t c = piece[0];
        if (inBraces && c == d.arrayColumn) {
          out += u',';
        } else if (inBraces && c == d.arrayRow) {
          out += u';';
        } else if (!inBraces && c == d.list) {
          out += u',';
        } else if (!d.IsFileDialect() && (c == u',' || c == u';' || (inBraces && c == u'.'))) {
          RefuseDialect(c);
        } else {
          out += c;
        }
        break;
      }
      case Tok::Number:
        for (const char16_t c : piece) out += c == d.decimal ? u'.' : c;
        break;
      case Tok::Name: {
        if (!prefixes.empty() && PrefixLength(piece) == 0) {
          const auto it = prefixes.find(UpperText(piece));
          if (it != prefixes.end()) out += it->second;
        }
        out += piece;
        break;
      }
      default:
        out += piece;
        break;
    }
  }
  return out;
}

std::u16string ShiftReferences(std::u16string_view text, std::int32_t rows, std::int32_t columns) {
  const std::vector<Token> tokens = Lex(text, u'.');
  const auto pieceOf = [&](std::size_t k) { return text.substr(tokens[k].begin, tokens[k].end - tokens[k].begin); };
  const auto isChar = [&](std::size_t k, char16_t c) {
    return k < tokens.size() && tokens[k].kind == Tok::Other && text[tokens[k].begin] == c;
  };
  const auto isRefToken = [&](std::size_t k) {
    return k < tokens.size() && (tokens[k].kind == Tok::Name || tokens[k].kind == Tok::Number);
  };
  const auto followedBy = [&](std::size_t k, char16_t c) { return tokens[k].end < text.size() && text[tokens[k].end] == c; };
  // A sheet: what stands right before "!", and the first sheet of a 3-D reference ("Jan:Mar!B2").
  // "#REF!" is an error value, not a sheet.
  const auto sheetName = [&](std::size_t k) {
    if (k > 0 && isChar(k - 1, u'#')) return false;
    return followedBy(k, u'!') || (isChar(k + 1, u':') && isRefToken(k + 2) && followedBy(k + 2, u'!'));
  };
  // Before "(" a function, before "[" a table.
  const auto names = [&](std::size_t k) { return sheetName(k) || followedBy(k, u'(') || followedBy(k, u'['); };

  enum class Ref : std::uint8_t { None, Cell, Column, Row };
  const auto kindOf = [&](std::size_t k) {
    if (!isRefToken(k) || names(k)) return Ref::None;
    const std::u16string_view piece = pieceOf(k);
    if (tokens[k].kind == Tok::Name && CellRefOf(piece)) return Ref::Cell;
    if (tokens[k].kind == Tok::Name && ColumnPart(piece)) return Ref::Column;
    if (RowPart(piece)) return Ref::Row;
    return Ref::None;
  };
  const auto appendMoved = [&](std::u16string& out, std::size_t k, Ref kind) {
    const std::u16string_view piece = pieceOf(k);
    if (kind == Ref::Cell) {
      auto cell = CellRefOf(piece);
      if (!ShiftPart(cell->col, columns, kMaxColumns) || !ShiftPart(cell->row, rows, kMaxRows)) return false;
      AppendPart(out, cell->col, true);
      AppendPart(out, cell->row, false);
    } else {
      auto part = kind == Ref::Column ? ColumnPart(piece) : RowPart(piece);
      if (!ShiftPart(*part, kind == Ref::Column ? columns : rows, kind == Ref::Column ? kMaxColumns : kMaxRows)) return false;
      AppendPart(out, *part, kind == Ref::Column);
    }
    return true;
  };

  std::u16string out;
  out.reserve(text.size() + 8);
  // Where the sheet or workbook prefix of the reference that may follow began in `out`: a
  // reference moved off the sheet becomes "#REF!" prefix and all, as the spreadsheet writes it.
  std::size_t prefixAt = std::u16string::npos;
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    Ref kind = kindOf(k);
    std::size_t last = k;
    if (kind != Ref::None && isChar(k + 1, u':') && kindOf(k + 2) == kind) {
      last = k + 2;  // a range: both ends or none
    } else if (kind != Ref::Cell) {
      kind = Ref::None;  // a lone column or row is a name or a number
    }
    if (kind == Ref::None) {
      const bool prefixPiece = tokens[k].kind == Tok::Bracket || tokens[k].kind == Tok::SheetName ||
                               (isRefToken(k) && sheetName(k)) ||
                               (prefixAt != std::u16string::npos && (isChar(k, u':') || isChar(k, u'!')));
      if (!prefixPiece) {
        prefixAt = std::u16string::npos;
      } else if (prefixAt == std::u16string::npos) {
        prefixAt = out.size();
      }
      out += pieceOf(k);
      continue;
    }
    const std::size_t unitAt = prefixAt != std::u16string::npos && k > 0 && isChar(k - 1, u'!') ? prefixAt : out.size();
    prefixAt = std::u16string::npos;
    std::u16string moved;
    bool inside = appendMoved(moved, k, kind);
    if (last != k) {
      moved += u':';
      inside = appendMoved(moved, last, kind) && inside;
    }
    if (inside) {
      out += moved;
    } else {
      out.resize(unitAt);
      out += u"#REF!";
    }
    k = last;
  }
  return out;
}

std::optional<std::u16string> BeyondFormulaLimits(std::u16string_view text) {
  // The file leaves out the "=" that the length counts; its list separator is ",".
  if (auto why = refusal::LengthRefusal(text.size() + 1, kMaxFormulaLength)) return why;
  return refusal::NestingRefusal(text, u",");
}

namespace {

// "$?LETTERS$?DIGITS" naming a cell on the sheet, read in one pass (every cell of a worksheet
// names itself): what CellRefOf accepts, without the parts it keeps for moving references.
template <class Char>
std::optional<CellPosition> ParseAddress(std::basic_string_view<Char> text) {
  const auto letter = [](Char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  std::size_t i = 0;
  if (i < text.size() && text[i] == '$') ++i;
  std::int32_t col = 0;
  const std::size_t letters = i;
  for (; i < text.size() && letter(text[i]); ++i) {
    if (i - letters == 3) return std::nullopt;
    col = col * 26 + ((text[i] & ~0x20) - 'A' + 1);
  }
  if (i == letters || col > kMaxColumns) return std::nullopt;
  if (i < text.size() && text[i] == '$') ++i;
  std::int32_t row = 0;
  const std::size_t digits = i;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (i - digits == 7) return std::nullopt;
    row = row * 10 + (text[i] - '0');
  }
  if (i == digits || i != text.size() || row < 1 || row > kMaxRows) return std::nullopt;
  return CellPosition{row, col};
}

}  // namespace

std::optional<CellPosition> ParseCellAddress(std::u16string_view text) { return ParseAddress(text); }

std::optional<CellPosition> ParseCellAddress(std::string_view text) { return ParseAddress(text); }

std::optional<CellRect> ParseRangeAddress(std::string_view text) {
  const auto colon = text.find(':');
  const auto first = ParseCellAddress(text.substr(0, colon));
  const auto last = colon == std::string_view::npos ? first : ParseCellAddress(text.substr(colon + 1));
  if (!first || !last) return std::nullopt;
  return CellRect{std::min(first->row, last->row), std::min(first->col, last->col), std::max(first->row, last->row),
                  std::max(first->col, last->col)};
}

std::u16string ColumnName(std::int32_t column) {
  std::u16string letters;
  for (; column > 0; column = (column - 1) / 26)
    letters.insert(letters.begin(), static_cast<char16_t>(u'A' + (column - 1) % 26));
  return letters;
}

std::u16string CellAddress(std::int32_t row, std::int32_t col) { return ColumnName(col) + DecimalKey(row); }

std::u16string RangeAddress(const CellRect& rect) {
  std::u16string text = CellAddress(rect.row1, rect.col1);
  if (rect.Count() > 1) text += u':' + CellAddress(rect.row2, rect.col2);
  return text;
}

}  // namespace corvane::xlsx
