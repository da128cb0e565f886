// `corvane help-path`: where the help file is looked for.
#include <iostream>

#include "addin/cls_corvane.h"
#include "cli/cli.h"

namespace corvane::cli {
namespace {

int Run(std::vector<std::string>& args) {
  RejectUnknownOptions(args);
  if (!args.empty()) throw UsageError("help-path takes no arguments");
  ProgramServices program("", /*openStore=*/false);
  cls_corvane corvane;
  std::cout << ToUtf8(corvane.cvHelpfilePath()) << '\n';
  return kExitOk;
}

const CommandRegistration kRegistration{{"help-path", "help-path                         print the help file's path", Run}};

}  // namespace
}  // namespace corvane::cli
