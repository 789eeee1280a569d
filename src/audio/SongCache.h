#pragma once
// TSongCache: keeps a streamed song on disk. While a URL stream downloads, every block goes into
// "_temp._mp" in the music folder; when the download has ended cleanly and whole, the file gets the
// song's own name and the owner is told to point the song's entry at it.
//
// Finishing never holds anyone up: the file is renamed (never over an existing file), which is
// instant. Only where the file system cannot rename without replacing, the file is first moved to a
// private name and copied on a thread of its own, so the next download may start meanwhile and a
// song change never waits for a copy. The copy, too, gets the song's name only once it is whole.
//
// Threads: construct, Prepare, Close and destroy on the main thread (the thread running the Qt
// event loop); DownloadData and DownloadEnded on the library's download thread. The cache's own
// state is guarded by one mutex, held only for short file operations. The location change reaches
// the main thread through the cache's TMainThreadRelay; destroying the cache drops one still on its
// way. Destroy (or Close) the cache only after the engine, so no block arrives afterwards.
//
// Main window wiring:
//   auto counters = std::make_shared<TDownloadCounters>();
//   SongCache = std::make_unique<TSongCache>(counters, [this](const TCachedSong& s) { … });
//   Engine = std::make_unique<TAudioEngine>(windowId, AppFolder, counters);
//   EngineStateChanged(1005): SongCache->Prepare(MusicFolder, entry.Caption, CurrentIndex, entry.Location);
//   EngineDownloadData(buffer, length, user): SongCache->DownloadData(buffer, length);
//   location change: if s.Index is still a row of the list the download was for and its location
//   is still s.Location, set it (TrackList and the row) to s.TargetPath.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "audio/DownloadCounters.h"
#include "net/MainThreadRelay.h"

namespace orvane::audio {

// A download that became a song file, for the entry it was downloaded for.
struct TCachedSong {
  int32_t Index = -1;       // CurrentIndex when the download was prepared
  std::string Location;     // that entry's location then (the URL)
  std::string TargetPath;   // the song file now holding the download
};

class TSongCache {
 public:
  // Beyond this a download is taken for a stream without end (live radio): it stops being
  // written and never becomes a song file.
  static constexpr uint64_t MaxCacheBytes = uint64_t{1} << 30;
  static constexpr int MaxNameBytes = 100;
  static constexpr int MaxNumber = 10000;
  static constexpr const char* TempName = "_temp._mp";

  using TLocationChange = std::function<void(const TCachedSong&)>;

  // counters: shared with the engine (its open worker sets DownloadTotal). onCached runs on the
  // constructing thread through its event loop. maxCacheBytes: the endless-stream limit.
  TSongCache(std::shared_ptr<TDownloadCounters> counters, TLocationChange onCached,
             uint64_t maxCacheBytes = MaxCacheBytes);
  ~TSongCache();
  TSongCache(const TSongCache&) = delete;
  TSongCache& operator=(const TSongCache&) = delete;

  // On StateConnecting, before the URL open starts: names the temporary file in musicFolder and the
  // song file after caption (cleaned, cut to 100 bytes on a character boundary, "(n)" added while
  // the name is taken). index and location say which entry the download is for.
  void Prepare(const std::string& musicFolder, std::string_view caption, int32_t index, std::string location);

  // The engine's download data: a block, or buffer null at the end of the transfer, when the
  // library's error code on this thread tells whether it ended cleanly.
  void DownloadData(const void* buffer, uint32_t length);
  // The end of the transfer, for callers that know how it ended.
  void DownloadEnded(bool complete);

  // Closes the temporary file, if open; the download in progress then makes no song file.
  void Close();

  std::string CacheTempPath() const;
  std::string CacheTargetPath() const;
  bool Writing() const;

  // Tests: finish by copying on a worker, as on a file system that cannot rename without
  // replacing; beforeCopy (may be empty) runs on that worker before the copy starts, afterBlock
  // after each block it copied.
  void UseCopyForTesting(std::function<void()> beforeCopy, std::function<void()> afterBlock = {});

 private:
  // The temporary file's descriptor; blocks go straight to it, unbuffered.
  struct TCacheFile {
    int fd = -1;
    TCacheFile() = default;
    TCacheFile(const TCacheFile&) = delete;
    TCacheFile& operator=(const TCacheFile&) = delete;
    ~TCacheFile() { Reset(); }
    // Closes the file (true when that went well, or none was open) and takes newFd.
    bool Reset(int newFd = -1);
    explicit operator bool() const { return fd >= 0; }
  };

  void BeginDownload();
  void Append(const void* buffer, uint32_t length);
  void Spoil();
  void Announce(TCachedSong song);
  void CopyOnWorker(std::string from, TCachedSong song);

  std::shared_ptr<TDownloadCounters> counters;
  TLocationChange onCached;
  const uint64_t maxCacheBytes;
  net::TMainThreadRelay mainThread;

  mutable std::mutex mutex;
  std::string tempPath;
  std::string targetPath;
  int32_t index = -1;
  std::string location;
  TCacheFile cacheFile;
  bool downloading = false;  // between the first call of a download and its end mark
  bool spoiled = false;      // a block was lost (no file, write error, too long): no song file
  bool copyForTesting = false;
  std::function<void()> beforeCopy;
  std::function<void()> afterCopiedBlock;
  uint64_t finishings = 0;   // numbers the private names of files being copied
};

}  // namespace orvane::audio
