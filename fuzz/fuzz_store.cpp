// The settings store reading values it did not write: arbitrary bytes (text or blob, valid
// UTF-8 or not) put straight into the file by another program, then read back through the
// store and handed to the consumers of widths (the width table and the special-character
// lookup). Properties: reading never fails loudly; a width that converts is added as that
// number and one that does not ends the measurement with the total before it; any UTF-16 name
// and value saved through the store reads back unchanged from a fresh connection.
#include <sqlite3.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "base/automation.h"
#include "addin/cls_corvane.h"
#include "base/platform.h"
#include "fuzz_input.h"
#include "hosts/memory/fixed_measurer.h"
#include "hosts/memory/memory_workbook.h"
#include "platform/posix/sqlite_store.h"
#include "spacing/calibration_store.h"

using namespace corvane;

namespace {

struct World {
  std::string path;
  std::unique_ptr<posix::SqliteStore> store;
  sqlite3* raw = nullptr;
  memory::FixedMeasurer measurer;
  std::unique_ptr<ScopedServices> scoped;
  std::shared_ptr<memory::MemoryApplication> app;

  World() {
    const std::filesystem::path base =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    path = (base / ("corvane-fuzz-store-" + std::to_string(::getpid()) + ".db")).string();
    std::filesystem::remove(path);
    store = std::make_unique<posix::SqliteStore>(path);
    if (sqlite3_open(path.c_str(), &raw) != SQLITE_OK) std::abort();
    sqlite3_busy_timeout(raw, 10'000);
    PlatformServices s;
    s.store = store.get();
    s.textMeasurer = &measurer;
    scoped = std::make_unique<ScopedServices>(s);
    app = memory::MemoryApplication::Create(&measurer);
  }
  ~World() {
    sqlite3_close(raw);
    scoped.reset();
    store.reset();
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(path + suffix);
  }
  World(const World&) = delete;
  World& operator=(const World&) = delete;
};

World& TheWorld() {
  static World world;
  return world;
}

void PutRaw(sqlite3* db, std::string_view section, std::string_view key, std::string_view value, bool asBlob) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO settings(app, section, key, value) VALUES('Corvane', ?1, ?2, ?3)",
                         -1, &stmt, nullptr) != SQLITE_OK)
    std::abort();
  sqlite3_bind_text(stmt, 1, section.data(), static_cast<int>(section.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(stmt, 2, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
  if (asBlob)
    sqlite3_bind_blob(stmt, 3, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
  else
    sqlite3_bind_text(stmt, 3, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(stmt) != SQLITE_DONE) std::abort();
  sqlite3_finalize(stmt);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  World& world = TheWorld();
  const bool asBlob = (data[0] & 1) != 0;
  const std::string_view value(reinterpret_cast<const char*>(data + 1), size - 1);

  // Another program writes the widths of "A" and of the euro sign.
  PutRaw(world.raw, "Spacing_Calibri", "65", value, asBlob);
  PutRaw(world.raw, "Special_Calibri", "8364", value, asBlob);

  const std::u16string read =
      world.store->GetSetting(calibration::kAppName, u"Spacing_Calibri", u"65", calibration::kNotFound);
  CORVANE_FUZZ_CHECK(read == world.store->GetSetting(calibration::kAppName, u"Special_Calibri", u"8364",
                                                     calibration::kNotFound),
                     "the same stored bytes read differently");

  cls_corvane addin;
  ObjectRef ref = world.app;
  addin.SetExcelApp(ref);
  addin.SpacingArray.at(65) = Variant(read);
  bool converts = true;
  double width = 0;
  try {
    width = ToDouble(Variant(read), Regional());
  } catch (const AutomationError&) {
    converts = false;
  }
  Variant text(std::u16string(u"AA"));
  const double total = addin.GetSpacingThisLevel(text);
  if (converts) {
    const double expected = (0.0 + width) + width;
    CORVANE_FUZZ_CHECK(total == expected || (std::isnan(total) && std::isnan(expected)),
                       "a stored width was not added as its number");
  } else {
    CORVANE_FUZZ_CHECK(total == 0.0, "a width that is no number counted");
  }
  Variant euro(std::u16string(1, char16_t{0x20AC}));
  (void)addin.GetSpacingThisLevel(euro);  // never fails its caller
  CORVANE_FUZZ_CHECK(world.app->ScreenUpdating() && world.app->OpenWorkbooks().empty(),
                     "a measurement left the host changed");

  // Names and values of any UTF-16 text survive the file.
  const std::u16string wide = fuzzing::LooseUtf16(value);
  const std::u16string section = u"Section_" + wide.substr(0, 8);
  world.store->SaveSetting(u"Corvane", section, wide, wide);
  posix::SqliteStore reopened(world.path);
  CORVANE_FUZZ_CHECK(reopened.GetSetting(u"Corvane", section, wide, u"\uFFFF") == wide,
                     "a saved text read back differently");
  // Keep the file small: every read after another connection's commit copies all of it.
  if (sqlite3_exec(world.raw, "DELETE FROM settings WHERE section LIKE 'Section!_%' ESCAPE '!'", nullptr, nullptr,
                   nullptr) != SQLITE_OK)
    std::abort();
  return 0;
}
