#pragma once
// Peaking equaliser chain of one stream (BASS_FX_DX8_PARAMEQ effects): RBJ peaking filters in
// series, in the order the stream's effects are sorted.
//
// Each filter has exactly the RBJ cookbook's peaking biquad response (the bilinear transform of
// H(s) = (s² + s·A/Q + 1) / (s² + s/(A·Q) + 1), prewarped at the centre), realised as a
// trapezoidal state-variable filter: in 32-bit float it stays accurate down to the 80 Hz band with
// large gains, where a direct-form biquad loses about 30 dB of precision, and its parameters can
// glide without the filter ever passing through an unstable state.
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

// State-variable form: g = tan(w0 / 2), k = 1 / (Q·A), m1 = k·(A² - 1); the output is
// x + m1·(band-pass state). Gain 0 dB gives m1 = 0: exactly the identity.
struct PeakingCoeffs {
  float g = 0.01f;
  float k = 1.0f;
  float m1 = 0.0f;
  bool IsIdentity() const { return m1 == 0.0f; }
};

// RBJ cookbook peaking filter (bandwidth in octaves = semitones / 12, Q from it as the cookbook
// derives it), designed in double.
PeakingCoeffs DesignPeaking(const PeakingParams& params, double sampleRate);

// Tests only: run the 4-lane kernels even where the 8-lane ones would be used, so both are tested
// on one machine.
void UseBaselineEqKernelsForTesting(bool on);

class EqChain {
 public:
  static constexpr int kMaxFilters = 16;
  // Glide of a parameter change (≈ 20 ms).
  static constexpr int kRampFrames = 896;

  // ---- control side ----
  // A new filter at 0 dB. Filters run in descending priority, equal priorities in the order added.
  bool Add(uint32_t id, int priority);
  bool Remove(uint32_t id);
  bool Set(uint32_t id, const PeakingParams& params);
  bool Get(uint32_t id, PeakingParams& params) const;

  // ---- audio side ----
  // Filters count frames of interleaved stereo float in place.
  void Process(float* frames, size_t count);

  // Per-filter state on the audio side (public for the kernels in ParamEq.cpp).
  struct LiveFilter {
    uint32_t id = 0;
    PeakingCoeffs current;
    PeakingCoeffs target;
    float ic1[2] = {};  // integrator states, left and right
    float ic2[2] = {};
  };

 private:
  struct ControlFilter {
    uint32_t id;
    int priority;
    PeakingParams params;
  };
  struct Published {
    int count = 0;
    uint32_t ids[kMaxFilters] = {};
    PeakingCoeffs coeffs[kMaxFilters];
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
