// Character scan plus layout, as the formulate command runs them: long formulas built from the
// corpus (time per character must stay flat from 1,000 to 65,536 characters, 8,192 characters
// well under 100 us) and every formula of formulas.txt in turn (bytes of formula text per second).
// The 40-character case shows the fixed cost of one run (a new table and a new text each time),
// which the corpus's short formulas (37 bytes on average) pay once each. The "fit" cases lay out
// with "Fit Width" 80; the corpus runs also give the layout's size and lines per formula.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "addin/cls_corvane.h"
#include "base/memory_store.h"
#include "base/platform.h"
#include "base/utf8.h"
#include "hosts/memory/fixed_measurer.h"
#include "hosts/memory/memory_workbook.h"
#include "spacing/calibration_store.h"

namespace {

using corvane::cls_corvane;
using corvane::Variant;

struct Line {
  std::u16string text;
  std::size_t utf8Bytes;
};

// The corpus is valid UTF-8.
std::u16string Decode(const std::string& s) {
  return corvane::utf8::Utf8ToUtf16(s, [](unsigned char) { return u'\uFFFD'; });
}

const std::vector<Line>& Corpus() {
  static const std::vector<Line> lines = [] {
    std::ifstream in(std::string(CORVANE_CORPUS_DIR) + "/formulas.txt", std::ios::binary);
    if (!in) throw std::runtime_error("cannot read the corpus");
    std::vector<Line> out;
    std::string line;
    while (std::getline(in, line))
      if (!line.empty()) out.push_back({Decode(line), line.size()});
    return out;
  }();
  return lines;
}

// A block of about 1,000 characters: ASCII formulas taken evenly across the corpus, joined
// with "+". Every length repeats the same block, so all lengths have the same mix.
const std::u16string& Block() {
  static const std::u16string block = [] {
    std::vector<const std::u16string*> ascii;
    for (const Line& l : Corpus()) {
      bool ok = l.text.size() > 1 && l.text.size() == l.utf8Bytes;
      if (ok) ascii.push_back(&l.text);
    }
    std::u16string b = u"=";
    for (std::size_t k = 0; b.size() < 1000; k += ascii.size() / 29) {
      if (b.size() > 1) b.push_back(u'+');
      b.append(*ascii[k % ascii.size()], 1);
    }
    return b;
  }();
  return block;
}

std::u16string LongFormula(std::size_t length) {
  std::u16string f = Block();
  while (f.size() < length) {
    f.push_back(u'+');
    f.append(Block(), 1);
  }
  f.resize(length);
  return f;
}

// The services a formulate run has: a store (special characters' widths), fixed font metrics,
// and a host to measure in.
struct Environment {
  Environment() : scoped(Make(store, measurer)) {
    app = corvane::memory::MemoryApplication::Create(&measurer);
    corvane::ObjectRef ref = app;
    cls_corvane().SetExcelApp(ref);
  }
  static corvane::PlatformServices Make(corvane::MemoryStore& s, corvane::memory::FixedMeasurer& m) {
    corvane::PlatformServices p;
    p.store = &s;
    p.textMeasurer = &m;
    return p;
  }
  corvane::MemoryStore store;
  corvane::memory::FixedMeasurer measurer;
  corvane::ScopedServices scoped;
  std::shared_ptr<corvane::memory::MemoryApplication> app;
};

// Cell: calibrated widths as the store holds them (texts), seven spaces. Editor: every width 1,
// two spaces.
void Configure(cls_corvane& a, bool cell, std::int32_t fitWidth) {
  for (std::int32_t k = 2; k <= 767; ++k) {
    const double ratio = corvane::memory::FixedMeasurer::BaseWidth(static_cast<char16_t>(k)) / 3.0;
    a.SpacingArray.at(k) =
        cell ? Variant(corvane::calibration::RatioText(ratio, corvane::Regional())) : Variant(std::int32_t{1});
  }
  a.strListSeparator.assign(1, u',');
  a.bFormatAllParens = false;
  a.bSendToNotepad = !cell;
  a.strAfterParen.assign(cell ? 7 : 2, u' ');
  a.iFitWidth = fitWidth;
}

// What the formulate command does with a formula: the character table, then the layout.
std::u16string ScanAndLayoutText(cls_corvane& a, Variant& text, Variant& length) {
  a.strFormula = text.string();
  a.iLenFormula = length.asLong();
  Variant table = a.PopulateCharArray(text, length);
  a.strCharArray = std::move(table.table());
  return a.LayoutFormula();
}

std::size_t ScanAndLayout(cls_corvane& a, Variant& text, Variant& length) { return ScanAndLayoutText(a, text, length).size(); }

void BM_ScanAndLayout(benchmark::State& state, bool cell, std::int32_t fitWidth) {
  Environment env;
  const auto length = static_cast<std::size_t>(state.range(0));
  cls_corvane a;
  Configure(a, cell, fitWidth);
  Variant text(LongFormula(length));
  Variant len(static_cast<std::int32_t>(length));
  std::size_t out = 0;
  for (auto _ : state) {
    out = ScanAndLayout(a, text, len);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(length));
  state.counters["output_chars"] = static_cast<double>(out);
}

void BM_ScanAndLayoutCorpus(benchmark::State& state, bool cell, std::int32_t fitWidth) {
  Environment env;
  cls_corvane a;
  Configure(a, cell, fitWidth);
  std::vector<Variant> texts;
  std::vector<Variant> lengths;
  std::int64_t bytes = 0;
  for (const Line& l : Corpus()) {
    texts.emplace_back(l.text);
    lengths.emplace_back(static_cast<std::int32_t>(l.text.size()));
    bytes += static_cast<std::int64_t>(l.utf8Bytes);
  }
  // Special characters are calibrated on first meeting; the benchmark measures the runs after.
  std::size_t lines = 0;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const std::u16string laid = ScanAndLayoutText(a, texts[i], lengths[i]);
    lines += 1 + static_cast<std::size_t>(std::count(laid.begin(), laid.end(), u'\n'));
  }
  std::size_t total = 0;
  for (auto _ : state) {
    total = 0;
    for (std::size_t i = 0; i < texts.size(); ++i) total += ScanAndLayout(a, texts[i], lengths[i]);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(texts.size()));
  state.counters["output_chars_per_formula"] = static_cast<double>(total) / static_cast<double>(texts.size());
  state.counters["lines_per_formula"] = static_cast<double>(lines) / static_cast<double>(texts.size());
}

// The two parts on their own, for comparison: the character scan, and the layout of a table
// already built.
void BM_ScanCorpus(benchmark::State& state) {
  cls_corvane a;
  std::vector<Variant> texts;
  std::vector<Variant> lengths;
  std::int64_t bytes = 0;
  for (const Line& l : Corpus()) {
    texts.emplace_back(l.text);
    lengths.emplace_back(static_cast<std::int32_t>(l.text.size()));
    bytes += static_cast<std::int64_t>(l.utf8Bytes);
  }
  for (auto _ : state) {
    for (std::size_t i = 0; i < texts.size(); ++i) {
      Variant table = a.PopulateCharArray(texts[i], lengths[i]);
      benchmark::DoNotOptimize(table);
    }
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}

void BM_LayoutCorpus(benchmark::State& state, bool cell, std::int32_t fitWidth) {
  Environment env;
  cls_corvane a;
  Configure(a, cell, fitWidth);
  std::vector<corvane::StringTable> tables;
  std::int64_t bytes = 0;
  for (const Line& l : Corpus()) {
    Variant text(l.text);
    Variant length(static_cast<std::int32_t>(l.text.size()));
    tables.push_back(a.PopulateCharArray(text, length).table());
    bytes += static_cast<std::int64_t>(l.utf8Bytes);
  }
  const auto layAll = [&] {
    std::size_t total = 0;
    for (std::size_t i = 0; i < tables.size(); ++i) {
      a.strFormula = Corpus()[i].text;
      a.iLenFormula = static_cast<std::int32_t>(a.strFormula.size());
      std::swap(a.strCharArray, tables[i]);
      total += a.LayoutFormula().size();
      std::swap(a.strCharArray, tables[i]);
    }
    return total;
  };
  layAll();
  for (auto _ : state) benchmark::DoNotOptimize(layAll());
  state.SetBytesProcessed(state.iterations() * bytes);
}

BENCHMARK(BM_ScanCorpus)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LayoutCorpus, cell, true, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LayoutCorpus, cell_fit, true, 80)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LayoutCorpus, editor, false, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LayoutCorpus, editor_fit, false, 80)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanAndLayout, cell, true, 0)->Arg(5)->Arg(40)->Arg(1000)->Arg(8192)->Arg(65536)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScanAndLayout, cell_fit, true, 80)->Arg(40)->Arg(1000)->Arg(8192)->Arg(65536)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScanAndLayout, editor, false, 0)->Arg(1000)->Arg(8192)->Arg(65536)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScanAndLayout, editor_fit, false, 80)->Arg(1000)->Arg(8192)->Arg(65536)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScanAndLayoutCorpus, cell, true, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanAndLayoutCorpus, editor, false, 0)->Unit(benchmark::kMillisecond);
// The corpus's size and lines per formula at the fit widths the README gives.
BENCHMARK_CAPTURE(BM_ScanAndLayoutCorpus, cell_fit40, true, 40)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanAndLayoutCorpus, cell_fit80, true, 80)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanAndLayoutCorpus, cell_fit120, true, 120)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanAndLayoutCorpus, editor_fit40, false, 40)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanAndLayoutCorpus, editor_fit80, false, 80)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanAndLayoutCorpus, editor_fit120, false, 120)->Unit(benchmark::kMillisecond);

}  // namespace
