// A second program for the settings store's tests: saves settings in a process of its own, so
// that tests can run writers side by side or kill one mid-run.
//   store_writer PATH write SECTION FIRST COUNT [wait]
//       saves the keys FIRST .. FIRST+COUNT-1 of SECTION (application "Corvane") with the values
//       "value <key>", printing each key once its save has returned; with "wait" it first waits
//       for its standard input to close, so that several writers start together.
// Exits 0 on success, 3 when the store refuses (an uncaught failure would say less).
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/posix/sqlite_store.h"

int main(int argc, char** argv) {
  if (argc < 6) return 2;
  const auto widen = [](const std::string& s) { return std::u16string(s.begin(), s.end()); };  // ASCII
  try {
    const long first = std::stol(argv[4]);
    const long count = std::stol(argv[5]);
    char c = 0;
    while (argc > 6 && ::read(STDIN_FILENO, &c, 1) > 0) {
    }
    corvane::posix::SqliteStore store(argv[1]);
    for (long k = first; k < first + count; ++k) {
      const std::string key = std::to_string(k);
      store.SaveSetting(u"Corvane", widen(argv[3]), widen(key), widen("value " + key));
      std::printf("%ld\n", k);
      std::fflush(stdout);
    }
    return 0;
  } catch (const corvane::AutomationError&) {
    return 3;
  }
}
