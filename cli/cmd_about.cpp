// `corvane about [--open]`: the About window's texts, its title line, copyright line and web
// address; --open also does what a click on the address does: opens it in the user's browser.
#include <iostream>

#include "cli/cli.h"
#include "windows/frm_about.h"

namespace corvane::cli {
namespace {

int Run(std::vector<std::string>& args) {
  const bool open = TakeFlag(args, "open");
  TakeOption(args, "store");  // reads no settings
  RejectUnknownOptions(args);
  if (!args.empty()) throw UsageError("about takes no arguments");
  ProgramServices program("", /*openStore=*/false);

  std::cout << ToUtf8(windows::kTitleLine) << '\n'
            << ToUtf8(windows::kCopyrightLine) << '\n'
            << ToUtf8(windows::kWebAddress) << '\n';
  if (open) windows::OpenWebAddress();
  return kExitOk;
}

const CommandRegistration kRegistration{{
    .name = "about",
    .forms = {"about [--open]"},
    .summary = "print the About window's title, copyright and web address",
    .options = {{"--open", "also open the web address in the browser, as a click on it does"}},
    .exits = {"0 the texts were printed", "2 bad usage"},
    .run = Run}};

}  // namespace
}  // namespace corvane::cli
