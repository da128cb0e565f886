// A worksheet part of arbitrary bytes in an otherwise sound workbook: reading it fails only with
// AutomationError; when it can be read, changing formulas and writing the part back gives a part
// that reads back with exactly those changes, every other formula as it was.
#include <sys/mman.h>
#include <unistd.h>
#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "addin/automation.h"
#include "hosts/xlsx/workbook_file.h"

using namespace corvane;
using namespace corvane::xlsx;

namespace {

constexpr const char* kTypes =
    R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/></Types>)";
constexpr const char* kRootRels =
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)";
constexpr const char* kWorkbook =
    R"(<workbook xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>)";
constexpr const char* kWorkbookRels =
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/></Relationships>)";

// The package lives in a memory file, reachable by a path.
struct MemoryFile {
  int fd = memfd_create("fuzz-workbook", 0);
  std::string path = "/proc/self/fd/" + std::to_string(fd);

  void Write(const std::string& sheet) {
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, nullptr);
    zip_source_keep(buffer);
    zip_t* zip = zip_open_from_source(buffer, ZIP_TRUNCATE, nullptr);
    const std::pair<const char*, std::string> entries[] = {{"[Content_Types].xml", kTypes},
                                                           {"_rels/.rels", kRootRels},
                                                           {"xl/workbook.xml", kWorkbook},
                                                           {"xl/_rels/workbook.xml.rels", kWorkbookRels},
                                                           {"xl/worksheets/sheet1.xml", sheet}};
    for (const auto& [name, content] : entries)
      zip_file_add(zip, name, zip_source_buffer(zip, content.data(), content.size(), 0), 0);
    if (zip_close(zip) != 0) std::abort();
    std::string bytes;
    zip_source_open(buffer);
    char chunk[4096];
    for (zip_int64_t n; (n = zip_source_read(buffer, chunk, sizeof chunk)) > 0;) bytes.append(chunk, static_cast<std::size_t>(n));
    zip_source_close(buffer);
    zip_source_free(buffer);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) std::abort();
  }
};

std::map<std::pair<std::int32_t, std::int32_t>, std::u16string> Formulas(Worksheet& sheet) {
  std::map<std::pair<std::int32_t, std::int32_t>, std::u16string> found;
  for (const auto& cell : sheet.FormulaCells({1, 1, kMaxRows, kMaxColumns})) {
    try {
      if (auto text = sheet.FormulaAt(cell.range.row1, cell.range.col1)) found[{cell.range.row1, cell.range.col1}] = *text;
    } catch (const AutomationError&) {
      // Unreadable (data table, a shared formula that cannot move): not compared.
    }
  }
  return found;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static MemoryFile file;
  file.Write(std::string(reinterpret_cast<const char*>(data), size));
  std::map<std::pair<std::int32_t, std::int32_t>, std::u16string> expected;
  std::string saved;
  try {
    auto book = WorkbookFile::Open(file.path);
    Worksheet& sheet = book->WorksheetAt(0);
    expected = Formulas(sheet);
    int changed = 0;
    for (const auto& [at, text] : expected) {
      if (++changed > 8) break;
      const std::u16string laidOut = u"(\n " + text + u"\n)";
      try {
        if (sheet.ArrayBlockAt(at.first, at.second)) {
          sheet.SetArrayFormula(*sheet.ArrayBlockAt(at.first, at.second), laidOut);
        } else {
          sheet.SetFormulaAt(at.first, at.second, laidOut);
        }
      } catch (const AutomationError&) {
        // Refused (a shared formula that cannot move on): the cell keeps its formula.
      }
    }
    // Other cells of moved shared formulas read what they read before; the saved part must agree.
    expected = Formulas(sheet);
    const auto content = sheet.SavedContent();
    content->Rewind();
    char chunk[1024];
    for (std::size_t n; (n = content->Read(chunk, sizeof chunk)) > 0;) saved.append(chunk, n);
    Check(saved.size() == content->Size(), "the saved part has its announced size");
  } catch (const AutomationError&) {
    return 0;
  }
  file.Write(saved);
  auto again = WorkbookFile::Open(file.path);
  Check(Formulas(again->WorksheetAt(0)) == expected, "the saved part reads back with the changes");
  return 0;
}
