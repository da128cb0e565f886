#include "cli/workbook_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <thread>

#include "addin/cls_corvane.h"
#include "cli/cli.h"
#include "cli/layered_store.h"
#include "cli/terminal_prompter.h"
#include "formatting/formulate_command.h"
#include "formatting/unformat.h"
#include "hosts/xlsx/safe_file.h"
#include "hosts/xlsx/xlsx_host.h"
#include "hosts/xlsx/xml_text.h"
#include "hosts/xlsx/zip_package.h"
#include "platform/posix/posix_platform.h"
#include "spacing/calibration_store.h"

namespace corvane::cli {

namespace {

constexpr std::size_t kListedPerKind = 50;  // cells named in the summary for each kind
// How long a run waits for another one that is changing the same workbook.
constexpr std::chrono::seconds kLockPatience{60};
// A worksheet with at least this many cells of plain formulas left is formatted in two shares at
// once, one on each of two processors; fewer are not worth starting a thread for.
constexpr std::size_t kTwoSharesFrom = 512;

// Options of the formula form that take a value, and the workbook form's own.
const std::set<std::string, std::less<>> kValueOptions = {"--separator", "--excel-version", "--font",
                                                          "--fit-width", "--store", "--output"};

struct WorkbookOptions {
  std::optional<bool> allParens;
  std::optional<bool> alwaysNotepad;
  std::optional<std::u16string> separator;
  std::optional<std::u16string> version;
  std::optional<std::u16string> font;
  bool uncalibrated = false;
  std::optional<std::u16string> fitWidth;
  bool all = false;
  std::optional<std::string> output;
  std::string store;
  std::string book;
  std::vector<std::string> cells;
};

class NoEditor final : public EditorLauncher {
 public:
  void OpenInEditor(std::u16string_view) noexcept override {}
};

// A bar on standard error while many cells are worked on, drawn only on a terminal.
class ProgressBar {
 public:
  ProgressBar(std::string label, std::size_t total)
      : label_(std::move(label)), total_(total), shown_(total > 1 && isatty(STDERR_FILENO)) {}
  ~ProgressBar() { Finish(); }

  // A cell done by the other share: counted, drawn with the next Step.
  void Count() { done_.fetch_add(1, std::memory_order_relaxed); }

  void Step() {
    const std::size_t done = done_.fetch_add(1, std::memory_order_relaxed) + 1;
    if (!shown_) return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total_ && now - drawn_ < std::chrono::milliseconds(100)) return;
    drawn_ = now;
    constexpr std::size_t kWidth = 30;
    const std::size_t filled = total_ ? std::min(done, total_) * kWidth / total_ : kWidth;
    std::string line = "\r" + label_ + " [" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "] " +
                       std::to_string(done) + "/" + std::to_string(total_);
    Write(line);
  }

  void Finish() {
    if (!shown_) return;
    Write("\r\033[K");
    shown_ = false;
  }

 private:
  static void Write(const std::string& text) {
    std::fflush(stdout);
    if (::write(STDERR_FILENO, text.data(), text.size()) < 0) {
      // A bar that cannot be drawn is no reason to stop the work.
    }
  }

  std::string label_;
  std::size_t total_;
  std::atomic<std::size_t> done_{0};
  bool shown_;
  std::chrono::steady_clock::time_point drawn_{};
};

// "Sheet1!B7", or "'My Sheet'!B7" when the name needs quotes.
std::u16string Where(const std::u16string& sheet, const xlsx::CellRect& range) {
  bool plain = !sheet.empty() && !(sheet[0] >= u'0' && sheet[0] <= u'9');
  for (const char16_t c : sheet)
    if (!((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_' || c == u'.' ||
          c >= 0x80))
      plain = false;
  if (plain && xlsx::ParseCellAddress(std::u16string_view(sheet))) plain = false;
  std::u16string name;
  if (plain) {
    name = sheet;
  } else {
    name = u"'";
    for (const char16_t c : sheet) name += c == u'\'' ? u"''" : std::u16string(1, c);
    name += u"'";
  }
  return name + u"!" + xlsx::RangeAddress(range);
}

struct Target {
  xlsx::XlsxSheet* sheet;  // the workbook keeps its sheet objects for the run
  xlsx::CellRect range;
  xlsx::FormulaKind kind = xlsx::FormulaKind::Normal;
};

// Splits "Sheet!A1", "'It''s'!A1:B2" or "A1" into sheet name (empty: none given) and address.
std::pair<std::u16string, std::string> SplitCellArgument(const std::string& argument) {
  const std::size_t bang = argument.rfind('!');
  if (bang == std::string::npos) return {u"", argument};
  std::string sheet = argument.substr(0, bang);
  if (sheet.size() >= 2 && sheet.front() == '\'' && sheet.back() == '\'') {
    std::string unquoted;
    for (std::size_t i = 1; i + 1 < sheet.size(); ++i) {
      if (sheet[i] == '\'') {
        if (i + 2 < sheet.size() && sheet[i + 1] == '\'') {
          unquoted += '\'';
          ++i;
          continue;
        }
        throw UsageError("\"" + Printable(argument) + "\": a quote in a sheet name is written twice ('It''s'!A1)");
      }
      unquoted += sheet[i];
    }
    sheet = unquoted;
  }
  if (sheet.empty()) throw UsageError("\"" + Printable(argument) + "\" names no sheet before \"!\"");
  return {FromUtf8(sheet), argument.substr(bang + 1)};
}

std::vector<Target> CollectTargets(xlsx::XlsxWorkbook& book, const WorkbookOptions& options) {
  std::vector<Target> targets;
  // Cells named twice (or in ranges that meet) are worked on once; --all meets each cell once.
  std::set<std::tuple<const void*, std::int32_t, std::int32_t>> seen;
  const auto add = [&](const std::shared_ptr<xlsx::XlsxSheet>& sheet, const xlsx::CellRect& area) {
    const auto cells = sheet->data().FormulaCells(area);
    if (const std::size_t needed = targets.size() + cells.size(); needed > targets.capacity())
      targets.reserve(std::max(needed, 2 * targets.capacity()));
    for (const auto& cell : cells) {
      if (cell.followsMaster) continue;
      if (options.all || seen.emplace(sheet.get(), cell.range.row1, cell.range.col1).second)
        targets.push_back({sheet.get(), cell.range, cell.kind});
    }
  };
  if (book.SheetCount() == 0) throw UsageError("the workbook has no worksheets");
  if (options.all) {
    for (std::size_t i = 0; i < book.SheetCount(); ++i) {
      const std::size_t before = targets.size();
      add(book.Sheet(i), xlsx::CellRect{1, 1, xlsx::kMaxRows, xlsx::kMaxColumns});
      // Only the cells of the worksheets with formulas are kept until their turn.
      if (book.SheetCount() > 1) {
        if (targets.size() == before)
          book.Sheet(i)->data().Unload();
        else
          book.Sheet(i)->data().ReleaseText();
      }
    }
    return targets;
  }
  for (const std::string& argument : options.cells) {
    const auto [sheetName, address] = SplitCellArgument(argument);
    const auto range = xlsx::ParseRangeAddress(address);
    if (!range) {
      throw UsageError("\"" + Printable(argument) +
                       "\" is not a cell or range (such as Sheet1!B7 or 'My Sheet'!A1:F200)");
    }
    std::shared_ptr<xlsx::XlsxSheet> sheet = sheetName.empty() ? book.ActiveSheet() : book.SheetNamed(sheetName);
    if (!sheet) throw UsageError("the workbook has no worksheet named \"" + Printable(ToUtf8(sheetName)) + "\"");
    add(sheet, *range);
  }
  return targets;
}

WorkbookOptions ParseOptions(std::vector<std::string>& args, bool format) {
  WorkbookOptions options;
  if (format) {
    const bool allParens = TakeFlag(args, "all-parens");
    const bool noAllParens = TakeFlag(args, "no-all-parens");
    if (allParens && noAllParens) throw UsageError("--all-parens and --no-all-parens exclude each other");
    if (allParens || noAllParens) options.allParens = allParens;
    if (TakeFlag(args, "notepad")) options.alwaysNotepad = true;
    options.uncalibrated = TakeFlag(args, "uncalibrated");
    if (TakeFlag(args, "mono") || TakeFlag(args, "jsonl"))
      throw UsageError("--mono and --jsonl are for single formulas, not for workbook files");
    if (const auto v = TakeOption(args, "separator")) options.separator = SeparatorOption(*v);
    if (const auto v = TakeOption(args, "excel-version")) options.version = VersionOption(*v);
    if (const auto v = TakeOption(args, "font")) {
      options.font = OptionFromUtf8(*v, "font");
      if (options.font->empty()) throw UsageError("--font needs a value");
    }
    if (const auto v = TakeOption(args, "fit-width")) options.fitWidth = FitWidthOption(*v);
    options.store = TakeOption(args, "store").value_or("");
  } else if (TakeFlag(args, "jsonl")) {
    throw UsageError("--jsonl is for single formulas, not for workbook files");
  }
  options.all = TakeFlag(args, "all");
  options.output = TakeOption(args, "output");
  if (options.output && options.output->empty()) throw UsageError("--output needs a file name");
  RejectUnknownOptions(args);
  if (!args.empty() && args.front() == "--") args.erase(args.begin());
  // The workbook form is chosen by IsWorkbookInvocation, which has read the file's content.
  if (args.empty()) throw UsageError("expected a workbook file (.xlsx or .xlsm) first");
  options.book = args.front();
  options.cells.assign(args.begin() + 1, args.end());
  if (options.all && !options.cells.empty()) throw UsageError("--all takes no CELL");
  if (!options.all && options.cells.empty())
    throw UsageError("expected CELL (such as Sheet1!B7, 'My Sheet'!B7 or Sheet1!A1:F200) or --all");
  return options;
}

// Before anything is read: the workbook is locked for the whole run (another run on it is waited
// for), and what the save would replace is checked, so that a refusal comes before any work.
std::unique_ptr<xlsx::FileLock> LockAndCheck(const WorkbookOptions& options) {
  auto lock = std::make_unique<xlsx::FileLock>(options.book, kLockPatience, [&] {
    PrintError("corvane: " + Printable(options.book) + " is locked by another run; waiting for it to finish (at most " +
               std::to_string(kLockPatience.count()) + " s)");
  });
  try {
    xlsx::CheckReplaceable(options.output.value_or(options.book));
  } catch (const AutomationError& e) {
    if (options.output || e.number() != err::kPermissionDenied) throw;
    throw AutomationError(e.number(), e.description() + u" Name another file with --output to save the result there.");
  }
  return lock;
}

std::shared_ptr<xlsx::XlsxApplication> OpenBook(const WorkbookOptions& options) {
  xlsx::HostOptions host;
  if (options.version) host.version = *options.version;
  if (options.separator) host.listSeparator = *options.separator;
  if (options.font) host.standardFont = *options.font;
  try {
    return xlsx::XlsxApplication::Open(options.book, std::move(host));
  } catch (const AutomationError& e) {
    if (e.number() == err::kInvalidProcedureCall) throw UsageError(ToUtf8(e.description()));
    throw;
  }
}

// Why the cell's formula cannot be read, or nothing when it can. The worksheet is asked
// directly: the text the spreadsheet would show is not needed here.
std::optional<std::u16string> UnreadableFormula(xlsx::XlsxRange& cell) {
  try {
    cell.sheet()->data().FormulaAt(cell.rect().row1, cell.rect().col1);
  } catch (const AutomationError& e) {
    return e.description();
  }
  return std::nullopt;
}

// Lets a worksheet's text go once the run moves on to another worksheet: a run over a workbook
// of many worksheets holds about one worksheet's text at a time (the save reads it again).
class SheetTurns {
 public:
  void Reached(xlsx::XlsxSheet* sheet) {
    if (current_ && current_ != sheet) current_->data().ReleaseText();
    current_ = sheet;
  }

 private:
  xlsx::XlsxSheet* current_ = nullptr;
};

struct Summary {
  std::size_t done = 0;  // formatted or unformatted
  std::size_t unchanged = 0;
  std::vector<std::pair<std::u16string, std::u16string>> files;    // where, file
  std::vector<std::pair<std::u16string, std::u16string>> skipped;  // where, reason
  bool failed = false;
};

// How one cell's command ended, for the summary.
struct CellEnd {
  // None: not run; Unchanged: unformatted, and already without layout.
  enum class Kind : std::uint8_t { None, Done, Unchanged, File, Skipped, Failed, Declined };
  Kind kind = Kind::None;
  std::u16string text;  // the text file, or why the cell was skipped or failed
};

// How the targets' commands ended: a kind each, and the texts of the few that have one (kept
// apart: a large workbook's cells are mostly done, and a text per cell would only take room).
struct Ends {
  explicit Ends(std::size_t count) : kinds(count, CellEnd::Kind::None) {}
  static void Record(std::size_t index, CellEnd end, std::vector<CellEnd::Kind>& kinds,
                     std::map<std::size_t, std::u16string>& texts) {
    kinds[index] = end.kind;
    if (!end.text.empty()) texts[index] = std::move(end.text);
  }
  std::vector<CellEnd::Kind> kinds;
  std::map<std::size_t, std::u16string> texts;
};

constexpr std::u16string_view kDeclinedReason = u"not calibrated, and formatting without calibration was declined";

// Runs the formulate command on the cell of `target` through `app`, whose object for the
// target's worksheet is `sheet`.
CellEnd FormatCell(const Target& target, xlsx::XlsxSheet& sheet, xlsx::XlsxApplication& app,
                   formulate::RunState& state, SettingsStore& store, TerminalPrompter& prompter,
                   StoreFailureRecorder* recorder) {
  const auto cell = sheet.Range({target.range.row1, target.range.col1, target.range.row1, target.range.col1});
  app.SetActiveCell(cell);
  app.ClearLastRefusal();
  prompter.ForgetShown();
  // A formula that cannot be read (a data table, a shared formula that cannot be moved to
  // this cell) is left alone: skipped with the reason, not a failure of the run.
  if (const auto unreadable = UnreadableFormula(*cell)) return {CellEnd::Kind::Skipped, *unreadable};
  const formulate::Outcome outcome = formulate::FormulateCell(state, app, store, prompter);
  const std::optional<std::u16string> storeFailure = recorder ? recorder->TakeFailure() : std::nullopt;
  switch (outcome.ending) {
    case formulate::Ending::IntoCell:
      return {CellEnd::Kind::Done, {}};
    case formulate::Ending::IntoFile:
      return {CellEnd::Kind::File, outcome.filePath};
    case formulate::Ending::Message:
      return {CellEnd::Kind::Skipped,
              (prompter.notices.empty() ? u"the command ended with a message" : prompter.notices.back()) + u" (" +
                  FromUtf8(CauseInWords(outcome.cause)) + u")"};
    case formulate::Ending::Declined:
      return {CellEnd::Kind::Declined, std::u16string(kDeclinedReason)};
    case formulate::Ending::Failed:
      break;
  }
  // The command fails quietly; the settings file, the failure that ended it (a text file that
  // cannot be written names the file and why) or the spreadsheet's refusal says why.
  return {CellEnd::Kind::Failed, storeFailure                  ? *storeFailure
                                 : !outcome.failure.empty()    ? outcome.failure
                                 : !app.LastRefusal().empty() ? app.LastRefusal()
                                                               : u"the command failed"};
}

// The plain formulas (neither shared nor an array's) among the targets from `from` to `end`: the
// cells two shares may take, as changing one changes no other cell.
std::vector<std::size_t> PlainTargets(const std::vector<Target>& targets, std::size_t from, std::size_t end) {
  std::vector<std::size_t> plain;
  for (std::size_t k = from; k < end; ++k)
    if (targets[k].kind == xlsx::FormulaKind::Normal) plain.push_back(k);
  return plain;
}

// The run state of the second share. A line with a special character is measured in the first
// share only, which may measure it in the spreadsheet and store its width: here the layout stops.
class SecondShareState final : public formulate::RunState {
 public:
  double SpecialLineWidth(std::u16string_view) override {
    leftToFirst = true;
    throw AutomationError(err::kApplicationDefined, u"A special character is measured by the first share.");
  }
  bool leftToFirst = false;
};

// The settings store as the second share sees it: the version the carried settings were read at,
// and nothing to read or write, which the first share alone does.
class SettledStore final : public SettingsStore {
 public:
  explicit SettledStore(StoreVersion version) : version_(version) {}
  std::u16string GetSetting(std::u16string_view, std::u16string_view, std::u16string_view,
                            std::u16string_view) override {
    return Refuse();
  }
  void SaveSetting(std::u16string_view, std::u16string_view, std::u16string_view, std::u16string_view) override {
    Refuse();
  }
  StoreVersion Version() override { return version_; }
  bool touched = false;

 private:
  std::u16string Refuse() {
    touched = true;
    throw AutomationError(err::kApplicationDefined, u"The settings are read by the first share.");
  }
  StoreVersion version_;
};

// The plain formulas of a worksheet, dealt out to the two shares a few at a time as each asks,
// so that both end together however the work is spread over the sheet.
class Deal {
 public:
  explicit Deal(std::span<const std::size_t> cells) : cells_(cells) {}
  // The next few cells (indices into the targets, in order); none when all are dealt.
  std::span<const std::size_t> Next() {
    const std::size_t from = next_.fetch_add(kHand, std::memory_order_relaxed);
    return from < cells_.size() ? cells_.subspan(from, std::min(kHand, cells_.size() - from))
                                : std::span<const std::size_t>();
  }
  std::size_t First() const { return cells_.front(); }
  // Calls `each` on every cell dealt here, hand after hand, until it returns false (then false).
  template <class Each>
  bool TakeAll(Each each) {
    for (std::span<const std::size_t> hand; !(hand = Next()).empty();)
      for (const std::size_t index : hand)
        if (!each(index)) return false;
    return true;
  }

 private:
  static constexpr std::size_t kHand = 64;  // cells a time: few enough that both shares end together
  std::span<const std::size_t> cells_;
  std::atomic<std::size_t> next_{0};
};

// What the second share works with; made on the first share's thread before it starts.
struct SecondShare {
  Deal& deal;  // never empty
  std::shared_ptr<xlsx::XlsxApplication> app;  // a companion of the run's application
  SecondShareState state;
  SettledStore store;
  PlatformServices services;
  posix::TerminalUi* terminal;
  std::map<std::size_t, std::u16string> texts;  // its cells' texts, joined to the run's after it
};

// Formats the second share's cells on this thread. A cell it must leave (a special character, a
// failure, whose reason the first share will find again) gets no end, for the first share to do
// afterwards; so do the rest when the settings turn out to need the store, or on `stop`.
// Formatting a cell again gives what formatting it once gives, so nothing is done twice wrongly.
void RunSecondShare(SecondShare& share, const std::vector<Target>& targets, std::vector<CellEnd::Kind>& kinds,
                    ProgressBar& progress, const std::atomic<bool>& stop) noexcept {
  try {
    ScopedServices scope(share.services);
    TerminalPrompter prompter(*share.terminal, TerminalPrompter::Notices::Collect);
    prompter.Preset(formulate::kCalibratePrompt, answer::kNo);
    prompter.Preset(formulate::kFormatAnywayPrompt, answer::kNo);
    // A share lies in one worksheet.
    const std::shared_ptr<xlsx::XlsxSheet> sheet = share.app->Workbook()->SheetLike(*targets[share.deal.First()].sheet);
    share.deal.TakeAll([&](std::size_t index) {
      if (stop.load(std::memory_order_relaxed)) return false;
      share.state.leftToFirst = false;
      CellEnd end = FormatCell(targets[index], *sheet, *share.app, share.state, share.store, prompter, nullptr);
      if (share.store.touched) return false;
      if (share.state.leftToFirst || end.kind == CellEnd::Kind::Failed || end.kind == CellEnd::Kind::Declined)
        return true;
      Ends::Record(index, std::move(end), kinds, share.texts);
      progress.Count();
      return true;
    });
  } catch (...) {
    // Whatever stopped the share, its cells without an end are the first share's.
  }
}

// How many shares a worksheet's cells may be formatted in: two where two processors are, unless
// CORVANE_THREADS=1 asks for one.
std::size_t SharesWanted() {
  if (const char* wanted = std::getenv("CORVANE_THREADS"); wanted && *wanted) {
    const std::string text = wanted;
    const bool number = text.find_first_not_of("0123456789") == std::string::npos && text.size() <= 6;
    const int threads = number ? std::stoi(text) : 0;
    if (threads < 1)
      throw UsageError("CORVANE_THREADS must be a whole number from 1 (\"" + Printable(text) + "\" given)");
    if (threads == 1) return 1;
  }
  return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

// Text from the workbook file (sheet names, reasons naming cells, paths of text files) is shown
// escaped, as arguments are: a sheet name must not be able to drive the terminal.
std::string Shown(std::u16string_view text) { return Printable(ToUtf8(text)); }
// A path keeps the bytes of a name that is not UTF-8 (shown as \xHH).
std::string ShownPath(std::u16string_view path) { return Printable(posix::PathToBytes(path)); }

void PrintList(std::string& out, const std::vector<std::pair<std::u16string, std::u16string>>& list,
               const char* what, bool paths = false) {
  for (std::size_t i = 0; i < list.size() && i < kListedPerKind; ++i)
    out += "  " + Shown(list[i].first) + ": " + what + (paths ? ShownPath(list[i].second) : Shown(list[i].second)) +
           "\n";
  if (list.size() > kListedPerKind) out += "  ... and " + std::to_string(list.size() - kListedPerKind) + " more\n";
}

std::string Plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Keeps `held` until the process ends. The workbook commands are the program's last act: the
// system takes a large workbook's memory back at once when the program ends, where freeing its
// cells and formulas one by one would delay the exit.
void KeepUntilExit(std::shared_ptr<const void> held) {
  static auto* const kept = new std::vector<std::shared_ptr<const void>>;  // never freed, on purpose
  kept->push_back(std::move(held));
}

// Saves when something changed (or another file is asked for) and finishes the summary.
int Finish(xlsx::XlsxApplication& app, const WorkbookOptions& options, Summary& summary, std::string& out,
           bool anyTarget) {
  int status = summary.failed || !anyTarget ? kExitFailed : kExitOk;
  const bool changed = app.Workbook()->file().Modified();
  try {
    if (changed || options.output) {
      app.Workbook()->Save(options.output.value_or(""));
      out += changed ? "saved " + Printable(options.output.value_or(options.book)) + "\n"
                     : "copied unchanged to " + Printable(*options.output) + "\n";
    } else {
      out += Printable(options.book) + " was not changed\n";
    }
  } catch (const AutomationError& e) {
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    PrintError("corvane: " + Shown(e.description()));
    return kExitFailed;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  return status;
}

}  // namespace

bool NamesWorkbook(std::string_view argument) {
  const auto dot = argument.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string ext(argument.substr(dot + 1));
  for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == "xlsx" || ext == "xlsm" || ext == "xltx" || ext == "xltm";
}

bool IsWorkbookArgument(const std::string& argument) {
  if (argument.empty() || argument.front() == '=' || argument == "-") return false;
  struct stat status {};
  if (::stat(argument.c_str(), &status) != 0) return NamesWorkbook(argument);
  const std::string shown = "\"" + Printable(argument) + "\"";
  const std::string reads = "corvane reads .xlsx, .xlsm and their templates (.xltx, .xltm)";
  if (!S_ISREG(status.st_mode)) {
    // The workbook form names what it is.
    if (NamesWorkbook(argument)) return true;
    throw UsageError(shown + (S_ISDIR(status.st_mode) ? " is a folder" : " is not a regular file") +
                     ", not a workbook file; " + reads + ", and a formula starts with \"=\"");
  }
  std::unique_ptr<xlsx::ZipPackage> package;
  try {
    package = xlsx::ZipPackage::Open(argument);
  } catch (const AutomationError& e) {
    // A file that cannot be read is the workbook form's to report; one that is no workbook is refused here.
    if (e.number() != err::kApplicationDefined) return true;
    throw UsageError(ToUtf8(e.description()) + " " + reads + ", and a formula starts with \"=\".");
  }
  if (package->Has("mimetype") && package->Read("mimetype").starts_with("application/vnd.oasis.opendocument")) {
    throw UsageError(shown + " is an OpenDocument file (such as .ods), not a workbook file; " + reads +
                     ": save it as .xlsx first.");
  }
  if (package->Has("[Content_Types].xml")) {
    std::string types = package->Read("[Content_Types].xml");
    for (auto& c : types) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* type : {"spreadsheetml.sheet.main+xml", "spreadsheetml.template.main+xml",
                             "ms-excel.sheet.macroenabled.main+xml", "ms-excel.template.macroenabled.main+xml"})
      if (types.find(type) != std::string::npos) return true;
  }
  throw UsageError(shown + " is a ZIP package but not a workbook file; " + reads + ".");
}

void RejectWorkbookOptions(const std::vector<std::string>& args) {
  std::string option;
  std::string first;
  for (const auto& arg : args) {
    if (arg == "--") break;
    if (arg == "--all" || arg == "--output" || arg.starts_with("--output=")) {
      if (option.empty()) option = arg.substr(0, arg.find('='));
    } else if (first.empty() && !arg.starts_with("--")) {
      first = arg;
    }
  }
  if (option.empty()) return;
  throw UsageError(option + " is for workbook files (.xlsx, .xlsm and their templates); " +
                   (first.empty()                 ? std::string("none was named")
                    : first.starts_with("=") ? "\"" + Printable(first) + "\" is a formula"
                                                  : "there is no file \"" + Printable(first) + "\""));
}

bool IsWorkbookInvocation(const std::vector<std::string>& args) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") return i + 1 < args.size() && IsWorkbookArgument(args[i + 1]);
    if (a.size() > 2 && a.starts_with("--")) {
      if (kValueOptions.count(a)) ++i;
      continue;
    }
    return IsWorkbookArgument(a);
  }
  return false;
}

int RunFormatWorkbook(std::vector<std::string>& args) {
  WorkbookOptions options = ParseOptions(args, true);
  const std::size_t shares = SharesWanted();
  ProgramServices program(options.store);
  PlatformServices services = program.services();
  const auto lock = LockAndCheck(options);
  const auto app = OpenBook(options);
  // Whether the workbook's font is installed is looked up while the worksheets load.
  const std::u16string font = app->StandardFont();
  std::u16string standIn;
  std::exception_ptr lookupFailure;
  std::vector<Target> targets;
  {
    std::jthread lookup([&] {
      try {
        standIn = program.StandIn(font);
      } catch (...) {
        lookupFailure = std::current_exception();
      }
    });
    targets = CollectTargets(*app->Workbook(), options);
  }
  if (lookupFailure) std::rethrow_exception(lookupFailure);
  ProgramServices::WarnOfStandIn(font, standIn, "format");

  StoreFailureRecorder recorder(*services.store);
  LayeredStore store(recorder, {options.allParens, options.alwaysNotepad, options.uncalibrated, options.fitWidth});
  // Notices are kept for the summary; the two calibration questions are asked on the terminal
  // once, and their answers stand for the rest of the run (--uncalibrated answers No and then Yes).
  TerminalPrompter prompter(program.terminal(), TerminalPrompter::Notices::Collect);
  prompter.Remember(formulate::kCalibratePrompt);
  prompter.Remember(formulate::kFormatAnywayPrompt);
  if (options.uncalibrated) {
    prompter.Preset(formulate::kCalibratePrompt, answer::kNo);
    prompter.Preset(formulate::kFormatAnywayPrompt, answer::kYes);
  }
  NoEditor noEditor;
  services.store = &store;
  // One text file may be opened for the user; a batch lists its files instead.
  if (targets.size() != 1) services.editor = &noEditor;
  ScopedServices scope(services);

  // The object holds the host too, for the widths of rarer characters measured during the layout.
  cls_corvane corvane;
  ObjectRef host = app;
  corvane.SetExcelApp(host);
  Ends ends(targets.size());
  {
    // The run's reads see one state of the store, checked once.
    SettingsStore::ReadScope reads(store);
    ProgressBar progress("formatting", targets.size());
    SheetTurns turns;
    std::atomic<bool> declined{false};
    // A cell on this thread: true when the run goes on.
    const auto formatHere = [&](std::size_t index) {
      const Target& target = targets[index];
      Ends::Record(index, FormatCell(target, *target.sheet, *app, corvane, store, prompter, &recorder), ends.kinds,
                   ends.texts);
      progress.Step();
      if (ends.kinds[index] != CellEnd::Kind::Declined) return true;
      declined.store(true, std::memory_order_relaxed);
      return false;
    };
    // Two shares need the settings read (by a cell formatted here) and enough plain formulas.
    bool settingsRead = false;
    for (std::size_t i = 0; i < targets.size() && !declined;) {
      std::size_t end = i;
      while (end < targets.size() && targets[end].sheet == targets[i].sheet) ++end;
      turns.Reached(targets[i].sheet);
      for (; i < end && !(shares > 1 && settingsRead); ++i) {
        if (!formatHere(i)) break;
        settingsRead = ends.kinds[i] == CellEnd::Kind::Done || ends.kinds[i] == CellEnd::Kind::File;
      }
      const std::vector<std::size_t> plain = PlainTargets(targets, i, end);
      if (plain.size() < kTwoSharesFrom) {
        for (; i < end && !declined; ++i) formatHere(i);
        continue;
      }
      // The plain formulas in two shares, the second on another thread through its own objects of
      // the workbook; shared and array formulas, which change other cells, and whatever the second
      // share left come after, here, in order.
      Deal deal(plain);
      SecondShare second{deal, app->Companion(), {}, SettledStore(store.Version()), services, &program.terminal(), {}};
      formulate::CarrySettings(corvane, second.state);
      second.services.store = &second.store;
      second.services.textMeasurer = nullptr;
      {
        std::jthread worker([&] { RunSecondShare(second, targets, ends.kinds, progress, declined); });
        deal.TakeAll(formatHere);
      }
      ends.texts.merge(second.texts);
      for (std::size_t k = i; k < end && !declined; ++k)
        if (ends.kinds[k] == CellEnd::Kind::None) formatHere(k);
      i = end;
    }
  }
  Summary summary;
  for (std::size_t k = 0; k < targets.size(); ++k) {
    const auto where = [&] { return Where(targets[k].sheet->data().Name(), targets[k].range); };
    const auto text = [&] {
      const auto it = ends.texts.find(k);
      return it == ends.texts.end() ? std::u16string() : std::move(it->second);
    };
    switch (ends.kinds[k]) {
      case CellEnd::Kind::Done:
        ++summary.done;
        break;
      case CellEnd::Kind::Unchanged:  // an unformat's end only
        ++summary.unchanged;
        break;
      case CellEnd::Kind::File:
        summary.files.emplace_back(where(), text());
        break;
      case CellEnd::Kind::None:
        // After a declined calibration the cells not reached are listed as the declined one is.
        summary.failed = true;
        summary.skipped.emplace_back(where(), kDeclinedReason);
        break;
      case CellEnd::Kind::Failed:
      case CellEnd::Kind::Declined:
        summary.failed = true;
        summary.skipped.emplace_back(where(), text());
        break;
      case CellEnd::Kind::Skipped:
        summary.skipped.emplace_back(where(), text());
        break;
    }
  }
  std::string out = Printable(options.book) + ": " +
                    Plural(summary.done, "formula formatted", "formulas formatted") + ", " +
                    Plural(summary.files.size(), "sent to a text file", "sent to text files") + ", " +
                    Plural(summary.skipped.size(), "skipped", "skipped") + "\n";
  PrintList(out, summary.files, "sent to ", /*paths=*/true);
  PrintList(out, summary.skipped, "skipped: ");
  if (targets.empty()) out += "  no formula found\n";
  const int status = Finish(*app, options, summary, out, !targets.empty());
  KeepUntilExit(app);
  return status;
}

// Unformats the cell of `target` through `app`, whose object for the target's worksheet is `sheet`.
CellEnd UnformatCell(const Target& target, xlsx::XlsxSheet& sheet, xlsx::XlsxApplication& app) {
  const auto cell = sheet.Range({target.range.row1, target.range.col1, target.range.row1, target.range.col1});
  app.SetActiveCell(cell);
  app.ClearLastRefusal();
  if (const auto unreadable = UnreadableFormula(*cell)) return {CellEnd::Kind::Skipped, *unreadable};
  const std::u16string before = cell->Formula();
  DeformulateCell(app);
  if (!app.LastRefusal().empty()) return {CellEnd::Kind::Failed, app.LastRefusal()};
  return {cell->Formula() != before ? CellEnd::Kind::Done : CellEnd::Kind::Unchanged, {}};
}

// Unformats the second share's cells on this thread, through `app`, a companion of the run's
// application. A cell refused (the first share finds the refusal again) or that fails otherwise
// gets no end, for the first share to do afterwards.
void RunUnformatShare(Deal& deal, xlsx::XlsxApplication& app, const std::vector<Target>& targets,
                      std::vector<CellEnd::Kind>& kinds, std::map<std::size_t, std::u16string>& texts,
                      ProgressBar& progress) noexcept {
  try {
    const std::shared_ptr<xlsx::XlsxSheet> sheet = app.Workbook()->SheetLike(*targets[deal.First()].sheet);
    deal.TakeAll([&](std::size_t index) {
      CellEnd end = UnformatCell(targets[index], *sheet, app);
      if (end.kind == CellEnd::Kind::Failed) return true;
      Ends::Record(index, std::move(end), kinds, texts);
      progress.Count();
      return true;
    });
  } catch (...) {
    // Whatever stopped the share, its cells without an end are the first share's.
  }
}

int RunUnformatWorkbook(std::vector<std::string>& args) {
  WorkbookOptions options = ParseOptions(args, false);
  const std::size_t shares = SharesWanted();
  ProgramServices program("", /*openStore=*/false);
  const auto lock = LockAndCheck(options);
  const auto app = OpenBook(options);
  const std::vector<Target> targets = CollectTargets(*app->Workbook(), options);

  Ends ends(targets.size());
  {
    ProgressBar progress("unformatting", targets.size());
    SheetTurns turns;
    const auto unformatHere = [&](std::size_t index) {
      Ends::Record(index, UnformatCell(targets[index], *targets[index].sheet, *app), ends.kinds, ends.texts);
      progress.Step();
    };
    for (std::size_t i = 0; i < targets.size();) {
      std::size_t end = i;
      while (end < targets.size() && targets[end].sheet == targets[i].sheet) ++end;
      turns.Reached(targets[i].sheet);
      // As in formatting: the plain formulas in two shares, then the rest here, in order.
      if (const std::vector<std::size_t> plain = PlainTargets(targets, i, end);
          shares > 1 && plain.size() >= kTwoSharesFrom) {
        Deal deal(plain);
        const std::shared_ptr<xlsx::XlsxApplication> companion = app->Companion();
        std::map<std::size_t, std::u16string> texts;
        {
          std::jthread worker([&] { RunUnformatShare(deal, *companion, targets, ends.kinds, texts, progress); });
          deal.TakeAll([&](std::size_t k) {
            unformatHere(k);
            return true;
          });
        }
        ends.texts.merge(texts);
      }
      for (; i < end; ++i)
        if (ends.kinds[i] == CellEnd::Kind::None) unformatHere(i);
    }
  }
  Summary summary;
  for (std::size_t k = 0; k < targets.size(); ++k) {
    const CellEnd::Kind kind = ends.kinds[k];
    if (kind == CellEnd::Kind::Done) {
      ++summary.done;
    } else if (kind == CellEnd::Kind::Unchanged) {
      ++summary.unchanged;
    } else {
      const auto it = ends.texts.find(k);
      summary.failed = summary.failed || kind == CellEnd::Kind::Failed;
      summary.skipped.emplace_back(Where(targets[k].sheet->data().Name(), targets[k].range),
                                   it == ends.texts.end() ? std::u16string() : std::move(it->second));
    }
  }
  std::string out = Printable(options.book) + ": " +
                    Plural(summary.done, "formula unformatted", "formulas unformatted") + ", " +
                    std::to_string(summary.unchanged) + " already without layout, " +
                    Plural(summary.skipped.size(), "skipped", "skipped") + "\n";
  PrintList(out, summary.skipped, "skipped: ");
  if (targets.empty()) out += "  no formula found\n";
  const int status = Finish(*app, options, summary, out, !targets.empty());
  KeepUntilExit(app);
  return status;
}

}  // namespace corvane::cli
