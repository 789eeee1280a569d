#pragma once
// One stream: its decoder, the ring between decoder thread and output, its state, volume,
// equaliser chain, syncs and the history the wave display reads.
//
// Threads:
//  - API threads call the public functions; the control lock (`control`) serialises them per
//    stream. What it guards is reachable only through a held lock (Guarded.h), and functions that
//    need it take the held lock as a parameter.
//  - The decoder thread (started at the first Play) fills the ring, carries out seeks of URL
//    streams and runs the SYNCPROCs. It holds the decoder lock (`decoding`) only while decoding one
//    portion or seeking; it sleeps on `wake` (an atomic wait, no busy loop) when the ring is more
//    than half full, the stream has been decoded to its end, or an API call is waiting for it.
//  - The output callback calls MixInto: reads the ring, runs the equaliser and volume, and writes
//    the history (try_lock only). It never waits and never allocates.
//  - Seeks need both ends of the ring quiet: they hold the decoder lock (the producer) and the
//    output lock (the consumer) while resetting it. A file is then sought on the caller's thread.
//    A played URL stream is sought by the decoder thread instead, since finding the target may
//    wait for the network: the call returns at once, the position is the target from then on and
//    the channel is stalled until the decoder has found it.
// Lock order: control, then decoding, then the output lock. The decoder thread takes the control
// lock only when it holds nothing else.
// Decoding channels (BASS_STREAM_DECODE) have no thread and no ring: BASS_ChannelGetData decodes
// on the caller's thread under both locks and calls the END syncs there, after releasing them.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "Decoder.h"
#include "FrameRing.h"
#include "Guarded.h"
#include "ParamEq.h"
#include "bass.h"

namespace orvane::bass {

class Device;
class UrlSource;

class Channel : public std::enable_shared_from_this<Channel> {
 public:
  // Played streams keep this many frames decoded ahead (≈ 1.5 s); the decoder wakes to refill
  // when half of it has been played, so it sleeps most of the time.
  static constexpr size_t kRingFrames = 65536;
  // Frames decoded per turn of the decoder thread: short enough that a seek never waits long for
  // the decoder mutex, long enough that a refill is a handful of turns.
  static constexpr size_t kPortionFrames = 8192;
  // Frames of output kept for BASS_ChannelGetData on played streams.
  static constexpr size_t kHistoryFrames = 1024;

  Channel(Device& device, std::unique_ptr<Decoder> decoder, std::shared_ptr<UrlSource> url, DWORD flags);
  ~Channel();
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  void SetHandle(DWORD value) { handle = value; }
  DWORD Handle() const { return handle; }
  DWORD Flags() const { return flags; }
  bool IsDecodeOnly() const { return (flags & BASS_STREAM_DECODE) != 0; }

  // Each returns a BASS error code (BASS_OK on success).
  int Play(bool restart);
  int Pause();
  int Stop();
  DWORD IsActive() const;
  // Told to play (IsActive may still say stalled, or paused for want of an output).
  bool Playing() const { return state.load(std::memory_order_acquire) == BASS_ACTIVE_PLAYING; }
  int SetVolume(float value);
  float Volume() const { return volume.load(std::memory_order_relaxed); }
  int SetPosition(int64_t frame);
  // Frames; -1 when unknown.
  int64_t LengthFrames() const { return lengthFrames.load(std::memory_order_acquire); }
  int64_t PositionFrames();
  // See BASS_ChannelGetData. Returns bytes or (DWORD)-1 with error set.
  DWORD GetData(void* buffer, DWORD length, int& error);

  int AddSync(HSYNC sync, DWORD type, SYNCPROC* proc, void* user);
  bool RemoveSync(HSYNC sync);
  std::vector<HSYNC> SyncHandles();

  int AddFx(HFX fx, int priority);
  bool RemoveFx(HFX fx);
  bool SetFx(HFX fx, const PeakingParams& params);
  bool GetFx(HFX fx, PeakingParams& params);
  std::vector<HFX> FxHandles();

  // BASS_StreamGetFilePosition; -1 when the mode does not apply.
  int64_t FilePosition(DWORD mode);
  // Raw tags of the container (see Decoder::Tags); fixed at open, safe from any thread.
  const std::map<std::string, std::string>& Tags() const { return tags; }

  // Stops threads and detaches from the output. On return no callback of this stream runs — unless
  // called from one of its own callbacks, which then is the last one (see bass.h).
  void Free();
  bool IsFreed();

  // Output callback only.
  void MixInto(float* out, size_t frames);
  // Whether MixInto would find frames frames (or the stream's end, or nothing to play) now, with
  // an end already heard reported.
  bool HasFramesFor(size_t frames) const;

  // Frees the stream's handle when a BASS_STREAM_AUTOFREE stream has ended (set by the library
  // before the stream is first played; called on the decoder thread).
  std::function<void(DWORD)> onAutoFree;

 private:
  struct Sync {
    HSYNC handle;
    DWORD type;
    SYNCPROC* proc;
    void* user;
  };

  // What the control lock guards.
  struct ControlState {
    bool freed = false;
    bool attached = false;
    bool endedRun = false;  // played to its end; Play starts over
    std::vector<HFX> fxHandles;
  };
  using ControlLock = Guarded<ControlState>::Locked;

  // What the decoder lock guards.
  struct DecodeState {
    std::unique_ptr<Decoder> decoder;
    int64_t decodePosition = 0;    // decoding channels: frames handed out
    bool decodeEndFired = false;   // decoding channels
    float appliedVolume = 1.0f;    // decoding channels: the gain the last block ended at…
    bool volumeApplied = false;    // …once a block has been handed out
    int64_t seekTarget = -1;       // played URL streams: the frame the decoder thread is to find
    int64_t seekFallback = 0;      // …and where to go on when that frame cannot be reached
  };
  using DecodeLock = Guarded<DecodeState>::Locked;

  void DecoderThread();
  void FillRing();
  void RunPendingSeek();
  void HandleHeardEnd();
  void FireEndSyncs();
  int Seek(ControlLock& control, int64_t frame);
  // Empties the ring for playback from frame on (needs the decoder lock and takes the output lock).
  void RestartRingAt(ControlLock& control, DecodeLock& decoding, int64_t frame);
  int64_t HeardFrames(ControlLock& control);
  bool SeeksOnDecoderThread() const { return url != nullptr && !IsDecodeOnly(); }
  void Wake();
  bool EnsureThread();
  void WriteHistory(const float* frames, size_t count);

  Device& device;
  const DWORD flags;
  DWORD handle = 0;
  const std::map<std::string, std::string> tags;

  Guarded<ControlState> control;
  Guarded<DecodeState> decoding;
  std::shared_ptr<UrlSource> url;  // null for files; thread-safe itself

  std::unique_ptr<FrameRing> ring;   // created before the first attach; then fixed
  EqChain eq;

  std::atomic<int> state{BASS_ACTIVE_STOPPED};
  std::atomic<float> volume{1.0f};
  float appliedVolume = 1.0f;  // audio side: the gain the last mix ended at…
  bool sounding = false;       // …and whether that mix was part of this run (not paused, stopped)
  std::atomic<int64_t> lengthFrames{-1};
  // Stream frame of ring counter 0, and the lowest position to report (the last seek target).
  std::atomic<int64_t> ringStartFrame{0};
  std::atomic<int64_t> heardFloor{0};
  std::atomic<bool> decodeEnded{false};  // the ring holds the stream's last frame
  std::atomic<int64_t> tailFrames{0};    // silence played after the last frame
  std::atomic<bool> heardEnd{false};     // set by the output, consumed by the decoder thread
  std::atomic<bool> endUnreported{false};  // heard, and the decoder thread has not dealt with it yet
  std::atomic<bool> starved{false};
  std::atomic<int> controlWaiting{0};    // API calls waiting for the decoder lock
  std::atomic<bool> seekWanted{false};   // DecodeState::seekTarget is set

  std::thread thread;
  std::thread::id threadId;
  std::atomic<uint32_t> wake{0};
  std::atomic<bool> quit{false};

  std::mutex syncMutex;
  std::vector<Sync> syncs;

  std::mutex historyMutex;
  float history[kHistoryFrames * 2] = {};
  size_t historyWrite = 0;  // next frame slot
};

}  // namespace orvane::bass
