// A second program for the settings store's tests: saves or reads settings in a process of its
// own, so that tests can run writers side by side, kill one mid-run, or run one under a user or
// a file-size limit that forbids writing.
//   store_writer PATH write SECTION FIRST COUNT [wait]
//       saves the keys FIRST .. FIRST+COUNT-1 of SECTION (application "Corvane") with the values
//       "value <key>", printing each key once its save has returned; with "wait" it first waits
//       for its standard input to close, so that several writers start together.
//   store_writer PATH read SECTION KEY
//       prints the value, or "<missing>".
// Exits 0 on success, 3 with the store's message on standard error when the store refuses.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/posix/sqlite_store.h"

namespace {

std::u16string Widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }  // ASCII arguments

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

int Usage() {
  std::fputs("usage: store_writer PATH write SECTION FIRST COUNT [wait] | PATH read SECTION KEY\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return Usage();
  const std::string mode = argv[2];
  const std::u16string section = Widen(argv[3]);
  try {
    if (mode == "read") {
      corvane::posix::SqliteStore store(argv[1]);
      const auto value = store.GetSetting(u"Corvane", section, Widen(argv[4]), u"<missing>");
      std::printf("%s\n", Narrow(value).c_str());
      return 0;
    }
    if (mode != "write" || argc < 6) return Usage();
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
      store.SaveSetting(u"Corvane", section, Widen(key), Widen("value " + key));
      std::printf("%ld\n", k);
      std::fflush(stdout);
    }
    return 0;
  } catch (const corvane::AutomationError& e) {
    std::fprintf(stderr, "%s\n", Narrow(e.description()).c_str());
    return 3;
  }
}
