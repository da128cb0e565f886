// `corvane help [COMMAND|TOPIC]`: a command's usage, or the help for a terminal, every topic or
// the one named; `corvane help --json`: the command table for the build.
#include <iostream>
#include <string>

#include "cli/cli.h"
#include "cli/help_text.h"

namespace corvane::cli {
namespace {

int Run(std::vector<std::string>& args) {
  const bool json = TakeFlag(args, "json");
  TakeOption(args, "store");  // reads no settings
  RejectUnknownOptions(args);
  if (args.size() > (json ? 0 : 1)) throw UsageError(json ? "--json takes no name" : "help takes at most one name");
  if (json) {
    std::cout << UsageJson(CORVANE_VERSION);
    return kExitOk;
  }
  const auto topics = help::Topics();
  if (args.empty()) {
    for (std::size_t i = 0; i < topics.size(); ++i) std::cout << (i ? "\n" : "") << topics[i].text;
    return kExitOk;
  }
  // Command and topic names differ (the help's topic list sees to it), so neither hides the other.
  if (const Command* command = FindCommand(args.front())) {
    std::cout << CommandHelp(*command);
    return kExitOk;
  }
  for (const auto& topic : topics) {
    if (topic.name == args.front()) {
      std::cout << topic.text;
      return kExitOk;
    }
  }
  // One line: the message is shown escaped, a line feed included.
  std::string commands, names;
  for (const auto& command : Commands()) commands += (commands.empty() ? "" : ", ") + command.name;
  for (const auto& topic : topics) names += (names.empty() ? "" : ", ") + std::string(topic.name);
  throw UsageError("no command or topic \"" + Printable(args.front()) + "\"; the commands are " + commands +
                   "; the topics are " + names + " (corvane help prints them all)");
}

const CommandRegistration kRegistration{{
    .name = "help",
    .forms = {"help [COMMAND|TOPIC]", "help --json"},
    .summary = "print a command's usage, one topic of the help, or all of the help",
    .options = {{"--json", "print every command's usage as JSON (the build makes the manual page and the shell "
                           "completion from it)"}},
    .exits = {"0 the help was printed", "2 no command or topic of that name, or bad usage"},
    .run = Run,
    .operands = Operands::HelpNames}};

}  // namespace
}  // namespace corvane::cli
