#include "hosts/xlsx/xml_text.h"

#include <array>
#include <cstring>

#include "base/automation.h"
#include "base/utf8.h"
#include "hosts/xlsx/text_kernel.h"

namespace corvane::xlsx {

namespace {

[[noreturn]] void Damaged(const char* what) {
  throw AutomationError(err::kApplicationDefined, u"The workbook file is damaged: " + Ascii16(what) + u".");
}

// What a tag's scan stops at, one lookup a byte: every tag of a worksheet passes through it.
constexpr unsigned char kEndsName = 1;  // white space, '/', '>'
constexpr unsigned char kQuote = 2;
constexpr unsigned char kTagEnd = 4;  // '>'
constexpr std::array<unsigned char, 256> kTagStops = [] {
  std::array<unsigned char, 256> t{};
  for (const unsigned char c : {' ', '\t', '\r', '\n', '/'}) t[c] = kEndsName;
  t['>'] = kEndsName | kTagEnd;
  t['"'] = t['\''] = kQuote;
  return t;
}();
unsigned char TagStop(char c) { return kTagStops[static_cast<unsigned char>(c)]; }

std::size_t Find(std::string_view xml, std::string_view what, std::size_t from, const char* damage) {
  const std::size_t at = xml.find(what, from);
  if (at == std::string_view::npos) Damaged(damage);
  return at + what.size();
}

// Attributes of a start tag: calls fn(nameBegin, nameEnd, valueBegin, valueEnd) for each; the
// value range excludes the quotes.
template <class Fn>
void ForEachAttribute(std::string_view tag, Fn fn) {
  std::size_t i = 1;
  while (i < tag.size() && !IsXmlSpace(tag[i]) && tag[i] != '>' && tag[i] != '/') ++i;
  for (;;) {
    while (i < tag.size() && IsXmlSpace(tag[i])) ++i;
    if (i >= tag.size() || tag[i] == '>' || tag[i] == '/') return;
    const std::size_t nameBegin = i;
    while (i < tag.size() && tag[i] != '=' && !IsXmlSpace(tag[i])) ++i;
    const std::size_t nameEnd = i;
    while (i < tag.size() && (IsXmlSpace(tag[i]) || tag[i] == '=')) ++i;
    if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) Damaged("an attribute without a quoted value");
    const char quote = tag[i++];
    const std::size_t valueBegin = i;
    while (i < tag.size() && tag[i] != quote) ++i;
    if (i >= tag.size()) Damaged("an attribute value that never ends");
    fn(nameBegin, nameEnd, valueBegin, i);
    ++i;
  }
}

void AppendEscapedAttribute(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c; break;
    }
  }
}

}  // namespace

Markup NextMarkup(std::string_view xml, std::size_t from) {
  Markup m;
  // Tags mostly follow one another ("</v></c>"): the search is for the text between.
  const std::size_t lt = from < xml.size() && xml[from] == '<' ? from : xml.find('<', from);
  if (lt == std::string_view::npos) return m;
  m.begin = lt;
  const char second = lt + 1 < xml.size() ? xml[lt + 1] : '\0';
  if (second == '!' || second == '?') {
    const std::string_view rest = xml.substr(lt);
    if (rest.starts_with("<!--")) {
      m.kind = Markup::Kind::Other;
      m.end = Find(xml, "-->", lt + 4, "a comment that never ends");
      return m;
    }
    if (rest.starts_with("<![CDATA[")) {
      m.kind = Markup::Kind::Other;
      m.end = Find(xml, "]]>", lt + 9, "a CDATA section that never ends");
      return m;
    }
    if (second == '?') {
      m.kind = Markup::Kind::Other;
      m.end = Find(xml, "?>", lt + 2, "a processing instruction that never ends");
      return m;
    }
    Damaged("a document type declaration where none belongs");
  }
  const bool closing = second == '/';
  std::size_t i = lt + (closing ? 2 : 1);
  const std::size_t nameBegin = i;
  while (i < xml.size() && !(TagStop(xml[i]) & kEndsName)) ++i;
  if (i == nameBegin) Damaged("a tag without a name");
  m.name = xml.substr(nameBegin, i - nameBegin);
  // The ">" outside quoted values; a quoted value (short, in worksheets) is passed over whole.
  for (; i < xml.size(); ++i) {
    const unsigned char stop = TagStop(xml[i]);
    if (stop & kTagEnd) break;
    if (stop & kQuote) {
      const char quote = xml[i];
      do ++i;
      while (i < xml.size() && xml[i] != quote);
      if (i >= xml.size()) break;
    }
  }
  if (i >= xml.size()) Damaged("a tag that never ends");
  m.end = i + 1;
  m.kind = closing ? Markup::Kind::End : (xml[i - 1] == '/' ? Markup::Kind::Empty : Markup::Kind::Start);
  return m;
}

std::size_t ElementEnd(std::string_view xml, std::size_t lt) {
  std::size_t depth = 0;
  for (std::size_t at = lt;;) {
    const Markup m = NextMarkup(xml, at);
    switch (m.kind) {
      case Markup::Kind::None:
        Damaged("an element that never ends");
      case Markup::Kind::Start:
        ++depth;
        break;
      case Markup::Kind::End:
        if (depth == 0) Damaged("an end tag without its start");
        if (--depth == 0) return m.end;
        break;
      case Markup::Kind::Empty:
        if (depth == 0) return m.end;
        break;
      case Markup::Kind::Other:
        break;
    }
    at = m.end;
  }
}

std::size_t ElementEnd(std::string_view xml, std::size_t lt, std::vector<ElementSpan>& inner) {
  std::size_t depth = 0;
  std::size_t open[3] = {};  // in `inner`: the element begun at each depth
  for (std::size_t at = lt;;) {
    const Markup m = NextMarkup(xml, at);
    switch (m.kind) {
      case Markup::Kind::None:
        Damaged("an element that never ends");
      case Markup::Kind::Start:
        if (depth == 1 || depth == 2) {
          open[depth] = inner.size();
          inner.push_back({m.begin, 0});
        }
        ++depth;
        break;
      case Markup::Kind::End:
        if (depth == 0) Damaged("an end tag without its start");
        if (--depth == 0) return m.end;
        if (depth == 1 || depth == 2) inner[open[depth]].end = m.end;
        break;
      case Markup::Kind::Empty:
        if (depth == 0) return m.end;
        if (depth == 1 || depth == 2) inner.push_back({m.begin, m.end});
        break;
      case Markup::Kind::Other:
        break;
    }
    at = m.end;
  }
}

std::string_view LocalName(std::string_view qname) {
  const auto colon = qname.find(':');
  return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

std::optional<std::string_view> RawAttribute(std::string_view tag, std::string_view name) {
  std::optional<std::string_view> found;
  ForEachAttribute(tag, [&](std::size_t nb, std::size_t ne, std::size_t vb, std::size_t ve) {
    if (!found && tag.substr(nb, ne - nb) == name) found = tag.substr(vb, ve - vb);
  });
  return found;
}

std::string RemoveAttribute(std::string_view tag, std::string_view name) {
  std::string out(tag);
  std::size_t cutBegin = 0, cutEnd = 0;
  ForEachAttribute(tag, [&](std::size_t nb, std::size_t ne, std::size_t, std::size_t ve) {
    if (cutEnd == 0 && tag.substr(nb, ne - nb) == name) {
      cutBegin = nb;
      while (cutBegin > 0 && IsXmlSpace(tag[cutBegin - 1])) --cutBegin;
      cutEnd = ve + 1;
    }
  });
  if (cutEnd > 0) out.erase(cutBegin, cutEnd - cutBegin);
  return out;
}

std::string SetAttribute(std::string_view tag, std::string_view name, std::string_view value) {
  std::string escaped;
  AppendEscapedAttribute(escaped, value);
  std::size_t valueBegin = 0, valueEnd = 0;
  bool found = false;
  ForEachAttribute(tag, [&](std::size_t nb, std::size_t ne, std::size_t vb, std::size_t ve) {
    if (!found && tag.substr(nb, ne - nb) == name) found = true, valueBegin = vb, valueEnd = ve;
  });
  std::string out(tag);
  if (found) {
    out.replace(valueBegin, valueEnd - valueBegin, escaped);
    return out;
  }
  std::size_t at = out.size() - 1;  // the ">"
  if (at > 0 && out[at - 1] == '/') --at;
  std::string attribute(" ");
  attribute.append(name).append("=\"").append(escaped).append("\"");
  out.insert(at, attribute);
  return out;
}

namespace {

// The escape of one character of element text, null for a character written as it is.
const char* EntityOf(char c, QuoteEntities quotes) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '\r': return "&#13;";
    case '"': return quotes.quot ? "&quot;" : nullptr;
    case '\'': return quotes.apos ? "&apos;" : nullptr;
    default: return nullptr;
  }
}

}  // namespace

void AppendEscapedText(std::string& out, std::string_view text, QuoteEntities quotes) {
  if (quotes.quot || quotes.apos) {
    for (const char c : text) {
      if (const char* escaped = EntityOf(c, quotes)) {
        out += escaped;
      } else {
        out += c;
      }
    }
    return;
  }
  // Runs without a character to escape go in whole.
  std::size_t start = 0;
  for (std::size_t i = kernel::NextToEscape(text, 0); i < text.size(); i = kernel::NextToEscape(text, i + 1)) {
    const char* escaped = EntityOf(text[i], quotes);
    out.append(text, start, i - start);
    out += escaped;
    start = i + 1;
  }
  out.append(text, start, std::string_view::npos);
}

std::size_t EscapedTextSize(std::string_view text, QuoteEntities quotes) {
  if (quotes.quot || quotes.apos) {
    std::size_t size = 0;
    for (const char c : text) {
      const char* escaped = EntityOf(c, quotes);
      size += escaped ? std::char_traits<char>::length(escaped) : 1;
    }
    return size;
  }
  std::size_t size = text.size();
  for (std::size_t i = kernel::NextToEscape(text, 0); i < text.size(); i = kernel::NextToEscape(text, i + 1))
    size += text[i] == '&' || text[i] == '\r' ? 4 : 3;  // "&amp;" or "&#13;", else "&lt;" or "&gt;"
  return size;
}

bool XmlCharacters(std::u16string_view text) {
  if (kernel::OrdinaryXmlText(text)) return true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') return false;
    if (c == 0xFFFE || c == 0xFFFF) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

std::optional<std::u16string> Utf16(std::string_view utf8) {
  std::u16string out;
  if (kernel::IsAscii(utf8)) {
    out.resize(utf8.size());
    char16_t* to = out.data();
    for (std::size_t i = 0; i < utf8.size(); ++i) to[i] = static_cast<char16_t>(utf8[i]);
    return out;
  }
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const utf8::Decoded d = utf8::DecodeUtf8(utf8, i);
    if (d.error != utf8::Error::None) return std::nullopt;
    utf8::AppendUtf16(out, d.codePoint);
    i += d.length;
  }
  return out;
}

std::string Utf8(std::u16string_view utf16) {
  if (!kernel::IsAscii(utf16)) return utf8::ToUtf8(utf16);
  std::string out(utf16.size(), '\0');
  char* to = out.data();
  for (std::size_t i = 0; i < utf16.size(); ++i) to[i] = static_cast<char>(utf16[i]);
  return out;
}

}  // namespace corvane::xlsx
