// Files that are no usable workbook: each gives a clear error and is left exactly as it was.
// And the container's write-back: entries copied as their original compressed bytes.
#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "hosts/xlsx/workbook_file.h"
#include "support/corpus.h"
#include "support/xlsx_builder.h"

namespace corvane::xlsx {
namespace {

namespace fs = std::filesystem;
using corpus::Utf16ToUtf8;
using testsupport::TempFolder;
using testsupport::XlsxBuilder;

constexpr const char* kCells = R"(<row r="1"><c r="A1"><f>SUM(1,2)</f><v>3</v></c></row>)";

// Opens the file and reads every worksheet; returns the error's text ("" when it worked).
std::string OpenError(const fs::path& path, const PackageLimits& limits = {}) {
  try {
    auto book = WorkbookFile::Open(path.string(), limits);
    for (std::size_t i = 0; i < book->WorksheetCount(); ++i) book->WorksheetAt(i).FormulaCount();
  } catch (const AutomationError& e) {
    return Utf16ToUtf8(e.description());
  }
  return "";
}

struct Refusal {
  const char* what;
  std::function<void(const fs::path&)> make;
  const char* message;  // a part of the error's text
  PackageLimits limits = {};
};

// The entries of the standard workbook with one of them renamed or added.
std::vector<std::pair<std::string, std::string>> WithEntry(const std::string& name, const std::string& content) {
  auto entries = XlsxBuilder().Sheet("S", kCells).Entries();
  entries.emplace_back(name, content);
  return entries;
}

// Sets the uncompressed size of an entry in both its local and its central header.
void MisstateSize(const fs::path& path, const std::string& name, std::uint32_t size) {
  std::string bytes = testsupport::ReadBytes(path);
  const auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<char>((v >> (8 * k)) & 0xFF);
  };
  const auto get16 = [&](std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
  };
  int patched = 0;
  for (std::size_t at = 0; (at = bytes.find("PK", at)) != std::string::npos; ++at) {
    if (bytes.compare(at, 4, std::string("PK\x03\x04", 4)) == 0 && bytes.compare(at + 30, name.size(), name) == 0 &&
        get16(at + 26) == name.size()) {
      put32(at + 22, size), ++patched;
    } else if (bytes.compare(at, 4, std::string("PK\x01\x02", 4)) == 0 && get16(at + 28) == name.size() &&
               bytes.compare(at + 46, name.size(), name) == 0) {
      put32(at + 24, size), ++patched;
    }
  }
  ASSERT_EQ(patched, 2);
  testsupport::WriteBytes(path, bytes);
}

TEST(XlsxPackage, FilesThatAreNoUsableWorkbookAreRefusedAndLeftAlone) {
  const std::string big(300000, 'x');
  PackageLimits small;
  small.maxPartSize = 100000;
  PackageLimits fewEntries;
  fewEntries.maxEntries = 5;
  PackageLimits spaced;
  spaced.plausibleRatioFrom = 1 << 20;
  const std::vector<Refusal> cases = {
      {"text", [](const fs::path& p) { testsupport::WriteBytes(p, "Name,Value\nA,1\n"); }, "not a workbook file"},
      {"empty", [](const fs::path& p) { testsupport::WriteBytes(p, ""); }, "not a workbook file"},
      {"encrypted workbook",
       [](const fs::path& p) {
         std::string cfb("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
         cfb += std::string(1000, '\0');
         for (const char c : std::string("EncryptedPackage")) cfb += c, cfb += '\0';
         testsupport::WriteBytes(p, cfb);
       },
       "encrypted workbook"},
      {"old binary workbook",
       [](const fs::path& p) { testsupport::WriteBytes(p, std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\0')); },
       "old binary workbook"},
      {"parent folder", [](const fs::path& p) { testsupport::WriteZip(p, WithEntry("../evil.xml", "x")); }, "leaves the package"},
      {"inner parent", [](const fs::path& p) { testsupport::WriteZip(p, WithEntry("xl/../../evil.xml", "x")); }, "leaves the package"},
      {"absolute", [](const fs::path& p) { testsupport::WriteZip(p, WithEntry("/etc/evil.xml", "x")); }, "leaves the package"},
      {"backslash", [](const fs::path& p) { testsupport::WriteZip(p, WithEntry("..\\evil.xml", "x")); }, "leaves the package"},
      {"drive", [](const fs::path& p) { testsupport::WriteZip(p, WithEntry("C:/evil.xml", "x")); }, "leaves the package"},
      {"same name twice", [](const fs::path& p) { testsupport::WriteZip(p, WithEntry("XL/Workbook.xml", "x")); }, "twice"},
      {"too large a part", [&](const fs::path& p) { testsupport::WriteZip(p, WithEntry("xl/big.xml", big)); }, "ZIP bomb", small},
      {"too many entries", [](const fs::path& p) { testsupport::WriteZip(p, WithEntry("x.xml", "x")); }, "ZIP bomb", fewEntries},
      {"no content types",
       [](const fs::path& p) {
         auto entries = XlsxBuilder().Sheet("S", kCells).Entries();
         entries.erase(entries.begin());
         testsupport::WriteZip(p, entries);
       },
       "content types"},
      {"no workbook", [](const fs::path& p) { testsupport::WriteZip(p, {{"[Content_Types].xml", "<Types/>"}}); }, "no workbook part"},
      {"binary workbook",
       [](const fs::path& p) {
         auto entries = XlsxBuilder().Sheet("S", kCells).Entries();
         auto& types = entries.front().second;
         types.replace(types.find("sheet.main+xml"), 14, "sheet.binary.macroEnabled.main");
         testsupport::WriteZip(p, entries);
       },
       ".xlsb"},
      {"a document", [](const fs::path& p) {
         auto entries = XlsxBuilder().Sheet("S", kCells).Entries();
         auto& types = entries.front().second;
         types.replace(types.find("spreadsheetml.sheet.main+xml"), 28, "wordprocessingml.document.main+xml");
         testsupport::WriteZip(p, entries);
       },
       "not a spreadsheet"},
      {"damaged sheet", [](const fs::path& p) { XlsxBuilder().Sheet("S", R"(<row r="1"><c r="A1"><f>1</c></row>)").Write(p); },
       "not well-formed"},
      {"document type", [](const fs::path& p) {
         auto entries = XlsxBuilder().Sheet("S", kCells).Entries();
         for (auto& [name, content] : entries)
           if (name == "xl/worksheets/sheet1.xml")
             content.insert(content.find("<worksheet"), "<!DOCTYPE worksheet [<!ENTITY e \"x\">]>");
         testsupport::WriteZip(p, entries);
       },
       "document type declaration"},
      // Beyond the spreadsheet's own limits on names and on the sheet.
      {"long sheet name", [](const fs::path& p) { XlsxBuilder().Sheet(std::string(32, 'S'), kCells).Write(p); },
       "longer than the 31 characters a sheet name can have"},
      {"long font name", [](const fs::path& p) { XlsxBuilder().Font(std::string(100000, 'F'), 11).Sheet("S", kCells).Write(p); },
       "longer than the 31 characters a font name can have"},
      {"columns beyond the sheet",
       [](const fs::path& p) { XlsxBuilder().Sheet("S", kCells, R"(<cols><col min="1" max="16385" width="9"/></cols>)").Write(p); },
       "lie outside the sheet"},
      {"row beyond the sheet", [](const fs::path& p) { XlsxBuilder().Sheet("S", R"(<row r="1048577"/>)").Write(p); }, "out of order"},
      {"cell beyond the sheet", [](const fs::path& p) { XlsxBuilder().Sheet("S", R"(<row r="1"><c r="XFE1"/></row>)").Write(p); },
       "is wrong"},
      // 512 MB of spaces in 2.3 MB, in small: far more than a spreadsheet's part ever packs.
      {"padded worksheet", [](const fs::path& p) { XlsxBuilder().Sheet("S", kCells, std::string(40 << 20, ' ')).Write(p); },
       "ZIP bomb"},
      {"padding spread over parts",
       [](const fs::path& p) {
         auto entries = XlsxBuilder().Sheet("S", kCells).Entries();
         for (int k = 0; k < 3; ++k) entries.emplace_back("xl/pad" + std::to_string(k) + ".xml", std::string(600 << 10, ' '));
         testsupport::WriteZip(p, entries);
       },
       "ZIP bomb", spaced},
      {"sheet part missing", [](const fs::path& p) {
         auto entries = XlsxBuilder().Sheet("S", kCells).Entries();
         std::erase_if(entries, [](const auto& e) { return e.first == "xl/worksheets/sheet1.xml"; });
         testsupport::WriteZip(p, entries);
       },
       "is missing"},
  };
  TempFolder folder;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path path = folder / (std::string(c.what) + ".xlsx");
    c.make(path);
    const std::string before = testsupport::ReadBytes(path);
    const std::string error = OpenError(path, c.limits);
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(testsupport::ReadBytes(path), before);
  }
  EXPECT_EQ(folder.Files().size(), cases.size()) << "nothing else was written";
}

TEST(XlsxPackage, AnEntryThatUnpacksToMoreThanItsHeaderSaysIsRefused) {
  TempFolder folder;
  const fs::path path = folder / "bomb.xlsx";
  XlsxBuilder().Sheet("S", std::string(kCells) + std::string(5000, ' ')).Write(path);
  MisstateSize(path, "xl/worksheets/sheet1.xml", 100);
  const std::string before = testsupport::ReadBytes(path);
  const std::string error = OpenError(path);
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(error.find("ZIP bomb") != std::string::npos || error.find("damaged") != std::string::npos) << error;
  EXPECT_EQ(testsupport::ReadBytes(path), before);

  // A header that claims more than deflate can reach.
  const fs::path claims = folder / "claims.xlsx";
  XlsxBuilder().Sheet("S", kCells).Write(claims);
  MisstateSize(claims, "xl/worksheets/sheet1.xml", 900000000);
  EXPECT_NE(OpenError(claims).find("ZIP bomb"), std::string::npos) << OpenError(claims);
}

TEST(XlsxPackage, AWorkbookAsCompressibleAsSpreadsheetsWriteThemIsAccepted) {
  // Beyond the ratio's threshold (lowered here to keep the test small), formatted empty cells,
  // as repetitive as worksheets come, still open.
  PackageLimits limits;
  limits.plausibleRatioFrom = 1 << 20;
  std::string rows;
  for (int r = 1; rows.size() < (3 << 20); ++r) {
    rows += "<row r=\"" + std::to_string(r) + "\">";
    for (const char* col : {"A", "B", "C", "D", "E", "F", "G", "H"}) rows += std::string("<c r=\"") + col + std::to_string(r) + "\" s=\"1\"/>";
    rows += "</row>";
  }
  TempFolder folder;
  XlsxBuilder().Sheet("S", rows).Write(folder / "cells.xlsx");
  EXPECT_EQ(OpenError(folder / "cells.xlsx", limits), "");
}

TEST(XlsxPackage, EncryptedEntriesAreRefused) {
  TempFolder folder;
  const fs::path path = folder / "aes.xlsx";
  XlsxBuilder().Sheet("S", kCells).Write(path);
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), 0, &error);
  ASSERT_NE(zip, nullptr);
  const zip_int64_t index = zip_name_locate(zip, "xl/worksheets/sheet1.xml", 0);
  if (zip_file_set_encryption(zip, static_cast<zip_uint64_t>(index), ZIP_EM_AES_256, "secret") != 0) {
    zip_discard(zip);
    GTEST_SKIP() << "this libzip cannot encrypt entries";
  }
  ASSERT_EQ(zip_close(zip), 0);
  EXPECT_NE(OpenError(path).find("encrypted entries"), std::string::npos) << OpenError(path);
}

TEST(XlsxPackage, WritingCopiesEveryOtherEntryAsItsCompressedBytes) {
  TempFolder folder;
  for (const bool stored : {false, true}) {
    SCOPED_TRACE(stored ? "stored entries" : "deflated entries");
    const fs::path path = folder / "in.xlsx";
    XlsxBuilder().Sheet("S", kCells).Sheet("T", kCells).Entry("customXml/item1.xml", std::string(20000, 'a')).Stored(stored).Write(path);
    auto book = WorkbookFile::Open(path.string());
    book->WorksheetAt(1).SetFormulaAt(1, 1, u"SUM(1, 2)");
    const fs::path out = folder / "out.xlsx";
    book->Save(out.string());
    const auto before = testsupport::ReadZip(path);
    const auto after = testsupport::ReadZip(out);
    ASSERT_EQ(before.size(), after.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
      SCOPED_TRACE(before[i].name);
      EXPECT_EQ(after[i].name, before[i].name);
      EXPECT_EQ(after[i].mtime, before[i].mtime);
      if (before[i].name == "xl/worksheets/sheet2.xml") {
        EXPECT_NE(after[i].content, before[i].content);
        EXPECT_EQ(after[i].method, ZIP_CM_DEFLATE);
        continue;
      }
      EXPECT_EQ(after[i].content, before[i].content);
      EXPECT_EQ(after[i].crc, before[i].crc);
      EXPECT_EQ(after[i].method, before[i].method);
      EXPECT_EQ(after[i].packedSize, before[i].packedSize) << "copied, not compressed again";
    }
  }
}

// The archive comment comes back byte for byte, also one in a legacy code page that libzip will
// not set (a Latin-1 "été"), and one that is empty.
TEST(XlsxPackage, WritingKeepsTheArchiveCommentByteForByte) {
  TempFolder folder;
  for (const std::string& comment :
       {std::string("\xE9t\xE9 \x80\xFF"), std::string("Caf\xC3\xA9 (UTF-8)"), std::string()}) {
    SCOPED_TRACE(comment);
    const fs::path path = folder / "in.xlsx";
    XlsxBuilder().Sheet("S", kCells).Write(path);
    // The builder writes no comment: the end record is the last 22 bytes, with a length of 0.
    std::string bytes = testsupport::ReadBytes(path);
    ASSERT_EQ(bytes.compare(bytes.size() - 22, 4, "PK\x05\x06"), 0);
    bytes[bytes.size() - 2] = static_cast<char>(comment.size());
    testsupport::WriteBytes(path, bytes + comment);

    auto book = WorkbookFile::Open(path.string());
    book->WorksheetAt(0).SetFormulaAt(1, 1, u"SUM(1, 2)");
    const fs::path out = folder / "out.xlsx";
    book->Save(out.string());
    const std::string written = testsupport::ReadBytes(out);
    ASSERT_GE(written.size(), 22 + comment.size());
    EXPECT_EQ(written.substr(written.size() - comment.size()), comment);
    const std::string end = written.substr(written.size() - comment.size() - 22, 22);
    EXPECT_EQ(end.compare(0, 4, "PK\x05\x06"), 0);
    EXPECT_EQ(static_cast<std::size_t>(static_cast<unsigned char>(end[20]) | static_cast<unsigned char>(end[21]) << 8),
              comment.size());
    EXPECT_EQ(Utf16ToUtf8(*WorkbookFile::Open(out.string())->WorksheetAt(0).FormulaAt(1, 1)), "SUM(1, 2)");
  }
}

}  // namespace
}  // namespace corvane::xlsx
