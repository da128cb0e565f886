// The help for a terminal: every topic of help/topics.txt, rendered from the same pages as the
// compiled help file and the manual page (help/helpgen.py makes the definition at build time).
// Contract: the topics come in the order of the table of contents; each text starts with the
// title, underlined, ends with a line feed, and has no line over 80 columns and no control
// characters but line feeds.
#pragma once

#include <span>
#include <string_view>

namespace corvane::cli::help {

struct Topic {
  std::string_view name;   // for `corvane help NAME`
  std::string_view title;
  std::string_view text;   // UTF-8
};

std::span<const Topic> Topics();

}  // namespace corvane::cli::help
