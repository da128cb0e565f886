#include "spacing/calibration_store.h"

#include "base/platform.h"

namespace corvane::calibration {

std::u16string SpacingSection(std::u16string_view fontName) { return u"Spacing_" + std::u16string(fontName); }

std::u16string SpecialSection(std::u16string_view fontName) { return u"Special_" + std::u16string(fontName); }

std::u16string RatioText(double ratio, const RegionalFormat& fmt) {
  return FormatShortest(RoundHalfEven(ratio, 4), fmt);
}

std::u16string ReadWidthText(SettingsStore& store, std::u16string_view section, std::int32_t code) {
  return store.GetSetting(kAppName, section, DecimalKey(code), kNotFound);
}

std::u16string ReadWidthText(std::u16string_view section, std::int32_t code) {
  return ReadWidthText(Store(), section, code);
}

void SaveWidth(SettingsStore& store, std::u16string_view section, std::int32_t code, double ratio) {
  store.SaveSetting(kAppName, section, DecimalKey(code), RatioText(ratio, Regional()));
}

void SaveWidth(std::u16string_view section, std::int32_t code, double ratio) { SaveWidth(Store(), section, code, ratio); }

}  // namespace corvane::calibration
