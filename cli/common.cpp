#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <utility>

#include "cli/cli.h"

#include "base/utf8.h"
#include "platform/posix/file_delivery.h"
#include "platform/posix/font_measurer.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/shell_open.h"
#include "platform/posix/sqlite_store.h"
#include "platform/posix/terminal_ui.h"

namespace corvane::cli {

namespace {
std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}
}  // namespace

void RegisterCommand(Command command) { Registry().push_back(std::move(command)); }
const std::vector<Command>& Commands() { return Registry(); }

std::u16string FromUtf8(std::string_view utf8) { return FromUtf8(utf8, 0); }

std::u16string OptionFromUtf8(std::string_view value, std::string_view option) {
  try {
    return FromUtf8(value);
  } catch (const UsageError& e) {
    throw UsageError("--" + std::string(option) + ": " + e.what());
  }
}

std::u16string FromUtf8(std::string_view utf8, std::size_t offset) {
  std::u16string out;
  AppendFromUtf8(out, utf8, offset);
  return out;
}

void AppendFromUtf8(std::u16string& out, std::string_view utf8, std::size_t offset) {
  out.reserve(out.size() + utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      out.push_back(static_cast<char16_t>(utf8[i++]));
      continue;
    }
    const utf8::Decoded d = utf8::DecodeUtf8(utf8, i);
    if (d.error != utf8::Error::None)
      throw UsageError("the input is not valid UTF-8: " + std::string(utf8::Describe(d.error)) + " at byte " +
                       std::to_string(offset + i + 1));
    utf8::AppendUtf16(out, d.codePoint);
    i += d.length;
  }
}

std::string ToUtf8(std::u16string_view utf16) { return posix::ToUtf8(utf16); }

std::optional<std::string> TakeOption(std::vector<std::string>& args, std::string_view name) {
  const std::string flag = "--" + std::string(name);
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (*it == "--") break;
    if (*it == flag) {
      if (std::next(it) == args.end()) throw UsageError(flag + " needs a value");
      std::string value = *std::next(it);
      args.erase(it, std::next(it, 2));
      return value;
    }
    if (it->rfind(flag + "=", 0) == 0) {
      std::string value = it->substr(flag.size() + 1);
      args.erase(it);
      return value;
    }
  }
  return std::nullopt;
}

bool TakeFlag(std::vector<std::string>& args, std::string_view name) {
  const std::string flag = "--" + std::string(name);
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (*it == "--") break;
    if (*it == flag) {
      args.erase(it);
      return true;
    }
  }
  return false;
}

void RejectUnknownOptions(const std::vector<std::string>& args) {
  for (const auto& arg : args) {
    if (arg == "--") return;
    if (arg.size() > 1 && arg[0] == '-' && arg != "-") throw UsageError("unknown option " + Printable(arg));
  }
}

std::string ReadAllStdin() {
  std::string data;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n > 0) {
      data.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      throw UsageError("cannot read standard input");
    }
  }
  return data;
}

struct ProgramServices::PosixServices {
  posix::FontMeasurer measurer;
  posix::TerminalUi ui;
  posix::PosixShell shell;
  posix::PosixFileSystem files;
  posix::PosixEnvironment environment;
  posix::PosixEditorLauncher editor;
};

ProgramServices::ProgramServices(const std::string& storeOption, bool openStore)
    : posix_(std::make_unique<PosixServices>()) {
  // Numbers follow the user's region; the separators are copied out and C formatting restored.
  std::setlocale(LC_NUMERIC, "");
  services_.regional = posix::RegionalFromLocale();
  std::setlocale(LC_NUMERIC, "C");
  services_.moduleFolder = posix::ProgramFolder();
  services_.pathSeparator = u'/';
  if (openStore) {
    storePath_ = posix::SqliteStore::ResolvePath(storeOption);
    store_ = std::make_unique<posix::SqliteStore>(storePath_);
  }
  services_.store = store_.get();
  services_.textMeasurer = &posix_->measurer;
  services_.ui = &posix_->ui;
  services_.shell = &posix_->shell;
  services_.files = &posix_->files;
  services_.environment = &posix_->environment;
  services_.editor = &posix_->editor;
  SetDefaultServices(services_);
}

std::u16string StoreFailureRecorder::GetSetting(std::u16string_view appName, std::u16string_view section,
                                               std::u16string_view key, std::u16string_view defaultValue) {
  try {
    return store_.GetSetting(appName, section, key, defaultValue);
  } catch (const AutomationError& e) {
    if (!failure_) failure_ = e.description();
    throw;
  }
}

void StoreFailureRecorder::SaveSetting(std::u16string_view appName, std::u16string_view section,
                                       std::u16string_view key, std::u16string_view value) {
  try {
    store_.SaveSetting(appName, section, key, value);
  } catch (const AutomationError& e) {
    if (!failure_) failure_ = e.description();
    throw;
  }
}

std::optional<std::u16string> StoreFailureRecorder::TakeFailure() { return std::exchange(failure_, std::nullopt); }

std::string Printable(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  const auto escape = [&out](unsigned char b) {
    out += "\\x";
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 0xF]);
  };
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      if (b < 0x20 || b == 0x7F) {
        escape(b);
      } else {
        out.push_back(static_cast<char>(b));
      }
      ++i;
      continue;
    }
    // The longest well-formed character here, if any; C1 controls (U+0080..U+009F) are escaped.
    const std::size_t len = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    bool ok = len > 0 && i + len <= bytes.size();
    if (ok) {
      try {
        const std::u16string one = FromUtf8(bytes.substr(i, len));
        ok = !(one.size() == 1 && one[0] >= 0x80 && one[0] <= 0x9F);
      } catch (const UsageError&) {
        ok = false;
      }
    }
    if (!ok) {
      escape(b);
      ++i;
      continue;
    }
    out.append(bytes.substr(i, len));
    i += len;
  }
  return out;
}

posix::TerminalUi& ProgramServices::terminal() { return posix_->ui; }

ProgramServices::~ProgramServices() { SetDefaultServices(PlatformServices{}); }

void PrintError(std::u16string_view message) { PrintError(ToUtf8(message)); }

void PrintError(std::string_view message) {
  std::cout.flush();
  std::cerr << message << '\n';
  std::cerr.flush();
}

}  // namespace corvane::cli
