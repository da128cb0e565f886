#include "hosts/xlsx/xlsx_host.h"

#include "formatting/refusal.h"
#include "hosts/xlsx/text_kernel.h"
#include "hosts/xlsx/xml_text.h"

namespace corvane::xlsx {

namespace {

[[noreturn]] void Refuse(std::u16string description) {
  throw AutomationError(err::kApplicationDefined, std::move(description));
}

[[noreturn]] void ThrowClosed() { throw AutomationError(err::kObjectRequired, u"The workbook has been closed."); }

std::int32_t VersionNumber(std::u16string_view version) {
  std::size_t i = 0;
  while (i < version.size() && version[i] == u' ') ++i;
  std::int32_t major = 0;
  for (; i < version.size() && version[i] >= u'0' && version[i] <= u'9' && major < 1000; ++i)
    major = major * 10 + (version[i] - u'0');
  return major;
}

}  // namespace

// ---- XlsxApplication ----

std::shared_ptr<XlsxApplication> XlsxApplication::Open(const std::string& path, HostOptions options) {
  std::shared_ptr<XlsxApplication> app(new XlsxApplication());
  const RegionalFormat regional = Services().regional;
  char16_t list = regional.decimalSeparator == u',' ? u';' : u',';
  if (!options.listSeparator.empty()) {
    if (options.listSeparator.size() != 1)
      throw AutomationError(err::kInvalidProcedureCall, u"The list separator of formulas is one character.");
    list = options.listSeparator.front();
  }
  app->dialect_ = MakeDialect(list, regional.decimalSeparator);
  app->options_ = std::move(options);
  app->workbook_ = std::make_shared<XlsxWorkbook>(app, WorkbookFile::Open(path, app->options_.limits));
  return app;
}

std::shared_ptr<XlsxApplication> XlsxApplication::Companion() const {
  std::shared_ptr<XlsxApplication> other(new XlsxApplication());
  other->options_ = options_;
  other->dialect_ = dialect_;
  other->workbook_ = std::make_shared<XlsxWorkbook>(other, workbook_->fileShared());
  return other;
}

std::size_t XlsxApplication::FormulaLimit() const { return VersionNumber(options_.version) <= 11 ? 1024 : 8192; }

std::u16string XlsxApplication::StandardFont() {
  return Call([&] {
    return options_.standardFont.empty() ? workbook_->file().StandardFontName() : options_.standardFont;
  });
}

std::u16string XlsxApplication::Version() { return options_.version; }

std::shared_ptr<HostRange> XlsxApplication::ActiveCell() {
  return Call([&] {
    if (!activeCell_) throw AutomationError(err::kObjectVariableNotSet, u"No cell is active.");
    return activeCell_;
  });
}

Variant XlsxApplication::International(std::int32_t index) {
  return Call([&] {
    switch (index) {
      case 3:
        return Variant(std::u16string(1, dialect_.decimal));
      case 4:
        return Variant(std::u16string(1, Services().regional.thousandsSeparator));
      case 5:
        return Variant(std::u16string(1, dialect_.list));
      default:
        throw AutomationError(err::kApplicationDefined,
                              u"International(" + DecimalKey(index) + u") is not kept by the workbook-file host.");
    }
  });
}

void XlsxApplication::SetScreenUpdating(bool value) { screenUpdating_ = value; }

std::shared_ptr<HostWorkbook> XlsxApplication::WorkbooksAdd() {
  return Call([&]() -> std::shared_ptr<HostWorkbook> {
    if (!scratch_) {
      scratch_ = memory::MemoryApplication::Create(options_.measurer);
      // The workbook's font name, at the in-memory workbook's one size, as `corvane calibrate` measures.
      scratch_->SetStandardFont(StandardFont());
      scratch_->SetVersion(options_.version);
    }
    return scratch_->AddWorkbook();
  });
}

// ---- XlsxWorkbook ----

XlsxWorkbook::XlsxWorkbook(std::weak_ptr<XlsxApplication> app, std::shared_ptr<WorkbookFile> file)
    : app_(std::move(app)), file_(std::move(file)) {
  sheets_.resize(file_->WorksheetCount());
}

std::shared_ptr<XlsxApplication> XlsxWorkbook::Enter() {
  auto app = app_.lock();
  if (!app || !open_) ThrowClosed();
  return app;
}

std::shared_ptr<XlsxSheet> XlsxWorkbook::Sheet(std::size_t index) {
  if (index >= sheets_.size()) throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
  if (!sheets_[index]) sheets_[index] = std::make_shared<XlsxSheet>(weak_from_this(), file_->WorksheetAt(index));
  return sheets_[index];
}

std::shared_ptr<XlsxSheet> XlsxWorkbook::SheetLike(XlsxSheet& other) {
  for (std::size_t i = 0; i < file_->WorksheetCount(); ++i)
    if (&file_->WorksheetAt(i) == &other.data()) return Sheet(i);
  throw AutomationError(err::kSubscriptOutOfRange, u"The worksheet is not in this workbook.");
}

std::shared_ptr<XlsxSheet> XlsxWorkbook::SheetNamed(std::u16string_view name) {
  Worksheet* sheet = file_->FindWorksheet(name);
  if (!sheet) return nullptr;
  for (std::size_t i = 0; i < file_->WorksheetCount(); ++i)
    if (&file_->WorksheetAt(i) == sheet) return Sheet(i);
  return nullptr;
}

std::shared_ptr<HostSheet> XlsxWorkbook::Worksheets(std::int32_t index) {
  auto app = Enter();
  return app->Call([&] {
    if (index < 1) throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
    return std::shared_ptr<HostSheet>(Sheet(static_cast<std::size_t>(index - 1)));
  });
}

void XlsxWorkbook::Close(bool SaveChanges) {
  auto app = Enter();
  app->Call([&] {
    if (SaveChanges) Save();
    open_ = false;
    return 0;
  });
}

void XlsxWorkbook::Save(const std::string& target) { file_->Save(target); }

std::u16string XlsxWorkbook::Path() {
  Enter();
  return file_->Folder();
}

std::u16string XlsxWorkbook::Name() {
  Enter();
  return file_->FileName();
}

// ---- XlsxSheet ----

XlsxSheet::XlsxSheet(std::weak_ptr<XlsxWorkbook> book, Worksheet& sheet) : book_(std::move(book)), sheet_(sheet) {}

std::shared_ptr<XlsxApplication> XlsxSheet::Enter() const {
  auto book = book_.lock();
  if (!book) ThrowClosed();
  return book->Enter();
}

std::shared_ptr<HostRange> XlsxSheet::Cells(std::int32_t index) {
  auto app = Enter();
  return app->Call([&] {
    if (index < 1 || std::int64_t{index} > std::int64_t{kMaxRows} * kMaxColumns)
      Refuse(u"Cell index out of range.");
    const std::int32_t row = (index - 1) / kMaxColumns + 1;
    const std::int32_t col = (index - 1) % kMaxColumns + 1;
    return std::shared_ptr<HostRange>(Range({row, col, row, col}));
  });
}

std::u16string XlsxSheet::Name() {
  Enter();
  return sheet_.Name();
}

std::shared_ptr<HostWorkbook> XlsxSheet::Parent() {
  Enter();
  return book_.lock();
}

std::shared_ptr<XlsxRange> XlsxSheet::Range(const CellRect& rect) {
  return std::make_shared<XlsxRange>(shared_from_this(), rect);
}

// ---- XlsxRange ----

XlsxRange::XlsxRange(std::shared_ptr<XlsxSheet> sheet, const CellRect& rect) : sheet_(std::move(sheet)), rect_(rect) {
  if (rect.row1 < 1 || rect.row1 > rect.row2 || rect.row2 > kMaxRows || rect.col1 < 1 || rect.col1 > rect.col2 ||
      rect.col2 > kMaxColumns)
    Refuse(u"The range lies outside the sheet.");
}

Variant XlsxRange::HasArray() {
  auto app = sheet_->Enter();
  return app->Call([&] {
    Worksheet& data = sheet_->data();
    std::int64_t inArray = 0;
    for (std::int32_t r = rect_.row1; r <= rect_.row2; ++r) {
      for (std::int32_t c = rect_.col1; c <= rect_.col2; ++c) {
        if (const auto block = data.ArrayBlockAt(r, c)) {
          // A whole stretch of the block at once.
          const std::int32_t to = std::min(block->col2, rect_.col2);
          inArray += to - c + 1;
          c = to;
        }
      }
    }
    if (inArray == 0) return Variant(false);
    if (inArray == rect_.Count()) return Variant(true);
    return Variant(Null{});
  });
}

Variant XlsxRange::HasFormula() {
  auto app = sheet_->Enter();
  return app->Call([&] {
    const std::int64_t formulas = sheet_->data().FormulaCellCount(rect_);
    if (formulas == 0) return Variant(false);
    if (formulas == rect_.Count()) return Variant(true);
    return Variant(Null{});
  });
}

std::shared_ptr<HostRange> XlsxRange::CurrentArray() {
  auto app = sheet_->Enter();
  return app->Call([&] {
    const auto block = sheet_->data().ArrayBlockAt(rect_.row1, rect_.col1);
    if (!block) Refuse(u"The cell is not part of an array formula.");
    return std::shared_ptr<HostRange>(sheet_->Range(*block));
  });
}

std::int32_t XlsxRange::RowsCount() {
  sheet_->Enter();
  return rect_.row2 - rect_.row1 + 1;
}

std::int32_t XlsxRange::ColumnsCount() {
  sheet_->Enter();
  return rect_.col2 - rect_.col1 + 1;
}

std::shared_ptr<HostRange> XlsxRange::Cells(std::int32_t row, std::int32_t column) {
  auto app = sheet_->Enter();
  return app->Call([&] {
    const std::int64_t r = std::int64_t{rect_.row1} + row - 1;
    const std::int64_t c = std::int64_t{rect_.col1} + column - 1;
    if (r < 1 || r > kMaxRows || c < 1 || c > kMaxColumns) Refuse(u"The cell lies outside the sheet.");
    const auto r32 = static_cast<std::int32_t>(r);
    const auto c32 = static_cast<std::int32_t>(c);
    return std::shared_ptr<HostRange>(sheet_->Range({r32, c32, r32, c32}));
  });
}

std::u16string XlsxRange::Formula() {
  auto app = sheet_->Enter();
  return app->Call([&] {
    Worksheet& data = sheet_->data();
    if (rect_.Count() > 1) {
      const auto block = data.ArrayBlockAt(rect_.row1, rect_.col1);
      if (!block || rect_.row2 > block->row2 || rect_.col2 > block->col2)
        Refuse(u"The cells of the range do not share one formula.");
    }
    if (const auto& formula = data.FormulaAt(rect_.row1, rect_.col1)) return ShownFormula(*formula, app->dialect());
    return data.ConstantAt(rect_.row1, rect_.col1);
  });
}

std::u16string XlsxRange::FileText(XlsxApplication& app, const std::u16string& text, std::u16string_view previous) const {
  if (text.empty() || text.front() != u'=')
    Refuse(u"In a workbook file only formulas are changed; \"" + text.substr(0, 40) + u"\" is not a formula.");
  if (auto why = refusal::Refusal(text, std::u16string_view(&app.dialect().list, 1), app.FormulaLimit()))
    Refuse(refusal::Sentence(std::move(*why)));
  if (!Balanced(text)) Refuse(u"There is a problem with this formula: its parentheses or quotes do not match.");
  if (!XmlCharacters(text)) Refuse(u"The formula holds a character that a workbook file cannot store.");
  return FileFormula(text, app.dialect(), previous);
}

void XlsxRange::SetFormula(const std::u16string& text) {
  auto app = sheet_->Enter();
  app->Call([&] {
    if (rect_.Count() != 1) Refuse(u"In a workbook file a formula is changed one cell at a time.");
    Worksheet& data = sheet_->data();
    const auto& previous = data.FormulaAt(rect_.row1, rect_.col1);
    data.SetFormulaAt(rect_.row1, rect_.col1, FileText(*app, text, previous ? *previous : std::u16string_view()));
    return 0;
  });
}

void XlsxRange::SetFormulaArray(const std::u16string& text) {
  auto app = sheet_->Enter();
  app->Call([&] {
    Worksheet& data = sheet_->data();
    const auto& previous = data.FormulaAt(rect_.row1, rect_.col1);
    data.SetArrayFormula(rect_, FileText(*app, text, previous ? *previous : std::u16string_view()));
    return 0;
  });
}

Variant XlsxRange::WrapText() {
  auto app = sheet_->Enter();
  return app->Call([&] {
    Worksheet& data = sheet_->data();
    std::int64_t wrapping = 0;
    for (std::int32_t r = rect_.row1; r <= rect_.row2; ++r)
      for (std::int32_t c = rect_.col1; c <= rect_.col2; ++c) wrapping += data.WrapAt(r, c) ? 1 : 0;
    if (wrapping == 0) return Variant(false);
    if (wrapping == rect_.Count()) return Variant(true);
    return Variant(Null{});
  });
}

void XlsxRange::SetWrapText(const Variant& value) {
  auto app = sheet_->Enter();
  app->Call([&] {
    const bool wrap = ToBool(value, Services().regional);
    Worksheet& data = sheet_->data();
    for (std::int32_t r = rect_.row1; r <= rect_.row2; ++r)
      for (std::int32_t c = rect_.col1; c <= rect_.col2; ++c)
        if (data.WrapAt(r, c) != wrap)
          Refuse(u"In a workbook file cell formats are not changed; " + sheet_->data().Name() + u"!" +
                 CellAddress(r, c) + u" keeps its text wrapping.");
    return 0;
  });
}

void XlsxRange::SetValue(const Variant&) {
  auto app = sheet_->Enter();
  app->Call([&]() -> int { Refuse(u"In a workbook file only formulas are changed; values are left alone."); });
}

void XlsxRange::EntireColumnAutoFit() {
  auto app = sheet_->Enter();
  app->Call([&]() -> int { Refuse(u"In a workbook file column widths are left alone; measure in a scratch workbook."); });
}

double XlsxRange::EntireColumnWidth() {
  auto app = sheet_->Enter();
  return app->Call([&]() -> double {
    Refuse(u"The workbook-file host does not report column widths; measure in a scratch workbook.");
  });
}

std::shared_ptr<HostSheet> XlsxRange::Parent() {
  sheet_->Enter();
  return sheet_;
}

std::u16string XlsxRange::Address(bool RowAbsolute, bool ColumnAbsolute) {
  sheet_->Enter();
  auto corner = [&](std::int32_t row, std::int32_t col) {
    std::u16string text = ColumnAbsolute ? u"$" : u"";
    text += ColumnName(col);
    if (RowAbsolute) text += u'$';
    return text + DecimalKey(row);
  };
  std::u16string address = corner(rect_.row1, rect_.col1);
  if (rect_.Count() > 1) address += u':' + corner(rect_.row2, rect_.col2);
  return address;
}

}  // namespace corvane::xlsx
