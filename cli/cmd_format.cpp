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
#include "cli/batch.h"
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
  formulate::Cause cause{};             // why a message ended it
  bool succeeded() const { return ending == formulate::Ending::IntoCell || ending == formulate::Ending::IntoFile; }
};

class FormatRunner {
 public:
  FormatRunner(const FormatOptions& options, SettingsStore& store, TerminalPrompter& prompter)
      : options_(options), store_(store), prompter_(prompter) {
    if (options_.font) session_.app()->SetStandardFont(*options_.font);
    if (options_.version) session_.app()->SetVersion(*options_.version);
    if (options_.separator) session_.app()->SetListSeparator(*options_.separator);
  }

  // Line `line` of a batch runs in its own cell, emptied afterwards (a single formula is line 1).
  RunResult Run(const std::u16string& text, std::uint64_t line = 1) {
    session_.MoveToLine(line);
    session_.PutIntoActiveCell(text);
    // One add-in object serves every run, as in the spreadsheet: the command sets all it uses anew.
    // The object holds the host too, for the widths of rarer characters measured during the layout.
    session_.HandOver(corvane_);
    prompter_.ForgetShown();

    formulate::Outcome outcome;
    {
      // The run's reads see one state of the store, checked once.
      SettingsStore::ReadScope reads(store_);
      outcome = formulate::FormulateCell(corvane_, *session_.app(), store_, prompter_);
    }

    RunResult result;
    result.ending = outcome.ending;
    result.failure = std::move(outcome.failure);
    result.cause = outcome.cause;
    if (outcome.ending == formulate::Ending::IntoFile && options_.mono) {
      result.shown = std::move(outcome.laidOut);
    } else {
      result.shown = session_.ActiveCellContent();
      if (outcome.ending == formulate::Ending::IntoFile) result.file = std::move(outcome.filePath);
    }
    session_.ClearActiveCell();
    return result;
  }

 private:
  const FormatOptions& options_;
  SettingsStore& store_;
  TerminalPrompter& prompter_;
  cls_corvane corvane_;
  WorkbookSession session_;
};

// Why a run that failed left the cell as it was (the command itself fails quietly).
std::u16string FailureReason(const RunResult& result, const RecordingFiles& files, const FormatOptions& options) {
  if (files.failure) return *files.failure + u"; the cell was left as it was";
  // Most often the spreadsheet refused the layout; the text file takes any layout.
  return (result.failure.empty() ? std::u16string(u"the layout could not be delivered.")
                                 : u"the layout was refused: " + result.failure) +
         u" The cell was left as it was" +
         (options.alwaysNotepad ? u"." : u"; --notepad writes the layout to a text file, which takes any layout.");
}

std::u16string OptionText(const std::optional<std::string>& value, const char* name, bool allowEmpty) {
  std::u16string text = OptionFromUtf8(*value, name);
  if (!allowEmpty && text.empty()) throw UsageError(std::string("--") + name + " needs a value");
  return text;
}

// A line that cannot be run, or whose run fails, answers with the reason and the batch goes on;
// a line whose command ended with a message answers with it, as any other.
int RunBatch(FormatRunner& runner, const TerminalPrompter& prompter, StoreFailureRecorder& store,
             RecordingFiles& files, const FormatOptions& options) {
  JsonlBatch batch;
  bool storeNamed = false;
  while (batch.Next()) {
    files.failure.reset();
    RunResult result;
    try {
      result = runner.Run(batch.Text(), batch.number());
    } catch (const AutomationError& e) {
      batch.Fail(e.description());
      continue;
    } catch (const std::exception& e) {
      batch.Fail(e.what());
      continue;
    }
    const auto storeFailure = store.TakeFailure();
    if (storeFailure && !storeNamed) {
      // Named once: a settings file that fails now most likely fails every later line too.
      storeNamed = true;
      batch.Flush();
      PrintError(u"corvane format: " + *storeFailure);
    }
    if (result.ending == formulate::Ending::Failed) {
      batch.Fail(storeFailure ? *storeFailure : FailureReason(result, files, options));
      continue;
    }
    std::string answer = "{\"cell\":";
    answer += JsonQuote(result.shown);
    answer += ",\"file\":";
    answer += result.file ? JsonQuote(*result.file) : std::string("null");
    answer += ",\"messages\":[";
    for (std::size_t i = 0; i < prompter.prompts.size(); ++i) {
      if (i > 0) answer += ',';
      answer += JsonQuote(prompter.prompts[i]);
    }
    answer += ']';
    // The reason a terminal user reads on standard error after the add-in's message.
    if (result.cause != formulate::Cause::None) answer += ",\"reason\":" + JsonQuote(FromUtf8(CauseInWords(result.cause)));
    answer += '}';
    batch.Answer(answer);
  }
  return batch.Finish("format");
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
  if (const auto v = TakeOption(args, "separator")) options.separator = SeparatorOption(*v);
  if (const auto v = TakeOption(args, "excel-version")) options.version = VersionOption(*v);
  if (const auto v = TakeOption(args, "font")) options.font = OptionText(v, "font", false);
  if (const auto v = TakeOption(args, "fit-width")) options.fitWidth = FitWidthOption(*v);
  const std::optional<std::string> storeOption = TakeOption(args, "store");
  // Colour shows the monospaced layout's structure; other output is for other programs.
  const bool colour = UseColour(TakeOption(args, "color"), STDOUT_FILENO) && options.mono;
  RejectWorkbookOptions(args);
  RejectUnknownOptions(args);
  if (!args.empty() && args.front() == "--") args.erase(args.begin());
  if (options.jsonl && !args.empty()) throw UsageError("--jsonl reads standard input and takes no FORMULA");
  if (args.size() > 1) throw UsageError("expected one FORMULA (quote it), or none to read standard input");
  // The monospaced layout is the one made for the text file.
  if (options.mono) options.alwaysNotepad = true;

  // A formula is read before anything is opened, so that bad input changes nothing; a batch
  // answers each bad line in its turn.
  const std::u16string single =
      options.jsonl ? std::u16string() : args.empty() || args[0] == "-" ? FromStdinText() : FromUtf8(args[0]);

  ProgramServices program(storeOption.value_or(""));
  program.WarnOfStandIn(options.font ? *options.font : WorkbookSession().app()->StandardFont(), "format");
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
    return RunBatch(runner, prompter, recorder, files, options);
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
  // The message says what the add-in says; a terminal user is told why besides.
  if (result.ending == formulate::Ending::Message) PrintError("corvane format: " + CauseInWords(result.cause));
  if (result.ending == formulate::Ending::Failed && !storeFailure)
    PrintError(u"corvane format: " + FailureReason(result, files, options));
  return result.succeeded() ? kExitOk : kExitFailed;
}

const CommandRegistration kRegistration{{
    .name = "format",
    .forms = {"format [FORMULA|-] [OPTIONS]", "format BOOK.xlsx CELL...|--all [--output OUT.xlsx] [OPTIONS]"},
    .summary = "lay out a formula, or the formulas of a workbook file",
    .options = {{"--all-parens", "lay out every group in parentheses (Format All Parens on, for this run)"},
                {"--no-all-parens", "keep a group after + - * / ^ inline (Format All Parens off, for this run)"},
                {"--notepad", "write the layout to a text file, whatever its length"},
                {"--mono", "print the layout for a monospaced font instead of writing a file (FORMULA only)"},
                {"--color=WHEN", "with --mono, show the layout's parts in colour: auto (on a terminal, without "
                                 "NO_COLOR), always or never"},
                {"--jsonl", "read one JSON string per line of standard input, print one {\"cell\", \"file\", "
                            "\"messages\"} object per line (and a \"reason\" when a message ended it), or {\"error\"} with "
                            "the reason for a line that failed (FORMULA only)"},
                {"--separator SEP", "the list separator"},
                {"--excel-version TEXT", "the spreadsheet's version: up to 11 a formula holds 1,024 characters, else 8,192"},
                {"--font NAME", "the standard font"},
                {"--uncalibrated", "measure every character as 1 wide, without calibrating"},
                {"--fit-width N|off", "Fit Width for this run, for a formula or a workbook file: keep a level on one "
                                      "line when it fits in N widths of \"0\"; off breaks every level"},
                {"--all", "every formula of every worksheet of the workbook file (a large worksheet on two processors "
                          "at once; the environment variable CORVANE_THREADS=1 keeps the run to one)"},
                {"--output OUT.xlsx", "write the workbook to OUT.xlsx instead of replacing BOOK.xlsx"}},
    .exits = {"0 the cell received the layout or the text file was written; for a workbook file, every cell was "
              "dealt with and the workbook saved",
              "1 a message or a failure ended the command (a workbook file is then as it was); with --jsonl, "
              "a line failed",
              "2 bad usage or invalid input (not UTF-8, or text the spreadsheet refuses)"},
    .run = Run,
    .operands = Operands::Workbooks,
    .usesStore = true}};

}  // namespace
}  // namespace corvane::cli
