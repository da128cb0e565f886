#include "platform/posix/posix_platform.h"

#include <clocale>
#include <filesystem>
#include <system_error>

#include "base/utf8.h"

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

std::string ToUtf8(std::u16string_view text) { return utf8::ToUtf8(text); }

std::string PathToBytes(std::u16string_view path) {
  // A lone U+DC80..U+DCFF stands for a byte that was not UTF-8 (PathFromBytes).
  std::string out;
  out.reserve(path.size());
  for (std::size_t i = 0; i < path.size();) {
    const char32_t cp = utf8::NextCodePoint(path, i);
    if (cp >= 0xDC80 && cp <= 0xDCFF) {
      out.push_back(static_cast<char>(cp - 0xDC00));
    } else {
      utf8::AppendUtf8(out, cp >= 0xD800 && cp <= 0xDFFF ? utf8::kReplacement : cp);
    }
  }
  return out;
}

std::u16string PathFromBytes(std::string_view bytes) {
  return utf8::Utf8ToUtf16(bytes, [](unsigned char b) { return static_cast<char16_t>(0xDC00 + b); });
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
