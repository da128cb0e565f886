#include "cli/layered_store.h"

#include "base/options.h"
#include "spacing/calibration_store.h"

namespace corvane::cli {

namespace {

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::u16string LayeredStore::GetSetting(std::u16string_view appName, std::u16string_view section,
                                        std::u16string_view key, std::u16string_view defaultValue) {
  if (appName == calibration::kAppName) {
    if (overrides_.uncalibrated) {
      if (StartsWith(section, u"Spacing_")) return std::u16string(defaultValue);
      if (StartsWith(section, u"Special_")) return u"1";
    }
    if (section == options::kSection) {
      if (key == options::kFormatAllParens && overrides_.allParens) return *overrides_.allParens ? u"1" : u"0";
      if (key == options::kAlwaysSendToNotepad && overrides_.alwaysNotepad)
        return *overrides_.alwaysNotepad ? u"1" : u"0";
      if (key == options::kFitWidth && overrides_.fitWidth) return *overrides_.fitWidth;
    }
  }
  return base_.GetSetting(appName, section, key, defaultValue);
}

void LayeredStore::SaveSetting(std::u16string_view appName, std::u16string_view section, std::u16string_view key,
                               std::u16string_view value) {
  base_.SaveSetting(appName, section, key, value);
}

}  // namespace corvane::cli
