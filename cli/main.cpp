// The `corvane` program: runs the add-in's commands on the embedded in-memory workbook.
#include <iostream>
#include <string>
#include <vector>

#include "base/automation.h"
#include "cli/cli.h"

namespace {

// -h or --help anywhere before "--" asks for the command's usage instead of running it.
bool AsksForHelp(const std::vector<std::string>& args) {
  for (const auto& arg : args) {
    if (arg == "--") return false;
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::cout << corvane::cli::ProgramHelp();
    return corvane::cli::kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h") {
    std::cout << corvane::cli::ProgramHelp();
    return corvane::cli::kExitOk;
  }
  if (args[0] == "--version") args[0] = "version";
  const std::string name = args[0];
  args.erase(args.begin());
  for (const auto& command : corvane::cli::Commands()) {
    if (command.name != name) continue;
    if (AsksForHelp(args)) {
      std::cout << corvane::cli::CommandHelp(command);
      return corvane::cli::kExitOk;
    }
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
