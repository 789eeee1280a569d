#pragma once
// An HTTP(S) download as a ByteSource: libcurl fetches the body on a download thread, every block
// is kept in the spool and handed to the stream's DOWNLOADPROC as it arrives (then NULL once at the
// end of the transfer, with BASS_ErrorGetCode telling how it ended: never BASS_OK for a stream that
// did not open), and the decoder reads the spool back, waiting for bytes still to come.
//
// Threads: the download thread runs curl, writes the spool and calls the DOWNLOADPROC. The decoder
// side (Read, Seek, Tell) is used by one thread at a time (whoever holds the stream's decoder).
// Everything else may be called from any thread. The counters they exchange (Shared) are reachable
// only under one lock, held only for bookkeeping: spool reads and writes and the DOWNLOADPROC run
// without it. Functions that need it held take the held lock as a parameter.
//
// Memory: the spool is an unlinked temporary file (in $TMPDIR, else /var/tmp, else /tmp), so a
// stream of any size costs the process a few buffers, and seeking back works across everything that
// has arrived. The download runs at most kMaxAheadBytes ahead of the decoder, then waits for it to
// catch up, so even a stream that claims 20 GB takes the disk only as it is played. Up to
// kKeepWholeBytes are kept whole; beyond that (a stream without end), what lies more than
// kKeepBehindBytes behind the decoder is given back. Without a writable temporary folder the spool
// is a window in memory: kMemoryAheadBytes ahead, kMemoryBehindBytes behind.
//
// Time-outs: connectTimeoutMs bounds the connection and every silence while the stream is being
// opened (and openLimitMs the whole open, so a server that drips a byte now and then cannot hold
// the opener); once the stream is open (Opened), the download waits out silences up to
// stallTimeoutMs, so a server that pauses and resumes loses nothing.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ByteSource.h"
#include "Guarded.h"
#include "bass.h"

namespace orvane::bass {

// Where the bytes that arrived are kept (UrlSource.cpp: a temporary file, or memory).
class Spool;

class UrlSource : public ByteSource, public std::enable_shared_from_this<UrlSource> {
 public:
  static constexpr int64_t kMaxAheadBytes = 256LL << 20;
  static constexpr int64_t kKeepWholeBytes = 1LL << 30;
  static constexpr int64_t kKeepBehindBytes = 64LL << 20;
  static constexpr int64_t kMemoryAheadBytes = 8LL << 20;
  static constexpr int64_t kMemoryBehindBytes = 4LL << 20;
  static constexpr size_t kMaxPlaylistBytes = 256 * 1024;
  static constexpr int kMaxPlaylistHops = 3;

  struct Options {
    std::string url;          // as requested: escaped already
    uint64_t offset = 0;      // first byte wanted (HTTP Range)
    int connectTimeoutMs = 5000;
    int stallTimeoutMs = 30000;
    int openLimitMs = 0;      // 0: five connect time-outs, at least 5 s
    int64_t aheadBytes = kMaxAheadBytes;  // with a spool file; the memory window has its own
    bool followPlaylists = false;
    DOWNLOADPROC* proc = nullptr;
    void* user = nullptr;
    std::string spoolFolder;  // empty: $TMPDIR, /var/tmp, /tmp (the first that takes a file)
    bool spoolInMemory = false;  // tests: the memory window even where a file could be made
  };

  // Starts the download thread; reads then wait for its bytes.
  static std::shared_ptr<UrlSource> Start(const Options& options);
  ~UrlSource() override;
  UrlSource(const UrlSource&) = delete;
  UrlSource& operator=(const UrlSource&) = delete;

  // ByteSource (decoder side).
  int Read(uint8_t* buffer, int size) override;
  // Anywhere from the first byte still kept to the announced end (a read there waits for it).
  bool Seek(int64_t offset) override;
  int64_t Tell() const override;
  int64_t Size() const override;
  std::string NameHint() const override;
  bool SeekableWhileOpening() const override { return false; }

  // The stream is open: from now on silences are waited out up to stallTimeoutMs, and a transfer
  // that ends cleanly is reported so (until then the end mark waits; Cancel gives up on it).
  void Opened();
  // While set, a Read that would wait returns AVERROR_EXIT at once (a seek or free is waiting
  // for the decoder).
  void SetInterrupt(bool on);
  // Ends the download soon, without waiting: reads of bytes not yet arrived return at once, and
  // the download thread stops at its next step, making its NULL call (BASS_ERROR_ENDED).
  void Abort();
  // Ends the download. The DOWNLOADPROC gets its NULL call (BASS_ERROR_ENDED) on the download
  // thread before this returns — except when called on the download thread itself (from within
  // the DOWNLOADPROC): then no further call is made and the thread finishes on its own.
  void Cancel();

  // Until all bytes have arrived: waits until at least count bytes have, or the transfer ended.
  void WaitForBytes(int64_t count);

  int64_t ContentLength() const;  // 0 when the server did not say
  int64_t Downloaded() const;
  int64_t HeldStart() const;      // first byte still kept
  int64_t ReadAhead() const;      // downloaded but not yet read by the decoder
  bool Connected() const;
  // BASS_OK while running or after a complete transfer; else why it failed.
  int Failure() const;
  // Bytes of the stream the process holds in memory, and whether the spool is a file.
  int64_t MemoryHeld() const;
  bool SpooledToFile() const;

 private:
  struct Transfer;
  // The bookkeeping the download thread and the decoder side exchange; only reachable under its
  // lock. The spool's reads and writes and the DOWNLOADPROC run without it.
  struct Shared {
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
    void* wakeHandle = nullptr;  // the transfer's curl multi handle, for curl_multi_wakeup
  };
  using SharedLock = Guarded<Shared>::Locked;
  // The download thread. Start sets both under the lock before the thread can get it, so a Cancel
  // from within the DOWNLOADPROC (on that very thread) finds them set.
  struct DownloadThread {
    std::thread thread;
    std::thread::id id;
  };

  explicit UrlSource(Options options);
  void Run();
  int RunTransfer(const std::string& url, std::string& playlistEntry);
  bool SetUpTransfer(Transfer& transfer, const std::string& url);
  int TransferLoop(Transfer& transfer);
  int ResolvePlaylist(const Transfer& transfer, const std::string& url, std::string& playlistEntry) const;
  size_t OnBody(Transfer& transfer, const char* data, size_t size);
  void DecideKind(Transfer& transfer);  // playlist or media, from the first bytes
  void BeginMedia(Transfer& transfer);  // the body is media: note its length and final URL
  bool Deliver(const char* data, size_t size);
  void Finish(int code);
  bool ShouldPause(const SharedLock& s) const;
  void ResumeIfWanted(SharedLock& s);  // wakes a paused download the reader has caught up with
  int64_t ReleasePoint(const SharedLock& s) const;  // where the kept bytes may start now
  void Abort(SharedLock& s);

  const Options options;
  std::unique_ptr<Spool> spool;
  const int64_t aheadLimit;
  const int64_t keepWhole;
  const int64_t keepBehind;
  Guarded<DownloadThread> downloadThread;
  std::mutex joining;  // one Cancel joins the thread; a second one waits until it has
  std::atomic<bool> opened{false};  // set under the shared lock, so waits on `arrived` see it
  const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();

  mutable Guarded<Shared> shared;
  std::condition_variable arrived;
  std::atomic<bool> procDisabled{false};
};

}  // namespace orvane::bass
