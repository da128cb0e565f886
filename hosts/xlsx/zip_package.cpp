#include "hosts/xlsx/zip_package.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <memory>
#include <optional>
#include <thread>

#include "base/automation.h"
#include "hosts/xlsx/block_deflate.h"
#include "hosts/xlsx/safe_file.h"
#include "hosts/xlsx/xml_text.h"

namespace corvane::xlsx {

namespace {

// Parts written anew are deflated quickly: laid-out formulas are mostly runs of spaces, which
// the fastest level packs almost as tightly as the default one, at a fraction of the time.
constexpr zip_uint32_t kNewPartLevel = 1;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (auto& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// A name that stays inside the package: relative, "/"-separated, no "." or ".." segment, no
// empty segment (a folder entry may end in "/"), no drive letter.
bool NameStaysInside(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.find('\\') != std::string_view::npos) return false;
  std::size_t start = 0;
  bool first = true;
  while (start < name.size()) {
    std::size_t slash = name.find('/', start);
    if (slash == std::string_view::npos) slash = name.size();
    const std::string_view segment = name.substr(start, slash - start);
    if (segment.empty() || segment == "." || segment == "..") return false;
    if (first && segment.find(':') != std::string_view::npos) return false;
    first = false;
    start = slash + 1;
  }
  return true;
}

// An OLE compound document: what password-protected workbooks (and old .xls files) are.
bool IsCompoundDocument(int fd) {
  static constexpr unsigned char kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  unsigned char head[8];
  return pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) && std::memcmp(head, kMagic, 8) == 0;
}

// Whether a compound document holds the stream of an encrypted package (its name in UTF-16).
bool HoldsEncryptedPackage(int fd) {
  static const std::string kName = [] {
    std::string name;
    for (const char c : std::string_view("EncryptedPackage")) name += c, name += '\0';
    return name;
  }();
  std::string window;
  char buffer[1 << 16];
  for (off_t at = 0;;) {
    const ssize_t n = pread(fd, buffer, sizeof buffer, at);
    if (n <= 0) return false;
    window.append(buffer, static_cast<std::size_t>(n));
    if (window.find(kName) != std::string::npos) return true;
    window.erase(0, window.size() > kName.size() ? window.size() - kName.size() : 0);
    at += n;
  }
}

// Runs a command of one of our libzip sources: libzip is C, so nothing may unwind through it; a
// failure becomes the source's error `code`, and its text is kept for the message.
template <typename Command>
zip_int64_t Guarded(zip_error_t& error, std::string& failure, int code, Command command) {
  try {
    return command();
  } catch (const AutomationError& e) {
    failure = Utf8(e.description());
  } catch (const std::exception& e) {
    failure = e.what();
  }
  zip_error_set(&error, code, 0);
  return -1;
}

// A libzip source of a part's new content, deflated beforehand (block_deflate.h) when libzip
// first asks what it holds, so that libzip copies the compressed bytes as they are. Failures
// inside are kept and reported as libzip errors; exceptions never cross the library.
struct ContentSource {
  PartContent* content;
  time_t mtime;
  zip_error_t error;
  std::string failure;
  std::optional<DeflatedPart> deflated;
  std::size_t piece = 0, offset = 0;  // where the reads are in the compressed pieces

  static zip_int64_t Callback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto* self = static_cast<ContentSource*>(state);
    return Guarded(self->error, self->failure, ZIP_ER_INTERNAL, [&]() -> zip_int64_t {
      switch (command) {
        case ZIP_SOURCE_OPEN:
          self->piece = self->offset = 0;
          return 0;
        case ZIP_SOURCE_READ: {
          const std::vector<std::string>& pieces = self->Deflated().pieces;
          while (self->piece < pieces.size() && self->offset == pieces[self->piece].size()) {
            ++self->piece;
            self->offset = 0;
          }
          if (self->piece == pieces.size()) return 0;
          const std::string& bytes = pieces[self->piece];
          const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(length), bytes.size() - self->offset);
          std::memcpy(data, bytes.data() + self->offset, n);
          self->offset += n;
          return static_cast<zip_int64_t>(n);
        }
        case ZIP_SOURCE_CLOSE:
          return 0;
        case ZIP_SOURCE_STAT: {
          const DeflatedPart& part = self->Deflated();
          auto* st = static_cast<zip_stat_t*>(data);
          zip_stat_init(st);
          st->size = part.size;
          st->comp_size = part.compressedSize;
          st->crc = part.crc;
          st->mtime = self->mtime;
          st->comp_method = ZIP_CM_DEFLATE;
          st->encryption_method = ZIP_EM_NONE;
          st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_MTIME | ZIP_STAT_COMP_METHOD |
                      ZIP_STAT_ENCRYPTION_METHOD;
          return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_GET_FILE_ATTRIBUTES: {
          // What libzip's own deflate at this level records: version 2.0, and "fast" in the
          // general purpose flags.
          auto* attributes = static_cast<zip_file_attributes_t*>(data);
          if (length < sizeof *attributes) {
            zip_error_set(&self->error, ZIP_ER_INVAL, 0);
            return -1;
          }
          attributes->valid |= ZIP_FILE_ATTRIBUTES_VERSION_NEEDED | ZIP_FILE_ATTRIBUTES_GENERAL_PURPOSE_BIT_FLAGS;
          attributes->version_needed = 20;
          attributes->general_purpose_bit_flags = kNewPartLevel < 3 ? 2 << 1 : 0;
          attributes->general_purpose_bit_mask = 0x0006;
          return 0;
        }
        case ZIP_SOURCE_ERROR:
          return zip_error_to_data(&self->error, data, length);
        case ZIP_SOURCE_FREE:
          zip_error_fini(&self->error);
          delete self;
          return 0;
        case ZIP_SOURCE_SUPPORTS:
          return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                ZIP_SOURCE_GET_FILE_ATTRIBUTES, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        default:
          zip_error_set(&self->error, ZIP_ER_OPNOTSUPP, 0);
          return -1;
      }
    });
  }

  const DeflatedPart& Deflated() {
    if (!deflated) {
      const unsigned processors = std::thread::hardware_concurrency();
      deflated = DeflateInBlocks(*content, static_cast<int>(kNewPartLevel), kDeflateBlockSize,
                                 std::clamp(processors, 1U, 8U));
    }
    return *deflated;
  }
};

// A libzip source that writes the new package straight into the temporary file, so that no
// copy of the whole package is held in memory. libzip goes back to complete each entry's header
// once its data is written, hence the positioned writes.
struct FileTarget {
  AtomicFile& file;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  zip_error_t error;
  std::string failure;

  static zip_int64_t Callback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto* self = static_cast<FileTarget*>(state);
    return Guarded(self->error, self->failure, ZIP_ER_WRITE, [&]() -> zip_int64_t {
      switch (command) {
        case ZIP_SOURCE_BEGIN_WRITE:
          self->offset = self->size = 0;
          return 0;
        case ZIP_SOURCE_WRITE:
          self->file.WriteAt(self->offset, data, static_cast<std::size_t>(length));
          self->offset += length;
          self->size = std::max(self->size, self->offset);
          return static_cast<zip_int64_t>(length);
        case ZIP_SOURCE_SEEK_WRITE: {
          const zip_int64_t to = zip_source_seek_compute_offset(self->offset, self->size, data, length, &self->error);
          if (to < 0) return -1;
          self->offset = static_cast<std::uint64_t>(to);
          return 0;
        }
        case ZIP_SOURCE_TELL_WRITE:
          return static_cast<zip_int64_t>(self->offset);
        case ZIP_SOURCE_STAT: {
          // A new, empty archive: nothing to read from it.
          auto* st = static_cast<zip_stat_t*>(data);
          zip_stat_init(st);
          st->size = 0;
          st->valid = ZIP_STAT_SIZE;
          return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_OPEN:
        case ZIP_SOURCE_CLOSE:
        case ZIP_SOURCE_COMMIT_WRITE:
        case ZIP_SOURCE_ROLLBACK_WRITE:  // the temporary file goes with the AtomicFile
        case ZIP_SOURCE_REMOVE:
        case ZIP_SOURCE_FREE:            // owned by the writer, not by libzip
        case ZIP_SOURCE_READ:
        case ZIP_SOURCE_TELL:
          return 0;
        case ZIP_SOURCE_SEEK:
          return 0;
        case ZIP_SOURCE_ERROR:
          return zip_error_to_data(&self->error, data, length);
        case ZIP_SOURCE_SUPPORTS:
          return zip_source_make_command_bitmap(
              ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
              ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_WRITE, ZIP_SOURCE_COMMIT_WRITE,
              ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE,
              ZIP_SOURCE_SUPPORTS, -1);
        default:
          zip_error_set(&self->error, ZIP_ER_OPNOTSUPP, 0);
          return -1;
      }
    });
  }
};

}  // namespace

struct ZipPackage::Archive {
  zip_t* zip = nullptr;
  ~Archive() {
    if (zip) zip_discard(zip);
  }
};

ZipPackage::~ZipPackage() = default;

std::unique_ptr<ZipPackage> ZipPackage::Open(const std::string& path, const PackageLimits& limits) {
  std::unique_ptr<ZipPackage> package(new ZipPackage());
  package->path_ = path;

  const int fd = OpenRegularFile(path);
  FILE* file = fdopen(fd, "rb");
  if (!file) {
    const int error = errno;
    ::close(fd);
    FailErrno(path, "cannot be opened", error);
  }
  // From here the FILE owns the descriptor; the source (then the archive) owns the FILE.
  struct FileGuard {
    FILE* file;
    ~FileGuard() {
      if (file) std::fclose(file);
    }
  } guard{file};
  if (fstat(fd, &package->identity_) != 0) FailErrno(path, "cannot be examined", errno);
  if (IsCompoundDocument(fd)) {
    if (HoldsEncryptedPackage(fd))
      Fail(err::kApplicationDefined, path,
           "is an encrypted workbook (protected with a password to open). Remove the password in the "
           "spreadsheet program and save it again; it was not changed.");
    Fail(err::kApplicationDefined, path,
         "is an old binary workbook (.xls) or another compound document, not an .xlsx workbook; it was not changed.");
  }

  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_filep_create(file, 0, -1, &error);
  if (!source) {
    const std::string why = zip_error_strerror(&error);
    zip_error_fini(&error);
    Fail(err::kDeviceIO, path, "cannot be read: " + why + ".");
  }
  guard.file = nullptr;
  zip_t* zip = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
  if (!zip) {
    const int code = zip_error_code_zip(&error);
    const std::string why = zip_error_strerror(&error);
    zip_error_fini(&error);
    zip_source_free(source);
    if (code == ZIP_ER_NOZIP)
      Fail(err::kApplicationDefined, path, "is not a workbook file (it is no ZIP package); it was not changed.");
    if (code == ZIP_ER_INCONS)
      Fail(err::kApplicationDefined, path, "is a damaged ZIP package (its directories disagree); it was not changed.");
    Fail(err::kDeviceIO, path, "cannot be read as a ZIP package: " + why + ".");
  }
  zip_error_fini(&error);
  package->archive_ = std::make_unique<Archive>();
  package->archive_->zip = zip;

  const zip_int64_t count = zip_get_num_entries(zip, 0);
  if (count < 0 || static_cast<std::uint64_t>(count) > limits.maxEntries)
    Fail(err::kApplicationDefined, path,
         "holds more entries than a workbook plausibly has (" + std::to_string(count) +
             "); it is treated as a ZIP bomb and was not changed.");
  std::uint64_t packedSize = 0;  // of the entries so far
  for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(zip, i, ZIP_FL_ENC_RAW, &st) != 0 || !(st.valid & ZIP_STAT_NAME))
      Fail(err::kApplicationDefined, path, "is a damaged ZIP package; it was not changed.");
    const std::string name = st.name;
    if (!NameStaysInside(name))
      Fail(err::kApplicationDefined, path,
           "holds an entry whose name leaves the package (\"" + name + "\"); it is not a valid workbook and was not changed.");
    if (!package->folded_.emplace(Lower(name), name).second)
      Fail(err::kApplicationDefined, path,
           "holds the entry \"" + name + "\" twice; it is not a valid workbook and was not changed.");
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
      Fail(err::kApplicationDefined, path,
           "holds encrypted entries (\"" + name + "\"); encrypted packages are not supported and it was not changed.");
    if ((st.valid & ZIP_STAT_COMP_METHOD) && st.comp_method != ZIP_CM_STORE && st.comp_method != ZIP_CM_DEFLATE)
      Fail(err::kApplicationDefined, path,
           "compresses \"" + name + "\" with a method workbook files do not use; it was not changed.");
    const std::uint64_t size = (st.valid & ZIP_STAT_SIZE) ? st.size : 0;
    const std::uint64_t packed = (st.valid & ZIP_STAT_COMP_SIZE) ? st.comp_size : 0;
    // The ratios mean something only for compressed sizes the file really holds.
    if (packed > static_cast<std::uint64_t>(package->identity_.st_size))
      Fail(err::kApplicationDefined, path, "is a damaged ZIP package (\"" + name + "\" claims more bytes than the file has); it was not changed.");
    packedSize += packed;
    const auto beyondRatio = [&](std::uint64_t unpacked, std::uint64_t from) {
      return unpacked > limits.plausibleRatioFrom && (from == 0 || unpacked / from >= limits.plausibleRatio);
    };
    const bool implausible = size > limits.maxPartSize ||
                             (size > 65536 && (packed == 0 || size / packed > limits.maxRatio)) ||
                             beyondRatio(size, packed) || package->unpackedSize_ + size > limits.maxTotalSize ||
                             beyondRatio(package->unpackedSize_ + size, packedSize);
    if (implausible)
      Fail(err::kApplicationDefined, path,
           "unpacks to more than a workbook plausibly holds (\"" + name + "\": " + std::to_string(size) + " bytes from " +
               std::to_string(packed) + "); it is treated as a ZIP bomb and was not changed.");
    package->unpackedSize_ += size;
    package->index_.emplace(name, i);
    package->names_.push_back(name);
  }
  return package;
}

std::string ZipPackage::Find(std::string_view name) const {
  if (index_.count(std::string(name))) return std::string(name);
  const auto it = folded_.find(Lower(name));
  return it == folded_.end() ? std::string() : it->second;
}

namespace {

// One line per owned resource: an open entry, an inflater.
using EntryFile = std::unique_ptr<zip_file_t, decltype(&zip_fclose)>;
using Inflater = std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)>;

// The entry's deflated bytes inflated in one call, its size and CRC checked; nothing when any of
// that fails (the streamed read then says why).
std::optional<std::string> InflateWhole(zip_t* zip, zip_uint64_t index, const zip_stat_t& st) {
  constexpr zip_uint64_t kNeeded = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
  if ((st.valid & kNeeded) != kNeeded || st.comp_method != ZIP_CM_DEFLATE) return std::nullopt;
  const EntryFile file(zip_fopen_index(zip, index, ZIP_FL_COMPRESSED), &zip_fclose);
  const Inflater inflater(libdeflate_alloc_decompressor(), &libdeflate_free_decompressor);
  if (!file || !inflater) return std::nullopt;
  std::string packed(static_cast<std::size_t>(st.comp_size), '\0');
  std::size_t got = 0;
  while (got < packed.size()) {
    const zip_int64_t n = zip_fread(file.get(), packed.data() + got, packed.size() - got);
    if (n <= 0) return std::nullopt;
    got += static_cast<std::size_t>(n);
  }
  std::string data(static_cast<std::size_t>(st.size), '\0');
  std::size_t unpacked = 0;
  if (libdeflate_deflate_decompress(inflater.get(), packed.data(), packed.size(), data.data(), data.size(), &unpacked) !=
          LIBDEFLATE_SUCCESS ||
      unpacked != data.size() || libdeflate_crc32(0, data.data(), data.size()) != st.crc)
    return std::nullopt;
  return data;
}

}  // namespace

std::string ZipPackage::Read(std::string_view name, Inflating how) const {
  const std::string stored = Find(name);
  if (stored.empty()) Fail(err::kApplicationDefined, path_, "lacks its part \"" + std::string(name) + "\"; it is not a valid workbook.");
  const zip_uint64_t index = index_.at(stored);
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(archive_->zip, index, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
    Fail(err::kApplicationDefined, path_, "is damaged (\"" + stored + "\" cannot be examined).");
  if (how == Inflating::Whole) {
    if (auto whole = InflateWhole(archive_->zip, index, st)) return std::move(*whole);
  }
  const EntryFile entry(zip_fopen_index(archive_->zip, index, 0), &zip_fclose);
  if (!entry)
    Fail(err::kApplicationDefined, path_, "is damaged (\"" + stored + "\" cannot be read: " + zip_strerror(archive_->zip) + ").");
  std::string data(static_cast<std::size_t>(st.size), '\0');
  std::size_t got = 0;
  while (got < data.size()) {
    const zip_int64_t n = zip_fread(entry.get(), data.data() + got, data.size() - got);
    if (n < 0)
      Fail(err::kApplicationDefined, path_,
           "is damaged (\"" + stored + "\" cannot be read: " + zip_file_strerror(entry.get()) + ").");
    if (n == 0) Fail(err::kApplicationDefined, path_, "is damaged (\"" + stored + "\" is shorter than its header says).");
    got += static_cast<std::size_t>(n);
  }
  char extra;
  const zip_int64_t more = zip_fread(entry.get(), &extra, 1);
  if (more != 0)
    Fail(err::kApplicationDefined, path_,
         more > 0 ? "unpacks \"" + stored + "\" to more than its header declares; it is treated as a ZIP bomb."
                  : "is damaged (\"" + stored + "\" cannot be read: " + zip_file_strerror(entry.get()) + ").");
  return data;
}

void ZipPackage::Write(const std::string& target, const std::map<std::string, PartContent*>& replaced) const {
  zip_t* const source = archive_->zip;
  AtomicFile file(target);
  FileTarget writer{file, 0, 0, {}, {}};
  zip_error_init(&writer.error);
  struct WriterGuard {
    zip_error_t* error;
    ~WriterGuard() { zip_error_fini(error); }
  } writerGuard{&writer.error};
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* sink = zip_source_function_create(&FileTarget::Callback, &writer, &error);
  zip_t* out = sink ? zip_open_from_source(sink, ZIP_TRUNCATE, &error) : nullptr;
  zip_error_fini(&error);
  if (!out) {
    if (sink) zip_source_free(sink);
    throw AutomationError(err::kDeviceIO, u"The new workbook package cannot be started.");
  }
  struct OutGuard {
    zip_t* zip;
    ~OutGuard() {
      if (zip) zip_discard(zip);
    }
  } outGuard{out};
  const auto failed = [&](const std::string& what) {
    Fail(err::kDeviceIO, target, "cannot be written (" + what + ": " + zip_strerror(out) + "); it was not changed.");
  };

  // The sources of new content live until the archive is closed (libzip frees them); their
  // failures are looked up when closing fails.
  std::vector<ContentSource*> sources;
  for (std::size_t i = 0; i < names_.size(); ++i) {
    const std::string& name = names_[i];
    zip_stat_t st;
    zip_stat_init(&st);
    zip_stat_index(source, i, 0, &st);
    const auto change = replaced.find(name);
    zip_source_t* data = nullptr;
    if (change != replaced.end()) {
      auto* state = new ContentSource{change->second, (st.valid & ZIP_STAT_MTIME) ? st.mtime : std::time(nullptr), {}, {}, {}, 0, 0};
      zip_error_init(&state->error);
      sources.push_back(state);
      data = zip_source_function(out, &ContentSource::Callback, state);
      if (!data) {
        sources.pop_back();
        zip_error_fini(&state->error);
        delete state;
      }
    } else {
      data = zip_source_zip(out, source, i, ZIP_FL_COMPRESSED, 0, -1);
    }
    if (!data) failed("\"" + name + "\"");
    const zip_int64_t added = zip_file_add(out, name.c_str(), data, 0);
    if (added < 0) {
      zip_source_free(data);
      failed("\"" + name + "\"");
    }
    const auto at = static_cast<zip_uint64_t>(added);
    // A copied entry keeps its method (stored stays stored); new content comes deflated.
    const zip_int32_t method = change != replaced.end() || !(st.valid & ZIP_STAT_COMP_METHOD)
                                   ? ZIP_CM_DEFLATE
                                   : static_cast<zip_int32_t>(st.comp_method);
    if (zip_set_file_compression(out, at, method, change != replaced.end() ? kNewPartLevel : 0) != 0) failed("\"" + name + "\"");
    if ((st.valid & ZIP_STAT_MTIME) && zip_file_set_mtime(out, at, st.mtime, 0) != 0) failed("\"" + name + "\"");
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(source, i, 0, &system, &attributes) == 0)
      zip_file_set_external_attributes(out, at, 0, system, attributes);
    zip_uint32_t commentLength = 0;
    if (const char* comment = zip_file_get_comment(source, i, &commentLength, ZIP_FL_ENC_RAW); comment && commentLength)
      zip_file_set_comment(out, at, comment, static_cast<zip_uint16_t>(commentLength), 0);
  }
  // The archive comment goes into the end record by hand below: libzip refuses one that is not
  // UTF-8 (one in a legacy code page), and it must come back byte for byte all the same.
  int archiveCommentLength = 0;
  const char* archiveComment = zip_get_archive_comment(source, &archiveCommentLength, ZIP_FL_ENC_RAW);
  const std::string comment = archiveComment && archiveCommentLength > 0
                                  ? std::string(archiveComment, static_cast<std::size_t>(archiveCommentLength))
                                  : std::string();
  if (zip_close(out) != 0) {
    for (const ContentSource* state : sources)
      if (!state->failure.empty()) Fail(err::kDeviceIO, target, "cannot be written (" + state->failure + "); it was not changed.");
    if (!writer.failure.empty()) Fail(err::kDeviceIO, target, "cannot be written (" + writer.failure + "); it was not changed.");
    failed("the package");
  }
  outGuard.zip = nullptr;

  // The end record, the last 22 bytes, receives the archive comment.
  constexpr std::size_t kEndRecord = 22;
  std::string tail(kEndRecord, '\0');
  if (writer.size < kEndRecord) throw AutomationError(err::kDeviceIO, u"The new workbook package came out empty.");
  file.ReadAt(writer.size - kEndRecord, tail.data(), kEndRecord);
  if (tail.compare(0, 4, "PK\x05\x06") != 0 || tail[20] != 0 || tail[21] != 0)
    throw AutomationError(err::kDeviceIO, u"The new workbook package does not end in the record of its directory.");
  const char length[2] = {static_cast<char>(comment.size() & 0xFF), static_cast<char>((comment.size() >> 8) & 0xFF)};
  file.WriteAt(writer.size - 2, length, 2);
  file.WriteAt(writer.size, comment.data(), comment.size());
  const auto canonical = [](const std::string& p) {
    char resolved[PATH_MAX];
    return realpath(p.c_str(), resolved) ? std::string(resolved) : p;
  };
  // Replacing the file that was read: it must still be that file, as it was.
  file.Commit(canonical(target) == canonical(path_) ? &identity_ : nullptr);
}

}  // namespace corvane::xlsx
