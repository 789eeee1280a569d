#include "bass_fixtures.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

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

namespace {

namespace fs = std::filesystem;

// The ffmpeg that PATH finds, as its size and change time: a new ffmpeg makes new fixtures.
std::string FfmpegIdentity() {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  for (std::string folder; std::getline(dirs, folder, ':');) {
    struct stat st {};
    const std::string candidate = (folder.empty() ? "." : folder) + "/ffmpeg";
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
      return candidate + ' ' + std::to_string(st.st_size) + ' ' + std::to_string(st.st_mtim.tv_sec) + '.' +
             std::to_string(st.st_mtim.tv_nsec);
  }
  return {};
}

// Where a fixture made from these arguments is kept for the build tree's other test processes, or
// empty when none can be: each test runs in a process of its own, and a suite whose set-up encodes a
// dozen files would otherwise encode them again for every one of its tests.
std::string CachedFixturePath(const std::vector<std::string>& args, const std::string& name) {
  static const std::string ffmpeg = FfmpegIdentity();
  if (ffmpeg.empty()) return {};
  uint64_t hash = 14695981039346656037ull;  // FNV-1a over the arguments and the ffmpeg
  auto mix = [&hash](const std::string& text) {
    for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    hash = (hash ^ 0xFF) * 1099511628211ull;  // a separator no argument holds
  };
  for (const std::string& arg : args) mix(arg);
  mix(ffmpeg);
  const std::string extension = fs::path(name).extension().string();  // the container ffmpeg picks
  mix(extension);
  char key[17];
  std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(hash));
  return std::string(ORVANE_BIN_DIR) + "/../test-fixtures/" + key + extension;
}

}  // namespace

std::string MakeAudio(const TempDir& dir, const std::string& name, const std::string& lavfi,
                      const std::vector<std::string>& codecArgs) {
  const std::string path = dir.File(name);
  std::vector<std::string> args = {"-f", "lavfi", "-i", lavfi};
  args.insert(args.end(), codecArgs.begin(), codecArgs.end());
  const std::string cached = CachedFixturePath(args, name);
  std::error_code error;
  // A copy, never a link: tests damage their files in place.
  if (!cached.empty() && fs::copy_file(cached, path, fs::copy_options::overwrite_existing, error)) return path;
  args.push_back(path);
  if (!RunFfmpeg(args)) return {};
  if (!cached.empty()) {
    // Whole or not at all, also when another test process stores the same fixture at the same time.
    const std::string part = cached + ".part" + std::to_string(::getpid());
    fs::create_directories(fs::path(cached).parent_path(), error);
    if (fs::copy_file(path, part, fs::copy_options::overwrite_existing, error)) fs::rename(part, cached, error);
    if (error) fs::remove(part, error);
  }
  return path;
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
