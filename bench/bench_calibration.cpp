// A full calibration (the space plus codes 2 to 767: 2,301 column fits and 766 saves) on the
// in-memory workbook with the real font, and its two parts on their own: the column fits
// (FreeType advances) and the durable saves (one SQLite transaction each).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "base/memory_store.h"
#include "hosts/memory/memory_workbook.h"
#include "platform/posix/font_measurer.h"
#include "platform/posix/sqlite_store.h"
#include "platform/posix/terminal_ui.h"
#include "spacing/calibration_store.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

// A store file in a fresh folder, removed at the end.
class StoreFile {
 public:
  StoreFile() {
    std::string pattern = (fs::temp_directory_path() / "corvane-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    dir_ = pattern;
  }
  ~StoreFile() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string path() const { return (dir_ / "settings.db").string(); }

 private:
  fs::path dir_;
};

// The program's window system, drawing on nothing: the notice closes at once, no bar is drawn.
struct Headless {
  Headless() : input(open("/dev/null", O_RDONLY)), output(open("/dev/null", O_WRONLY)), ui({input, output, 96.0}) {}
  ~Headless() {
    close(input);
    close(output);
  }
  int input;
  int output;
  posix::TerminalUi ui;
};

// One calibration run, as `corvane calibrate` does it: a fresh workbook and a fresh font
// measurer (its advance cache cold). Preparing it is not timed.
class Run {
 public:
  Run(SettingsStore& store, Headless& headless) : measurer_(std::make_unique<posix::FontMeasurer>()) {
    services_.store = &store;
    services_.ui = &headless.ui;
    services_.textMeasurer = measurer_.get();
    scope_ = std::make_unique<ScopedServices>(services_);
    app_ = memory::MemoryApplication::Create();
    app_->SetActiveCell(app_->AddWorkbook()->Sheet(1)->Range(1, 1, 1, 1));
    ObjectRef held = app_;
    corvane_.SetExcelApp(held);
  }
  ~Run() {
    Variant none;
    bool clear = true;
    (void)mdl_Support::ExcelApp(none, clear);
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  void Calibrate() { corvane_.cvCalibrateSpacing(); }
  bool Calibrated() const { return calibration::ReadWidthText(u"Spacing_Calibri", 767) != calibration::kNotFound; }

 private:
  PlatformServices services_;
  std::unique_ptr<posix::FontMeasurer> measurer_;
  std::unique_ptr<ScopedServices> scope_;
  std::shared_ptr<memory::MemoryApplication> app_;
  cls_corvane corvane_;
};

void CalibrateOnce(benchmark::State& state, SettingsStore& store, Headless& headless) {
  state.PauseTiming();
  auto run = std::make_unique<Run>(store, headless);
  state.ResumeTiming();
  run->Calibrate();
  state.PauseTiming();
  if (!run->Calibrated()) state.SkipWithError("not calibrated");
  run.reset();
  state.ResumeTiming();
}

void PerRun(benchmark::State& state) {
  state.counters["fits_per_run"] = 2301;
  state.counters["saves_per_run"] = 766;
}

// The first calibration of a font: 766 new keys, each its own durable transaction.
void BM_FullCalibration_DurableStore(benchmark::State& state) {
  Headless headless;
  for (auto _ : state) {
    state.PauseTiming();
    auto file = std::make_unique<StoreFile>();
    auto store = std::make_unique<posix::SqliteStore>(file->path());
    state.ResumeTiming();
    CalibrateOnce(state, *store, headless);
    state.PauseTiming();
    store.reset();
    file.reset();
    state.ResumeTiming();
  }
  PerRun(state);
}
BENCHMARK(BM_FullCalibration_DurableStore)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Calibrating again with unchanged widths: the store has nothing new to write.
void BM_Recalibration_DurableStore(benchmark::State& state) {
  Headless headless;
  StoreFile file;
  posix::SqliteStore store(file.path());
  Run(store, headless).Calibrate();
  for (auto _ : state) CalibrateOnce(state, store, headless);
  PerRun(state);
}
BENCHMARK(BM_Recalibration_DurableStore)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The measurement alone: the same run with the store in memory.
void BM_FullCalibration_MemoryStore(benchmark::State& state) {
  Headless headless;
  for (auto _ : state) {
    MemoryStore store;
    CalibrateOnce(state, store, headless);
  }
  PerRun(state);
}
BENCHMARK(BM_FullCalibration_MemoryStore)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// The 766 saves of a first calibration alone.
void BM_DurableSaves(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto file = std::make_unique<StoreFile>();
    auto store = std::make_unique<posix::SqliteStore>(file->path());
    PlatformServices services;
    services.store = store.get();
    ScopedServices scope(services);
    state.ResumeTiming();
    for (std::int32_t k = calibration::kFirstOrdinaryCode; k <= calibration::kLastOrdinaryCode; ++k)
      calibration::SaveWidth(u"Spacing_Calibri", k, 1.0 + k / 1000.0);
    state.PauseTiming();
    store.reset();
    file.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_DurableSaves)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The floor under any durable save: 766 page writes, each flushed to the disk on its own.
void BM_BareFlushes(benchmark::State& state) {
  StoreFile file;
  const int fd = open(file.path().c_str(), O_CREAT | O_WRONLY, 0600);
  const std::string page(4096, 'x');
  for (auto _ : state) {
    for (int k = 0; k < 766; ++k) {
      if (pwrite(fd, page.data(), page.size(), static_cast<off_t>(k) * 4096) < 0 || fdatasync(fd) != 0)
        state.SkipWithError("write failed");
    }
  }
  close(fd);
}
BENCHMARK(BM_BareFlushes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Starting the font machinery, which every `corvane calibrate` pays once.
void BM_FontMeasurerStart(benchmark::State& state) {
  for (auto _ : state) {
    posix::FontMeasurer measurer;
    benchmark::DoNotOptimize(measurer.LineWidthPixels(u"W", u"Calibri", 11.0, 96.0));
  }
}
BENCHMARK(BM_FontMeasurerStart)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace corvane
