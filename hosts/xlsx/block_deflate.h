// Deflating a part written anew, on every processor: the part is cut into blocks that are
// deflated side by side into one raw deflate stream, as pigz does, while the calling thread
// reads on. Each block takes the 32 KB
// before it as its dictionary, so matches reach back across the cut as in one stream, and ends
// on a byte boundary (a sync flush) that the next block's bytes simply follow; the last block
// ends the stream. Any inflater reads the result as one stream.
// Contract:
//  - The content is read once, from its first byte to a read that gives nothing, on the calling
//    thread only; a block is known to be the last when the one after it comes out empty. About
//    two blocks per thread are held at once besides the compressed bytes, so a large part never
//    exists whole in memory uncompressed. Each thread keeps one compressor for all its blocks.
//  - The result inflates to exactly the content read; `crc` is its CRC-32 and `size` its length.
//    Content of one block or less comes out byte for byte as DeflateWhole gives it.
//  - A failure of the content's reads, or of the compressor, is thrown on the calling thread
//    (after every block under way has finished).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hosts/xlsx/zip_package.h"

namespace corvane::xlsx {

struct DeflatedPart {
  // The raw deflate stream (no zlib or gzip wrapper) in pieces, one a block, never joined: a
  // growing copy of the whole would double its memory for a while.
  std::vector<std::string> pieces;
  std::uint64_t compressedSize = 0;
  std::uint32_t crc = 0;
  std::uint64_t size = 0;  // of the content

  std::string Joined() const;
};

inline constexpr std::size_t kDeflateBlockSize = std::size_t{1} << 20;

// The blocks deflated side by side on `threads` - 1 threads while the calling thread reads (0 or
// 1: all on the calling thread).
DeflatedPart DeflateInBlocks(PartContent& content, int level, std::size_t blockSize, unsigned threads);

// The plain twin: the whole content through one deflate stream of the same compressor.
DeflatedPart DeflateWhole(PartContent& content, int level);

}  // namespace corvane::xlsx
