#pragma once
// An HTTP(S) download as a ByteSource: libcurl fetches the body on a download thread into memory,
// the decoder reads from there (blocking until bytes arrive), and every block is handed to the
// stream's DOWNLOADPROC as it arrives, then NULL once at the end of the transfer.
//
// Threads: the download thread runs curl and the DOWNLOADPROC. The decoder side (Read, Seek,
// Tell) is used by one thread at a time (whoever holds the stream's decoder). Everything else
// may be called from any thread. Bytes are exchanged under one mutex, held only for copies;
// the DOWNLOADPROC is called without it.
//
// Memory: everything downloaded is kept (so seeking works inside what has arrived) until more
// than kHoldAllBytes are held; from then on bytes further than kKeepBehindBytes behind the decoder
// are dropped. A body without Content-Length is paused while the decoder lags more than
// kMaxAheadBytes behind the download (a paused live stream), so memory stays bounded.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ByteSource.h"
#include "bass.h"

namespace orvane::bass {

class UrlSource : public ByteSource, public std::enable_shared_from_this<UrlSource> {
 public:
  static constexpr int64_t kHoldAllBytes = 64LL << 20;
  static constexpr int64_t kKeepBehindBytes = 8LL << 20;
  static constexpr int64_t kMaxAheadBytes = 32LL << 20;
  static constexpr size_t kMaxPlaylistBytes = 256 * 1024;
  static constexpr int kMaxPlaylistHops = 3;

  struct Options {
    std::string url;
    uint64_t offset = 0;     // first byte wanted (HTTP Range)
    int timeoutMs = 5000;    // connect time-out, and longest wait for the next byte
    bool followPlaylists = false;
    DOWNLOADPROC* proc = nullptr;
    void* user = nullptr;
  };

  // Starts the download thread; reads then wait for its bytes.
  static std::shared_ptr<UrlSource> Start(const Options& options);
  ~UrlSource() override;
  UrlSource(const UrlSource&) = delete;
  UrlSource& operator=(const UrlSource&) = delete;

  // ByteSource (decoder side).
  int Read(uint8_t* buffer, int size) override;
  bool Seek(int64_t offset) override;
  int64_t Tell() const override;
  int64_t Size() const override;
  std::string NameHint() const override;
  bool SeekableWhileOpening() const override { return false; }

  // While set, a Read that would wait returns AVERROR_EXIT at once (a seek or free is waiting
  // for the decoder).
  void SetInterrupt(bool on);
  // Ends the download. The DOWNLOADPROC gets its NULL call (BASS_ERROR_ENDED) on the download
  // thread before this returns — except when called on the download thread itself (from within
  // the DOWNLOADPROC): then no further call is made and the thread finishes on its own.
  void Cancel();

  // Until all bytes have arrived: waits until at least count bytes have, or the transfer ended.
  void WaitForBytes(int64_t count);

  int64_t ContentLength() const;  // 0 when the server did not say
  int64_t Downloaded() const;
  int64_t HeldStart() const;      // first byte still in memory
  int64_t ReadAhead() const;      // downloaded but not yet read by the decoder
  bool Connected() const;
  // BASS_OK while running or after a complete transfer; else why it failed.
  int Failure() const;

 private:
  struct Transfer;
  explicit UrlSource(Options options);
  void Run();
  int RunTransfer(const std::string& url, std::string& playlistEntry);
  size_t OnBody(Transfer& transfer, const char* data, size_t size);
  void BeginMedia(Transfer& transfer);  // the body is media: note its length and final URL
  void Deliver(const char* data, size_t size);
  void Finish(int code);
  bool ShouldPause() const;  // under mutex
  void DropBehindReader();   // under mutex

  const Options options;
  std::thread thread;
  std::thread::id threadId;
  void* wakeHandle = nullptr;  // the transfer's curl multi handle, for curl_multi_wakeup (under mutex)

  mutable std::mutex mutex;
  std::condition_variable arrived;
  static constexpr size_t kChunkBytes = 256 * 1024;
  std::deque<std::unique_ptr<uint8_t[]>> chunks;  // fixed-size chunks from heldStart on
  int64_t heldStart = 0;
  int64_t received = 0;
  int64_t readPos = 0;
  int64_t contentLength = 0;
  bool ended = false;
  int failure = BASS_OK;
  bool cancelled = false;
  bool interrupt = false;
  bool paused = false;
  std::string finalUrl;

  std::atomic<bool> procDisabled{false};
};

}  // namespace orvane::bass
