#include "ByteSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "bass.h"

namespace orvane::bass {
namespace {

class FileSource : public ByteSource {
 public:
  FileSource(int fd, std::string path, int64_t start, int64_t size)
      : fd(fd), path(std::move(path)), start(start), size(size) {}
  ~FileSource() override { ::close(fd); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  int Read(uint8_t* buffer, int want) override {
    const int64_t left = size - offset;
    if (left <= 0) return 0;
    const size_t count = static_cast<size_t>(std::min<int64_t>(want, left));
    ssize_t got;
    do {
      got = ::pread(fd, buffer, count, start + offset);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return -errno;
    offset += got;
    return static_cast<int>(got);
  }
  bool Seek(int64_t to) override {
    if (to < 0 || to > size) return false;
    offset = to;
    return true;
  }
  int64_t Tell() const override { return offset; }
  int64_t Size() const override { return size; }
  std::string NameHint() const override { return path; }

 private:
  int fd;
  std::string path;
  int64_t start;
  int64_t size;
  int64_t offset = 0;
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, int64_t size) : data(data), size(size) {}
  int Read(uint8_t* buffer, int want) override {
    const int64_t count = std::min<int64_t>(want, size - offset);
    if (count <= 0) return 0;
    std::memcpy(buffer, data + offset, static_cast<size_t>(count));
    offset += count;
    return static_cast<int>(count);
  }
  bool Seek(int64_t to) override {
    if (to < 0 || to > size) return false;
    offset = to;
    return true;
  }
  int64_t Tell() const override { return offset; }
  int64_t Size() const override { return size; }

 private:
  const uint8_t* data;
  int64_t size;
  int64_t offset = 0;
};

}  // namespace

std::unique_ptr<ByteSource> OpenFileSource(const std::string& path, uint64_t offset, uint64_t length,
                                           int& error) {
  // Only regular files: opening a FIFO waits for a writer, and a device or a folder never ends.
  // O_NONBLOCK makes even a FIFO put there after the check open at once (and then be refused).
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    error = BASS_ERROR_FILEOPEN;
    return nullptr;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    error = BASS_ERROR_FILEOPEN;
    return nullptr;
  }
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    error = BASS_ERROR_FILEOPEN;
    return nullptr;
  }
  const uint64_t fileSize = static_cast<uint64_t>(info.st_size);
  if (offset > fileSize) {
    ::close(fd);
    error = BASS_ERROR_POSITION;
    return nullptr;
  }
  uint64_t size = fileSize - offset;
  if (length != 0) size = std::min(size, length);
  return std::make_unique<FileSource>(fd, path, static_cast<int64_t>(offset), static_cast<int64_t>(size));
}

std::unique_ptr<ByteSource> OpenMemorySource(const void* data, uint64_t length) {
  return std::make_unique<MemorySource>(static_cast<const uint8_t*>(data), static_cast<int64_t>(length));
}

}  // namespace orvane::bass
