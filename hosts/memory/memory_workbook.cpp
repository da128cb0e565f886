#include "hosts/memory/memory_workbook.h"

#include <algorithm>
#include <optional>

namespace corvane::memory {

namespace {

[[noreturn]] void ThrowClosed() { throw AutomationError(err::kObjectRequired, u"The workbook has been closed."); }

[[noreturn]] void ThrowBadAddress(std::u16string_view address) {
  throw AutomationError(err::kApplicationDefined, u"\"" + std::u16string(address) + u"\" is not a cell address.");
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - (u'a' - u'A')) : c; }

struct Corner {
  std::int32_t row;
  std::int32_t col;
};

// "B7" or "$B$7", letters in either case.
std::optional<Corner> ParseCorner(std::u16string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  if (i < n && text[i] == u'$') ++i;
  std::int32_t col = 0;
  std::size_t letters = 0;
  for (; i < n; ++i) {
    const char16_t c = AsciiUpper(text[i]);
    if (c < u'A' || c > u'Z') break;
    if (++letters > 3) return std::nullopt;
    col = col * 26 + (c - u'A' + 1);
  }
  if (letters == 0 || col > kMaxColumns) return std::nullopt;
  if (i < n && text[i] == u'$') ++i;
  std::int32_t row = 0;
  std::size_t digits = 0;
  for (; i < n && IsDigit(text[i]); ++i, ++digits) {
    row = row * 10 + (text[i] - u'0');
    if (row > kMaxRows) return std::nullopt;
  }
  if (digits == 0 || i != n || row < 1) return std::nullopt;
  return Corner{row, col};
}

}  // namespace

std::u16string ColumnLetters(std::int32_t column) {
  if (column < 1 || column > kMaxColumns)
    throw AutomationError(err::kApplicationDefined, u"Column number out of range.");
  std::u16string letters;
  for (; column > 0; column = (column - 1) / 26)
    letters.insert(letters.begin(), static_cast<char16_t>(u'A' + (column - 1) % 26));
  return letters;
}

// ---- MemoryApplication ----

std::shared_ptr<MemoryApplication> MemoryApplication::Create(TextMeasurer* measurer) {
  std::shared_ptr<MemoryApplication> app(new MemoryApplication());
  app->measurer_ = measurer;
  return app;
}

void MemoryApplication::CountCall() {
  ++calls_;
  if (failAt_ != 0 && calls_ >= failAt_) {
    failAt_ = 0;
    throw AutomationError(err::kApplicationDefined, u"Injected failure");
  }
}

void MemoryApplication::FailAtCall(std::int64_t k) { failAt_ = k > 0 ? calls_ + k : 0; }

TextMeasurer& MemoryApplication::measurer() { return measurer_ ? *measurer_ : corvane::Measurer(); }

RegionalFormat MemoryApplication::regional() const { return Services().regional; }

std::size_t MemoryApplication::FormulaLimit() const {
  // The number the version text starts with, as the macro language's Val reads it.
  std::size_t i = 0;
  while (i < version_.size() && version_[i] == u' ') ++i;
  std::int32_t major = 0;
  for (; i < version_.size() && IsDigit(version_[i]) && major < 1000; ++i) major = major * 10 + (version_[i] - u'0');
  return major <= 11 ? 1024 : 8192;
}

std::u16string MemoryApplication::ListSeparator() const {
  if (!listSeparator_.empty()) return listSeparator_;
  return regional().decimalSeparator == u',' ? u";" : u",";
}

std::u16string MemoryApplication::StandardFont() {
  CountCall();
  return standardFont_;
}

std::u16string MemoryApplication::Version() {
  CountCall();
  return version_;
}

std::shared_ptr<HostRange> MemoryApplication::ActiveCell() {
  CountCall();
  if (!activeCell_) throw AutomationError(err::kObjectVariableNotSet, u"No cell is active.");
  return activeCell_;
}

Variant MemoryApplication::International(std::int32_t index) {
  CountCall();
  const RegionalFormat fmt = regional();
  switch (index) {
    case 3:  // decimal separator
      return Variant(std::u16string(1, fmt.decimalSeparator));
    case 4:  // thousands separator
      return Variant(std::u16string(1, fmt.thousandsSeparator));
    case 5:  // list separator
      return Variant(ListSeparator());
    default:
      throw AutomationError(err::kApplicationDefined,
                            u"International(" + DecimalKey(index) + u") is not kept by the in-memory workbook.");
  }
}

void MemoryApplication::SetScreenUpdating(bool value) {
  CountCall();
  screenUpdating_ = value;
  ++screenUpdatingChanges_;
}

std::shared_ptr<HostWorkbook> MemoryApplication::WorkbooksAdd() {
  CountCall();
  return AddWorkbook();
}

std::shared_ptr<MemoryWorkbook> MemoryApplication::AddWorkbook() {
  auto book = std::make_shared<MemoryWorkbook>();
  book->app_ = weak_from_this();
  book->name_ = u"Book" + DecimalKey(workbooksAdded_ + 1);
  book->AddSheet(u"Sheet1");
  workbooks_.push_back(book);
  ++workbooksAdded_;
  return book;
}

std::vector<std::shared_ptr<MemoryWorkbook>> MemoryApplication::OpenWorkbooks() const { return workbooks_; }

// ---- MemoryWorkbook ----

std::shared_ptr<MemoryApplication> MemoryWorkbook::Enter() {
  auto app = app_.lock();
  if (!app) ThrowClosed();
  app->CountCall();
  if (!open_) ThrowClosed();
  return app;
}

std::shared_ptr<HostSheet> MemoryWorkbook::Worksheets(std::int32_t index) {
  Enter();
  return Sheet(index);
}

void MemoryWorkbook::Close(bool SaveChanges) {
  auto app = Enter();
  const auto self = shared_from_this();  // the open list may hold the last reference
  open_ = false;
  closedWithSave_ = SaveChanges;
  std::erase_if(app->workbooks_, [this](const auto& book) { return book.get() == this; });
  // A closed workbook has no active cell any more; nothing else becomes active in its place.
  if (app->activeCell_ && app->activeCell_->sheet()->book_.lock().get() == this) app->activeCell_.reset();
}

std::u16string MemoryWorkbook::Path() {
  Enter();
  return path_;
}

std::u16string MemoryWorkbook::Name() {
  Enter();
  return name_;
}

std::shared_ptr<MemorySheet> MemoryWorkbook::AddSheet(std::u16string name) {
  auto sheet = std::make_shared<MemorySheet>();
  sheet->book_ = weak_from_this();
  sheet->name_ = std::move(name);
  sheets_.push_back(sheet);
  return sheet;
}

std::shared_ptr<MemorySheet> MemoryWorkbook::Sheet(std::int32_t index) {
  if (index < 1 || index > static_cast<std::int32_t>(sheets_.size()))
    throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
  return sheets_[static_cast<std::size_t>(index - 1)];
}

std::shared_ptr<MemoryApplication> MemoryWorkbook::Application() const { return app_.lock(); }

// ---- MemorySheet ----

std::shared_ptr<MemoryApplication> MemorySheet::Enter() const {
  auto book = book_.lock();
  if (!book) ThrowClosed();
  return book->Enter();
}

std::shared_ptr<HostRange> MemorySheet::Cells(std::int32_t index) {
  Enter();
  if (index < 1) throw AutomationError(err::kApplicationDefined, u"Cell index out of range.");
  const std::int32_t row = (index - 1) / kMaxColumns + 1;
  const std::int32_t col = (index - 1) % kMaxColumns + 1;
  return std::make_shared<MemoryRange>(shared_from_this(), row, col, row, col);
}

std::u16string MemorySheet::Name() {
  Enter();
  return name_;
}

std::shared_ptr<HostWorkbook> MemorySheet::Parent() {
  Enter();
  return book_.lock();
}

std::shared_ptr<MemoryRange> MemorySheet::Range(std::int32_t row1, std::int32_t col1, std::int32_t row2,
                                                std::int32_t col2) {
  return std::make_shared<MemoryRange>(shared_from_this(), std::min(row1, row2), std::min(col1, col2),
                                       std::max(row1, row2), std::max(col1, col2));
}

std::shared_ptr<MemoryRange> MemorySheet::Range(std::u16string_view address) {
  const auto colon = address.find(u':');
  const auto first = ParseCorner(address.substr(0, colon));
  const auto last = colon == std::u16string_view::npos ? first : ParseCorner(address.substr(colon + 1));
  if (!first || !last) ThrowBadAddress(address);
  return Range(first->row, first->col, last->row, last->col);
}

MemorySheet::Cell* MemorySheet::Find(std::int32_t row, std::int32_t col) {
  auto it = cells_.find({row, col});
  return it == cells_.end() ? nullptr : &it->second;
}

const MemorySheet::Cell* MemorySheet::Find(std::int32_t row, std::int32_t col) const {
  auto it = cells_.find({row, col});
  return it == cells_.end() ? nullptr : &it->second;
}

MemorySheet::Cell& MemorySheet::At(std::int32_t row, std::int32_t col) { return cells_[{row, col}]; }

std::u16string MemorySheet::CellFormula(std::int32_t row, std::int32_t col) const {
  const Cell* cell = Find(row, col);
  if (!cell) return {};
  return cell->block ? cell->block->formula : cell->content;
}

bool MemorySheet::CellWrap(std::int32_t row, std::int32_t col) const {
  const Cell* cell = Find(row, col);
  return cell && cell->wrap;
}

void MemorySheet::SetCellWrap(std::int32_t row, std::int32_t col, bool wrap) {
  if (row < 1 || row > kMaxRows || col < 1 || col > kMaxColumns)
    throw AutomationError(err::kApplicationDefined, u"Cell out of range.");
  if (wrap) {
    At(row, col).wrap = true;
  } else if (Cell* cell = Find(row, col)) {
    cell->wrap = false;
    if (cell->content.empty() && !cell->block) cells_.erase({row, col});
  }
}

bool MemorySheet::CellInArray(std::int32_t row, std::int32_t col) const {
  const Cell* cell = Find(row, col);
  return cell && cell->block;
}

double MemorySheet::ColumnWidthPoints(std::int32_t col) const {
  auto it = columnPixels_.find(col);
  return (it == columnPixels_.end() ? kDefaultColumnPixels : it->second) * 0.75;
}

}  // namespace corvane::memory
