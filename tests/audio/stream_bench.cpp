// Benchmark program of URL streams' memory (run by scripts/bench/stream_memory.sh; prints figures,
// asserts nothing).
//   stream_bench play URL SECONDS   plays URL to the default device (run with SDL_AUDIODRIVER=dummy)
//                                   for SECONDS at real time while the server sends as fast as it
//                                   may; prints how much the stream added to the process's peak RSS
//                                   and how far the download ran
//   stream_bench read URL           reads the whole stream through a decoding channel as fast as it
//                                   decodes; the same figures
// Before the clock starts, a short local file is opened once, so the decoder module is loaded and
// not counted.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bass.h"

namespace {

struct Memory {
  long rssKb = 0;
  long peakKb = 0;
};

Memory ReadMemory() {
  Memory memory;
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) memory.rssKb = std::stol(line.substr(6));
    if (line.rfind("VmHWM:", 0) == 0) memory.peakKb = std::stol(line.substr(6));
  }
  return memory;
}

// Resets the peak to the current RSS (Linux: writing 5 to clear_refs).
void ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

void LoadDecoderModule(const char* warmUpFile) {
  BASS_StreamFree(BASS_StreamCreateFile(FALSE, warmUpFile, 0, 0, BASS_STREAM_DECODE));
}

void Report(const char* what, HSTREAM stream, const Memory& before, double seconds, double audioSeconds) {
  const Memory after = ReadMemory();
  const QWORD downloaded = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_DOWNLOAD);
  const QWORD total = BASS_StreamGetFilePosition(stream, BASS_FILEPOS_END);
  std::printf("%s: %.1f s wall, %.1f s of audio; %.0f of %.0f MB downloaded; peak RSS +%.1f MB (RSS +%.1f MB)\n", what,
              seconds, audioSeconds, static_cast<double>(downloaded) / 1e6, static_cast<double>(total) / 1e6,
              static_cast<double>(after.peakKb - before.peakKb) / 1024.0,
              static_cast<double>(after.rssKb - before.rssKb) / 1024.0);
}

int Play(const char* url, double seconds, const char* warmUp) {
  if (!BASS_Init(-1, 44100, 0, nullptr, nullptr)) {
    std::fprintf(stderr, "BASS_Init failed: error %d\n", BASS_ErrorGetCode());
    return 1;
  }
  BASS_SetConfig(BASS_CONFIG_NET_PREBUF, 0);
  LoadDecoderModule(warmUp);
  ResetPeak();
  const Memory before = ReadMemory();
  const auto start = std::chrono::steady_clock::now();
  const HSTREAM stream = BASS_StreamCreateURL(url, 0, 0, nullptr, nullptr);
  if (stream == 0) {
    std::fprintf(stderr, "cannot open %s: error %d\n", url, BASS_ErrorGetCode());
    return 1;
  }
  BASS_ChannelPlay(stream, FALSE);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double played = BASS_ChannelBytes2Seconds(stream, BASS_ChannelGetPosition(stream, BASS_POS_BYTE));
  Report("play at real time", stream, before,
         std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), played);
  BASS_StreamFree(stream);
  BASS_Free();
  return 0;
}

int Read(const char* url, const char* warmUp) {
  LoadDecoderModule(warmUp);
  ResetPeak();
  const Memory before = ReadMemory();
  const auto start = std::chrono::steady_clock::now();
  const HSTREAM stream = BASS_StreamCreateURL(url, 0, BASS_STREAM_DECODE, nullptr, nullptr);
  if (stream == 0) {
    std::fprintf(stderr, "cannot open %s: error %d\n", url, BASS_ErrorGetCode());
    return 1;
  }
  std::vector<char> block(1 << 16);
  QWORD bytes = 0;
  for (;;) {
    const DWORD got = BASS_ChannelGetData(stream, block.data(), static_cast<DWORD>(block.size()));
    if (got == static_cast<DWORD>(-1)) break;
    bytes += got;
  }
  Report("read whole", stream, before, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
         BASS_ChannelBytes2Seconds(stream, bytes));
  BASS_StreamFree(stream);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* warmUp = std::getenv("STREAM_BENCH_WARMUP");
  if (warmUp == nullptr) {
    std::fprintf(stderr, "STREAM_BENCH_WARMUP must name a short local audio file\n");
    return 2;
  }
  if (argc >= 4 && std::strcmp(argv[1], "play") == 0) return Play(argv[2], std::atof(argv[3]), warmUp);
  if (argc >= 3 && std::strcmp(argv[1], "read") == 0) return Read(argv[2], warmUp);
  std::fprintf(stderr, "usage: stream_bench play URL SECONDS | stream_bench read URL\n");
  return 2;
}
