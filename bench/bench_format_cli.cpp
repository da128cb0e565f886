// `corvane format` end to end, as separate processes: the whole corpus through --jsonl (every
// formula a full run of the formulate-cell command with its 766 width reads), and one typical
// formula as one process. Wall-clock time; the store is calibrated beforehand, so no question is
// asked. The program is the one built beside this benchmark (../corvane), or $CORVANE_CLI.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/posix/sqlite_store.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

fs::path Program() {
  if (const char* cli = std::getenv("CORVANE_CLI"); cli && *cli) return cli;
  return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "corvane";
}

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      static const char* const kHex = "0123456789abcdef";
      out += "\\u00";
      out += kHex[(c >> 4) & 0xF];
      out += kHex[c & 0xF];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// A scratch folder with a calibrated store, the corpus as JSON lines and a typical formula.
struct Setup {
  fs::path dir;
  std::string store;
  std::string jsonl;
  std::string typical;
  std::size_t formulas = 0;

  Setup() {
    std::string pattern = (fs::temp_directory_path() / "corvane-bench-XXXXXX").string();
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
    std::ifstream in(fs::path(CORVANE_CORPUS_DIR) / "formulas.txt", std::ios::binary);
    std::ofstream out(dir / "corpus.jsonl", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
      out << JsonString(line) << '\n';
      lines.push_back(line);
    }
    formulas = lines.size();
    jsonl = (dir / "corpus.jsonl").string();
    // The formula of median length stands for a typical one.
    std::sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.size() < b.size(); });
    typical = lines.empty() ? "=IF(A1,SUM(B1,C1),0)" : lines[lines.size() / 2];
    fs::create_directory(dir / "tmp");
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

// Runs the program with standard input from `input` (or /dev/null) and its output discarded.
int RunProgram(std::vector<std::string> args, const std::string& input) {
  const std::string program = Program().string();
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> env = {"tmp=" + (TheSetup().dir / "tmp").string(), "DISPLAY=", "WAYLAND_DISPLAY="};
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (entry.rfind("tmp=", 0) != 0 && entry.rfind("DISPLAY=", 0) != 0 && entry.rfind("WAYLAND_DISPLAY=", 0) != 0)
      env.push_back(entry);
  }
  std::vector<char*> envp;
  envp.reserve(env.size() + 1);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.empty() ? "/dev/null" : input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_FormatJsonlCorpus(benchmark::State& state) {
  Setup& setup = TheSetup();
  for (auto _ : state) {
    // Status 1 says that some lines answered an error (the corpus has layouts the spreadsheet refuses).
    if (const int status = RunProgram({"format", "--jsonl", "--store", setup.store}, setup.jsonl); status != 0 && status != 1) {
      state.SkipWithError("corvane format --jsonl failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(setup.formulas));
  state.counters["formulas"] = static_cast<double>(setup.formulas);
}
BENCHMARK(BM_FormatJsonlCorpus)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_FormatOneFormulaProcess(benchmark::State& state) {
  Setup& setup = TheSetup();
  for (auto _ : state) {
    if (RunProgram({"format", "--store", setup.store, "--", setup.typical}, "") != 0) {
      state.SkipWithError("corvane format failed");
      return;
    }
  }
  state.counters["formula_length"] = static_cast<double>(setup.typical.size());
}
BENCHMARK(BM_FormatOneFormulaProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
