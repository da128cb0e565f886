// `corvane help [TOPIC]`: the help for a terminal, every topic or the one named.
#include <algorithm>
#include <iostream>
#include <string>

#include "cli/cli.h"
#include "cli/help_text.h"

namespace corvane::cli {
namespace {

int Run(std::vector<std::string>& args) {
  RejectUnknownOptions(args);
  if (args.size() > 1) throw UsageError("help takes at most one topic");
  const auto topics = help::Topics();
  if (args.empty()) {
    for (std::size_t i = 0; i < topics.size(); ++i) std::cout << (i ? "\n" : "") << topics[i].text;
    return kExitOk;
  }
  std::size_t width = 0;
  for (const auto& topic : topics) {
    if (topic.name == args.front()) {
      std::cout << topic.text;
      return kExitOk;
    }
    width = std::max(width, topic.name.size());
  }
  std::string names;
  for (const auto& topic : topics)
    names += "\n  " + std::string(topic.name) + std::string(width - topic.name.size() + 2, ' ') + std::string(topic.title);
  throw UsageError("no topic \"" + Printable(args.front()) + "\"; the topics are:" + names);
}

const CommandRegistration kRegistration{
    {"help", "help [TOPIC]                      print the help, every topic or the one named", Run}};

}  // namespace
}  // namespace corvane::cli
