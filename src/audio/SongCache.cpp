// Threads: Prepare, Close and the destructor run on the main thread; DownloadData/DownloadEnded on
// the library's download thread. Every field below the mutex is touched only under it. The location
// change is queued to the main thread, never called from the download thread.

#include "audio/SongCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QMetaObject>
#include <cerrno>
#include <utility>

#include "audio/bass/bass.h"
#include "text/TextUtil.h"

namespace orvane::audio {
namespace {

std::string Join(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

bool Exists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

// Closes fd on every path out.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool TSongCache::TCacheFile::Reset(int newFd) {
  bool ok = true;
  if (fd >= 0) ok = ::close(fd) == 0;
  fd = newFd;
  return ok;
}

TSongCache::TSongCache(std::shared_ptr<TDownloadCounters> counters, TLocationChange onCached,
                       uint64_t maxCacheBytes)
    : counters(counters ? std::move(counters) : std::make_shared<TDownloadCounters>()),
      onCached(std::move(onCached)),
      maxCacheBytes(maxCacheBytes) {}

TSongCache::~TSongCache() { Close(); }

void TSongCache::Prepare(const std::string& musicFolder, std::string_view caption, int32_t newIndex,
                         std::string newLocation) {
  const std::string name(text::CutUtf8(text::CleanFileName(caption), MaxNameBytes));
  std::string target = Join(musicFolder, name + ".mp3");
  for (int n = 1; n <= MaxNumber && Exists(target); ++n) {
    target = Join(musicFolder, name + "(" + std::to_string(n) + ").mp3");
  }
  std::lock_guard lock(mutex);
  // The previous stream is freed before a new open starts, so a file still open here belongs to a
  // download that never sent its end mark: it makes no song file.
  cacheFile.Reset();
  downloading = false;
  tempPath = Join(musicFolder, TempName);
  targetPath = std::move(target);
  index = newIndex;
  location = std::move(newLocation);
}

void TSongCache::DownloadData(const void* buffer, uint32_t length) {
  if (buffer) {
    Append(buffer, length);
    return;
  }
  // A stream without Content-Length never "completes" by size: only a clean end of transfer may
  // turn the temporary file into a song, or a dropped connection would leave a truncated song in
  // the cache.
  DownloadEnded(BASS_ErrorGetCode() == BASS_OK);
}

void TSongCache::BeginDownload() {
  downloading = true;
  spoiled = false;
  counters->DownloadReceived = 0;
  // O_TRUNC empties a temporary file left by an earlier download.
  if (!tempPath.empty()) cacheFile.Reset(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  // Without the file from the first block on, whatever is written later would miss the start.
  if (!cacheFile) spoiled = true;
}

void TSongCache::Append(const void* buffer, uint32_t length) {
  std::lock_guard lock(mutex);
  if (!downloading) BeginDownload();
  if (spoiled) return;
  const uint64_t received = counters->DownloadReceived.load();
  if (received + length > maxCacheBytes) {
    // A stream without end: no song will come of it, so the gigabyte is not kept either.
    Spoil();
    ::unlink(tempPath.c_str());
    return;
  }
  if (!WriteAll(cacheFile.fd, static_cast<const char*>(buffer), length)) {
    Spoil();
    return;
  }
  counters->DownloadReceived = received + length;
}

void TSongCache::Spoil() {
  spoiled = true;
  cacheFile.Reset();
}

void TSongCache::DownloadEnded(bool complete) {
  TCachedSong song;
  {
    std::lock_guard lock(mutex);
    if (!downloading) BeginDownload();
    downloading = false;
    const bool closed = cacheFile.Reset();
    const uint64_t received = counters->DownloadReceived.load();
    const uint64_t total = counters->DownloadTotal.load();
    // An unknown total (0) accepts any clean end; an empty download is never a song.
    const bool whole = complete && closed && !spoiled && received > 0 && received >= total;
    if (!whole) return;  // the temporary file stays until the next download empties it
    // The entry keeps its URL when the song file cannot be made.
    if (!CopyToTarget()) return;
    ::unlink(tempPath.c_str());
    song = TCachedSong{index, location, targetPath};
  }
  QMetaObject::invokeMethod(
      &context, [this, song = std::move(song)] {
        if (onCached) onCached(song);
      },
      Qt::QueuedConnection);
}

bool TSongCache::CopyToTarget() const {
  const int in = ::open(tempPath.c_str(), O_RDONLY | O_CLOEXEC);
  const FdCloser inCloser{in};
  if (in < 0) return false;
  // O_EXCL: an existing file of that name is never replaced.
  const int out = ::open(targetPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) return false;
  bool ok = true;
  char block[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(in, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    if (!WriteAll(out, block, static_cast<size_t>(n))) {
      ok = false;
      break;
    }
  }
  if (::close(out) != 0) ok = false;
  if (!ok) ::unlink(targetPath.c_str());  // ours (O_EXCL), and incomplete
  return ok;
}

void TSongCache::Close() {
  std::lock_guard lock(mutex);
  cacheFile.Reset();
  downloading = false;
}

std::string TSongCache::CacheTempPath() const {
  std::lock_guard lock(mutex);
  return tempPath;
}

std::string TSongCache::CacheTargetPath() const {
  std::lock_guard lock(mutex);
  return targetPath;
}

bool TSongCache::Writing() const {
  std::lock_guard lock(mutex);
  return static_cast<bool>(cacheFile);
}

}  // namespace orvane::audio
