// Looking into workbook files written by the program under test (see xlsx_builder.h).
#include <gtest/gtest.h>

#include "hosts/xlsx/workbook_file.h"
#include "hosts/xlsx/xml_text.h"
#include "support/xlsx_builder.h"

namespace corvane::testsupport {

std::map<std::string, std::string> FormulasOf(const std::filesystem::path& path) {
  using namespace corvane::xlsx;
  auto book = WorkbookFile::Open(path.string());
  std::map<std::string, std::string> formulas;
  for (std::size_t i = 0; i < book->WorksheetCount(); ++i) {
    Worksheet& sheet = book->WorksheetAt(i);
    for (const auto& cell : sheet.FormulaCells({1, 1, kMaxRows, kMaxColumns})) {
      if (cell.kind == FormulaKind::DataTable) continue;
      for (std::int32_t r = cell.range.row1; r <= cell.range.row2; ++r)
        for (std::int32_t c = cell.range.col1; c <= cell.range.col2; ++c)
          formulas[Utf8(sheet.Name() + u"!" + CellAddress(r, c))] = Utf8(*sheet.FormulaAt(r, c));
    }
  }
  return formulas;
}

std::vector<std::string> ChangedEntries(const std::filesystem::path& before, const std::filesystem::path& after) {
  const auto a = ReadZip(before);
  const auto b = ReadZip(after);
  std::vector<std::string> changed;
  EXPECT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    EXPECT_EQ(a[i].name, b[i].name) << "entry " << i << " moved";
    const bool same = a[i].content == b[i].content && a[i].crc == b[i].crc && a[i].packedSize == b[i].packedSize &&
                      a[i].method == b[i].method && a[i].mtime == b[i].mtime;
    if (!same) changed.push_back(a[i].name);
  }
  return changed;
}

}  // namespace corvane::testsupport
