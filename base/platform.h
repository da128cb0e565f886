// The seams between the portable core and a platform: settings store, text measurement,
// regional number format, where the program lives, the window system, the shell, text files,
// the environment and the text editor. Each platform implements these small interfaces
// (platform/posix, platform/win32); tests install fakes.
// Contract: the core reaches them only through Services(), which is per thread (like all
// module state) and falls back to the process-wide default a front end installs at start.
// A service that is missing is a run-time failure (AutomationError), never a crash.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/automation.h"

namespace corvane {

namespace windows {
class UiBackend;
}

// A version of a settings store's contents: the store (each store object has its own number,
// and a store that presents another's values differently has its own too), the changes made
// elsewhere (another process) and the saves made through it.
struct StoreVersion {
  std::uint64_t store = 0;  // 0: unknown
  std::uint64_t outside = 0;
  std::uint64_t own = 0;
  bool known() const { return store != 0; }
  friend bool operator==(const StoreVersion&, const StoreVersion&) = default;
};
// A number for a new store object, never given before in this process.
std::uint64_t NewStoreNumber() noexcept;

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
  // Where the store's contents stand: equal known versions mean equal contents, so what was read
  // at one version may be kept while the store reports it. Unknown (the default) keeps nothing.
  virtual StoreVersion Version() { return {}; }

  // Groups the reads of one run: between BeginReads and the matching EndReads a store may check
  // for other writers once and answer every read from that state and its own saves. Calls nest;
  // the outermost pair decides. A store that checks nothing per read ignores them (the default).
  virtual void BeginReads() noexcept {}
  virtual void EndReads() noexcept {}

  // BeginReads for as long as it lives.
  class ReadScope {
   public:
    explicit ReadScope(SettingsStore& store) noexcept : store_(store) { store_.BeginReads(); }
    ~ReadScope() { store_.EndReads(); }
    ReadScope(const ReadScope&) = delete;
    ReadScope& operator=(const ReadScope&) = delete;

   private:
    SettingsStore& store_;
  };
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

// The platform shell: opens a document or web address with the program the user has chosen for
// it, without waiting for that program. Returns what the Windows shell returns: a value greater
// than 32 when the program was started, an error code (32 or less) otherwise.
class Shell {
 public:
  virtual ~Shell() = default;
  virtual std::int32_t ShellOpen(std::u16string_view operation, std::u16string_view file,
                                 std::u16string_view parameters, std::u16string_view directory,
                                 std::int32_t showCommand) = 0;
};

// Text files written for the user to read (a laid-out formula too long for its cell).
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Writes `text`, encoded in the platform's text-file encoding (the ANSI code page on Windows,
  // UTF-8 elsewhere), to a new file in the folder of `path` and then renames it to `path`: a file
  // or symbolic link standing at `path` is replaced, never followed or written through, and no
  // reader sees a half-written file. Throws AutomationError when the file cannot be written;
  // nothing is left behind then.
  virtual void WriteTextFileReplacing(std::u16string_view path, std::u16string_view text) = 0;
};

// The process environment.
class Environment {
 public:
  virtual ~Environment() = default;
  // The value of the variable, or the empty text when it is not set.
  virtual std::u16string GetVariable(std::u16string_view name) = 0;
  // The platform's folder for temporary files, for when no variable names one
  // (POSIX: TMPDIR when set and not empty, else /tmp).
  virtual std::u16string TempFolder() = 0;
};

// The platform's text editor (Notepad on Windows, the desktop's opener elsewhere).
class EditorLauncher {
 public:
  virtual ~EditorLauncher() = default;
  // Opens the text file `path` in the editor and returns without waiting for it. Never fails
  // its caller: an editor that cannot be started is simply not started.
  virtual void OpenInEditor(std::u16string_view path) noexcept = 0;
};

struct PlatformServices {
  SettingsStore* store = nullptr;
  TextMeasurer* textMeasurer = nullptr;
  RegionalFormat regional;
  std::u16string moduleFolder;      // folder of the library or program file, no trailing separator
  char16_t pathSeparator = u'/';
  windows::UiBackend* ui = nullptr;  // shows the add-in's windows (windows/ui_backend.h)
  Shell* shell = nullptr;
  FileSystem* files = nullptr;
  Environment* environment = nullptr;
  EditorLauncher* editor = nullptr;
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
// A store that passes every call to Store() at the moment of the call, for a command that is
// given a store but must find a missing one only where it first uses it.
SettingsStore& StoreInForce();
TextMeasurer& Measurer();
const RegionalFormat& Regional();
windows::UiBackend& Ui();
Shell& SystemShell();

// The seams of the text-file delivery; a missing one fails like the helpers above.
inline FileSystem& Files() {
  if (!Services().files) throw AutomationError(err::kApplicationDefined, u"No file system is available.");
  return *Services().files;
}
inline Environment& Env() {
  if (!Services().environment) throw AutomationError(err::kApplicationDefined, u"No environment is available.");
  return *Services().environment;
}
inline EditorLauncher& Editor() {
  if (!Services().editor) throw AutomationError(err::kApplicationDefined, u"No text editor is available.");
  return *Services().editor;
}

}  // namespace corvane
