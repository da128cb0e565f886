// Settings store costs: a formulate run reads 766 widths plus two options, and a batch run does
// that once per formula of the corpus (39,000 runs in one process). The counter
// "corpus_seconds" extrapolates one iteration to the whole corpus.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <time.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/memory_store.h"
#include "platform/posix/sqlite_store.h"

namespace {

using corvane::posix::SqliteStore;
constexpr double kCorpusRuns = 39'000;

class Fixture {
 public:
  Fixture() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvane-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    store = std::make_unique<SqliteStore>((dir_ / "settings.db").string());
    for (int code = 2; code <= 767; ++code) {
      const std::string key = std::to_string(code);
      keys.emplace_back(key.begin(), key.end());
    }
    for (const auto& key : keys) store->SaveSetting(u"Corvane", u"Spacing_Arial", key, u"0.5714");
    store->SaveSetting(u"Corvane", u"Settings", u"Format All Parens", u"1");
  }
  ~Fixture() {
    store.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string path() const { return (dir_ / "settings.db").string(); }

  std::unique_ptr<SqliteStore> store;
  std::vector<std::u16string> keys;

 private:
  std::filesystem::path dir_;
};

// What one formulate run asks of the store, through the interface, with the section name built
// once per run as the command does.
void OneRun(corvane::SettingsStore& store, const std::vector<std::u16string>& keys) {
  static constexpr std::u16string_view kApp = u"Corvane", kSettings = u"Settings", kNotFound = u"Not Found";
  benchmark::DoNotOptimize(store.GetSetting(kApp, kSettings, u"Format All Parens", u"0"));
  benchmark::DoNotOptimize(store.GetSetting(kApp, kSettings, u"Always Send to Notepad", u"0"));
  const std::u16string section = std::u16string(u"Spacing_") + u"Arial";
  for (const auto& key : keys) benchmark::DoNotOptimize(store.GetSetting(kApp, section, key, kNotFound));
}

// Processor time of the timed loop, extrapolated from one iteration to the corpus (processor
// rather than wall time: a busy machine should not inflate it).
class Extrapolation {
 public:
  explicit Extrapolation(benchmark::State& state) : state_(state), start_(ThreadSeconds()) {}
  ~Extrapolation() {
    if (state_.iterations() > 0) {
      state_.counters["corpus_seconds"] =
          (ThreadSeconds() - start_) / static_cast<double>(state_.iterations()) * kCorpusRuns;
    }
  }

 private:
  static double ThreadSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  }
  benchmark::State& state_;
  double start_;
};

void BM_SqliteRunInBatch(benchmark::State& state) {
  Fixture f;
  {
    Extrapolation e(state);
    for (auto _ : state) {
      corvane::SettingsStore::ReadScope batch(*f.store);
      OneRun(*f.store, f.keys);
    }
  }
}
BENCHMARK(BM_SqliteRunInBatch);

// Every read checks the file for other writers.
void BM_SqliteRunWithoutBatch(benchmark::State& state) {
  Fixture f;
  {
    Extrapolation e(state);
    for (auto _ : state) OneRun(*f.store, f.keys);
  }
}
BENCHMARK(BM_SqliteRunWithoutBatch);

// Another program saved one value before each run: the copy is taken from the file again.
void BM_SqliteRunAfterForeignSave(benchmark::State& state) {
  Fixture f;
  SqliteStore other(f.path());
  bool flip = false;
  for (auto _ : state) {
    state.PauseTiming();
    flip = !flip;  // a save that changes nothing commits nothing
    other.SaveSetting(u"Corvane", u"Special_Arial", u"8364", flip ? u"1.1" : u"1.2");
    state.ResumeTiming();
    corvane::SettingsStore::ReadScope batch(*f.store);
    OneRun(*f.store, f.keys);
  }
}
BENCHMARK(BM_SqliteRunAfterForeignSave)->Iterations(200);

void BM_MemoryRun(benchmark::State& state) {
  Fixture f;
  corvane::MemoryStore store;
  for (const auto& key : f.keys) store.SaveSetting(u"Corvane", u"Spacing_Arial", key, u"0.5714");
  {
    Extrapolation e(state);
    for (auto _ : state) OneRun(store, f.keys);
  }
}
BENCHMARK(BM_MemoryRun);

// One save, flushed to the disk before it returns.
void BM_SqliteDurableSave(benchmark::State& state) {
  Fixture f;
  int i = 0;
  for (auto _ : state) f.store->SaveSetting(u"Corvane", u"Spacing_Arial", f.keys[static_cast<std::size_t>(i++ % 766)], u"0.6");
}
BENCHMARK(BM_SqliteDurableSave)->Iterations(300)->Unit(benchmark::kMillisecond);

}  // namespace
