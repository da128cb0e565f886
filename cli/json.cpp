#include "cli/json.h"

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
  std::string run;  // raw UTF-8 between escapes, validated as a whole
  std::size_t runStart = i;
  auto flush = [&] {
    out += FromUtf8(run, runStart);
    run.clear();
  };
  for (;;) {
    if (i >= line.size()) throw UsageError("the JSON string is not closed");
    const char c = line[i];
    if (c == '"') {
      ++i;
      break;
    }
    if (static_cast<unsigned char>(c) < 0x20) throw UsageError("a control character must be escaped in a JSON string");
    if (c != '\\') {
      run.push_back(c);
      ++i;
      continue;
    }
    flush();
    if (i + 1 >= line.size()) throw UsageError("the JSON string ends inside an escape");
    const char e = line[i + 1];
    i += 2;
    runStart = i + (e == 'u' ? 4 : 0);
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
  flush();
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i != line.size()) throw UsageError("unexpected text after the JSON string");
  return out;
}

std::string JsonQuote(std::u16string_view text) {
  static const char* const kHex = "0123456789abcdef";
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (std::size_t i = 0; i < text.size();) {
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
    } else if (c < 0x80) {
      out.push_back(static_cast<char>(c));  // most of a formula, and all of its indentation
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
