// A worksheet part of arbitrary bytes in an otherwise sound workbook: reading it fails only with
// AutomationError; when it can be read, changing formulas (some to another formula, some to it
// and back, which rewrites them with their own text, some in their layout alone) and writing the
// part back gives a part that reads back with exactly those changes, every other formula as it
// was. (That a formula reads as its element's whole text, however comments, CDATA and
// instructions split it, is test_xlsx_cli's.)
// The rows read in one pass (in one piece, or in two halves at once) must give what the XML parser
// gives for every row: the same failure, or the same formula cells, texts and wrapping and the
// same rewritten part.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "base/automation.h"
#include "hosts/xlsx/workbook_file.h"
#include "fuzz_input.h"
#include "support/xlsx_builder.h"

using namespace corvane;
using namespace corvane::xlsx;

namespace {

// The package, in memory (/dev/shm): the test support's workbook with the given worksheet part.
struct MemoryFile {
  std::string path = (std::filesystem::path(std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp") /
                      ("corvane-fuzz-" + std::to_string(::getpid()) + ".xlsx")).string();
  ~MemoryFile() { std::filesystem::remove(path); }
  void Write(const std::string& sheet) const {
    auto entries = testsupport::XlsxBuilder().Sheet("S", "").Entries();
    for (auto& [name, content] : entries)
      if (name == "xl/worksheets/sheet1.xml") content = sheet;
    testsupport::WriteZip(path, entries, /*stored=*/true);
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

struct Reading {
  std::u16string failure;
  std::map<std::pair<std::int32_t, std::int32_t>, std::u16string> expected;
  std::vector<std::tuple<std::int32_t, std::int32_t, std::int32_t, std::int32_t, int, bool, bool>> cells;
  std::string saved;
  bool operator==(const Reading&) const = default;
};

Reading Read(const std::string& path, WorkbookFile::RowReading rows) {
  Reading r;
  try {
    auto book = WorkbookFile::Open(path, {}, rows);
    Worksheet& sheet = book->WorksheetAt(0);
    for (const auto& cell : sheet.FormulaCells({1, 1, kMaxRows, kMaxColumns}))
      r.cells.emplace_back(cell.range.row1, cell.range.col1, cell.range.row2, cell.range.col2,
                           static_cast<int>(cell.kind), cell.followsMaster, sheet.WrapAt(cell.range.row1, cell.range.col1));
    r.expected = Formulas(sheet);
    int changed = 0;
    for (const auto& [at, text] : r.expected) {
      if (++changed > 8) break;
      // A change of the formula, one made and taken back, and one of its layout alone.
      const std::u16string laidOut = u"(\n " + text + u"\n)", layoutOnly = text + u"\n ";
      const std::u16string* first = changed % 3 == 0 ? &layoutOnly : &laidOut;
      try {
        const auto block = sheet.ArrayBlockAt(at.first, at.second);
        for (const std::u16string* put : {first, changed % 3 == 1 ? &text : first})
          block ? sheet.SetArrayFormula(*block, *put) : sheet.SetFormulaAt(at.first, at.second, *put);
      } catch (const AutomationError&) {
        // Refused (a shared formula that cannot move on): the cell keeps its formula.
      }
    }
    // Other cells of moved shared formulas read what they read before; the saved part must agree.
    r.expected = Formulas(sheet);
    const auto content = sheet.SavedContent();
    const auto readAll = [&content] {
      content->Rewind();
      std::string bytes;
      char chunk[1024];
      for (std::size_t n; (n = content->Read(chunk, sizeof chunk)) > 0;) bytes.append(chunk, n);
      return bytes;
    };
    r.saved = readAll();
    // A rewind starts the part over, made afresh as its bytes are due.
    CORVANE_FUZZ_CHECK(readAll() == r.saved, "the saved part reads the same again");
  } catch (const AutomationError& e) {
    r.failure = e.description();
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static MemoryFile file;
  file.Write(std::string(reinterpret_cast<const char*>(data), size));
  const Reading plain = Read(file.path, WorkbookFile::RowReading::Plain);
  CORVANE_FUZZ_CHECK(plain == Read(file.path, WorkbookFile::RowReading::ParserOnly),
                     "the rows read plainly read as the parser reads them");
  CORVANE_FUZZ_CHECK(plain == Read(file.path, WorkbookFile::RowReading::PlainInHalves),
                     "the rows read in two halves at once read as in one");
  if (!plain.failure.empty()) return 0;
  file.Write(plain.saved);
  auto again = WorkbookFile::Open(file.path);
  CORVANE_FUZZ_CHECK(Formulas(again->WorksheetAt(0)) == plain.expected, "the saved part reads back with the changes");
  return 0;
}
