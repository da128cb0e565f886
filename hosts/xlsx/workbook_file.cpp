#include "hosts/xlsx/workbook_file.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <pugixml.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>
#include <memory>
#include <thread>

#include "base/automation.h"
#include "base/utf8.h"
#include "formatting/unformat.h"
#include "hosts/xlsx/case_fold.h"
#include "hosts/xlsx/xml_text.h"

namespace corvane::xlsx {

namespace {

// Rows the parser reads go to it in slices of about this many bytes, so that its tree of a large
// worksheet never exists whole.
constexpr std::size_t kSliceBytes = std::size_t{64} << 10;
// From this size of the sheet data on, its rows are read in two halves at once: below it a second
// thread costs more than it saves.
constexpr std::size_t kHalvesFromBytes = std::size_t{4} << 20;

// The spreadsheet's own limits on names.
constexpr std::size_t kMaxSheetName = 31;
constexpr std::size_t kMaxFontName = 31;  // LF_FACESIZE less its terminating zero

constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_ws_pcdata_single;
// Keeps every whitespace-only piece of text (with parse_ws_pcdata_single, pugixml keeps only a
// lone one).
constexpr unsigned kWholeTextOptions = pugi::parse_default | pugi::parse_ws_pcdata;

std::u16string Wide(std::string_view utf8) {
  auto wide = Utf16(utf8);
  return wide ? *wide : Ascii16("(text that is not UTF-8)");
}

// A file or folder name keeps its bytes: one that is not UTF-8 stands for itself as the low
// surrogates U+DC80..U+DCFF, which the file layer writes back as those bytes, so that text files
// beside the workbook land in its folder whatever the folder is called.
std::u16string PathName(std::string_view bytes) {
  return utf8::Utf8ToUtf16(bytes, [](unsigned char b) { return static_cast<char16_t>(0xDC00 + b); });
}

[[noreturn]] void Invalid(const std::string& path, std::string_view why) {
  throw AutomationError(err::kApplicationDefined,
                        u"\"" + Wide(path) + u"\" is not a valid workbook: " + Wide(why) + u"; it was not changed.");
}

std::string_view Local(const pugi::xml_node& node) { return LocalName(node.name()); }

pugi::xml_node Child(const pugi::xml_node& node, std::string_view local) {
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
    if (child.type() == pugi::node_element && Local(child) == local) return child;
  return {};
}

// The relationship id of an element: an attribute "id" in a namespace (r:id).
std::string_view RelationshipId(const pugi::xml_node& node) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    const std::string_view name = a.name();
    if (name.find(':') != std::string_view::npos && LocalName(name) == "id") return a.value();
  }
  return {};
}

bool XmlTrue(std::string_view value) { return value == "1" || value == "true"; }

// XML allows an attribute once per element. The parser reads the first of two, while a rewrite
// of the element could keep the other, so such a part is refused rather than half understood.
// One pass over an element's attributes says whether a name repeats and finds the first of each
// name in `names` (none when absent): every row, cell and formula of a worksheet is read so.
template <std::size_t N>
bool ScanAttributes(const pugi::xml_node& node, const std::array<std::string_view, N>& names,
                    std::array<pugi::xml_attribute, N>& found) {
  // A cell has a handful, compared in place; only a long list is gathered and sorted.
  constexpr std::size_t kFew = 8;
  std::string_view few[kFew];
  std::size_t count = 0;
  std::vector<std::string_view> many;
  bool repeats = false;
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    const std::string_view name = a.name();
    for (std::size_t k = 0; k < N; ++k)
      if (!found[k] && name == names[k]) found[k] = a;
    if (count < kFew) {
      repeats = repeats || std::find(few, few + count, name) != few + count;
      few[count++] = name;
    } else {
      many.push_back(name);
    }
  }
  if (!many.empty()) {
    many.insert(many.end(), few, few + kFew);
    std::sort(many.begin(), many.end());
    repeats = std::adjacent_find(many.begin(), many.end()) != many.end();
  }
  return repeats;
}

constexpr std::array<std::string_view, 3> kRowAttributes = {"r", "customFormat", "s"};
constexpr std::array<std::string_view, 2> kCellAttributes = {"r", "s"};
constexpr std::array<std::string_view, 3> kFormulaAttributes = {"t", "ref", "si"};

std::uint32_t ToIndex(std::string_view text) {
  std::uint64_t value = 0;
  if (text.empty()) return 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value >= kNoIndex) return 0;
  }
  return static_cast<std::uint32_t>(value);
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// `data` is the part's text from byte `at` on: a fault is reported where it is in the part.
void Parse(pugi::xml_document& doc, const std::string& path, const std::string& part, const char* data, std::size_t size,
           unsigned options = kParseOptions, std::size_t at = 0) {
  const pugi::xml_parse_result result = doc.load_buffer(data, size, options, pugi::encoding_utf8);
  if (!result)
    Invalid(path, "its part \"" + part + "\" is not well-formed XML (" + result.description() + " at byte " +
                      std::to_string(at + static_cast<std::size_t>(result.offset)) + ")");
}

// Resolves a relationship target against the part that holds the relationship.
std::string ResolveTarget(const std::string& path, std::string_view sourcePart, std::string_view target) {
  std::string joined;
  if (!target.empty() && target.front() == '/') {
    joined = target.substr(1);
  } else {
    const auto slash = sourcePart.rfind('/');
    joined = std::string(slash == std::string_view::npos ? std::string_view() : sourcePart.substr(0, slash + 1));
    joined += target;
  }
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= joined.size()) {
    std::size_t slash = joined.find('/', start);
    if (slash == std::string::npos) slash = joined.size();
    const std::string segment = joined.substr(start, slash - start);
    if (segment == "..") {
      if (segments.empty()) Invalid(path, "a relationship points outside the package (\"" + std::string(target) + "\")");
      segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = slash + 1;
  }
  std::string resolved;
  for (const auto& segment : segments) resolved += (resolved.empty() ? "" : "/") + segment;
  return resolved;
}

std::string RelationshipsPart(std::string_view part) {
  const auto slash = part.rfind('/');
  const std::string folder(slash == std::string_view::npos ? std::string_view() : part.substr(0, slash + 1));
  const std::string name(slash == std::string_view::npos ? part : part.substr(slash + 1));
  return folder + "_rels/" + name + ".rels";
}

struct Relationship {
  std::string type;
  std::string target;  // resolved part name
};

std::map<std::string, Relationship> ReadRelationships(const ZipPackage& package, std::string_view part) {
  std::map<std::string, Relationship> found;
  const std::string relsPart = RelationshipsPart(part);
  if (!package.Has(relsPart)) return found;
  const std::string xml = package.Read(relsPart);
  pugi::xml_document doc;
  Parse(doc, package.path(), relsPart, xml.data(), xml.size());
  for (pugi::xml_node r = Child(doc, "Relationships").first_child(); r; r = r.next_sibling()) {
    if (Local(r) != "Relationship" || std::string_view(r.attribute("TargetMode").value()) == "External") continue;
    found[r.attribute("Id").value()] =
        Relationship{r.attribute("Type").value(), ResolveTarget(package.path(), part, r.attribute("Target").value())};
  }
  return found;
}

// The whole text of an element: every text and CDATA piece in order, which a comment or a
// processing instruction may split (pugixml's text() is the first piece alone). Whitespace-only
// pieces are whole only in a document parsed with kWholeTextOptions. `markup` is set when the
// element holds elements, whose text is no part of its own.
std::string WholeText(const pugi::xml_node& node, bool* markup = nullptr) {
  std::string text = node.value();  // a first piece kept in the element (parse_embed_pcdata)
  for (pugi::xml_node piece = node.first_child(); piece; piece = piece.next_sibling()) {
    if (piece.type() == pugi::node_pcdata || piece.type() == pugi::node_cdata) {
      text += piece.value();
    } else if (piece.type() == pugi::node_element && markup) {
      *markup = true;
    }
  }
  return text;
}

// How the file escaped quotes in an element's raw text.
QuoteEntities QuotesOf(std::string_view raw) {
  if (raw.find('&') == std::string_view::npos) return {};
  return {raw.find("&quot;") != std::string_view::npos, raw.find("&apos;") != std::string_view::npos};
}

FormulaKind KindOf(std::string_view type) {
  return type == "array"       ? FormulaKind::Array
         : type == "shared"    ? FormulaKind::Shared
         : type == "dataTable" ? FormulaKind::DataTable
                               : FormulaKind::Normal;
}

// ---- Rows in their plain form ----
// Nearly every row of a worksheet is plain: tags with ASCII names and quoted attribute values,
// no comments or processing instructions, formula text with at most the five named entities.
// Such a row is read in one pass over its markup, with what the XML parser would give for it;
// any other row is left to the parser, which also says what is wrong with a damaged one.

bool PlainNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':'; }
bool PlainNameChar(char c) { return PlainNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }
// Names are a few letters: compared in place rather than by a call.
bool Same(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k)
    if (a[k] != b[k]) return false;
  return true;
}

// A plain tag's attributes, in order; a repeated one is refused (the element is then the
// parser's to refuse). Left uninitialised until written: zeroing a list for every tag of a
// worksheet cost more than reading the tag.
struct PlainAttributes {
  static constexpr std::size_t kMany = 16;
  struct Entry {
    const char* name;
    std::size_t nameSize;
    const char* value;
    std::size_t valueSize;
  } entries[kMany];
  std::size_t count = 0;

  bool Add(std::string_view name, std::string_view value) {
    for (std::size_t k = 0; k < count; ++k)
      if (Same({entries[k].name, entries[k].nameSize}, name)) return false;
    if (count == kMany) return false;
    entries[count++] = {name.data(), name.size(), value.data(), value.size()};
    return true;
  }
  // The value of `name` into `value` (nullopt when absent); false when the parser would give
  // another value for it (an entity reference, a tab or a line break in it).
  bool Get(std::string_view name, std::optional<std::string_view>& value) const {
    value.reset();
    for (std::size_t k = 0; k < count; ++k) {
      if (!Same({entries[k].name, entries[k].nameSize}, name)) continue;
      value = std::string_view(entries[k].value, entries[k].valueSize);
      for (const char c : *value)
        if (c == '&' || c == '\t' || c == '\r' || c == '\n') return false;
    }
    return true;
  }
};

// The plain tag that starts at `lt` (a "<"): a start, end or empty-element tag with a plain
// name; each attribute preceded by whitespace, named plainly, "=" and a value quoted without
// "<" in it (taken into `attributes`, emptied first); an end tag with nothing but whitespace
// after its name. Nullopt for anything else (a comment, CDATA, an instruction, another form).
std::optional<Markup> PlainTagAt(std::string_view xml, std::size_t lt, PlainAttributes& attributes) {
  attributes.count = 0;
  const std::size_t n = xml.size();
  Markup m;
  m.begin = lt;
  std::size_t i = lt + 1;
  const bool closing = i < n && xml[i] == '/';
  if (closing) ++i;
  const std::size_t nameBegin = i;
  if (i == n || !PlainNameStart(xml[i])) return std::nullopt;
  while (i < n && PlainNameChar(xml[i])) ++i;
  m.name = xml.substr(nameBegin, i - nameBegin);
  for (;;) {
    const std::size_t spaceBegin = i;
    while (i < n && IsXmlSpace(xml[i])) ++i;
    if (i == n) return std::nullopt;
    if (xml[i] == '>') {
      m.kind = closing ? Markup::Kind::End : Markup::Kind::Start;
      m.end = i + 1;
      return m;
    }
    if (closing) return std::nullopt;
    if (xml[i] == '/') {
      if (i + 1 == n || xml[i + 1] != '>') return std::nullopt;
      m.kind = Markup::Kind::Empty;
      m.end = i + 2;
      return m;
    }
    if (i == spaceBegin || !PlainNameStart(xml[i])) return std::nullopt;
    const std::size_t attributeBegin = i;
    while (i < n && PlainNameChar(xml[i])) ++i;
    const std::string_view name = xml.substr(attributeBegin, i - attributeBegin);
    while (i < n && IsXmlSpace(xml[i])) ++i;
    if (i == n || xml[i] != '=') return std::nullopt;
    ++i;
    while (i < n && IsXmlSpace(xml[i])) ++i;
    if (i == n || (xml[i] != '"' && xml[i] != '\'')) return std::nullopt;
    const char quote = xml[i++];
    const std::size_t valueBegin = i;
    while (i < n && xml[i] != quote && xml[i] != '<') ++i;
    if (i == n || xml[i] != quote || !attributes.Add(name, xml.substr(valueBegin, i - valueBegin))) return std::nullopt;
    ++i;
  }
}

// Element text as the parser gives it, when the raw text holds no carriage return and no entity
// but the five named ones.
std::optional<std::string> PlainText(std::string_view raw) {
  if (raw.find('\r') != std::string_view::npos) return std::nullopt;
  std::size_t amp = raw.find('&');
  if (amp == std::string_view::npos) return std::string(raw);
  static constexpr std::array<std::pair<std::string_view, char>, 5> kEntities = {
      {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}}};
  std::string text(raw.substr(0, amp));
  while (amp != std::string_view::npos) {
    const auto entity = std::find_if(kEntities.begin(), kEntities.end(),
                                     [&](const auto& e) { return raw.substr(amp).starts_with(e.first); });
    if (entity == kEntities.end()) return std::nullopt;
    text += entity->second;
    const std::size_t next = raw.find('&', amp + entity->first.size());
    text.append(raw.substr(amp + entity->first.size(), (next == std::string_view::npos ? raw.size() : next) - amp - entity->first.size()));
    amp = next;
  }
  return text;
}

// Digits only, as a row number the parser reads the same (at most seven of them).
std::optional<std::int32_t> PlainNumber(std::string_view text) {
  if (text.empty() || text.size() > 7) return std::nullopt;
  std::int32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// Cell value types, as the attribute t names them.
std::string_view ValueType(const pugi::xml_node& c) { return c.attribute("t").value(); }

}  // namespace

// ---- WorkbookFile ----

std::unique_ptr<WorkbookFile> WorkbookFile::Open(const std::string& path, const PackageLimits& limits, RowReading rows) {
  std::unique_ptr<WorkbookFile> book(new WorkbookFile());
  book->rowReading_ = rows;
  book->package_ = ZipPackage::Open(path, limits);
  const ZipPackage& package = *book->package_;

  {
    const auto slash = path.rfind('/');
    book->fileName_ = PathName(slash == std::string::npos ? path : path.substr(slash + 1));
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    char resolved[PATH_MAX];
    book->folder_ = PathName(realpath(folder.c_str(), resolved) ? std::string(resolved) : folder);
  }

  if (!package.Has("[Content_Types].xml")) Invalid(path, "it has no list of content types");
  const auto rootRels = ReadRelationships(package, "");
  std::string workbookPart;
  for (const auto& [id, rel] : rootRels)
    if (EndsWith(rel.type, "/officeDocument")) workbookPart = rel.target;
  if (workbookPart.empty() || !package.Has(workbookPart)) Invalid(path, "it has no workbook part");

  {
    const std::string xml = package.Read("[Content_Types].xml");
    pugi::xml_document doc;
    Parse(doc, path, "[Content_Types].xml", xml.data(), xml.size());
    std::string type;
    for (pugi::xml_node o = Child(doc, "Types").first_child(); o; o = o.next_sibling()) {
      std::string_view partName = o.attribute("PartName").value();
      if (!partName.empty() && partName.front() == '/') partName.remove_prefix(1);
      if (Local(o) == "Override" && EqualNoCase(partName, workbookPart)) type = o.attribute("ContentType").value();
    }
    if (type.find("binary") != std::string::npos)
      Invalid(path, "it is a binary workbook (.xlsb); save it as .xlsx or .xlsm");
    if (!type.empty() && type.find("spreadsheetml") == std::string::npos && type.find("ms-excel") == std::string::npos)
      Invalid(path, "its main part is not a spreadsheet (" + type + ")");
  }

  book->workbookPart_ = package.Find(workbookPart);
  const std::string workbookXml = package.Read(workbookPart);
  pugi::xml_document workbook;
  Parse(workbook, path, workbookPart, workbookXml.data(), workbookXml.size());
  const pugi::xml_node root = Child(workbook, "workbook");
  if (!root) Invalid(path, "its main part is not a spreadsheet workbook");
  const auto rels = ReadRelationships(package, workbookPart);

  std::size_t activeTab = 0;
  if (const auto view = Child(Child(root, "bookViews"), "workbookView")) activeTab = ToIndex(view.attribute("activeTab").value());
  std::size_t tab = 0;
  for (pugi::xml_node s = Child(root, "sheets").first_child(); s; s = s.next_sibling()) {
    if (Local(s) != "sheet") continue;
    const auto rel = rels.find(std::string(RelationshipId(s)));
    if (rel == rels.end()) Invalid(path, std::string("the sheet \"") + s.attribute("name").value() + "\" has no part");
    if (EndsWith(rel->second.type, "/worksheet")) {
      if (!package.Has(rel->second.target))
        Invalid(path, std::string("the part of the sheet \"") + s.attribute("name").value() + "\" is missing");
      auto name = Utf16(s.attribute("name").value());
      if (!name || name->empty()) Invalid(path, "a sheet has no readable name");
      if (name->size() > kMaxSheetName)
        Invalid(path, "the sheet name \"" + Utf8(name->substr(0, kMaxSheetName)) + "...\" is longer than the " +
                          std::to_string(kMaxSheetName) + " characters a sheet name can have");
      if (book->FindWorksheet(*name)) Invalid(path, "two sheets have the same name");
      if (tab == activeTab) book->active_ = book->sheets_.size();
      book->sheets_.push_back(std::make_unique<Worksheet>(*book, std::move(*name), package.Find(rel->second.target)));
    }
    ++tab;
  }

  for (const auto& [id, rel] : rels) {
    if (EndsWith(rel.type, "/styles") && package.Has(rel.target)) book->ReadStyles(package.Find(rel.target));
    if (EndsWith(rel.type, "/sharedStrings") && package.Has(rel.target)) book->sharedStringsPart_ = package.Find(rel.target);
  }
  return book;
}

void WorkbookFile::ReadStyles(const std::string& part) {
  const std::string xml = package_->Read(part);
  pugi::xml_document doc;
  Parse(doc, path(), part, xml.data(), xml.size());
  const pugi::xml_node sheet = Child(doc, "styleSheet");

  std::vector<pugi::xml_node> fonts;
  for (pugi::xml_node f = Child(sheet, "fonts").first_child(); f; f = f.next_sibling())
    if (Local(f) == "font") fonts.push_back(f);
  std::vector<pugi::xml_node> styleXfs;
  for (pugi::xml_node x = Child(sheet, "cellStyleXfs").first_child(); x; x = x.next_sibling())
    if (Local(x) == "xf") styleXfs.push_back(x);

  // The default cell style ("Normal", built-in style 0) decides the standard font.
  std::uint32_t normalXf = 0;
  for (pugi::xml_node s = Child(sheet, "cellStyles").first_child(); s; s = s.next_sibling()) {
    if (Local(s) == "cellStyle" && s.attribute("builtinId") && s.attribute("builtinId").as_uint(1) == 0) {
      normalXf = ToIndex(s.attribute("xfId").value());
      break;
    }
  }
  std::uint32_t fontId = 0;
  if (normalXf < styleXfs.size()) fontId = ToIndex(styleXfs[normalXf].attribute("fontId").value());
  if (fontId < fonts.size()) {
    const pugi::xml_node font = fonts[fontId];
    if (const auto name = Child(font, "name"); name && *name.attribute("val").value()) {
      if (auto wide = Utf16(name.attribute("val").value())) fontName_ = std::move(*wide);
      // The name is measured and kept in the settings under its name: no font has a longer one.
      if (fontName_.size() > kMaxFontName)
        Invalid(path(), "the font of its standard style is named \"" + Utf8(fontName_.substr(0, kMaxFontName)) +
                            "...\", longer than the " + std::to_string(kMaxFontName) + " characters a font name can have");
    }
    if (const auto size = Child(font, "sz"); size && size.attribute("val").as_double() > 0)
      fontSize_ = size.attribute("val").as_double();
  }

  auto wraps = [](const pugi::xml_node& xf) -> std::optional<bool> {
    const pugi::xml_node alignment = Child(xf, "alignment");
    if (!alignment) return std::nullopt;
    return XmlTrue(alignment.attribute("wrapText").value());
  };
  for (pugi::xml_node x = Child(sheet, "cellXfs").first_child(); x; x = x.next_sibling()) {
    if (Local(x) != "xf") continue;
    std::optional<bool> wrap = wraps(x);
    if (!wrap) {
      // Without an alignment of its own, a format takes its cell style's.
      const std::uint32_t parent = ToIndex(x.attribute("xfId").value());
      if (parent < styleXfs.size()) wrap = wraps(styleXfs[parent]);
    }
    wraps_.push_back(wrap.value_or(false));
  }
}

Worksheet* WorkbookFile::FindWorksheet(std::u16string_view name) {
  for (auto& sheet : sheets_)
    if (SameSheetName(sheet->Name(), name)) return sheet.get();
  return nullptr;
}

bool WorkbookFile::Modified() const {
  return std::any_of(sheets_.begin(), sheets_.end(), [](const auto& s) { return s->Modified(); });
}

namespace {

class TextContent final : public PartContent {
 public:
  explicit TextContent(std::string text) : text_(std::move(text)) {}
  void Rewind() override { at_ = 0; }
  std::size_t Read(char* out, std::size_t size) override {
    const std::size_t n = std::min(size, text_.size() - at_);
    std::memcpy(out, text_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  std::string text_;
  std::size_t at_ = 0;
};

// The workbook part with its calculation properties asking for a full recalculation on load:
// <calcPr> gets fullCalcOnLoad="1", or is added where the schema's order puts it.
std::string WithFullCalculation(const std::string& xml) {
  std::size_t at = 0;
  std::string_view prefix;
  for (Markup m = NextMarkup(xml, at); m.kind != Markup::Kind::None; m = NextMarkup(xml, at)) {
    at = m.end;
    if (m.kind == Markup::Kind::Other) continue;
    const std::string_view local = LocalName(m.name);
    if (local == "workbook" && m.kind == Markup::Kind::Start) {
      prefix = m.name.substr(0, m.name.size() - local.size());
      continue;
    }
    if (local == "calcPr" && m.kind != Markup::Kind::End) {
      return xml.substr(0, m.begin) + SetAttribute(std::string_view(xml).substr(m.begin, m.end - m.begin), "fullCalcOnLoad", "1") +
             xml.substr(m.end);
    }
    static constexpr std::array<std::string_view, 9> kAfter = {"oleSize",       "customWorkbookViews", "pivotCaches",
                                                               "smartTagPr",    "smartTagTypes",       "webPublishing",
                                                               "fileRecoveryPr", "webPublishObjects",  "extLst"};
    const bool after = std::find(kAfter.begin(), kAfter.end(), local) != kAfter.end();
    if ((after && m.kind != Markup::Kind::End) || (local == "workbook" && m.kind == Markup::Kind::End))
      return xml.substr(0, m.begin) + "<" + std::string(prefix) + "calcPr fullCalcOnLoad=\"1\"/>" + xml.substr(m.begin);
    if (m.kind == Markup::Kind::Start) at = ElementEnd(xml, m.begin);
  }
  return xml;
}

}  // namespace

void WorkbookFile::Save(const std::string& target) {
  std::vector<std::unique_ptr<PartContent>> contents;
  std::map<std::string, PartContent*> replaced;
  bool recalculate = false;
  for (const auto& sheet : sheets_) {
    if (!sheet->Modified()) continue;
    contents.push_back(sheet->SavedContent());
    replaced.emplace(sheet->PartName(), contents.back().get());
    recalculate = recalculate || sheet->DropsValues();
  }
  if (recalculate) {
    contents.push_back(std::make_unique<TextContent>(WithFullCalculation(package_->Read(workbookPart_))));
    replaced.emplace(workbookPart_, contents.back().get());
  }
  package_->Write(target.empty() ? path() : target, replaced);
}

const std::string& WorkbookFile::SharedString(std::size_t index) {
  if (!sharedStringsLoaded_) {
    sharedStringsLoaded_ = true;
    if (!sharedStringsPart_.empty()) {
      const std::string xml = package_->Read(sharedStringsPart_);
      pugi::xml_document doc;
      Parse(doc, path(), sharedStringsPart_, xml.data(), xml.size(), kWholeTextOptions);
      for (pugi::xml_node si = Child(doc, "sst").first_child(); si; si = si.next_sibling()) {
        if (Local(si) != "si") continue;
        std::string text;
        for (pugi::xml_node part = si.first_child(); part; part = part.next_sibling()) {
          if (Local(part) == "t") text += WholeText(part);
          if (Local(part) == "r") text += WholeText(Child(part, "t"));
        }
        sharedStrings_.push_back(std::move(text));
      }
    }
  }
  static const std::string kNone;
  return index < sharedStrings_.size() ? sharedStrings_[index] : kNone;
}

// ---- Worksheet ----

Worksheet::Worksheet(WorkbookFile& book, std::u16string name, std::string part)
    : book_(book), name_(std::move(name)), part_(std::move(part)) {
  Renew();
}

std::u16string Worksheet::Where(std::int32_t row, std::int32_t col) const {
  std::u16string sheet = name_;
  return sheet + u"!" + CellAddress(row, col);
}

void Worksheet::Load() {
  if (loaded_) return;
  xml_ = book_.package_->Read(part_);
  textReleased_ = false;
  // Room for the cells and formulas of a part of mostly short numbers (a cell about 32 bytes, a
  // formula cell twice that): growing the lists copied them again and again, and pages no cell
  // uses are never touched.
  cells_.reserve(xml_.size() / 32);
  formulas_.reserve(xml_.size() / 64);
  const std::string& path = book_.path();
  std::size_t at = 0;
  if (xml_.starts_with("\xEF\xBB\xBF")) at = 3;
  if (xml_.starts_with("\xFE\xFF") || xml_.starts_with("\xFF\xFE"))
    Invalid(path, "the worksheet part \"" + part_ + "\" is stored in UTF-16, which this program does not rewrite");

  Markup root;
  for (;;) {
    root = NextMarkup(xml_, at);
    if (root.kind == Markup::Kind::None) Invalid(path, "the worksheet part \"" + part_ + "\" is empty");
    if (root.kind != Markup::Kind::Other) break;
    at = root.end;
  }
  if (root.kind == Markup::Kind::End || LocalName(root.name) != "worksheet")
    Invalid(path, "the part \"" + part_ + "\" is not a worksheet");
  std::int32_t lastRow = 0;
  if (root.kind == Markup::Kind::Start) {
    for (at = root.end;;) {
      const Markup m = NextMarkup(xml_, at);
      if (m.kind == Markup::Kind::None) Invalid(path, "the worksheet part \"" + part_ + "\" ends too early");
      if (m.kind == Markup::Kind::End) break;
      if (m.kind == Markup::Kind::Other) {
        at = m.end;
        continue;
      }
      const std::string_view local = LocalName(m.name);
      std::size_t end = m.end;
      if (local == "sheetData" && m.kind == Markup::Kind::Start) {
        // The rows' own scan finds where the sheet data ends. A fault it meets is reported as the
        // scan of the whole element would have found it first.
        try {
          end = ReadSheetData(m.end, lastRow);
        } catch (const AutomationError&) {
          ElementEnd(xml_, m.begin);
          throw;
        }
      } else if (m.kind == Markup::Kind::Start) {
        end = ElementEnd(xml_, m.begin);
      }
      if (local == "cols") {
        pugi::xml_document doc;
        Parse(doc, path, part_, xml_.data() + m.begin, end - m.begin, kParseOptions, m.begin);
        for (pugi::xml_node c = doc.first_child().first_child(); c; c = c.next_sibling()) {
          if (Local(c) != "col") continue;
          const int min = c.attribute("min").as_int(), max = c.attribute("max").as_int();
          if (min < 1 || max < min || max > kMaxColumns) Invalid(path, "the column formats of \"" + part_ + "\" lie outside the sheet");
          columnStyles_.push_back(ColumnStyle{c.attribute("min").as_int(), c.attribute("max").as_int(),
                                              ToIndex(c.attribute("style").value())});
        }
      }
      at = end;
    }
  }
  Link();
  loaded_ = true;
}

struct Worksheet::SecondHalf {
  std::size_t from = 0;  // just after a "</row>"
  std::vector<Cell> cells;
  std::vector<Formula> formulas;
  std::map<std::int32_t, std::uint32_t> rowStyles;
  std::int32_t firstRow = 0, lastRow = 0;  // firstRow 0: no row read
  std::size_t end = 0;                     // where the rows read end
  bool read = false;                       // without a failure
  std::jthread thread;

  // Plain rows from `from` on, as far as they go (the first half goes on from `end`). The first
  // row must give its number, since the rows before it are not known here.
  void Read(std::string_view xml) noexcept {
    try {
      end = from;
      // As the first half reserves for the whole (Load).
      cells.reserve((xml.size() - from) / 32);
      formulas.reserve((xml.size() - from) / 64);
      const RowsInto into{cells, formulas, rowStyles};
      for (std::size_t r = from;;) {
        const Markup row = NextMarkup(xml, r);
        if (row.kind != Markup::Kind::Start && row.kind != Markup::Kind::Empty) break;
        if (firstRow == 0) {
          PlainAttributes attributes;
          std::optional<std::string_view> number;
          const auto tag = PlainTagAt(xml, row.begin, attributes);
          if (!tag || !Same(LocalName(tag->name), "row") || !attributes.Get("r", number) || !number) break;
        }
        if (!ReadPlainRow(xml, row.begin, lastRow, r, into)) break;
        if (firstRow == 0) firstRow = lastRow;
        end = r;
      }
      read = true;
    } catch (...) {
      read = false;  // the first half reads them itself
    }
  }
};

std::size_t Worksheet::ReadSheetData(std::size_t from, std::int32_t& lastRow) {
  // The parser stops at a zero byte, and then finds an element unfinished: a worksheet with one
  // is the parser's throughout.
  const bool plain = book_.rowReading_ != WorkbookFile::RowReading::ParserOnly &&
                     std::string_view(xml_).find('\0', from) == std::string_view::npos;
  // A large worksheet: the rows after a row's end about halfway are read on another thread
  // meanwhile, and taken when this thread's reading reaches exactly that end with nothing
  // pending, and they follow the rows before; otherwise this thread reads them as ever.
  std::unique_ptr<SecondHalf> second;
  const std::size_t halvesFrom = book_.rowReading_ == WorkbookFile::RowReading::PlainInHalves ? 0 : kHalvesFromBytes;
  if (plain && xml_.size() - from >= halvesFrom) {
    if (const std::size_t close = xml_.find("</row>", from + (xml_.size() - from) / 2); close != std::string::npos) {
      second = std::make_unique<SecondHalf>();
      second->from = close + 6;
      second->thread = std::jthread([half = second.get(), xml = std::string_view(xml_)] { half->Read(xml); });
    }
  }
  const auto takeSecondHalf = [&](std::size_t& r, bool nothingPending) {
    second->thread.join();
    if (r == second->from && nothingPending && second->read && (second->firstRow == 0 || second->firstRow > lastRow)) {
      const auto offset = static_cast<std::uint32_t>(formulas_.size());
      cells_.reserve(cells_.size() + second->cells.size());
      for (Cell& cell : second->cells) {
        if (cell.formula != kNoIndex) cell.formula += offset;
        cells_.push_back(cell);
      }
      formulas_.insert(formulas_.end(), std::make_move_iterator(second->formulas.begin()),
                       std::make_move_iterator(second->formulas.end()));
      rowStyles_.merge(second->rowStyles);
      if (second->firstRow != 0) lastRow = second->lastRow;
      r = second->end;
    }
    second.reset();
  };
  // A row the plain reader leaves starts a slice for the parser, which takes the rows after it
  // too until the slice is large enough: a worksheet written in another form is parsed in
  // slices, not a document a row, and the plain reading goes on after each.
  std::size_t sliceBegin = std::string::npos, sliceEnd = 0;
  for (std::size_t r = from;;) {
    if (second && r >= second->from) takeSecondHalf(r, sliceBegin == std::string::npos);
    const Markup row = NextMarkup(xml_, r);
    if (row.kind == Markup::Kind::None) Invalid(book_.path(), "the worksheet part \"" + part_ + "\" ends too early");
    if (row.kind == Markup::Kind::End) {
      if (sliceBegin != std::string::npos) ReadRows(sliceBegin, sliceEnd, lastRow);
      std::vector<ElementSpan>().swap(spans_);
      return row.end;
    }
    if (sliceBegin == std::string::npos && plain && row.kind != Markup::Kind::Other &&
        ReadPlainRow(xml_, row.begin, lastRow, r, RowsInto{cells_, formulas_, rowStyles_}))
      continue;
    const std::size_t rowEnd = row.kind == Markup::Kind::Start ? ElementEnd(xml_, row.begin, spans_) : row.end;
    if (sliceBegin == std::string::npos) sliceBegin = row.begin;
    sliceEnd = rowEnd;
    if (sliceEnd - sliceBegin >= kSliceBytes) {
      ReadRows(sliceBegin, sliceEnd, lastRow);
      spans_.clear();
      sliceBegin = std::string::npos;
    }
    r = rowEnd;
  }
}

void Worksheet::ReadRows(std::size_t begin, std::size_t end, std::int32_t& lastRow) {
  const std::string& path = book_.path();
  // Where the cells and formulas end, from the spans the scan of the rows found (asked in the
  // order they begin), rather than a scan of each again.
  std::size_t span = 0;
  const auto endOf = [&](std::size_t lt) {
    while (span < spans_.size() && spans_[span].begin < lt) ++span;
    return span < spans_.size() && spans_[span].begin == lt ? spans_[span].end : ElementEnd(xml_, lt);
  };
  pugi::xml_document doc;
  Parse(doc, path, part_, xml_.data() + begin, end - begin, kParseOptions | pugi::parse_fragment | pugi::parse_embed_pcdata,
        begin);
  for (pugi::xml_node row = doc.first_child(); row; row = row.next_sibling()) {
    if (row.type() != pugi::node_element || Local(row) != "row") continue;
    std::array<pugi::xml_attribute, 3> rowAttributes;  // r, customFormat, s
    if (ScanAttributes(row, kRowAttributes, rowAttributes))
      Invalid(path, "a row of \"" + part_ + "\" repeats an attribute");
    const std::int32_t rowNumber = rowAttributes[0] ? rowAttributes[0].as_int() : lastRow + 1;
    if (rowNumber <= lastRow || rowNumber > kMaxRows)
      Invalid(path, "the rows of \"" + part_ + "\" are out of order");
    lastRow = rowNumber;
    if (XmlTrue(rowAttributes[1].value())) rowStyles_[rowNumber] = ToIndex(rowAttributes[2].value());
    std::int32_t lastCol = 0;
    for (pugi::xml_node c = row.first_child(); c; c = c.next_sibling()) {
      if (c.type() != pugi::node_element || Local(c) != "c") continue;
      std::array<pugi::xml_attribute, 2> cellAttributes;  // r, s
      if (ScanAttributes(c, kCellAttributes, cellAttributes))
        Invalid(path, "a cell of \"" + part_ + "\" repeats an attribute");
      Cell cell;
      cell.row = rowNumber;
      cell.col = lastCol + 1;
      if (const char* r = cellAttributes[0].value(); *r) {
        const auto position = ParseCellAddress(std::string_view(r));
        if (!position || position->row != rowNumber) Invalid(path, std::string("the cell reference \"") + r + "\" is wrong");
        cell.col = position->col;
      }
      if (cell.col <= lastCol || cell.col > kMaxColumns) Invalid(path, "the cells of \"" + part_ + "\" are out of order");
      lastCol = cell.col;
      cell.style = ToIndex(cellAttributes[1].value());
      const std::ptrdiff_t offset = c.offset_debug();
      if (offset < 1 || xml_[begin + static_cast<std::size_t>(offset) - 1] != '<')
        throw AutomationError(err::kApplicationDefined, u"The position of a cell in its worksheet part is not known.");
      cell.begin = begin + static_cast<std::size_t>(offset) - 1;
      cell.end = endOf(cell.begin);
      if (const pugi::xml_node f = Child(c, "f")) {
        std::array<pugi::xml_attribute, 3> fAttributes;  // t, ref, si
        if (ScanAttributes(f, kFormulaAttributes, fAttributes))
          Invalid(path, "a formula of \"" + part_ + "\" repeats an attribute");
        Formula formula;
        formula.kind = KindOf(fAttributes[0].value());
        const std::ptrdiff_t fOffset = f.offset_debug();
        if (fOffset < 1 || xml_[begin + static_cast<std::size_t>(fOffset) - 1] != '<')
          throw AutomationError(err::kApplicationDefined, u"The position of a formula in its worksheet part is not known.");
        const std::size_t fBegin = begin + static_cast<std::size_t>(fOffset) - 1;
        const Markup fTag = NextMarkup(xml_, fBegin);
        const std::size_t fEnd = fTag.kind == Markup::Kind::Empty ? fTag.end : endOf(fBegin);
        const std::size_t fClose = fTag.kind == Markup::Kind::Empty ? fEnd : xml_.rfind('<', fEnd - 1);
        if (std::string_view(xml_).substr(fTag.end, fClose - fTag.end).find('<') != std::string_view::npos) {
          // Pieces split by comments, CDATA sections or processing instructions: read again with
          // every piece kept, whitespace-only ones too.
          pugi::xml_document pieces;
          Parse(pieces, path, part_, xml_.data() + fBegin, fEnd - fBegin, kWholeTextOptions, fBegin);
          formula.text = WholeText(pieces.first_child(), &formula.markup);
        } else {
          formula.text = f.text().get();
        }
        formula.quotes = QuotesOf(std::string_view(xml_).substr(fTag.end, fClose - fTag.end));
        const auto value = [](const pugi::xml_attribute& a) {
          return a ? std::optional<std::string_view>(a.value()) : std::nullopt;
        };
        if (const char* wrong = Place(formula, cell, value(fAttributes[1]), value(fAttributes[2]))) Invalid(path, wrong);
        cell.formula = static_cast<std::uint32_t>(formulas_.size());
        formulas_.push_back(std::move(formula));
      }
      cells_.push_back(cell);
    }
  }
}

const char* Worksheet::Place(Formula& formula, const Cell& cell, std::optional<std::string_view> ref,
                             std::optional<std::string_view> group) {
  const CellRect itself{cell.row, cell.col, cell.row, cell.col};
  if (formula.kind == FormulaKind::Array) {
    const auto block = ParseRangeAddress(ref.value_or(std::string_view()));
    formula.ref = block ? *block : itself;
    if (!formula.ref.Contains(cell.row, cell.col)) return "an array formula lies outside its block";
  }
  if (formula.kind == FormulaKind::Shared) {
    // The group number and whether this cell is the group's master; linked later.
    if (!group) return "a shared formula has no group";
    formula.group = ToIndex(*group);
    if (ref) {
      const auto area = ParseRangeAddress(*ref);
      formula.ref = area ? *area : itself;
      formula.cell = 0;  // marks the master until linking
    }
  }
  return nullptr;
}

bool Worksheet::ReadPlainRow(std::string_view xml, std::size_t lt, std::int32_t& lastRow, std::size_t& next,
                             const RowsInto& into) {
  const std::size_t cellsBefore = into.cells.size(), formulasBefore = into.formulas.size();
  const auto leave = [&] {
    into.cells.resize(cellsBefore);
    into.formulas.resize(formulasBefore);
    return false;
  };
  PlainAttributes attributes;
  const std::optional<Markup> rowTag = PlainTagAt(xml, lt, attributes);
  if (!rowTag || rowTag->kind == Markup::Kind::End) return false;
  const bool isRow = Same(LocalName(rowTag->name), "row");
  std::optional<std::string_view> rowAt, customFormat, rowStyle;
  std::int32_t rowNumber = lastRow;
  if (isRow) {
    if (!attributes.Get("r", rowAt) || !attributes.Get("customFormat", customFormat) || !attributes.Get("s", rowStyle))
      return false;
    const auto number = rowAt ? PlainNumber(*rowAt) : std::optional<std::int32_t>(lastRow + 1);
    if (!number || *number <= lastRow || *number > kMaxRows) return false;
    rowNumber = *number;
  }
  std::int32_t lastCol = 0;
  // The elements open inside the row, deepest last: the row's own children are its cells, theirs
  // the cell's formula. Deeper nesting than a cell's rich text needs is left to the parser.
  constexpr std::size_t kDepth = 8;
  struct Open {
    const char* data;
    std::size_t size;
  } open[kDepth];  // uninitialised until written, as the attributes are
  std::size_t depth = 0;
  Cell cell;
  bool inCell = false;
  Formula formula;
  bool hasFormula = false;
  bool bareFormula = false;  // its start tag is "<f>", with the element's prefix if any
  std::size_t formulaText = std::string::npos;  // inside an open <f>: where its text starts
  next = rowTag->end;
  for (std::size_t at = rowTag->end; rowTag->kind == Markup::Kind::Start;) {
    const std::size_t tagAt = xml.find('<', at);
    if (tagAt == std::string::npos) return leave();
    const std::optional<Markup> m = PlainTagAt(xml, tagAt, attributes);
    if (!m) return leave();
    at = m->end;
    if (m->kind == Markup::Kind::End) {
      if (depth == 0) {
        if (!Same(m->name, rowTag->name)) return leave();
        next = m->end;
        break;
      }
      --depth;
      if (!Same(m->name, {open[depth].data, open[depth].size})) return leave();
      if (depth == 1 && formulaText != std::string::npos) {
        const std::string_view raw = xml.substr(formulaText, m->begin - formulaText);
        auto text = PlainText(raw);
        if (!text) return leave();
        formula.text = std::move(*text);
        formula.quotes = QuotesOf(raw);
        if (bareFormula && m->end - m->begin == m->name.size() + 3) {
          formula.textBegin = formulaText;
          formula.textEnd = m->begin;
        }
        formulaText = std::string::npos;
      }
      if (depth == 0 && inCell) {
        cell.end = m->end;
        if (hasFormula) {
          cell.formula = static_cast<std::uint32_t>(into.formulas.size());
          into.formulas.push_back(std::move(formula));
          formula = Formula{};
        }
        into.cells.push_back(cell);
        inCell = false;
      }
      continue;
    }
    if (formulaText != std::string::npos) return leave();  // markup inside a formula
    const std::string_view local = LocalName(m->name);
    if (depth == 0 && isRow && Same(local, "c")) {
      std::optional<std::string_view> cellAt, style;
      if (!attributes.Get("r", cellAt) || !attributes.Get("s", style)) return leave();
      cell = Cell{};
      cell.row = rowNumber;
      cell.col = lastCol + 1;
      if (cellAt && !cellAt->empty()) {
        const auto position = ParseCellAddress(*cellAt);
        if (!position || position->row != rowNumber) return leave();
        cell.col = position->col;
      }
      if (cell.col <= lastCol || cell.col > kMaxColumns) return leave();
      lastCol = cell.col;
      cell.style = ToIndex(style.value_or(std::string_view()));
      cell.begin = m->begin;
      cell.end = m->end;
      hasFormula = false;
      if (m->kind == Markup::Kind::Empty) {
        into.cells.push_back(cell);
      } else {
        inCell = true;
      }
    } else if (depth == 1 && inCell && hasFormula && Same(local, "f")) {
      formula.textBegin = formula.textEnd = 0;  // a second <f>, rewritten with the first
    } else if (depth == 1 && inCell && !hasFormula && Same(local, "f")) {
      std::optional<std::string_view> type, ref, group;
      if (!attributes.Get("t", type) || !attributes.Get("ref", ref) || !attributes.Get("si", group)) return leave();
      formula = Formula{};
      formula.kind = KindOf(type.value_or(std::string_view()));
      if (Place(formula, cell, ref, group)) return leave();
      hasFormula = true;
      bareFormula = attributes.count == 0 && m->end - m->begin == m->name.size() + 2;
      if (m->kind == Markup::Kind::Start) formulaText = m->end;
    }
    if (m->kind == Markup::Kind::Start) {
      if (depth == kDepth) return leave();
      open[depth++] = {m->name.data(), m->name.size()};
    }
  }
  if (isRow) {
    lastRow = rowNumber;
    if (XmlTrue(customFormat.value_or(std::string_view())))
      into.rowStyles[rowNumber] = ToIndex(rowStyle.value_or(std::string_view()));
  }
  return true;
}

void Worksheet::Link() {
  std::map<std::uint32_t, std::uint32_t> groupOf;  // si -> group
  for (std::uint32_t i = 0; i < cells_.size(); ++i) {
    if (cells_[i].formula == kNoIndex) continue;
    Formula& f = formulas_[cells_[i].formula];
    const bool master = f.cell == 0;
    f.cell = i;
    if (f.kind == FormulaKind::Array) arrays_.push_back(cells_[i].formula);
    if (f.kind != FormulaKind::Shared) continue;
    auto [it, added] = groupOf.emplace(f.group, static_cast<std::uint32_t>(groups_.size()));
    if (added) groups_.emplace_back();
    Group& g = groups_[it->second];
    f.group = it->second;
    if (master && g.master == kNoIndex) {
      g.master = cells_[i].formula;
      g.ref = f.ref;
    }
    if (!g.members.empty()) {
      const Cell& first = cells_[formulas_[g.members.front()].cell];
      if (first.row != cells_[i].row) g.sameRow = false;
      if (first.col != cells_[i].col) g.sameColumn = false;
      g.line = g.sameRow || g.sameColumn;
    }
    g.members.push_back(cells_[i].formula);
  }
  for (const std::uint32_t a : arrays_) {
    const CellRect& block = formulas_[a].ref;
    for (std::int32_t r = block.row1; r <= block.row2; ++r) {
      auto it = std::lower_bound(cells_.begin(), cells_.end(), std::pair{r, block.col1},
                                 [](const Cell& c, const std::pair<std::int32_t, std::int32_t>& key) {
                                   return std::pair{c.row, c.col} < key;
                                 });
      for (; it != cells_.end() && it->row == r && it->col <= block.col2; ++it) {
        if (it->block != kNoIndex) Invalid(book_.path(), "two array formulas overlap");
        it->block = a;
      }
    }
  }
}

struct Worksheet::ReadCache {
  std::uint64_t state = 0;  // the worksheet's state it holds for
  std::int32_t foundRow = 0, foundCol = 0;  // row 0: no cell
  std::uint32_t found = kNoIndex;
  bool read = false;
  std::int32_t readRow = 0, readCol = 0;
  std::optional<std::u16string> text;
};

Worksheet::ReadCache& Worksheet::Cache() const {
  thread_local ReadCache cache;
  const std::uint64_t state = state_.load(std::memory_order_relaxed);
  if (cache.state != state) {
    cache = ReadCache{};
    cache.state = state;
  }
  return cache;
}

void Worksheet::Renew() {
  // Numbered across all worksheets, so that a thread's cache never passes for another's.
  static std::atomic<std::uint64_t> next{0};
  state_.store(next.fetch_add(1, std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

std::uint32_t Worksheet::Find(std::int32_t row, std::int32_t col) const {
  ReadCache& cache = Cache();
  if (cache.foundRow == row && cache.foundCol == col) return cache.found;
  const auto found = [&](std::uint32_t index) {
    cache.foundRow = row;
    cache.foundCol = col;
    cache.found = index;
    return index;
  };
  // A run over a worksheet asks for its formula cells in order: the few cells after the one found
  // last are tried first.
  if (cache.found != kNoIndex) {
    constexpr std::uint32_t kAhead = 4;
    for (std::uint32_t k = cache.found + 1; k < cells_.size() && k <= cache.found + kAhead; ++k)
      if (cells_[k].row == row && cells_[k].col == col) return found(k);
  }
  auto it = std::lower_bound(cells_.begin(), cells_.end(), std::pair{row, col},
                             [](const Cell& c, const std::pair<std::int32_t, std::int32_t>& key) {
                               return std::pair{c.row, c.col} < key;
                             });
  return found(it == cells_.end() || it->row != row || it->col != col ? kNoIndex
                                                                      : static_cast<std::uint32_t>(it - cells_.begin()));
}

std::u16string Worksheet::TextOf(const Formula& f) const {
  const Cell& cell = cells_[f.cell];
  if (f.markup)
    throw AutomationError(err::kApplicationDefined, u"The formula of " + Where(cell.row, cell.col) +
                                                        u" holds XML elements in its text; it is left alone.");
  auto text = Utf16(f.text);
  if (!text)
    throw AutomationError(err::kApplicationDefined, u"The formula of " + Where(cell.row, cell.col) + u" is not valid UTF-8.");
  return std::move(*text);
}

std::u16string Worksheet::ExpandedText(std::uint32_t index) const {
  const Formula& f = formulas_[index];
  const Cell& cell = cells_[f.cell];
  const Group& g = groups_[f.group];
  if (g.master == kNoIndex)
    throw AutomationError(err::kApplicationDefined, u"The shared formula of " + Where(cell.row, cell.col) +
                                                        u" has no master cell in the file; it is left alone.");
  const Formula& master = formulas_[g.master];
  if (g.master == index) return TextOf(master);
  const Cell& origin = cells_[master.cell];
  return ShiftReferences(TextOf(master), cell.row - origin.row, cell.col - origin.col);
}

std::vector<Worksheet::FormulaCell> Worksheet::FormulaCells(const CellRect& area) {
  Load();
  std::vector<FormulaCell> found;
  // At most one a formula: a large worksheet's list is made once, not grown by copies.
  if (area.row1 == 1 && area.col1 == 1 && area.row2 == kMaxRows && area.col2 == kMaxColumns) found.reserve(formulas_.size());
  for (const std::uint32_t a : arrays_) {
    const CellRect& b = formulas_[a].ref;
    if (b.row1 <= area.row2 && area.row1 <= b.row2 && b.col1 <= area.col2 && area.col1 <= b.col2)
      found.push_back({b, FormulaKind::Array});
  }
  auto it = std::lower_bound(cells_.begin(), cells_.end(), area.row1, [](const Cell& c, std::int32_t row) { return c.row < row; });
  for (; it != cells_.end() && it->row <= area.row2; ++it) {
    if (it->col < area.col1 || it->col > area.col2 || it->formula == kNoIndex) continue;
    const Formula& f = formulas_[it->formula];
    if (f.kind == FormulaKind::Array) continue;
    bool follows = false;
    if (f.kind == FormulaKind::Shared) {
      const std::uint32_t master = groups_[f.group].master;
      follows = master != kNoIndex && master != it->formula &&
                area.Contains(cells_[formulas_[master].cell].row, cells_[formulas_[master].cell].col);
    }
    found.push_back({CellRect{it->row, it->col, it->row, it->col}, f.kind, follows});
  }
  // In sheet order already unless array blocks came first.
  const auto before = [](const FormulaCell& a, const FormulaCell& b) {
    return std::pair{a.range.row1, a.range.col1} < std::pair{b.range.row1, b.range.col1};
  };
  if (!std::is_sorted(found.begin(), found.end(), before)) std::sort(found.begin(), found.end(), before);
  return found;
}

std::int64_t Worksheet::FormulaCellCount(const CellRect& area) {
  Load();
  std::int64_t count = 0;
  for (const std::uint32_t a : arrays_) {
    const CellRect& b = formulas_[a].ref;
    const std::int64_t rows = std::min(b.row2, area.row2) - std::max(b.row1, area.row1) + 1;
    const std::int64_t cols = std::min(b.col2, area.col2) - std::max(b.col1, area.col1) + 1;
    if (rows > 0 && cols > 0) count += rows * cols;
  }
  auto it = std::lower_bound(cells_.begin(), cells_.end(), area.row1, [](const Cell& c, std::int32_t row) { return c.row < row; });
  for (; it != cells_.end() && it->row <= area.row2; ++it) {
    if (it->col >= area.col1 && it->col <= area.col2 && it->formula != kNoIndex && it->block == kNoIndex) ++count;
  }
  return count;
}

std::size_t Worksheet::FormulaCount() {
  Load();
  std::size_t count = 0;
  for (const Formula& f : formulas_) count += f.cell != kNoIndex ? 1 : 0;
  return count;
}

const std::optional<std::u16string>& Worksheet::FormulaAt(std::int32_t row, std::int32_t col) {
  if (ReadCache& cache = Cache(); cache.read && cache.readRow == row && cache.readCol == col) return cache.text;
  auto text = StoredFormulaAt(row, col);
  // What the spreadsheet itself would not take is left alone: laying out a formula nested
  // thousands deep costs time and memory out of all proportion to its file.
  if (text) {
    if (const auto beyond = BeyondFormulaLimits(*text))
      throw AutomationError(err::kApplicationDefined, Where(row, col) + u" is left alone: " + *beyond + u".");
  }
  ReadCache& cache = Cache();
  cache.read = true;
  cache.readRow = row;
  cache.readCol = col;
  cache.text = std::move(text);
  return cache.text;
}

std::optional<std::u16string> Worksheet::StoredFormulaAt(std::int32_t row, std::int32_t col) {
  Load();
  const std::uint32_t index = Find(row, col);
  std::uint32_t block = index == kNoIndex ? kNoIndex : cells_[index].block;
  if (index == kNoIndex) {
    for (const std::uint32_t a : arrays_)
      if (formulas_[a].ref.Contains(row, col)) block = a;
  }
  if (block != kNoIndex) return TextOf(formulas_[block]);
  if (index == kNoIndex || cells_[index].formula == kNoIndex) return std::nullopt;
  const Formula& f = formulas_[cells_[index].formula];
  switch (f.kind) {
    case FormulaKind::DataTable:
      throw AutomationError(err::kApplicationDefined,
                            Where(row, col) + u" belongs to a data table (TABLE), whose formula cannot be changed; it is left alone.");
    case FormulaKind::Shared:
      return ExpandedText(cells_[index].formula);
    default:
      return TextOf(f);
  }
}

std::u16string Worksheet::ConstantAt(std::int32_t row, std::int32_t col) {
  Load();
  const std::uint32_t index = Find(row, col);
  if (index == kNoIndex) return {};
  const Cell& cell = cells_[index];
  pugi::xml_document doc;
  Parse(doc, book_.path(), part_, Text().data() + cell.begin, cell.end - cell.begin, kWholeTextOptions, cell.begin);
  const pugi::xml_node c = doc.first_child();
  const std::string_view type = ValueType(c);
  const std::string value = WholeText(Child(c, "v"));
  std::string text;
  if (type == "s") {
    text = book_.SharedString(ToIndex(value));
  } else if (type == "b") {
    text = value == "1" ? "TRUE" : "FALSE";
  } else if (type == "inlineStr") {
    const pugi::xml_node is = Child(c, "is");
    for (pugi::xml_node part = is.first_child(); part; part = part.next_sibling()) {
      if (Local(part) == "t") text += WholeText(part);
      if (Local(part) == "r") text += WholeText(Child(part, "t"));
    }
  } else {
    text = value;
  }
  return Wide(text);
}

std::optional<CellRect> Worksheet::ArrayBlockAt(std::int32_t row, std::int32_t col) {
  Load();
  const std::uint32_t index = Find(row, col);
  if (index != kNoIndex) {
    if (cells_[index].block == kNoIndex) return std::nullopt;
    return formulas_[cells_[index].block].ref;
  }
  for (const std::uint32_t a : arrays_)
    if (formulas_[a].ref.Contains(row, col)) return formulas_[a].ref;
  return std::nullopt;
}

bool Worksheet::WrapAt(std::int32_t row, std::int32_t col) {
  Load();
  const std::uint32_t index = Find(row, col);
  if (index != kNoIndex) return book_.StyleWraps(cells_[index].style);
  if (const auto it = rowStyles_.find(row); it != rowStyles_.end()) return book_.StyleWraps(it->second);
  for (const ColumnStyle& c : columnStyles_)
    if (col >= c.min && col <= c.max) return book_.StyleWraps(c.style);
  return book_.StyleWraps(0);
}

void Worksheet::LeaveGroup(std::uint32_t index) {
  Renew();  // other cells' formulas move
  Formula& f = formulas_[index];
  Group& g = groups_[f.group];
  if (g.master == index) {
    const auto belongs = [&](std::uint32_t m) {
      return m != index && formulas_[m].kind == FormulaKind::Shared && formulas_[m].group == f.group;
    };
    const Formula& old = formulas_[index];
    const Cell& origin = cells_[old.cell];
    const std::u16string text = TextOf(old);
    while (g.next < g.members.size() && !belongs(g.members[g.next])) ++g.next;
    if (g.next < g.members.size()) {
      // Every remaining member's formula, worked out before anything changes.
      std::vector<std::pair<std::uint32_t, std::string>> moved;
      std::size_t last = g.members.size();
      while (last > g.next && !belongs(g.members[last - 1])) --last;
      const std::size_t stop = g.line ? g.next + 1 : last;
      for (std::size_t k = g.next; k < stop; ++k) {
        const std::uint32_t m = g.members[k];
        if (!belongs(m)) continue;
        const Cell& cell = cells_[formulas_[m].cell];
        moved.emplace_back(m, Utf8(ShiftReferences(text, cell.row - origin.row, cell.col - origin.col)));
      }
      if (g.line) {
        // The next member becomes the master of what is left: the group keeps its shape.
        const std::uint32_t m = moved.front().first;
        formulas_[m].text = std::move(moved.front().second);
        formulas_[m].quotes = old.quotes;
        g.master = m;
        const Cell& first = cells_[formulas_[m].cell];
        const Cell& end = cells_[formulas_[g.members[last - 1]].cell];
        g.ref = CellRect{first.row, first.col, end.row, end.col};
        cells_[formulas_[m].cell].dirty = true;
      } else {
        // A block whose master goes: every member gets its own formula.
        for (auto& [m, movedText] : moved) {
          formulas_[m].text = std::move(movedText);
          formulas_[m].quotes = old.quotes;
          formulas_[m].kind = FormulaKind::Normal;
          formulas_[m].group = kNoIndex;
          cells_[formulas_[m].cell].dirty = true;
        }
        g.master = kNoIndex;
      }
    } else {
      g.master = kNoIndex;
    }
  }
  f.kind = FormulaKind::Normal;
  f.group = kNoIndex;
}

void Worksheet::SetFormulaAt(std::int32_t row, std::int32_t col, std::u16string_view fileText) {
  Load();
  const std::uint32_t index = Find(row, col);
  if (ArrayBlockAt(row, col)) throw AutomationError(err::kApplicationDefined, u"You can't change part of an array.");
  if (index == kNoIndex || cells_[index].formula == kNoIndex)
    throw AutomationError(err::kApplicationDefined,
                          Where(row, col) + u" holds no formula; in a workbook file only existing formulas are changed.");
  Cell& cell = cells_[index];
  const std::uint32_t formula = cell.formula;
  Formula& f = formulas_[formula];
  if (f.kind == FormulaKind::DataTable)
    throw AutomationError(err::kApplicationDefined, Where(row, col) + u" belongs to a data table, whose formula cannot be changed.");
  // The formula it has already: nothing changes (and the cached value stays right).
  const auto& current = FormulaAt(row, col);
  if (current && *current == fileText) return;
  const bool layoutOnly = current && SameButLayout(*current, fileText);
  std::string text = Utf8(fileText);
  Cache().read = false;
  // A shared group's members follow their master's text, whitespace included: a new layout of
  // the master keeps the group (and the file's size); anything else takes the cell out of it.
  const bool keepsGroup = f.kind != FormulaKind::Shared || (layoutOnly && groups_[f.group].master == formula);
  if (!keepsGroup) LeaveGroup(formula);
  f.text = std::move(text);
  cell.dirty = true;
  cell.dropValue = cell.dropValue || !layoutOnly;
  modified_.store(true, std::memory_order_relaxed);
}

void Worksheet::SetArrayFormula(const CellRect& block, std::u16string_view fileText) {
  Load();
  const auto existing = ArrayBlockAt(block.row1, block.col1);
  if (!existing || !(*existing == block))
    throw AutomationError(err::kApplicationDefined,
                          u"In a workbook file only the whole block of an existing array formula can be changed.");
  std::uint32_t formula = kNoIndex;
  for (const std::uint32_t a : arrays_)
    if (formulas_[a].ref == block) formula = a;
  const std::u16string current = TextOf(formulas_[formula]);
  if (current == fileText) return;
  const bool layoutOnly = SameButLayout(current, fileText);
  Renew();
  formulas_[formula].text = Utf8(fileText);
  for (std::int32_t r = block.row1; r <= block.row2; ++r) {
    for (std::int32_t c = block.col1; c <= block.col2; ++c) {
      const std::uint32_t index = Find(r, c);
      if (index == kNoIndex) continue;
      cells_[index].dirty = true;
      cells_[index].dropValue = cells_[index].dropValue || !layoutOnly;
    }
  }
  modified_.store(true, std::memory_order_relaxed);
}

bool Worksheet::DropsValues() const {
  return std::any_of(cells_.begin(), cells_.end(), [](const Cell& c) { return c.dropValue; });
}

const std::string& Worksheet::Text() const {
  if (textReleased_) {
    xml_ = book_.package_->Read(part_);
    textReleased_ = false;
  }
  return xml_;
}

void Worksheet::ReleaseText() {
  if (!loaded_ || textReleased_) return;
  std::string().swap(xml_);
  textReleased_ = true;
}

void Worksheet::Unload() {
  if (modified_) {
    ReleaseText();
    return;
  }
  std::string().swap(xml_);
  textReleased_ = false;
  std::vector<Cell>().swap(cells_);
  std::vector<Formula>().swap(formulas_);
  std::vector<Group>().swap(groups_);
  std::vector<std::uint32_t>().swap(arrays_);
  Renew();
  rowStyles_.clear();
  std::vector<ColumnStyle>().swap(columnStyles_);
  loaded_ = false;
}

void Worksheet::DropSavedText() const {
  if (!loaded_ || textReleased_) return;
  std::string().swap(xml_);
  textReleased_ = true;
}

void Worksheet::AppendCell(std::string& out, const Cell& cell, std::size_t& textAt) const {
  const std::string_view fragment(Text().data() + cell.begin, cell.end - cell.begin);
  const Formula* formula = cell.formula != kNoIndex ? &formulas_[cell.formula] : nullptr;
  // A formula of its own changed only by its layout, held in a bare <f> of plain text: what the
  // rest of this would write is the element as it is around the text.
  if (formula && formula->textEnd != 0 && formula->kind == FormulaKind::Normal && !cell.dropValue) {
    out.append(fragment.substr(0, formula->textBegin - cell.begin));
    textAt = out.size();
    out.append(fragment.substr(formula->textEnd - cell.begin));
    return;
  }
  const Markup start = NextMarkup(fragment, 0);
  std::string tag(fragment.substr(0, start.end));
  if (cell.dropValue) tag = RemoveAttribute(RemoveAttribute(tag, "t"), "vm");
  const bool empty = start.kind == Markup::Kind::Empty;
  if (empty) tag.erase(tag.rfind('/'), 1);
  const std::string_view qname = start.name;
  const std::string_view prefix = qname.substr(0, qname.size() - LocalName(qname).size());

  const auto appendFormula = [&](std::string_view original) {
    std::string ftag;
    std::string fname = std::string(prefix) + "f";
    if (!original.empty()) {
      const Markup m = NextMarkup(original, 0);
      ftag = std::string(original.substr(0, m.end));
      fname = std::string(m.name);
      if (m.kind == Markup::Kind::Empty) ftag.erase(ftag.rfind('/'), 1);
    } else {
      ftag = "<" + fname + ">";
    }
    // A bare "<f>" has no attribute to remove.
    if (formula->kind == FormulaKind::Normal && ftag.size() != fname.size() + 2) {
      ftag = RemoveAttribute(RemoveAttribute(RemoveAttribute(ftag, "t"), "ref"), "si");
    } else if (formula->kind == FormulaKind::Shared) {
      ftag = SetAttribute(ftag, "ref", Utf8(RangeAddress(groups_[formula->group].ref)));
    }
    out.append(ftag);
    // The text goes in when written; a second <f> in the cell (which the parse passed over) is
    // rewritten with it as well, in place.
    if (textAt == std::string::npos)
      textAt = out.size();
    else
      AppendEscapedText(out, formula->text, formula->quotes);
    out.append("</");
    out.append(fname);
    out.append(">");
  };

  out.append(tag);
  if (empty) {
    if (formula) appendFormula({});
    out.append("</");
    out.append(qname);
    out.append(">");
    return;
  }
  bool wroteFormula = false;
  std::size_t copyFrom = start.end;
  for (std::size_t at = start.end;;) {
    const Markup m = NextMarkup(fragment, at);
    if (m.kind == Markup::Kind::End || m.kind == Markup::Kind::None) break;
    if (m.kind == Markup::Kind::Other) {
      at = m.end;
      continue;
    }
    const std::size_t childEnd = m.kind == Markup::Kind::Empty ? m.end : ElementEnd(fragment, m.begin);
    const std::string_view local = LocalName(m.name);
    out.append(fragment.substr(copyFrom, m.begin - copyFrom));
    if (local == "f" && formula) {
      appendFormula(fragment.substr(m.begin, childEnd - m.begin));
      wroteFormula = true;
    } else if (!(cell.dropValue && (local == "v" || local == "is"))) {
      out.append(fragment.substr(m.begin, childEnd - m.begin));
    }
    copyFrom = at = childEnd;
  }
  if (formula && !wroteFormula) appendFormula({});
  out.append(fragment.substr(copyFrom));
}

// The saved part: the original text up to each changed cell, the cell's new element, and on.
// Each element is made as its bytes are due, its formula's text escaped into it then, so that
// the formulas are not held twice and the compressor starts on the first bytes at once.
class Worksheet::Content final : public PartContent {
 public:
  explicit Content(const Worksheet& sheet) : sheet_(sheet), releases_(sheet.textReleased_) {
    for (const Cell& cell : sheet.cells_)
      if (cell.dirty) changed_.push_back(&cell);
    // The cells are read in the text's order; a sort is the rare exception's.
    const auto before = [](const Cell* a, const Cell* b) { return a->begin < b->begin; };
    if (!std::is_sorted(changed_.begin(), changed_.end(), before)) std::sort(changed_.begin(), changed_.end(), before);
  }

  void Rewind() override {
    at_ = next_ = pendingAt_ = 0;
    pending_.clear();
  }

  std::size_t Read(char* out, std::size_t size) override {
    const std::string& xml = sheet_.Text();
    std::size_t written = 0;
    while (written < size) {
      if (pendingAt_ < pending_.size()) {
        const std::size_t n = std::min(size - written, pending_.size() - pendingAt_);
        std::memcpy(out + written, pending_.data() + pendingAt_, n);
        pendingAt_ += n;
        written += n;
        continue;
      }
      const std::size_t stop = next_ < changed_.size() ? changed_[next_]->begin : xml.size();
      if (at_ < stop) {
        const std::size_t n = std::min(size - written, stop - at_);
        std::memcpy(out + written, xml.data() + at_, n);
        at_ += n;
        written += n;
        continue;
      }
      if (next_ == changed_.size()) {
        // A worksheet that had let its text go holds it only while it is being written.
        if (releases_) sheet_.DropSavedText();
        break;
      }
      const Cell& cell = *changed_[next_];
      element_.clear();
      std::size_t textAt = std::string::npos;
      sheet_.AppendCell(element_, cell, textAt);
      pending_.clear();
      if (textAt == std::string::npos) {
        pending_.swap(element_);
      } else {
        const Formula& formula = sheet_.formulas_[cell.formula];
        pending_.append(element_, 0, textAt);
        AppendEscapedText(pending_, formula.text, formula.quotes);
        pending_.append(element_, textAt);
      }
      pendingAt_ = 0;
      at_ = cell.end;
      ++next_;
    }
    return written;
  }

 private:
  const Worksheet& sheet_;
  const bool releases_;
  std::vector<const Cell*> changed_;
  std::size_t at_ = 0;
  std::size_t next_ = 0;
  std::string element_;  // the next changed cell's element around its formula's text
  std::string pending_;  // its bytes not yet read
  std::size_t pendingAt_ = 0;
};

std::unique_ptr<PartContent> Worksheet::SavedContent() const { return std::make_unique<Content>(*this); }

}  // namespace corvane::xlsx
