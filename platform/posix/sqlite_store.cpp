#include "platform/posix/sqlite_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace corvane::posix {

namespace {

// Marks a file as a Corvane settings store ("Corv"); SQLite keeps it in the file header.
constexpr std::int32_t kApplicationId = 0x436F7276;
constexpr std::int64_t kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 10'000;
// Run-time error numbers a macro would see for these conditions.
constexpr std::int32_t kErrDiskFull = 61;
constexpr std::int32_t kErrBadFileFormat = 321;

constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS settings("
    " app TEXT NOT NULL, section TEXT NOT NULL, key TEXT NOT NULL, value TEXT NOT NULL,"
    " PRIMARY KEY(app, section, key)) WITHOUT ROWID";

// ---- Text ----------------------------------------------------------------------------------
// UTF-16 to UTF-8, keeping what UTF-8 cannot express: a lone surrogate becomes its three-byte
// form (as in WTF-8) and U+0000 becomes C0 80, so that SQLite never sees a NUL inside a text.
std::string EncodeText(std::u16string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 2);
  auto put = [&out](unsigned byte) { out.push_back(static_cast<char>(byte)); };
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
      ++i;
    }
    if (c == 0) {
      put(0xC0);
      put(0x80);
    } else if (c < 0x80) {
      put(c);
    } else if (c < 0x800) {
      put(0xC0 | (c >> 6));
      put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      put(0xE0 | (c >> 12));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | (c >> 18));
      put(0x80 | ((c >> 12) & 0x3F));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The inverse of EncodeText. Bytes that are no valid sequence (a file edited by hand, a path
// that is not UTF-8) become U+FFFD each.
std::u16string DecodeText(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  const std::size_t n = bytes.size();
  auto at = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  auto cont = [&](std::size_t i) { return i < n && (at(i) & 0xC0) == 0x80; };
  for (std::size_t i = 0; i < n;) {
    const unsigned b = at(i);
    char32_t c = 0xFFFD;
    std::size_t len = 1;
    if (b < 0x80) {
      c = b;
    } else if (b == 0xC0 && i + 1 < n && at(i + 1) == 0x80) {
      c = 0;
      len = 2;
    } else if (b >= 0xC2 && b <= 0xDF && cont(i + 1)) {
      c = ((b & 0x1Fu) << 6) | (at(i + 1) & 0x3Fu);
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2)) {
      const char32_t v = ((b & 0x0Fu) << 12) | ((at(i + 1) & 0x3Fu) << 6) | (at(i + 2) & 0x3Fu);
      if (v >= 0x800) {
        c = v;
        len = 3;
      }
    } else if (b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
      const char32_t v = ((b & 0x07u) << 18) | ((at(i + 1) & 0x3Fu) << 12) | ((at(i + 2) & 0x3Fu) << 6) |
                         (at(i + 3) & 0x3Fu);
      if (v >= 0x10000 && v <= 0x10FFFF) {
        c = v;
        len = 4;
      }
    }
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += len;
  }
  return out;
}

std::u16string ColumnText(sqlite3_stmt* stmt, int column) {
  const auto* text = sqlite3_column_text(stmt, column);
  if (text == nullptr) return {};
  return DecodeText(std::string_view(reinterpret_cast<const char*>(text),
                                     static_cast<std::size_t>(sqlite3_column_bytes(stmt, column))));
}

// ---- Errors --------------------------------------------------------------------------------
enum class Stage { Open, Read, Write };

std::u16string StageText(Stage stage) {
  switch (stage) {
    case Stage::Open: return u" cannot be opened: ";
    case Stage::Read: return u" cannot be read: ";
    case Stage::Write: return u" cannot be written: ";
  }
  return u": ";
}

AutomationError FileError(const std::string& path, Stage stage, std::int32_t number, std::string_view reason) {
  return AutomationError(number, u"The settings file " + DecodeText(path) + StageText(stage) + DecodeText(reason) + u".");
}

AutomationError NotAStore(const std::string& path) {
  return AutomationError(kErrBadFileFormat, u"The settings file " + DecodeText(path) + u" is not a Corvane settings store.");
}

std::int32_t ErrnoNumber(int e) {
  switch (e) {
    case EACCES:
    case EPERM:
    case EROFS: return err::kPermissionDenied;
    case ENOENT:
    case ENOTDIR: return err::kPathNotFound;
    case ENOSPC:
    case EDQUOT: return kErrDiskFull;
    default: return err::kDeviceIO;
  }
}

std::string ErrnoText(int e) { return std::generic_category().message(e); }

AutomationError SqliteError(const std::string& path, Stage stage, int rc, sqlite3* db) {
  const int primary = rc & 0xFF;
  if (primary == SQLITE_NOTADB) return NotAStore(path);
  std::int32_t number = err::kDeviceIO;
  std::string reason;
  switch (primary) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return FileError(path, stage, err::kPermissionDenied,
                       "another program kept it locked for more than " + std::to_string(kBusyTimeoutMs / 1000) +
                           " seconds");
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: number = err::kPermissionDenied; break;
    case SQLITE_FULL: number = kErrDiskFull; break;
    case SQLITE_CORRUPT: number = kErrBadFileFormat; break;
    case SQLITE_CANTOPEN: number = err::kPathNotFound; break;
    default: break;
  }
  reason = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  // SQLite records the system's error only for these two; for the others it may be stale.
  if (db != nullptr && (primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN)) {
    if (const int sys = sqlite3_system_errno(db); sys != 0) {
      reason += " (" + ErrnoText(sys) + ")";
      if (primary == SQLITE_CANTOPEN || sys == ENOSPC || sys == EDQUOT || sys == EACCES) number = ErrnoNumber(sys);
    }
  }
  return FileError(path, stage, number, reason);
}

// ---- Small RAII helpers --------------------------------------------------------------------
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const noexcept { return fd_; }

 private:
  int fd_;
};

// Leaves a statement ready for its next use whichever way the scope ends.
class ResetOnExit {
 public:
  explicit ResetOnExit(sqlite3_stmt* stmt) noexcept : stmt_(stmt) {}
  ~ResetOnExit() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  ResetOnExit(const ResetOnExit&) = delete;
  ResetOnExit& operator=(const ResetOnExit&) = delete;

 private:
  sqlite3_stmt* stmt_;
};

// Steps a statement that returns no rows.
int Run(sqlite3_stmt* stmt) {
  ResetOnExit reset(stmt);
  return sqlite3_step(stmt);
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
      result->pw_dir != nullptr && result->pw_dir[0] != '\0') {
    return result->pw_dir;
  }
  return {};
}

std::uint64_t HashText(std::u16string_view s) noexcept {
  std::uint64_t h = 14695981039346656037ull;  // FNV-1a over code units
  for (const char16_t c : s) h = (h ^ c) * 1099511628211ull;
  return h ^ (h >> 29);  // slot indexes take the low bits
}

}  // namespace

// ---- The in-memory copy ------------------------------------------------------------------------
std::size_t SqliteStore::TextHash::operator()(std::u16string_view s) const {
  return static_cast<std::size_t>(HashText(s));
}

std::size_t SqliteStore::Section::Locate(std::u16string_view key, std::uint64_t hash) const noexcept {
  if (slots_.empty()) return kMissing;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const std::uint32_t slot = slots_[i];
    if (slot == 0) return kMissing;
    const Entry& e = entries_[slot - 1];
    if (e.hash == hash && TextEqual{}(e.key, key)) return slot - 1;
  }
}

const std::u16string* SqliteStore::Section::Find(std::u16string_view key) const noexcept {
  const std::size_t n = Locate(key, HashText(key));
  return n == kMissing ? nullptr : &entries_[n].value;
}

void SqliteStore::Section::Put(std::u16string_view key, std::u16string_view value) {
  const std::uint64_t hash = HashText(key);
  if (const std::size_t n = Locate(key, hash); n != kMissing) {
    entries_[n].value.assign(value);
    return;
  }
  entries_.push_back(Entry{hash, std::u16string(key), std::u16string(value)});
  // At most half full, so that probe runs stay short.
  if (entries_.size() * 2 > slots_.size()) {
    Rehash(std::max<std::size_t>(16, slots_.size() * 2));
  } else {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = static_cast<std::uint32_t>(entries_.size());
  }
}

void SqliteStore::Section::Rehash(std::size_t slotCount) {
  slots_.assign(slotCount, 0);
  const std::size_t mask = slotCount - 1;
  for (std::size_t n = 0; n < entries_.size(); ++n) {
    std::size_t i = entries_[n].hash & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = static_cast<std::uint32_t>(n + 1);
  }
}

// ---- RAII deleters ---------------------------------------------------------------------------
void SqliteStore::DatabaseCloser::operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
void SqliteStore::StatementFinalizer::operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }

// ---- Paths -----------------------------------------------------------------------------------
std::string SqliteStore::DefaultPath() {
  auto trimmed = [](std::string folder) {
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    return folder;
  };
  // Relative values are invalid by the XDG rules and are ignored.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    return trimmed(xdg) + "/corvane/settings.db";
  }
  const std::string home = HomeFolder();
  if (home.empty()) {
    throw AutomationError(err::kPathNotFound,
                          u"The settings folder cannot be found: neither XDG_CONFIG_HOME nor HOME is set.");
  }
  return trimmed(home) + "/.config/corvane/settings.db";
}

std::string SqliteStore::ResolvePath(const std::string& cliOption) {
  if (!cliOption.empty()) return cliOption;
  if (const char* env = std::getenv("CORVANE_STORE"); env != nullptr && env[0] != '\0') return env;
  return DefaultPath();
}

// ---- Opening ---------------------------------------------------------------------------------
SqliteStore::SqliteStore(std::string path) : path_(std::move(path)) {
  if (path_.empty()) throw AutomationError(err::kPathNotFound, u"No settings file was named.");
  EnsureFolder();
  Open(CheckExistingFile());
}

SqliteStore::~SqliteStore() = default;

void SqliteStore::EnsureFolder() const {
  const auto slash = path_.rfind('/');
  if (slash == std::string::npos) return;  // the current folder
  const std::string folder = slash == 0 ? std::string("/") : path_.substr(0, slash);
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) throw FileError(path_, Stage::Open, err::kPathNotFound, folder + " is not a folder");
    return;
  }
  const int e = errno;
  bool isDefault = false;
  if (e == ENOENT) {
    try {
      isDefault = path_ == DefaultPath();
    } catch (const AutomationError&) {
    }
  }
  if (!isDefault) {
    throw FileError(path_, Stage::Open, ErrnoNumber(e),
                    e == ENOENT ? "the folder " + folder + " does not exist" : folder + ": " + ErrnoText(e));
  }
  // Per-user configuration folders are private to the user.
  for (std::size_t next = folder.find('/', 1);; next = folder.find('/', next + 1)) {
    const std::string level = folder.substr(0, next);
    if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) {
      const int me = errno;
      throw FileError(path_, Stage::Open, ErrnoNumber(me), "the folder " + level + " cannot be created: " + ErrnoText(me));
    }
    if (next == std::string::npos) break;
  }
}

// Reads the file header before SQLite touches the file: SQLite would roll back a hot journal or
// switch the journal mode of a foreign database, and a file that is not ours must stay as it is.
// Returns true when there is no store yet (no file, or an empty one).
bool SqliteStore::CheckExistingFile() const {
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    const int e = errno;
    if (e == ENOENT) return true;
    throw FileError(path_, Stage::Open, ErrnoNumber(e), ErrnoText(e));
  }
  FileDescriptor file(fd);
  struct stat st {};
  if (::fstat(file.get(), &st) != 0) {
    const int e = errno;
    throw FileError(path_, Stage::Open, ErrnoNumber(e), ErrnoText(e));
  }
  if (S_ISDIR(st.st_mode)) throw FileError(path_, Stage::Open, err::kPathNotFound, "it is a folder");
  if (!S_ISREG(st.st_mode)) throw FileError(path_, Stage::Open, err::kPathNotFound, "it is not a regular file");
  if (st.st_size == 0) return true;

  unsigned char header[100];
  std::size_t got = 0;
  while (got < sizeof header) {
    const ssize_t r = ::pread(file.get(), header + got, sizeof header - got, static_cast<off_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      const int e = errno;
      throw FileError(path_, Stage::Open, ErrnoNumber(e), ErrnoText(e));
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  static constexpr char kMagic[] = "SQLite format 3";  // with its NUL: the 16 bytes at the start
  const std::uint32_t appId = (std::uint32_t{header[68]} << 24) | (std::uint32_t{header[69]} << 16) |
                              (std::uint32_t{header[70]} << 8) | std::uint32_t{header[71]};
  if (got < sizeof header || std::memcmp(header, kMagic, sizeof kMagic) != 0 ||
      appId != static_cast<std::uint32_t>(kApplicationId)) {
    throw NotAStore(path_);
  }
  return false;
}

SqliteStore::Statement SqliteStore::Prepare(const char* sql) const {
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v3(db_.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  Statement owned(stmt);
  if (rc != SQLITE_OK) {
    // A missing table or column: the file carries our mark but not our schema.
    if ((rc & 0xFF) == SQLITE_ERROR) throw NotAStore(path_);
    throw SqliteError(path_, Stage::Open, rc, db_.get());
  }
  return owned;
}

void SqliteStore::Open(bool fresh) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path_.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
  db_.reset(raw);  // closed even when opening failed
  if (rc != SQLITE_OK) throw SqliteError(path_, Stage::Open, rc, db_.get());
  sqlite3* db = db_.get();
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // A settings file can come from anywhere: its schema gets to run no code of its own.
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);

  auto exec = [this](const std::string& sql) {
    if (const int r = sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr); r != SQLITE_OK) {
      throw SqliteError(path_, Stage::Open, r, db_.get());
    }
  };
  auto query = [this](const char* sql) {
    const Statement stmt = Prepare(sql);
    const int r = sqlite3_step(stmt.get());
    if (r != SQLITE_ROW) throw SqliteError(path_, Stage::Open, r, db_.get());
    return sqlite3_column_int64(stmt.get(), 0);
  };

  // Under the rollback journal every commit reaches the disk before SaveSetting returns.
  exec("PRAGMA synchronous = FULL");

  // A store whose first transaction was cut short has just been rolled back to nothing.
  if (fresh || query("PRAGMA page_count") == 0) {
    // Under the write lock, so that two programs creating the store at once agree. This first
    // transaction still uses the rollback journal, which puts the mark into the file itself
    // (not into a write-ahead log) before anything else is written.
    exec("BEGIN IMMEDIATE");
    try {
      const auto appId = query("PRAGMA application_id");
      if (appId != kApplicationId) {
        if (appId != 0 || query("SELECT count(*) FROM sqlite_schema") != 0) throw NotAStore(path_);
        exec("PRAGMA application_id = " + std::to_string(kApplicationId));
        exec("PRAGMA user_version = " + std::to_string(kSchemaVersion));
        exec(kCreateTable);
      }
      exec("COMMIT");
    } catch (...) {
      Rollback();
      throw;
    }
  }

  if (query("PRAGMA application_id") != kApplicationId) throw NotAStore(path_);
  const auto version = query("PRAGMA user_version");
  if (version > kSchemaVersion) {
    throw AutomationError(kErrBadFileFormat,
                          u"The settings file " + DecodeText(path_) + u" was made by a newer version of Corvane.");
  }
  if (version < 1) throw NotAStore(path_);

  // Preparing these also checks the schema: the table, its columns and its key.
  dataVersion_ = Prepare("PRAGMA data_version");
  selectAll_ = Prepare("SELECT app, section, key, value FROM settings");
  upsert_ = Prepare(
      "INSERT INTO settings(app, section, key, value) VALUES(?1, ?2, ?3, ?4)"
      " ON CONFLICT(app, section, key) DO UPDATE SET value = excluded.value");
  beginRead_ = Prepare("BEGIN");
  beginWrite_ = Prepare("BEGIN IMMEDIATE");
  commit_ = Prepare("COMMIT");

  if (!sqlite3_db_readonly(db, "main")) {
    // Write-ahead log: one flush per save instead of three, and readers never hold up a writer.
    // Where the file system cannot share memory between programs the mode stays the rollback
    // journal, which is just as safe with full synchronisation, so the result is not checked.
    sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
    // In the write-ahead log a commit is atomic and survives the program being killed at any
    // moment without a flush of its own; flushing every one of a calibration's 766 saves would
    // cost seconds. Only an operating-system crash or power loss could then drop the newest
    // saves, never corrupt the file or older ones (the log is flushed at each checkpoint).
    const Statement mode = Prepare("PRAGMA journal_mode");
    if (sqlite3_step(mode.get()) == SQLITE_ROW &&
        std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(mode.get(), 0))) == "wal") {
      exec("PRAGMA synchronous = NORMAL");
    }
  }

  Reload();
}

void SqliteStore::Rollback() noexcept {
  if (db_ && !sqlite3_get_autocommit(db_.get())) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

// ---- Reading ---------------------------------------------------------------------------------
std::int64_t SqliteStore::DataVersion() {
  sqlite3_stmt* stmt = dataVersion_.get();
  ResetOnExit reset(stmt);
  const int rc = sqlite3_step(stmt);
  if (rc != SQLITE_ROW) throw SqliteError(path_, Stage::Read, rc, db_.get());
  return sqlite3_column_int64(stmt, 0);
}

void SqliteStore::Reload() {
  cacheValid_ = false;
  ForgetLookup();
  Cache fresh;
  int rc = Run(beginRead_.get());
  if (rc != SQLITE_DONE) throw SqliteError(path_, Stage::Read, rc, db_.get());
  try {
    // Version and rows from one read transaction, so that they belong together.
    const std::int64_t version = DataVersion();
    {
      sqlite3_stmt* stmt = selectAll_.get();
      ResetOnExit reset(stmt);
      while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        fresh[ColumnText(stmt, 0)][ColumnText(stmt, 1)].Put(ColumnText(stmt, 2), ColumnText(stmt, 3));
      }
      if (rc != SQLITE_DONE) throw SqliteError(path_, Stage::Read, rc, db_.get());
    }
    rc = Run(commit_.get());
    if (rc != SQLITE_DONE) throw SqliteError(path_, Stage::Read, rc, db_.get());
    cache_ = std::move(fresh);
    cacheVersion_ = version;
    cacheValid_ = true;
    ++cacheLoads_;
  } catch (...) {
    Rollback();
    throw;
  }
}

void SqliteStore::Refresh() {
  if (batchDepth_ > 0 && batchChecked_ && cacheValid_) return;
  // Another connection's commit changes the data version; this connection's own do not.
  if (!cacheValid_ || DataVersion() != cacheVersion_) Reload();
  batchChecked_ = batchDepth_ > 0;
}

void SqliteStore::ForgetLookup() noexcept {
  lookupValid_ = false;
  lookupFound_ = nullptr;
}

const SqliteStore::Section* SqliteStore::FindSection(std::u16string_view appName, std::u16string_view section) {
  if (lookupValid_ && TextEqual{}(lookupSection_, section) && TextEqual{}(lookupApp_, appName)) return lookupFound_;
  const Section* found = nullptr;
  if (const auto app = cache_.find(appName); app != cache_.end()) {
    if (const auto sec = app->second.find(section); sec != app->second.end()) found = &sec->second;
  }
  lookupApp_.assign(appName);
  lookupSection_.assign(section);
  lookupFound_ = found;
  lookupValid_ = true;
  return found;
}

std::u16string SqliteStore::GetSetting(std::u16string_view appName, std::u16string_view section,
                                       std::u16string_view key, std::u16string_view defaultValue) {
  Refresh();
  if (const Section* s = FindSection(appName, section)) {
    if (const std::u16string* found = s->Find(key)) return *found;
  }
  return std::u16string(defaultValue);
}

StoreVersion SqliteStore::Version() {
  Refresh();
  return {number_, static_cast<std::uint64_t>(cacheVersion_), saves_};
}

// ---- Saving ----------------------------------------------------------------------------------
void SqliteStore::SaveSetting(std::u16string_view appName, std::u16string_view section, std::u16string_view key,
                              std::u16string_view value) {
  ++saves_;
  const std::string encoded[] = {EncodeText(appName), EncodeText(section), EncodeText(key), EncodeText(value)};
  sqlite3* db = db_.get();

  // Writing on into a file that was deleted or replaced would report success for a value that
  // nobody will ever read.
  int moved = 0;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved != 0) {
    throw FileError(path_, Stage::Write, err::kPathNotFound, "it was moved or deleted after it was opened");
  }

  int rc = Run(beginWrite_.get());
  if (rc != SQLITE_DONE) throw SqliteError(path_, Stage::Write, rc, db);
  try {
    // The copy may miss another program's commits; the next read notices them (its data
    // version differs), so applying this save to the copy below is safe either way.
    {
      sqlite3_stmt* stmt = upsert_.get();
      ResetOnExit reset(stmt);
      for (int i = 0; i < 4; ++i) {
        rc = sqlite3_bind_text64(stmt, i + 1, encoded[i].data(), encoded[i].size(), SQLITE_STATIC, SQLITE_UTF8);
        if (rc != SQLITE_OK) throw SqliteError(path_, Stage::Write, rc, db);
      }
      rc = sqlite3_step(stmt);
      if (rc != SQLITE_DONE) throw SqliteError(path_, Stage::Write, rc, db);
    }
    rc = Run(commit_.get());
    if (rc != SQLITE_DONE) throw SqliteError(path_, Stage::Write, rc, db);
  } catch (...) {
    Rollback();
    cacheValid_ = false;
    ForgetLookup();
    throw;
  }
  if (cacheValid_) {
    cache_[std::u16string(appName)][std::u16string(section)].Put(key, value);
  }
  ForgetLookup();
}

// ---- Batches ---------------------------------------------------------------------------------
void SqliteStore::BeginReads() noexcept { ++batchDepth_; }

void SqliteStore::EndReads() noexcept {
  if (--batchDepth_ == 0) batchChecked_ = false;
}

}  // namespace corvane::posix
