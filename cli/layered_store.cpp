#include "cli/layered_store.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "formatting/formulate_command.h"
#include "spacing/calibration_store.h"
#include "windows/frm_settings.h"

namespace corvane::cli {

namespace {

// A default no stored value can equal: it tells a missing key from a stored one.
constexpr std::u16string_view kAbsent = u"\uFFFF\uFFFEabsent";

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

// Short names, compared eight bytes at a time without a library call: this runs 766 times for
// every formula.
bool Same(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  const char* x = reinterpret_cast<const char*>(a.data());
  const char* y = reinterpret_cast<const char*>(b.data());
  std::size_t bytes = a.size() * sizeof(char16_t);
  for (; bytes >= 8; bytes -= 8, x += 8, y += 8) {
    std::uint64_t u = 0;
    std::uint64_t v = 0;
    std::memcpy(&u, x, 8);
    std::memcpy(&v, y, 8);
    if (u != v) return false;
  }
  for (; bytes > 0; --bytes, ++x, ++y)
    if (*x != *y) return false;
  return true;
}

}  // namespace

std::optional<std::size_t> LayeredStore::KeyNumber(std::u16string_view key) {
  if (key.empty() || key.size() > 4) return std::nullopt;
  std::size_t n = 0;
  for (const char16_t c : key) {
    if (c < u'0' || c > u'9') return std::nullopt;
    n = n * 10 + static_cast<std::size_t>(c - u'0');
  }
  if (n >= kCachedKeys || (key.size() > 1 && key.front() == u'0')) return std::nullopt;
  return n;
}

bool LayeredStore::CacheHolds(std::u16string_view appName, std::u16string_view section) const {
  return cacheValid_ && Same(section, cacheSection_) && Same(appName, cacheApp_);
}

std::u16string LayeredStore::GetSetting(std::u16string_view appName, std::u16string_view section,
                                        std::u16string_view key, std::u16string_view defaultValue) {
  const std::optional<std::size_t> number = KeyNumber(key);
  // The hot path: a width of the section read last.
  if (number && CacheHolds(appName, section)) {
    const Entry& entry = cache_[*number];
    if (entry.known) return entry.present ? entry.value : std::u16string(defaultValue);
  }
  if (appName == calibration::kAppName) {
    if (overrides_.uncalibrated) {
      if (StartsWith(section, u"Spacing_")) return std::u16string(defaultValue);
      if (StartsWith(section, u"Special_")) return u"1";
    }
    if (section == windows::kSettingsSection) {
      if (key == formulate::kFormatAllParensKey && overrides_.allParens) return *overrides_.allParens ? u"1" : u"0";
      if (key == formulate::kAlwaysSendToNotepadKey && overrides_.alwaysNotepad)
        return *overrides_.alwaysNotepad ? u"1" : u"0";
    }
  }
  if (!number) return base_.GetSetting(appName, section, key, defaultValue);
  if (!CacheHolds(appName, section)) {
    cacheApp_ = appName;
    cacheSection_ = section;
    cache_.assign(kCachedKeys, Entry{});
    cacheValid_ = true;
  }
  Entry& entry = cache_[*number];
  std::u16string value = base_.GetSetting(appName, section, key, kAbsent);
  entry.known = true;
  entry.present = value != kAbsent;
  if (entry.present) entry.value = std::move(value);
  return entry.present ? entry.value : std::u16string(defaultValue);
}

void LayeredStore::SaveSetting(std::u16string_view appName, std::u16string_view section, std::u16string_view key,
                               std::u16string_view value) {
  cacheValid_ = false;
  base_.SaveSetting(appName, section, key, value);
}

}  // namespace corvane::cli
