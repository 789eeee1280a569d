// Speed of the lyric document on a long lyric: parse + sort (Load) and the current-line lookup.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "lyrics/LrcClass.h"

namespace {

using orvane::lyrics::TLrcClass;

constexpr int kLines = 10000;

// A lyric of kLines lines with Chinese and Latin text, CR LF line ends, some lines with two tags;
// shuffled puts the lines out of time order so the sort has work to do.
std::string MakeLyric(bool shuffled) {
  std::vector<std::string> lines;
  lines.reserve(kLines);
  for (int i = 0; i < kLines; ++i) {
    const int cs = i * 37;  // hundredths
    char tag[64];
    std::snprintf(tag, sizeof tag, "[%02d:%02d.%02d]", cs / 6000 % 100, cs / 100 % 60, cs % 100);
    std::string line = tag;
    if (i % 10 == 0) line += "[99:59.99]";
    line += "第" + std::to_string(i) + "行 歌词 lyric line text\r\n";
    lines.push_back(std::move(line));
  }
  if (shuffled) std::shuffle(lines.begin(), lines.end(), std::mt19937(1));
  std::string text = "[ti:Bench]\r\n[ar:Someone]\r\n[offset:0]\r\n";
  for (const std::string& l : lines) text += l;
  return text;
}

void Load(benchmark::State& state, bool shuffled) {
  const std::string text = MakeLyric(shuffled);
  TLrcClass lrc;
  for (auto _ : state) {
    lrc.Load(text);
    benchmark::DoNotOptimize(lrc.Document().Count());
  }
  state.counters["lines"] = lrc.Document().Count();
  state.counters["bytes"] = static_cast<double>(text.size());
}

void BM_LoadInOrder(benchmark::State& state) { Load(state, false); }
void BM_LoadShuffled(benchmark::State& state) { Load(state, true); }

void BM_SetPosition(benchmark::State& state) {
  TLrcClass lrc;
  lrc.Load(MakeLyric(true));
  lrc.AddClosingLine(4000000);
  int32_t position = 0;
  for (auto _ : state) {
    position = (position + 500) % 3800000;
    lrc.SetPosition(position);
    benchmark::DoNotOptimize(lrc.CurrentLine().data());
  }
}

BENCHMARK(BM_LoadInOrder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadShuffled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetPosition)->Unit(benchmark::kNanosecond);

}  // namespace

BENCHMARK_MAIN();
