#include "net/MusicFolderSongs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <utility>

namespace orvane::net {
namespace {

using Clock = std::chrono::steady_clock;

// More candidates than wanted are kept, so files a decoder refuses can be replaced without a
// second walk.
constexpr size_t kSpareFactor = 3;
// How many entries pass between two looks at the clock.
constexpr size_t kClockEvery = 256;

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

std::string LowerExtension(const char* name) {
  const char* dot = std::strrchr(name, '.');
  if (!dot || dot == name) return {};
  std::string extension(dot);
  for (char& c : extension)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return extension;
}

class TWalk {
 public:
  TWalk(const std::vector<std::string>& extensions, size_t keep, const TFolderWalkLimits& limits, uint64_t seed)
      : extensions(extensions), keep(keep), limits(limits), random(seed), deadline(Clock::now() + limits.MaxTime) {}

  void Run(const std::string& folder, TFolderPick& pick) {
    Enter(folder);
    while (!pending.empty() && !cut) {
      const std::string dir = std::move(pending.back());
      pending.pop_back();
      List(dir);
    }
    pick.FilesSeen = filesSeen;
    pick.Candidates = candidates;
    pick.Cut = cut;
  }

  std::vector<std::string>& Reservoir() { return reservoir; }
  std::mt19937_64& Random() { return random; }

 private:
  // Each folder once, by its identity: a link to a folder above (or to itself) is seen once only.
  void Enter(const std::string& dir) {
    struct stat info {};
    if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return;
    if (!visited.insert({info.st_dev, info.st_ino}).second) return;
    pending.push_back(dir);
  }

  void List(const std::string& dir) {
    std::unique_ptr<DIR, DirCloser> handle(::opendir(dir.c_str()));
    if (!handle) return;  // unreadable: skipped
    std::vector<std::string> subfolders;
    while (const dirent* entry = ::readdir(handle.get())) {
      if (entry->d_name[0] == '.') continue;  // ".", "..", hidden files and folders
      const std::string path = dir + "/" + entry->d_name;
      unsigned char type = entry->d_type;
      if (type == DT_LNK || type == DT_UNKNOWN) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) continue;  // a dangling link
        type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
      }
      if (type == DT_DIR) {
        subfolders.push_back(path);
        continue;
      }
      if (++filesSeen >= limits.MaxFiles || (filesSeen % kClockEvery == 0 && Clock::now() >= deadline)) cut = true;
      if (type == DT_REG) Offer(path, entry->d_name);
      if (cut) return;
    }
    // In random order, so a walk that a limit ends early has not seen only the first folders of
    // the alphabet.
    std::shuffle(subfolders.begin(), subfolders.end(), random);
    for (std::string& sub : subfolders) Enter(sub);
  }

  // Reservoir sampling: after n candidates each has had the same chance, keep / n, to be kept.
  void Offer(const std::string& path, const char* name) {
    const std::string extension = LowerExtension(name);
    if (extension.empty() || std::find(extensions.begin(), extensions.end(), extension) == extensions.end()) return;
    ++candidates;
    if (reservoir.size() < keep) {
      reservoir.push_back(path);
      return;
    }
    const size_t slot = std::uniform_int_distribution<size_t>(0, candidates - 1)(random);
    if (slot < keep) reservoir[slot] = path;
  }

  const std::vector<std::string>& extensions;
  const size_t keep;
  const TFolderWalkLimits limits;
  std::mt19937_64 random;
  const Clock::time_point deadline;
  std::vector<std::string> pending;
  std::set<std::pair<dev_t, ino_t>> visited;
  std::vector<std::string> reservoir;
  size_t filesSeen = 0;
  size_t candidates = 0;
  bool cut = false;
};

}  // namespace

TFolderPick PickRandomSongFiles(const std::string& folder, const std::vector<std::string>& extensions, size_t count,
                                const std::function<bool(const std::string& path)>& decodes,
                                const TFolderWalkLimits& limits, uint64_t seed) {
  TFolderPick pick;
  if (folder.empty() || count == 0 || extensions.empty()) return pick;
  if (seed == 0) seed = std::random_device{}() ^ static_cast<uint64_t>(Clock::now().time_since_epoch().count());
  TWalk walk(extensions, count * kSpareFactor, limits, seed);
  walk.Run(folder, pick);
  std::vector<std::string>& reservoir = walk.Reservoir();
  // The reservoir's order tells when a file was seen; the list's order should not.
  std::shuffle(reservoir.begin(), reservoir.end(), walk.Random());
  for (std::string& path : reservoir) {
    if (pick.Files.size() == count) break;
    if (!decodes || decodes(path)) pick.Files.push_back(std::move(path));
  }
  return pick;
}

}  // namespace orvane::net
