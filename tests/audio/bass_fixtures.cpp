#include "bass_fixtures.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "bass.h"

extern char** environ;

namespace orvane::test {

bool RunProgram(const std::vector<std::string>& args) {
  if (args.empty()) return false;
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (auto& arg : copy) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool RunFfmpeg(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"ffmpeg", "-nostdin", "-loglevel", "error", "-y"};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram(all);
}

std::string MakeAudio(const TempDir& dir, const std::string& name, const std::string& lavfi,
                      const std::vector<std::string>& codecArgs) {
  const std::string path = dir.File(name);
  std::vector<std::string> args = {"-f", "lavfi", "-i", lavfi};
  args.insert(args.end(), codecArgs.begin(), codecArgs.end());
  args.push_back(path);
  return RunFfmpeg(args) ? path : std::string{};
}

std::string MakeSineWav(const TempDir& dir, const std::string& name, double hz, double seconds) {
  const std::string source = "aevalsrc=0.5*sin(2*PI*" + std::to_string(hz) + "*t):s=44100:c=stereo:d=" +
                             std::to_string(seconds);
  return MakeAudio(dir, name, source, {"-c:a", "pcm_f32le"});
}

std::vector<float> ReadFloats(const std::string& path) {
  const std::string bytes = ReadFileBytes(path);
  std::vector<float> samples(bytes.size() / sizeof(float));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
  return samples;
}

std::vector<float> DecodeAll(uint32_t stream) {
  std::vector<float> all;
  std::vector<float> block(16384);
  for (;;) {
    const DWORD got = BASS_ChannelGetData(stream, block.data(), static_cast<DWORD>(block.size() * sizeof(float)));
    if (got == static_cast<DWORD>(-1)) break;
    all.insert(all.end(), block.begin(), block.begin() + got / sizeof(float));
  }
  return all;
}

float PeakLeft(const std::vector<float>& samples, size_t from, size_t to) {
  float peak = 0;
  to = std::min(to, samples.size() / 2);
  for (size_t i = from; i < to; ++i) peak = std::max(peak, std::fabs(samples[2 * i]));
  return peak;
}

int64_t FirstLoudFrame(const std::vector<float>& samples, float threshold, size_t from) {
  for (size_t i = from; i < samples.size() / 2; ++i) {
    if (std::fabs(samples[2 * i]) > threshold) return static_cast<int64_t>(i);
  }
  return -1;
}

std::string UseDiskOutput(const TempDir& dir) {
  const std::string path = dir.File("output.raw");
  ::setenv("SDL_AUDIODRIVER", "disk", 1);
  ::setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
  return path;
}

}  // namespace orvane::test
