// Figures for scripts/bench/audio_engine.sh, measured through TAudioEngine on SDL's dummy device:
//   engine_bench latency <file> [runs]   time from Open to the first sample handed to the device
//   engine_bench cpu <file> [seconds]    CPU time of the whole process while the file plays
// Prints figures; asserts nothing.

#include <sys/resource.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "audio/AudioEngine.h"
#include "audio/bass/bass.h"

namespace {

using orvane::audio::TAudioEngine;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

template <class Done>
bool RunEventsUntil(Done done, double timeoutMs) {
  const auto start = Clock::now();
  while (!done()) {
    if (Ms(Clock::now() - start) > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// True once the channel's output history holds a sample that is not silence.
bool SampleHandedOver(HSTREAM channel) {
  float block[512];
  const DWORD got = BASS_ChannelGetData(channel, block, sizeof block);
  if (got == static_cast<DWORD>(-1)) return false;
  for (DWORD i = 0; i < got / sizeof(float); ++i) {
    if (block[i] != 0) return true;
  }
  return false;
}

int Latency(TAudioEngine& engine, const std::string& file, int runs) {
  std::vector<double> toPlaying;
  std::vector<double> toFirstSample;
  for (int run = 0; run < runs; ++run) {
    engine.Stop();
    const auto start = Clock::now();
    engine.Open(file);
    if (!RunEventsUntil([&] { return !engine.OpenPending(); }, 5000) || engine.State() != orvane::audio::StatePlaying) {
      std::fprintf(stderr, "open failed\n");
      return 1;
    }
    const auto playing = Clock::now();
    // Polled once a millisecond: the output skips a history update rather than wait for a reader.
    while (!SampleHandedOver(engine.Channel())) {
      if (Ms(Clock::now() - start) > 5000) {
        std::fprintf(stderr, "no sample reached the device\n");
        return 1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    toPlaying.push_back(Ms(playing - start));
    toFirstSample.push_back(Ms(Clock::now() - start));
  }
  auto report = [](const char* what, std::vector<double> v) {
    std::sort(v.begin(), v.end());
    std::printf("%-36s min %6.2f ms  median %6.2f ms  max %6.2f ms  (%zu runs)\n", what, v.front(), v[v.size() / 2],
                v.back(), v.size());
  };
  report("Open -> playing (OnStateChange 1002)", toPlaying);
  report("Open -> first sample at the device", toFirstSample);
  std::printf("target: first sample <= 30 ms\n");
  return 0;
}

// CPU nanoseconds of each thread of the process (schedstat), keyed by thread id, with its name.
std::map<std::string, std::pair<std::string, double>> ThreadCpu() {
  std::map<std::string, std::pair<std::string, double>> threads;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(entry.path() / "comm");
    std::ifstream schedstat(entry.path() / "schedstat");
    std::string name;
    double ns = 0;
    std::getline(comm, name);
    schedstat >> ns;
    threads[entry.path().filename().string()] = {name, ns};
  }
  return threads;
}

// Where the time went: each thread's CPU time during the measurement.
void PrintThreadCpu(const std::map<std::string, std::pair<std::string, double>>& before, double wall) {
  for (const auto& [tid, thread] : ThreadCpu()) {
    const auto it = before.find(tid);
    const double ns = thread.second - (it != before.end() ? it->second.second : 0);
    std::printf("  thread %-16s %.1f ms = %.3f %%\n", thread.first.c_str(), ns / 1e6, 100 * ns / 1e9 / wall);
  }
}

int Cpu(TAudioEngine& engine, const std::string& file, int seconds) {
  engine.Open(file);
  if (!RunEventsUntil([&] { return !engine.OpenPending(); }, 5000) || engine.State() != orvane::audio::StatePlaying) {
    std::fprintf(stderr, "open failed\n");
    return 1;
  }
  // The owner's tick handler, as the main window has one.
  int ticks = 0;
  engine.OnTick = [&](int32_t, int32_t, int32_t, const orvane::audio::TSpectrumData&,
                      const orvane::audio::TWaveData&) { ++ticks; };
  // The event loop as the program runs it: idle except for the tick.
  const auto threadsBefore = ThreadCpu();
  const double cpuStart = CpuSeconds();
  const auto start = Clock::now();
  QTimer::singleShot(seconds * 1000, QCoreApplication::instance(), &QCoreApplication::quit);
  QCoreApplication::exec();
  const double wall = Ms(Clock::now() - start) / 1000;
  const double cpu = CpuSeconds() - cpuStart;
  std::printf("played %.1f s (%d ticks), CPU %.3f s = %.3f %% of one core (target <= 0.4 %%)\n", wall, ticks, cpu,
              100 * cpu / wall);
  PrintThreadCpu(threadsBefore, wall);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s latency|cpu <file> [runs|seconds]\n", argv[0]);
    return 2;
  }
  ::setenv("SDL_AUDIODRIVER", "dummy", 0);
  QCoreApplication app(argc, argv);
  const std::string mode = argv[1];
  const std::string file = argv[2];
  const int count = argc > 3 ? std::atoi(argv[3]) : (mode == "cpu" ? 60 : 20);
  TAudioEngine engine(nullptr, "/nonexistent/", nullptr);
  if (engine.StartupError() != 0) {
    std::fprintf(stderr, "the audio library did not start\n");
    return 1;
  }
  engine.SetVolume(65);
  return mode == "cpu" ? Cpu(engine, file, count) : Latency(engine, file, count);
}
