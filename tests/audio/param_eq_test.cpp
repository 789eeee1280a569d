// The peaking equaliser chain, offline on buffers: exact levels, the vectorised cascade against a
// plain double-precision one, and gain changes that glide instead of clicking.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "ParamEq.h"

namespace orvane::bass {
namespace {

constexpr double kRate = 44100.0;

std::vector<float> Sine(double hz, double amplitude, size_t frames) {
  std::vector<float> samples(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    const auto value = static_cast<float>(amplitude * std::sin(2 * M_PI * hz * static_cast<double>(i) / kRate));
    samples[2 * i] = samples[2 * i + 1] = value;
  }
  return samples;
}

void ProcessInBlocks(EqChain& chain, std::vector<float>& samples, size_t block) {
  for (size_t at = 0; at < samples.size() / 2; at += block) {
    chain.Process(samples.data() + 2 * at, std::min(block, samples.size() / 2 - at));
  }
}

double PeakDb(const std::vector<float>& samples, size_t from, size_t to, double reference) {
  float peak = 0;
  for (size_t i = from; i < to; ++i) peak = std::max({peak, std::fabs(samples[2 * i]), std::fabs(samples[2 * i + 1])});
  return 20 * std::log10(peak / reference);
}

TEST(ParamEq, GainAtTheCentreFrequency) {
  struct Case {
    PeakingParams params;
    double expectedDb;
  };
  const Case cases[] = {
      {{1000, 5, 6}, 6},     {{1000, 5, -6}, -6},  {{80, 5, 12}, 12},   {{14000, 5, -12}, -12},
      {{3000, 12, 15}, 15},  {{1000, 5, 20}, 15},  {{1000, 5, -40}, -15},  // clamped to ±15 dB
  };
  for (const Case& c : cases) {
    EqChain chain;
    chain.Add(1, 1);
    chain.Set(1, c.params);
    const size_t frames = static_cast<size_t>(kRate * 2);
    auto samples = Sine(c.params.centerHz, 0.1, frames);
    ProcessInBlocks(chain, samples, 1024);
    EXPECT_NEAR(PeakDb(samples, frames * 3 / 4, frames, 0.1), c.expectedDb, 0.1)
        << c.params.centerHz << " Hz, " << c.params.gainDb << " dB";
  }
}

TEST(ParamEq, FlatFiltersLeaveSamplesUntouched) {
  EqChain chain;
  for (uint32_t id = 1; id <= 10; ++id) {
    chain.Add(id, 1);
    chain.Set(id, {static_cast<float>(100 * id), 5, 0});
  }
  const auto input = Sine(440, 0.7, 20000);
  auto output = input;
  ProcessInBlocks(chain, output, 1024);
  EXPECT_EQ(output, input);
}

// The RBJ cookbook's peaking biquads in double precision (direct form I), one sample at a time.
std::vector<float> ReferenceCascade(const std::vector<PeakingParams>& bands, const std::vector<float>& input) {
  struct Biquad {
    double b0, b1, b2, a1, a2;
    double x1[2] = {}, x2[2] = {}, y1[2] = {}, y2[2] = {};
  };
  std::vector<Biquad> filters;
  for (const auto& band : bands) {
    const double a = std::pow(10.0, band.gainDb / 40.0);
    const double w0 = 2 * M_PI * band.centerHz / kRate;
    const double alpha = std::sin(w0) * std::sinh(std::log(2.0) / 2 * band.bandwidthSemitones / 12 * w0 / std::sin(w0));
    const double a0 = 1 + alpha / a;
    filters.push_back({(1 + alpha * a) / a0, -2 * std::cos(w0) / a0, (1 - alpha * a) / a0, -2 * std::cos(w0) / a0,
                       (1 - alpha / a) / a0});
  }
  std::vector<float> output(input.size());
  for (size_t i = 0; i < input.size() / 2; ++i) {
    for (int ch = 0; ch < 2; ++ch) {
      double x = input[2 * i + ch];
      for (Biquad& f : filters) {
        const double y = f.b0 * x + f.b1 * f.x1[ch] + f.b2 * f.x2[ch] - f.a1 * f.y1[ch] - f.a2 * f.y2[ch];
        f.x2[ch] = f.x1[ch];
        f.x1[ch] = x;
        f.y2[ch] = f.y1[ch];
        f.y1[ch] = y;
        x = y;
      }
      output[2 * i + ch] = static_cast<float>(x);
    }
  }
  return output;
}

TEST(ParamEq, VectorisedCascadeMatchesTheCookbookInDoublePrecision) {
  struct Chain {
    const char* name;
    std::vector<PeakingParams> bands;
  };
  const float centres[] = {80, 170, 310, 600, 1000, 3000, 6000, 10000, 12000, 14000};
  const float gains[] = {12, -12, 6, 0, -6, 9, 0, -3, 12, -9};
  std::vector<PeakingParams> engine;
  for (int i = 0; i < 10; ++i) engine.push_back({centres[i], 5, gains[i]});
  const Chain chains[] = {
      // The engine's ten bands, some boosted, some cut, some flat: a chain that fills its vectors
      // and one that does not.
      {"ten bands", engine},
      {"nine bands", {engine.begin(), engine.begin() + 9}},
      // The ends of the ranges: narrow at the lowest centre, where float precision is hardest to
      // keep, and wide near the top, where the direct gains are furthest from 1.
      {"extremes", {{80, 1, 15}, {120, 1, -15}, {16000, 36, -15}, {16000, 1, 15}, {1000, 36, 15}}},
  };
  // Both kernel widths (the wide one only where the processor has it), and odd, even, tiny and
  // large blocks: the wavefront's edges and the end of the glide fall everywhere.
  for (const bool baseline : {false, true})
  for (const Chain& used : chains) {
    UseBaselineEqKernelsForTesting(baseline);
    const size_t frames = 44100;
    std::vector<float> input(frames * 2);
    uint32_t seed = 12345;
    for (size_t i = 0; i < input.size(); ++i) {
      seed = seed * 1664525u + 1013904223u;
      input[i] = 0.2f * (static_cast<float>(seed >> 8) / 16777216.0f - 0.5f) +
                 0.2f * static_cast<float>(std::sin(static_cast<double>(i / 2) * 0.01));
    }
    EqChain chain;
    for (uint32_t id = 0; id < used.bands.size(); ++id) {
      chain.Add(id + 1, 1);
      chain.Set(id + 1, used.bands[id]);
    }
    auto output = input;
    const size_t blocks[] = {1, 2, 3, 5, 9, 10, 11, 17, 64, 1000, 4096};
    size_t at = 0;
    for (size_t b = 0; at < frames; ++b) {
      const size_t block = std::min(blocks[b % std::size(blocks)], frames - at);
      chain.Process(output.data() + 2 * at, block);
      at += block;
    }
    const auto expected = ReferenceCascade(used.bands, input);
    // The first quarter second holds the glide from flat to the set gains, which the plain
    // cascade does not have; it has died away after that.
    double worst = 0, peak = 0;
    for (size_t i = frames / 4 * 2; i < output.size(); ++i) {
      worst = std::max(worst, std::fabs(double{output[i]} - expected[i]));
      peak = std::max(peak, std::fabs(double{expected[i]}));
    }
    // -100 dB; a direct-form biquad in float misses by some 30 dB more at the low centres.
    EXPECT_LT(worst, 1e-5 * peak) << used.name << (baseline ? ", 4 lanes" : "") << ": peak " << peak;
  }
  UseBaselineEqKernelsForTesting(false);
}

TEST(ParamEq, GainChangesGlideWithoutClicksAndArriveQuickly) {
  // A gain change, and a centre sweeping across the tone at full boost, where every coefficient
  // moves a long way during the glide.
  struct Change {
    PeakingParams from, to;
  };
  const Change changes[] = {{{1000, 5, 0}, {1000, 5, 12}}, {{200, 5, 12}, {8000, 5, 12}}};
  for (const Change& c : changes) {
    EqChain chain;
    chain.Add(1, 1);
    chain.Set(1, c.from);
    const double amplitude = 0.25;
    const size_t frames = static_cast<size_t>(kRate);
    auto samples = Sine(1000, amplitude, frames);
    const size_t change = frames / 2;
    const size_t block = 1024;
    for (size_t at = 0; at < frames; at += block) {
      if (at <= change && change < at + block) chain.Set(1, c.to);
      chain.Process(samples.data() + 2 * at, std::min(block, frames - at));
    }
    // A jump in the waveform shows as a second difference far above a sine's own (amplitude × ω²,
    // and the tone is never boosted by more than 12 dB).
    const double omega = 2 * M_PI * 1000 / kRate;
    const double loudest = amplitude * std::pow(10.0, 12.0 / 20.0);
    double worst = 0;
    for (size_t i = 2; i < frames; ++i) {
      worst = std::max(worst, std::fabs(double{samples[2 * i]} - 2.0 * samples[2 * i - 2] + samples[2 * i - 4]));
    }
    EXPECT_LT(worst, 1.2 * loudest * omega * omega) << c.to.centerHz << " Hz";
    // The new response is there within 50 ms of the block that carried the change: the level of a
    // chain set that way all along.
    EqChain settled;
    settled.Add(1, 1);
    settled.Set(1, c.to);
    auto reference = Sine(1000, amplitude, frames);
    ProcessInBlocks(settled, reference, block);
    const size_t blockStart = change / block * block;
    const auto ms = [](double value) { return static_cast<size_t>(value * kRate / 1000); };
    const size_t from = blockStart + ms(45), to = blockStart + ms(55);
    EXPECT_NEAR(PeakDb(samples, from, to, amplitude), PeakDb(reference, from, to, amplitude), 0.3) << c.to.centerHz << " Hz";
  }
}

}  // namespace
}  // namespace orvane::bass
