// TAudioEngine on the real audio library, played to SDL's dummy device (real time, silent) or, where
// what is heard matters, to the manual output device the test pulls from; URL streams come from the
// local fixture server. Each test waits on the engine's events by running the Qt event loop until a
// condition holds or a time-out passes.
//
// Threads: the tests run on the main thread; OnDownloadData runs on the library's download thread
// and records under Recorder::downloadMutex.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/AudioEngine.h"
#include "audio/SongCache.h"
#include "ManualOutput.h"
#include "audio/bass/bass.h"
#include "bass_fixtures.h"
#include "event_loop.h"
#include "support/fixture_server.h"
#include "support/temp_dir.h"

namespace orvane::audio {
namespace {

using test::FixtureReply;
using test::FixtureServer;
using test::ProcessEventsFor;
using test::ProcessEventsUntil;
using test::TempDir;

constexpr int kWaitMs = 10000;

// A stereo sine WAV of the given length, made by ffmpeg in dir; its path.
std::string Tone(const TempDir& dir, const std::string& name, double seconds) {
  const std::string path = test::MakeSineWav(dir, name, 440, seconds);
  EXPECT_FALSE(path.empty()) << "ffmpeg could not make " << name;
  return path;
}

// What the engine raised, in order.
struct Recorder {
  std::vector<int32_t> states;
  std::vector<std::pair<int32_t, int32_t>> errors;
  int trackEnds = 0;
  std::vector<int32_t> tickStates;
  bool tickBlocksZero = true;  // every tick outside 1002 came with zero blocks

  std::mutex downloadMutex;
  std::string downloaded;
  int endMarks = 0;
  int endCode = -100;        // BASS_ErrorGetCode() during the end mark
  bool dataAfterEnd = false;

  bool HasError(int32_t code) const {
    for (const auto& e : errors) {
      if (e.first == code) return true;
    }
    return false;
  }
  int EndMarks() {
    std::lock_guard lock(downloadMutex);
    return endMarks;
  }
};

class AudioEngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    test::QtApp();
  }

  void SetUp() override {
    tone = Tone(folder, "tone.wav", 0.5);
    CreateEngine(plugins.Path().string() + "/");
  }

  void TearDown() override {
    DestroyEngine();
    bass::UseManualOutput(false);
  }

  // From here on the engine plays only what the test pulls (PlayUntil, PlayFor).
  void UseManualOutput() {
    DestroyEngine();
    bass::UseManualOutput(true);
    CreateEngine(plugins.Path().string() + "/");
    rec.states.clear();  // the old engine's last Stop
  }
  // Plays period by period, handing over what the engine posted after each, until done() holds
  // (false after limitSeconds of sound).
  bool PlayUntil(const std::function<bool()>& done, double limitSeconds = 10) {
    std::vector<float> block(2 * 1024);
    for (double played = 0; !done(); played += 1024 / 44100.0) {
      if (played > limitSeconds || !bass::PullOutput(block.data(), 1024)) return false;
      QCoreApplication::processEvents();
    }
    return true;
  }
  void PlayFor(double seconds) {
    PlayUntil([] { return false; }, seconds);
  }

  void CreateEngine(const std::string& pluginFolder) {
    engine = std::make_unique<TAudioEngine>(nullptr, pluginFolder, counters);
    ASSERT_EQ(engine->StartupError(), 0) << "the audio library did not start on the dummy device";
    engine->OnStateChange = [this](int32_t s) { rec.states.push_back(s); };
    engine->OnError = [this](int32_t code, int32_t detail) { rec.errors.emplace_back(code, detail); };
    engine->OnTrackEnd = [this](int32_t s) {
      ++rec.trackEnds;
      EXPECT_EQ(s, StateEnded);
    };
    engine->OnTick = [this](int32_t s, int32_t, int32_t, const TSpectrumData& spectrum, const TWaveData& wave) {
      rec.tickStates.push_back(s);
      if (s == StatePlaying) return;
      for (int32_t v : spectrum) rec.tickBlocksZero &= v == 0;
      for (int32_t v : wave) rec.tickBlocksZero &= v == 0;
    };
    engine->OnDownloadData = [this](const void* buffer, uint32_t length, void* user) {
      const int code = buffer ? 0 : BASS_ErrorGetCode();
      if (cache) cache->DownloadData(buffer, length);
      std::lock_guard lock(rec.downloadMutex);
      EXPECT_EQ(user, nullptr);
      if (rec.endMarks > 0) rec.dataAfterEnd = true;
      if (buffer) {
        rec.downloaded.append(static_cast<const char*>(buffer), length);
      } else {
        ++rec.endMarks;
        rec.endCode = code;
      }
    };
  }

  // Destroys the engine and waits until its worker, if any, has ended (it holds the counters).
  void DestroyEngine() {
    engine.reset();
    EXPECT_TRUE(ProcessEventsUntil([this] { return counters.use_count() == 1; }, kWaitMs))
        << "the open worker did not end";
  }

  bool WaitForState(int32_t state) {
    return ProcessEventsUntil([&] { return engine->State() == state; }, kWaitMs);
  }
  bool WaitForOpenDone() {
    return ProcessEventsUntil([&] { return !engine->OpenPending(); }, kWaitMs);
  }

  TempDir folder;
  TempDir plugins;
  std::string tone;
  std::shared_ptr<TDownloadCounters> counters = std::make_shared<TDownloadCounters>();
  std::unique_ptr<TSongCache> cache;  // declared before the engine: destroyed after it
  Recorder rec;
  std::unique_ptr<TAudioEngine> engine;
};

TEST_F(AudioEngineTest, PlaysALocalFileToItsEndOnce) {
  UseManualOutput();
  EXPECT_EQ(engine->State(), StateStopped);
  EXPECT_EQ(engine->FileFilter(), std::string(TAudioEngine::BaseFileFilter) + ";" + TAudioEngine::DecoderFormats);
  engine->Open(tone);
  EXPECT_EQ(engine->State(), StateStopped) << "Open itself changes no state";
  ASSERT_TRUE(WaitForState(StatePlaying));
  EXPECT_EQ(rec.states, (std::vector<int32_t>{StatePlaying})) << "a file never passes through 1005";
  EXPECT_NE(engine->Channel(), 0u);
  EXPECT_EQ(engine->Source(), tone);
  EXPECT_EQ(engine->GetLength(), 500);
  EXPECT_EQ(engine->LengthBytes(), 22050 * 8);  // 8 bytes a frame

  ASSERT_TRUE(PlayUntil([&] { return rec.trackEnds > 0; }));
  EXPECT_EQ(engine->State(), StateEnded);
  EXPECT_EQ(engine->GetPosition(), 500);
  PlayFor(0.3);
  EXPECT_EQ(rec.trackEnds, 1);
  EXPECT_EQ(rec.states, (std::vector<int32_t>{StatePlaying})) << "1004 is raised as OnTrackEnd only";
}

// Counts the timer events the main thread delivers, to any object: a timer that runs while the
// engine is stopped shows here even when its handler does nothing.
class TimerEvents : public QObject {
 public:
  TimerEvents() { QCoreApplication::instance()->installEventFilter(this); }
  int count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Timer) ++count;
    return false;
  }
};

TEST_F(AudioEngineTest, TicksOutsideTheStoppedStateWithIdleBlocks) {
  TimerEvents timers;
  ProcessEventsFor(200);
  EXPECT_TRUE(rec.tickStates.empty()) << "no tick while stopped";
  EXPECT_EQ(timers.count, 0) << "a stopped engine must not wake the main thread";
  engine->Open(Tone(folder, "long.wav", 3));
  ASSERT_TRUE(WaitForState(StatePlaying));
  ASSERT_TRUE(ProcessEventsUntil([&] { return rec.tickStates.size() >= 2; }, kWaitMs));
  engine->Pause();
  EXPECT_EQ(engine->State(), StatePaused);
  rec.tickStates.clear();
  ProcessEventsFor(TAudioEngine::TickIntervalMs + 200);
  ASSERT_FALSE(rec.tickStates.empty());
  for (int32_t s : rec.tickStates) EXPECT_EQ(s, StatePaused);
  EXPECT_TRUE(rec.tickBlocksZero);
  engine->Resume();
  engine->Stop();
  rec.tickStates.clear();
  timers.count = 0;
  ProcessEventsFor(200);
  EXPECT_TRUE(rec.tickStates.empty());
  EXPECT_EQ(timers.count, 0);
  EXPECT_EQ(rec.states, (std::vector<int32_t>{StatePlaying, StatePaused, StatePlaying, StateStopped}));
}

TEST_F(AudioEngineTest, MissingFileIsTriedAsAUrlAndFailsWithACode) {
  engine->Open(folder.File("missing.mp3"));
  ASSERT_TRUE(WaitForOpenDone());
  EXPECT_EQ(rec.states, (std::vector<int32_t>{StateConnecting}));
  EXPECT_EQ(engine->State(), StateOpenFailed);
  ASSERT_EQ(rec.errors.size(), 1u);
  EXPECT_EQ(rec.errors[0].first, StateOpenFailed);
  EXPECT_NE(rec.errors[0].second, 0);
  EXPECT_EQ(engine->Channel(), 0u);
  EXPECT_EQ(engine->GetLength(), 0);
  EXPECT_EQ(engine->GetPosition(), 0);
}

TEST_F(AudioEngineTest, OpenWhileALocalOpenIsPendingPlaysTheNewSong) {
  const std::string second = Tone(folder, "second.wav", 0.1);
  engine->Open(tone);
  engine->Open(second);
  ASSERT_TRUE(WaitForState(StatePlaying));
  ProcessEventsFor(100);  // the first open's completion, which must change nothing
  EXPECT_EQ(engine->Source(), second);
  EXPECT_EQ(engine->GetLength(), 100);
  EXPECT_EQ(rec.states, (std::vector<int32_t>{StatePlaying}));
  EXPECT_TRUE(rec.errors.empty());
}

// A song still connecting is given up at once, by Stop or by the next Open: its request is
// aborted (the worker ends long before the server would answer), nothing of it is heard or
// reported, and the song asked for next plays.
TEST_F(AudioEngineTest, StopOrANewOpenGivesUpAConnectingSongAtOnce) {
  FixtureServer server;
  FixtureReply slow = FixtureReply::File(tone);
  slow.delayMs = 4000;
  server.Serve("/slow.wav", slow);
  struct Case {
    const char* name;
    bool stopFirst;
  };
  for (const Case c : {Case{"a new open", false}, Case{"stop, then open", true}}) {
    SCOPED_TRACE(c.name);
    rec.states.clear();
    rec.errors.clear();
    engine->Open(server.Url("/slow.wav"));
    ASSERT_TRUE(WaitForState(StateConnecting));
    if (c.stopFirst) {
      engine->Stop();
      EXPECT_EQ(engine->State(), StateStopped);
      EXPECT_FALSE(engine->OpenPending());
      // Only the engine and the test hold the counters once no worker is left.
      ASSERT_TRUE(ProcessEventsUntil([&] { return counters.use_count() == 2; }, 1500)) << "the request goes on";
      EXPECT_EQ(engine->State(), StateStopped) << "a stopped open is no failure";
    }
    engine->Open(tone);
    ASSERT_TRUE(WaitForState(StatePlaying));
    ASSERT_TRUE(ProcessEventsUntil([&] { return counters.use_count() == 2; }, 1500)) << "the request goes on";
    ProcessEventsFor(100);
    EXPECT_EQ(engine->Source(), tone);
    EXPECT_EQ(engine->State(), StatePlaying);
    EXPECT_TRUE(rec.errors.empty());
    const std::vector<int32_t> expected =
        c.stopFirst ? std::vector<int32_t>{StateConnecting, StateStopped, StatePlaying}
                    : std::vector<int32_t>{StateConnecting, StatePlaying};
    EXPECT_EQ(rec.states, expected);
    engine->Stop();
  }
}

TEST_F(AudioEngineTest, UrlStreamConnectsThenPlaysAndTapsEveryByte) {
  FixtureServer server;
  const std::string body = test::ReadFileBytes(tone);
  server.Serve("/song.wav", FixtureReply::Bytes(body, "audio/wav"));
  engine->Open(server.Url("/song.wav"));
  ASSERT_TRUE(WaitForState(StatePlaying));
  EXPECT_EQ(rec.states, (std::vector<int32_t>{StateConnecting, StatePlaying}));
  EXPECT_EQ(counters->DownloadTotal.load(), body.size());
  ASSERT_TRUE(ProcessEventsUntil([&] { return rec.EndMarks() > 0; }, kWaitMs));
  ProcessEventsFor(100);
  std::lock_guard lock(rec.downloadMutex);
  EXPECT_EQ(rec.downloaded, body);
  EXPECT_EQ(rec.endMarks, 1);
  EXPECT_EQ(rec.endCode, BASS_OK) << "a complete download ends cleanly";
  EXPECT_FALSE(rec.dataAfterEnd);
}

TEST_F(AudioEngineTest, UnreachableOrStalledServerFailsWithinTheTimeOut) {
  FixtureServer server;
  FixtureReply stalled = FixtureReply::Bytes(std::string(100000, '\0'));
  stalled.stallAfter = 0;
  server.Serve("/stalled", stalled);
  const std::string unreachable = "http://127.0.0.1:1/song.mp3";
  for (const std::string& url : {server.Url("/stalled"), unreachable}) {
    SCOPED_TRACE(url);
    rec.errors.clear();
    engine->Open(url);
    // The network time-out is 2 s; leave room for a loaded machine.
    ASSERT_TRUE(WaitForOpenDone());
    EXPECT_EQ(engine->State(), StateOpenFailed);
    ASSERT_EQ(rec.errors.size(), 1u);
    EXPECT_NE(rec.errors[0].second, 0);
  }
}

TEST_F(AudioEngineTest, VolumeAndGainsCarryOverToTheNextStream) {
  const TEqGains gains = {6, -3, 0, 1, 2, 3, 4, 5, -6, 12};
  engine->SetVolume(65);  // before any stream: applied to the first one
  engine->Open(tone);
  ASSERT_TRUE(WaitForState(StatePlaying));
  engine->SetEqGains(gains);
  engine->Open(tone);
  ASSERT_TRUE(WaitForOpenDone());
  ASSERT_EQ(engine->State(), StatePlaying);

  float volume = 0;
  ASSERT_TRUE(BASS_ChannelGetAttribute(engine->Channel(), BASS_ATTRIB_VOL, &volume));
  EXPECT_FLOAT_EQ(volume, 0.65f);
  for (size_t i = 0; i < gains.size(); ++i) {
    BASS_DX8_PARAMEQ params{};
    ASSERT_TRUE(BASS_FXGetParameters(engine->EqFilters()[i], &params)) << "band " << i;
    EXPECT_FLOAT_EQ(params.fCenter, static_cast<float>(TAudioEngine::EqCentres[i]));
    EXPECT_FLOAT_EQ(params.fBandwidth, 5.0f);
    EXPECT_FLOAT_EQ(params.fGain, static_cast<float>(gains[i])) << "band " << i;
  }
}

TEST_F(AudioEngineTest, ReadTagsIsIndependentOfThePlayingStream) {
  engine->Open(tone);
  ASSERT_TRUE(WaitForState(StatePlaying));
  const HSTREAM playing = engine->Channel();

  TTags tags{"old", "old", "old", 1.0};
  engine->ReadTags(folder.File("missing.mp3"), tags);
  EXPECT_EQ(tags.Title, "");
  EXPECT_EQ(tags.Artist, "");
  EXPECT_EQ(tags.Album, "");
  EXPECT_EQ(tags.Duration, 0);

  engine->ReadTags(tone, tags);
  EXPECT_NEAR(tags.Duration * 86400, 0.5, 0.001);
  EXPECT_EQ(engine->Channel(), playing);
  EXPECT_EQ(engine->State(), StatePlaying);
  EXPECT_EQ(BASS_ChannelIsActive(playing), static_cast<DWORD>(BASS_ACTIVE_PLAYING));
}

// Tags come from the file's headers, so songs added while there is no sound device (or none that
// opens) still get their titles; and the call is safe on a worker thread.
TEST(ReadFileTags, NeedsNoSoundDeviceAndRunsOnAnyThread) {
  test::TempDir dir("engine-tags");
  const std::string song = test::MakeAudio(dir, "song.mp3", "sine=frequency=440:duration=0.5",
                                           {"-c:a", "libmp3lame", "-metadata", "title=后来", "-metadata", "artist=刘若英"});
  ASSERT_FALSE(song.empty());
  ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  {
    TAudioEngine engine(nullptr, "/nonexistent/", nullptr);
    ASSERT_EQ(engine.StartupError(), ErrInit);
    TTags tags;
    engine.ReadTags(song, tags);
    EXPECT_EQ(tags.Title, "后来");
    EXPECT_EQ(tags.Artist, "刘若英");
    EXPECT_NEAR(tags.Duration * 86400, 0.5, 0.06);
  }
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  const TTags onWorker = std::async(std::launch::async, [&] { return ReadFileTags(song); }).get();
  EXPECT_EQ(onWorker.Title, "后来");
}

TEST(SecondsToMs, TruncatesAfterSinglePrecisionRounding) {
  struct Case {
    double seconds;
    int32_t ms;
  };
  const Case cases[] = {{1.9996, 1999}, {1.9999999999, 2000}, {0.0005, 0}, {-1.0, 0},
                        {std::nan(""), 0}, {3e9, INT32_MAX}, {4 * 3600.0, 14400000}};
  for (const Case& c : cases) EXPECT_EQ(SecondsToMs(c.seconds), c.ms) << c.seconds;
}

TEST_F(AudioEngineTest, LengthIsTruncatedNotRounded) {
  // 88,182 frames: 1.99959 s, which rounding would make 2000 ms.
  const std::string exact = test::MakeAudio(folder, "exact.wav", "sine=frequency=440:sample_rate=44100",
                                            {"-af", "atrim=end_sample=88182", "-c:a", "pcm_f32le"});
  ASSERT_FALSE(exact.empty());
  engine->Open(exact);
  ASSERT_TRUE(WaitForState(StatePlaying));
  EXPECT_EQ(engine->GetLength(), 1999);
}

TEST_F(AudioEngineTest, FileFilterListsPluginFormatsAndSkipsBadPlugins) {
  DestroyEngine();
  namespace fs = std::filesystem;
  fs::copy_file(ORVANE_FAKE_PLUGIN_ONE, plugins.File("b_one.so"));
  fs::copy_file(ORVANE_FAKE_PLUGIN_TWO, plugins.File("b_two.so"));
  fs::copy_file(ORVANE_FAKE_PLUGIN_TWO, plugins.File("x_three.so"));
  test::WriteFileBytes(plugins.File("b_bad.so"), "not a library");
  CreateEngine(plugins.Path().string() + "/");
  const std::string base = std::string(TAudioEngine::BaseFileFilter) + ";" + TAudioEngine::DecoderFormats;
  const std::string& filter = engine->FileFilter();
  EXPECT_TRUE(filter == base + ";*.one1;*.one2;*.two" || filter == base + ";*.two;*.one1;*.one2") << filter;
}

TEST_F(AudioEngineTest, DestroyedWhileConnectingLeavesTheWorkerHarmless) {
  FixtureServer server;
  FixtureReply slow = FixtureReply::File(tone);
  slow.delayMs = 500;
  server.Serve("/slow.wav", slow);
  // While the worker waits for its 1005 hand-off, which never runs.
  engine->Open(server.Url("/slow.wav"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  DestroyEngine();
  EXPECT_EQ(rec.states, (std::vector<int32_t>{StateStopped})) << "the destruction's Stop only";

  // While the worker is inside the URL open.
  rec.states.clear();
  CreateEngine(plugins.Path().string() + "/");
  engine->Open(server.Url("/slow.wav"));
  ASSERT_TRUE(WaitForState(StateConnecting));
  DestroyEngine();
  EXPECT_EQ(rec.states, (std::vector<int32_t>{StateConnecting, StateStopped}));
}

// The song cache fed by a real URL stream: only a whole download with a clean end becomes a song.
TEST_F(AudioEngineTest, UrlDownloadBecomesASongOnlyWhenWholeAndCleanlyEnded) {
  const std::string body = test::ReadFileBytes(tone);
  struct Case {
    const char* name;
    bool contentLength;
    std::optional<size_t> resetAfter;
    bool song;
  };
  const Case cases[] = {
      {"complete", true, std::nullopt, true},
      {"cut off", true, body.size() / 2, false},
      {"unknown total, clean end", false, std::nullopt, true},
      {"unknown total, cut off", false, body.size() / 2, false},
  };
  FixtureServer server;
  std::vector<TCachedSong> changes;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir music;
    changes.clear();
    cache = std::make_unique<TSongCache>(counters, [&](const TCachedSong& s) { changes.push_back(s); });
    FixtureReply reply = FixtureReply::Bytes(body, "audio/wav");
    reply.contentLength = c.contentLength;
    reply.resetAfter = c.resetAfter;
    server.Serve("/song.wav", reply);
    const std::string url = server.Url("/song.wav");
    const int marksBefore = rec.EndMarks();
    engine->OnStateChange = [&](int32_t s) {
      if (s == StateConnecting) cache->Prepare(music.Path().string(), "歌/手", 7, url);
    };
    engine->Open(url);
    ASSERT_TRUE(ProcessEventsUntil([&] { return rec.EndMarks() > marksBefore && !engine->OpenPending(); }, kWaitMs));
    ProcessEventsFor(100);  // the queued location change, if any
    const std::string target = music.File("歌手.mp3");
    if (c.song) {
      ASSERT_EQ(changes.size(), 1u);
      EXPECT_EQ(changes[0].Index, 7);
      EXPECT_EQ(changes[0].Location, url);
      EXPECT_EQ(changes[0].TargetPath, target);
      EXPECT_EQ(test::ReadFileBytes(target), body);
      EXPECT_FALSE(std::filesystem::exists(music.File("_temp._mp")));
    } else {
      EXPECT_TRUE(changes.empty());
      EXPECT_FALSE(std::filesystem::exists(target));
    }
    engine->Stop();
    engine->Open(tone);  // frees the URL stream before the cache and folder go
    ASSERT_TRUE(WaitForOpenDone());
    cache.reset();
  }
}

TEST_F(AudioEngineTest, AFifoADeviceOrAFolderFailsAtOnceAndTheNextOpenWorks) {
  ASSERT_EQ(::mkfifo(folder.File("fifo.mp3").c_str(), 0600), 0);
  std::filesystem::create_directory(folder.File("folder.mp3"));
  for (const std::string& path : {folder.File("fifo.mp3"), std::string("/dev/zero"), folder.File("folder.mp3")}) {
    SCOPED_TRACE(path);
    TTags tags{"old", "old", "old", 1.0};
    engine->ReadTags(path, tags);  // would wait for a writer for ever on a FIFO
    EXPECT_EQ(tags.Title, "");
    EXPECT_EQ(tags.Duration, 0);
    rec.errors.clear();
    engine->Open(path);
    ASSERT_TRUE(WaitForOpenDone());
    EXPECT_EQ(engine->State(), StateOpenFailed);
    EXPECT_EQ(rec.errors, (std::vector<std::pair<int32_t, int32_t>>{{StateOpenFailed, BASS_ERROR_FILEOPEN}}));
  }
  engine->Open(tone);
  ASSERT_TRUE(WaitForState(StatePlaying));
}

TEST_F(AudioEngineTest, SongsUnderTheMusicBaseAreRequestedWithGbkEscapesOthersWithUtf8) {
  FixtureServer server;
  const std::string body = test::ReadFileBytes(tone);
  // "歌" is B8 E8 in GBK and E6 AD 8C in UTF-8.
  server.Serve("/music/%B8%E8%20a+b.wav", FixtureReply::Bytes(body, "audio/wav"));
  server.Serve("/other/%E6%AD%8C%20a+b.wav", FixtureReply::Bytes(body, "audio/wav"));
  engine->SetMusicBaseUrl(server.Url("/music/"));
  for (const std::string path : {"/music/歌 a+b.wav", "/other/歌 a+b.wav"}) {
    SCOPED_TRACE(path);
    engine->Open(server.Url(path));
    ASSERT_TRUE(WaitForOpenDone());
    EXPECT_EQ(engine->State(), StatePlaying);
    EXPECT_EQ(engine->Source(), server.Url(path)) << "the location itself is kept as it was";
    engine->Stop();
  }
}

TEST_F(AudioEngineTest, AServerPauseLongerThanTheConnectTimeOutLosesNothing) {
  UseManualOutput();
  FixtureServer server;
  const std::string body = test::ReadFileBytes(tone);
  FixtureReply pauses = FixtureReply::Bytes(body, "audio/wav");
  pauses.pauseAfter = body.size() / 2;
  pauses.pauseMs = 3000;  // the engine's network time-out is 2000 ms
  server.Serve("/song.wav", pauses);
  TempDir music;
  std::vector<TCachedSong> changes;
  cache = std::make_unique<TSongCache>(counters, [&](const TCachedSong& s) { changes.push_back(s); });
  const std::string url = server.Url("/song.wav");
  engine->OnStateChange = [&](int32_t s) {
    rec.states.push_back(s);
    if (s == StateConnecting) cache->Prepare(music.Path().string(), "song", 0, url);
  };
  engine->Open(url);
  ASSERT_TRUE(WaitForState(StatePlaying));
  ASSERT_TRUE(PlayUntil([&] { return rec.trackEnds > 0; }));
  ASSERT_TRUE(ProcessEventsUntil([&] { return changes.size() == 1; }, kWaitMs));
  EXPECT_EQ(engine->GetPosition(), 500) << "played to its end";
  EXPECT_EQ(test::ReadFileBytes(music.File("song.mp3")), body) << "and cached whole";
  engine->Stop();
  engine->Open(tone);  // frees the URL stream before the cache goes
  ASSERT_TRUE(WaitForOpenDone());
  cache.reset();
}

}  // namespace
}  // namespace orvane::audio
