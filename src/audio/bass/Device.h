#pragma once
// The sound output: one SDL2 audio device at 44,100 Hz stereo float, whose callback mixes (sums)
// the streams attached to it.
//
// The SDL device runs only while a stream plays. A paused SDL device still wakes every period to
// write silence, so the device is closed instead: the callback notices that nothing has played for
// kIdlePeriods periods and asks the keeper thread to close it; Channel::Play calls Activate, and
// the keeper opens it again (well under a millisecond on the dummy driver, a server round trip on
// PulseAudio). Nothing of the output wakes while nothing plays. SDL's disk driver is the exception:
// it starts its file anew at every open, so with it the device stays open (paused only by
// BASS_Stop).
//
// A lost output: when the sound server goes away, SDL marks the device disconnected but goes on
// calling the callback in real time, into nothing. The callback checks the device at every period;
// on a lost device it stops mixing (so positions stand still) and sets OutputLost, and the keeper
// closes the device, starts SDL's audio anew (a back end that lost its server keeps a dead
// connection) and opens it again — retrying with growing pauses while a stream wants to play. The
// same happens when no device opens at all (the server has not started yet). Streams then go on
// from where they stood.
//
// Threads: Open/Close/SetPaused run on API threads, serialised by the library's init mutex.
// Activate runs on any thread and never waits. The keeper thread alone opens and closes the SDL
// device (and restarts SDL's audio) between Open and Close; it sleeps on an atomic counter (pokes)
// between requests, and on retryWake while it waits to retry.
// The callback runs on SDL's audio thread; it walks the attached list under the output lock and
// calls Channel::MixInto, which copies from lock-free rings: no allocation, no waiting. What the
// callback reads (MixState) is reachable only under that lock (Guarded.h): Attach/Detach, and
// LockOutput for anyone who must change what the callback reads. The callback holds it for one
// period's mix — so a holder waits at most one callback, and the callback never waits for a
// decoder.
// Lock order: the library's init mutex, then the output lock. The keeper never holds the output
// lock while it calls SDL, because closing the device waits for the callback.
//
// The manual device (tests; ManualOutput.h) stands where SDL's device would: nothing plays until
// PullManual is called, which mixes exactly as the callback does, under the output lock. So a test
// hears exactly the frames it asks for, whatever the machine's load. It has no keeper.

#include <SDL.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Guarded.h"

namespace orvane::bass {

class Channel;

class Device {
  // What the callback reads.
  struct MixState {
    std::vector<Channel*> mix;
    std::vector<std::shared_ptr<Channel>> owners;
  };

 public:
  // ≈ 93 ms per callback, about the update period sound libraries of this kind default to: a
  // player needs no lower latency (the position reported allows for it), and every callback is a
  // wake-up of the sound thread, which on a virtual machine costs more than the mix itself.
  static constexpr int kPeriodFrames = 4096;
  static constexpr size_t kMaxAttached = 256;
  // Periods without a playing stream before the SDL device is closed (≈ 0.5 s): long enough that
  // the next song of a list, opened right after the last one stopped, finds it still running.
  static constexpr int kIdlePeriods = 6;
  // Pauses between attempts to open a missing output: doubling from the first to the longest.
  static constexpr std::chrono::milliseconds kFirstRetry{250};
  static constexpr std::chrono::milliseconds kLongestRetry{2000};

  // Held: the callback does not run (it reads nothing while a holder changes what it reads).
  using OutputLock = Guarded<MixState>::Locked;

  Device() = default;
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // BASS_OK, or BASS_ERROR_DRIVER (no such SDL audio back end), BASS_ERROR_DEVICE (no such device
  // N > 1, or the disk driver does not open), BASS_ERROR_ALREADY. The device is started (see
  // SetPaused). A default device that does not open now is opened later (see above). Opens the
  // manual device instead when one was asked for.
  int Open(int device);
  void Close();
  bool IsOpen() const { return initialised.load(std::memory_order_acquire); }
  // Pauses or resumes the whole output (BASS_Stop / BASS_Start).
  bool SetPaused(bool paused);
  // A stream has started to play: the SDL device is opened again if it was closed. Returns at once.
  void Activate();
  // Whether the SDL device is open now (it is closed while nothing plays).
  bool Running() const { return sdl.load(std::memory_order_acquire) != 0; }
  // No sound output hears the streams: the device went away, or none opened when one was wanted.
  bool OutputLost() const { return outputLost.load(std::memory_order_acquire); }

  // Frames the device still holds after the callback handed them over (one period).
  int LatencyFrames() const { return latencyFrames.load(std::memory_order_relaxed); }

  // Adds a stream to the mix; false when the device is closed or kMaxAttached streams are attached.
  bool Attach(std::shared_ptr<Channel> channel);
  // Removes it; on return the callback no longer touches it.
  void Detach(const Channel* channel);
  // Detaches every stream (for BASS_Free).
  std::vector<std::shared_ptr<Channel>> DetachAll();

  // Excludes the callback while the returned lock is held.
  OutputLock LockOutput() { return mixState.Lock(); }

  // The manual device: asked for before Open; PullManual mixes the next frames into out (which it
  // clears first), period by period, each once every playing stream has it decoded or waitMs has
  // passed. False when no manual device is open.
  void UseManual(bool on) { manualWanted.store(on); }
  bool PullManual(float* out, size_t frames, int waitMs);

 private:
  static void SDLCALL Callback(void* user, Uint8* stream, int length);
  void Mix(float* out, int frames);
  // True when a stream plays.
  bool MixLocked(OutputLock& output, float* out, int frames);
  bool ReadyToMix(OutputLock& output, size_t frames);
  bool AnyPlaying();
  // From the callback: the SDL device has been disconnected (the keeper is closing it instead).
  bool DeviceGone();
  int OpenManual();
  // SDL device; 0 when it does not open.
  SDL_AudioDeviceID OpenSdl();
  void CloseSdl();
  // Keeper: opens the output for a stream that wants to play; false (and OutputLost) when none opens.
  bool OpenOutput();
  void RestartSdlAudio();
  void WaitToRetry(std::chrono::milliseconds pause);
  void Poke();
  void Keep();

  std::atomic<bool> initialised{false};
  std::atomic<SDL_AudioDeviceID> sdl{0};
  std::atomic<bool> manualWanted{false};
  std::atomic<bool> manualOpen{false};
  std::atomic<bool> manualPaused{false};
  // Set by Open before the keeper starts; then the keeper's until Close has joined it.
  bool subsystemStarted = false;
  bool closeWhenIdle = true;  // false for the disk driver
  std::string deviceName;     // empty: the default device
  std::atomic<int> latencyFrames{kPeriodFrames};

  std::atomic<bool> started{false};    // BASS_Start rather than BASS_Stop
  std::atomic<bool> outputLost{false};
  std::atomic<bool> deviceGone{false};  // the callback found the SDL device disconnected
  std::atomic<uint32_t> pokes{0};      // the keeper re-checks whenever this changes
  std::atomic<bool> keeperQuit{false};
  std::mutex retryMutex;               // only for retryWake's wait
  std::condition_variable retryWake;   // Close ends a wait to retry at once
  std::thread keeper;
  int idlePeriods = 0;       // callback only
  bool idleReported = false;  // callback only

  // Capacity reserved at Open: nothing is allocated under the lock.
  Guarded<MixState> mixState;
};

}  // namespace orvane::bass
