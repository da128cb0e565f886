#include "support/corpus.h"

#include <cstdint>
#include <fstream>
#include <stdexcept>

namespace corvane::corpus {

namespace {

void AppendCodePoint(std::u16string& out, std::uint32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// Decodes one UTF-8 sequence at `i`, advancing it.
std::uint32_t NextCodePoint(std::string_view s, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
  const std::uint8_t b0 = byte(i);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  std::size_t extra = 0;
  std::uint32_t cp = 0;
  std::uint32_t minimum = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1Fu, minimum = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0Fu, minimum = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07u, minimum = 0x10000;
  } else {
    throw std::invalid_argument("invalid UTF-8 lead byte");
  }
  if (i + extra >= s.size()) throw std::invalid_argument("truncated UTF-8");
  for (std::size_t k = 1; k <= extra; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) throw std::invalid_argument("invalid UTF-8 continuation byte");
    cp = (cp << 6) | (byte(i + k) & 0x3Fu);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    throw std::invalid_argument("invalid UTF-8 code point");
  i += extra + 1;
  return cp;
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
  for (std::size_t i = 0; i < utf8.size();) AppendCodePoint(out, NextCodePoint(utf8, i));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    std::uint32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00u);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

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
      AppendCodePoint(out, NextCodePoint(json, i));
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
