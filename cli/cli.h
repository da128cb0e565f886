// The `corvane` program's shared pieces: subcommand registry, strict UTF-8 conversion,
// the program's services (settings store, text measurement, regional format).
// Contract: each subcommand lives in its own cli/cmd_*.cpp and registers itself with a
// static CommandRegistration; main() dispatches on the first argument. Exit statuses:
// 0 success, 1 the command ended without doing its job (a message says why), 2 bad usage or
// invalid input (a message on standard error says what is wrong).
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/platform.h"

namespace corvane::posix {
class TerminalUi;
}
namespace corvane::formulate {
enum class Cause;
}

namespace corvane::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Bad usage or invalid input: main() prints the message and exits with 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One option of a command, as its help, the manual page and the shell completion show it.
struct CommandOption {
  std::string flag;  // "--font NAME"; a value written "on|off" lists the values it takes
  std::string text;  // what it does, a phrase starting lower-case
};

// What the shell completes for a command's operands.
enum class Operands { None, Workbooks, HelpNames };

// A subcommand and its usage: the one source of `corvane --help`, `corvane help COMMAND`,
// `corvane COMMAND --help`, the manual page's synopsis and commands, and the bash completion
// (both made at build time from `corvane help --json`). Every command also takes --store PATH
// and -h/--help, which the usage adds.
struct Command {
  std::string name;
  std::vector<std::string> forms;  // usage lines after "corvane ", e.g. "unformat [FORMULA|-] [--jsonl]"
  std::string summary;             // one line for --help, a phrase starting lower-case
  std::vector<CommandOption> options{};
  std::vector<std::string> exits;  // "0 when ...", one per status
  std::function<int(std::vector<std::string>& args)> run;
  Operands operands = Operands::None;
  bool usesStore = false;  // false: --store is accepted and ignored
};

void RegisterCommand(Command command);
const std::vector<Command>& Commands();
const Command* FindCommand(std::string_view name);
// The command's usage, options and exit statuses, within 80 columns.
std::string CommandHelp(const Command& command);
// The list of commands for `corvane --help`, within 80 columns.
std::string ProgramHelp();
// The command table for the build, as one JSON object.
std::string UsageJson(std::string_view version);

struct CommandRegistration {
  explicit CommandRegistration(Command command) { RegisterCommand(std::move(command)); }
};

// Strict UTF-8 <-> UTF-16. Decoding rejects overlong forms, surrogates encoded in UTF-8,
// values above U+10FFFF and truncated sequences, with a message giving the byte offset.
std::u16string FromUtf8(std::string_view utf8);  // throws UsageError
// The same for a piece of a longer input that starts at byte `offset` of it (0 for the first),
// so that the message gives the place in the whole input.
std::u16string FromUtf8(std::string_view utf8, std::size_t offset);
void AppendFromUtf8(std::u16string& out, std::string_view utf8, std::size_t offset);  // throws UsageError
// An option's value: a refusal names the option.
std::u16string OptionFromUtf8(std::string_view value, std::string_view option);
// Lone surrogates (which UTF-8 cannot carry) are written as U+FFFD.
std::string ToUtf8(std::u16string_view utf16);

// Removes "--name VALUE" / "--name=VALUE" from args; nullopt when absent. Throws UsageError
// when the value is missing.
std::optional<std::string> TakeOption(std::vector<std::string>& args, std::string_view name);
// Removes a flag "--name"; true when it was there.
bool TakeFlag(std::vector<std::string>& args, std::string_view name);
// Throws UsageError naming the first argument that looks like an unknown option.
void RejectUnknownOptions(const std::vector<std::string>& args);

// --separator: one character that can part a formula's arguments; --excel-version: a version
// text that starts with its number. Throw UsageError saying what the option takes.
std::u16string SeparatorOption(std::string_view value);
std::u16string VersionOption(std::string_view value);
// --fit-width N|off (format and settings): the "Fit Width" text to read or store, "0" for off (or
// 0); anything but a width from 1 to options::kMaxFitWidth throws UsageError saying so.
std::u16string FitWidthOption(std::string_view value);

// Why the formatting command ended with its message, in a terminal user's words.
std::string CauseInWords(formulate::Cause cause);

// Reads all of standard input (binary-safe).
std::string ReadAllStdin();
// Some editors start a UTF-8 file with it; it is dropped from the start of the input.
inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// The services of one program run: the settings store (from --store PATH, else CORVANE_STORE,
// else the per-user file), text measurement, the regional format, the terminal as the window
// system, the shell, text files, the environment and the editor. Installed as the
// process-wide default. Throws AutomationError when the store cannot be opened, so that the
// user hears about it before a command whose failures are quiet starts. Commands that never
// touch the store pass openStore false.
class ProgramServices {
 public:
  explicit ProgramServices(const std::string& storeOption, bool openStore = true);
  ~ProgramServices();
  ProgramServices(const ProgramServices&) = delete;
  ProgramServices& operator=(const ProgramServices&) = delete;
  PlatformServices& services() { return services_; }
  const std::string& storePath() const { return storePath_; }
  // The terminal that serves as the window system.
  posix::TerminalUi& terminal();
  // Warns on standard error, as `command`, when no font `font` is installed and another one
  // measures in its place, before its widths could be stored under that name.
  void WarnOfStandIn(std::u16string_view font, std::string_view command);
  // The two halves of it: the font that measures in place of `font` (empty: `font` is installed),
  // which the workbook form looks up while the worksheets load, and the warning.
  std::u16string StandIn(std::u16string_view font);
  static void WarnOfStandIn(std::u16string_view font, std::u16string_view standIn, std::string_view command);

 private:
  struct PosixServices;  // the POSIX implementations, kept out of this header
  std::string storePath_;
  std::unique_ptr<SettingsStore> store_;
  std::unique_ptr<PosixServices> posix_;
  PlatformServices services_;
};

// The settings store under a command that traps its own failures (the formulate-cell command
// ends quietly on any): passes every call on and keeps the first failure, so that the program
// can still name the settings file as the cause.
class StoreFailureRecorder final : public SettingsStore {
 public:
  explicit StoreFailureRecorder(SettingsStore& store) : store_(store) {}
  std::u16string GetSetting(std::u16string_view appName, std::u16string_view section, std::u16string_view key,
                            std::u16string_view defaultValue) override;
  void SaveSetting(std::u16string_view appName, std::u16string_view section, std::u16string_view key,
                   std::u16string_view value) override;
  // Its reads are the store's.
  StoreVersion Version() override { return store_.Version(); }
  void BeginReads() noexcept override { store_.BeginReads(); }
  void EndReads() noexcept override { store_.EndReads(); }
  // The description of the first failure since the last call; forgets it.
  std::optional<std::u16string> TakeFailure();

 private:
  SettingsStore& store_;
  std::optional<std::u16string> failure_;
};

// An argument or other raw input as a message may show it: valid UTF-8 stays, control characters
// and bytes that are not UTF-8 are written as \xHH, so that no message carries terminal
// control sequences or broken text.
std::string Printable(std::string_view bytes);

// Writes a UTF-16 message as UTF-8 with a line feed to standard error.
void PrintError(std::u16string_view message);
void PrintError(std::string_view message);

}  // namespace corvane::cli
