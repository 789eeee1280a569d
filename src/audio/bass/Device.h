#pragma once
// The sound output: one SDL2 audio device at 44,100 Hz stereo float, whose callback mixes (sums)
// the streams attached to it.
//
// Threads: Open/Close/SetPaused run on API threads, serialised by the library's init mutex.
// The callback runs on SDL's audio thread; it walks the attached list and calls Channel::MixInto,
// which copies from lock-free rings: no allocation, no waiting. The attached list changes only
// under SDL's device lock (Attach/Detach, and OutputLock for anyone who must change what the
// callback reads), which SDL holds for the duration of one callback — so a holder waits at most
// one callback, and the callback never waits for a decoder.
//
// The manual device (tests; ManualOutput.h) stands where SDL's device would: nothing plays until
// PullManual is called, which mixes exactly as the callback does, under the device's own lock. So a
// test hears exactly the frames it asks for, whatever the machine's load.

#include <SDL.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace orvane::bass {

class Channel;

class Device {
 public:
  static constexpr int kPeriodFrames = 1024;  // ≈ 23 ms per callback
  static constexpr size_t kMaxAttached = 256;

  // BASS_OK, or BASS_ERROR_DRIVER (no SDL audio back end), BASS_ERROR_DEVICE (no such device or
  // it does not open), BASS_ERROR_ALREADY. Opens the manual device instead when one was asked for.
  int Open(int device);
  void Close();
  bool IsOpen() const { return id.load(std::memory_order_acquire) != 0 || manualOpen.load(std::memory_order_acquire); }
  // Pauses or resumes the whole output.
  bool SetPaused(bool paused);

  // Frames the device still holds after the callback handed them over (one period).
  int LatencyFrames() const { return latencyFrames; }

  // Adds a stream to the mix; false when the device is closed or kMaxAttached streams are attached.
  bool Attach(std::shared_ptr<Channel> channel);
  // Removes it; on return the callback no longer touches it.
  void Detach(const Channel* channel);
  // Detaches every stream (for BASS_Free).
  std::vector<std::shared_ptr<Channel>> DetachAll();

  // Excludes the callback while held (no-op when the device is closed).
  void Lock();
  void Unlock();

  // The manual device: asked for before Open; PullManual mixes the next frames into out (which it
  // clears first), period by period, each once every playing stream has it decoded or waitMs has
  // passed. False when no manual device is open.
  void UseManual(bool on) { manualWanted.store(on); }
  bool PullManual(float* out, size_t frames, int waitMs);

 private:
  static void SDLCALL Callback(void* user, Uint8* stream, int length);
  void Mix(float* out, int frames);
  bool ReadyToMix(size_t frames);  // under the device lock

  std::atomic<SDL_AudioDeviceID> id{0};
  std::atomic<bool> manualWanted{false};
  std::atomic<bool> manualOpen{false};
  std::atomic<bool> manualPaused{false};
  std::mutex manualLock;  // the manual device's "callback" lock
  bool subsystemStarted = false;
  int latencyFrames = kPeriodFrames;
  // Changed only under the device lock; the callback reads mix.
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
