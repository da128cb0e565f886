// The commands' usage as the program prints it (`corvane --help`, `corvane help COMMAND`,
// `corvane COMMAND --help`) and as the build reads it (`corvane help --json`, from which
// help/helpgen.py makes the manual page's synopsis and commands and the bash completion).
#include <algorithm>
#include <cctype>
#include <string>

#include "cli/cli.h"
#include "cli/help_text.h"
#include "cli/json.h"

namespace corvane::cli {
namespace {

constexpr std::size_t kWidth = 80;
constexpr std::size_t kOptionColumn = 26;

// Words of `text` filled into lines of at most kWidth columns; the first line continues `lead`,
// the others start with `indent` spaces. A word longer than a line stands alone.
std::string Wrap(const std::string& lead, const std::string& text, std::size_t indent) {
  std::string out = lead;
  std::size_t column = lead.size();
  bool firstOnLine = true;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find(' ', start), text.size());
    const std::string word = text.substr(start, end - start);
    start = end + 1;
    if (word.empty()) continue;
    if (!firstOnLine && column + 1 + word.size() > kWidth) {
      out += '\n' + std::string(indent, ' ');
      column = indent;
    } else if (!firstOnLine) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    firstOnLine = false;
  }
  return out + '\n';
}

std::string Sentence(const std::string& phrase) {
  std::string out = phrase;
  if (!out.empty()) out[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[0])));
  return out + '.';
}

// The command's own options and the two every command takes.
std::vector<CommandOption> AllOptions(const Command& command) {
  std::vector<CommandOption> options = command.options;
  options.push_back({"--store PATH", command.usesStore
                                         ? "the settings file (else $CORVANE_STORE, else "
                                           "$XDG_CONFIG_HOME/corvane/settings.db or ~/.config/corvane/settings.db)"
                                         : "accepted and ignored: this command reads no settings"});
  options.push_back({"-h, --help", "print this usage and end"});
  return options;
}

std::string Quoted(const std::string& text) { return JsonQuote(FromUtf8(text)); }

std::string QuotedList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (const auto& item : items) out += (out.size() > 1 ? "," : "") + Quoted(item);
  return out + "]";
}

}  // namespace

const Command* FindCommand(std::string_view name) {
  const auto& commands = Commands();
  const auto it = std::find_if(commands.begin(), commands.end(), [&](const Command& c) { return c.name == name; });
  return it == commands.end() ? nullptr : &*it;
}

std::string CommandHelp(const Command& command) {
  std::string out;
  for (std::size_t i = 0; i < command.forms.size(); ++i)
    out += Wrap(std::string(i ? "       " : "Usage: ") + "corvane ", command.forms[i], 15);
  out += '\n' + Wrap("", Sentence(command.summary), 0) + "\nOptions:\n";
  for (const auto& option : AllOptions(command)) {
    const std::string lead = "  " + option.flag;
    out += lead.size() + 2 > kOptionColumn ? lead + '\n' + Wrap(std::string(kOptionColumn, ' '), option.text, kOptionColumn)
                                           : Wrap(lead + std::string(kOptionColumn - lead.size(), ' '), option.text, kOptionColumn);
  }
  out += "\nExit status:\n";
  for (const auto& exit : command.exits) {
    const std::size_t space = exit.find(' ');
    out += Wrap("  " + exit.substr(0, space) + "  ", exit.substr(space + 1), 5);
  }
  return out;
}

std::string ProgramHelp() {
  std::size_t width = 0;
  for (const auto& command : Commands()) width = std::max(width, command.name.size());
  std::string out = "corvane - makes long spreadsheet formulas readable\n\nUsage: corvane COMMAND [ARGUMENTS] [OPTIONS]\n\nCommands:\n";
  for (const auto& command : Commands())
    out += Wrap("  " + command.name + std::string(width - command.name.size() + 2, ' '), command.summary, width + 4);
  return out + '\n' +
         Wrap("", "Every command takes --store PATH, the settings file (else the environment variable CORVANE_STORE), "
                  "and -h or --help, its usage. \"corvane help COMMAND\" prints a command's usage, \"corvane help "
                  "TOPIC\" one topic of the help and \"corvane help\" all of it; \"corvane --version\" the versions. "
                  "FORMULA absent or \"-\" reads the formula from standard input (UTF-8).",
              0);
}

std::string UsageJson(std::string_view version) {
  static constexpr const char* kOperands[] = {"none", "workbooks", "help-names"};
  std::string out = "{\"version\":" + Quoted(std::string(version)) + ",\"commands\":[";
  for (const auto& command : Commands()) {
    if (&command != &Commands().front()) out += ',';
    out += "{\"name\":" + Quoted(command.name) + ",\"forms\":" + QuotedList(command.forms) +
           ",\"summary\":" + Quoted(command.summary) + ",\"options\":[";
    for (const auto& option : AllOptions(command))
      out += std::string(out.back() == '[' ? "" : ",") + "{\"flag\":" + Quoted(option.flag) +
             ",\"text\":" + Quoted(option.text) + "}";
    out += "],\"exits\":" + QuotedList(command.exits) + ",\"operands\":\"" +
           kOperands[static_cast<int>(command.operands)] + "\"}";
  }
  std::vector<std::string> topics;
  for (const auto& topic : help::Topics()) topics.emplace_back(topic.name);
  return out + "],\"topics\":" + QuotedList(topics) + "}\n";
}

}  // namespace corvane::cli
