// A second program for the settings store's tests: saves settings in a process of its own, so
// that tests can run writers side by side, kill one mid-run, or run one under a user or a
// file-size limit that forbids writing.
//   store_writer PATH write SECTION FIRST COUNT [wait]
//       saves the keys FIRST .. FIRST+COUNT-1 of SECTION (application "Corvane") with the values
//       "value <key>", printing each key once its save has returned; with "wait" it first waits
//       for its standard input to close, so that several writers start together.
// Exits 0 on success, 3 with the store's message on standard error when the store refuses.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/posix/sqlite_store.h"

namespace {

std::u16string Widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }  // ASCII

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6 || std::string(argv[2]) != "write") {
    std::fputs("usage: store_writer PATH write SECTION FIRST COUNT [wait]\n", stderr);
    return 2;
  }
  try {
    const long first = std::stol(argv[4]);
    const long count = std::stol(argv[5]);
    if (argc > 6 && std::string(argv[6]) == "wait") {
      char c = 0;
      while (::read(STDIN_FILENO, &c, 1) > 0) {
      }
    }
    corvane::posix::SqliteStore store(argv[1]);
    for (long k = first; k < first + count; ++k) {
      const std::string key = std::to_string(k);
      store.SaveSetting(u"Corvane", Widen(argv[3]), Widen(key), Widen("value " + key));
      std::printf("%ld\n", k);
      std::fflush(stdout);
    }
    return 0;
  } catch (const corvane::AutomationError& e) {
    // The messages name the path and the reason, ASCII here.
    std::string text;
    for (const char16_t c : e.description()) text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    std::fprintf(stderr, "%s\n", text.c_str());
    return 3;
  }
}
