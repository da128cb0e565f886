// The `corvane` program: runs the add-in's commands on the embedded in-memory workbook.
#include <iostream>
#include <string>
#include <vector>

#include "base/automation.h"
#include "cli/cli.h"

namespace {

void PrintHelp() {
  std::cout << "corvane - makes long spreadsheet formulas readable\n\n"
               "Usage: corvane COMMAND [OPTIONS]\n\nCommands:\n";
  for (const auto& command : corvane::cli::Commands()) std::cout << "  corvane " << command.synopsis << '\n';
  std::cout << "  corvane --help\n\n"
               "FORMULA absent or \"-\" reads the formula from standard input (UTF-8).\n"
               "--store PATH (or the environment variable CORVANE_STORE) names the settings file.\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    PrintHelp();
    return corvane::cli::kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h") {
    PrintHelp();
    return corvane::cli::kExitOk;
  }
  const std::string name = args[0];
  args.erase(args.begin());
  for (const auto& command : corvane::cli::Commands()) {
    if (command.name != name) continue;
    try {
      return command.run(args);
    } catch (const corvane::cli::UsageError& e) {
      // Messages may quote a file's content (a sheet name, an entry name): shown escaped.
      corvane::cli::PrintError("corvane " + name + ": " + corvane::cli::Printable(e.what()));
      return corvane::cli::kExitUsage;
    } catch (const corvane::AutomationError& e) {
      corvane::cli::PrintError("corvane: " + corvane::cli::Printable(corvane::cli::ToUtf8(e.description())));
      return corvane::cli::kExitFailed;
    } catch (const std::exception& e) {
      corvane::cli::PrintError("corvane: " + corvane::cli::Printable(e.what()));
      return corvane::cli::kExitFailed;
    }
  }
  corvane::cli::PrintError("corvane: unknown command \"" + corvane::cli::Printable(name) +
                           "\" (see corvane --help)");
  return corvane::cli::kExitUsage;
}
