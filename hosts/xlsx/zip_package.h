// The ZIP container of a workbook file (an Open Packaging Conventions package), over libzip.
// Contract:
//  - Open checks the whole central directory before anything is read, and refuses with a clear
//    AutomationError: a file that is no ZIP archive (an encrypted workbook, which is a compound
//    document, is named as such), an inconsistent archive, encrypted entries, compression
//    methods other than stored and deflate, entry names that would leave the package (absolute,
//    "..", backslashes, drive letters) or that appear twice, and sizes beyond the limits
//    (too many entries, a part or all parts together too large, a compression ratio deflate
//    cannot reach, or beyond some megabytes one no spreadsheet's part has: a ZIP bomb). Reading
//    an entry inflates no more than the size its header declares (and those sizes are what the
//    limits were checked on): an entry that would unpack to more is refused while inflating.
//    A deflated entry is inflated whole, in one call of libdeflate (about 1.7 times zlib's
//    speed), its CRC checked; a failure of that read goes on to the twin, libzip's streamed read,
//    whose message (damaged, shorter than declared, a ZIP bomb) the caller gets.
//  - Write makes a new package: every entry in its original order, the replaced ones with their
//    new content (deflated on every processor, block_deflate.h, and recorded as libzip records
//    its own fastest deflate), every other one copied as its original compressed bytes (so its
//    content, CRC and compression are unchanged), with its time, attributes and comment, and the
//    archive comment byte for byte (UTF-8 or not). The file is written by AtomicFile
//    (safe_file.h): next to the target under a temporary name, flushed to disk and renamed over
//    the target (a symbolic link is followed to the file it names), only over a regular file that
//    is not read-only, with the target's permissions. When the target is the file that was
//    opened, it must still be that file, unchanged since it was opened. On any failure nothing is
//    left behind and the target is as it was.
//  - Only a regular file is read (OpenRegularFile): a FIFO or a device is refused, never waited on.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::xlsx {

struct PackageLimits {
  std::uint64_t maxEntries = 50000;
  std::uint64_t maxPartSize = std::uint64_t{1} << 30;   // uncompressed bytes of one part
  std::uint64_t maxTotalSize = std::uint64_t{4} << 30;  // of all parts together
  // Deflate cannot compress by more than about 1032:1; a header that claims more lies.
  std::uint64_t maxRatio = 1100;
  // What spreadsheets write compresses far less: worksheets of numbers about 6:1, of shared
  // formulas or empty formatted cells 12-17:1 (every cell carries its own address). Beyond a
  // few megabytes a part, or all parts together, that unpacks more than 100:1 is padding made to
  // cost memory (512 MB of spaces deflate to 0.5 MB), not a workbook.
  std::uint64_t plausibleRatio = 100;
  std::uint64_t plausibleRatioFrom = std::uint64_t{16} << 20;
};

// New content of a part, produced in order while the package is written, so that a large part
// never has to exist whole in memory.
class PartContent {
 public:
  virtual ~PartContent() = default;
  // Starts (again) from the first byte.
  virtual void Rewind() = 0;
  // The next bytes, at most `size`; 0 at the end.
  virtual std::size_t Read(char* out, std::size_t size) = 0;
};

class ZipPackage {
 public:
  static std::unique_ptr<ZipPackage> Open(const std::string& path, const PackageLimits& limits = {});
  ~ZipPackage();
  ZipPackage(const ZipPackage&) = delete;
  ZipPackage& operator=(const ZipPackage&) = delete;

  const std::string& path() const { return path_; }
  // Entry names in the archive's order.
  const std::vector<std::string>& Names() const { return names_; }
  // The stored name of a part, found exactly or else ignoring ASCII case (part names are
  // case-insensitive); empty when there is none.
  std::string Find(std::string_view name) const;
  bool Has(std::string_view name) const { return !Find(name).empty(); }
  // The uncompressed bytes of a part. Throws AutomationError when it is missing or damaged.
  // Streamed: through libzip's streamed inflate only (the whole read's twin, for tests).
  enum class Inflating { Whole, Streamed };
  std::string Read(std::string_view name, Inflating how = Inflating::Whole) const;
  std::uint64_t UnpackedSize() const { return unpackedSize_; }

  // Writes the package with `replaced` (stored name -> new content) to `target`.
  void Write(const std::string& target, const std::map<std::string, PartContent*>& replaced) const;

 private:
  ZipPackage() = default;
  struct Archive;

  std::string path_;
  struct stat identity_ {};
  std::unique_ptr<Archive> archive_;
  std::vector<std::string> names_;
  std::map<std::string, std::uint64_t> index_;        // stored name -> entry index
  std::map<std::string, std::string> folded_;          // lower-case name -> stored name
  std::uint64_t unpackedSize_ = 0;
};

}  // namespace corvane::xlsx
