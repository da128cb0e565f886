// The settings store of one formatting run: the stored settings with the run's options on top.
// Contract:
//  - Options given for the run ("Format All Parens", "Always Send to Notepad", "Fit Width") are read in place
//    of the stored ones and are never saved; with `uncalibrated`, every width of a "Spacing_"
//    section reads as missing and every width of a "Special_" section as one space.
//  - Every other read and every save passes to the base store. Its version is the base store's,
//    as a store of its own, so that widths read through it are kept while the base is unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/platform.h"

namespace corvane::cli {

struct StoredOptionOverrides {
  std::optional<bool> allParens;
  std::optional<bool> alwaysNotepad;
  bool uncalibrated = false;
  std::optional<std::u16string> fitWidth = std::nullopt;
};

class LayeredStore final : public SettingsStore {
 public:
  LayeredStore(SettingsStore& base, StoredOptionOverrides overrides) : base_(base), overrides_(std::move(overrides)) {}

  std::u16string GetSetting(std::u16string_view appName, std::u16string_view section, std::u16string_view key,
                            std::u16string_view defaultValue) override;
  void SaveSetting(std::u16string_view appName, std::u16string_view section, std::u16string_view key,
                   std::u16string_view value) override;
  // The base store's version, as a store of its own: the same contents read differently here.
  StoreVersion Version() override {
    const StoreVersion base = base_.Version();
    return base.known() ? StoreVersion{number_, base.outside, base.own} : StoreVersion{};
  }
  void BeginReads() noexcept override { base_.BeginReads(); }
  void EndReads() noexcept override { base_.EndReads(); }

 private:
  SettingsStore& base_;
  const std::uint64_t number_ = NewStoreNumber();
  StoredOptionOverrides overrides_;
};

}  // namespace corvane::cli
