// What the text-file delivery of a laid-out formula needs from Windows: the file in the ANSI
// code page, the environment, and Notepad.
// Contract:
//  - Win32FileSystem writes the text in the ANSI code page to a new temporary file in the
//    target's folder and moves it over the target (MoveFileEx with replace), so no reader sees a
//    half-written file; on any failure the temporary file is removed and AutomationError thrown.
//  - Win32Environment reads variables with GetEnvironmentVariableW; its temporary folder is
//    GetTempPathW's answer without the trailing separator.
//  - NotepadLauncher starts "notepad.exe " followed by the full path (not quoted) as a normal
//    window with the focus and does not wait for it; the process and thread handles are closed at
//    once. The start function is replaceable so that tests can watch it without a Notepad.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "base/platform.h"

namespace corvane::win32 {

class Win32FileSystem final : public FileSystem {
 public:
  void WriteTextFileReplacing(std::u16string_view path, std::u16string_view text) override;
};

class Win32Environment final : public Environment {
 public:
  std::u16string GetVariable(std::u16string_view name) override;
  std::u16string TempFolder() override;
};

class NotepadLauncher final : public EditorLauncher {
 public:
  // Receives the command line and the show command; returns whether the program was started.
  using StartFunction = std::function<bool(const std::wstring& commandLine, WORD showCommand)>;
  explicit NotepadLauncher(StartFunction start = {});
  void OpenInEditor(std::u16string_view path) noexcept override;

  static bool StartProcess(const std::wstring& commandLine, WORD showCommand) noexcept;

 private:
  StartFunction start_;
};

}  // namespace corvane::win32
