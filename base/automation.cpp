#include "base/automation.h"

#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

namespace corvane {

namespace {

std::string Narrow(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

[[noreturn]] void TypeMismatch() { throw AutomationError(err::kTypeMismatch, u"Type mismatch"); }

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == 0xA0; }

}  // namespace

AutomationError::AutomationError(std::int32_t number, std::u16string description, std::u16string source)
    : std::runtime_error(Narrow(description)),
      number_(number),
      description_(std::move(description)),
      source_(std::move(source)) {}

// ---- StringTable ----

StringTable::StringTable(std::int32_t rowLower, std::int32_t rowUpper, std::int32_t colLower, std::int32_t colUpper)
    : rowLower_(rowLower), colLower_(colLower) {
  if (rowUpper < rowLower || colUpper < colLower)
    throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
  rows_ = rowUpper - rowLower + 1;
  cols_ = colUpper - colLower + 1;
  cells_.assign(static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cols_), kEmpty);
}

StringTable::StringTable(std::u16string_view chars, std::int32_t colUpper) : rowLower_(1), colLower_(1) {
  if (chars.empty() || chars.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) ||
      colUpper < 1)
    throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
  rows_ = static_cast<std::int32_t>(chars.size());
  cols_ = colUpper;
  // Column 1 from the characters, then every other cell empty, each written once.
  const std::size_t count = chars.size() * static_cast<std::size_t>(cols_);
  cells_.reserve(count);
  cells_.assign(chars.begin(), chars.end());
  cells_.resize(count, kEmpty);
}

// A moved-from table is an empty one, with no rows to index into storage it no longer has.
StringTable::StringTable(StringTable&& other) noexcept
    : rowLower_(other.rowLower_),
      colLower_(other.colLower_),
      rows_(std::exchange(other.rows_, 0)),
      cols_(std::exchange(other.cols_, 0)),
      cells_(std::move(other.cells_)),
      pool_(std::move(other.pool_)) {
  other.cells_.clear();
}

StringTable& StringTable::operator=(StringTable&& other) noexcept {
  if (this != &other) {
    rowLower_ = other.rowLower_;
    colLower_ = other.colLower_;
    rows_ = std::exchange(other.rows_, 0);
    cols_ = std::exchange(other.cols_, 0);
    cells_ = std::move(other.cells_);
    other.cells_.clear();
    pool_ = std::move(other.pool_);
  }
  return *this;
}

void StringTable::OutOfRange() { throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range"); }

// Constant-initialised: tables may be read during other objects' static initialisation.
constinit const std::array<char16_t, 0x10000> StringTable::kAllCodeUnits = [] {
  std::array<char16_t, 0x10000> t{};
  for (std::uint32_t i = 0; i < t.size(); ++i) t[i] = static_cast<char16_t>(i);
  return t;
}();

std::u16string_view StringTable::longView(std::uint32_t cell) const noexcept {
  if (cell == kEmpty) return {};
  if (cell < kPoolBase) return kCommonTexts[cell - kCommonBase];
  return (*pool_)[cell - kPoolBase];
}

std::u16string_view StringTable::at(std::int32_t row, std::int32_t col) const {
  check(row, col);
  return get(row, col);
}

void StringTable::set(std::int32_t row, std::int32_t col, std::u16string_view value) {
  check(row, col);
  cells_[index(row, col)] = Intern(value);
}

StringTable::Handle StringTable::Intern(std::u16string_view value) {
  if (value.empty()) return kEmpty;
  if (value.size() == 1) return value[0];
  for (std::size_t i = 0; i < std::size(kCommonTexts); ++i)
    if (kCommonTexts[i] == value) return static_cast<Handle>(kCommonBase + i);
  if (pool_) {
    for (std::size_t i = 0; i < pool_->size(); ++i)
      if ((*pool_)[i] == value) return static_cast<Handle>(kPoolBase + i);
  }
  // Copy-on-write: a copied table shares its pool until one of them adds to it.
  if (!pool_) {
    pool_ = std::make_shared<std::vector<std::u16string>>();
  } else if (pool_.use_count() > 1) {
    pool_ = std::make_shared<std::vector<std::u16string>>(*pool_);
  }
  pool_->emplace_back(value);
  return static_cast<Handle>(kPoolBase + pool_->size() - 1);
}

bool operator==(const StringTable& a, const StringTable& b) {
  if (a.rowLower_ != b.rowLower_ || a.colLower_ != b.colLower_ || a.rows_ != b.rows_ || a.cols_ != b.cols_)
    return false;
  for (std::int32_t r = a.rowLower(); r <= a.rowUpper(); ++r)
    for (std::int32_t c = a.colLower(); c <= a.colUpper(); ++c)
      if (a.get(r, c) != b.get(r, c)) return false;
  return true;
}

// ---- VariantArray ----

VariantArray::VariantArray(std::int32_t lower, std::int32_t upper) : lower_(lower) {
  if (upper < lower - 1) throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
  items_.resize(static_cast<std::size_t>(static_cast<std::int64_t>(upper) - lower + 1));
}

Variant& VariantArray::at(std::int32_t i) {
  contentId_ = 0;
  if (i < lower_ || i > upper()) throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
  return items_[static_cast<std::size_t>(i - lower_)];
}

const Variant& VariantArray::at(std::int32_t i) const {
  if (i < lower_ || i > upper()) throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
  return items_[static_cast<std::size_t>(i - lower_)];
}

void VariantArray::redimPreserve(std::int32_t upper) {
  contentId_ = 0;
  if (upper < lower_ - 1) throw AutomationError(err::kSubscriptOutOfRange, u"Subscript out of range");
  items_.resize(static_cast<std::size_t>(static_cast<std::int64_t>(upper) - lower_ + 1));
}

VariantArray::VariantArray(const VariantArray& other) : lower_(other.lower_), items_(other.items_) {}
VariantArray::VariantArray(VariantArray&& other) noexcept : lower_(other.lower_), items_(std::move(other.items_)) {
  other.contentId_ = 0;
}
VariantArray& VariantArray::operator=(const VariantArray& other) {
  if (this != &other) {
    lower_ = other.lower_;
    items_ = other.items_;
    contentId_ = 0;
  }
  return *this;
}
VariantArray& VariantArray::operator=(VariantArray&& other) noexcept {
  if (this != &other) {
    lower_ = other.lower_;
    items_ = std::move(other.items_);
    contentId_ = 0;
    other.contentId_ = 0;
  }
  return *this;
}

std::uint64_t VariantArray::contentId() const {
  static std::atomic<std::uint64_t> next{0};
  if (contentId_ == 0) contentId_ = next.fetch_add(1, std::memory_order_relaxed) + 1;
  return contentId_;
}

bool operator==(const VariantArray& a, const VariantArray& b) {
  return a.lower_ == b.lower_ && a.items_ == b.items_;
}

// ---- Variant ----

bool Variant::asBool() const {
  if (auto p = std::get_if<bool>(&value_)) return *p;
  TypeMismatch();
}
std::int32_t Variant::asLong() const {
  if (auto p = std::get_if<std::int32_t>(&value_)) return *p;
  TypeMismatch();
}
double Variant::asDouble() const {
  if (auto p = std::get_if<double>(&value_)) return *p;
  TypeMismatch();
}
const std::u16string& Variant::string() const {
  if (auto p = std::get_if<std::u16string>(&value_)) return *p;
  TypeMismatch();
}
const ObjectRef& Variant::object() const {
  if (auto p = std::get_if<ObjectRef>(&value_)) return *p;
  throw AutomationError(err::kObjectRequired, u"Object required");
}
const StringTable& Variant::table() const {
  if (auto p = std::get_if<StringTable>(&value_)) return *p;
  TypeMismatch();
}
StringTable& Variant::table() {
  if (auto p = std::get_if<StringTable>(&value_)) return *p;
  TypeMismatch();
}
const VariantArray& Variant::array() const {
  if (auto p = std::get_if<VariantArray>(&value_)) return *p;
  TypeMismatch();
}
VariantArray& Variant::array() {
  if (auto p = std::get_if<VariantArray>(&value_)) return *p;
  TypeMismatch();
}

// ---- Conversions ----

double ParseNumber(std::u16string_view text, const RegionalFormat& fmt) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && IsSpace(text[i])) ++i;
  std::string ascii;  // normalised for from_chars: sign, digits, '.', 'e'
  bool negative = false;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  bool digits = false;
  bool afterDecimal = false;
  for (; i < n; ++i) {
    const char16_t c = text[i];
    if (c >= u'0' && c <= u'9') {
      ascii.push_back(static_cast<char>(c));
      digits = true;
    } else if (c == fmt.decimalSeparator && !afterDecimal) {
      ascii.push_back('.');
      afterDecimal = true;
    } else if (c == fmt.thousandsSeparator && !afterDecimal && digits && fmt.thousandsSeparator != 0) {
      // grouping is accepted and ignored, as the macro language does
    } else {
      break;
    }
  }
  if (!digits) TypeMismatch();
  if (i < n && (text[i] == u'e' || text[i] == u'E')) {
    std::size_t j = i + 1;
    std::string exponent = "e";
    if (j < n && (text[j] == u'+' || text[j] == u'-')) exponent.push_back(static_cast<char>(text[j++]));
    const std::size_t firstDigit = j;
    while (j < n && text[j] >= u'0' && text[j] <= u'9') exponent.push_back(static_cast<char>(text[j++]));
    if (j == firstDigit) TypeMismatch();
    ascii += exponent;
    i = j;
  }
  while (i < n && IsSpace(text[i])) ++i;
  if (i != n) TypeMismatch();
  double value = 0;
  const auto [ptr, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  if (ec == std::errc::result_out_of_range) throw AutomationError(err::kOverflow, u"Overflow");
  if (ec != std::errc() || ptr != ascii.data() + ascii.size()) TypeMismatch();
  return negative ? -value : value;
}

double ToDouble(const Variant& v, const RegionalFormat& fmt) {
  switch (v.type()) {
    case Variant::Type::Empty:
      return 0.0;
    case Variant::Type::Null:
      throw AutomationError(err::kInvalidUseOfNull, u"Invalid use of Null");
    case Variant::Type::Boolean:
      return v.asBool() ? -1.0 : 0.0;
    case Variant::Type::Long:
      return v.asLong();
    case Variant::Type::Double:
      return v.asDouble();
    case Variant::Type::String:
      return ParseNumber(v.string(), fmt);
    default:
      TypeMismatch();
  }
}

std::int32_t RoundToLong(double value) {
  const double r = std::nearbyint(value);  // default rounding mode: ties to even
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) throw AutomationError(err::kOverflow, u"Overflow");
  return static_cast<std::int32_t>(r);
}

double RoundHalfEven(double value, int decimals) {
  if (!std::isfinite(value)) return value;
  const double scale = std::pow(10.0, decimals);
  const double scaled = value * scale;
  if (!std::isfinite(scaled)) return value;
  return std::nearbyint(scaled) / scale;
}

std::int32_t ToLong(const Variant& v, const RegionalFormat& fmt) {
  if (v.type() == Variant::Type::Long) return v.asLong();
  return RoundToLong(ToDouble(v, fmt));
}

bool ToBool(const Variant& v, const RegionalFormat& fmt) {
  switch (v.type()) {
    case Variant::Type::Boolean:
      return v.asBool();
    case Variant::Type::String: {
      // Compared in place: options are read as text at every command.
      const auto is = [&](std::u16string_view lower) {
        const std::u16string& s = v.string();
        if (s.size() != lower.size()) return false;
        for (std::size_t i = 0; i < s.size(); ++i)
          if ((s[i] >= u'A' && s[i] <= u'Z' ? static_cast<char16_t>(s[i] + 32) : s[i]) != lower[i]) return false;
        return true;
      };
      if (is(u"true")) return true;
      if (is(u"false")) return false;
      // The options are stored as "0" or "1".
      if (const std::u16string& s = v.string(); s.size() == 1 && s[0] >= u'0' && s[0] <= u'9') return s[0] != u'0';
      return ParseNumber(v.string(), fmt) != 0.0;
    }
    default:
      return ToDouble(v, fmt) != 0.0;
  }
}

std::u16string_view TextView(const Variant& v, const RegionalFormat& fmt, std::u16string& converted) {
  if (v.isString()) return v.string();
  converted = ToText(v, fmt);
  return converted;
}

std::u16string ToText(const Variant& v, const RegionalFormat& fmt) {
  switch (v.type()) {
    case Variant::Type::Empty:
      return {};
    case Variant::Type::Null:
      throw AutomationError(err::kInvalidUseOfNull, u"Invalid use of Null");
    case Variant::Type::Boolean:
      return v.asBool() ? u"True" : u"False";
    case Variant::Type::Long:
      return FormatShortest(v.asLong(), fmt);
    case Variant::Type::Double:
      return FormatShortest(v.asDouble(), fmt);
    case Variant::Type::String:
      return v.string();
    default:
      TypeMismatch();
  }
}

std::u16string FormatShortest(double value, const RegionalFormat& fmt) {
  if (value == 0.0) return u"0";  // also turns -0 into 0
  char buffer[400];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (ec != std::errc()) throw AutomationError(err::kOverflow, u"Overflow");
  std::u16string out;
  out.reserve(static_cast<std::size_t>(end - buffer));
  for (const char* p = buffer; p != end; ++p)
    out.push_back(*p == '.' ? fmt.decimalSeparator : static_cast<char16_t>(*p));
  return out;
}

std::u16string FormatThousands(double value, const RegionalFormat& fmt) {
  const double rounded = std::nearbyint(value);
  if (!std::isfinite(rounded)) throw AutomationError(err::kOverflow, u"Overflow");
  char buffer[400];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(rounded), std::chars_format::fixed);
  if (ec != std::errc()) throw AutomationError(err::kOverflow, u"Overflow");
  const std::string digits(buffer, end);
  std::u16string out;
  if (rounded < 0) out.push_back(u'-');
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0 && fmt.thousandsSeparator != 0) out.push_back(fmt.thousandsSeparator);
    out.push_back(static_cast<char16_t>(digits[i]));
  }
  return out;
}

std::u16string DecimalKey(std::int64_t value) {
  return Ascii16(std::to_string(value));
}

std::u16string Ascii16(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace corvane
