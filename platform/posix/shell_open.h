// Opening documents and web addresses on POSIX desktops with the user's chosen program.
// Contract: ShellOpen("open", file, ...) starts the opener (xdg-open unless told otherwise)
// with `file` as its only argument, detached, with no terminal input or output, and returns
// without waiting for it: 42 when it was started, 31 (no association) when the operation is not
// "open" or no opener is installed, 2 for an empty file. Parameters, working directory and show
// command are Windows notions without a counterpart here and are not used.
#pragma once

#include <string>

#include "base/platform.h"

namespace corvane::posix {

class PosixShell final : public Shell {
 public:
  explicit PosixShell(std::string opener = "xdg-open");
  std::int32_t ShellOpen(std::u16string_view operation, std::u16string_view file, std::u16string_view parameters,
                         std::u16string_view directory, std::int32_t showCommand) override;

 private:
  std::string opener_;
};

}  // namespace corvane::posix
