// Benchmark program of the audio library (run by scripts/bench/audio_decode.sh; prints figures,
// asserts nothing).
//   bass_bench decode FILE [flat|eq]  decode + ten-band equaliser through a decoding channel on
//                                     this thread; prints × real time and CPU time
//   bass_bench play FILE SECONDS      plays FILE to the default device (run with
//                                     SDL_AUDIODRIVER=dummy) for SECONDS with the player's ten
//                                     flat bands; prints the process's CPU use in % of one core
//   bass_bench tags FILE...           reads the title, artist, album and length of every FILE,
//                                     from the headers (TAGS_OpenFile) and through a decoding
//                                     stream; prints files per second of each
//   bass_bench resume FILE RUNS       plays FILE, pauses until the output has closed, and times
//                                     from BASS_ChannelPlay of a new stream to its first sample
//                                     at the device
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bass.h"
#include "tags.h"

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

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Files per second through one way of reading the four values; median of three passes.
template <typename ReadOne>
double FilesPerSecond(const std::vector<std::string>& files, ReadOne readOne) {
  std::vector<double> rates;
  for (int pass = 0; pass < 3; ++pass) {
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& file : files) readOne(file);
    rates.push_back(static_cast<double>(files.size()) / Seconds(start));
  }
  std::sort(rates.begin(), rates.end());
  return rates[1];
}

int Tags(const std::vector<std::string>& files) {
  size_t titled = 0;
  const double headers = FilesPerSecond(files, [&](const std::string& file) {
    TAGS_FILE* tags = TAGS_OpenFile(file.c_str());
    if (!tags) return;
    std::string title = TAGS_FileRead(tags, "%TITL");
    title += TAGS_FileRead(tags, "%ARTI");
    title += TAGS_FileRead(tags, "%ALBM");
    titled += !title.empty() && TAGS_FileSeconds(tags) > 0;
    TAGS_CloseFile(tags);
  });
  // The decoder module is loaded once per process; that is not part of the rate.
  BASS_StreamFree(BASS_StreamCreateFile(FALSE, files.front().c_str(), 0, 0, BASS_STREAM_DECODE));
  const double decoder = FilesPerSecond(files, [](const std::string& file) {
    const HSTREAM stream = BASS_StreamCreateFile(FALSE, file.c_str(), 0, 0, BASS_STREAM_DECODE);
    std::string title = TAGS_Read(stream, "%TITL");
    title += TAGS_Read(stream, "%ARTI");
    title += TAGS_Read(stream, "%ALBM");
    BASS_ChannelGetLength(stream, BASS_POS_BYTE);
    BASS_StreamFree(stream);
  });
  std::printf("tags of %zu files (%zu with texts and a length): headers %.0f files/s, decoder %.0f files/s "
              "(median of 3 passes)\n",
              files.size(), titled / 3, headers, decoder);
  return 0;
}

// True once the output history holds a sample that is not silence.
bool Sounding(HSTREAM stream) {
  float block[256];
  const DWORD got = BASS_ChannelGetData(stream, block, sizeof block);
  if (got == static_cast<DWORD>(-1)) return false;
  for (DWORD i = 0; i < got / sizeof(float); ++i) {
    if (block[i] != 0) return true;
  }
  return false;
}

// Median ms from BASS_ChannelPlay of a new stream to its first sample at the device, when the
// previous stream paused restMs before (the output closes after about half a second of rest).
double FirstSampleAfterRest(const char* file, int runs, int restMs) {
  std::vector<double> ms;
  for (int run = 0; run < runs; ++run) {
    const HSTREAM stream = BASS_StreamCreateFile(FALSE, file, 0, 0, 0);
    if (stream == 0) return -1;
    BASS_ChannelPlay(stream, FALSE);
    while (!Sounding(stream)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    BASS_ChannelPause(stream);
    std::this_thread::sleep_for(std::chrono::milliseconds(restMs));
    BASS_StreamFree(stream);
    // A new stream, whose output history is still silent.
    const HSTREAM next = BASS_StreamCreateFile(FALSE, file, 0, 0, 0);
    const auto start = std::chrono::steady_clock::now();
    BASS_ChannelPlay(next, FALSE);
    while (!Sounding(next)) std::this_thread::sleep_for(std::chrono::microseconds(200));
    ms.push_back(Seconds(start) * 1000);
    BASS_StreamFree(next);
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

int Resume(const char* file, int runs) {
  if (!BASS_Init(-1, 44100, 0, nullptr, nullptr)) {
    std::fprintf(stderr, "BASS_Init failed: error %d\n", BASS_ErrorGetCode());
    return 1;
  }
  const double running = FirstSampleAfterRest(file, runs, 100);
  const double closed = FirstSampleAfterRest(file, runs, 1500);
  BASS_Free();
  if (running < 0 || closed < 0) {
    std::fprintf(stderr, "cannot open %s\n", file);
    return 1;
  }
  std::printf("play to first sample at the device, median of %d: output still open %.1f ms, output closed "
              "(opened again) %.1f ms\n",
              runs, running, closed);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "decode") == 0) return Decode(argv[2], argc < 4 || std::strcmp(argv[3], "flat") != 0);
  if (argc >= 4 && std::strcmp(argv[1], "play") == 0) return Play(argv[2], std::atof(argv[3]));
  if (argc >= 3 && std::strcmp(argv[1], "tags") == 0) return Tags(std::vector<std::string>(argv + 2, argv + argc));
  if (argc >= 4 && std::strcmp(argv[1], "resume") == 0) return Resume(argv[2], std::atoi(argv[3]));
  std::fprintf(stderr,
               "usage: bass_bench decode FILE [flat|eq] | play FILE SECONDS | tags FILE... | resume FILE RUNS\n");
  return 2;
}
