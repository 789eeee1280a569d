#pragma once
// Single-producer single-consumer ring of stereo float frames between a stream's decoder thread
// (producer) and the output callback (consumer). Lock-free: the two sides only exchange the two
// monotonic counters. Reset() needs both sides excluded (the caller holds the decoder's mutex and
// the output lock).

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace orvane::bass {

class FrameRing {
 public:
  static constexpr int kChannels = 2;

  // capacityFrames is rounded up to a power of two.
  explicit FrameRing(size_t capacityFrames) {
    capacity = 1;
    while (capacity < capacityFrames) capacity <<= 1;
    samples = std::make_unique<float[]>(capacity * kChannels);
  }

  size_t Capacity() const { return capacity; }

  // Frames written / read since the last Reset.
  uint64_t WriteCount() const { return writeCount.load(std::memory_order_acquire); }
  uint64_t ReadCount() const { return readCount.load(std::memory_order_acquire); }
  size_t Available() const { return static_cast<size_t>(WriteCount() - ReadCount()); }
  size_t Free() const { return capacity - Available(); }

  // Producer: contiguous room at the write position, at most maxFrames frames.
  float* WriteRegion(size_t maxFrames, size_t& frames) {
    const uint64_t w = writeCount.load(std::memory_order_relaxed);
    const size_t index = static_cast<size_t>(w) & (capacity - 1);
    frames = std::min({maxFrames, Free(), capacity - index});
    return samples.get() + index * kChannels;
  }
  void CommitWrite(size_t frames) { writeCount.fetch_add(frames, std::memory_order_release); }

  // Consumer: contiguous frames at the read position, at most maxFrames.
  float* ReadRegion(size_t maxFrames, size_t& frames) {
    const uint64_t r = readCount.load(std::memory_order_relaxed);
    const size_t index = static_cast<size_t>(r) & (capacity - 1);
    frames = std::min({maxFrames, Available(), capacity - index});
    return samples.get() + index * kChannels;
  }
  void CommitRead(size_t frames) { readCount.fetch_add(frames, std::memory_order_release); }

  void Reset() {
    readCount.store(0, std::memory_order_relaxed);
    writeCount.store(0, std::memory_order_release);
  }

 private:
  size_t capacity = 0;
  std::unique_ptr<float[]> samples;
  std::atomic<uint64_t> writeCount{0};
  std::atomic<uint64_t> readCount{0};
};

}  // namespace orvane::bass
