// `corvane help-path`: where the help file is looked for.
#include <iostream>

#include "addin/cls_corvane.h"
#include "cli/cli.h"
#include "platform/posix/posix_platform.h"

namespace corvane::cli {
namespace {

int Run(std::vector<std::string>& args) {
  RejectUnknownOptions(args);
  if (!args.empty()) throw UsageError("help-path takes no arguments");
  ProgramServices program("", /*openStore=*/false);
  cls_corvane corvane;
  std::cout << posix::PathToBytes(corvane.cvHelpfilePath()) << '\n';  // byte for byte, like any path
  return kExitOk;
}

const CommandRegistration kRegistration{{"help-path", "help-path                         print the help file's path", Run}};

}  // namespace
}  // namespace corvane::cli
