#include "base/utf8.h"

namespace corvane::utf8 {

char32_t NextCodePoint(std::u16string_view text, std::size_t& i) {
  const char16_t unit = text[i++];
  if (unit >= 0xD800 && unit <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
    const char16_t low = text[i++];
    return 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (static_cast<char32_t>(low) - 0xDC00);
  }
  return unit;
}

void AppendUtf8(std::string& out, char32_t cp) {
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

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = NextCodePoint(text, i);
    AppendUtf8(out, cp >= 0xD800 && cp <= 0xDFFF ? kReplacement : cp);
  }
  return out;
}

Decoded DecodeUtf8(std::string_view bytes, std::size_t i) {
  const auto at = [&bytes](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  const unsigned lead = at(i);
  if (lead < 0x80) return {lead, 1, Error::None};
  std::size_t length = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, cp = lead & 0x1Fu, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, cp = lead & 0x0Fu, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, cp = lead & 0x07u, min = 0x10000;
  } else {
    return {0, 0, Error::BadLead};
  }
  if (i + length > bytes.size()) return {0, 0, Error::CutShort};
  for (std::size_t k = 1; k < length; ++k) {
    if ((at(i + k) & 0xC0) != 0x80) return {0, 0, Error::CutShort};
    cp = (cp << 6) | (at(i + k) & 0x3Fu);
  }
  if (cp < min) return {0, 0, Error::Overlong};
  if (cp >= 0xD800 && cp <= 0xDFFF) return {0, 0, Error::Surrogate};
  if (cp > 0x10FFFF) return {0, 0, Error::TooLarge};
  return {cp, length, Error::None};
}

const char* Describe(Error error) {
  switch (error) {
    case Error::None:
      return "no error";
    case Error::BadLead:
      return "a byte that cannot start a character";
    case Error::CutShort:
      return "a character cut short";
    case Error::Overlong:
      return "an overlong encoding";
    case Error::Surrogate:
      return "an encoded surrogate";
    case Error::TooLarge:
      return "a value beyond U+10FFFF";
  }
  return "an invalid sequence";
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

}  // namespace corvane::utf8
