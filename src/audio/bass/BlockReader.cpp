#include "BlockReader.h"

#include <algorithm>
#include <cstring>

namespace orvane::bass {

size_t BlockReader::Read(void* out, size_t count) {
  auto* bytes = static_cast<uint8_t*>(out);
  size_t got = 0;
  while (got < count) {
    const int64_t inBlock = position - blockStart;
    if (inBlock >= 0 && inBlock < static_cast<int64_t>(block.size())) {
      const size_t take = std::min(count - got, block.size() - static_cast<size_t>(inBlock));
      std::memcpy(bytes + got, block.data() + inBlock, take);
      got += take;
      position += static_cast<int64_t>(take);
      continue;
    }
    // Refill at the read position.
    block.resize(kBlock);
    blockStart = position;
    size_t filled = 0;
    if (source.Seek(position)) {
      while (filled < kBlock) {
        const int n = source.Read(block.data() + filled, static_cast<int>(kBlock - filled));
        if (n <= 0) break;
        filled += static_cast<size_t>(n);
      }
    }
    block.resize(filled);
    if (filled == 0) break;
  }
  return got;
}

bool BlockReader::Seek(int64_t offset) {
  const int64_t size = source.Size();
  if (offset < 0 || (size >= 0 && offset > size)) return false;
  position = offset;
  return true;
}

}  // namespace orvane::bass
