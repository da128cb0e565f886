#include "base/platform.h"

#include <atomic>

namespace corvane {

namespace {
PlatformServices& DefaultServices() {
  static PlatformServices services;
  return services;
}
thread_local PlatformServices* tCurrent = nullptr;
}  // namespace

std::uint64_t NewStoreNumber() noexcept {
  static std::atomic<std::uint64_t> last{0};
  return ++last;
}

PlatformServices& Services() { return tCurrent ? *tCurrent : DefaultServices(); }

void SetDefaultServices(const PlatformServices& services) { DefaultServices() = services; }

ScopedServices::ScopedServices(const PlatformServices& services) : previous_(tCurrent), mine_(services) {
  tCurrent = &mine_;
}

ScopedServices::~ScopedServices() { tCurrent = previous_; }

SettingsStore& Store() {
  if (!Services().store) throw AutomationError(err::kApplicationDefined, u"No settings store is available.");
  return *Services().store;
}

namespace {

class ForwardingStore final : public SettingsStore {
 public:
  std::u16string GetSetting(std::u16string_view appName, std::u16string_view section, std::u16string_view key,
                            std::u16string_view defaultValue) override {
    return Store().GetSetting(appName, section, key, defaultValue);
  }
  void SaveSetting(std::u16string_view appName, std::u16string_view section, std::u16string_view key,
                   std::u16string_view value) override {
    Store().SaveSetting(appName, section, key, value);
  }
  StoreVersion Version() override { return Store().Version(); }
};

}  // namespace

SettingsStore& StoreInForce() {
  static ForwardingStore store;
  return store;
}

TextMeasurer& Measurer() {
  if (!Services().textMeasurer) throw AutomationError(err::kApplicationDefined, u"No text measurement is available.");
  return *Services().textMeasurer;
}

const RegionalFormat& Regional() { return Services().regional; }

windows::UiBackend& Ui() {
  if (!Services().ui) throw AutomationError(err::kApplicationDefined, u"No window system is available.");
  return *Services().ui;
}

Shell& SystemShell() {
  if (!Services().shell) throw AutomationError(err::kApplicationDefined, u"No system shell is available.");
  return *Services().shell;
}

}  // namespace corvane
