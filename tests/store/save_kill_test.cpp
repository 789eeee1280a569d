// A player killed in the middle of a save (power loss, the OOM killer, kill -9) must leave each file
// whole: the old one or the new one, never a mix, never unreadable. A child process saves the
// settings and a 10,000-song playlist in a loop, as the player does after each change, and is
// killed at random moments.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "store/PlaylistReader.h"
#include "store/UYmPlayerlist.h"
#include "store/UYmXMLCFG.h"
#include "support/temp_dir.h"

using orvane::store::TPList;
using orvane::store::TYkConfig;
using orvane::store::TYkPlist;
using orvane::test::TempDir;
namespace fs = std::filesystem;

namespace {

constexpr int kSongs = 10000;
#if defined(__SANITIZE_ADDRESS__)
// The sanitizer build is several times slower; it is there for memory errors, which fewer rounds
// find just as well.
constexpr int kRounds = 200;
#else
constexpr int kRounds = 1000;
#endif

// The two saves of one generation, the way the player saves: the settings through TYkConfig, the
// list through a store opened on the file, cleared and refilled. after(file) runs once each file is
// saved (0 the settings, 1 the list).
template <typename After>
void SaveGeneration(const std::string& config, const std::string& list, int generation, After after) {
  {
    TYkConfig cfg(config, "MainConfig");
    cfg.WriteInteger("Window/Volume", "Value", generation % 101);
    cfg.WriteInteger("Window/GEN", "Value", generation);
    cfg.Save();
  }
  after(0);
  {
    TYkPlist plist(list, "DefaultList");
    plist.ClearList("PlayerList");
    const std::string mark = std::to_string(generation);
    for (int i = 0; i < kSongs; ++i)
      plist.AddItem("PlayerList/LIST", "歌 " + mark, "歌手", "0", "/music/" + std::to_string(i) + ".mp3", 0);
    plist.Save();
  }
  after(1);
}

// The generation a settings file holds; nothing when it does not load cleanly.
std::optional<int> ConfigGeneration(const std::string& config) {
  TYkConfig cfg(config, "MainConfig");
  if (cfg.MovedAside() || !cfg.LoadError().empty()) return std::nullopt;
  const int generation = cfg.ReadInteger("Window/GEN", "Value", -1);
  if (generation < 0 || cfg.ReadInteger("Window/Volume", "Value", -1) != generation % 101) return std::nullopt;
  return generation;
}

// The generation a playlist holds; nothing unless it reads cleanly with all songs of one save.
std::optional<int> ListGeneration(const std::string& list) {
  std::vector<std::vector<TPList>> lists;
  if (!orvane::store::ReadPlaylistLists(list, {"PlayerList"}, lists) || lists[0].size() != kSongs) return std::nullopt;
  const std::string& title = lists[0].front().Title;
  for (const TPList& song : lists[0]) {
    if (song.Title != title) return std::nullopt;
  }
  return std::stoi(title.substr(title.find(' ') + 1));
}

}  // namespace

// A kill does not lose what is in the page cache, so what is tested here is atomicity, not
// durability: the files live on tmpfs when there is one, which spares the rounds the disk flushes.
std::unique_ptr<TempDir> ScratchDir() {
  const char* previous = std::getenv("TMPDIR");
  const std::string saved = previous ? previous : "";
  if (::access("/dev/shm", W_OK) == 0) ::setenv("TMPDIR", "/dev/shm", 1);
  auto dir = std::make_unique<TempDir>("orvane-kill");
  if (previous) {
    ::setenv("TMPDIR", saved.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  return dir;
}

TEST(SaveKill, EveryKillLeavesTheOldOrTheNewFile) {
  const auto dir = ScratchDir();
  const std::string config = dir->File("Orvane.xml");
  const std::string list = dir->File("Default.pls");
  // Each round starts a fresh child, so kill moments spread over one save cycle (the quickest of
  // three) hit every step of both saves.
  auto cycle = std::chrono::microseconds::max();
  for (int generation = 0; generation < 3; ++generation) {
    const auto start = std::chrono::steady_clock::now();
    SaveGeneration(config, list, 0, [](int) {});
    cycle = std::min(cycle, std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start));
  }
  std::mt19937 random(20261210);
  std::uniform_int_distribution<long> delayUs(0, cycle.count());

  int held[2] = {0, 0};  // the generation each file held after the last round
  int killsBetweenTheSaves = 0;
  for (int round = 0; round < kRounds; ++round) {
    int reports[2];
    ASSERT_EQ(::pipe(reports), 0);
    const int first = held[0] + 1;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(reports[0]);
      for (int next = first;; ++next) {
        SaveGeneration(config, list, next, [&](int file) {
          const int report[2] = {file, next};
          if (::write(reports[1], report, sizeof report) != sizeof report) ::_exit(1);
        });
      }
    }
    ::close(reports[1]);
    std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round;
    // Per file, the last generation whose save finished in this round, if any.
    std::optional<int> saved[2];
    for (int report[2]; ::read(reports[0], report, sizeof report) == sizeof report;) saved[report[0]] = report[1];
    ::close(reports[0]);

    const std::optional<int> found[2] = {ConfigGeneration(config), ListGeneration(list)};
    for (int file = 0; file < 2; ++file) {
      const char* name = file == 0 ? "settings" : "playlist";
      ASSERT_TRUE(found[file].has_value()) << "round " << round << ": the " << name << " file is damaged";
      // The old file is what the last finished save wrote (or what the file held before the
      // round); the new one is the save that was under way when the kill came.
      const int old = saved[file].value_or(held[file]);
      const int under = saved[file] ? *saved[file] + 1 : first;
      EXPECT_TRUE(*found[file] == old || *found[file] == under)
          << "round " << round << ": the " << name << " file holds generation " << *found[file] << ", not " << old
          << " or " << under;
      held[file] = *found[file];
    }
    EXPECT_LE(held[1], held[0]) << "round " << round;  // the settings are saved first
    if (held[0] != held[1]) ++killsBetweenTheSaves;
  }
  // Kills must have landed between the two saves now and then, or the test proves little.
  EXPECT_GT(killsBetweenTheSaves, 0);
  // A killed save leaves no temporary file behind: it has no name until just before the rename.
  int leftovers = 0;
  for (const auto& entry : fs::directory_iterator(dir->Path()))
    leftovers += entry.path().filename().string().find(".tmp-") != std::string::npos;
  EXPECT_LE(leftovers, kRounds / 100);
  RecordProperty("generations", held[0]);
}
