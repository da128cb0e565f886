// `corvane unformat [FORMULA|-] [--jsonl] [--color=WHEN]`: removes the layout from a formula in
// the in-memory workbook's active cell and prints the cell's content afterwards.
#include <unistd.h>

#include <iostream>
#include <string>

#include "cli/batch.h"
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

constexpr const char* kRefused = "the spreadsheet refused the formula without its layout; the cell was left as it was";

// Line `line` of a batch runs in its own cell, emptied afterwards (a single formula is line 1).
Outcome UnformatOne(WorkbookSession& session, const std::u16string& text, std::uint64_t line) {
  session.MoveToLine(line);
  session.PutIntoActiveCell(text);
  DeformulateCell(*session.app());
  Outcome outcome;
  outcome.cell = session.ActiveCellContent();
  session.ClearActiveCell();
  if (!text.empty() && text.front() == u'=' && outcome.cell == text) {
    // Decide whether anything was there to remove, as the command decides it.
    outcome.refused = Unformat(text) != text;
  }
  return outcome;
}

Outcome UnformatOne(const std::u16string& text) {
  WorkbookSession session;
  return UnformatOne(session, text, 1);
}

// Every line is answered in its turn; one that cannot be run, or that the spreadsheet refuses,
// answers with the reason and the batch goes on.
int RunJsonl() {
  WorkbookSession session;
  JsonlBatch batch;
  while (batch.Next()) {
    try {
      const Outcome outcome = UnformatOne(session, batch.Text(), batch.number());
      if (outcome.refused) {
        batch.Fail(kRefused);
      } else {
        batch.Answer("{\"cell\":" + JsonQuote(outcome.cell) + "}");
      }
    } catch (const AutomationError& e) {
      batch.Fail(e.description());
    } catch (const std::exception& e) {
      batch.Fail(e.what());
    }
  }
  return batch.Finish("unformat");
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
    PrintError(std::string("corvane unformat: ") + kRefused);
    return kExitFailed;
  }
  return kExitOk;
}

const CommandRegistration kRegistration{{
    .name = "unformat",
    .forms = {"unformat [FORMULA|-] [--jsonl] [--color=WHEN]", "unformat BOOK.xlsx CELL...|--all [--output OUT.xlsx]"},
    .summary = "remove the layout from a formula or a workbook file's formulas",
    .options = {{"--jsonl", "read one JSON string per line of standard input, print one {\"cell\"} object per line, "
                            "or {\"error\"} with the reason for a line that failed"},
                {"--color=WHEN", "show the formula's parts in colour: auto (on a terminal, without NO_COLOR), "
                                 "always or never"},
                {"--all", "every formula of every worksheet of the workbook file"},
                {"--output OUT.xlsx", "write the workbook to OUT.xlsx instead of replacing BOOK.xlsx"}},
    .exits = {"0 the cell holds the one-line result (or a constant, which is never changed); for a workbook file, "
              "every cell was dealt with and the workbook saved",
              "1 the spreadsheet refused the result and the cell was left as it was, or a failure ended the command; "
              "with --jsonl, a line failed",
              "2 bad usage or invalid input"},
    .run = Run,
    .operands = Operands::Workbooks}};

}  // namespace
}  // namespace corvane::cli
