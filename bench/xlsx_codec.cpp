// The yardstick of `corvane format BOOK.xlsx --all`: what inflating a workbook's worksheets and
// deflating the rewritten ones cost through libzip over zlib, the library the program's package
// goes through, at the level the program writes new parts (1), as one stream on one processor.
// (The program itself inflates a part whole with libdeflate and deflates a large part in blocks
// on every processor with ISA-L's igzip: hence the deflated size is printed too, to compare.)
// bench/xlsx_speed.sh runs it beside the program.
//
//   xlsx_codec make CORPUS.txt OUT.xlsx [CELLS]   a workbook of CELLS corpus formulas (100,000)
//   xlsx_codec time BEFORE.xlsx AFTER.xlsx        prints "inflate_s deflate_s cpu_s bytes
//                                                 deflated_bytes": the worksheets of BEFORE
//                                                 inflated, those AFTER changed deflated, the
//                                                 processor time of both, the inflated bytes and
//                                                 what the rewritten worksheets deflated to
#include <zip.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/workbook_formulas.h"
#include "support/xlsx_builder.h"

namespace {

// What the program writes new parts at (hosts/xlsx/zip_package.cpp).
constexpr zip_uint32_t kProgramLevel = 1;

using Clock = std::chrono::steady_clock;

// Processor time of this process: beside the wall clock, what a busy machine disturbs less.
double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

// The workbook of `cells` corpus formulas that are laid out and given back whole.
int Make(const char* corpus, const char* out, int cells) {
  std::vector<std::string> formulas;
  std::ifstream in(corpus, std::ios::binary);
  for (std::string line; std::getline(in, line);)
    if (corvane::bench::LaidOutWhole(line))
      formulas.push_back(line.substr(1));
  if (formulas.empty()) throw std::runtime_error("no formulas in the corpus");
  std::string rows;
  for (int r = 1; r <= cells; ++r) {
    const std::string row = std::to_string(r);
    rows.append("<row r=\"").append(row).append("\"><c r=\"A").append(row).append("\"><v>").append(row);
    rows.append("</v></c><c r=\"B").append(row).append("\"><f>");
    rows.append(XmlEscape(formulas[static_cast<std::size_t>(r - 1) % formulas.size()]));
    rows.append("</f><v>0</v></c></row>");
  }
  corvane::testsupport::XlsxBuilder book;
  book.Sheet("Corpus", rows);
  book.Write(out);
  return 0;
}

bool IsWorksheet(const std::string& name) {
  return name.starts_with("xl/worksheets/") && name.ends_with(".xml") && name.find('/', 14) == std::string::npos;
}

int Time(const char* before, const char* after) {
  // The rewritten worksheets, read outside the timing.
  std::map<std::string, std::string> old;
  for (auto& e : corvane::testsupport::ReadZip(before))
    if (IsWorksheet(e.name)) old.emplace(e.name, std::move(e.content));
  std::vector<std::pair<std::string, std::string>> written;
  for (auto& e : corvane::testsupport::ReadZip(after))
    if (IsWorksheet(e.name) && old.count(e.name) && old[e.name] != e.content) written.emplace_back(e.name, std::move(e.content));

  // Inflate, as the program reads a part: sized by its header, CRC checked at the end.
  const double cpuStart = CpuSeconds();
  const auto inflateStart = Clock::now();
  int error = 0;
  zip_t* zip = zip_open(before, ZIP_RDONLY, &error);
  if (!zip) throw std::runtime_error("cannot open the workbook");
  std::size_t inflated = 0;
  for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
    zip_stat_t st;
    zip_stat_index(zip, static_cast<zip_uint64_t>(i), 0, &st);
    if (!IsWorksheet(st.name)) continue;
    std::string data(static_cast<std::size_t>(st.size), '\0');
    zip_file_t* file = zip_fopen_index(zip, static_cast<zip_uint64_t>(i), 0);
    const zip_int64_t n = file ? zip_fread(file, data.data(), data.size()) : -1;
    if (file) zip_fclose(file);
    if (n != static_cast<zip_int64_t>(data.size())) throw std::runtime_error("cannot inflate a worksheet");
    inflated += data.size();
  }
  zip_discard(zip);
  const double inflateSeconds = std::chrono::duration<double>(Clock::now() - inflateStart).count();

  // Deflate into an archive in memory, CRCs and headers as the program's write has them.
  const auto deflateStart = Clock::now();
  zip_error_t zerror;
  zip_error_init(&zerror);
  zip_source_t* sink = zip_source_buffer_create(nullptr, 0, 0, &zerror);
  zip_source_keep(sink);
  zip_t* out = zip_open_from_source(sink, ZIP_TRUNCATE, &zerror);
  if (!out) throw std::runtime_error("cannot start an archive in memory");
  for (const auto& [name, content] : written) {
    zip_source_t* source = zip_source_buffer(out, content.data(), content.size(), 0);
    const zip_int64_t at = zip_file_add(out, name.c_str(), source, 0);
    if (at < 0 || zip_set_file_compression(out, static_cast<zip_uint64_t>(at), ZIP_CM_DEFLATE, kProgramLevel) != 0)
      throw std::runtime_error("cannot add a worksheet");
  }
  if (zip_close(out) != 0) throw std::runtime_error("cannot deflate the worksheets");
  const double deflateSeconds = std::chrono::duration<double>(Clock::now() - deflateStart).count();
  const double cpuSeconds = CpuSeconds() - cpuStart;
  zip_source_keep(sink);
  zip_t* deflated = zip_open_from_source(sink, ZIP_RDONLY, &zerror);
  if (!deflated) throw std::runtime_error("cannot read the archive in memory");
  std::uint64_t deflatedBytes = 0;
  for (zip_int64_t i = 0; i < zip_get_num_entries(deflated, 0); ++i) {
    zip_stat_t st;
    if (zip_stat_index(deflated, static_cast<zip_uint64_t>(i), 0, &st) != 0) throw std::runtime_error("cannot read the archive in memory");
    deflatedBytes += st.comp_size;
  }
  zip_discard(deflated);
  zip_source_free(sink);
  zip_error_fini(&zerror);
  if (written.empty()) throw std::runtime_error("no worksheet was rewritten");
  std::printf("%.6f %.6f %.6f %zu %llu\n", inflateSeconds, deflateSeconds, cpuSeconds, inflated,
              static_cast<unsigned long long>(deflatedBytes));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "make" && (argc == 4 || argc == 5)) return Make(argv[2], argv[3], argc == 5 ? std::stoi(argv[4]) : 100000);
    if (command == "time" && argc == 4) return Time(argv[2], argv[3]);
    std::fprintf(stderr, "usage: xlsx_codec make CORPUS.txt OUT.xlsx [CELLS] | time BEFORE.xlsx AFTER.xlsx\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "xlsx_codec: %s\n", e.what());
    return 1;
  }
}
