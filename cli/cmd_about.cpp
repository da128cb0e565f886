// `corvane about [--open]`: the About window's texts, its title line, copyright line and web
// address; --open also clicks the address, which opens it in the user's browser.
#include <iostream>

#include "addin/cls_corvane.h"
#include "addin/mdl_support.h"
#include "cli/cli.h"
#include "windows/frm_about.h"
#include "windows/picture_button.h"

namespace corvane::cli {
namespace {

int Run(std::vector<std::string>& args) {
  const bool open = TakeFlag(args, "open");
  RejectUnknownOptions(args);
  if (!args.empty()) throw UsageError("about takes no arguments");
  ProgramServices program("", /*openStore=*/false);

  cls_corvane corvane;
  corvane.cvAbout();
  const auto about = mdl_Support::frmAbout();
  for (const auto& line : windows::SplitLines(about->lblCopyright.Caption())) std::cout << ToUtf8(line) << '\n';
  std::cout << ToUtf8(about->lblHyperlink.Caption()) << '\n';
  if (open) about->Click(about->lblHyperlink);
  windows::ClickPictureButton(about->imgButtonOkMain);
  return kExitOk;
}

const CommandRegistration kRegistration{
    {"about", "about [--open]                    show the About window's texts (--open: open the web page)", Run}};

}  // namespace
}  // namespace corvane::cli
