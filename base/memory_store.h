// An in-memory settings store: the same application / section / key hierarchy as the per-user
// store, kept in this object only. Tests and the embedded default host use it.
// Contract: names compare exactly, code unit by code unit (no case folding); a read of a missing
// key or section returns the default; a save creates section and key as needed. Reads and saves
// are counted, and saves can be made to fail after a given number, to test how callers behave
// when the store refuses. One thread at a time, like the module state.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/platform.h"

namespace corvane {

struct SettingKey {
  std::u16string app;
  std::u16string section;
  std::u16string key;
  friend auto operator<=>(const SettingKey&, const SettingKey&) = default;
};

class MemoryStore : public SettingsStore {
 public:
  std::u16string GetSetting(std::u16string_view appName, std::u16string_view section, std::u16string_view key,
                            std::u16string_view defaultValue) override;
  // Throws the configured failure once the allowed number of saves is used up; the value is then
  // not stored.
  void SaveSetting(std::u16string_view appName, std::u16string_view section, std::u16string_view key,
                   std::u16string_view value) override;
  // Nothing changes it from outside; every save (a refused one too) gives a new version.
  StoreVersion Version() override { return {number_, 0, changes_}; }

  // Everything stored, ordered by application, section and key.
  std::map<SettingKey, std::u16string> Snapshot() const;
  // The keys of one section in order; empty when the section does not exist.
  std::vector<std::u16string> Keys(std::u16string_view appName, std::u16string_view section) const;
  bool Contains(std::u16string_view appName, std::u16string_view section, std::u16string_view key) const;

  std::size_t ReadCount() const noexcept { return reads_; }
  std::size_t SaveCount() const noexcept { return saves_; }  // saves that stored their value
  std::size_t FailedSaveCount() const noexcept { return failedSaves_; }
  void ResetCounts() noexcept { reads_ = saves_ = failedSaves_ = 0; }

  // Lets `successfulSaves` more saves through, then makes every save throw AutomationError
  // `number` with `description`, until StopFailing.
  void FailSavesAfter(std::size_t successfulSaves, std::int32_t number = err::kDeviceIO,
                      std::u16string description = u"The settings store refused the save.");
  void StopFailing() noexcept { failure_.reset(); }

 private:
  // Hashed rather than ordered: test batches read hundreds of keys per command run, tens of
  // thousands of times. Listings sort on demand.
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view s) const {  // not noexcept: nodes keep their hash
      std::uint64_t h = 14695981039346656037ull;
      for (const char16_t c : s) h = (h ^ c) * 1099511628211ull;
      return static_cast<std::size_t>(h);
    }
  };
  struct TextEqual {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const noexcept {
      return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0;
    }
  };
  template <class T>
  using TextMap = std::unordered_map<std::u16string, T, TextHash, TextEqual>;
  using Section = TextMap<std::u16string>;

  const std::uint64_t number_ = NewStoreNumber();
  std::uint64_t changes_ = 0;

  const Section* FindSection(std::u16string_view appName, std::u16string_view section) const;

  struct Failure {
    std::size_t remaining;
    std::int32_t number;
    std::u16string description;
  };

  TextMap<TextMap<Section>> apps_;
  // The section of the last read: a command reads many keys of one section in a row.
  mutable bool lookupValid_ = false;
  mutable std::u16string lookupApp_, lookupSection_;
  mutable const Section* lookupFound_ = nullptr;
  std::optional<Failure> failure_;
  std::size_t reads_ = 0;
  std::size_t saves_ = 0;
  std::size_t failedSaves_ = 0;
};

}  // namespace corvane
