// Workbook files made by the tests themselves: a small but complete .xlsx package (content
// types, relationships, workbook, styles, worksheets, shared strings, calculation chain), and
// the means to look into packages afterwards.
//
//   XlsxBuilder book;
//   book.Sheet("Sheet1", R"(<row r="1"><c r="A1"><f>SUM(1,2)</f><v>3</v></c></row>)");
//   book.Write(dir / "Book.xlsx");
//
// Cell formats of the styles part: 0 plain, 1 wraps text, 2 wraps through its cell style,
// 3 has an alignment without wrapping.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/files.h"

namespace corvane::testsupport {

class XlsxBuilder {
 public:
  XlsxBuilder& Font(std::string name, double size) { font_ = std::move(name); size_ = size; return *this; }
  // A worksheet: `cells` is the content of its <sheetData>; `before` and `after` raw XML placed
  // before and after it (columns, merged cells, an extension list, ...).
  XlsxBuilder& Sheet(std::string name, std::string cells, std::string before = {}, std::string after = {}) {
    sheets_.push_back({std::move(name), std::move(cells), std::move(before), std::move(after)});
    return *this;
  }
  XlsxBuilder& SharedStrings(std::vector<std::string> strings) { strings_ = std::move(strings); return *this; }
  XlsxBuilder& CalcChain(std::string cells) { calcChain_ = std::move(cells); return *this; }  // the content of <calcChain>
  XlsxBuilder& ActiveTab(int tab) { activeTab_ = tab; return *this; }
  XlsxBuilder& DefinedNames(std::string names) { names_ = std::move(names); return *this; }  // the content of <definedNames>
  // Another entry, written as given (after the standard ones).
  XlsxBuilder& Entry(std::string name, std::string content) { extra_.emplace_back(std::move(name), std::move(content)); return *this; }
  XlsxBuilder& Stored(bool stored) { stored_ = stored; return *this; }  // entries stored instead of deflated

  // The entries of the package, in order.
  std::vector<std::pair<std::string, std::string>> Entries() const;
  void Write(const std::filesystem::path& path) const;

 private:
  struct SheetSpec {
    std::string name, cells, before, after;
  };
  std::string font_ = "Calibri";
  double size_ = 11;
  std::vector<SheetSpec> sheets_;
  std::vector<std::string> strings_;
  std::string calcChain_, names_;
  int activeTab_ = 0;
  std::vector<std::pair<std::string, std::string>> extra_;
  bool stored_ = false;
};

// Writes entries as a ZIP package.
void WriteZip(const std::filesystem::path& path, const std::vector<std::pair<std::string, std::string>>& entries,
              bool stored = false);

struct ZipEntry {
  std::string name;
  std::string content;    // uncompressed
  std::uint32_t crc = 0;
  std::uint64_t packedSize = 0;
  std::uint16_t method = 0;
  std::int64_t mtime = 0;
};
// Every entry of a package, in order; throws std::runtime_error when it cannot be read.
std::vector<ZipEntry> ReadZip(const std::filesystem::path& path);
std::map<std::string, std::string> ZipContents(const std::filesystem::path& path);

// The formula (file form) of every formula cell of every worksheet, by "Sheet!A1"; each cell of
// an array block and of a shared formula is listed with the formula it reads. Data tables are
// left out.
std::map<std::string, std::string> FormulasOf(const std::filesystem::path& path);
// The names of the entries whose content, CRC, compressed size, method or time differ (the two
// packages must have the same entries in the same order; a test failure says otherwise).
std::vector<std::string> ChangedEntries(const std::filesystem::path& before, const std::filesystem::path& after);


// A fresh folder removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // Names of the files in the folder, sorted.
  std::vector<std::string> Files() const;

 private:
  std::filesystem::path path_;
};

}  // namespace corvane::testsupport
