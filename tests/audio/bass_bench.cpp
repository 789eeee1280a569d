// Benchmark program of the audio library (run by scripts/bench/audio_decode.sh; prints figures,
// asserts nothing).
//   bass_bench decode FILE [flat|eq]  decode + ten-band equaliser through a decoding channel on
//                                     this thread; prints × real time and CPU time
//   bass_bench play FILE SECONDS      plays FILE to the default device (run with
//                                     SDL_AUDIODRIVER=dummy) for SECONDS with the player's ten
//                                     flat bands; prints the process's CPU use in % of one core
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bass.h"

namespace {

const float kCentres[10] = {80, 170, 310, 600, 1000, 3000, 6000, 10000, 12000, 14000};
const float kPreset[10] = {6, 4, 2, 0, -2, -1, 2, 4, 5, 6};  // a typical "loudness" curve

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void AddBands(HSTREAM stream, bool withGains) {
  for (int i = 0; i < 10; ++i) {
    const HFX fx = BASS_ChannelSetFX(stream, BASS_FX_DX8_PARAMEQ, 1);
    const BASS_DX8_PARAMEQ params{kCentres[i], 5, withGains ? kPreset[i] : 0.0f};
    BASS_FXSetParameters(fx, &params);
  }
}

int Decode(const char* file, bool withGains) {
  // The decoder module (and FFmpeg with it) is loaded once per process, by the first open; that
  // start-up is not part of the decoding rate, so it happens before the clock starts.
  BASS_StreamFree(BASS_StreamCreateFile(FALSE, file, 0, 0, BASS_STREAM_DECODE));
  const auto wallStart = std::chrono::steady_clock::now();
  const double cpuStart = CpuSeconds();
  const HSTREAM stream = BASS_StreamCreateFile(FALSE, file, 0, 0, BASS_STREAM_DECODE);
  if (stream == 0) {
    std::fprintf(stderr, "cannot open %s: error %d\n", file, BASS_ErrorGetCode());
    return 1;
  }
  AddBands(stream, withGains);
  std::vector<char> block(1 << 16);
  QWORD bytes = 0;
  for (;;) {
    const DWORD got = BASS_ChannelGetData(stream, block.data(), static_cast<DWORD>(block.size()));
    if (got == static_cast<DWORD>(-1)) break;
    bytes += got;
  }
  const double audio = BASS_ChannelBytes2Seconds(stream, bytes);
  BASS_StreamFree(stream);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  const double cpu = CpuSeconds() - cpuStart;
  std::printf("decode+eq(%s): %.2f s of audio in %.1f ms (cpu %.1f ms) = %.0fx real time\n",
              withGains ? "10 bands, preset" : "10 bands, flat", audio, wall * 1000, cpu * 1000, audio / wall);
  return 0;
}

int Play(const char* file, double seconds) {
  if (!BASS_Init(-1, 44100, 0, nullptr, nullptr)) {
    std::fprintf(stderr, "BASS_Init failed: error %d\n", BASS_ErrorGetCode());
    return 1;
  }
  const double cpuStart = CpuSeconds();
  const auto wallStart = std::chrono::steady_clock::now();
  const HSTREAM stream = BASS_StreamCreateFile(FALSE, file, 0, 0, 0);
  if (stream == 0) {
    std::fprintf(stderr, "cannot open %s: error %d\n", file, BASS_ErrorGetCode());
    return 1;
  }
  AddBands(stream, false);
  BASS_ChannelSetAttribute(stream, BASS_ATTRIB_VOL, 0.8f);
  BASS_ChannelPlay(stream, FALSE);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double played = BASS_ChannelBytes2Seconds(stream, BASS_ChannelGetPosition(stream, BASS_POS_BYTE));
  const double cpu = CpuSeconds() - cpuStart;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  BASS_StreamFree(stream);
  BASS_Free();
  std::printf("play: %.1f s wall, %.1f s played, cpu %.1f ms = %.3f %% of one core\n", wall, played, cpu * 1000,
              100.0 * cpu / wall);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "decode") == 0) return Decode(argv[2], argc < 4 || std::strcmp(argv[3], "flat") != 0);
  if (argc >= 4 && std::strcmp(argv[1], "play") == 0) return Play(argv[2], std::atof(argv[3]));
  std::fprintf(stderr, "usage: bass_bench decode FILE [flat|eq] | bass_bench play FILE SECONDS\n");
  return 2;
}
