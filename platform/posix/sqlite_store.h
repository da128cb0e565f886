// The per-user settings store on Linux and other POSIX systems: one SQLite file holding rows of
// (application, section, key, value).
// Contract:
// - Opening an absent or empty file makes it a settings store. Any other file that is not one
//   (another program's database, text, damaged data, a store from a newer version) is refused
//   with AutomationError naming the file, and is left exactly as it was.
// - Every SaveSetting is its own durable transaction: once it returns, the value survives a crash
//   of this process or of the machine; a save that fails throws AutomationError naming the file
//   and leaves every earlier value intact. Several processes may save at once; a save waits up
//   to ten seconds for the others. The file uses a write-ahead log: while it is open, SQLite keeps
//   PATH-wal and PATH-shm beside it.
// - Reads are answered from an in-memory copy of the whole file, taken again whenever another
//   connection has committed since it was taken; no read answers from an out-of-date copy. Each
//   read outside a read scope makes that check (a few system calls); inside a batch the first
//   read checks and all the batch's reads see that one consistent state plus this object's saves.
// - Names and values are UTF-16 at the interface and UTF-8 in the file; a lone surrogate and
//   U+0000, which UTF-8 cannot hold, are written in byte forms that read back unchanged.
// - Names compare exactly, code unit by code unit.
// - One thread at a time.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/platform.h"

struct sqlite3;
struct sqlite3_stmt;

namespace corvane::posix {

class SqliteStore : public SettingsStore {
 public:
  // Opens or creates the store at `path`. The folder must exist, except for the per-user default
  // location, whose missing folders are created (mode 0700).
  explicit SqliteStore(std::string path);
  ~SqliteStore() override;
  SqliteStore(const SqliteStore&) = delete;
  SqliteStore& operator=(const SqliteStore&) = delete;

  // $XDG_CONFIG_HOME/corvane/settings.db when XDG_CONFIG_HOME is an absolute path, else
  // ~/.config/corvane/settings.db. Throws when no home folder can be found.
  static std::string DefaultPath();
  // The store a program run uses: `cliOption` when it is not empty, else $CORVANE_STORE when set
  // and not empty, else DefaultPath().
  static std::string ResolvePath(const std::string& cliOption);

  std::u16string GetSetting(std::u16string_view appName, std::u16string_view section, std::u16string_view key,
                            std::u16string_view defaultValue) override;
  void SaveSetting(std::u16string_view appName, std::u16string_view section, std::u16string_view key,
                   std::u16string_view value) override;
  // The copy's state: checked for other connections' commits as a read is, plus this object's saves.
  StoreVersion Version() override;

  // A batch of reads (one command run, see ReadScope) checks the file for other writers once, at
  // its first read. Batches nest; the outermost one decides.
  void BeginReads() noexcept override;
  void EndReads() noexcept override;

  const std::string& path() const noexcept { return path_; }
  // How often the in-memory copy was taken from the file (once at opening, then once per change
  // by another connection that a read noticed).
  std::uint64_t CacheLoads() const noexcept { return cacheLoads_; }

 private:
  struct DatabaseCloser {
    void operator()(sqlite3* db) const noexcept;
  };
  struct StatementFinalizer {
    void operator()(sqlite3_stmt* stmt) const noexcept;
  };
  using Database = std::unique_ptr<sqlite3, DatabaseCloser>;
  using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view s) const;  // not noexcept: nodes keep their hash
  };
  struct TextEqual {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const noexcept {
      return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0;
    }
  };
  template <class T>
  using TextMap = std::unordered_map<std::u16string, T, TextHash, TextEqual>;

  // The keys of one section: open addressing over a power-of-two slot array. A command run reads
  // hundreds of keys of one section, tens of thousands of times in a batch, and a lookup here
  // costs a fraction of a node-based map's.
  class Section {
   public:
    const std::u16string* Find(std::u16string_view key) const noexcept;
    void Put(std::u16string_view key, std::u16string_view value);

   private:
    struct Entry {
      std::uint64_t hash;
      std::u16string key;
      std::u16string value;
    };
    static constexpr std::size_t kMissing = static_cast<std::size_t>(-1);
    std::size_t Locate(std::u16string_view key, std::uint64_t hash) const noexcept;
    void Rehash(std::size_t slotCount);
    std::vector<Entry> entries_;
    std::vector<std::uint32_t> slots_;  // 1 + index into entries_, 0 for a free slot
  };
  using Cache = TextMap<TextMap<Section>>;

  bool CheckExistingFile() const;
  void EnsureFolder() const;
  void Open(bool fresh);
  void Initialise();
  Statement Prepare(const char* sql) const;
  std::int64_t DataVersion();
  void Refresh();
  void Reload();
  void Rollback() noexcept;
  const Section* FindSection(std::u16string_view appName, std::u16string_view section);
  void ForgetLookup() noexcept;

  std::string path_;
  const std::uint64_t number_ = NewStoreNumber();
  std::uint64_t saves_ = 0;  // save attempts, failed ones too: each may change what reads see
  Database db_;
  Statement dataVersion_, selectAll_, upsert_, beginRead_, beginWrite_, commit_, rollback_;

  Cache cache_;
  bool cacheValid_ = false;
  std::int64_t cacheVersion_ = 0;
  std::uint64_t cacheLoads_ = 0;

  int batchDepth_ = 0;
  bool batchChecked_ = false;

  // The section of the last read: a command reads many keys of one section in a row.
  bool lookupValid_ = false;
  std::u16string lookupApp_, lookupSection_;
  const Section* lookupFound_ = nullptr;
};

}  // namespace corvane::posix
