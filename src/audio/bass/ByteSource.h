#pragma once
// Where a stream's encoded bytes come from: a file (or part of one), a memory block, or a URL
// download (UrlSource). The decoder reads through this interface only, so every source is
// recognised by content the same way.
//
// A source is used by one thread at a time (the thread that holds the stream's decoder).

#include <cstdint>
#include <memory>
#include <string>

namespace orvane::bass {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to size bytes at the current offset. Returns the count (> 0), 0 at the end of the
  // data, or a negative FFmpeg error (AVERROR_EXIT: interrupted, try again after a seek).
  virtual int Read(uint8_t* buffer, int size) = 0;
  // Moves to offset; false when that offset cannot be reached now.
  virtual bool Seek(int64_t offset) = 0;
  // Current offset.
  virtual int64_t Tell() const = 0;
  // Total size in bytes; -1 while unknown.
  virtual int64_t Size() const = 0;
  // Name for format probing (an extension is a hint; content decides).
  virtual std::string NameHint() const { return {}; }
  // False when a seek far ahead would wait for bytes still to come (a download): the format is
  // then recognised without looking at the end of the file (tags there, last page), and seeking
  // is allowed only once the stream is open.
  virtual bool SeekableWhileOpening() const { return true; }
};

// A file, or offset..offset+length of it (length 0 = to the end). Null + BASS error code when the
// file cannot be opened.
std::unique_ptr<ByteSource> OpenFileSource(const std::string& path, uint64_t offset, uint64_t length,
                                           int& error);

// A memory block the caller keeps valid.
std::unique_ptr<ByteSource> OpenMemorySource(const void* data, uint64_t length);

}  // namespace orvane::bass
