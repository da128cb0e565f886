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

}  // namespace corvane::options
