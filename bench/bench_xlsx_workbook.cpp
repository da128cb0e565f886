// `corvane format BOOK.xlsx --all` on a workbook with 100,000 formula cells, as a separate
// process: wall-clock time of the whole run (open, lay out every formula, write the workbook
// back) and the process's peak memory against the workbook's unpacked size. The formulas are
// real ones from the corpus (60,000 cells) and shared formulas filled down in groups of 1,000
// (40,000 cells). The store is calibrated beforehand, so no question is asked. The program is
// the one built beside this benchmark (../corvane), or $CORVANE_CLI.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/workbook_formulas.h"
#include "platform/posix/sqlite_store.h"
#include "support/xlsx_builder.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kCorpusCells = 60000;
constexpr int kSharedCells = 40000;
constexpr int kGroup = 1000;

fs::path Program() {
  if (const char* cli = std::getenv("CORVANE_CLI"); cli && *cli) return cli;
  return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "corvane";
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

struct Setup {
  fs::path dir;
  fs::path pristine;
  std::string store;
  std::uint64_t unpacked = 0;

  Setup() {
    std::string pattern = (fs::temp_directory_path() / "corvane-bench-xlsx-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir = pattern;
    store = (dir / "settings.db").string();
    {
      corvane::posix::SqliteStore s(store);
      for (int k = 2; k <= 767; ++k) {
        const double ratio = k == 32 ? 1.0 : 0.4 + static_cast<double>((k * 37) % 80) / 100.0;
        std::string text = std::to_string(ratio);
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') text.pop_back();
        const std::string key = std::to_string(k);
        s.SaveSetting(u"Corvane", u"Spacing_Calibri", std::u16string(key.begin(), key.end()),
                      std::u16string(text.begin(), text.end()));
      }
    }

    std::vector<std::string> formulas;
    std::ifstream in(fs::path(CORVANE_CORPUS_DIR) / "formulas.txt", std::ios::binary);
    for (std::string line; std::getline(in, line);)
      if (corvane::bench::LaidOutWhole(line))
        formulas.push_back(line.substr(1));
    if (formulas.empty()) throw std::runtime_error("no corpus");

    std::string corpusCells, sharedCells;
    for (int r = 1; r <= kCorpusCells; ++r) {
      corpusCells += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) + "\"><v>" + std::to_string(r) +
                     "</v></c><c r=\"B" + std::to_string(r) + "\"><f>" +
                     XmlEscape(formulas[static_cast<std::size_t>(r) % formulas.size()]) + "</f><v>0</v></c></row>";
    }
    for (int r = 1; r <= kSharedCells; ++r) {
      const std::string ref = "C" + std::to_string(r);
      std::string f;
      if ((r - 1) % kGroup == 0) {
        f = "<f t=\"shared\" ref=\"" + ref + ":C" + std::to_string(r + kGroup - 1) + "\" si=\"" + std::to_string(r / kGroup) +
            "\">ROUND(A" + std::to_string(r) + "*2,0)+IF(B" + std::to_string(r) + "&gt;0,SUM(A" + std::to_string(r) +
            ":B" + std::to_string(r) + "),MAX($A$1,A" + std::to_string(r) + "))</f>";
      } else {
        f = "<f t=\"shared\" si=\"" + std::to_string((r - 1) / kGroup) + "\"/>";
      }
      const std::string row = std::to_string(r);
      sharedCells.append("<row r=\"").append(row).append("\"><c r=\"A").append(row).append("\"><v>").append(row);
      sharedCells.append("</v></c><c r=\"").append(ref).append("\">").append(f).append("<v>1</v></c></row>");
    }
    corvane::testsupport::XlsxBuilder book;
    book.Sheet("Corpus", corpusCells).Sheet("Filled", sharedCells);
    for (const auto& [name, content] : book.Entries()) unpacked += content.size();
    pristine = dir / "pristine.xlsx";
    book.Write(pristine);
  }
  ~Setup() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
};

Setup& TheSetup() {
  static Setup setup;
  return setup;
}

void BM_FormatEveryFormulaOfAWorkbook(benchmark::State& state) {
  Setup& setup = TheSetup();
  const fs::path book = setup.dir / "Book.xlsx";
  const std::string program = Program().string();
  long peakKb = 0;
  double cpuSeconds = 0;
  int runs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fs::copy_file(setup.pristine, book, fs::copy_options::overwrite_existing);
    std::vector<std::string> args = {program, "format", book.string(), "--all", "--store", setup.store};
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    state.ResumeTiming();
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      state.SkipWithError("cannot start corvane");
      break;
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    state.PauseTiming();
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("corvane format failed");
      break;
    }
    peakKb = std::max(peakKb, usage.ru_maxrss);
    cpuSeconds += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    ++runs;
    state.ResumeTiming();
  }
  state.counters["formula_cells"] = kCorpusCells + kSharedCells;
  // The processor time of one run: what the wall-clock time comes to on an idle core.
  state.counters["cpu_s"] = runs ? cpuSeconds / runs : 0;
  state.counters["unpacked_MB"] = static_cast<double>(setup.unpacked) / 1e6;
  state.counters["peak_rss_MB"] = static_cast<double>(peakKb) * 1024 / 1e6;
  state.counters["rss_per_unpacked"] = static_cast<double>(peakKb) * 1024 / static_cast<double>(setup.unpacked);
}
BENCHMARK(BM_FormatEveryFormulaOfAWorkbook)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);

}  // namespace
