#include "support/corpus.h"

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>

#include "base/utf8.h"

namespace corvane::corpus {

namespace {

// Decodes one UTF-8 character at `i`, advancing it; the corpus is valid UTF-8.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
  const utf8::Decoded d = utf8::DecodeUtf8(s, i);
  if (d.error != utf8::Error::None) throw std::invalid_argument(std::string("invalid UTF-8: ") + utf8::Describe(d.error));
  i += d.length;
  return d.codePoint;
}

std::uint32_t HexDigits(std::string_view s, std::size_t at) {
  if (at + 4 > s.size()) throw std::invalid_argument("truncated \\u escape");
  std::uint32_t v = 0;
  for (std::size_t k = at; k < at + 4; ++k) {
    const char c = s[k];
    v <<= 4;
    if (c >= '0' && c <= '9') {
      v |= static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      v |= static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      v |= static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      throw std::invalid_argument("bad hex digit in \\u escape");
    }
  }
  return v;
}

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) utf8::AppendUtf16(out, NextCodePoint(utf8, i));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) { return utf8::ToUtf8(utf16); }

std::u16string DecodeJsonString(std::string_view json) {
  std::size_t i = 0;
  while (i < json.size() && IsJsonSpace(json[i])) ++i;
  if (i >= json.size() || json[i] != '"') throw std::invalid_argument("a JSON string must start with a quote");
  ++i;
  std::u16string out;
  for (;;) {
    if (i >= json.size()) throw std::invalid_argument("unterminated JSON string");
    const char c = json[i];
    if (c == '"') {
      ++i;
      break;
    }
    if (static_cast<unsigned char>(c) < 0x20) throw std::invalid_argument("control character in JSON string");
    if (c != '\\') {
      utf8::AppendUtf16(out, NextCodePoint(json, i));
      continue;
    }
    if (i + 1 >= json.size()) throw std::invalid_argument("unterminated escape");
    const char e = json[i + 1];
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
        const std::uint32_t unit = HexDigits(json, i);
        i += 4;
        // Escaped code units are taken as they stand, pairs included, as JSON defines them.
        out.push_back(static_cast<char16_t>(unit));
        break;
      }
      default:
        throw std::invalid_argument("unknown escape in JSON string");
    }
  }
  while (i < json.size() && IsJsonSpace(json[i])) ++i;
  if (i != json.size()) throw std::invalid_argument("text after the JSON string");
  return out;
}

std::vector<Formula> LoadCorpus() {
  std::vector<Formula> formulas;
  const std::string dir = CORVANE_CORPUS_DIR;
  for (const char* name : {"formulas.txt", "formulas-multiline.jsonl"}) {
    const std::string path = dir + "/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    const bool json = std::string_view(name).ends_with(".jsonl");
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      if (line.empty()) continue;
      Formula f;
      f.source = std::string(name) + ":" + std::to_string(number);
      f.text = json ? DecodeJsonString(line) : Utf8ToUtf16(line);
      formulas.push_back(std::move(f));
    }
  }
  return formulas;
}

}  // namespace corvane::corpus
