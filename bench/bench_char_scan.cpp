// Character scan and unformat on long formulas built from the corpus: time per character must
// stay flat from 1,000 to 65,536 characters, and 8,192 characters must take well under 100 us.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "addin/cls_corvane.h"
#include "formatting/unformat.h"

namespace {

using corvane::cls_corvane;
using corvane::StringTable;
using corvane::Variant;

// The ASCII formulas of the corpus, in file order.
const std::vector<std::u16string>& CorpusFormulas() {
  static const std::vector<std::u16string> formulas = [] {
    std::ifstream in(std::string(CORVANE_CORPUS_DIR) + "/formulas.txt", std::ios::binary);
    if (!in) throw std::runtime_error("cannot read the corpus");
    std::vector<std::u16string> out;
    std::string line;
    while (std::getline(in, line)) {
      bool ascii = line.size() > 1;
      for (unsigned char c : line) ascii = ascii && c < 0x80;
      if (ascii) out.emplace_back(line.begin(), line.end());
    }
    return out;
  }();
  return formulas;
}

// A block of about 1,000 characters: formulas taken evenly across the corpus, joined with "+".
// Every length repeats the same block, so that all lengths have the same mix of characters.
const std::u16string& Block() {
  static const std::u16string block = [] {
    const auto& all = CorpusFormulas();
    std::u16string b = u"=";
    for (std::size_t k = 0; b.size() < 1000; k += all.size() / 29) {
      if (b.size() > 1) b.push_back(u'+');
      b.append(all[k % all.size()], 1);  // without its "="
    }
    return b;
  }();
  return block;
}

// One long formula: the block repeated, joined with "+", cut to `length` characters.
std::u16string LongFormula(std::size_t length) {
  std::u16string f = Block();
  while (f.size() < length) {
    f.push_back(u'+');
    f.append(Block(), 1);
  }
  f.resize(length);
  return f;
}

// The same, laid out: a line feed and indentation after each "(" and "," and before each ")",
// cut to `length` characters.
std::u16string LongLaidOutFormula(std::size_t length) {
  const std::u16string flat = LongFormula(length);
  std::u16string out;
  bool inLiteral = false;
  for (char16_t c : flat) {
    if (c == u'"') inLiteral = !inLiteral;
    if (!inLiteral && c == u')') out += u"\n       ";
    out.push_back(c);
    if (!inLiteral && (c == u'(' || c == u',')) out += u"\n          ";
    if (out.size() >= length) break;
  }
  out.resize(length);
  return out;
}

void ReportPerCharacter(benchmark::State& state, std::size_t length) {
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(length));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(length * sizeof(char16_t)));
}

void BM_PopulateCharArray(benchmark::State& state) {
  const auto length = static_cast<std::size_t>(state.range(0));
  cls_corvane addin;
  Variant text(LongFormula(length));
  Variant len(static_cast<std::int32_t>(length));
  for (auto _ : state) {
    Variant table = addin.PopulateCharArray(text, len);
    benchmark::DoNotOptimize(table);
  }
  ReportPerCharacter(state, length);
}

void BM_Unformat(benchmark::State& state) {
  const auto length = static_cast<std::size_t>(state.range(0));
  const std::u16string formula = LongLaidOutFormula(length);
  for (auto _ : state) {
    std::u16string result = corvane::Unformat(formula);
    benchmark::DoNotOptimize(result);
  }
  ReportPerCharacter(state, length);
}

// What the deformulate command does with the text: scan, then unformat.
void BM_ScanAndUnformat(benchmark::State& state) {
  const auto length = static_cast<std::size_t>(state.range(0));
  cls_corvane addin;
  Variant text(LongLaidOutFormula(length));
  Variant len(static_cast<std::int32_t>(length));
  for (auto _ : state) {
    Variant table = addin.PopulateCharArray(text, len);
    std::u16string result = corvane::Unformat(text.string());
    benchmark::DoNotOptimize(result);
  }
  ReportPerCharacter(state, length);
}

BENCHMARK(BM_PopulateCharArray)->Arg(1000)->Arg(8192)->Arg(65536)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Unformat)->Arg(1000)->Arg(8192)->Arg(65536)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScanAndUnformat)->Arg(1000)->Arg(8192)->Arg(65536)->Unit(benchmark::kMicrosecond);

}  // namespace
