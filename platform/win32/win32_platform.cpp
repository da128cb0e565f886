#include "platform/win32/win32_platform.h"

#include <string>

#include "platform/win32/text.h"

namespace corvane::win32 {

namespace {
// Any address inside this module will do; a data object avoids casting a function pointer.
const char kModuleAnchor = 0;
}  // namespace

HMODULE ThisModule() noexcept {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&kModuleAnchor), &module);
  return module;
}

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(ThisModule(), path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // truncated: try a larger buffer
  }
}

std::u16string ModuleFolder() {
  const std::wstring path = ModulePath();
  const std::size_t slash = path.find_last_of(L"\\/");
  return FromWide(slash == std::wstring::npos ? std::wstring_view{} : std::wstring_view(path).substr(0, slash));
}

RegionalFormat UserRegionalFormat() {
  RegionalFormat format;
  wchar_t buffer[8]{};
  if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, 8) > 1)
    format.decimalSeparator = static_cast<char16_t>(buffer[0]);
  if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, buffer, 8) > 1)
    format.thousandsSeparator = static_cast<char16_t>(buffer[0]);
  return format;
}

std::string ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  const int size = ::WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide, length, out.data(), size, nullptr, nullptr);
  return out;
}

// ---- Shell ----

Win32Shell::Win32Shell(std::function<HWND()> owner, ShellExecuteFunction execute)
    : owner_(std::move(owner)), execute_(execute) {}

std::int32_t Win32Shell::ShellOpen(std::u16string_view operation, std::u16string_view file,
                                   std::u16string_view parameters, std::u16string_view directory,
                                   std::int32_t showCommand) {
  const std::string op = ToAnsi(operation);
  const std::string target = ToAnsi(file);
  const std::string params = ToAnsi(parameters);
  const std::string dir = ToAnsi(directory);
  const HWND owner = owner_ ? owner_() : nullptr;
  const HINSTANCE result = execute_(owner, op.c_str(), target.c_str(), params.c_str(), dir.c_str(), showCommand);
  // The shell's answer is a number dressed as a module handle.
  return static_cast<std::int32_t>(reinterpret_cast<INT_PTR>(result));
}

// ---- The services together ----

Win32Platform::Win32Platform(Win32Shell::ShellExecuteFunction execute)
    : shell([this] { return ui.EventWindow(); }, execute) {}

PlatformServices Win32Platform::Services(SettingsStore* store) {
  PlatformServices services;
  services.store = store;
  services.textMeasurer = &measurer;
  services.regional = UserRegionalFormat();
  services.moduleFolder = ModuleFolder();
  services.pathSeparator = u'\\';
  services.ui = &ui;
  services.shell = &shell;
  return services;
}

}  // namespace corvane::win32
