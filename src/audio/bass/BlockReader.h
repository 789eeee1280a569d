#pragma once
#include <cstdint>
#include <vector>

#include "ByteSource.h"

namespace orvane::bass {

// A source read through a block of its bytes: codec libraries ask for a few bytes at a time (a
// frame header, then the frame), and one system call per MPEG frame would cost more than decoding
// it. Seeks are kept within the block where they can be. Used by one thread at a time.
class BlockReader {
 public:
  explicit BlockReader(ByteSource& source) : source(source) {}
  // Up to count bytes at the read position; fewer only at the end of the data or on a read error.
  size_t Read(void* out, size_t count);
  // Moves the read position; false (and the position kept) outside the data.
  bool Seek(int64_t offset);
  int64_t Tell() const { return position; }
  int64_t Size() const { return source.Size(); }

 private:
  static constexpr size_t kBlock = 64 * 1024;
  ByteSource& source;
  std::vector<uint8_t> block;  // source bytes [blockStart, blockStart + block.size())
  int64_t blockStart = 0;
  int64_t position = 0;
};

}  // namespace orvane::bass
