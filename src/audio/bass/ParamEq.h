#pragma once
// Peaking equaliser chain of one stream (BASS_FX_DX8_PARAMEQ effects): RBJ peaking biquads in
// series, in the order the stream's effects are sorted.
//
// Threads: the control side (Add/Remove/Set/Get) runs on API threads, serialised by the stream's
// control mutex; it computes coefficients there and publishes them under a small mutex. The audio
// side (Process) runs on one thread at a time — the output callback for played streams, the
// caller of BASS_ChannelGetData for decoding channels — and picks up a new publication with
// try_lock only, so it never waits. Changes are glided over kRampFrames so they never click.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace orvane::bass {

struct PeakingParams {
  float centerHz = 80.0f;
  float bandwidthSemitones = 12.0f;
  float gainDb = 0.0f;
};

// Clamps to the ranges the interface documents: centre 80…16000 Hz, bandwidth 1…36 semitones,
// gain -15…+15 dB. Not-a-number values become the defaults.
PeakingParams ClampPeaking(PeakingParams params);

// Normalised biquad: y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2.
struct BiquadCoeffs {
  float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
  bool IsIdentity() const { return b0 == 1 && b1 == a1 && b2 == a2; }
};

// RBJ cookbook peaking filter (bandwidth in octaves = semitones / 12), designed in double.
// Gain 0 dB gives exactly the identity.
BiquadCoeffs DesignPeaking(const PeakingParams& params, double sampleRate);

class EqChain {
 public:
  static constexpr int kMaxFilters = 16;
  // Glide of a parameter change (≈ 20 ms).
  static constexpr int kRampFrames = 896;
  // A filter that returned to 0 dB runs this long before it is dropped, so its ring-out fades.
  static constexpr int kSettleFrames = 8192;

  // ---- control side ----
  // A new filter at 0 dB. Filters run in descending priority, equal priorities in the order added.
  bool Add(uint32_t id, int priority);
  bool Remove(uint32_t id);
  bool Set(uint32_t id, const PeakingParams& params);
  bool Get(uint32_t id, PeakingParams& params) const;

  // ---- audio side ----
  // Filters count frames of interleaved stereo float in place.
  void Process(float* frames, size_t count);

 private:
  struct ControlFilter {
    uint32_t id;
    int priority;
    PeakingParams params;
  };
  struct Published {
    int count = 0;
    uint32_t ids[kMaxFilters] = {};
    BiquadCoeffs coeffs[kMaxFilters];
  };
  // Per-filter state on the audio side.
  struct LiveFilter {
    uint32_t id = 0;
    float current[5] = {1, 0, 0, 0, 0};
    float target[5] = {1, 0, 0, 0, 0};
    float z1[2] = {};
    float z2[2] = {};
    int quietFrames = 0;  // frames spent at identity with nothing left to glide
  };

  void PublishLocked();  // control side, under publishMutex
  void Adopt(const Published& config);
  void RunActive(float* frames, size_t count);

  // control side
  ControlFilter filters[kMaxFilters] = {};
  int filterCount = 0;

  std::mutex publishMutex;
  Published published;  // under publishMutex
  std::atomic<uint32_t> publishedVersion{0};

  // audio side
  uint32_t adoptedVersion = 0;
  LiveFilter live[kMaxFilters];
  int liveCount = 0;
  int rampLeft = 0;  // frames of glide left
};

}  // namespace orvane::bass
