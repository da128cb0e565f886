// Ranges of the in-memory workbook: cell contents, array blocks, wrapping and column fit.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>

#include "base/unit_scan.h"
#include "formatting/refusal.h"
#include "hosts/memory/formula_balance.h"
#include "hosts/memory/memory_workbook.h"

namespace corvane::memory {

namespace {

constexpr std::size_t kMaxTextLength = 32767;
// What one write may materialise: a whole column of short entries, not a whole sheet.
constexpr std::int64_t kMaxCellsPerWrite = std::int64_t{1} << 20;
constexpr std::int64_t kMaxUnitsPerWrite = std::int64_t{1} << 26;
// Font metrics summed in floating point land a hair above whole pixels; that is no extra pixel.
constexpr double kPixelTolerance = 1e-9;
constexpr double kScreenDpi = 96.0;

[[noreturn]] void Refuse(std::u16string description) {
  throw AutomationError(err::kApplicationDefined, std::move(description));
}

// Calls fn(iterator) for every stored cell inside the rectangle; fn may erase the cell it gets.
template <class Cells, class Fn>
void ForEachStored(Cells& cells, std::int32_t row1, std::int32_t col1, std::int32_t row2, std::int32_t col2, Fn fn) {
  for (auto it = cells.lower_bound({row1, col1}); it != cells.end() && it->first.first <= row2;) {
    auto next = std::next(it);
    if (it->first.second >= col1 && it->first.second <= col2) fn(it);
    it = next;
  }
}

void CheckFormula(const MemoryApplication& app, std::u16string_view formula) {
  if (auto why = refusal::Refusal(formula, app.ListSeparator(), app.FormulaLimit()))
    Refuse(refusal::Sentence(std::move(*why)));
  if (!Balanced(formula)) Refuse(u"There is a problem with this formula: its parentheses or quotes do not match.");
}

// What a put of `text` leaves in a cell: a leading apostrophe marks text (and is not kept),
// a leading "=" a formula; anything else is a constant.
struct Entry {
  std::u16string content;
  bool formula = false;
};

Entry CellEntry(const MemoryApplication& app, std::u16string_view text) {
  if (!text.empty() && text.front() == u'\'') {
    text.remove_prefix(1);
  } else if (!text.empty() && text.front() == u'=') {
    CheckFormula(app, text);
    return {std::u16string(text), true};
  }
  if (text.size() > kMaxTextLength) Refuse(u"A cell holds at most 32,767 characters.");
  return {std::u16string(text), false};
}

double WidestLine(TextMeasurer& measurer, std::u16string_view text, std::u16string_view face, double points) {
  double widest = 0.0;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(u'\n', start);
    widest = std::max(widest, measurer.LineWidthPixels(text.substr(start, end - start), face, points, kScreenDpi));
    if (end == std::u16string_view::npos) return widest;
    start = end + 1;
  }
}

}  // namespace

MemoryRange::MemoryRange(std::shared_ptr<MemorySheet> sheet, std::int32_t row1, std::int32_t col1,
                         std::int32_t row2, std::int32_t col2)
    : sheet_(std::move(sheet)), row1_(row1), col1_(col1), row2_(row2), col2_(col2) {
  if (!sheet_) throw AutomationError(err::kObjectRequired, u"A range needs a sheet.");
  if (row1 < 1 || row1 > row2 || row2 > kMaxRows || col1 < 1 || col1 > col2 || col2 > kMaxColumns)
    Refuse(u"The range lies outside the sheet.");
}

std::shared_ptr<MemoryApplication> MemoryRange::Enter() const { return sheet_->Enter(); }

std::int64_t MemoryRange::CellCount() const {
  return static_cast<std::int64_t>(row2_ - row1_ + 1) * static_cast<std::int64_t>(col2_ - col1_ + 1);
}

bool MemoryRange::Contains(std::int32_t row, std::int32_t col) const {
  return row >= row1_ && row <= row2_ && col >= col1_ && col <= col2_;
}

void MemoryRange::CheckWholeBlocks() const {
  ForEachStored(sheet_->cells_, row1_, col1_, row2_, col2_, [this](auto it) {
    const auto& block = it->second.block;
    if (block && !(Contains(block->row1, block->col1) && Contains(block->row2, block->col2)))
      Refuse(u"You can't change part of an array.");
  });
}

void MemoryRange::CheckWriteSize(std::size_t unitsPerCell) const {
  const std::int64_t cells = CellCount();
  if (cells > kMaxCellsPerWrite ||
      cells * (static_cast<std::int64_t>(std::min<std::size_t>(unitsPerCell, kMaxTextLength)) + 1) >
          kMaxUnitsPerWrite)
    Refuse(u"The in-memory workbook does not write that many cells at once.");
}

void MemoryRange::PutContent(const std::u16string& content, bool formula) {
  auto& cells = sheet_->cells_;
  if (content.empty()) {
    ForEachStored(cells, row1_, col1_, row2_, col2_, [&cells](auto it) {
      it->second.content.clear();
      it->second.block.reset();
      if (!it->second.wrap) cells.erase(it);
    });
    return;
  }
  CheckWriteSize(content.size());
  for (std::int32_t r = row1_; r <= row2_; ++r) {
    for (std::int32_t c = col1_; c <= col2_; ++c) {
      auto& cell = sheet_->At(r, c);
      cell.content = content;
      cell.formula = formula;
      cell.block.reset();
    }
  }
}

Variant MemoryRange::HasArray() {
  Enter();
  std::int64_t inArray = 0;
  ForEachStored(sheet_->cells_, row1_, col1_, row2_, col2_, [&inArray](auto it) {
    if (it->second.block) ++inArray;
  });
  if (inArray == 0) return Variant(false);
  if (inArray == CellCount()) return Variant(true);
  return Variant(Null{});
}

Variant MemoryRange::HasFormula() {
  Enter();
  std::int64_t formulas = 0;
  ForEachStored(sheet_->cells_, row1_, col1_, row2_, col2_, [&formulas](auto it) {
    if (it->second.block || it->second.formula) ++formulas;
  });
  if (formulas == 0) return Variant(false);
  if (formulas == CellCount()) return Variant(true);
  return Variant(Null{});
}

std::shared_ptr<HostRange> MemoryRange::CurrentArray() {
  Enter();
  const auto* cell = sheet_->Find(row1_, col1_);
  if (!cell || !cell->block) Refuse(u"The cell is not part of an array formula.");
  const auto& block = *cell->block;
  return std::make_shared<MemoryRange>(sheet_, block.row1, block.col1, block.row2, block.col2);
}

std::int32_t MemoryRange::RowsCount() {
  Enter();
  return row2_ - row1_ + 1;
}

std::int32_t MemoryRange::ColumnsCount() {
  Enter();
  return col2_ - col1_ + 1;
}

std::shared_ptr<HostRange> MemoryRange::Cells(std::int32_t row, std::int32_t column) {
  Enter();
  // Relative to the top-left cell; may reach beyond the range (even above or left of it).
  const std::int64_t r = std::int64_t{row1_} + row - 1;
  const std::int64_t c = std::int64_t{col1_} + column - 1;
  if (r < 1 || r > kMaxRows || c < 1 || c > kMaxColumns) Refuse(u"The cell lies outside the sheet.");
  const auto r32 = static_cast<std::int32_t>(r);
  const auto c32 = static_cast<std::int32_t>(c);
  return std::make_shared<MemoryRange>(sheet_, r32, c32, r32, c32);
}

std::u16string MemoryRange::Formula() {
  Enter();
  const auto* cell = sheet_->Find(row1_, col1_);
  if (CellCount() == 1) return cell ? (cell->block ? cell->block->formula : cell->content) : std::u16string();
  // Several cells have one formula only when they all lie in one array block.
  if (cell && cell->block) {
    const auto& block = *cell->block;
    if (row2_ <= block.row2 && col2_ <= block.col2) return block.formula;
  }
  Refuse(u"The cells of the range do not share one formula.");
}

void MemoryRange::SetFormula(const std::u16string& text) {
  auto app = Enter();
  const Entry entry = CellEntry(*app, text);
  CheckWholeBlocks();
  PutContent(entry.content, entry.formula);
  FormulaWritten(*app, text);
}

void MemoryRange::SetFormulaArray(const std::u16string& text) {
  auto app = Enter();
  if (text.empty() || text.front() != u'=') Refuse(u"An array formula must start with \"=\".");
  CheckFormula(*app, text);
  CheckWholeBlocks();
  CheckWriteSize(0);
  auto block = std::make_shared<MemorySheet::ArrayBlock>(MemorySheet::ArrayBlock{row1_, col1_, row2_, col2_, text});
  for (std::int32_t r = row1_; r <= row2_; ++r) {
    for (std::int32_t c = col1_; c <= col2_; ++c) {
      auto& cell = sheet_->At(r, c);
      cell.content.clear();
      cell.block = block;
    }
  }
  FormulaWritten(*app, text);
}

void MemoryRange::FormulaWritten(MemoryApplication& app, std::u16string_view text) {
  ++app.formulaWrites_;
  if (scan::Find(text, u'\n', 0) != std::u16string_view::npos) WrapEveryCell();
}

void MemoryRange::WrapEveryCell() {
  for (std::int32_t r = row1_; r <= row2_; ++r)
    for (std::int32_t c = col1_; c <= col2_; ++c) sheet_->At(r, c).wrap = true;
}

Variant MemoryRange::WrapText() {
  Enter();
  std::int64_t wrapping = 0;
  ForEachStored(sheet_->cells_, row1_, col1_, row2_, col2_, [&wrapping](auto it) {
    if (it->second.wrap) ++wrapping;
  });
  if (wrapping == 0) return Variant(false);
  if (wrapping == CellCount()) return Variant(true);
  return Variant(Null{});
}

void MemoryRange::SetWrapText(const Variant& value) {
  auto app = Enter();
  const bool wrap = ToBool(value, app->regional());
  if (!wrap) {
    auto& cells = sheet_->cells_;
    ForEachStored(cells, row1_, col1_, row2_, col2_, [&cells](auto it) {
      it->second.wrap = false;
      if (it->second.content.empty() && !it->second.block) cells.erase(it);
    });
    return;
  }
  CheckWriteSize(0);
  WrapEveryCell();
}

void MemoryRange::SetValue(const Variant& value) {
  auto app = Enter();
  // Numbers are kept as the text Formula reads back, which does not depend on the region.
  const RegionalFormat invariant{u'.', u','};
  Entry entry;
  switch (value.type()) {
    case Variant::Type::Empty:
    case Variant::Type::Null:
      break;
    case Variant::Type::Boolean:
      entry.content = value.asBool() ? u"TRUE" : u"FALSE";
      break;
    case Variant::Type::Long:
    case Variant::Type::Double:
      entry.content = FormatShortest(ToDouble(value, invariant), invariant);
      break;
    case Variant::Type::String:
      entry = CellEntry(*app, value.string());
      break;
    default:
      throw AutomationError(err::kTypeMismatch, u"Type mismatch");
  }
  CheckWholeBlocks();
  PutContent(entry.content, entry.formula);
}

void MemoryRange::EntireColumnAutoFit() {
  auto app = Enter();
  TextMeasurer& measurer = app->measurer();
  // Widest displayed line per column; a formula displays as its text (nothing is evaluated).
  std::map<std::int32_t, double> widest;
  for (const auto& [key, cell] : sheet_->cells_) {
    if (key.second < col1_ || key.second > col2_) continue;
    const std::u16string& shown = cell.block ? cell.block->formula : cell.content;
    if (shown.empty()) continue;
    const double width = WidestLine(measurer, shown, app->standardFont_, kStandardFontPoints);
    auto [it, added] = widest.try_emplace(key.second, width);
    if (!added) it->second = std::max(it->second, width);
  }
  // Measured everything first, so a failing measurement changes no column.
  for (std::int32_t c = col1_; c <= col2_; ++c) {
    auto it = widest.find(c);
    if (it == widest.end()) {
      sheet_->columnPixels_.erase(c);
    } else {
      sheet_->columnPixels_[c] = std::ceil(it->second + kColumnPaddingPixels - kPixelTolerance);
    }
  }
}

double MemoryRange::EntireColumnWidth() {
  Enter();
  // The width of several columns is their sum, as for any range.
  double points = 0.0;
  for (std::int32_t c = col1_; c <= col2_; ++c) points += sheet_->ColumnWidthPoints(c);
  return points;
}

std::shared_ptr<HostSheet> MemoryRange::Parent() {
  Enter();
  return sheet_;
}

std::u16string MemoryRange::Address(bool RowAbsolute, bool ColumnAbsolute) {
  Enter();
  auto corner = [&](std::int32_t row, std::int32_t col) {
    std::u16string text = ColumnAbsolute ? u"$" : u"";
    text += ColumnLetters(col);
    if (RowAbsolute) text += u'$';
    return text + DecimalKey(row);
  };
  std::u16string address = corner(row1_, col1_);
  if (CellCount() > 1) address += u':' + corner(row2_, col2_);
  return address;
}

}  // namespace corvane::memory
