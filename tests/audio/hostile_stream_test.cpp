// The engine and the song cache against a hostile stream server on 127.0.0.1: stalls, resets, a slow
// drip, a long pause, garbage, errors, silence, redirect loops, lengths that lie and a body that
// never ends. Whatever the server does, the window's thread is never held for as long as the server
// stays silent (so nothing on it waits for the network), a song either fails with a code or plays
// to an end, and the song cache holds either nothing or exactly the song.
//
// Played to SDL's dummy device in real time; the test is the window's thread.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Library.h"
#include "audio/AudioEngine.h"
#include "audio/SongCache.h"
#include "audio/bass/bass.h"
#include "bass_fixtures.h"
#include "event_loop.h"
#include "support/fixture_server.h"
#include "support/main_thread_watch.h"
#include "support/temp_dir.h"

namespace orvane::audio {
namespace {

namespace fs = std::filesystem;
using test::FixtureReply;
using test::FixtureServer;
using test::MainThreadWatch;
using test::TempDir;

// Every silence of the server below lasts seconds; a call that waited for the network would hold
// the window at least that long. The longest hold is printed.
constexpr double kFreezeLimitMs = 1000;

long RssKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

enum class Outcome { Refused, PlaysToAnEnd };

class HostileStreams : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    test::QtApp();
  }

  void SetUp() override {
    tone = test::MakeSineWav(folder, "tone.wav", 440, 1.0);
    ASSERT_FALSE(tone.empty());
    body = test::ReadFileBytes(tone);
    engine = std::make_unique<TAudioEngine>(nullptr, folder.File("no-plugins/"), counters);
    ASSERT_EQ(engine->StartupError(), 0);
    engine->OnStateChange = [this](int32_t state) {
      if (state == StateConnecting && cache) cache->Prepare(music->Path().string(), "song", 0, url);
    };
    engine->OnError = [this](int32_t code, int32_t detail) { errors.emplace_back(code, detail); };
    engine->OnTrackEnd = [this](int32_t) { ++trackEnds; };
    engine->OnDownloadData = [this](const void* buffer, uint32_t length, void*) {
      if (cache) cache->DownloadData(buffer, length);
      if (!buffer) {
        std::lock_guard lock(mutex);
        ++endMarks;
      }
    };
  }

  void TearDown() override {
    engine.reset();
    cache.reset();
    EXPECT_TRUE(test::ProcessEventsUntil([this] { return counters.use_count() == 1; }, 20000));
    bass::Lib().config.netStallMs = 30000;
    bass::Lib().config.netAheadBytes = bass::UrlSource::kMaxAheadBytes;
  }

  // A fresh music folder and song cache, then opens path on the server as the window would.
  void OpenSong(const std::string& path) {
    music = std::make_unique<TempDir>("hostile-music");
    cache = std::make_unique<TSongCache>(counters, [this](const TCachedSong& song) { cached.push_back(song); });
    cached.clear();
    errors.clear();
    trackEnds = 0;
    {
      std::lock_guard lock(mutex);
      endMarks = 0;
    }
    url = server.Url(path);
    watch.Call([&] { engine->Open(url); });
  }
  int EndMarks() {
    std::lock_guard lock(mutex);
    return endMarks;
  }
  // The song files in the music folder, and the temporary file's bytes.
  std::vector<std::string> SongFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(music->Path())) {
      if (entry.path().filename() != TSongCache::TempName) names.push_back(entry.path().filename().string());
    }
    return names;
  }
  // Moves on to a local song, which frees the URL stream, as the window does.
  void ChangeSong() {
    watch.Call([&] { engine->Stop(); });
    watch.Call([&] { engine->Open(tone); });
    ASSERT_TRUE(watch.TurnUntil([&] { return !engine->OpenPending(); }, 20000));
    EXPECT_EQ(engine->State(), StatePlaying);
  }

  TempDir folder;
  std::string tone;
  std::string body;
  FixtureServer server;
  std::string url;
  std::shared_ptr<TDownloadCounters> counters = std::make_shared<TDownloadCounters>();
  std::unique_ptr<TempDir> music;
  std::unique_ptr<TSongCache> cache;  // before the engine: destroyed after it
  std::vector<TCachedSong> cached;
  std::vector<std::pair<int32_t, int32_t>> errors;
  int trackEnds = 0;
  std::mutex mutex;
  int endMarks = 0;
  MainThreadWatch watch;
  std::unique_ptr<TAudioEngine> engine;
};

TEST_F(HostileStreams, EachSongFailsWithACodeOrPlaysToAnEndAndTheCacheHoldsNothingOrTheSong) {
  const size_t half = body.size() / 2;
  auto reply = [&] { return FixtureReply::Bytes(body, "audio/wav"); };
  FixtureReply stall = reply();
  stall.stallAfter = half;
  FixtureReply reset = reply();
  reset.resetAfter = half;
  FixtureReply drip = reply();
  drip.trickleBytes = 4096;
  drip.trickleIntervalMs = 20;
  FixtureReply pause = reply();
  pause.pauseAfter = half;
  pause.pauseMs = 3000;
  FixtureReply silent = reply();
  silent.delayMs = 60000;
  FixtureReply longer = reply();
  longer.announcedLength = static_cast<long long>(body.size()) * 2;
  FixtureReply shorter = reply();
  shorter.announcedLength = static_cast<long long>(half);
  std::string noise(200000, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919) ^ (i >> 5));
  server.Serve("/loop", FixtureReply::Redirect(server.Url("/loop")));
  struct Case {
    const char* name;
    FixtureReply reply;
    Outcome outcome;
    std::string song;  // what the cache must hold; empty: no song file
    int stallMs = 30000;
  };
  const Case cases[] = {
      {"whole", reply(), Outcome::PlaysToAnEnd, body},
      {"stalls halfway for good", stall, Outcome::PlaysToAnEnd, "", 3000},
      {"resets halfway", reset, Outcome::PlaysToAnEnd, ""},
      {"drips slowly", drip, Outcome::PlaysToAnEnd, body},
      {"pauses for 3 s, then goes on", pause, Outcome::PlaysToAnEnd, body},
      {"length announced twice the body", longer, Outcome::PlaysToAnEnd, ""},
      {"length announced half the body", shorter, Outcome::PlaysToAnEnd, body.substr(0, half)},
      {"garbage", FixtureReply::Bytes(noise), Outcome::Refused, ""},
      {"not found", FixtureReply::Status(404, "<html>gone</html>"), Outcome::Refused, ""},
      {"says nothing", silent, Outcome::Refused, ""},
      {"redirects to itself", FixtureReply::Redirect(server.Url("/loop")), Outcome::Refused, ""},
  };
  double longest = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bass::Lib().config.netStallMs = c.stallMs;
    const std::string path = std::string("/") + std::to_string(&c - cases) + ".wav";
    server.Serve(path, c.reply);
    watch.Reset();
    OpenSong(path);
    ASSERT_TRUE(watch.TurnUntil([&] { return !engine->OpenPending(); }, 20000));
    if (c.outcome == Outcome::Refused) {
      EXPECT_EQ(engine->State(), StateOpenFailed);
      ASSERT_EQ(errors.size(), 1u);
      EXPECT_NE(errors[0].second, 0);
    } else {
      ASSERT_EQ(engine->State(), StatePlaying) << "error " << (errors.empty() ? 0 : errors[0].second);
      // A seek while the server misbehaves returns at once, too.
      watch.Call([&] { engine->SetPosition(engine->GetLength() / 4); });
      EXPECT_TRUE(watch.TurnUntil([&] { return trackEnds > 0; }, 40000)) << "the song did not end";
      EXPECT_TRUE(watch.TurnUntil([&] { return EndMarks() > 0; }, 40000)) << "the download did not end";
      watch.TurnFor(100);  // the location change, if any
    }
    if (c.song.empty()) {
      EXPECT_TRUE(SongFiles().empty());
      EXPECT_TRUE(cached.empty());
      const fs::path temp = music->Path() / TSongCache::TempName;
      // What was kept is what came, never anything else.
      if (fs::exists(temp)) {
        EXPECT_EQ(test::ReadFileBytes(temp), c.reply.body.substr(0, fs::file_size(temp)));
      }
    } else {
      EXPECT_EQ(SongFiles(), std::vector<std::string>{"song.mp3"});
      EXPECT_EQ(test::ReadFileBytes(music->Path() / "song.mp3"), c.song);
      EXPECT_EQ(cached.size(), 1u);
    }
    ChangeSong();
    EXPECT_LT(watch.LongestMs(), kFreezeLimitMs);
    longest = std::max(longest, watch.LongestMs());
  }
  std::printf("hostile streams: the window's thread was held %.1f ms at most\n", longest);
}

TEST_F(HostileStreams, ABodyWithoutEndIsKeptOnDiskAndOnlyAsFarAheadAsAllowed) {
  // Endless audio: the frames of an MP3 repeated, announced as 20 GB and sent as fast as the
  // player takes them.
  const std::string unit = test::MakeAudio(folder, "unit.mp3", "sine=frequency=440:duration=1",
                                           {"-c:a", "libmp3lame", "-id3v2_version", "0", "-write_xing", "0"});
  ASSERT_FALSE(unit.empty());
  FixtureReply endless = FixtureReply::Bytes(test::ReadFileBytes(unit), "audio/mpeg");
  endless.patternSize = 20LL << 30;
  server.Serve("/endless.mp3", endless);
  constexpr int64_t kAhead = 8LL << 20;
  bass::Lib().config.netAheadBytes = kAhead;
  const long rssBefore = RssKb();
  watch.Reset();
  OpenSong("/endless.mp3");
  ASSERT_TRUE(watch.TurnUntil([&] { return !engine->OpenPending(); }, 20000));
  ASSERT_EQ(engine->State(), StatePlaying);
  EXPECT_EQ(counters->DownloadTotal.load(), 20ULL << 30);
  // The download runs ahead as far as it may, then waits for the player.
  const fs::path temp = music->Path() / TSongCache::TempName;
  watch.TurnUntil([&] { return fs::exists(temp) && fs::file_size(temp) >= static_cast<uint64_t>(kAhead); }, 20000);
  watch.TurnFor(1500);
  EXPECT_GE(fs::file_size(temp), static_cast<uint64_t>(kAhead));
  EXPECT_LT(fs::file_size(temp), static_cast<uint64_t>(kAhead + (4 << 20)));
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  EXPECT_LT(RssKb() - rssBefore, 48 * 1024) << "kB: the bytes ahead are on disk, not in memory";
#else
  (void)rssBefore;
#endif
  ChangeSong();
  EXPECT_TRUE(watch.TurnUntil([&] { return EndMarks() > 0; }, 20000));
  EXPECT_TRUE(SongFiles().empty());
  EXPECT_LT(watch.LongestMs(), kFreezeLimitMs);
  std::printf("endless stream: the window's thread was held %.1f ms at most\n", watch.LongestMs());
}

}  // namespace
}  // namespace orvane::audio
