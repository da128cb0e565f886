// Automation values: the value model that the add-in's interface and the host speak.
// Contract: a Variant is empty, null, Boolean (True converts to -1), 32-bit integer, double,
// UTF-16 string, counted object reference, two-dimensional string table or one-dimensional
// variant array with any lower bound. Conversions that can fail throw AutomationError with the
// run-time error number a spreadsheet macro would see (13 type mismatch, 9 subscript, ...).
// Arrays have value semantics, like arrays held in a variant: copying a Variant copies them.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace corvane {

// Run-time error numbers used across the system.
namespace err {
inline constexpr std::int32_t kSubscriptOutOfRange = 9;
inline constexpr std::int32_t kTypeMismatch = 13;
inline constexpr std::int32_t kInvalidProcedureCall = 5;
inline constexpr std::int32_t kOverflow = 6;
inline constexpr std::int32_t kObjectVariableNotSet = 91;
inline constexpr std::int32_t kInvalidUseOfNull = 94;
inline constexpr std::int32_t kObjectRequired = 424;
inline constexpr std::int32_t kApplicationDefined = 1004;  // what the spreadsheet raises when it refuses
inline constexpr std::int32_t kFileNotFound = 53;
inline constexpr std::int32_t kPathNotFound = 76;
inline constexpr std::int32_t kPermissionDenied = 70;
inline constexpr std::int32_t kDeviceIO = 57;
}  // namespace err

// A failing automation call or run-time error. `source` and `description` become the error
// information of an automation error at the COM boundary.
class AutomationError : public std::runtime_error {
 public:
  AutomationError(std::int32_t number, std::u16string description, std::u16string source = u"Corvane");
  std::int32_t number() const noexcept { return number_; }
  const std::u16string& description() const noexcept { return description_; }
  const std::u16string& source() const noexcept { return source_; }

 private:
  std::int32_t number_;
  std::u16string description_;
  std::u16string source_;
};

// Base of every object an automation value can refer to (host objects, windows, the add-in).
class AutomationObject {
 public:
  virtual ~AutomationObject() = default;
};
using ObjectRef = std::shared_ptr<AutomationObject>;

// A two-dimensional array of strings with explicit bounds, as the character table is.
// Entries are stored compactly (one 32-bit cell each, a column's cells side by side): the table
// of a long formula has four entries per character, and filling it must cost little more than
// the characters themselves.
class StringTable {
 public:
  StringTable() = default;
  StringTable(std::int32_t rowLower, std::int32_t rowUpper, std::int32_t colLower, std::int32_t colUpper);
  // Rows 1..chars.size(), columns 1..colUpper: column 1 holds the code units of `chars`, one
  // per row, and every other cell is empty. What a character scan starts from, in one pass.
  StringTable(std::u16string_view chars, std::int32_t colUpper);
  StringTable(const StringTable&) = default;
  StringTable(StringTable&& other) noexcept;
  StringTable& operator=(const StringTable&) = default;
  StringTable& operator=(StringTable&& other) noexcept;
  ~StringTable() = default;

  std::int32_t rowLower() const noexcept { return rowLower_; }
  std::int32_t rowUpper() const noexcept { return rowLower_ + rows_ - 1; }
  std::int32_t colLower() const noexcept { return colLower_; }
  std::int32_t colUpper() const noexcept { return colLower_ + cols_ - 1; }
  std::int32_t rows() const noexcept { return rows_; }
  std::int32_t cols() const noexcept { return cols_; }

  // Throw AutomationError 9 (subscript out of range) outside the bounds.
  std::u16string_view at(std::int32_t row, std::int32_t col) const;
  void set(std::int32_t row, std::int32_t col, std::u16string_view value);
  // Fast path for one code unit, the commonest entry.
  void setChar(std::int32_t row, std::int32_t col, char16_t c) {
    check(row, col);
    cells_[index(row, col)] = c;
  }

  // Marks and classes repeat in many cells: intern the text once, then write cells by handle
  // (through column()). Interning is canonical: two cells hold the same text exactly when
  // they hold the same handle, so a handle comparison stands for a text comparison. A handle
  // stays valid for this table (and its copies) for the table's life.
  using Handle = std::uint32_t;
  Handle Intern(std::u16string_view value);

  // Texts that fill many cells of character tables have the same handle in every table, known
  // without interning, and cost a table no storage of its own.
  static constexpr std::u16string_view kCommonTexts[] = {u"Str",         u"Sh",           u"LEFT_QUOTE",
                                                         u"RIGHT_QUOTE", u"ESCAPE_QUOTE", u"LITERAL_QUOTE"};
  // The handle of `value`, which must be one of kCommonTexts or at most one code unit long.
  static constexpr Handle CommonHandle(std::u16string_view value) {
    if (value.empty()) return kEmpty;
    if (value.size() == 1) return value[0];
    for (std::size_t i = 0; i < std::size(kCommonTexts); ++i)
      if (kCommonTexts[i] == value) return static_cast<Handle>(kCommonBase + i);
    throw std::logic_error("not a common text");
  }

  // Unchecked access for loops that have checked their bounds already.
  std::u16string_view get(std::int32_t row, std::int32_t col) const noexcept {
    return view(cells_[index(row, col)]);
  }
  Handle handle(std::int32_t row, std::int32_t col) const noexcept { return cells_[index(row, col)]; }
  // The handles of column `col`, rows rowLower() .. rowUpper() in order (unchecked).
  const Handle* column(std::int32_t col) const noexcept { return cells_.data() + index(rowLower_, col); }
  // The same for writing; only handles from Intern or CommonHandle may be stored.
  Handle* column(std::int32_t col) noexcept { return cells_.data() + index(rowLower_, col); }

  friend bool operator==(const StringTable& a, const StringTable& b);

 private:
  // A cell is a single code unit (0..0xFFFF), the empty string, one of kCommonTexts, or an
  // index into pool_.
  static constexpr std::uint32_t kEmpty = 0x10000;
  static constexpr std::uint32_t kCommonBase = 0x10001;
  static constexpr std::uint32_t kPoolBase = kCommonBase + std::size(kCommonTexts);

  std::size_t index(std::int32_t row, std::int32_t col) const noexcept {
    return static_cast<std::size_t>(col - colLower_) * static_cast<std::size_t>(rows_) +
           static_cast<std::size_t>(row - rowLower_);
  }
  void check(std::int32_t row, std::int32_t col) const {
    if (row < rowLower_ || row > rowUpper() || col < colLower_ || col > colUpper()) [[unlikely]]
      OutOfRange();
  }
  [[noreturn]] static void OutOfRange();

  std::u16string_view view(std::uint32_t cell) const noexcept {
    if (cell < kEmpty) [[likely]]
      return {&kAllCodeUnits[cell], 1};
    return longView(cell);
  }
  std::u16string_view longView(std::uint32_t cell) const noexcept;

  // Every single code unit, so that a cell holding one can hand out a view without storage.
  static const std::array<char16_t, 0x10000> kAllCodeUnits;

  std::int32_t rowLower_ = 0;
  std::int32_t colLower_ = 0;
  std::int32_t rows_ = 0;
  std::int32_t cols_ = 0;
  std::vector<std::uint32_t> cells_;
  // Longer strings; a shared pool keeps copies cheap and string views stable.
  std::shared_ptr<std::vector<std::u16string>> pool_;
};

class Variant;

// A one-dimensional array of variants with any lower bound (2 to 767, 1 to n, ...).
class VariantArray {
 public:
  VariantArray() = default;
  VariantArray(std::int32_t lower, std::int32_t upper);
  VariantArray(const VariantArray& other);
  VariantArray(VariantArray&& other) noexcept;
  VariantArray& operator=(const VariantArray& other);
  VariantArray& operator=(VariantArray&& other) noexcept;
  ~VariantArray() = default;

  std::int32_t lower() const noexcept { return lower_; }
  std::int32_t upper() const noexcept;
  std::int32_t size() const noexcept;

  // Throw AutomationError 9 outside the bounds.
  Variant& at(std::int32_t i);
  const Variant& at(std::int32_t i) const;

  // Re-dimension keeping the elements that stay in range (ReDim Preserve); new ones are empty.
  void redimPreserve(std::int32_t upper);

  // Identifies the array's contents for caches of values derived from them: the same number
  // means the same contents. Every non-const member gives the array a new number when next
  // asked, so a reference from the non-const at() is for immediate use: changes made through
  // it after the number was taken go unseen. Not for arrays shared between threads.
  std::uint64_t contentId() const;

  friend bool operator==(const VariantArray& a, const VariantArray& b);

 private:
  std::int32_t lower_ = 0;
  std::vector<Variant> items_;
  mutable std::uint64_t contentId_ = 0;  // 0: not yet numbered since the last change
};

struct Empty {
  friend bool operator==(Empty, Empty) { return true; }
};
struct Null {
  friend bool operator==(Null, Null) { return true; }
};

// The decimal and thousands separators of the user's regional number format.
struct RegionalFormat {
  char16_t decimalSeparator = u'.';
  char16_t thousandsSeparator = u',';
};

class Variant {
 public:
  enum class Type { Empty, Null, Boolean, Long, Double, String, Object, StringTable, Array };

  Variant() = default;
  Variant(Null) : value_(Null{}) {}
  Variant(bool b) : value_(b) {}
  Variant(std::int32_t i) : value_(i) {}
  Variant(double d) : value_(d) {}
  Variant(std::u16string s) : value_(std::move(s)) {}
  Variant(std::u16string_view s) : value_(std::u16string(s)) {}
  Variant(const char16_t* s) : value_(std::u16string(s)) {}
  Variant(ObjectRef o) : value_(std::move(o)) {}
  Variant(StringTable t) : value_(std::move(t)) {}
  Variant(VariantArray a) : value_(std::move(a)) {}

  Type type() const noexcept { return static_cast<Type>(value_.index()); }
  bool isEmpty() const noexcept { return type() == Type::Empty; }
  bool isNull() const noexcept { return type() == Type::Null; }
  bool isString() const noexcept { return type() == Type::String; }
  bool isObject() const noexcept { return type() == Type::Object; }
  // An object reference that refers to an object (not Nothing).
  bool isSomething() const noexcept { return isObject() && std::get<ObjectRef>(value_) != nullptr; }

  // Typed access; throws AutomationError 13 when the variant holds another type.
  bool asBool() const;
  std::int32_t asLong() const;
  double asDouble() const;
  const std::u16string& string() const;
  const ObjectRef& object() const;
  const StringTable& table() const;
  StringTable& table();
  const VariantArray& array() const;
  VariantArray& array();

  friend bool operator==(const Variant& a, const Variant& b) { return a.value_ == b.value_; }

 private:
  std::variant<Empty, Null, bool, std::int32_t, double, std::u16string, ObjectRef, StringTable, VariantArray>
      value_;
};

inline std::int32_t VariantArray::upper() const noexcept { return lower_ + size() - 1; }
inline std::int32_t VariantArray::size() const noexcept { return static_cast<std::int32_t>(items_.size()); }

// Conversions, as the spreadsheet's macro language does them.
// Text converts with the given regional format; Empty is 0 or ""; Null fails (94); objects fail (13).
double ToDouble(const Variant& v, const RegionalFormat& fmt);
// Whole number, ties to even; overflow fails (6).
std::int32_t ToLong(const Variant& v, const RegionalFormat& fmt);
// Numbers: non-zero is True; texts "True"/"False" (any case) or numeric text.
bool ToBool(const Variant& v, const RegionalFormat& fmt);
// Booleans give "True"/"False", numbers their shortest text in the regional format.
std::u16string ToText(const Variant& v, const RegionalFormat& fmt);
// ToText without a copy when the value holds text: a view of it, else of `converted`, which
// then holds the converted text.
std::u16string_view TextView(const Variant& v, const RegionalFormat& fmt, std::u16string& converted);

// Parses numeric text in the regional format: optional spaces, sign, digits with optional
// thousands separators, decimal separator, digits, optional exponent. Fails with error 13.
double ParseNumber(std::u16string_view text, const RegionalFormat& fmt);

// Rounding with ties going to the even neighbour.
double RoundHalfEven(double value, int decimals);
std::int32_t RoundToLong(double value);  // fails with error 6 outside the 32-bit range

// The shortest decimal text that reads back as `value`: no exponent, no trailing zeros, no
// decimal separator for whole numbers, the regional decimal separator otherwise.
std::u16string FormatShortest(double value, const RegionalFormat& fmt);
// The pattern "#,##0": rounded to a whole number (ties to even), groups of three digits.
std::u16string FormatThousands(double value, const RegionalFormat& fmt);

// Decimal text of an integer, no sign for non-negative values, no separators.
std::u16string DecimalKey(std::int64_t value);

// Plain ASCII to UTF-16, for literals and numbers.
std::u16string Ascii16(std::string_view ascii);

}  // namespace corvane
