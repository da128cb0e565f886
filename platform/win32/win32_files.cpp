#include "platform/win32/win32_files.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/win32/text.h"

namespace corvane::win32 {

namespace {

struct FileCloser {
  void operator()(HANDLE file) const noexcept { ::CloseHandle(file); }
};
using UniqueFile = std::unique_ptr<std::remove_pointer_t<HANDLE>, FileCloser>;

[[noreturn]] void Fail(std::u16string_view path, DWORD code) {
  // GetTempFileName reports a folder that does not exist as "not a directory".
  const bool noFolder = code == ERROR_PATH_NOT_FOUND || code == ERROR_DIRECTORY;
  throw AutomationError(noFolder ? err::kPathNotFound : err::kDeviceIO,
                        u"The file " + std::u16string(path) + u" could not be written (error " + DecimalKey(code) +
                            u").");
}

}  // namespace

void Win32FileSystem::WriteTextFileReplacing(std::u16string_view path, std::u16string_view text) {
  const std::wstring target = Wide(path);
  const std::size_t slash = target.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? std::wstring(L".") : target.substr(0, slash);
  wchar_t temporary[MAX_PATH + 16]{};
  if (!::GetTempFileNameW(folder.c_str(), L"cvn", 0, temporary)) Fail(path, ::GetLastError());
  const std::string bytes = ToAnsi(text);
  DWORD failure = ERROR_SUCCESS;
  {
    UniqueFile file(::CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
      file.release();
      failure = ::GetLastError();
    } else {
      std::size_t done = 0;
      while (failure == ERROR_SUCCESS && done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        if (!::WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0)
          failure = ::GetLastError();
        done += written;
      }
      if (failure == ERROR_SUCCESS && !::FlushFileBuffers(file.get())) failure = ::GetLastError();
    }
  }
  if (failure == ERROR_SUCCESS &&
      !::MoveFileExW(temporary, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    failure = ::GetLastError();
  if (failure != ERROR_SUCCESS) {
    ::DeleteFileW(temporary);
    Fail(path, failure);
  }
}

std::u16string Win32Environment::GetVariable(std::u16string_view name) {
  const std::wstring key = Wide(name);
  std::vector<wchar_t> buffer(256);
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length = ::GetEnvironmentVariableW(key.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return FromWide(std::wstring_view(buffer.data(), length));
    buffer.resize(length + 1);
  }
}

std::u16string Win32Environment::TempFolder() {
  wchar_t buffer[MAX_PATH + 2]{};
  DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH + 1) return u".";
  while (length > 3 && (buffer[length - 1] == L'\\' || buffer[length - 1] == L'/')) --length;
  return FromWide(std::wstring_view(buffer, length));
}

NotepadLauncher::NotepadLauncher(StartFunction start) : start_(std::move(start)) {}

bool NotepadLauncher::StartProcess(const std::wstring& commandLine, WORD showCommand) noexcept {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = showCommand;
  PROCESS_INFORMATION process{};
  std::wstring mutableLine = commandLine;  // CreateProcessW may write into it
  if (!::CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  // Let the new window take the focus from the host, which is in the foreground now.
  ::AllowSetForegroundWindow(process.dwProcessId);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return true;
}

void NotepadLauncher::OpenInEditor(std::u16string_view path) noexcept {
  try {
    const std::wstring line = L"notepad.exe " + Wide(path);
    if (start_)
      start_(line, SW_SHOWNORMAL);
    else
      StartProcess(line, SW_SHOWNORMAL);
  } catch (...) {
    // The editor is a convenience: the file is written whether or not it opens.
  }
}

}  // namespace corvane::win32
