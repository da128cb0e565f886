// Byte-level work on the text of XML parts: finding where an element starts and ends, editing
// one attribute of a start tag, escaping text, and UTF-8 <-> UTF-16.
// Contract: these helpers never decode or re-encode what they do not change, so that the bytes
// around an edit stay exactly as they were. They assume markup that an XML parser accepted (or
// accepts afterwards); on text that is not, they throw AutomationError (1004) rather than guess.
// A document type declaration is refused: workbook parts never carry one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::xlsx {

struct Markup {
  enum class Kind { Start, End, Empty, Other, None };
  Kind kind = Kind::None;
  std::size_t begin = 0;  // the "<"
  std::size_t end = 0;    // just after the ">"
  std::string_view name;  // qualified name of a start, end or empty-element tag
};

// The next piece of markup at or after `from` (comments, CDATA sections and processing
// instructions are Other); Kind::None when there is none.
Markup NextMarkup(std::string_view xml, std::size_t from);

// Just after the end of the element whose start tag begins at `lt`.
std::size_t ElementEnd(std::string_view xml, std::size_t lt);

// The same, and the spans of the elements one and two levels inside it (a row's cells and their
// children), appended to `inner` in the order they begin: what ElementEnd would give for them.
struct ElementSpan {
  std::size_t begin = 0;
  std::size_t end = 0;
};
std::size_t ElementEnd(std::string_view xml, std::size_t lt, std::vector<ElementSpan>& inner);

// XML's white space: space, tab, carriage return, line feed.
constexpr bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The local part of a qualified name ("x:c" gives "c").
std::string_view LocalName(std::string_view qname);

// The raw value of an unprefixed attribute of a start tag (no entity decoding), if present.
std::optional<std::string_view> RawAttribute(std::string_view tag, std::string_view name);
// The tag without that attribute (and the whitespace before it).
std::string RemoveAttribute(std::string_view tag, std::string_view name);
// The tag with the attribute set to `value` (escaped here), added before the tag's end if absent.
std::string SetAttribute(std::string_view tag, std::string_view name, std::string_view value);

// Whether a file's writer escapes quotes in element text too (LibreOffice writes &quot; and
// &apos;): text written back in the same style keeps the file's own bytes.
struct QuoteEntities {
  bool quot = false;
  bool apos = false;
};
// Appends element text: &, <, > and carriage returns escaped, quotes as `quotes` says, everything
// else as it is.
void AppendEscapedText(std::string& out, std::string_view text, QuoteEntities quotes = {});
// The number of bytes AppendEscapedText appends.
std::size_t EscapedTextSize(std::string_view text, QuoteEntities quotes = {});
// Whether every character can appear in an XML 1.0 document.
bool XmlCharacters(std::u16string_view text);

// UTF-8 <-> UTF-16. Decoding refuses malformed UTF-8 (nullopt); encoding writes a lone
// surrogate as U+FFFD.
std::optional<std::u16string> Utf16(std::string_view utf8);
std::string Utf8(std::u16string_view utf16);

}  // namespace corvane::xlsx
