// Text measurement cost: one long line, and the strings a calibration measures (each of the
// codes 2 to 767 once, twice and 100 times: about 2,300 strings).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "platform/posix/font_measurer.h"

namespace {

using corvane::posix::FontMeasurer;

std::vector<std::u16string> CalibrationStrings() {
  std::vector<std::u16string> texts;
  for (char16_t code = 2; code <= 767; ++code) {
    for (const std::size_t copies : {1u, 2u, 100u}) texts.emplace_back(copies, code);
  }
  return texts;
}

void BM_Measure100Characters(benchmark::State& state) {
  FontMeasurer measurer;
  std::u16string text = u"=IF(ISERROR(VLOOKUP($A2,'Price list'!$A:$F,6,FALSE)),\"\",SUM(B2:B9)*1.2)";
  while (text.size() < 100) text += u" ";
  measurer.LineWidthPixels(text, u"Calibri", 11, 96);
  for (auto _ : state) benchmark::DoNotOptimize(measurer.LineWidthPixels(text, u"Calibri", 11, 96));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_Measure100Characters);

// A calibration run on a measurer that has seen these characters before.
void BM_CalibrationStringsWarm(benchmark::State& state) {
  const auto texts = CalibrationStrings();
  FontMeasurer measurer;
  for (const auto& text : texts) measurer.LineWidthPixels(text, u"Calibri", 11, 96);
  for (auto _ : state) {
    double total = 0;
    for (const auto& text : texts) total += measurer.LineWidthPixels(text, u"Calibri", 11, 96);
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(texts.size()));
}
BENCHMARK(BM_CalibrationStringsWarm)->Unit(benchmark::kMillisecond);

// The first calibration of a session: loading the configuration and fonts is included.
void BM_CalibrationStringsCold(benchmark::State& state) {
  const auto texts = CalibrationStrings();
  for (auto _ : state) {
    FontMeasurer measurer;
    double total = 0;
    for (const auto& text : texts) total += measurer.LineWidthPixels(text, u"Calibri", 11, 96);
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(texts.size()));
}
BENCHMARK(BM_CalibrationStringsCold)->Unit(benchmark::kMillisecond);

}  // namespace
