// `corvane help-path`: where the help file is looked for.
#include <iostream>

#include "addin/cls_corvane.h"
#include "cli/cli.h"
#include "platform/posix/posix_platform.h"

namespace corvane::cli {
namespace {

int Run(std::vector<std::string>& args) {
  TakeOption(args, "store");  // reads no settings
  RejectUnknownOptions(args);
  if (!args.empty()) throw UsageError("help-path takes no arguments");
  ProgramServices program("", /*openStore=*/false);
  cls_corvane corvane;
  std::cout << posix::PathToBytes(corvane.cvHelpfilePath()) << '\n';  // byte for byte, like any path
  return kExitOk;
}

const CommandRegistration kRegistration{{.name = "help-path",
                                         .forms = {"help-path"},
                                         .summary = "print where the help file is looked for",
                                         .exits = {"0 the path was printed", "2 bad usage"},
                                         .run = Run}};

}  // namespace
}  // namespace corvane::cli
