#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <utility>

#include "cli/cli.h"

#include "base/options.h"
#include "base/utf8.h"
#include "formatting/formulate_command.h"
#include "formatting/lexer.h"
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
    // ASCII, most of any formula, a run at a time.
    std::size_t end = i;
    while (end < utf8.size() && static_cast<unsigned char>(utf8[end]) < 0x80) ++end;
    if (end > i) {
      std::size_t at = out.size();
      out.resize(at + (end - i));
      for (; i < end; ++i) out[at++] = static_cast<char16_t>(utf8[i]);
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

std::u16string SeparatorOption(std::string_view value) {
  std::u16string separator = OptionFromUtf8(value, "separator");
  // A character that starts a literal or a name is never taken as a separator; letters, digits,
  // parentheses, brackets and spaces are the formula's own text.
  const auto usable = [](char16_t c) {
    return c > u' ' && !lex::StartsName(c) && !(c >= u'0' && c <= u'9') && !(c >= u'A' && c <= u'Z') &&
           !(c >= u'a' && c <= u'z') && std::u16string_view(u"()[]{}\u00A0\u3000").find(c) == std::u16string_view::npos;
  };
  if (separator.size() != 1 || !usable(separator[0]))
    throw UsageError("--separator takes one character that can part arguments, such as , or ; (not a letter, digit, "
                     "quote, apostrophe, parenthesis, bracket or space), not \"" + Printable(value) + "\"");
  return separator;
}

std::u16string VersionOption(std::string_view value) {
  if (value.empty() || value[0] < '0' || value[0] > '9')
    throw UsageError("--excel-version takes a version that starts with its number, such as 16.0 or 11, not \"" +
                     Printable(value) + "\"");
  return OptionFromUtf8(value, "excel-version");
}

std::u16string FitWidthOption(std::string_view value) {
  if (value == "off") return u"0";
  std::u16string text = OptionFromUtf8(value, "fit-width");
  if (text != u"0" && options::FitWidth(text) == 0)
    throw UsageError("--fit-width takes a width from 1 to " + std::to_string(options::kMaxFitWidth) + " or off, not \"" +
                     Printable(value) + "\"");
  return text;
}

std::string CauseInWords(formulate::Cause cause) {
  switch (cause) {
    case formulate::Cause::EmptyCell:
      return "the cell is empty";
    case formulate::Cause::Constant:
      return "the cell holds a constant, not a formula (a formula starts with \"=\")";
    case formulate::Cause::NoParenthesis:
      return "the formula has no parenthesis to lay out";
    case formulate::Cause::None:
      break;
  }
  return {};
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

void ProgramServices::WarnOfStandIn(std::u16string_view font, std::string_view command) {
  WarnOfStandIn(font, StandIn(font), command);
}

std::u16string ProgramServices::StandIn(std::u16string_view font) { return posix_->measurer.StandIn(font); }

void ProgramServices::WarnOfStandIn(std::u16string_view font, std::u16string_view standIn, std::string_view command) {
  if (standIn.empty()) return;
  PrintError("corvane " + std::string(command) + ": warning: the font \"" + Printable(ToUtf8(font)) +
             "\" is not installed; " + Printable(ToUtf8(standIn)) + " measures in its place (the widths stored under \"" +
             Printable(ToUtf8(font)) + "\" are " + Printable(ToUtf8(standIn)) + "'s)");
}

ProgramServices::~ProgramServices() { SetDefaultServices(PlatformServices{}); }

void PrintError(std::u16string_view message) { PrintError(ToUtf8(message)); }

void PrintError(std::string_view message) {
  std::cout.flush();
  std::cerr << message << '\n';
  std::cerr.flush();
}

}  // namespace corvane::cli
