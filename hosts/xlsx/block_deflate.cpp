#include "hosts/xlsx/block_deflate.h"

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <future>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace corvane::xlsx {

namespace {

constexpr std::size_t kWindow = 32768;  // how far back deflate's matches reach

// How a run of input ends: not at all (more follows), on a byte boundary, or the stream's end.
enum class Ending { None, Sync, Stream };

// A deflate stream without header, as ZIP stores it, by ISA-L's igzip: at its level 1 about four
// times zlib's speed at zlib's level 1 on laid-out worksheets, and its output a little smaller.
// Levels above igzip's highest take its highest.
class Deflater {
 public:
  explicit Deflater(int level)
      : level_(static_cast<std::uint32_t>(std::clamp(level, ISAL_DEF_MIN_LEVEL, ISAL_DEF_MAX_LEVEL))),
        levelBuffer_(LevelBufferSize(level_)) {
    Reset();
  }

  // A fresh stream, that takes the `dictionary` (up to the 32 KB deflate reaches back) as what
  // came before it.
  void Reset(std::string_view dictionary = {}) {
    isal_deflate_init(&z_);
    z_.level = level_;
    z_.level_buf = levelBuffer_.empty() ? nullptr : levelBuffer_.data();
    z_.level_buf_size = static_cast<std::uint32_t>(levelBuffer_.size());
    z_.gzip_flag = IGZIP_DEFLATE;
    if (!dictionary.empty() &&
        isal_deflate_set_dict(&z_, reinterpret_cast<std::uint8_t*>(const_cast<char*>(dictionary.data())),
                              static_cast<std::uint32_t>(dictionary.size())) != COMP_OK)
      throw std::runtime_error("the compressor cannot take the dictionary");
  }

  // Deflates `in` onto the end of `out`, ending as `ending` says, a chunk of output at a time.
  void Run(std::string_view in, std::string& out, Ending ending) {
    constexpr std::size_t kChunk = std::size_t{1} << 16;
    unsigned char chunk[kChunk];
    z_.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(in.data()));
    std::size_t left = in.size();
    for (;;) {
      const auto step = static_cast<std::uint32_t>(std::min<std::size_t>(left, std::numeric_limits<std::uint32_t>::max()));
      z_.avail_in = step;
      left -= step;
      const Ending now = left ? Ending::None : ending;
      z_.flush = now == Ending::Sync ? SYNC_FLUSH : NO_FLUSH;
      z_.end_of_stream = now == Ending::Stream ? 1 : 0;
      // Done when the input is taken, the output was not full, and a stream's end is written.
      do {
        z_.next_out = chunk;
        z_.avail_out = kChunk;
        if (isal_deflate(&z_) != COMP_OK) throw std::runtime_error("the compressor failed");
        out.append(reinterpret_cast<const char*>(chunk), kChunk - z_.avail_out);
      } while (z_.avail_in != 0 || z_.avail_out == 0 ||
               (now == Ending::Stream && z_.internal_state.state != ZSTATE_END));
      if (!left) return;
    }
  }

 private:
  static std::size_t LevelBufferSize(std::uint32_t level) {
    switch (level) {
      case 0: return 0;
      case 1: return ISAL_DEF_LVL1_DEFAULT;
      case 2: return ISAL_DEF_LVL2_DEFAULT;
      default: return ISAL_DEF_LVL3_DEFAULT;
    }
  }

  std::uint32_t level_;
  std::vector<std::uint8_t> levelBuffer_;
  isal_zstream z_{};
};

// The CRC-32 of `bytes`, going on from `crc` (that of the bytes before them): libdeflate's, four
// times zlib's speed here, the same value.
std::uint32_t Crc(std::string_view bytes, std::uint32_t crc = 0) { return libdeflate_crc32(crc, bytes.data(), bytes.size()); }

// The content's blocks of `size` bytes in order, each known to be the last or not: the block
// after it is read first, and the content has ended when that comes out empty.
class BlockReader {
 public:
  BlockReader(PartContent& content, std::size_t size) : content_(content), size_(size), next_(Read()) {}
  // Whether the content is one block or less; known before the first Take.
  bool Single() const { return next_.size() < size_; }
  std::string Take() {
    std::string block = std::exchange(next_, next_.size() < size_ ? std::string() : Read());
    last_ = next_.empty();
    return block;
  }
  bool last() const { return last_; }

 private:
  // The next `size_` bytes, fewer only at the content's end; read straight into the block.
  std::string Read() {
    std::string block(size_, '\0');
    std::size_t filled = 0;
    while (filled < size_) {
      const std::size_t n = content_.Read(block.data() + filled, size_ - filled);
      if (n == 0) break;
      filled += n;
    }
    block.resize(filled);
    return block;
  }

  PartContent& content_;
  const std::size_t size_;
  std::string next_;
  bool last_ = false;
};

struct Block {
  std::string data;
  std::uint32_t crc = 0;
  std::uint64_t size = 0;
};

// One block, deflated by `d` from a fresh start with the end of the block before it (if any) as
// its dictionary; the last one ends the stream, the others a byte boundary.
Block DeflateBlock(Deflater& d, std::string_view data, std::string_view before, bool last) {
  d.Reset(before);
  Block out;
  d.Run(data, out.data, last ? Ending::Stream : Ending::Sync);
  out.crc = Crc(data);
  out.size = data.size();
  return out;
}

struct Job {
  std::string data;
  std::string before;  // the end of the block before it, its dictionary
  bool last = false;
  std::promise<Block> result;
};

// Threads that deflate the jobs queued, each with its own compressor; they finish what is
// queued before they end.
class Workers {
 public:
  Workers(unsigned count, int level) {
    try {
      for (unsigned k = 0; k < count; ++k) threads_.emplace_back([this, level] { Work(level); });
    } catch (...) {
      // A thread the system would not start: the ones started end before the failure goes on.
      Close();
      throw;
    }
  }
  ~Workers() { Close(); }
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  void Queue(Job& job) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(&job);
    }
    ready_.notify_one();
  }

 private:
  void Work(int level) {
    std::optional<Deflater> d;
    for (;;) {
      Job* job = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return closing_ || !queue_.empty(); });
        if (queue_.empty()) return;
        job = queue_.front();
        queue_.pop_front();
      }
      try {
        if (!d) d.emplace(level);
        job->result.set_value(DeflateBlock(*d, job->data, job->before, job->last));
      } catch (...) {
        job->result.set_exception(std::current_exception());
      }
    }
  }

  void Close() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
    }
    ready_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Job*> queue_;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace

DeflatedPart DeflateInBlocks(PartContent& content, int level, std::size_t blockSize, unsigned threads) {
  blockSize = std::max(blockSize, kWindow);
  content.Rewind();
  DeflatedPart out;
  out.crc = Crc({});
  const auto append = [&](Block block) {
    out.compressedSize += block.data.size();
    out.pieces.push_back(std::move(block.data));
    out.crc = static_cast<std::uint32_t>(crc32_combine(out.crc, block.crc, static_cast<z_off_t>(block.size)));
    out.size += block.size;
  };
  BlockReader blocks(content, blockSize);
  // The next block's dictionary; every block but the last is longer than it.
  const auto end = [](const std::string& data) { return data.substr(data.size() - std::min(data.size(), kWindow)); };
  std::string before;
  // A part of one block (most are) is deflated here: no thread would have anything to do.
  if (threads <= 1 || blocks.Single()) {
    Deflater d(level);
    do {
      const std::string data = blocks.Take();
      append(DeflateBlock(d, data, before, blocks.last()));
      before = end(data);
    } while (!blocks.last());
    return out;
  }
  // This thread reads the content while the others deflate; the jobs under way, oldest first.
  // The workers end (and so stop using them) before they go.
  const unsigned workerCount = threads - 1;
  std::deque<Job> pending;
  Workers workers(workerCount, level);
  do {
    std::string data = blocks.Take();
    // A block a worker and one waiting: each is busy while the next block is read.
    if (pending.size() > workerCount) {
      append(pending.front().result.get_future().get());
      pending.pop_front();
    }
    std::string dictionary = std::exchange(before, end(data));
    pending.push_back({std::move(data), std::move(dictionary), blocks.last(), {}});
    workers.Queue(pending.back());
  } while (!blocks.last());
  for (; !pending.empty(); pending.pop_front()) append(pending.front().result.get_future().get());
  return out;
}

DeflatedPart DeflateWhole(PartContent& content, int level) {
  content.Rewind();
  DeflatedPart out;
  Deflater d(level);
  std::string stream;
  out.crc = Crc({});
  // The last bytes go in with the stream's end, as a single block's do.
  BlockReader blocks(content, kDeflateBlockSize);
  do {
    const std::string block = blocks.Take();
    d.Run(block, stream, blocks.last() ? Ending::Stream : Ending::None);
    out.crc = Crc(block, out.crc);
    out.size += block.size();
  } while (!blocks.last());
  out.compressedSize = stream.size();
  out.pieces.push_back(std::move(stream));
  return out;
}

std::string DeflatedPart::Joined() const {
  std::string whole;
  whole.reserve(compressedSize);
  for (const std::string& piece : pieces) whole += piece;
  return whole;
}

}  // namespace corvane::xlsx
