#include "ParamEq.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace orvane::bass {
namespace {

// The chain runs as a "wavefront": filter f works on sample s - f at step s, so every filter of
// the chain advances in the same step, each fed with what the filter before it produced one step
// earlier. A plain cascade is one long dependency chain per sample; the wavefront is as wide as
// the vectors. With V vectors of L lanes, filter f sits in vector f % V at lane pair f / V (left,
// right), so filter f's input is the previous step's output of vector v - 1 at the same lanes, and
// only the first vector needs a shuffle (the last vector's outputs moved up one pair, the new
// sample in front).
// GCC's vector types compile to SSE (4 lanes) on any x86-64, to NEON on ARM, and to AVX2 with FMA
// (8 lanes) where the processor has it.
template <int L>
struct Vec;
template <>
struct Vec<4> {
  typedef float V __attribute__((vector_size(16)));
  typedef int32_t I __attribute__((vector_size(16)));
  static constexpr I kFirst = {0, 1, 4, 5};     // [x, the last vector's pairs moved up one]
  static constexpr I kLanePair = {0, 0, 1, 1};  // pair of each lane
};
template <>
struct Vec<8> {
  typedef float V __attribute__((vector_size(32)));
  typedef int32_t I __attribute__((vector_size(32)));
  static constexpr I kFirst = {0, 1, 8, 9, 10, 11, 12, 13};
  static constexpr I kLanePair = {0, 0, 1, 1, 2, 2, 3, 3};
};

constexpr int kMaxVectors = EqChain::kMaxFilters / 2;  // enough for the narrow kind

// The filter is a trapezoidal state-variable filter with the "bell" output:
//   v1 = a1·ic1 + a2·(x - ic2),  y = x + m1·v1,  ic1' = 2·v1 - ic1,  ic2' = ic2 + 2g·v1
// with a1 = 1 / (1 + g·(g + k)), a2 = g·a1. Expanded so that the input reaches the output through
// one multiply-add (the wavefront's step-to-step path) and each state through at most two. The
// chain is bound by its multiplies, so the first state is kept divided by c2 (s1 = ic1 / c2),
// which spares it one:
//   y = c0·x + (qa·s1 - qb·ic2)             c0 = 1 + m1·a2, qa = m1·a1·c2, qb = m1·a2
//   s1' = c1·s1 + (x - ic2)                 c1 = 2·a1 - 1,  c2 = 2·a2
//   ic2' = ic2 + e1·s1 + e2·(x - ic2)       e1 = 2g·a1·c2,  e2 = 2g·a2
template <int L>
struct alignas(32) Lanes {
  using V = typename Vec<L>::V;
  V g[kMaxVectors], k[kMaxVectors], m1[kMaxVectors];     // glided linearly…
  V dg[kMaxVectors], dk[kMaxVectors], dm1[kMaxVectors];  // …by this much per step
  V c0[kMaxVectors], qa[kMaxVectors], qb[kMaxVectors];   // derived from g, k and m1
  V c1[kMaxVectors], c2[kMaxVectors], e1[kMaxVectors], e2[kMaxVectors];
  V ic1[kMaxVectors], ic2[kMaxVectors];                  // integrator states
};

template <int L>
inline __attribute__((always_inline)) void Derive(Lanes<L>& lanes, int vectors) {
  using V = typename Vec<L>::V;
  const V one = V{} + 1.0f;
  for (int v = 0; v < vectors; ++v) {
    const V a1 = one / (one + lanes.g[v] * (lanes.g[v] + lanes.k[v]));
    const V a2 = lanes.g[v] * a1;
    const V g2 = lanes.g[v] + lanes.g[v];
    lanes.c0[v] = one + lanes.m1[v] * a2;
    lanes.qa[v] = lanes.m1[v] * a1 * (a2 + a2);
    lanes.qb[v] = lanes.m1[v] * a2;
    lanes.c1[v] = a1 + a1 - one;
    lanes.c2[v] = a2 + a2;
    lanes.e1[v] = g2 * a1 * (a2 + a2);
    lanes.e2[v] = g2 * a2;
  }
}

// Outside a glide the coefficients hold still, and the chain switches to a form with fewer
// multiplies and shorter dependency chains. With q = ic2 - e2·s1 the state update becomes
//   s1' = γ·s1 + (x - q)           γ = c1 - e2
//   q'  = q + α·s1                 α = 2·e2 (= e1 + e2·(1 - c1))
// q still moves by small steps, so it keeps the precision of ic2 at low centres. And each
// filter's output is divided by its direct gain c0: the filters after it carry that scale in their
// states, and the chain's output is multiplied back once:
//   y / c0 = x + ba·s1 - bb·q      ba = (qa - qb·e2) / c0,  bb = qb / c0
// Filter f then works at the scale 1 / (product of c0 of the filters before it). c0 = 1 + m1·a2
// stays between about 0.3 and 2.3 over the clamped parameters, so the scales stay far from
// float's limits.
template <int L, int kVectors>
struct SteadyForm {
  using V = typename Vec<L>::V;
  V gamma[kVectors], alpha[kVectors], ba[kVectors], bb[kVectors];
  V e2[kVectors];
  V scale[kVectors];     // of each filter's input and states
  V outScale[kVectors];  // of each filter's output: the next filter's input scale
  float gain = 1.0f;     // undoes the last filter's output scale

  // Designed in double from the glided parameters. The chain's order is filter
  // f = pair · kVectors + vector.
  explicit SteadyForm(const Lanes<L>& lanes) {
    double product = 1.0;
    for (int pair = 0; pair < L / 2; ++pair) {
      for (int v = 0; v < kVectors; ++v) {
        const int first = 2 * pair;
        const double g = lanes.g[v][first], k = lanes.k[v][first], m1 = lanes.m1[v][first];
        const double a1 = 1.0 / (1.0 + g * (g + k));
        const double a2 = g * a1;
        const double e2 = 2.0 * g * a2;
        const double c0 = 1.0 + m1 * a2;
        const double qa = m1 * a1 * 2.0 * a2;
        const double qb = m1 * a2;
        for (int lane = first; lane < first + 2; ++lane) {
          gamma[v][lane] = static_cast<float>(2.0 * a1 - 1.0 - e2);
          alpha[v][lane] = static_cast<float>(2.0 * e2);
          ba[v][lane] = static_cast<float>((qa - qb * e2) / c0);
          bb[v][lane] = static_cast<float>(qb / c0);
          this->e2[v][lane] = static_cast<float>(e2);
          scale[v][lane] = static_cast<float>(1.0 / product);
          outScale[v][lane] = static_cast<float>(1.0 / (product * c0));
        }
        product *= c0;
      }
    }
    gain = static_cast<float>(product);
  }
};

// One step of the wavefront, in the gliding form or (kSteady) the steady one, where ic2 holds q.
template <int L, int kVectors, bool kEdge, bool kSteady>
inline __attribute__((always_inline)) void Step(const Lanes<L>& lanes, const SteadyForm<L, kVectors>* steady,
                                                typename Vec<L>::V (&ic1)[kVectors],
                                                typename Vec<L>::V (&ic2)[kVectors], typename Vec<L>::V (&y)[kVectors],
                                                const typename Vec<L>::V& x, int32_t s, int32_t n) {
  using V = typename Vec<L>::V;
  using I = typename Vec<L>::I;
  V in[kVectors];
  in[0] = __builtin_shuffle(x, y[kVectors - 1], Vec<L>::kFirst);
#pragma GCC unroll 8
  for (int v = 1; v < kVectors; ++v) in[v] = y[v - 1];
#pragma GCC unroll 8
  for (int v = 0; v < kVectors; ++v) {
    V next1, next2;
    if constexpr (kSteady) {
      y[v] = in[v] + (steady->ba[v] * ic1[v] - steady->bb[v] * ic2[v]);
      next1 = steady->gamma[v] * ic1[v] + (in[v] - ic2[v]);
      next2 = ic2[v] + steady->alpha[v] * ic1[v];
    } else {
      y[v] = lanes.c0[v] * in[v] + (lanes.qa[v] * ic1[v] - lanes.qb[v] * ic2[v]);
      const V d = in[v] - ic2[v];
      next1 = lanes.c1[v] * ic1[v] + d;
      next2 = ic2[v] + lanes.e1[v] * ic1[v] + lanes.e2[v] * d;
    }
    if constexpr (kEdge) {
      // At the ends of a block some filters have no sample to work on: keep their state.
      const I sample = (I{} + s) - (Vec<L>::kLanePair * kVectors + v);
      const I active = (sample >= 0) & (sample < (I{} + n));
      ic1[v] = active ? next1 : ic1[v];
      ic2[v] = active ? next2 : ic2[v];
    } else {
      ic1[v] = next1;
      ic2[v] = next2;
    }
  }
}

// While gliding, the parameters move a little every sample (stepping them every few dozen samples
// would be heard as a buzz), and the derived coefficients follow, so every step is a valid filter.
template <int L, int kVectors>
inline __attribute__((always_inline)) void Glide(Lanes<L>& lanes) {
#pragma GCC unroll 8
  for (int v = 0; v < kVectors; ++v) {
    lanes.g[v] += lanes.dg[v];
    lanes.k[v] += lanes.dk[v];
    lanes.m1[v] += lanes.dm1[v];
  }
  Derive(lanes, kVectors);
}

template <int L, int kVectors, bool kEdge, bool kGlide>
inline __attribute__((always_inline)) void Steps(float* __restrict io, int32_t from, int32_t to, int32_t n,
                                                 Lanes<L>& lanes, const SteadyForm<L, kVectors>* steady,
                                                 typename Vec<L>::V (&ic1)[kVectors],
                                                 typename Vec<L>::V (&ic2)[kVectors], typename Vec<L>::V (&y)[kVectors]) {
  using V = typename Vec<L>::V;
  constexpr int32_t kLast = kVectors * L / 2 - 1;  // the last filter: its output is the chain's
  const float gain = kGlide ? 1.0f : steady->gain;
  for (int32_t s = from; s < to; ++s) {
    if constexpr (kGlide) {
      // s1 is kept divided by c2, which moves with the glide: rescale it to the new c2.
      V before[kVectors];
#pragma GCC unroll 8
      for (int v = 0; v < kVectors; ++v) before[v] = lanes.c2[v];
      Glide<L, kVectors>(lanes);
#pragma GCC unroll 8
      for (int v = 0; v < kVectors; ++v) ic1[v] *= before[v] / lanes.c2[v];
    }
    V x{};
    if (!kEdge || s < n) {
      x[0] = io[2 * s];
      x[1] = io[2 * s + 1];
    }
    Step<L, kVectors, kEdge, !kGlide>(lanes, steady, ic1, ic2, y, x, s, n);
    if (!kEdge || s >= kLast) {
      io[2 * (s - kLast)] = y[kVectors - 1][L - 2] * gain;
      io[2 * (s - kLast) + 1] = y[kVectors - 1][L - 1] * gain;
    }
  }
}

template <int L, int kVectors>
inline __attribute__((always_inline)) void CascadeBody(float* __restrict io, int32_t n, Lanes<L>& lanes,
                                                       int& rampLeft) {
  using V = typename Vec<L>::V;
  constexpr int32_t kFilters = kVectors * L / 2;
  const int32_t steps = n + kFilters - 1;
  // The states live in locals for the whole block, so they can stay in registers.
  V ic1[kVectors], ic2[kVectors], y[kVectors];
#pragma GCC unroll 8
  for (int v = 0; v < kVectors; ++v) {
    ic1[v] = lanes.ic1[v] / lanes.c2[v];  // s1 while the block runs
    ic2[v] = lanes.ic2[v];
    y[v] = V{};
  }
  // Where the wavefront enters and leaves the block some filters are idle (masked steps); in
  // between every filter works. A glide, when there is one, covers the first glideTo steps; the
  // rest runs in the steady form.
  const int32_t fullFrom = std::min(kFilters - 1, steps);
  const int32_t fullTo = std::max(n, fullFrom);
  const int32_t glideTo = std::min(steps, std::max(rampLeft, 0));
  auto run = [&]<bool kGlide>(int32_t from, int32_t to, const SteadyForm<L, kVectors>* steady) {
    auto clip = [&](int32_t at) { return std::clamp(at, from, to); };
    Steps<L, kVectors, true, kGlide>(io, clip(0), clip(fullFrom), n, lanes, steady, ic1, ic2, y);
    Steps<L, kVectors, false, kGlide>(io, clip(fullFrom), clip(fullTo), n, lanes, steady, ic1, ic2, y);
    Steps<L, kVectors, true, kGlide>(io, clip(fullTo), clip(steps), n, lanes, steady, ic1, ic2, y);
  };
  run.template operator()<true>(0, glideTo, nullptr);
  rampLeft -= glideTo;
  // Into the steady form: q for ic2, and the states and the outputs in flight at their scales.
  const SteadyForm<L, kVectors> steady(lanes);
#pragma GCC unroll 8
  for (int v = 0; v < kVectors; ++v) {
    ic2[v] = (ic2[v] - steady.e2[v] * ic1[v]) * steady.scale[v];
    ic1[v] *= steady.scale[v];
    y[v] *= steady.outScale[v];
  }
  run.template operator()<false>(glideTo, steps, &steady);
#pragma GCC unroll 8
  for (int v = 0; v < kVectors; ++v) {
    ic1[v] /= steady.scale[v];
    lanes.ic2[v] = ic2[v] / steady.scale[v] + steady.e2[v] * ic1[v];
    lanes.ic1[v] = ic1[v] * lanes.c2[v];
  }
}

template <int kVectors>
void Cascade4(float* io, int32_t n, Lanes<4>& lanes, int& rampLeft) {
  CascadeBody<4, kVectors>(io, n, lanes, rampLeft);
}

using Cascade4Fn = void (*)(float*, int32_t, Lanes<4>&, int&);
constexpr Cascade4Fn kCascades4[kMaxVectors + 1] = {nullptr,       Cascade4<1>, Cascade4<2>, Cascade4<3>, Cascade4<4>,
                                                    Cascade4<5>, Cascade4<6>, Cascade4<7>, Cascade4<8>};

#if defined(__x86_64__)
template <int kVectors>
__attribute__((target("avx2,fma"))) void Cascade8(float* io, int32_t n, Lanes<8>& lanes, int& rampLeft) {
  CascadeBody<8, kVectors>(io, n, lanes, rampLeft);
}

using Cascade8Fn = void (*)(float*, int32_t, Lanes<8>&, int&);
constexpr Cascade8Fn kCascades8[kMaxVectors / 2 + 1] = {nullptr, Cascade8<1>, Cascade8<2>, Cascade8<3>, Cascade8<4>};

bool WideKernelsAvailable() {
  static const bool available = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return available;
}
#else
bool WideKernelsAvailable() { return false; }
#endif

std::atomic<bool> baselineOnly{false};

bool SameCoeffs(const PeakingCoeffs& a, const PeakingCoeffs& b) { return a.g == b.g && a.k == b.k && a.m1 == b.m1; }

// Denormal numbers in a decaying filter state cost a hundred times more on x86; they are far below
// anything audible, so they are flushed to zero while the chain runs.
class FlushDenormals {
 public:
#if defined(__SSE__)
  FlushDenormals() : saved(_mm_getcsr()) { _mm_setcsr(saved | 0x8040); }  // FTZ | DAZ
  ~FlushDenormals() { _mm_setcsr(saved); }

 private:
  unsigned saved;
#endif
};

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

PeakingCoeffs DesignPeaking(const PeakingParams& params, double sampleRate) {
  const double w0 = 2.0 * M_PI * params.centerHz / sampleRate;
  const double octaves = params.bandwidthSemitones / 12.0;
  const double inverseQ = 2.0 * std::sinh(std::log(2.0) / 2.0 * octaves * w0 / std::sin(w0));
  const double a = std::pow(10.0, params.gainDb / 40.0);
  PeakingCoeffs c;
  c.g = static_cast<float>(std::tan(w0 / 2.0));
  c.k = static_cast<float>(inverseQ / a);
  c.m1 = params.gainDb == 0.0f ? 0.0f : static_cast<float>(inverseQ / a * (a * a - 1.0));
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
      // A new filter starts flat at its own centre and glides to its gain.
      filter = LiveFilter{};
      filter.id = config.ids[i];
      filter.current = config.coeffs[i];
      filter.current.m1 = 0.0f;
    }
    if (!SameCoeffs(filter.target, config.coeffs[i]) || old == live + liveCount) changed = true;
    filter.target = config.coeffs[i];
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

namespace {

// Moves the active filters' parameters and states into lanes, runs the cascade, and moves the
// states (and glided parameters) back.
template <int L, typename Fn>
void RunLanes(EqChain::LiveFilter* live, const int* active, int activeCount, float* frames, size_t count,
              int& rampLeft, Fn cascade) {
  using V = typename Vec<L>::V;
  constexpr int kPerVector = L / 2;
  const int vectors = (activeCount + kPerVector - 1) / kPerVector;
  Lanes<L> lanes;
  for (int v = 0; v < vectors; ++v) {
    // Padding filters are flat (m1 = 0) with harmless parameters.
    lanes.g[v] = V{} + 0.1f;
    lanes.k[v] = V{} + 1.0f;
    lanes.m1[v] = lanes.dg[v] = lanes.dk[v] = lanes.dm1[v] = lanes.ic1[v] = lanes.ic2[v] = V{};
  }
  const float stepScale = rampLeft > 0 ? 1.0f / static_cast<float>(rampLeft) : 0.0f;
  for (int j = 0; j < activeCount; ++j) {
    const EqChain::LiveFilter& f = live[active[j]];
    const int v = j % vectors;
    for (int ch = 0, lane = (j / vectors) * 2; ch < 2; ++ch, ++lane) {
      lanes.g[v][lane] = f.current.g;
      lanes.k[v][lane] = f.current.k;
      lanes.m1[v][lane] = f.current.m1;
      lanes.dg[v][lane] = (f.target.g - f.current.g) * stepScale;
      lanes.dk[v][lane] = (f.target.k - f.current.k) * stepScale;
      lanes.dm1[v][lane] = (f.target.m1 - f.current.m1) * stepScale;
      lanes.ic1[v][lane] = f.ic1[ch];
      lanes.ic2[v][lane] = f.ic2[ch];
    }
  }
  Derive(lanes, vectors);
  cascade(vectors, frames, static_cast<int32_t>(count), lanes, rampLeft);
  for (int j = 0; j < activeCount; ++j) {
    EqChain::LiveFilter& f = live[active[j]];
    const int v = j % vectors;
    const int lane = (j / vectors) * 2;
    f.current = rampLeft > 0 ? PeakingCoeffs{lanes.g[v][lane], lanes.k[v][lane], lanes.m1[v][lane]} : f.target;
    for (int ch = 0; ch < 2; ++ch) {
      f.ic1[ch] = lanes.ic1[v][lane + ch];
      f.ic2[ch] = lanes.ic2[v][lane + ch];
    }
  }
}

}  // namespace

void UseBaselineEqKernelsForTesting(bool on) { baselineOnly = on; }

void EqChain::RunActive(float* frames, size_t count) {
  // Filters at 0 dB with nothing left to glide are skipped: their output is their input.
  int active[kMaxFilters];
  int activeCount = 0;
  for (int i = 0; i < liveCount; ++i) {
    LiveFilter& f = live[i];
    if (f.current.IsIdentity() && f.target.IsIdentity()) {
      f.current = f.target;
      f.ic1[0] = f.ic1[1] = f.ic2[0] = f.ic2[1] = 0;  // a filter that comes back starts at rest
      continue;
    }
    active[activeCount++] = i;
  }
  if (activeCount == 0) {
    rampLeft = 0;
    return;
  }
  FlushDenormals flush;
#if defined(__x86_64__)
  if (WideKernelsAvailable() && !baselineOnly.load(std::memory_order_relaxed)) {
    RunLanes<8>(live, active, activeCount, frames, count, rampLeft,
                [](int vectors, float* io, int32_t n, Lanes<8>& lanes, int& ramp) { kCascades8[vectors](io, n, lanes, ramp); });
    if (rampLeft < 0) rampLeft = 0;
    return;
  }
#endif
  RunLanes<4>(live, active, activeCount, frames, count, rampLeft,
              [](int vectors, float* io, int32_t n, Lanes<4>& lanes, int& ramp) { kCascades4[vectors](io, n, lanes, ramp); });
  if (rampLeft < 0) rampLeft = 0;
}

}  // namespace orvane::bass
