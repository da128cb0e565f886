#include "support/xlsx_builder.h"

#include <zip.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace corvane::testsupport {

namespace {

constexpr const char* kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr const char* kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr const char* kPkgRel = "http://schemas.openxmlformats.org/package/2006/relationships";

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> XlsxBuilder::Entries() const {
  const std::string xml = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";
  const std::string officeType = "application/vnd.openxmlformats-officedocument.spreadsheetml.";
  const std::string relType = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  const auto override = [&](const std::string& part, const std::string& type) {
    return "<Override PartName=\"/xl/" + part + "\" ContentType=\"" + officeType + type + "+xml\"/>";
  };
  std::string types = xml + "\n" + R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)" +
                      R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)" +
                      R"(<Default Extension="xml" ContentType="application/xml"/>)" + override("workbook.xml", "sheet.main");
  std::string workbook = xml + "\n<workbook xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel + "\"><bookViews><workbookView activeTab=\"" +
                         std::to_string(activeTab_) + "\"/></bookViews><sheets>";
  std::string rels = xml + "\n<Relationships xmlns=\"" + kPkgRel + "\">";
  std::size_t id = 1;
  const auto relationship = [&](const std::string& type, const std::string& target) {
    rels += "<Relationship Id=\"rId" + std::to_string(id++) + "\" Type=\"" + relType + type + "\" Target=\"" + target + "\"/>";
  };
  for (std::size_t i = 1; i <= sheets_.size(); ++i) {
    types += override("worksheets/sheet" + std::to_string(i) + ".xml", "worksheet");
    workbook += "<sheet name=\"" + XmlEscape(sheets_[i - 1].name) + "\" sheetId=\"" + std::to_string(i) + "\" r:id=\"rId" +
                std::to_string(i) + "\"/>";
    relationship("worksheet", "worksheets/sheet" + std::to_string(i) + ".xml");
  }
  types += override("styles.xml", "styles");
  relationship("styles", "styles.xml");
  if (!strings_.empty()) types += override("sharedStrings.xml", "sharedStrings"), relationship("sharedStrings", "sharedStrings.xml");
  if (!calcChain_.empty()) types += override("calcChain.xml", "calcChain"), relationship("calcChain", "calcChain.xml");
  workbook += "</sheets>" + (names_.empty() ? "" : "<definedNames>" + names_ + "</definedNames>") + "<calcPr calcId=\"191029\"/>"
              R"(<extLst><ext uri="{140A7094-0E35-4892-8432-C4D2E57EDEB5}" xmlns:x15="http://schemas.microsoft.com/office/spreadsheetml/2010/11/main"><x15:workbookPr chartTrackingRefBase="1"/></ext></extLst>)"
              "</workbook>";

  std::vector<std::pair<std::string, std::string>> entries = {
      {"[Content_Types].xml", types + "</Types>"},
      {"_rels/.rels", xml + "\n<Relationships xmlns=\"" + kPkgRel + "\"><Relationship Id=\"rId1\" Type=\"" + relType +
                          "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
      {"xl/workbook.xml", workbook},
      {"xl/_rels/workbook.xml.rels", rels + "</Relationships>"}};
  for (std::size_t i = 0; i < sheets_.size(); ++i)
    entries.emplace_back("xl/worksheets/sheet" + std::to_string(i + 1) + ".xml",
                         xml + "\r\n<worksheet xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel + "\">" + sheets_[i].before + "<sheetData>" +
                             sheets_[i].cells + "</sheetData>" + sheets_[i].after + "</worksheet>");
  std::ostringstream size;
  size << size_;
  entries.emplace_back(
      "xl/styles.xml",
      xml + "\n<styleSheet xmlns=\"" + kMain + "\"><fonts count=\"2\"><font><sz val=\"" + size.str() + "\"/><name val=\"" +
          XmlEscape(font_) + "\"/></font><font><b/><sz val=\"9\"/><name val=\"Arial\"/></font></fonts>"
          R"(<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>)"
          R"(<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>)"
          R"(<cellStyleXfs count="2"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/>)"
          R"(<xf numFmtId="0" fontId="1" fillId="0" borderId="0"><alignment wrapText="1"/></xf></cellStyleXfs>)"
          R"(<cellXfs count="4"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>)"
          R"(<xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0" applyAlignment="1"><alignment wrapText="1"/></xf>)"
          R"(<xf numFmtId="0" fontId="1" fillId="0" borderId="0" xfId="1"/>)"
          R"(<xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0" applyAlignment="1"><alignment horizontal="left"/></xf></cellXfs>)"
          R"(<cellStyles count="2"><cellStyle name="Normal" xfId="0" builtinId="0"/><cellStyle name="Wrapped" xfId="1"/></cellStyles>)"
          "</styleSheet>");
  if (!strings_.empty()) {
    std::string sst = xml + "\n<sst xmlns=\"" + kMain + "\" count=\"" + std::to_string(strings_.size()) + "\" uniqueCount=\"" +
                      std::to_string(strings_.size()) + "\">";
    for (const auto& s : strings_) sst += "<si><t xml:space=\"preserve\">" + XmlEscape(s) + "</t></si>";
    entries.emplace_back("xl/sharedStrings.xml", sst + "</sst>");
  }
  if (!calcChain_.empty())
    entries.emplace_back("xl/calcChain.xml", xml + "\n<calcChain xmlns=\"" + kMain + "\">" + calcChain_ + "</calcChain>");
  entries.emplace_back("docProps/app.xml", xml + R"(<Properties xmlns="http://schemas.openxmlformats.org/officeDocument/2006/extended-properties"><Application>Corvane tests</Application></Properties>)");
  entries.insert(entries.end(), extra_.begin(), extra_.end());
  return entries;
}

void XlsxBuilder::Write(const std::filesystem::path& path) const { WriteZip(path, Entries(), stored_); }

void WriteZip(const std::filesystem::path& path, const std::vector<std::pair<std::string, std::string>>& entries,
              bool stored) {
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!zip) throw std::runtime_error("cannot create " + path.string());
  for (const auto& [name, content] : entries) {
    zip_source_t* source = zip_source_buffer(zip, content.data(), content.size(), 0);
    const zip_int64_t index = source ? zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE) : -1;
    if (index < 0) {
      if (source) zip_source_free(source);
      zip_discard(zip);
      throw std::runtime_error("cannot add " + name);
    }
    zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
    zip_file_set_mtime(zip, static_cast<zip_uint64_t>(index), 1700000000, 0);
  }
  if (zip_close(zip) != 0) {
    zip_discard(zip);
    throw std::runtime_error("cannot write " + path.string());
  }
}

std::vector<ZipEntry> ReadZip(const std::filesystem::path& path) {
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &error);
  if (!zip) throw std::runtime_error("cannot open " + path.string());
  std::vector<ZipEntry> entries;
  const zip_int64_t count = zip_get_num_entries(zip, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    zip_stat_index(zip, static_cast<zip_uint64_t>(i), 0, &st);
    ZipEntry entry;
    entry.name = st.name;
    entry.crc = st.crc;
    entry.packedSize = st.comp_size;
    entry.method = st.comp_method;
    entry.mtime = static_cast<std::int64_t>(st.mtime);
    entry.content.resize(static_cast<std::size_t>(st.size));
    zip_file_t* file = zip_fopen_index(zip, static_cast<zip_uint64_t>(i), 0);
    const zip_int64_t n = file ? zip_fread(file, entry.content.data(), entry.content.size()) : -1;
    if (file) zip_fclose(file);
    if (n != static_cast<zip_int64_t>(entry.content.size())) {
      zip_discard(zip);
      throw std::runtime_error("cannot read " + entry.name);
    }
    entries.push_back(std::move(entry));
  }
  zip_discard(zip);
  return entries;
}

std::map<std::string, std::string> ZipContents(const std::filesystem::path& path) {
  std::map<std::string, std::string> contents;
  for (auto& entry : ReadZip(path)) contents.emplace(entry.name, std::move(entry.content));
  return contents;
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "corvane-xlsx-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempFolder::Files() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace corvane::testsupport
