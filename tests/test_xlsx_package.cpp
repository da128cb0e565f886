// Files that are no usable workbook: each gives a clear error and is left exactly as it was.
// And the container's write-back: entries copied as their original compressed bytes, the
// archive comment kept, new parts deflated in blocks side by side into one stream.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "hosts/xlsx/block_deflate.h"
#include "hosts/xlsx/workbook_file.h"
#include "hosts/xlsx/zip_package.h"
#include "support/corpus.h"
#include "support/xlsx_builder.h"

namespace corvane::xlsx {
namespace {

namespace fs = std::filesystem;
using corpus::Utf16ToUtf8;
using testsupport::TempFolder;
using testsupport::WriteBytes;
using testsupport::XlsxBuilder;
using Entries = std::vector<std::pair<std::string, std::string>>;

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

Entries Standard() { return XlsxBuilder().Sheet("S", kCells).Entries(); }
Entries With(const std::string& name, const std::string& content) {
  auto entries = Standard();
  entries.emplace_back(name, content);
  return entries;
}
// The standard entries with `from` replaced by `to` in the entry `name` ("" to drop the entry).
Entries Edited(const std::string& name, const std::string& from, const std::string& to) {
  auto entries = Standard();
  std::erase_if(entries, [&](const auto& e) { return e.first == name && from.empty(); });
  for (auto& [entry, content] : entries)
    if (entry == name) content.replace(content.find(from), from.size(), to);
  return entries;
}

// Sets the uncompressed size of the worksheet's entry in its local and its central header.
void MisstateSize(const fs::path& path, std::uint32_t size) {
  const std::string name = "xl/worksheets/sheet1.xml";
  std::string bytes = testsupport::ReadBytes(path);
  int patched = 0;
  for (std::size_t at = 0; (at = bytes.find("PK", at)) != std::string::npos; ++at) {
    const bool local = bytes.compare(at, 4, "PK\x03\x04") == 0 && bytes.compare(at + 30, name.size(), name) == 0;
    const bool central = bytes.compare(at, 4, "PK\x01\x02") == 0 && bytes.compare(at + 46, name.size(), name) == 0;
    if (!local && !central) continue;
    for (int k = 0; k < 4; ++k) bytes[at + (local ? 22 : 24) + k] = static_cast<char>((size >> (8 * k)) & 0xFF);
    ++patched;
  }
  ASSERT_EQ(patched, 2);
  WriteBytes(path, bytes);
}

TEST(XlsxPackage, FilesThatAreNoUsableWorkbookAreRefusedAndLeftAlone) {
  PackageLimits small, fewEntries, spaced;
  small.maxPartSize = 100000;
  fewEntries.maxEntries = 5;
  spaced.plausibleRatioFrom = 1 << 20;
  const std::string cfb("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  const auto zip = [](const Entries& entries) { return [entries](const fs::path& p) { testsupport::WriteZip(p, entries); }; };
  const auto book = [](const XlsxBuilder& b) { return [b](const fs::path& p) { b.Write(p); }; };
  const auto bytes = [](const std::string& b) { return [b](const fs::path& p) { WriteBytes(p, b); }; };
  const std::string rels = "xl/_rels/workbook.xml.rels", types = "[Content_Types].xml";
  Entries padded = Standard();
  for (int k = 0; k < 3; ++k) padded.emplace_back("xl/pad" + std::to_string(k) + ".xml", std::string(600 << 10, ' '));
  std::string encrypted = cfb + std::string(1000, '\0');
  for (const char c : std::string("EncryptedPackage")) encrypted += std::string{c, '\0'};
  const struct {
    const char* what;
    std::function<void(const fs::path&)> make;
    const char* message;  // a part of the error's text; "" for a file that opens
    PackageLimits limits = {};
  } cases[] = {
      {"text", bytes("Name,Value\nA,1\n"), "not a workbook file"},
      {"empty", bytes(""), "not a workbook file"},
      {"encrypted workbook", bytes(encrypted), "encrypted workbook"},
      {"old binary workbook", bytes(cfb + std::string(600, '\0')), "old binary workbook"},
      {"parent folder", zip(With("../evil.xml", "x")), "leaves the package"},
      {"inner parent", zip(With("xl/../../evil.xml", "x")), "leaves the package"},
      {"absolute", zip(With("/etc/evil.xml", "x")), "leaves the package"},
      {"backslash", zip(With("..\\evil.xml", "x")), "leaves the package"},
      {"drive", zip(With("C:/evil.xml", "x")), "leaves the package"},
      // A relationship's target is resolved against its part: ".." may climb only within.
      {"target up and in", zip(Edited(rels, "\"worksheets/", "\"../xl/worksheets/")), ""},
      {"target outside", zip(Edited(rels, "\"worksheets/", "\"../../worksheets/")), "points outside the package"},
      {"same name twice", zip(With("XL/Workbook.xml", "x")), "twice"},
      {"too large a part", zip(With("xl/big.xml", std::string(300000, 'x'))), "ZIP bomb", small},
      {"too many entries", zip(With("x.xml", "x")), "ZIP bomb", fewEntries},
      {"no content types", zip(Edited(types, "", "")), "content types"},
      {"no workbook", zip({{types, "<Types/>"}}), "no workbook part"},
      {"binary workbook", zip(Edited(types, "sheet.main+xml", "sheet.binary.macroEnabled.main")), ".xlsb"},
      {"a document", zip(Edited(types, "spreadsheetml.sheet.main+xml", "wordprocessingml.document.main+xml")), "not a spreadsheet"},
      {"damaged sheet", book(XlsxBuilder().Sheet("S", R"(<row r="1"><c r="A1"><f>1</c></row>)")), "not well-formed"},
      // An attribute twice: reading would see the first and a rewrite could keep the second.
      {"row attribute twice", book(XlsxBuilder().Sheet("S", R"(<row r="1" r="1"><c r="A1"><f>1+1</f></c></row>)")), "repeats an attribute"},
      {"cell attribute twice", book(XlsxBuilder().Sheet("S", R"(<row r="1"><c r="A1" r="A1"><f>1+1</f></c></row>)")), "repeats an attribute"},
      {"formula attribute twice",
       book(XlsxBuilder().Sheet("S", R"(<row r="1"><c r="A1"><f t="shared" ref="A1:A2" si="0" t="shared" si="0"/></c></row>)")),
       "repeats an attribute"},
      {"document type", zip(Edited("xl/worksheets/sheet1.xml", "<worksheet", "<!DOCTYPE worksheet [<!ENTITY e \"x\">]><worksheet")),
       "document type declaration"},
      {"sheet part missing", zip(Edited("xl/worksheets/sheet1.xml", "", "")), "is missing"},
      // Beyond the spreadsheet's own limits on names and on the sheet.
      {"long sheet name", book(XlsxBuilder().Sheet(std::string(32, 'S'), kCells)), "longer than the 31 characters a sheet name can have"},
      {"long font name", book(XlsxBuilder().Font(std::string(100000, 'F'), 11).Sheet("S", kCells)),
       "longer than the 31 characters a font name can have"},
      {"columns beyond the sheet", book(XlsxBuilder().Sheet("S", kCells, R"(<cols><col min="1" max="16385" width="9"/></cols>)")),
       "lie outside the sheet"},
      {"row beyond the sheet", book(XlsxBuilder().Sheet("S", R"(<row r="1048577"/>)")), "out of order"},
      {"cell beyond the sheet", book(XlsxBuilder().Sheet("S", R"(<row r="1"><c r="XFE1"/></row>)")), "is wrong"},
      // 512 MB of spaces in 2.3 MB, in small: far more than a spreadsheet's part ever packs.
      {"padded worksheet", book(XlsxBuilder().Sheet("S", kCells, std::string(40 << 20, ' '))), "ZIP bomb"},
      {"padding spread over parts", zip(padded), "ZIP bomb", spaced},
  };
  TempFolder folder;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path path = folder / (std::string(c.what) + ".xlsx");
    c.make(path);
    const std::string before = testsupport::ReadBytes(path);
    const std::string error = OpenError(path, c.limits);
    if (*c.message == '\0') {
      EXPECT_EQ(error, "");
    } else {
      EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    EXPECT_EQ(testsupport::ReadBytes(path), before);
  }
  EXPECT_EQ(folder.Files().size(), std::size(cases)) << "nothing else was written";

  // An entry that unpacks to more than its header says, or whose header claims more than
  // deflate can reach.
  const fs::path bomb = folder / "bomb.xlsx";
  XlsxBuilder().Sheet("S", std::string(kCells) + std::string(5000, ' ')).Write(bomb);
  MisstateSize(bomb, 100);
  const std::string error = OpenError(bomb);
  EXPECT_TRUE(error.find("ZIP bomb") != std::string::npos || error.find("damaged") != std::string::npos) << error;
  XlsxBuilder().Sheet("S", kCells).Write(bomb);
  MisstateSize(bomb, 900000000);
  EXPECT_NE(OpenError(bomb).find("ZIP bomb"), std::string::npos) << OpenError(bomb);

  // Beyond the ratio's threshold (lowered here), formatted empty cells, as repetitive as
  // worksheets come, still open.
  std::string rows;
  for (int r = 1; rows.size() < (3 << 20); ++r) {
    rows += "<row r=\"" + std::to_string(r) + "\">";
    for (const char* col : {"A", "B", "C", "D", "E", "F", "G", "H"}) rows += std::string("<c r=\"") + col + std::to_string(r) + "\" s=\"1\"/>";
    rows += "</row>";
  }
  XlsxBuilder().Sheet("S", rows).Write(folder / "cells.xlsx");
  EXPECT_EQ(OpenError(folder / "cells.xlsx", spaced), "");
}

// Every entry but the changed worksheet is copied as its stored bytes (deflated ones: the host's
// save test); the archive comment comes back byte for byte, also in a legacy code page that
// libzip will not set (a Latin-1 "été").
// A deflated part is read whole in one call: it reads as the streamed read gives it, whatever
// its content and size, and a damaged one fails with the streamed read's message (a size
// misstated either way, a wrong CRC, damaged deflated bytes).
TEST(XlsxPackage, APartReadWholeReadsAsTheStreamedReadGivesIt) {
  TempFolder folder;
  const fs::path path = folder / "Parts.xlsx";
  const std::string name = "xl/data.bin";
  const auto read = [&](ZipPackage::Inflating how) {
    try {
      return "read: " + ZipPackage::Open(path.string())->Read(name, how);
    } catch (const AutomationError& e) {
      return "failed: " + Utf16ToUtf8(e.description());
    }
  };
  std::string noise(300000, '\0');
  std::generate(noise.begin(), noise.end(), std::mt19937(11));
  std::string text;
  while (text.size() < 200000) text += kCells;
  for (const std::string& content : {std::string(), std::string("x"), std::string(70000, 'a'), noise, text,
                                     noise.substr(0, 65537) + text}) {
    testsupport::WriteZip(path, With(name, content));
    EXPECT_EQ(read(ZipPackage::Inflating::Whole), "read: " + content);
    EXPECT_EQ(read(ZipPackage::Inflating::Streamed), "read: " + content);
  }
  // Offsets in the entry's local header: CRC 14, compressed size 18, size 22; in its central
  // header 16, 20 and 24. `edit` changes the bytes of the entry's headers or of its data.
  const auto damaged = [&](const std::function<void(std::string&, std::size_t, std::size_t)>& edit) {
    testsupport::WriteZip(path, With(name, text));
    std::string bytes = testsupport::ReadBytes(path);
    for (std::size_t at = 0; (at = bytes.find("PK", at)) != std::string::npos; ++at) {
      if (bytes.compare(at, 4, "PK\x03\x04") == 0 && bytes.compare(at + 30, name.size(), name) == 0) edit(bytes, at, 0);
      if (bytes.compare(at, 4, "PK\x01\x02") == 0 && bytes.compare(at + 46, name.size(), name) == 0) edit(bytes, at, 2);
    }
    WriteBytes(path, bytes);
    const std::string streamed = read(ZipPackage::Inflating::Streamed);
    EXPECT_TRUE(streamed.starts_with("failed: ")) << streamed.substr(0, 100);
    EXPECT_EQ(read(ZipPackage::Inflating::Whole), streamed);
  };
  const auto field = [](std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<char>((value >> (8 * k)) & 0xFF);
  };
  for (const std::uint32_t size : {std::uint32_t{1000}, static_cast<std::uint32_t>(text.size() + 1000)})
    damaged([&](std::string& bytes, std::size_t at, std::size_t central) { field(bytes, at + 22 + central, size); });
  damaged([&](std::string& bytes, std::size_t at, std::size_t central) { field(bytes, at + 14 + central, 12345); });
  damaged([&](std::string& bytes, std::size_t at, std::size_t central) {
    if (central != 0) return;
    const auto le = [&](std::size_t k, int n) {
      std::size_t v = 0;
      for (int i = n - 1; i >= 0; --i) v = v * 256 + static_cast<unsigned char>(bytes[k + i]);
      return v;
    };
    const std::size_t data = at + 30 + le(at + 26, 2) + le(at + 28, 2);
    bytes[data + le(at + 18, 4) / 2] ^= 0x5A;
  });
}

TEST(XlsxPackage, WritingCopiesEveryOtherEntryAndTheCommentAsTheyWere) {
  TempFolder folder;
  const fs::path path = folder / "in.xlsx", out = folder / "out.xlsx";
  XlsxBuilder().Sheet("S", kCells).Sheet("T", kCells).Entry("customXml/item1.xml", std::string(20000, 'a')).Stored(true).Write(path);
  const std::string comment("\xE9t\xE9 \x80\xFF");
  // The builder writes no comment: the end record is the last 22 bytes, with a length of 0.
  std::string bytes = testsupport::ReadBytes(path);
  bytes[bytes.size() - 2] = static_cast<char>(comment.size());
  WriteBytes(path, bytes + comment);
  auto book = WorkbookFile::Open(path.string());
  book->WorksheetAt(1).SetFormulaAt(1, 1, u"SUM(1, 2)");
  book->Save(out.string());
  EXPECT_EQ(testsupport::ChangedEntries(path, out), std::vector<std::string>{"xl/worksheets/sheet2.xml"});
  const std::string written = testsupport::ReadBytes(out);
  EXPECT_EQ(written.substr(written.size() - comment.size() - 22, 4), "PK\x05\x06");
  EXPECT_EQ(written.substr(written.size() - comment.size() - 2), (std::string{static_cast<char>(comment.size()), '\0'} + comment));
  EXPECT_EQ(Utf16ToUtf8(*WorkbookFile::Open(out.string())->WorksheetAt(1).FormulaAt(1, 1)), "SUM(1, 2)");
  // The new part is deflated and, as libzip records its own fastest deflate, marked "fast".
  const std::string name = "xl/worksheets/sheet2.xml";
  std::size_t at = 0;
  while ((at = written.find("PK\x01\x02", at)) != std::string::npos && written.compare(at + 46, name.size(), name) != 0) ++at;
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(static_cast<unsigned char>(written[at + 8]) & 0x06, 0x04) << "general purpose flags";
  EXPECT_EQ(static_cast<unsigned char>(written[at + 10]), Z_DEFLATED) << "method";
}

// A part's content from a string, read in pieces of at most `piece` bytes; it fails at
// `failAt` when that is set.
class StringContent final : public PartContent {
 public:
  explicit StringContent(std::string text, std::size_t piece = 7000, std::size_t failAt = std::string::npos)
      : text_(std::move(text)), piece_(piece), failAt_(failAt) {}
  void Rewind() override { at_ = 0; }
  std::size_t Read(char* out, std::size_t size) override {
    if (at_ >= failAt_) throw std::runtime_error("the content failed");
    const std::size_t n = std::min({size, piece_, text_.size() - at_});
    std::copy_n(text_.data() + at_, n, out);
    at_ += n;
    return n;
  }

 private:
  std::string text_;
  std::size_t piece_, failAt_, at_ = 0;
};

std::string Inflated(const std::string& raw) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -MAX_WBITS), Z_OK);
  std::string out;
  char chunk[1 << 14];
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
  z.avail_in = static_cast<uInt>(raw.size());
  int result = Z_OK;
  while (result == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(chunk);
    z.avail_out = sizeof chunk;
    result = inflate(&z, Z_NO_FLUSH);
    out.append(chunk, sizeof chunk - z.avail_out);
  }
  EXPECT_EQ(result, Z_STREAM_END) << "one whole stream";
  EXPECT_EQ(z.avail_in, 0U) << "nothing after its end";
  inflateEnd(&z);
  return out;
}

// Indented lines, as laid-out formulas are: what repeats lies across the blocks' cuts.
std::string LaidOutLines(std::size_t size) {
  std::string text;
  for (std::size_t k = 0; text.size() < size; ++k)
    text += std::string(4 * (k % 9), ' ') + "IF(Sheet" + std::to_string(k % 37) + "!A" + std::to_string(k * 7919 % 1000) + ",\n";
  text.resize(size);
  return text;
}

TEST(XlsxPackage, PartsDeflatedInBlocksAreOneStreamOfTheirContent) {
  constexpr std::size_t kBlock = 32768;
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{1000}, kBlock - 1, kBlock, kBlock + 1,
                                  7 * kBlock + 123, 12 * kBlock}) {
    const std::string text = LaidOutLines(size);
    StringContent content(text);
    const DeflatedPart whole = DeflateWhole(content, 1);
    const std::string onOneThread = DeflateInBlocks(content, 1, kBlock, 1).Joined();
    for (const unsigned threads : {1U, 2U, 5U}) {
      SCOPED_TRACE("size " + std::to_string(size) + ", threads " + std::to_string(threads));
      const DeflatedPart part = DeflateInBlocks(content, 1, kBlock, threads);
      EXPECT_EQ(part.Joined(), onOneThread) << "the same file however many processors";
      EXPECT_EQ(Inflated(part.Joined()), text);
      EXPECT_EQ(part.size, text.size());
      EXPECT_EQ(part.crc, crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
      if (size <= kBlock) {
        EXPECT_EQ(part.Joined(), whole.Joined()) << "one block is one plain stream";
      } else {
        // Each block sees the one before it: barely larger than one stream.
        EXPECT_LE(part.compressedSize, whole.compressedSize + whole.compressedSize / 20 + 16 * (size / kBlock));
      }
    }
    EXPECT_EQ(Inflated(whole.Joined()), text);
    EXPECT_EQ(whole.crc, crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
  }
  // What repeats the end of the block before costs almost nothing, as in one stream.
  std::mt19937 draw(17);
  std::string random(20000, ' ');
  for (char& c : random) c = static_cast<char>('a' + draw() % 26);
  std::string repeated;
  for (int k = 0; k < 13; ++k) repeated += random;
  StringContent content(repeated);
  EXPECT_LT(DeflateInBlocks(content, 1, kBlock, 2).compressedSize, DeflateWhole(content, 1).compressedSize + 1600);
  // Blocks that deflate to more than the compressor's output takes in one step.
  std::string noise(300000, ' ');
  for (char& c : noise) c = static_cast<char>(draw());
  StringContent noisy(noise);
  for (const unsigned threads : {1U, 2U}) EXPECT_EQ(Inflated(DeflateInBlocks(noisy, 1, 4 * kBlock, threads).Joined()), noise);
  EXPECT_EQ(Inflated(DeflateWhole(noisy, 1).Joined()), noise);
}

TEST(XlsxPackage, AFailingContentFailsTheDeflateOnTheCallingThread) {
  constexpr std::size_t kBlock = 32768;
  for (const unsigned threads : {1U, 3U}) {
    StringContent failing(LaidOutLines(40 * kBlock), kBlock, 20 * kBlock);
    EXPECT_THROW(DeflateInBlocks(failing, 1, kBlock, threads), std::runtime_error);
  }
}

// Shared strings at any index, a rich one joined from its runs without its phonetic guide; a
// standard font of size 0 keeps the default size.
TEST(XlsxPackage, ReadsSharedStringsByIndexAndNoFontSizeOfZero) {
  TempFolder dir;
  std::vector<std::string> strings(11, "plain");
  strings[10] = "tenth";
  Entries entries = XlsxBuilder().Font("Arial", 0).SharedStrings(strings)
                        .Sheet("S", R"(<row r="1"><c r="A1" t="s"><v>10</v></c><c r="B1" t="s"><v>0</v></c><c t="s"><v>10</v></c></row>)")
                        .Entries();
  const std::string first = R"(<t xml:space="preserve">plain</t>)";
  for (auto& [name, content] : entries)
    if (name == "xl/sharedStrings.xml")
      content.replace(content.find(first), first.size(), R"(<r><t>ri</t></r><r><rPr><b/></rPr><t>ch</t></r><rPh sb="0" eb="1"><t>x</t></rPh>)");
  testsupport::WriteZip(dir / "b.xlsx", entries);
  const auto book = WorkbookFile::Open((dir / "b.xlsx").string());
  EXPECT_EQ(Utf16ToUtf8(book->WorksheetAt(0).ConstantAt(1, 1)), "tenth");
  EXPECT_EQ(Utf16ToUtf8(book->WorksheetAt(0).ConstantAt(1, 2)), "rich");
  EXPECT_EQ(Utf16ToUtf8(book->WorksheetAt(0).ConstantAt(1, 3)), "tenth") << "a cell without its address follows the last";
  EXPECT_EQ(book->StandardFontSize(), 11.0);
}

}  // namespace
}  // namespace corvane::xlsx
