#include "cli/json.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>

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

std::size_t CopyUnescaped(std::u16string_view text, std::size_t from, char* out) {
  std::size_t end = from;
#if defined(__SSE2__)
  // The comparisons are signed: a unit from U+8000 up reads as negative and so fails the test for
  // the space and above, as the control characters do.
  const __m128i belowSpace = _mm_set1_epi16(0x1F), ascii = _mm_set1_epi16(0x80);
  const __m128i quote = _mm_set1_epi16(u'"'), backslash = _mm_set1_epi16(u'\\');
  for (; end + 8 <= text.size(); end += 8, out += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + end));
    const __m128i inRange = _mm_and_si128(_mm_cmpgt_epi16(v, belowSpace), _mm_cmplt_epi16(v, ascii));
    const __m128i escaped = _mm_or_si128(_mm_cmpeq_epi16(v, quote), _mm_cmpeq_epi16(v, backslash));
    const unsigned ok = static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(escaped, inRange)));
    // All eight bytes are written; those past the run are overwritten by what follows it.
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(v, v));
    if (ok != 0xFFFF) return end + static_cast<std::size_t>(std::countr_one(ok)) / 2;
  }
#endif
  // The last units (fewer than eight) one by one.
  return CopyUnescapedPlain(text, end, out);
}

std::size_t CopyUnescapedPlain(std::u16string_view text, std::size_t from, char* out) {
  std::size_t i = from;
  for (; i < text.size() && text[i] >= 0x20 && text[i] < 0x80 && text[i] != u'"' && text[i] != u'\\'; ++i)
    *out++ = static_cast<char>(text[i]);
  return i;
}

std::string JsonQuote(std::u16string_view text) {
  static const char* const kHex = "0123456789abcdef";
  // Most of a formula, and all of its indentation, is plain ASCII: one byte a unit, copied a run
  // at a time into room made for the whole text (and the kernel's last step of eight); what is
  // escaped or takes more bytes makes room as it comes.
  std::string out(text.size() + 10, '"');
  std::size_t o = 1;
  const auto room = [&](std::size_t from, std::size_t more) {
    const std::size_t needed = o + more + (text.size() - from) + 9;
    if (out.size() < needed) out.resize(std::max(out.size() * 2, needed));
  };
  const auto put = [&](std::string_view bytes) {
    out.replace(o, bytes.size(), bytes);
    o += bytes.size();
  };
  const auto hex4 = [&](char32_t value) {
    put("\\u");
    for (int shift = 12; shift >= 0; shift -= 4) out[o++] = kHex[(value >> shift) & 0xF];
  };
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t end = CopyUnescaped(text, i, out.data() + o);
    o += end - i;
    i = end;
    if (i >= text.size()) break;
    room(i, 6);
    const char16_t c = text[i];
    if (c < 0x20) {
      switch (c) {
        case u'\n': put("\\n"); break;
        case u'\r': put("\\r"); break;
        case u'\t': put("\\t"); break;
        default: hex4(c);
      }
      ++i;
    } else if (c == u'"' || c == u'\\') {
      out[o++] = '\\';
      out[o++] = static_cast<char>(c);
      ++i;
    } else {
      // A surrogate pair is one character; a lone surrogate, which UTF-8 cannot carry, is escaped.
      const char32_t cp = utf8::NextCodePoint(text, i);
      if (cp >= 0xD800 && cp <= 0xDFFF) {
        hex4(cp);
      } else {
        std::string bytes;
        utf8::AppendUtf8(bytes, cp);
        put(bytes);
      }
    }
  }
  out[o++] = '"';
  out.resize(o);
  return out;
}

}  // namespace corvane::cli
