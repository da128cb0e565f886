#include "cli/colour.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "base/utf8.h"
#include "cli/cli.h"
#include "formatting/lexer.h"

namespace corvane::cli {

namespace {

constexpr std::string_view kReset = "\x1b[0m";
constexpr std::string_view kLiteral = "\x1b[32m";    // green
constexpr std::string_view kSheet = "\x1b[35m";      // magenta
constexpr std::string_view kFunction = "\x1b[1;34m"; // bold blue
constexpr std::string_view kReference = "\x1b[36m";  // cyan
// The parentheses of level 1, 2, ... in turn.
constexpr std::string_view kLevels[] = {"\x1b[33m", "\x1b[31m", "\x1b[34m", "\x1b[32m", "\x1b[35m"};

bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// A1 or $A$1: a cell's reference; with `part` also a whole column's or row's end (A, $C, 3)
// as it stands beside ":".
bool IsReference(std::u16string_view text, bool part) {
  std::size_t i = 0;
  if (i < text.size() && text[i] == u'$') ++i;
  std::size_t letters = 0;
  while (i < text.size() && IsLetter(text[i]) && letters < 3) ++i, ++letters;
  if (letters > 0 && i < text.size() && text[i] == u'$') ++i;
  std::size_t digits = 0;
  while (i < text.size() && IsDigit(text[i]) && digits < 7) ++i, ++digits;
  if (i != text.size()) return false;
  return (letters > 0 && digits > 0) || (part && (letters > 0) != (digits > 0));
}

// Shown as it is, but for control characters other than line feeds, escaped.
std::string Shown(std::u16string_view text) {
  std::string out;
  std::size_t start = 0;
  for (std::size_t k = 0; k <= text.size(); ++k) {
    if (k == text.size() || text[k] == u'\n') {
      out += Printable(ToUtf8(text.substr(start, k - start)));
      if (k < text.size()) out += '\n';
      start = k + 1;
    }
  }
  return out;
}

}  // namespace

bool UseColour(const std::optional<std::string>& choice, int fd) {
  if (choice && *choice == "always") return true;
  if (choice && *choice == "never") return false;
  if (choice && *choice != "auto") throw UsageError("--color takes auto, always or never, not \"" + Printable(*choice) + "\"");
  const char* noColour = std::getenv("NO_COLOR");
  return isatty(fd) == 1 && (noColour == nullptr || *noColour == '\0');
}

std::string Coloured(std::u16string_view formula) {
  const std::vector<lex::Span> spans = lex::Lex(formula, u",");
  std::string out;
  std::size_t depth = 0;
  const auto paint = [&out](std::string_view colour, const std::string& text) {
    // A colour never runs over a line break: each line stands on its own.
    std::size_t start = 0;
    for (std::size_t k = 0; k <= text.size(); ++k) {
      if (k == text.size() || text[k] == '\n') {
        if (k > start) out.append(colour).append(text, start, k - start).append(kReset);
        if (k < text.size()) out += '\n';
        start = k + 1;
      }
    }
  };
  for (std::size_t k = 0; k < spans.size(); ++k) {
    const lex::Span& s = spans[k];
    const std::u16string_view text = formula.substr(s.begin, s.end - s.begin);
    switch (s.kind) {
      case lex::Kind::StringLiteral:
        paint(kLiteral, Shown(text));
        break;
      case lex::Kind::SheetName:
        paint(kSheet, Shown(text));
        break;
      case lex::Kind::BracketedName:
        paint(kReference, Shown(text));
        break;
      case lex::Kind::OpenParen:
        paint(kLevels[depth % std::size(kLevels)], "(");
        ++depth;
        break;
      case lex::Kind::CloseParen:
        if (depth > 0) --depth;
        paint(kLevels[depth % std::size(kLevels)], ")");
        break;
      case lex::Kind::Text: {
        const bool call = k + 1 < spans.size() && spans[k + 1].kind == lex::Kind::OpenParen;
        const auto isColon = [&](std::size_t j) {
          return j < spans.size() && spans[j].kind == lex::Kind::Operator && formula[spans[j].begin] == u':';
        };
        const bool ranged = isColon(k + 1) || (k > 0 && isColon(k - 1));
        // "Sheet1!A1" lexes as one text: the sheet's part and the reference's part.
        const std::size_t bang = text.find(u'!');
        if (bang != std::u16string_view::npos) {
          paint(kSheet, Shown(text.substr(0, bang + 1)));
          const std::u16string_view rest = text.substr(bang + 1);
          if (IsReference(rest, ranged)) {
            paint(kReference, Shown(rest));
          } else {
            out += Shown(rest);
          }
        } else if (call) {
          paint(kFunction, Shown(text));
        } else if (IsReference(text, ranged)) {
          paint(kReference, Shown(text));
        } else {
          out += Shown(text);
        }
        break;
      }
      default:
        out += Shown(text);
        break;
    }
  }
  return out;
}

}  // namespace corvane::cli
