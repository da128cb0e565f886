// The seams between the portable core and a platform: settings store, text measurement,
// regional number format, where the program lives. Each platform implements these small
// interfaces (platform/posix, platform/win32); tests install fakes.
// Contract: the core reaches them only through Services(), which is per thread (like all
// module state) and falls back to the process-wide default a front end installs at start.
// A service that is missing is a run-time failure (AutomationError), never a crash.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "addin/automation.h"

namespace corvane {

// The per-user settings store: application, section, key, each key holding one text value.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The stored text, or `defaultValue` when the key (or its section) does not exist.
  virtual std::u16string GetSetting(std::u16string_view appName, std::u16string_view section,
                                    std::u16string_view key, std::u16string_view defaultValue) = 0;
  // Creates section and key as needed. Throws AutomationError when the store refuses.
  virtual void SaveSetting(std::u16string_view appName, std::u16string_view section, std::u16string_view key,
                           std::u16string_view value) = 0;
};

// Measures text in a named font, for the spreadsheet's column fit and for window labels.
class TextMeasurer {
 public:
  virtual ~TextMeasurer() = default;
  // Advance width of one line of `text`, in pixels at `dpi`, in font `face` at `points` size.
  virtual double LineWidthPixels(std::u16string_view text, std::u16string_view face, double points,
                                 double dpi) = 0;
  // Height of one line of text (ascent + descent + line gap), in pixels.
  virtual double LineHeightPixels(std::u16string_view face, double points, double dpi) = 0;
  // The font file or family that actually serves `face` (after substitution), for messages.
  virtual std::u16string ResolvedFace(std::u16string_view face) = 0;
};

struct PlatformServices {
  SettingsStore* store = nullptr;
  TextMeasurer* textMeasurer = nullptr;
  RegionalFormat regional;
  std::u16string moduleFolder;      // folder of the library or program file, no trailing separator
  char16_t pathSeparator = u'/';
};

// The services in force on this thread.
PlatformServices& Services();
// Installs the process-wide default (front ends, once at start).
void SetDefaultServices(const PlatformServices& services);

// Installs services for this thread for as long as it lives (tests, one apartment).
class ScopedServices {
 public:
  explicit ScopedServices(const PlatformServices& services);
  ~ScopedServices();
  ScopedServices(const ScopedServices&) = delete;
  ScopedServices& operator=(const ScopedServices&) = delete;

 private:
  PlatformServices* previous_;
  PlatformServices mine_;
};

// Helpers that fail clearly when a service is missing.
SettingsStore& Store();
TextMeasurer& Measurer();
const RegionalFormat& Regional();

}  // namespace corvane
