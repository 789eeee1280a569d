// Threads: Prepare, Close and the destructor run on the main thread; DownloadData/DownloadEnded on
// the library's download thread; a copy (only where renaming cannot be done safely) on a detached
// thread of its own that reaches the cache only through the relay. Every field below the mutex is
// touched only under it. The location change is posted to the main thread, never called from a
// worker.

#include "audio/SongCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>
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

enum class MoveResult { Moved, TargetExists, Unsupported, Failed };

// Gives from the name to, never replacing a file of that name.
MoveResult MoveNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return MoveResult::Moved;
  if (errno == EEXIST) return MoveResult::TargetExists;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return MoveResult::Failed;
  // The file system has no such rename: a hard link does the same where links exist.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return MoveResult::Moved;
  }
  if (errno == EEXIST) return MoveResult::TargetExists;
  return MoveResult::Unsupported;
}

// Copies from to a new file to, never replacing one. The copy is made under a working name beside
// to and gets its name only once it is whole and on disk, so a player that quits (or a machine that
// stops) part-way leaves no truncated song to be played later. afterBlock (tests) runs after each
// block copied.
bool CopyToNewFile(const std::string& from, const std::string& to, const std::string& working,
                   const std::function<void()>& afterBlock) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const FdCloser inCloser{in};
  if (in < 0) return false;
  const int out = ::open(working.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
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
    if (afterBlock) afterBlock();
  }
  if (ok && ::fsync(out) != 0) ok = false;
  if (::close(out) != 0) ok = false;
  // The song's name is claimed (O_EXCL: an existing file of that name is never replaced), then
  // the whole copy takes the claimed, still empty file's place in one step.
  if (ok) {
    const int claim = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ok = claim >= 0;
    if (ok) {
      ::close(claim);
      if (::rename(working.c_str(), to.c_str()) != 0) {
        ::unlink(to.c_str());  // ours (O_EXCL), and empty
        ok = false;
      }
    }
  }
  if (!ok) ::unlink(working.c_str());
  return ok;
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

TSongCache::~TSongCache() {
  mainThread.Close();
  Close();
}

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
  std::string copyFrom;
  TCachedSong song;
  {
    std::lock_guard lock(mutex);
    if (!downloading) BeginDownload();
    downloading = false;
    // A song file is kept for later plays: its bytes reach the disk before it takes the song's name.
    const bool synced = !complete || spoiled || !cacheFile || ::fdatasync(cacheFile.fd) == 0;
    const bool closed = cacheFile.Reset() && synced;
    const uint64_t received = counters->DownloadReceived.load();
    const uint64_t total = counters->DownloadTotal.load();
    // An unknown total (0) accepts any clean end; an empty download is never a song.
    const bool whole = complete && closed && !spoiled && received > 0 && received >= total;
    if (!whole) return;  // the temporary file stays until the next download empties it
    song = TCachedSong{index, location, targetPath};
    const MoveResult moved = copyForTesting ? MoveResult::Unsupported : MoveNoReplace(tempPath, targetPath);
    // The entry keeps its URL when the song file cannot be made (a file of that name appeared).
    if (moved == MoveResult::TargetExists || moved == MoveResult::Failed) return;
    if (moved == MoveResult::Unsupported) {
      // A private name first, so the next download can start "_temp._mp" afresh while this copies.
      copyFrom = tempPath + "." + std::to_string(::getpid()) + "-" + std::to_string(++finishings);
      if (::rename(tempPath.c_str(), copyFrom.c_str()) != 0) return;
    }
  }
  if (copyFrom.empty()) {
    Announce(std::move(song));
    return;
  }
  CopyOnWorker(std::move(copyFrom), std::move(song));
}

void TSongCache::Announce(TCachedSong song) {
  // The relay drops the call once the cache is gone, so it may refer to the cache.
  mainThread.Post([this, song = std::move(song)] {
    if (onCached) onCached(song);
  });
}

void TSongCache::CopyOnWorker(std::string from, TCachedSong song) {
  std::function<void()> gate;
  std::function<void()> afterBlock;
  {
    std::lock_guard lock(mutex);
    gate = beforeCopy;
    afterBlock = afterCopiedBlock;
  }
  auto copy = [this, from = std::move(from), song = std::move(song), gate = std::move(gate),
               afterBlock = std::move(afterBlock), poster = mainThread.MakePoster()]() mutable {
    if (gate) gate();
    const bool copied = CopyToNewFile(from, song.TargetPath, from + ".part", afterBlock);
    ::unlink(from.c_str());
    // Only the relay reaches the cache from here: it drops the call once the cache is gone.
    if (copied) {
      poster.Post([this, song = std::move(song)] {
        if (onCached) onCached(song);
      });
    }
  };
  try {
    std::thread(std::move(copy)).detach();
  } catch (...) {
    // No thread: the download makes no song file (the entry keeps its URL).
  }
}

void TSongCache::Close() {
  std::lock_guard lock(mutex);
  cacheFile.Reset();
  downloading = false;
}

void TSongCache::UseCopyForTesting(std::function<void()> gate, std::function<void()> afterBlock) {
  std::lock_guard lock(mutex);
  copyForTesting = true;
  beforeCopy = std::move(gate);
  afterCopiedBlock = std::move(afterBlock);
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
