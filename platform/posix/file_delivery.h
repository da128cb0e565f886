// What the text-file delivery of a laid-out formula needs from a POSIX system: writing the file,
// the environment, and starting the desktop's opener on it.
// Contract:
//  - PosixFileSystem writes UTF-8 (a lone surrogate becomes U+FFFD) to a new file
//    ".corvane-XXXXXXXX.tmp" in the target's folder, created exclusively (never through an
//    existing name) with mode 0666 less the umask, flushed to disk, then renamed over the target.
//    A symbolic link at the target is replaced, not followed. Any failure removes the temporary
//    file and throws AutomationError naming the path and the system's reason.
//  - PosixEnvironment reads variables as paths (PathFromBytes: bytes that are not UTF-8 survive
//    the trip to a file name); its temporary folder is TMPDIR when set and not empty, else /tmp.
//  - PosixFileSystem takes the path the same way (PathToBytes).
//  - PosixEditorLauncher starts the opener (xdg-open unless told otherwise) with the file as its
//    only argument when a display is available (DISPLAY or WAYLAND_DISPLAY set and not empty),
//    detached, with standard input and output on /dev/null, and does not wait for it; without a
//    display it starts nothing. It never blocks on the editor, never fails and leaves no child
//    process behind.
#pragma once

#include <string>

#include "base/platform.h"
#include "platform/posix/shell_open.h"

namespace corvane::posix {

class PosixFileSystem final : public FileSystem {
 public:
  void WriteTextFileReplacing(std::u16string_view path, std::u16string_view text) override;
};

class PosixEnvironment final : public Environment {
 public:
  std::u16string GetVariable(std::u16string_view name) override;
  std::u16string TempFolder() override;
};

class PosixEditorLauncher final : public EditorLauncher {
 public:
  explicit PosixEditorLauncher(std::string opener = "xdg-open");
  void OpenInEditor(std::u16string_view path) noexcept override;
  static bool DisplayAvailable();

 private:
  PosixShell shell_;
};

}  // namespace corvane::posix
