// The settings store reading values it did not write: arbitrary bytes (text or blob, valid
// UTF-8 or not) put straight into the file by another program, then read back through the store
// and handed to the width table. Properties: reading never fails loudly and reads the same bytes
// the same under any key; a width that converts is added as that number and one that does not
// ends the measurement with the total before it; any UTF-16 name and value saved through the
// store reads back unchanged from a fresh connection.
#include <sqlite3.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "addin/cls_corvane.h"
#include "base/automation.h"
#include "fuzz_input.h"
#include "platform/posix/sqlite_store.h"
#include "spacing/calibration_store.h"

using namespace corvane;

namespace {

struct World {
  std::string path = (std::filesystem::path(std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp") /
                      ("corvane-fuzz-store-" + std::to_string(::getpid()) + ".db")).string();
  posix::SqliteStore store{(std::filesystem::remove(path), path)};
  sqlite3* raw = nullptr;
  World() {
    if (sqlite3_open(path.c_str(), &raw) != SQLITE_OK) std::abort();
    sqlite3_busy_timeout(raw, 10'000);
  }
  ~World() {
    sqlite3_close(raw);
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(path + suffix);
  }
};

// Another program's write of `value` under the key `key` of Spacing_Calibri.
void PutRaw(sqlite3* db, std::string_view key, std::string_view value, bool asBlob) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO settings VALUES('Corvane', 'Spacing_Calibri', ?1, ?2)", -1, &stmt,
                         nullptr) != SQLITE_OK)
    std::abort();
  sqlite3_bind_text(stmt, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
  asBlob ? sqlite3_bind_blob(stmt, 2, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT)
         : sqlite3_bind_text(stmt, 2, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(stmt) != SQLITE_DONE) std::abort();
  sqlite3_finalize(stmt);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static World world;
  const std::string_view value(reinterpret_cast<const char*>(data + 1), size - 1);
  for (const char* key : {"65", "8364"}) PutRaw(world.raw, key, value, (data[0] & 1) != 0);
  const auto read = [&](const char16_t* key) {
    return world.store.GetSetting(calibration::kAppName, u"Spacing_Calibri", key, calibration::kNotFound);
  };
  const std::u16string width = read(u"65");
  CORVANE_FUZZ_CHECK(width == read(u"8364"), "the same stored bytes read differently");

  cls_corvane addin;
  addin.SpacingArray.at(65) = Variant(width);
  bool converts = true;
  double number = 0;
  try {
    number = ToDouble(Variant(width), Regional());
  } catch (const AutomationError&) {
    converts = false;
  }
  Variant text(std::u16string(u"AA"));
  const double total = addin.GetSpacingThisLevel(text), expected = converts ? (0.0 + number) + number : 0.0;
  CORVANE_FUZZ_CHECK(total == expected || (std::isnan(total) && std::isnan(expected)), "a stored width was not added as its number");

  // Names and values of any UTF-16 text survive the file.
  const std::u16string wide = fuzzing::LooseUtf16(value), section = u"Section_" + wide.substr(0, 8);
  world.store.SaveSetting(u"Corvane", section, wide, wide);
  CORVANE_FUZZ_CHECK(posix::SqliteStore(world.path).GetSetting(u"Corvane", section, wide, u"\uFFFF") == wide,
                     "a saved text read back differently");
  // Keep the file small: every read after another connection's commit copies all of it.
  if (sqlite3_exec(world.raw, "DELETE FROM settings WHERE section LIKE 'Section!_%' ESCAPE '!'", nullptr, nullptr, nullptr) != SQLITE_OK)
    std::abort();
  return 0;
}
