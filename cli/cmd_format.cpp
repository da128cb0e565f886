// `corvane format [FORMULA|-]`: lays out a formula in the in-memory workbook's active cell with the
// formulate-cell command and prints the cell's content afterwards, or the path of the text file
// the layout was written to. Options for one run are layered over the stored options and never
// saved. Messages go to standard error; the calibration questions are asked on the terminal.
// Exit status: 0 the cell received the layout or the file was written, 1 a message or a failure
// ended the command, 2 bad usage or input.
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "addin/cls_corvane.h"
#include "base/options.h"
#include "cli/cli.h"
#include "cli/colour.h"
#include "cli/json.h"
#include "cli/layered_store.h"
#include "cli/terminal_prompter.h"
#include "cli/workbook_commands.h"
#include "cli/workbook_session.h"
#include "formatting/formulate_command.h"
#include "platform/posix/file_delivery.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/terminal_ui.h"

namespace corvane::cli {
namespace {

struct FormatOptions {
  std::optional<bool> allParens;
  std::optional<bool> alwaysNotepad;
  std::optional<std::u16string> separator;
  std::optional<std::u16string> version;
  std::optional<std::u16string> font;
  bool uncalibrated = false;
  std::optional<std::u16string> fitWidth;
  bool mono = false;
  bool jsonl = false;
};

// The text files of a run: a refusal is kept, so that the program can say which file failed
// (the command itself ends quietly).
class RecordingFiles final : public FileSystem {
 public:
  explicit RecordingFiles(FileSystem& files) : files_(files) {}
  void WriteTextFileReplacing(std::u16string_view path, std::u16string_view text) override {
    try {
      files_.WriteTextFileReplacing(path, text);
    } catch (const AutomationError& e) {
      failure = e.description();
      throw;
    }
  }
  std::optional<std::u16string> failure;

 private:
  FileSystem& files_;
};

// --mono: the layout is taken from the command, not written anywhere.
class NoFiles final : public FileSystem {
 public:
  void WriteTextFileReplacing(std::u16string_view, std::u16string_view) override {}
};
class NoEditor final : public EditorLauncher {
 public:
  void OpenInEditor(std::u16string_view) noexcept override {}
};

struct RunResult {
  formulate::Ending ending = formulate::Ending::Failed;
  std::u16string shown;                 // what the command prints for the cell
  std::optional<std::u16string> file;  // the text file written
  std::u16string failure;              // why the command failed, when it says
  bool succeeded() const { return ending == formulate::Ending::IntoCell || ending == formulate::Ending::IntoFile; }
};

class FormatRunner {
 public:
  FormatRunner(const FormatOptions& options, SettingsStore& store, TerminalPrompter& prompter)
      : options_(options), store_(store), prompter_(prompter) {}

  RunResult Run(const std::u16string& text) {
    WorkbookSession session;
    if (options_.font) session.app()->SetStandardFont(*options_.font);
    if (options_.version) session.app()->SetVersion(*options_.version);
    if (options_.separator) session.app()->SetListSeparator(*options_.separator);
    session.PutIntoActiveCell(text);
    // One add-in object serves every run, as in the spreadsheet: the command sets all it uses anew.
    // The object holds the host too, for the widths of rarer characters measured during the layout.
    session.HandOver(corvane_);
    prompter_.ForgetShown();

    formulate::Outcome outcome;
    {
      // The run's reads see one state of the store, checked once.
      SettingsStore::ReadScope reads(store_);
      outcome = formulate::FormulateCell(corvane_, *session.app(), store_, prompter_);
    }

    RunResult result;
    result.ending = outcome.ending;
    result.failure = std::move(outcome.failure);
    if (outcome.ending == formulate::Ending::IntoFile && options_.mono) {
      result.shown = std::move(outcome.laidOut);
    } else {
      result.shown = session.ActiveCellContent();
      if (outcome.ending == formulate::Ending::IntoFile) result.file = std::move(outcome.filePath);
    }
    return result;
  }

 private:
  const FormatOptions& options_;
  SettingsStore& store_;
  TerminalPrompter& prompter_;
  cls_corvane corvane_;
};

std::u16string OptionText(const std::optional<std::string>& value, const char* name, bool allowEmpty) {
  std::u16string text = OptionFromUtf8(*value, name);
  if (!allowEmpty && text.empty()) throw UsageError(std::string("--") + name + " needs a value");
  return text;
}

// The formulas of a batch, one JSON string per line; all are checked before any is run.
std::vector<std::u16string> ReadJsonLines() {
  const std::string input = ReadAllStdin();
  std::vector<std::u16string> formulas;
  std::size_t lineNumber = 0;
  for (std::size_t start = 0; start < input.size();) {
    std::size_t end = input.find('\n', start);
    if (end == std::string::npos) end = input.size();
    ++lineNumber;
    try {
      formulas.push_back(ParseJsonStringLine(std::string_view(input).substr(start, end - start)));
    } catch (const UsageError& e) {
      throw UsageError("line " + std::to_string(lineNumber) + ": " + e.what());
    }
    start = end + 1;
  }
  return formulas;
}

int RunBatch(const std::vector<std::u16string>& formulas, FormatRunner& runner, const TerminalPrompter& prompter,
             StoreFailureRecorder& store) {
  std::size_t lineNumber = 0;
  std::string out;
  for (const auto& formula : formulas) {
    ++lineNumber;
    RunResult result;
    try {
      result = runner.Run(formula);
    } catch (const UsageError& e) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      std::fflush(stdout);
      throw UsageError("line " + std::to_string(lineNumber) + ": " + e.what());
    }
    out += "{\"cell\":";
    out += JsonQuote(result.shown);
    out += ",\"file\":";
    out += result.file ? JsonQuote(*result.file) : std::string("null");
    out += ",\"messages\":[";
    for (std::size_t i = 0; i < prompter.prompts.size(); ++i) {
      if (i > 0) out += ',';
      out += JsonQuote(prompter.prompts[i]);
    }
    out += "]}\n";
    if (const auto failure = store.TakeFailure()) {
      // A settings file that fails now would fail every later formula too.
      std::fwrite(out.data(), 1, out.size(), stdout);
      std::fflush(stdout);
      PrintError("corvane format: line " + std::to_string(lineNumber) + ": " + ToUtf8(*failure) +
                 (lineNumber < formulas.size() ? " The formulas after this line were not formatted." : ""));
      return kExitFailed;
    }
    if (out.size() >= (1U << 16)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  return kExitOk;
}

// --fit-width N: the stored "Fit Width" text of the run; off (or 0) breaks every level.
std::u16string FitWidthText(const std::string& value) {
  if (value == "off") return u"0";
  std::u16string text = FromUtf8(value);
  if (text != u"0" && options::FitWidth(text) == 0)
    throw UsageError("--fit-width takes a width from 1 to " + std::to_string(options::kMaxFitWidth) + " or off, not \"" +
                     Printable(value) + "\"");
  return text;
}

int Run(std::vector<std::string>& args) {
  if (IsWorkbookInvocation(args)) return RunFormatWorkbook(args);
  FormatOptions options;
  const bool allParens = TakeFlag(args, "all-parens");
  const bool noAllParens = TakeFlag(args, "no-all-parens");
  if (allParens && noAllParens) throw UsageError("--all-parens and --no-all-parens exclude each other");
  if (allParens || noAllParens) options.allParens = allParens;
  if (TakeFlag(args, "notepad")) options.alwaysNotepad = true;
  options.mono = TakeFlag(args, "mono");
  options.jsonl = TakeFlag(args, "jsonl");
  options.uncalibrated = TakeFlag(args, "uncalibrated");
  if (const auto v = TakeOption(args, "separator")) options.separator = OptionText(v, "separator", false);
  if (const auto v = TakeOption(args, "excel-version")) options.version = OptionText(v, "excel-version", true);
  if (const auto v = TakeOption(args, "font")) options.font = OptionText(v, "font", false);
  if (const auto v = TakeOption(args, "fit-width")) options.fitWidth = FitWidthText(*v);
  const std::optional<std::string> storeOption = TakeOption(args, "store");
  // Colour shows the monospaced layout's structure; other output is for other programs.
  const bool colour = UseColour(TakeOption(args, "color"), STDOUT_FILENO) && options.mono;
  RejectUnknownOptions(args);
  if (!args.empty() && args.front() == "--") args.erase(args.begin());
  if (options.jsonl && !args.empty()) throw UsageError("--jsonl reads standard input and takes no FORMULA");
  if (args.size() > 1) throw UsageError("expected one FORMULA (quote it), or none to read standard input");
  // The monospaced layout is the one made for the text file.
  if (options.mono) options.alwaysNotepad = true;

  // The input is read before anything is opened, so that bad input changes nothing.
  std::u16string single;
  std::vector<std::u16string> batch;
  if (options.jsonl) {
    batch = ReadJsonLines();
  } else {
    single = args.empty() || args[0] == "-" ? FromStdinText() : FromUtf8(args[0]);
  }

  ProgramServices program(storeOption.value_or(""));
  PlatformServices services = program.services();
  StoreFailureRecorder recorder(*services.store);
  LayeredStore layered(recorder, {options.allParens, options.alwaysNotepad, options.uncalibrated, options.fitWidth});
  const bool layer = options.uncalibrated || options.allParens || options.alwaysNotepad || options.fitWidth;
  // Notices go to standard error, or are only kept in batch mode; --uncalibrated answers the two
  // calibration questions No and then Yes.
  TerminalPrompter prompter(program.terminal(),
                            options.jsonl ? TerminalPrompter::Notices::Collect : TerminalPrompter::Notices::Print);
  if (options.uncalibrated) {
    prompter.Preset(formulate::kCalibratePrompt, answer::kNo);
    prompter.Preset(formulate::kFormatAnywayPrompt, answer::kYes);
  }
  NoFiles noFiles;
  RecordingFiles files(*services.files);
  services.files = &files;
  NoEditor noEditor;
  services.store = layer ? static_cast<SettingsStore*>(&layered) : &recorder;
  if (options.mono) {
    services.files = &noFiles;
    services.editor = &noEditor;
  }
  ScopedServices scope(services);

  FormatRunner runner(options, *services.store, prompter);
  if (options.jsonl) {
    // The batch reads one state of the store (and its own saves), checked for other writers once.
    SettingsStore::ReadScope reads(*services.store);
    return RunBatch(batch, runner, prompter, recorder);
  }

  const RunResult result = runner.Run(single);
  // The path exactly as the file system has it, so that it can be opened even when not UTF-8.
  const std::string shown =
      (result.file ? posix::PathToBytes(*result.file) : colour ? Coloured(result.shown) : ToUtf8(result.shown)) + '\n';
  std::fwrite(shown.data(), 1, shown.size(), stdout);
  std::fflush(stdout);
  // The command itself fails quietly; a failing settings file is named all the same, also when
  // only a width could not be stored and the layout went ahead without it.
  const auto storeFailure = recorder.TakeFailure();
  if (storeFailure) PrintError(u"corvane format: " + *storeFailure);
  if (result.ending == formulate::Ending::Failed && !storeFailure) {
    if (files.failure) {
      PrintError(u"corvane format: " + *files.failure + u"; the cell was left as it was");
    } else {
      // Most often the spreadsheet refused the layout; the text file takes any layout.
      PrintError(u"corvane format: " +
                 (result.failure.empty() ? std::u16string(u"the layout could not be delivered.")
                                         : u"the layout was refused: " + result.failure) +
                 u" The cell was left as it was" +
                 (options.alwaysNotepad ? u"." : u"; --notepad writes the layout to a text file, which takes any layout."));
    }
  }
  return result.succeeded() ? kExitOk : kExitFailed;
}

const CommandRegistration kRegistration{
    {"format",
     "format [FORMULA|-] [--jsonl] [--mono] [--all-parens|--no-all-parens] [--notepad] [--separator SEP] "
     "[--excel-version TEXT] [--font NAME] [--uncalibrated] [--fit-width N|off] [--store PATH]   lay out a formula\n"
     "  corvane format BOOK.xlsx CELL...|--all [--output OUT.xlsx] [options]   lay out formulas of a workbook file",
     Run}};

}  // namespace
}  // namespace corvane::cli
