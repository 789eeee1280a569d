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

#include <SDL.h>

#include <atomic>
#include <memory>
#include <vector>

namespace orvane::bass {

class Channel;

class Device {
 public:
  static constexpr int kPeriodFrames = 1024;  // ≈ 23 ms per callback
  static constexpr size_t kMaxAttached = 256;

  // BASS_OK, or BASS_ERROR_DRIVER (no SDL audio back end), BASS_ERROR_DEVICE (no such device or
  // it does not open), BASS_ERROR_ALREADY.
  int Open(int device);
  void Close();
  bool IsOpen() const { return id.load(std::memory_order_acquire) != 0; }
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

 private:
  static void SDLCALL Callback(void* user, Uint8* stream, int length);
  void Mix(float* out, int frames);

  std::atomic<SDL_AudioDeviceID> id{0};
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
