// The width of a text from the calibrated widths: characters per second over a long text and
// over the short line texts the layout measures.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "addin/cls_corvane.h"
#include "base/platform.h"
#include "hosts/memory/fixed_measurer.h"
#include "spacing/calibration_store.h"

namespace {

using corvane::cls_corvane;
using corvane::Variant;

// Calibrated widths as the store holds them: texts in the regional format.
void Calibrate(cls_corvane& a) {
  for (std::int32_t k = 2; k <= 767; ++k) {
    const double ratio = corvane::memory::FixedMeasurer::BaseWidth(static_cast<char16_t>(k)) / 3.0;
    a.SpacingArray.at(k) = Variant(corvane::calibration::RatioText(ratio, corvane::Regional()));
  }
}

// Ordinary formula text, cycled to the length wanted.
std::u16string Text(std::size_t length) {
  static const std::u16string sample =
      u"=IF(ISERROR(VLOOKUP($A2,Data!$A$1:$F$500,3,FALSE)),\"n/a\",SUM(B2:B9)*1.05+ROUND(C7/D7,2))";
  std::u16string t;
  while (t.size() < length) t += sample;
  t.resize(length);
  return t;
}

void BM_GetSpacingThisLevel(benchmark::State& state) {
  cls_corvane a;
  Calibrate(a);
  const auto length = static_cast<std::size_t>(state.range(0));
  Variant text(Text(length));
  for (auto _ : state) {
    double width = a.GetSpacingThisLevel(text);
    benchmark::DoNotOptimize(width);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(length));
}

BENCHMARK(BM_GetSpacingThisLevel)->Arg(20)->Arg(200)->Arg(65536);

}  // namespace
