#pragma once
// The two process-wide byte counters of a streamed song, shared by the engine's open worker (which
// resets them and records the total) and the song cache (which counts what it wrote).
//
// Threads: the open worker writes both at the start of an open and DownloadTotal once the URL
// stream exists; the download thread reads DownloadTotal and writes DownloadReceived. Atomics, so
// a total that lands after the first blocks is still seen whole at the end of the download.
//
// Held by std::shared_ptr: the engine's worker may outlive the engine (it frees itself when it
// ends), so the counters live as long as the last user.

#include <atomic>
#include <cstdint>

namespace orvane::audio {

struct TDownloadCounters {
  // Content-Length of the stream being downloaded, 0 when the server sent none. 64-bit, so a
  // download past 4 GiB is not mistaken for a short one.
  std::atomic<uint64_t> DownloadTotal{0};
  // Bytes written to the cache file since it was created.
  std::atomic<uint64_t> DownloadReceived{0};
};

}  // namespace orvane::audio
