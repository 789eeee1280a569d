// Throughput of the legacy-text converter: GBK lyrics decoded per character (target ≥ 100 MB/s),
// FromLegacy on the same bytes (which also judges whether they are GBK), and the GB2312 encoder the
// stores save with. The system's iconv on the same input is printed for comparison.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <string>

#include "text/Legacy.h"
#include "text/TextConverter.h"

namespace {

using namespace orvane::text;

// About 4 MB of GBK lyric lines: mostly GB2312 ideographs, time tags and ASCII, a GBK-only character.
const std::string& GbkText() {
  static const std::string text = [] {
    std::string line;
    TextConverter("GB18030").Encode("[01:23.45]月亮代表我的心 你问我爱你有多深 我爱你有几分 朱镕基 (Live 2004)\r\n", line,
                                    OnError::Fail);
    std::string all;
    while (all.size() < (4u << 20)) all += line;
    return all;
  }();
  return text;
}

void DecodeGbkPerCharacter(benchmark::State& state) {
  const std::string& gbk = GbkText();
  std::string utf8;
  for (auto _ : state) {
    DecodeGb18030(gbk, utf8, OnError::Replace);
    benchmark::DoNotOptimize(utf8.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * gbk.size()));
}
BENCHMARK(DecodeGbkPerCharacter)->Unit(benchmark::kMillisecond);

void FromLegacyGbk(benchmark::State& state) {
  const std::string& gbk = GbkText();
  for (auto _ : state) benchmark::DoNotOptimize(FromLegacy(gbk));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * gbk.size()));
}
BENCHMARK(FromLegacyGbk)->Unit(benchmark::kMillisecond);

void EncodeGb2312WithReferences(benchmark::State& state) {
  std::string utf8;
  DecodeGb18030(GbkText(), utf8, OnError::Fail);
  std::string bytes;
  for (auto _ : state) {
    TextConverter("GB2312").Encode(utf8, bytes, OnError::CharRef);
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * utf8.size()));
}
BENCHMARK(EncodeGb2312WithReferences)->Unit(benchmark::kMillisecond);

void SystemIconvGb18030(benchmark::State& state) {
  const std::string& gbk = GbkText();
  std::string utf8(gbk.size() * 3, '\0');
  const iconv_t cd = ::iconv_open("UTF-8", "GB18030");
  for (auto _ : state) {
    char* src = const_cast<char*>(gbk.data());
    size_t srcLeft = gbk.size();
    char* dst = utf8.data();
    size_t dstLeft = utf8.size();
    ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    benchmark::DoNotOptimize(utf8.data());
  }
  ::iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * gbk.size()));
}
BENCHMARK(SystemIconvGb18030)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
