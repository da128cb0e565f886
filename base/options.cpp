#include "base/options.h"

#include <string>

namespace corvane::options {

namespace {
constexpr std::int32_t kInvalidCheckState = 380;  // what a check box answers to a state it has not
}

std::u16string ReadText(SettingsStore& store, std::u16string_view key) {
  return store.GetSetting(kAppName, kSection, key, u"0");
}

std::int32_t ReadCheckState(SettingsStore& store, std::u16string_view key) {
  const std::u16string text = ReadText(store, key);
  try {
    const std::int32_t state = ToLong(Variant(text), Regional());
    if (state < 0 || state > 2) throw AutomationError(kInvalidCheckState, u"Invalid property value");
    return state;
  } catch (const AutomationError& e) {
    throw AutomationError(e.number(), u"The stored setting \"" + std::u16string(key) + u"\" holds \"" + text +
                                          u"\", which is not a check-box state (0, 1 or 2).");
  }
}

void SaveOption(SettingsStore& store, std::u16string_view key, bool on) {
  store.SaveSetting(kAppName, kSection, key, on ? u"1" : u"0");
}

std::int32_t FitWidth(std::u16string_view text) {
  // Digits only: a stored text the program did not write leaves every level broken.
  if (text.empty() || text.size() > 5) return 0;
  std::int32_t width = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return 0;
    width = width * 10 + (c - u'0');
  }
  return width <= kMaxFitWidth ? width : 0;
}

}  // namespace corvane::options
