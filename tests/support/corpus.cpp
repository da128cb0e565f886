#include "support/corpus.h"

#include <fstream>
#include <stdexcept>
#include <string>

#include "base/utf8.h"

namespace corvane::corpus {

namespace {

std::u16string FromUtf8(std::string_view bytes) {
  return utf8::Utf8ToUtf16(bytes, [](unsigned char) -> char16_t { throw std::runtime_error("corpus: invalid UTF-8"); });
}

// One JSON string literal: the corpus uses the short escapes and \uXXXX.
std::u16string FromJson(std::string_view json) {
  if (json.size() < 2 || json.front() != '"' || json.back() != '"') throw std::runtime_error("corpus: not a JSON string");
  json = json.substr(1, json.size() - 2);
  std::u16string out;
  for (std::size_t i = 0; i < json.size();) {
    const std::size_t escape = json.find('\\', i);
    out += FromUtf8(json.substr(i, escape - i));
    if (escape == std::string_view::npos) break;
    const char e = escape + 1 < json.size() ? json[escape + 1] : '?';
    i = escape + 2;
    if (e == 'u' && i + 4 <= json.size()) {
      out.push_back(static_cast<char16_t>(std::stoul(std::string(json.substr(i, 4)), nullptr, 16)));
      i += 4;
      continue;
    }
    const std::string_view from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
    if (from.find(e) == std::string_view::npos) throw std::runtime_error("corpus: unknown JSON escape");
    out.push_back(static_cast<char16_t>(to[from.find(e)]));
  }
  return out;
}

std::vector<Formula> Load() {
  std::vector<Formula> formulas;
  for (const std::string name : {"formulas.txt", "formulas-multiline.jsonl"}) {
    const std::string path = std::string(CORVANE_CORPUS_DIR) + "/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      if (line.empty()) continue;
      formulas.push_back({name.ends_with(".jsonl") ? FromJson(line) : FromUtf8(line), name + ":" + std::to_string(number)});
    }
  }
  return formulas;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view utf16) { return utf8::ToUtf8(utf16); }

const std::vector<Formula>& LoadCorpus() {
  static const std::vector<Formula> formulas = Load();
  return formulas;
}

std::vector<Formula> Sample() {
  std::vector<Formula> sample;
  const auto& all = LoadCorpus();
  for (std::size_t i = 0; i < all.size(); i += kStride) sample.push_back(all[i]);
  return sample;
}

std::vector<Golden> LoadGolden(const std::string& name) {
  std::ifstream in(std::string(CORVANE_SOURCE_DIR) + "/tests/golden/" + name);
  if (!in) throw std::runtime_error("cannot read golden file " + name);
  std::vector<Golden> cases(1);
  for (std::string line; std::getline(in, line);) {
    if (line == "#" || line.starts_with("# ")) continue;
    Golden& g = cases.back();
    if (line.empty()) {
      if (!g.header.empty()) cases.emplace_back();
    } else if (g.header.empty()) {
      g.header = line;
    } else {
      g.lines += (g.lines.empty() ? "" : "\n") + line;
    }
  }
  if (cases.back().header.empty()) cases.pop_back();
  return cases;
}

}  // namespace corvane::corpus
