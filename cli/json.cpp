#include "cli/json.h"

#include <algorithm>

#include "base/utf8.h"

#include "cli/cli.h"

namespace corvane::cli {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::u16string ParseJsonStringLine(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i == line.size() || line[i] != '"') throw UsageError("expected a JSON string in double quotes");
  ++i;
  std::u16string out;
  out.reserve(line.size() - i);
  for (;;) {
    // The raw UTF-8 up to the next quote, escape or control character, decoded as a whole.
    const std::size_t runStart = i;
    while (i < line.size() && line[i] != '"' && line[i] != '\\' && static_cast<unsigned char>(line[i]) >= 0x20) ++i;
    if (i > runStart) AppendFromUtf8(out, line.substr(runStart, i - runStart), runStart);
    if (i >= line.size()) throw UsageError("the JSON string is not closed");
    const char c = line[i];
    if (c == '"') {
      ++i;
      break;
    }
    if (c != '\\') throw UsageError("a control character must be escaped in a JSON string");
    if (i + 1 >= line.size()) throw UsageError("the JSON string ends inside an escape");
    const char e = line[i + 1];
    i += 2;
    switch (e) {
      case '"': out.push_back(u'"'); break;
      case '\\': out.push_back(u'\\'); break;
      case '/': out.push_back(u'/'); break;
      case 'b': out.push_back(u'\b'); break;
      case 'f': out.push_back(u'\f'); break;
      case 'n': out.push_back(u'\n'); break;
      case 'r': out.push_back(u'\r'); break;
      case 't': out.push_back(u'\t'); break;
      case 'u': {
        if (i + 4 > line.size()) throw UsageError("a \\u escape needs four hexadecimal digits");
        int value = 0;
        for (int k = 0; k < 4; ++k) {
          const int h = HexValue(line[i + static_cast<std::size_t>(k)]);
          if (h < 0) throw UsageError("a \\u escape needs four hexadecimal digits");
          value = value * 16 + h;
        }
        i += 4;
        out.push_back(static_cast<char16_t>(value));  // lone surrogates are kept as they come
        break;
      }
      default:
        throw UsageError("unknown escape \\" + Printable(std::string(1, e)) + " in a JSON string");
    }
  }
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i != line.size()) throw UsageError("unexpected text after the JSON string");
  return out;
}

std::string JsonQuote(std::u16string_view text) {
  static const char* const kHex = "0123456789abcdef";
  const auto plain = [](char16_t c) { return c >= 0x20 && c < 0x80 && c != u'"' && c != u'\\'; };
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (std::size_t i = 0; i < text.size();) {
    // Most of a formula, and all of its indentation, is plain ASCII: copied a run at a time.
    const std::size_t runStart = i;
    while (i < text.size() && plain(text[i])) ++i;
    if (i > runStart) {
      const std::size_t at = out.size();
      out.resize(at + (i - runStart));
      std::transform(text.data() + runStart, text.data() + i, out.data() + at,
                     [](char16_t c) { return static_cast<char>(c); });
    }
    if (i >= text.size()) break;
    const char16_t c = text[i];
    if (c < 0x20) {
      switch (c) {
        case u'\n': out += "\\n"; break;
        case u'\r': out += "\\r"; break;
        case u'\t': out += "\\t"; break;
        default:
          out += "\\u";
          for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(c >> shift) & 0xF]);
      }
      ++i;
    } else if (c == u'"' || c == u'\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
      ++i;
    } else {
      // A surrogate pair is one character; a lone surrogate, which UTF-8 cannot carry, is escaped.
      const char32_t cp = utf8::NextCodePoint(text, i);
      if (cp >= 0xD800 && cp <= 0xDFFF) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(cp >> shift) & 0xF]);
      } else {
        utf8::AppendUtf8(out, cp);
      }
    }
  }
  out.push_back('"');
  return out;
}

}  // namespace corvane::cli
