// `corvane version` (also `corvane --version`): the program's version and those of the libraries
// it runs with, asked at run time where the library can tell, else as it was built.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <pugixml.hpp>
#include <sqlite3.h>
#include <zip.h>

#include <iostream>
#include <string>

#include "cli/cli.h"

namespace corvane::cli {
namespace {

std::string FreeTypeVersion() {
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) return "unavailable";
  FT_Int major = 0, minor = 0, patch = 0;
  FT_Library_Version(library, &major, &minor, &patch);
  FT_Done_FreeType(library);
  return std::to_string(major) + '.' + std::to_string(minor) + '.' + std::to_string(patch);
}

// pugixml tells only its header's version: major * 1000 + minor * 10 since 1.11, major * 100 +
// minor * 10 before.
std::string PugixmlVersion() {
  constexpr int v = PUGIXML_VERSION;
  constexpr int scale = v >= 1000 ? 1000 : 100;
  return std::to_string(v / scale) + '.' + std::to_string(v % scale / 10) + " (built with)";
}

int Run(std::vector<std::string>& args) {
  TakeOption(args, "store");  // reads no settings
  RejectUnknownOptions(args);
  if (!args.empty()) throw UsageError("version takes no arguments");
  std::cout << "corvane " << CORVANE_VERSION << '\n'
            << "SQLite " << sqlite3_libversion() << '\n'
            << "FreeType " << FreeTypeVersion() << '\n'
            << "libzip " << zip_libzip_version() << '\n'
            << "pugixml " << PugixmlVersion() << '\n';
  return kExitOk;
}

const CommandRegistration kRegistration{{.name = "version",
                                         .forms = {"version", "--version"},
                                         .summary = "print the versions of the program and of its libraries",
                                         .exits = {"0 the versions were printed", "2 bad usage"},
                                         .run = Run}};

}  // namespace
}  // namespace corvane::cli
