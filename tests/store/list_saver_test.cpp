// The playlist file on disk: locations that are not text survive a save and both readers byte for
// byte; the list saver writes off the caller's thread, coalesces, keeps order and reports each write
// once; a store's failed save is reported once and never run again by its destructor.
#include <gtest/gtest.h>
#include <libxml/xmlmemory.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "store/ListSaver.h"
#include "store/PlaylistReader.h"
#include "store/StoredLocation.h"
#include "store/UYmPlayerlist.h"
#include "store/UYmXMLCFG.h"
#include "support/temp_dir.h"

namespace orvane::store {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

// Locations that must come back as they went, with how they are stored.
struct LocationCase {
  const char* name;
  std::string location;
  std::string stored;
};

const std::vector<LocationCase>& LocationCases() {
  static const std::vector<LocationCase> cases = {
      {"utf-8 stays text", "/音乐/晴天 (live).mp3", "/音乐/晴天 (live).mp3"},
      {"url stays text", "http://h.example/a b.mp3?x=1&y=2", "http://h.example/a b.mp3?x=1&y=2"},
      {"gbk bytes", "/m/\xC4\xE3\xBA\xC3.mp3", "file:///m/%C4%E3%BA%C3.mp3"},
      {"latin-1 bytes", "/old/Caf\xE9 d\xE9j\xE0.ogg", "file:///old/Caf%E9%20d%E9j%E0.ogg"},
      {"a control byte xml cannot carry", "/m/a\x01" "b.mp3", "file:///m/a%01b.mp3"},
      {"a name that looks like an escape", "file:///m/x%41.mp3", "file://file%3A///m/x%2541.mp3"},
      {"a percent sign in a bad name", "/m/100%\xFF.mp3", "file:///m/100%25%FF.mp3"},
  };
  return cases;
}

TEST(StoredLocation, EveryLocationComesBackByteForByte) {
  for (const LocationCase& c : LocationCases()) {
    EXPECT_EQ(StoredLocation(c.location), c.stored) << c.name;
    EXPECT_EQ(LoadedLocation(StoredLocation(c.location)), c.location) << c.name;
  }
  // A hand-written file URI reads as the path it names; one with broken escapes as it stands.
  EXPECT_EQ(LoadedLocation("FILE:///home/u/a%20b.mp3"), "/home/u/a b.mp3");
  for (const char* odd : {"file:///m/a%2.mp3", "file:///m/a%zz.mp3", "file:///m/a%00.mp3", "file:///m/%"})
    EXPECT_EQ(LoadedLocation(odd), odd);
}

// Written the three ways the program writes a list (songs as elements, streamed from a snapshot, by
// the list saver) and read back the two ways it reads one.
TEST(StoredLocation, PathsSurviveEverySaveAndBothReaders) {
  TempDir dir;
  std::vector<std::string> locations;
  for (const LocationCase& c : LocationCases()) locations.push_back(c.location);
  auto check = [&](const std::string& file, const char* how) {
    TYkPlist store(file, "DefaultList");
    store.Load("PlayerList");
    ASSERT_EQ(store.Count(), static_cast<int32_t>(locations.size())) << how;
    std::vector<std::vector<TPList>> streamed;
    ASSERT_TRUE(ReadPlaylistLists(file, {"PlayerList"}, streamed)) << how;
    ASSERT_EQ(streamed[0].size(), locations.size()) << how;
    for (size_t i = 0; i < locations.size(); ++i) {
      EXPECT_EQ(store.Item(static_cast<int32_t>(i))->Path, locations[i]) << how << " " << i;
      EXPECT_EQ(streamed[0][i].Path, locations[i]) << how << " " << i;
    }
  };
  {
    TYkPlist store(dir.File("elements.pls"), "DefaultList");
    for (const std::string& location : locations) store.AddItem("PlayerList/LIST", "t", "s", "0", location, 0);
  }
  check(dir.File("elements.pls"), "elements");
  {
    TYkPlist store(dir.File("streamed.pls"), "DefaultList", "PlayerList");
    store.SetRewrittenSongs("LIST", locations.size(),
                            [&](size_t i, TPList& song) { song = {"t", "s", locations[i], "0", 0}; });
  }
  check(dir.File("streamed.pls"), "streamed");
  TListSave save{dir.File("saver.pls"), "DefaultList", "PlayerList", "LIST", {}, "RndList", {}};
  for (const std::string& location : locations) save.Songs.push_back(MakeSong("t", "s", location));
  TListSaver(nullptr).Queue(std::move(save));
  check(dir.File("saver.pls"), "saver");
}

// Code page 936 gives 0x80 the euro sign; a list holding it is read, not moved aside.
TEST(ReadPlaylistLists, AGb2312ListWithTheEuroSignLoadsInBothReaders) {
  TempDir dir;
  const std::string file = dir.File("euro.pls");
  const std::string bytes =
      "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<DefaultList><PlayerList>"
      "<LIST Path=\"/m/a.mp3\" Title=\"\x80 10 \xD4\xAA\" Artist=\"\" Url=\"0\" Ltime=\"0\"/></PlayerList></DefaultList>\n";
  WriteFileBytes(file, bytes);
  std::vector<std::vector<TPList>> lists;
  ASSERT_TRUE(ReadPlaylistLists(file, {"PlayerList"}, lists));
  ASSERT_EQ(lists[0].size(), 1u);
  EXPECT_EQ(lists[0][0].Title, "€ 10 元");
  TYkPlist store(file, "DefaultList");
  EXPECT_FALSE(store.MovedAside()) << store.LoadError();
  store.Load("PlayerList");
  ASSERT_EQ(store.Count(), 1);
  EXPECT_EQ(store.Item(0)->Title, "€ 10 元");
  EXPECT_EQ(ReadFileBytes(file), bytes);  // only read
}

std::vector<std::string> Titles(const std::string& file, const std::string& list) {
  std::vector<std::vector<TPList>> lists;
  if (!ReadPlaylistLists(file, {list}, lists)) return {"unreadable"};
  std::vector<std::string> titles;
  for (const TPList& song : lists[0]) titles.push_back(song.Title);
  return titles;
}

TSongList Songs(const std::string& prefix, int count) {
  TSongList songs;
  for (int i = 0; i < count; ++i) songs.push_back(MakeSong(prefix + std::to_string(i), "", "/m/" + std::to_string(i)));
  return songs;
}

TListSave SaveOf(const std::string& file, const std::string& list, TSongList songs, TSongList other = {}) {
  return {file, "DefaultList", list, "LIST", std::move(songs), list == "PlayerList" ? "RndList" : "PlayerList",
          std::move(other)};
}

// A burst of saves while one is being written costs one more write, the newest; saves of the two
// lists keep their order and neither loses the other; what is queued is written before the saver
// goes.
TEST(TListSaver, CoalescesKeepsOrderAndWritesWhatIsQueued) {
  TempDir dir;
  const std::string file = dir.File("Default.pls");
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<TListSaveResult> results;
  bool holdFirst = true;
  bool released = false;
  {
    TListSaver saver([&](const TListSaveResult& result) {
      std::unique_lock<std::mutex> lock(mutex);
      results.push_back(result);
      changed.notify_all();
      // The first write's report waits, so that the burst below queues up behind it.
      if (holdFirst) {
        holdFirst = false;
        changed.wait(lock, [&] { return released; });
      }
    });
    saver.Queue(SaveOf(file, "PlayerList", Songs("first ", 1), Songs("rnd ", 2)));
    {
      std::unique_lock<std::mutex> lock(mutex);
      ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return !results.empty(); }));
    }
    // What the crash path reads without a lock: the first file is on disk before it is reported.
    EXPECT_EQ(saver.UnwrittenNow(), 0);
    EXPECT_NE(saver.WorkerThreadId(), 0);
    for (int burst = 1; burst <= 100; ++burst) saver.Queue(SaveOf(file, "PlayerList", Songs("burst ", burst)));
    saver.Queue(SaveOf(file, "RndList", Songs("r ", 1)));
    saver.Queue(SaveOf(file, "PlayerList", Songs("last ", 3)));
    EXPECT_EQ(saver.UnwrittenNow(), 2);  // one per list, however many were queued
    {
      std::lock_guard<std::mutex> lock(mutex);
      released = true;
    }
    changed.notify_all();
    saver.Flush();
    EXPECT_EQ(saver.UnwrittenNow(), 0);
    EXPECT_EQ(Titles(file, "PlayerList"), (std::vector<std::string>{"last 0", "last 1", "last 2"}));
    EXPECT_EQ(Titles(file, "RndList"), (std::vector<std::string>{"r 0"}));
    saver.Queue(SaveOf(file, "RndList", Songs("at the end ", 1)));
  }
  ASSERT_EQ(results.size(), 4u);  // the first, the newest music list, the random list, the one at the end
  for (const TListSaveResult& result : results) EXPECT_TRUE(result.Ok) << result.Error;
  EXPECT_EQ(results[1].ListName, "PlayerList");
  EXPECT_EQ(results[1].Serial, 103u);  // the last of the burst, in the place of the first
  EXPECT_EQ(results[2].ListName, "RndList");
  EXPECT_EQ(Titles(file, "RndList"), (std::vector<std::string>{"at the end 0"}));
  EXPECT_EQ(Titles(file, "PlayerList").size(), 3u);
}

// A file that is gone or damaged holds no other list to keep: the save writes the snapshot's.
TEST(TListSaver, AFileWithNothingToKeepGetsTheOtherListFromTheSnapshot) {
  TempDir dir;
  const std::string file = dir.File("Default.pls");
  WriteFileBytes(file, "<DefaultList><PlayerList><LIST Pa");
  std::vector<TListSaveResult> results;
  {
    TListSaver saver([&](const TListSaveResult& result) { results.push_back(result); });
    saver.Queue(SaveOf(file, "PlayerList", Songs("m ", 2), Songs("r ", 1)));
  }
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(results[0].Ok);
  EXPECT_NE(results[0].MovedAsidePath.find("Default.pls.bad-"), std::string::npos);
  EXPECT_EQ(Titles(file, "PlayerList"), (std::vector<std::string>{"m 0", "m 1"}));
  EXPECT_EQ(Titles(file, "RndList"), (std::vector<std::string>{"r 0"}));
}

// libxml2's allocations fail while one is alive (as when memory runs out).
class FailingXmlMemory {
 public:
  FailingXmlMemory() {
    xmlMemGet(&oldFree, &oldMalloc, &oldRealloc, &oldStrdup);
    xmlMemSetup(std::free, Fail, FailRealloc, FailStrdup);
  }
  ~FailingXmlMemory() { xmlMemSetup(oldFree, oldMalloc, oldRealloc, oldStrdup); }

 private:
  static void* Fail(size_t) { return nullptr; }
  static void* FailRealloc(void*, size_t) { return nullptr; }
  static char* FailStrdup(const char*) { return nullptr; }
  xmlFreeFunc oldFree;
  xmlMallocFunc oldMalloc;
  xmlReallocFunc oldRealloc;
  xmlStrdupFunc oldStrdup;
};

// A save that fails is reported by its caller and not run again when the store goes; a value
// libxml2 could not set fails the save instead of writing a file without it.
TEST(StoreSave, AFailedSaveRunsOnceAndALostValueFailsTheSave) {
  TempDir dir;
  testing::internal::CaptureStderr();
  {
    TYkPlist plist(dir.File("no/such/folder/Default.pls"), "DefaultList");
    plist.AddItem("PlayerList/LIST", "t", "s", "0", "/m/a.mp3", 0);
    std::string error;
    EXPECT_FALSE(plist.Save(&error));
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  const std::string file = dir.File("Orvane.xml");
  {
    TYkConfig config(file, "MainConfig");
    config.WriteInteger("Window/Volume", "Value", 40);
  }
  const std::string before = ReadFileBytes(file);
  {
    TYkConfig config(file, "MainConfig");
    {
      const FailingXmlMemory outOfMemory;
      config.WriteInteger("Window/Volume", "Value", 70);
    }
    std::string error;
    EXPECT_FALSE(config.Save(&error));
    EXPECT_NE(error.find("Window/Volume"), std::string::npos) << error;
  }
  EXPECT_EQ(ReadFileBytes(file), before);
}

}  // namespace
}  // namespace orvane::store
