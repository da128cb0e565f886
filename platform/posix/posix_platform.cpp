#include "platform/posix/posix_platform.h"

#include <clocale>
#include <filesystem>
#include <system_error>

namespace corvane::posix {

namespace {
char16_t SingleUnit(const char* s, char16_t fallback) {
  // Multi-byte separators (such as a narrow no-break space) fall back to the usual character.
  if (s == nullptr || s[0] == '\0') return fallback;
  if (static_cast<unsigned char>(s[0]) < 0x80 && s[1] == '\0') return static_cast<char16_t>(s[0]);
  if (std::string(s) == "\xE2\x80\xAF" || std::string(s) == "\xC2\xA0") return u' ';
  return fallback;
}
}  // namespace

namespace {

void PutUtf8(std::string& out, char32_t cp) {
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

// Both encoders; `keepBytes` writes a lone U+DC80..U+DCFF as the byte it stands for.
std::string Encode(std::u16string_view text, bool keepBytes) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (keepBytes && cp >= 0xDC80 && cp <= 0xDCFF) {
      out.push_back(static_cast<char>(cp - 0xDC00));
      continue;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    PutUtf8(out, cp);
  }
  return out;
}

}  // namespace

std::string ToUtf8(std::u16string_view text) { return Encode(text, false); }

std::string PathToBytes(std::u16string_view path) { return Encode(path, true); }

std::u16string PathFromBytes(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  const auto at = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned b0 = at(i);
    std::size_t len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
      len = 1, cp = b0;
    } else if ((b0 & 0xE0) == 0xC0) {
      len = 2, cp = b0 & 0x1Fu, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      len = 3, cp = b0 & 0x0Fu, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      len = 4, cp = b0 & 0x07u, min = 0x10000;
    }
    bool ok = len > 0 && i + len <= bytes.size();
    for (std::size_t k = 1; ok && k < len; ++k) {
      ok = (at(i + k) & 0xC0) == 0x80;
      cp = (cp << 6) | (at(i + k) & 0x3Fu);
    }
    if (!ok || cp < min || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      out.push_back(static_cast<char16_t>(0xDC00 + b0));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

RegionalFormat RegionalFromLocale() {
  const std::lconv* conv = std::localeconv();
  RegionalFormat fmt;
  fmt.decimalSeparator = SingleUnit(conv->decimal_point, u'.');
  // The C locale has no grouping character; use the one that goes with its decimal point.
  fmt.thousandsSeparator = SingleUnit(conv->thousands_sep, fmt.decimalSeparator == u',' ? u'.' : u',');
  return fmt;
}

std::u16string ProgramFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  const auto folder = ec ? std::filesystem::current_path(ec) : exe.parent_path();
  return PathFromBytes(folder.native());
}

}  // namespace corvane::posix
