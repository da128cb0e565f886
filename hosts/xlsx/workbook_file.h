// A workbook file held in memory: its worksheets, their cells and formulas, the standard font and
// the wrap settings of its cell formats, and the edits made to formulas until it is saved.
// Contract:
//  - Open reads the package's content types, relationships, workbook part and styles; a
//    worksheet's part is read when it is first asked about and kept (its text for the write-back,
//    a compact index of its cells). The workbook part must be a SpreadsheetML workbook (.xlsx,
//    .xlsm and their templates); anything else is refused with a clear AutomationError.
//  - Formula texts here are in the file's form (no "=", "," separators); the host converts.
//    A cell of an array formula reads the block's formula; a cell of a shared formula reads the
//    group's formula moved to it (a reference moved off the sheet reads "#REF!"), or fails
//    clearly when the group has no master; a data table's cells fail clearly.
//  - Edits change formulas of existing formula cells only: a single cell that is not part of an
//    array block (a shared formula cell leaves its group, whose master moves on when it was the
//    master), or a whole array block. Anything else is refused (AutomationError 1004), unchanged.
//  - Save writes a new package: in each changed worksheet part only the elements of the changed
//    cells (and of cells whose shared formula had to move) are rewritten, the rest of the part and
//    every other part keep their bytes. A cell whose formula changed only by layout (whitespace
//    that unformat takes out) keeps its cached value, attributes and other children; only the
//    text of its <f> changes, written with the file's own escaping of quotes. A shared group's
//    master changed only by layout keeps its group (the members follow its text).
//    Any other change takes a shared cell out of its group and drops the cell's cached value and
//    value type, and the workbook part is saved with fullCalcOnLoad set so that spreadsheet
//    programs recalculate.
//  - Threads may work at once on different cells whose formula is their own (not shared, not
//    part of an array block): FormulaAt, ArrayBlockAt, WrapAt and SetFormulaAt on such cells,
//    with nothing else called meanwhile. Each thread keeps its own last read.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/xlsx/formula_text.h"
#include "hosts/xlsx/xml_text.h"
#include "hosts/xlsx/zip_package.h"

namespace corvane::xlsx {

inline constexpr std::uint32_t kNoIndex = 0xFFFFFFFFu;

enum class FormulaKind : std::uint8_t { Normal, Array, Shared, DataTable };

class WorkbookFile;

class Worksheet {
 public:
  Worksheet(WorkbookFile& book, std::u16string name, std::string part);

  const std::u16string& Name() const { return name_; }
  const std::string& PartName() const { return part_; }

  // A cell that holds a formula: the cell itself, or for an array formula its whole block
  // (reported once, at its top-left cell).
  struct FormulaCell {
    CellRect range;
    FormulaKind kind = FormulaKind::Normal;
    // A member of a shared group whose master is in the area too: its formula is the master's,
    // moved, whitespace included, so it takes the master's layout with it.
    bool followsMaster = false;
  };
  // The formula cells whose cell (or block) meets `area`, in sheet order.
  std::vector<FormulaCell> FormulaCells(const CellRect& area);

  // The formula the cell shows (file form), nullopt for a cell without a formula. A formula
  // beyond the spreadsheet's limits (length, nesting of functions) fails clearly.
  // The text stays valid until the next read or change of a formula.
  const std::optional<std::u16string>& FormulaAt(std::int32_t row, std::int32_t col);
  // How many cells of `area` hold a formula (their own or their array block's); a cell of text
  // holds none, whatever its first character.
  std::int64_t FormulaCellCount(const CellRect& area);
  // The constant a cell without a formula holds, as text ("" when empty).
  std::u16string ConstantAt(std::int32_t row, std::int32_t col);
  std::optional<CellRect> ArrayBlockAt(std::int32_t row, std::int32_t col);
  bool WrapAt(std::int32_t row, std::int32_t col);

  void SetFormulaAt(std::int32_t row, std::int32_t col, std::u16string_view fileText);
  void SetArrayFormula(const CellRect& block, std::u16string_view fileText);

  bool Modified() const { return modified_; }
  // Whether a changed formula loses its cached value, so that the workbook must be recalculated.
  bool DropsValues() const;
  // A run over many worksheets holds about one worksheet's text at a time. ReleaseText lets the
  // part's text go and keeps the cells and the edits; the text is read again from the package
  // when it is needed (a constant's value, the save). Unload forgets an unchanged worksheet
  // altogether (it is read again if asked about); a changed one only releases its text.
  void ReleaseText();
  void Unload();
  // The part's text with the changed cells rewritten: their new elements are worked out together,
  // once, when the size is first asked for, and put together as they are written.
  std::unique_ptr<PartContent> SavedContent() const;
  // Cells with a formula (array blocks count once), after loading.
  std::size_t FormulaCount();

 private:
  struct Cell {
    std::int32_t row = 0;
    std::int32_t col = 0;
    std::uint32_t style = 0;
    std::uint32_t formula = kNoIndex;  // its own <f>
    std::uint32_t block = kNoIndex;    // the array formula whose block holds it
    std::size_t begin = 0;             // its element's bytes in the part
    std::size_t end = 0;
    bool dirty = false;       // rewritten when saved
    bool dropValue = false;   // its cached value goes
  };
  struct Formula {
    FormulaKind kind = FormulaKind::Normal;
    std::uint32_t cell = kNoIndex;
    std::uint32_t group = kNoIndex;  // shared: its group
    CellRect ref;                    // array: its block
    std::string text;                // UTF-8, file form; a shared group's master only
    bool markup = false;             // elements inside <f>: no formula text to trust
    QuoteEntities quotes;            // how the file escaped quotes in it
    // Where its text lies in the part, when the cell's only <f> is a bare start tag, the text
    // and "</f>" (read plainly); 0 when not known.
    std::size_t textBegin = 0, textEnd = 0;
  };
  struct Group {
    std::uint32_t master = kNoIndex;  // formula holding the text
    CellRect ref;
    std::vector<std::uint32_t> members;  // formulas in sheet order
    std::size_t next = 0;                // members before it have left the group
    bool line = true;                    // all in one row or one column
    bool sameRow = true;
    bool sameColumn = true;
  };
  struct ColumnStyle {
    std::int32_t min, max;
    std::uint32_t style;
  };

  class Content;

  std::optional<std::u16string> StoredFormulaAt(std::int32_t row, std::int32_t col);
  void Load();
  // Reads the rows of the sheet data from `from` on; where its end tag ends.
  std::size_t ReadSheetData(std::size_t from, std::int32_t& lastRow);
  // Where the plain reader puts the rows it reads: the worksheet's own lists, or a second half's.
  struct RowsInto {
    std::vector<Cell>& cells;
    std::vector<Formula>& formulas;  // the cells' formula indices are into these
    std::map<std::int32_t, std::uint32_t>& rowStyles;
  };
  // The row whose tag starts at `lt` in `xml`, when it is in its plain form, read in one pass
  // over its markup into `into`: false, with nothing kept, for any other; `next` is where the row
  // ends.
  static bool ReadPlainRow(std::string_view xml, std::size_t lt, std::int32_t& lastRow, std::size_t& next,
                           const RowsInto& into);
  // The second half of a large worksheet's rows, read plainly on another thread from a row's end
  // on while this thread reads the first (see ReadSheetData).
  struct SecondHalf;
  // The rows between `begin` and `end` (a slice), by the XML parser.
  void ReadRows(std::size_t begin, std::size_t end, std::int32_t& lastRow);
  // A formula's block (array) or group (shared) from its attributes ref and si; what is wrong
  // with them for the cell, or null.
  static const char* Place(Formula& formula, const Cell& cell, std::optional<std::string_view> ref,
                           std::optional<std::string_view> group);
  void Link();
  std::uint32_t Find(std::int32_t row, std::int32_t col) const;
  std::u16string TextOf(const Formula& f) const;
  std::u16string ExpandedText(std::uint32_t formula) const;
  void LeaveGroup(std::uint32_t formula);
  std::u16string Where(std::int32_t row, std::int32_t col) const;
  // Appends the cell's new element without its formula's text, and says where that goes (textAt
  // stays as it was when the cell has no formula of its own).
  void AppendCell(std::string& out, const Cell& cell, std::size_t& textAt) const;
  // The part's text, read again from the package after ReleaseText.
  const std::string& Text() const;
  // Drops the text again after the save read it, when the worksheet had released it.
  void DropSavedText() const;

  WorkbookFile& book_;
  std::u16string name_;
  std::string part_;
  bool loaded_ = false;
  std::atomic<bool> modified_{false};
  mutable std::string xml_;
  mutable bool textReleased_ = false;
  std::vector<Cell> cells_;  // sorted by (row, col)
  std::vector<ElementSpan> spans_;  // while loading: the elements inside the rows of a slice
  std::vector<Formula> formulas_;
  std::vector<Group> groups_;
  std::vector<std::uint32_t> arrays_;  // array formulas
  // What FormulaAt gave and Find found for the cell asked about last, per thread: a command asks
  // about its cell many times in a row (and each read decodes, moves a shared formula, checks the
  // limits). A thread's cache holds for one state of the worksheet, `state_`, renewed whenever
  // more than one cell's own formula changes (loading, unloading, a shared group or an array
  // block edited); a change of a single cell forgets the changing thread's read.
  struct ReadCache;
  ReadCache& Cache() const;
  void Renew();
  std::atomic<std::uint64_t> state_{0};
  std::map<std::int32_t, std::uint32_t> rowStyles_;
  std::vector<ColumnStyle> columnStyles_;
};

class WorkbookFile {
 public:
  // How rows are read: plainly where they allow it (Plain: the rows of a large worksheet in two
  // halves at once, on two threads), the same with every worksheet's rows in two halves
  // (PlainInHalves, which tests hold to the others), or every one by the XML parser (the plain
  // reader's twin, which tests hold it to).
  enum class RowReading { Plain, PlainInHalves, ParserOnly };
  static std::unique_ptr<WorkbookFile> Open(const std::string& path, const PackageLimits& limits = {},
                                            RowReading rows = RowReading::Plain);

  const std::string& path() const { return package_->path(); }
  // The file's name ("Budget.xlsx") and its folder (absolute, no trailing "/").
  const std::u16string& FileName() const { return fileName_; }
  const std::u16string& Folder() const { return folder_; }

  std::size_t WorksheetCount() const { return sheets_.size(); }
  Worksheet& WorksheetAt(std::size_t index) { return *sheets_.at(index); }
  // By name, ignoring case as the spreadsheet does; null when there is none.
  Worksheet* FindWorksheet(std::u16string_view name);
  std::size_t ActiveWorksheet() const { return active_; }

  // The font of the default cell style ("Normal").
  const std::u16string& StandardFontName() const { return fontName_; }
  double StandardFontSize() const { return fontSize_; }
  // Whether cells of the cell format `style` wrap text.
  bool StyleWraps(std::uint32_t style) const { return style < wraps_.size() && wraps_[style]; }

  std::uint64_t UnpackedSize() const { return package_->UnpackedSize(); }
  const ZipPackage& package() const { return *package_; }
  bool Modified() const;
  // Writes the workbook with its changes to `target` (its own file when empty).
  void Save(const std::string& target = {});

  // Shared strings, read on first use (constants only).
  const std::string& SharedString(std::size_t index);

 private:
  friend class Worksheet;
  WorkbookFile() = default;
  void ReadStyles(const std::string& part);

  std::unique_ptr<ZipPackage> package_;
  RowReading rowReading_ = RowReading::Plain;
  std::string workbookPart_;
  std::u16string fileName_;
  std::u16string folder_;
  std::vector<std::unique_ptr<Worksheet>> sheets_;
  std::size_t active_ = 0;
  std::u16string fontName_ = u"Calibri";
  double fontSize_ = 11.0;
  std::vector<bool> wraps_;
  std::string sharedStringsPart_;
  bool sharedStringsLoaded_ = false;
  std::vector<std::string> sharedStrings_;
};

}  // namespace corvane::xlsx
