// `corvane unformat [FORMULA|-] [--jsonl] [--color=WHEN]`: removes the layout from a formula in
// the in-memory workbook's active cell and prints the cell's content afterwards.
#include <unistd.h>

#include <iostream>
#include <string>

#include "addin/cls_corvane.h"
#include "cli/cli.h"
#include "cli/colour.h"
#include "cli/json.h"
#include "cli/workbook_commands.h"
#include "cli/workbook_session.h"
#include "formatting/unformat.h"

namespace corvane::cli {
namespace {

struct Outcome {
  std::u16string cell;
  bool refused = false;  // the command had whitespace to remove and the cell kept its text
};

Outcome UnformatOne(const std::u16string& text) {
  WorkbookSession session;
  session.PutIntoActiveCell(text);
  cls_corvane corvane;
  DeformulateCell(corvane, *session.app());
  Outcome outcome;
  outcome.cell = session.ActiveCellContent();
  if (!text.empty() && text.front() == u'=' && outcome.cell == text) {
    // Decide whether anything was there to remove, as the command decides it.
    outcome.refused = Unformat(text) != text;
  }
  return outcome;
}

int RunJsonl() {
  const std::string input = ReadAllStdin();
  std::size_t lineNumber = 0;
  std::size_t start = 0;
  while (start < input.size()) {
    std::size_t end = input.find('\n', start);
    if (end == std::string::npos) end = input.size();
    ++lineNumber;
    const std::string_view line(input.data() + start, end - start);
    start = end + 1;
    Outcome outcome;
    try {
      outcome = UnformatOne(ParseJsonStringLine(line));
    } catch (const UsageError& e) {
      // The lines before it are answered already; the message says which line stopped the run.
      std::cout.flush();
      throw UsageError("line " + std::to_string(lineNumber) + ": " + e.what());
    }
    std::cout << "{\"cell\":" << JsonQuote(outcome.cell) << "}\n";
  }
  std::cout.flush();
  return kExitOk;
}

int Run(std::vector<std::string>& args) {
  TakeOption(args, "store");  // unformat reads no settings
  if (IsWorkbookInvocation(args)) return RunUnformatWorkbook(args);
  const bool jsonl = TakeFlag(args, "jsonl");
  const bool colour = UseColour(TakeOption(args, "color"), STDOUT_FILENO);
  RejectWorkbookOptions(args);
  RejectUnknownOptions(args);
  if (!args.empty() && args.front() == "--") args.erase(args.begin());
  ProgramServices program("", /*openStore=*/false);
  if (jsonl) {
    if (!args.empty()) throw UsageError("--jsonl reads standard input and takes no FORMULA");
    return RunJsonl();
  }
  if (args.size() > 1) throw UsageError("expected one FORMULA (quote it), or none to read standard input");
  const std::u16string text = args.empty() || args[0] == "-" ? FromStdinText() : FromUtf8(args[0]);
  const Outcome outcome = UnformatOne(text);
  std::cout << (colour ? Coloured(outcome.cell) : ToUtf8(outcome.cell)) << '\n';
  std::cout.flush();
  if (outcome.refused) {
    PrintError("corvane unformat: the spreadsheet refused the formula without its layout; the cell was left as it was");
    return kExitFailed;
  }
  return kExitOk;
}

const CommandRegistration kRegistration{{
    .name = "unformat",
    .forms = {"unformat [FORMULA|-] [--jsonl] [--color=WHEN]", "unformat BOOK.xlsx CELL...|--all [--output OUT.xlsx]"},
    .summary = "remove the layout from a formula or a workbook file's formulas",
    .options = {{"--jsonl", "read one JSON string per line of standard input, print one {\"cell\"} object per line"},
                {"--color=WHEN", "show the formula's parts in colour: auto (on a terminal, without NO_COLOR), "
                                 "always or never"},
                {"--all", "every formula of every worksheet of the workbook file"},
                {"--output OUT.xlsx", "write the workbook to OUT.xlsx instead of replacing BOOK.xlsx"}},
    .exits = {"0 the cell holds the one-line result (or a constant, which is never changed); for a workbook file, "
              "every cell was dealt with and the workbook saved",
              "1 the spreadsheet refused the result and the cell was left as it was, or a failure ended the command",
              "2 bad usage or invalid input"},
    .run = Run,
    .operands = Operands::Workbooks}};

}  // namespace
}  // namespace corvane::cli
