#include "ParamEq.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvane::bass {
namespace {

// Four float lanes. The cascade keeps two filters per vector, left and right of each:
// lanes [L of filter 2v, R of filter 2v, L of filter 2v+1, R of filter 2v+1]. GCC's vector types
// compile to SSE on x86-64 and NEON on ARM without intrinsics.
typedef float V4 __attribute__((vector_size(16)));
typedef int32_t I4 __attribute__((vector_size(16)));

constexpr int kMaxVectors = EqChain::kMaxFilters / 2;
constexpr int kRampStride = 32;  // steps between coefficient updates while gliding

struct alignas(16) Lanes {
  V4 c[5][kMaxVectors];     // b0, b1, b2, a1, a2
  V4 step[5][kMaxVectors];  // added every kRampStride steps while gliding
  V4 z1[kMaxVectors];
  V4 z2[kMaxVectors];
};

// One step of the wavefront: filter k works on sample s - k, so all filters of the chain advance
// at once, each fed with what the filter before it produced one step earlier. Without that skew a
// cascade is one long dependency chain per sample; with it the work is four lanes wide.
template <int kVectors, bool kEdge>
inline void Step(Lanes& lanes, V4 (&prevY)[kMaxVectors], V4 x, int32_t s, int32_t n) {
  V4 in[kVectors];
  in[0] = __builtin_shuffle(x, prevY[0], I4{0, 1, 4, 5});
  for (int v = 1; v < kVectors; ++v) in[v] = __builtin_shuffle(prevY[v - 1], prevY[v], I4{2, 3, 4, 5});
  for (int v = 0; v < kVectors; ++v) {
    const V4 y = lanes.c[0][v] * in[v] + lanes.z1[v];
    const V4 z1 = lanes.c[1][v] * in[v] - lanes.c[3][v] * y + lanes.z2[v];
    const V4 z2 = lanes.c[2][v] * in[v] - lanes.c[4][v] * y;
    if constexpr (kEdge) {
      // At the ends of a block some filters have no sample to work on: keep their state.
      const I4 filter = I4{2 * v, 2 * v, 2 * v + 1, 2 * v + 1};
      const I4 sample = I4{s, s, s, s} - filter;
      const I4 active = (sample >= 0) & (sample < I4{n, n, n, n});
      lanes.z1[v] = active ? z1 : lanes.z1[v];
      lanes.z2[v] = active ? z2 : lanes.z2[v];
    } else {
      lanes.z1[v] = z1;
      lanes.z2[v] = z2;
    }
    prevY[v] = y;
  }
}

template <int kVectors>
void Cascade(float* io, int32_t n, Lanes& lanes, int& rampLeft) {
  constexpr int32_t kFilters = 2 * kVectors;
  const int32_t steps = n + kFilters - 1;
  V4 prevY[kMaxVectors] = {};
  for (int32_t s = 0; s < steps;) {
    const int32_t chunkEnd = std::min(steps, s + kRampStride);
    for (; s < chunkEnd; ++s) {
      V4 x = {0, 0, 0, 0};
      if (s < n) x = V4{io[2 * s], io[2 * s + 1], 0, 0};
      if (s < kFilters - 1 || s >= n) {
        Step<kVectors, true>(lanes, prevY, x, s, n);
      } else {
        Step<kVectors, false>(lanes, prevY, x, s, n);
      }
      const int32_t out = s - (kFilters - 1);
      if (out >= 0) {
        io[2 * out] = prevY[kVectors - 1][2];
        io[2 * out + 1] = prevY[kVectors - 1][3];
      }
    }
    if (rampLeft > 0) {
      for (int k = 0; k < 5; ++k) {
        for (int v = 0; v < kVectors; ++v) lanes.c[k][v] += lanes.step[k][v];
      }
      rampLeft -= kRampStride;
    }
  }
}

using CascadeFn = void (*)(float*, int32_t, Lanes&, int&);
constexpr CascadeFn kCascades[kMaxVectors + 1] = {nullptr,      Cascade<1>, Cascade<2>, Cascade<3>, Cascade<4>,
                                                  Cascade<5>, Cascade<6>, Cascade<7>, Cascade<8>};

void ToArray(const BiquadCoeffs& c, float (&out)[5]) {
  out[0] = c.b0;
  out[1] = c.b1;
  out[2] = c.b2;
  out[3] = c.a1;
  out[4] = c.a2;
}

bool IsIdentity(const float (&c)[5]) { return c[0] == 1 && c[1] == c[3] && c[2] == c[4]; }

}  // namespace

PeakingParams ClampPeaking(PeakingParams params) {
  const PeakingParams defaults;
  if (std::isnan(params.centerHz)) params.centerHz = defaults.centerHz;
  if (std::isnan(params.bandwidthSemitones)) params.bandwidthSemitones = defaults.bandwidthSemitones;
  if (std::isnan(params.gainDb)) params.gainDb = defaults.gainDb;
  params.centerHz = std::clamp(params.centerHz, 80.0f, 16000.0f);
  params.bandwidthSemitones = std::clamp(params.bandwidthSemitones, 1.0f, 36.0f);
  params.gainDb = std::clamp(params.gainDb, -15.0f, 15.0f);
  return params;
}

BiquadCoeffs DesignPeaking(const PeakingParams& params, double sampleRate) {
  if (params.gainDb == 0.0f) return BiquadCoeffs{};
  const double a = std::pow(10.0, params.gainDb / 40.0);
  const double w0 = 2.0 * M_PI * params.centerHz / sampleRate;
  const double octaves = params.bandwidthSemitones / 12.0;
  const double alpha = std::sin(w0) * std::sinh(std::log(2.0) / 2.0 * octaves * w0 / std::sin(w0));
  const double cosW0 = std::cos(w0);
  const double a0 = 1.0 + alpha / a;
  BiquadCoeffs c;
  c.b0 = static_cast<float>((1.0 + alpha * a) / a0);
  c.b1 = static_cast<float>(-2.0 * cosW0 / a0);
  c.b2 = static_cast<float>((1.0 - alpha * a) / a0);
  c.a1 = c.b1;
  c.a2 = static_cast<float>((1.0 - alpha / a) / a0);
  return c;
}

// ---- control side ----

bool EqChain::Add(uint32_t id, int priority) {
  if (filterCount == kMaxFilters) return false;
  // Descending priority; a new filter goes after every filter of its priority.
  int at = 0;
  while (at < filterCount && filters[at].priority >= priority) ++at;
  std::move_backward(filters + at, filters + filterCount, filters + filterCount + 1);
  filters[at] = ControlFilter{id, priority, PeakingParams{}};
  ++filterCount;
  std::lock_guard lock(publishMutex);
  PublishLocked();
  return true;
}

bool EqChain::Remove(uint32_t id) {
  const auto end = filters + filterCount;
  const auto it = std::find_if(filters, end, [id](const ControlFilter& f) { return f.id == id; });
  if (it == end) return false;
  std::move(it + 1, end, it);
  --filterCount;
  std::lock_guard lock(publishMutex);
  PublishLocked();
  return true;
}

bool EqChain::Set(uint32_t id, const PeakingParams& params) {
  const auto end = filters + filterCount;
  const auto it = std::find_if(filters, end, [id](const ControlFilter& f) { return f.id == id; });
  if (it == end) return false;
  it->params = ClampPeaking(params);
  std::lock_guard lock(publishMutex);
  PublishLocked();
  return true;
}

bool EqChain::Get(uint32_t id, PeakingParams& params) const {
  const auto end = filters + filterCount;
  const auto it = std::find_if(filters, end, [id](const ControlFilter& f) { return f.id == id; });
  if (it == end) return false;
  params = it->params;
  return true;
}

void EqChain::PublishLocked() {
  published.count = filterCount;
  for (int i = 0; i < filterCount; ++i) {
    published.ids[i] = filters[i].id;
    published.coeffs[i] = DesignPeaking(filters[i].params, 44100.0);
  }
  publishedVersion.fetch_add(1, std::memory_order_release);
}

// ---- audio side ----

void EqChain::Adopt(const Published& config) {
  LiveFilter next[kMaxFilters];
  bool changed = false;
  for (int i = 0; i < config.count; ++i) {
    LiveFilter& filter = next[i];
    const auto old = std::find_if(live, live + liveCount, [&](const LiveFilter& f) { return f.id == config.ids[i]; });
    if (old != live + liveCount) {
      filter = *old;
    } else {
      filter = LiveFilter{};
      filter.id = config.ids[i];
      filter.quietFrames = kSettleFrames;
    }
    float target[5];
    ToArray(config.coeffs[i], target);
    if (std::memcmp(target, filter.target, sizeof target) != 0) changed = true;
    std::memcpy(filter.target, target, sizeof target);
  }
  std::copy(next, next + config.count, live);
  liveCount = config.count;
  if (changed) rampLeft = kRampFrames;
}

void EqChain::Process(float* frames, size_t count) {
  const uint32_t version = publishedVersion.load(std::memory_order_acquire);
  if (version != adoptedVersion && publishMutex.try_lock()) {
    Adopt(published);
    adoptedVersion = publishedVersion.load(std::memory_order_relaxed);
    publishMutex.unlock();
  }
  // Blocks are cut so that the wavefront's frame index stays well inside 32 bits.
  constexpr size_t kMaxBlock = size_t{1} << 20;
  while (count > 0) {
    const size_t block = std::min(count, kMaxBlock);
    RunActive(frames, block);
    frames += block * 2;
    count -= block;
  }
}

void EqChain::RunActive(float* frames, size_t count) {
  // Filters at 0 dB with nothing left to glide or ring out are skipped entirely.
  int active[kMaxFilters];
  int activeCount = 0;
  for (int i = 0; i < liveCount; ++i) {
    const LiveFilter& f = live[i];
    const bool idle = IsIdentity(f.current) && IsIdentity(f.target) && f.quietFrames >= kSettleFrames;
    if (!idle) active[activeCount++] = i;
  }
  if (activeCount == 0) {
    rampLeft = 0;
    return;
  }

  const int vectors = (activeCount + 1) / 2;
  Lanes lanes;
  for (int v = 0; v < vectors; ++v) {
    for (int k = 0; k < 5; ++k) lanes.c[k][v] = lanes.step[k][v] = V4{0, 0, 0, 0};
    lanes.c[0][v] = V4{1, 1, 1, 1};  // the padding filter is the identity
    lanes.z1[v] = lanes.z2[v] = V4{0, 0, 0, 0};
  }
  const float stepScale = rampLeft > 0 ? static_cast<float>(kRampStride) / static_cast<float>(rampLeft) : 0.0f;
  for (int j = 0; j < activeCount; ++j) {
    const LiveFilter& f = live[active[j]];
    const int v = j / 2;
    const int lane = (j % 2) * 2;
    for (int k = 0; k < 5; ++k) {
      lanes.c[k][v][lane] = lanes.c[k][v][lane + 1] = f.current[k];
      const float step = (f.target[k] - f.current[k]) * stepScale;
      lanes.step[k][v][lane] = lanes.step[k][v][lane + 1] = step;
    }
    for (int ch = 0; ch < 2; ++ch) {
      lanes.z1[v][lane + ch] = f.z1[ch];
      lanes.z2[v][lane + ch] = f.z2[ch];
    }
  }

  kCascades[vectors](frames, static_cast<int32_t>(count), lanes, rampLeft);

  for (int j = 0; j < activeCount; ++j) {
    LiveFilter& f = live[active[j]];
    const int v = j / 2;
    const int lane = (j % 2) * 2;
    for (int k = 0; k < 5; ++k) f.current[k] = rampLeft > 0 ? lanes.c[k][v][lane] : f.target[k];
    for (int ch = 0; ch < 2; ++ch) {
      f.z1[ch] = lanes.z1[v][lane + ch];
      f.z2[ch] = lanes.z2[v][lane + ch];
    }
    if (IsIdentity(f.current) && IsIdentity(f.target)) {
      f.quietFrames = static_cast<int>(std::min<size_t>(f.quietFrames + count, kSettleFrames));
      if (f.quietFrames >= kSettleFrames) f.z1[0] = f.z1[1] = f.z2[0] = f.z2[1] = 0;
    } else {
      f.quietFrames = 0;
    }
  }
  if (rampLeft < 0) rampLeft = 0;
}

}  // namespace orvane::bass
