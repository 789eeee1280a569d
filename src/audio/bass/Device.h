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
// Threads: Open/Close/SetPaused run on API threads, serialised by the library's init mutex.
// Activate runs on any thread and never waits. The keeper thread alone opens and closes the SDL
// device after Open; it sleeps on an atomic counter (pokes) between requests.
// The callback runs on SDL's audio thread; it walks the attached list under mixMutex and calls
// Channel::MixInto, which copies from lock-free rings: no allocation, no waiting. The attached list
// changes only under mixMutex (Attach/Detach, and OutputLock for anyone who must change what the
// callback reads); the callback holds it for one period's mix — so a holder waits at most one
// callback, and the callback never waits for a decoder.
// Lock order: the library's init mutex, then mixMutex. The keeper never holds mixMutex while it
// calls SDL, because closing the device waits for the callback.
//
// The manual device (tests; ManualOutput.h) stands where SDL's device would: nothing plays until
// PullManual is called, which mixes exactly as the callback does, under mixMutex. So a test hears
// exactly the frames it asks for, whatever the machine's load. It has no keeper.

#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvane::bass {

class Channel;

class Device {
 public:
  // ≈ 93 ms per callback, about the update period sound libraries of this kind default to: a
  // player needs no lower latency (the position reported allows for it), and every callback is a
  // wake-up of the sound thread, which on a virtual machine costs more than the mix itself.
  static constexpr int kPeriodFrames = 4096;
  static constexpr size_t kMaxAttached = 256;
  // Periods without a playing stream before the SDL device is closed (≈ 0.5 s): long enough that
  // the next song of a list, opened right after the last one stopped, finds it still running.
  static constexpr int kIdlePeriods = 6;

  Device() = default;
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // BASS_OK, or BASS_ERROR_DRIVER (no SDL audio back end), BASS_ERROR_DEVICE (no such device or
  // it does not open), BASS_ERROR_ALREADY. The device is started (see SetPaused). Opens the manual
  // device instead when one was asked for.
  int Open(int device);
  void Close();
  bool IsOpen() const { return initialised.load(std::memory_order_acquire); }
  // Pauses or resumes the whole output (BASS_Stop / BASS_Start).
  bool SetPaused(bool paused);
  // A stream has started to play: the SDL device is opened again if it was closed. Returns at once.
  void Activate();
  // Whether the SDL device is open now (it is closed while nothing plays).
  bool Running() const { return sdl.load(std::memory_order_acquire) != 0; }

  // Frames the device still holds after the callback handed them over (one period).
  int LatencyFrames() const { return latencyFrames.load(std::memory_order_relaxed); }

  // Adds a stream to the mix; false when the device is closed or kMaxAttached streams are attached.
  bool Attach(std::shared_ptr<Channel> channel);
  // Removes it; on return the callback no longer touches it.
  void Detach(const Channel* channel);
  // Detaches every stream (for BASS_Free).
  std::vector<std::shared_ptr<Channel>> DetachAll();

  // Excludes the callback while held.
  void Lock() { mixMutex.lock(); }
  void Unlock() { mixMutex.unlock(); }

  // The manual device: asked for before Open; PullManual mixes the next frames into out (which it
  // clears first), period by period, each once every playing stream has it decoded or waitMs has
  // passed. False when no manual device is open.
  void UseManual(bool on) { manualWanted.store(on); }
  bool PullManual(float* out, size_t frames, int waitMs);

 private:
  static void SDLCALL Callback(void* user, Uint8* stream, int length);
  void Mix(float* out, int frames);
  // Caller holds mixMutex; true when a stream plays.
  bool MixLocked(float* out, int frames);
  bool ReadyToMix(size_t frames);  // under mixMutex
  bool AnyPlaying();
  // SDL device; 0 when it does not open.
  int OpenManual();
  SDL_AudioDeviceID OpenSdl();
  void CloseSdl();
  void Poke();
  void Keep();

  std::atomic<bool> initialised{false};
  std::atomic<SDL_AudioDeviceID> sdl{0};
  std::atomic<bool> manualWanted{false};
  std::atomic<bool> manualOpen{false};
  std::atomic<bool> manualPaused{false};
  bool subsystemStarted = false;
  bool closeWhenIdle = true;  // false for the disk driver
  std::string deviceName;     // empty: the default device
  std::atomic<int> latencyFrames{kPeriodFrames};

  std::atomic<bool> started{false};    // BASS_Start rather than BASS_Stop
  std::atomic<uint32_t> pokes{0};      // the keeper re-checks whenever this changes
  std::atomic<bool> keeperQuit{false};
  std::thread keeper;
  int idlePeriods = 0;       // callback only
  bool idleReported = false;  // callback only

  std::mutex mixMutex;
  // Changed only under mixMutex; the callback reads mix.
  std::vector<Channel*> mix;
  std::vector<std::shared_ptr<Channel>> owners;
};

// RAII holder of Device::Lock.
class OutputLock {
 public:
  explicit OutputLock(Device& device) : device(device) { device.Lock(); }
  ~OutputLock() { device.Unlock(); }
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;

 private:
  Device& device;
};

}  // namespace orvane::bass
