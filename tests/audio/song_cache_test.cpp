// TSongCache driven directly, as the engine's download thread would (here on the test's thread):
// names, which downloads become song files, and the temporary file's reuse. The URL path through
// the real library is in audio_engine_test.cpp.

#include "audio/SongCache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "event_loop.h"
#include "support/temp_dir.h"

namespace orvane::audio {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

class SongCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { test::QtApp(); }

  void Prepare(std::string_view caption = "song") {
    cache->Prepare(music.Path().string(), caption, 3, "http://host/song.mp3");
  }
  // One download: the blocks, then the end mark.
  void Download(const std::vector<std::string>& blocks, bool complete) {
    for (const std::string& block : blocks) cache->DownloadData(block.data(), static_cast<uint32_t>(block.size()));
    cache->DownloadEnded(complete);
    test::ProcessEventsFor(20);  // the queued location change
  }

  TempDir music;
  std::shared_ptr<TDownloadCounters> counters = std::make_shared<TDownloadCounters>();
  std::vector<TCachedSong> changes;
  std::unique_ptr<TSongCache> cache =
      std::make_unique<TSongCache>(counters, [this](const TCachedSong& s) { changes.push_back(s); });
};

TEST_F(SongCacheTest, NamesTheSongAfterItsCaption) {
  std::string fifty;
  for (int i = 0; i < 50; ++i) fifty += "中";  // 150 bytes
  std::string thirtyThree;
  for (int i = 0; i < 33; ++i) thirtyThree += "中";  // 99 bytes: the 34th character would pass 100
  struct Case {
    std::string caption;
    std::vector<std::string> existing;
    std::string expected;
  };
  const Case cases[] = {
      {"a/b:c", {}, "abc.mp3"},
      {"x", {"x.mp3"}, "x(1).mp3"},
      {"x", {"x.mp3", "x(1).mp3"}, "x(2).mp3"},
      {"歌手 - 标题?", {}, "歌手 - 标题.mp3"},
      {fifty, {}, thirtyThree + ".mp3"},
      {std::string(150, 'a'), {}, std::string(100, 'a') + ".mp3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caption);
    TempDir folder;
    for (const std::string& name : c.existing) WriteFileBytes(folder.Path() / name, "x");
    cache->Prepare(folder.Path().string(), c.caption, 0, "http://host/a");
    EXPECT_EQ(cache->CacheTargetPath(), folder.File(c.expected));
    EXPECT_EQ(cache->CacheTempPath(), folder.File("_temp._mp"));
  }
}

TEST_F(SongCacheTest, WholeDownloadBecomesTheSongFile) {
  Prepare();
  counters->DownloadTotal = 10;
  Download({"01234", "56789"}, true);
  EXPECT_EQ(ReadFileBytes(music.Path() / "song.mp3"), "0123456789");
  EXPECT_FALSE(fs::exists(music.Path() / "_temp._mp"));
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].Index, 3);
  EXPECT_EQ(changes[0].Location, "http://host/song.mp3");
  EXPECT_EQ(changes[0].TargetPath, music.File("song.mp3"));
  EXPECT_EQ(counters->DownloadReceived.load(), 10u);
  EXPECT_FALSE(cache->Writing());
}

TEST_F(SongCacheTest, OnlyAWholeCleanlyEndedDownloadBecomesASong) {
  struct Case {
    const char* name;
    uint64_t total;
    std::vector<std::string> blocks;
    bool complete;
    bool song;
  };
  const Case cases[] = {
      {"shorter than the total", 10, {"01234"}, true, false},
      {"unknown total, clean end", 0, {"01234"}, true, true},
      {"unknown total, cut off", 0, {"01234"}, false, false},
      {"total reached but cut off", 5, {"01234"}, false, false},
      {"nothing arrived", 0, {}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    changes.clear();
    fs::remove(music.Path() / "song.mp3");
    Prepare();
    counters->DownloadTotal = c.total;
    Download(c.blocks, c.complete);
    EXPECT_EQ(fs::exists(music.Path() / "song.mp3"), c.song);
    EXPECT_EQ(changes.size(), c.song ? 1u : 0u);
    if (!c.song) {
      EXPECT_EQ(ReadFileBytes(music.Path() / "_temp._mp"), c.blocks.empty() ? "" : c.blocks[0]);
    }
  }
}

TEST_F(SongCacheTest, NextDownloadStartsAFreshTemporaryFile) {
  Prepare();
  counters->DownloadTotal = 100;
  Download({"first download, cut off"}, false);
  EXPECT_EQ(ReadFileBytes(music.Path() / "_temp._mp"), "first download, cut off");

  Prepare();
  counters->DownloadTotal = 6;
  cache->DownloadData("second", 6);
  EXPECT_EQ(ReadFileBytes(music.Path() / "_temp._mp"), "second");
  EXPECT_EQ(counters->DownloadReceived.load(), 6u);
  cache->DownloadEnded(true);
  test::ProcessEventsFor(20);
  EXPECT_EQ(ReadFileBytes(music.Path() / "song.mp3"), "second");
}

TEST_F(SongCacheTest, ExistingTargetIsNeverReplacedAndTheEntryKeepsItsUrl) {
  Prepare();
  WriteFileBytes(music.Path() / "song.mp3", "someone else's file");  // appeared after the names were chosen
  counters->DownloadTotal = 4;
  Download({"data"}, true);
  EXPECT_EQ(ReadFileBytes(music.Path() / "song.mp3"), "someone else's file");
  EXPECT_TRUE(changes.empty());
}

TEST_F(SongCacheTest, EndlessStreamStopsAtTheLimitAndMakesNoSong) {
  cache = std::make_unique<TSongCache>(counters, [this](const TCachedSong& s) { changes.push_back(s); }, 8);
  Prepare();
  counters->DownloadTotal = 0;
  Download({"0123", "4567", "89"}, true);
  EXPECT_FALSE(fs::exists(music.Path() / "song.mp3"));
  EXPECT_FALSE(fs::exists(music.Path() / "_temp._mp"));
  EXPECT_TRUE(changes.empty());
  EXPECT_LE(counters->DownloadReceived.load(), 8u);
}

TEST_F(SongCacheTest, MissingMusicFolderCachesNothing) {
  cache->Prepare(music.File("gone"), "song", 0, "http://host/a");
  counters->DownloadTotal = 0;
  Download({"0123", "4567"}, true);
  EXPECT_FALSE(fs::exists(music.Path() / "gone"));
  EXPECT_TRUE(changes.empty());
}

TEST_F(SongCacheTest, AFinishingCopyHoldsUpNeitherTheDownloadNorTheNextSong) {
  // Where the file system cannot rename without replacing, the finished download is copied on a
  // worker. Here the copy waits at a gate until the next song has started downloading.
  std::mutex mutex;
  std::condition_variable changed;
  bool release = false;
  bool copyWaiting = false;
  cache->UseCopyForTesting([&] {
    std::unique_lock lock(mutex);
    copyWaiting = true;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
  });
  Prepare("first");
  counters->DownloadTotal = 10;
  cache->DownloadData("0123456789", 10);
  cache->DownloadEnded(true);  // returns while the copy has not even started
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return copyWaiting; }));
  }
  EXPECT_FALSE(fs::exists(music.Path() / "first.mp3"));

  // The next song prepares and downloads into a fresh "_temp._mp" meanwhile.
  Prepare("second");
  counters->DownloadTotal = 0;
  cache->DownloadData("abc", 3);
  EXPECT_EQ(ReadFileBytes(music.Path() / "_temp._mp"), "abc");
  {
    std::lock_guard lock(mutex);
    release = true;
    changed.notify_all();
  }
  ASSERT_TRUE(test::ProcessEventsUntil([&] { return changes.size() == 1; }, 10000));
  EXPECT_EQ(changes[0].TargetPath, music.File("first.mp3"));
  EXPECT_EQ(ReadFileBytes(music.Path() / "first.mp3"), "0123456789");
  cache->DownloadEnded(true);
  ASSERT_TRUE(test::ProcessEventsUntil([&] { return changes.size() == 2; }, 10000));
  EXPECT_EQ(ReadFileBytes(music.Path() / "second.mp3"), "abc");
  // Nothing is left behind: neither the temporary file nor the copies' private names.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(music.Path())) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"first.mp3", "second.mp3"}));
}

TEST_F(SongCacheTest, AFinishingCopyOutlivingTheCacheTellsNobody) {
  // The copy's thread outlives the cache and may outlive this test too: the gate is its own.
  struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool release = false;
  };
  auto gate = std::make_shared<Gate>();
  cache->UseCopyForTesting([gate] {
    std::unique_lock lock(gate->mutex);
    gate->changed.wait(lock, [&] { return gate->release; });
  });
  Prepare();
  counters->DownloadTotal = 4;
  Download({"data"}, true);
  cache.reset();  // the player goes while the copy waits
  {
    std::lock_guard lock(gate->mutex);
    gate->release = true;
    gate->changed.notify_all();
  }
  EXPECT_TRUE(test::ProcessEventsUntil([&] { return fs::exists(music.Path() / "song.mp3"); }, 10000));
  test::ProcessEventsFor(50);
  EXPECT_TRUE(changes.empty());
}

TEST_F(SongCacheTest, ASongBeingCopiedHasNoSongNameUntilItIsWhole) {
  // A player that quits part-way through the copy leaves whatever is on disk at that moment: none
  // of it may look like a song, or the truncated file would be played from the cache later.
  std::mutex mutex;
  std::vector<std::string> seenMidCopy;
  cache->UseCopyForTesting({}, [&] {
    std::lock_guard lock(mutex);
    if (!seenMidCopy.empty()) return;
    for (const auto& entry : fs::directory_iterator(music.Path())) seenMidCopy.push_back(entry.path().filename().string());
  });
  Prepare();
  const std::string song(200 * 1024, 's');  // several blocks of the copy
  counters->DownloadTotal = song.size();
  Download({song}, true);
  ASSERT_TRUE(test::ProcessEventsUntil([&] { return changes.size() == 1; }, 10000));
  EXPECT_EQ(ReadFileBytes(music.Path() / "song.mp3"), song);
  std::lock_guard lock(mutex);
  ASSERT_FALSE(seenMidCopy.empty());
  for (const std::string& name : seenMidCopy) EXPECT_EQ(name.find(".mp3"), std::string::npos) << name;
}

}  // namespace
}  // namespace orvane::audio
