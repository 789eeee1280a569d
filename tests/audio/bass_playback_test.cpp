// The audio library's output, heard through the manual output device: the test pulls the frames a
// sound card would get, so levels, the equaliser, pause, seeking, the end sync and mixing are
// checked frame for frame, whatever the load of the machine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "ManualOutput.h"
#include "audio/bass_fixtures.h"
#include "bass.h"
#include "support/temp_dir.h"

namespace orvane::test {
namespace {

using namespace std::chrono_literals;
constexpr double kRate = 44100.0;

size_t Frames(double seconds) { return static_cast<size_t>(std::llround(seconds * kRate)); }

template <typename Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds limit = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

double PositionSeconds(HSTREAM stream) {
  return BASS_ChannelBytes2Seconds(stream, BASS_ChannelGetPosition(stream, BASS_POS_BYTE));
}

bool Ended(HSTREAM stream) { return BASS_ChannelIsActive(stream) == BASS_ACTIVE_STOPPED; }

class BassPlayback : public ::testing::Test {
 protected:
  void SetUp() override {
    bass::UseManualOutput(true);
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
  }
  void TearDown() override {
    BASS_Free();
    bass::UseManualOutput(false);
  }

  // The next frames the output plays, appended to heard.
  void Pull(size_t frames) {
    std::vector<float> block(2 * frames);
    ASSERT_TRUE(bass::PullOutput(block.data(), frames));
    heard.insert(heard.end(), block.begin(), block.end());
  }
  // Pulls in device-sized periods until stream has ended (at most limit seconds of output).
  void PullUntilEnded(HSTREAM stream, double limit = 10) {
    for (size_t pulled = 0; !Ended(stream); pulled += 1024) {
      ASSERT_LT(pulled, Frames(limit)) << "the stream did not end";
      Pull(1024);
    }
  }
  size_t HeardFrames() const { return heard.size() / 2; }

  TempDir dir{"bass-play"};
  std::vector<float> heard;
};

TEST(BassInit, FailsWithoutAnAudioBackEnd) {
  ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DRIVER);
  EXPECT_FALSE(BASS_Start());
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);

  TempDir dir("bass-init");
  UseDiskOutput(dir);
  EXPECT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
  EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
  EXPECT_TRUE(BASS_Free());
  EXPECT_FALSE(BASS_Free());
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
}

// Threads of this process whose name starts with prefix (SDL names its output thread "SDLAudioP…").
int ThreadsNamed(const std::string& prefix) {
  int count = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    if (std::getline(comm, name) && name.rfind(prefix, 0) == 0) ++count;
  }
  return count;
}

// While nothing plays, the output has no thread at all, so nothing of it can wake the machine;
// Play brings it back and the stream plays on from where it was.
TEST(BassOutput, HasNoThreadWhileNothingPlays) {
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  TempDir dir("bass-idle");
  ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
  auto outputAsleep = [] { return ThreadsNamed("SDLAudio") == 0; };
  EXPECT_TRUE(WaitUntil(outputAsleep)) << "nothing has played yet";

  const std::string path = MakeSineWav(dir, "sine.wav", 1000, 1.0);
  const HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
  ASSERT_NE(stream, 0u);
  ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
  ASSERT_TRUE(WaitUntil([&] { return PositionSeconds(stream) >= 0.3; }));
  EXPECT_EQ(ThreadsNamed("SDLAudio"), 1);

  ASSERT_TRUE(BASS_ChannelPause(stream));
  const QWORD pausedAt = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
  EXPECT_TRUE(WaitUntil(outputAsleep)) << "paused";
  EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), pausedAt);

  // BASS_Stop keeps the output asleep even for a stream that plays; BASS_Start wakes it.
  ASSERT_TRUE(BASS_Stop());
  ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(outputAsleep());
  EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), pausedAt);
  ASSERT_TRUE(BASS_Start());
  ASSERT_TRUE(WaitUntil([&] { return Ended(stream); }));
  EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), Frames(1.0) * 8) << "played to its end";
  EXPECT_TRUE(WaitUntil(outputAsleep)) << "ended";
  EXPECT_TRUE(BASS_Free());
}

TEST_F(BassPlayback, VolumeAndEqualiserShapeWhatIsHeard) {
  const std::string path = MakeSineWav(dir, "sine.wav", 1000, 1.5);
  const HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
  ASSERT_NE(stream, 0u);
  // The player's ten bands, all flat to start with.
  HFX bands[10];
  const float centres[] = {80, 170, 310, 600, 1000, 3000, 6000, 10000, 12000, 14000};
  for (int i = 0; i < 10; ++i) {
    bands[i] = BASS_ChannelSetFX(stream, BASS_FX_DX8_PARAMEQ, 1);
    ASSERT_NE(bands[i], 0u);
    const BASS_DX8_PARAMEQ params{centres[i], 5, 0};
    ASSERT_TRUE(BASS_FXSetParameters(bands[i], &params));
  }
  ASSERT_TRUE(BASS_ChannelSetAttribute(stream, BASS_ATTRIB_VOL, 0.65f));
  ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));

  Pull(Frames(0.6));
  EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), Frames(0.6) * 8) << "the position is what was heard";
  float wave[512];
  EXPECT_EQ(BASS_ChannelGetData(stream, wave, 2048), 2048u);  // the latest output
  float wavePeak = 0;
  for (float v : wave) wavePeak = std::max(wavePeak, std::fabs(v));
  EXPECT_NEAR(wavePeak, 0.325f, 0.01f);

  const size_t changedAt = HeardFrames();
  BASS_DX8_PARAMEQ params{};
  ASSERT_TRUE(BASS_FXGetParameters(bands[4], &params));
  EXPECT_EQ(params.fCenter, 1000.0f);
  params.fGain = 6;
  ASSERT_TRUE(BASS_FXSetParameters(bands[4], &params));
  PullUntilEnded(stream);

  const double flat = PeakLeft(heard, Frames(0.1), changedAt);
  EXPECT_NEAR(flat, 0.65 * 0.5, 0.003);  // volume 0.65 of a 0.5 sine
  const double boosted = PeakLeft(heard, changedAt + Frames(0.07), Frames(1.45));
  EXPECT_NEAR(20 * std::log10(boosted / flat), 6.0, 0.5);
  // Heard within 50 ms of the call.
  const int64_t louder = FirstLoudFrame(heard, static_cast<float>(flat * 1.2), changedAt);
  ASSERT_GE(louder, 0);
  EXPECT_LE(louder - static_cast<int64_t>(changedAt), static_cast<int64_t>(Frames(0.05)));
}

TEST_F(BassPlayback, PauseIsSilenceWithTheClockStoppedAndLosesNoFrame) {
  const std::string path = MakeSineWav(dir, "sine.wav", 1000, 1.2);
  const HSTREAM reference = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_DECODE);
  const std::vector<float> decoded = DecodeAll(reference);
  BASS_StreamFree(reference);

  const HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
  ASSERT_NE(stream, 0u);
  ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
  Pull(Frames(0.4));
  ASSERT_TRUE(BASS_ChannelPause(stream));
  EXPECT_EQ(BASS_ChannelIsActive(stream), static_cast<DWORD>(BASS_ACTIVE_PAUSED));
  const QWORD pausedAt = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
  EXPECT_EQ(pausedAt, Frames(0.4) * 8);
  const std::vector<float> before = heard;
  heard.clear();
  Pull(Frames(0.4));
  for (float v : heard) ASSERT_EQ(v, 0.0f) << "a paused stream is silent";
  EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), pausedAt);
  heard = before;
  ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
  PullUntilEnded(stream);

  // Around the pause every frame was played once, as decoded.
  ASSERT_GE(heard.size(), decoded.size());
  EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), heard.begin()));
  for (size_t i = decoded.size(); i < heard.size(); ++i) ASSERT_EQ(heard[i], 0.0f);
}

TEST_F(BassPlayback, SeekWhilePlayingContinuesAtTheExactFrame) {
  // The sample value tells the frame: value = frame / 66150.
  const std::string path =
      MakeAudio(dir, "ramp.wav", "aevalsrc=t/1.5:s=44100:c=stereo:d=1.5", {"-c:a", "pcm_f32le"});
  const HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
  ASSERT_NE(stream, 0u);
  ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
  Pull(Frames(0.3));
  EXPECT_NEAR(heard[2 * (Frames(0.3) - 1)] * 66150.0, static_cast<double>(Frames(0.3) - 1), 0.01);
  const QWORD target = BASS_ChannelSeconds2Bytes(stream, 1.0);
  ASSERT_TRUE(BASS_ChannelSetPosition(stream, target, BASS_POS_BYTE));
  EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), target);  // the position is the target at once
  heard.clear();
  Pull(1024);
  EXPECT_NEAR(heard[0] * 66150.0, 44100.0, 0.01) << "the next frame heard is the target";
  EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), target + 1024 * 8);
}

struct EndRecord {
  std::mutex mutex;
  std::condition_variable changed;
  int calls = 0;
  QWORD positionAtCall = 0;
  std::thread::id thread;

  bool WaitForCall() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 10s, [&] { return calls > 0; });
  }
  int Calls() {
    std::lock_guard lock(mutex);
    return calls;
  }
};

void CALLBACK RecordEnd(HSYNC, DWORD channel, DWORD, void* user) {
  auto* record = static_cast<EndRecord*>(user);
  const QWORD position = BASS_ChannelGetPosition(channel, BASS_POS_BYTE);
  std::lock_guard lock(record->mutex);
  record->thread = std::this_thread::get_id();
  record->positionAtCall = position;
  ++record->calls;
  record->changed.notify_all();
}

void CALLBACK FreeOwnStream(HSYNC, DWORD channel, DWORD, void* user) {
  BASS_StreamFree(channel);
  auto* record = static_cast<EndRecord*>(user);
  std::lock_guard lock(record->mutex);
  ++record->calls;
  record->changed.notify_all();
}

TEST_F(BassPlayback, EndSyncFiresOnceWhenTheLastSampleHasBeenHeard) {
  const std::string path = MakeSineWav(dir, "sine.wav", 1000, 0.4);
  const HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
  ASSERT_NE(stream, 0u);
  EndRecord record;
  ASSERT_NE(BASS_ChannelSetSync(stream, BASS_SYNC_END, 0, &RecordEnd, &record), 0u);
  ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
  Pull(Frames(0.4) - 1);
  EXPECT_EQ(record.Calls(), 0) << "one frame is still to be heard";
  Pull(1024);
  ASSERT_TRUE(record.WaitForCall());
  Pull(Frames(0.5));  // more output gives no second end
  EXPECT_EQ(record.Calls(), 1);
  EXPECT_NE(record.thread, std::this_thread::get_id());
  EXPECT_EQ(record.positionAtCall, Frames(0.4) * 8);
  EXPECT_EQ(BASS_ChannelGetLength(stream, BASS_POS_BYTE), Frames(0.4) * 8);
  EXPECT_TRUE(Ended(stream));
  size_t tone = 0;
  for (size_t i = 0; i < Frames(0.4); ++i) tone += std::fabs(heard[2 * i]) > 1e-6f ? 1 : 0;
  EXPECT_GT(tone, Frames(0.39));  // the whole tone went out before the sync said "ended"

  // A stream freed from its own end sync: no deadlock, and the handle is gone.
  const HSTREAM second = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
  EndRecord freed;
  ASSERT_NE(BASS_ChannelSetSync(second, BASS_SYNC_END, 0, &FreeOwnStream, &freed), 0u);
  ASSERT_TRUE(BASS_ChannelPlay(second, FALSE));
  Pull(Frames(0.5));
  ASSERT_TRUE(freed.WaitForCall());
  EXPECT_FALSE(BASS_ChannelIsActive(second));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

TEST_F(BassPlayback, StreamsAreMixedTogether) {
  const std::string path = MakeSineWav(dir, "sine.wav", 1000, 0.6);
  // While the output is stopped nothing plays, so both start with the same frame.
  ASSERT_TRUE(BASS_Stop());
  const HSTREAM first = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
  const HSTREAM second = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
  ASSERT_TRUE(BASS_ChannelSetAttribute(first, BASS_ATTRIB_VOL, 0.65f));
  ASSERT_TRUE(BASS_ChannelSetAttribute(second, BASS_ATTRIB_VOL, 0.35f));
  ASSERT_TRUE(BASS_ChannelPlay(first, FALSE));
  ASSERT_TRUE(BASS_ChannelPlay(second, FALSE));
  Pull(4096);
  for (float v : heard) ASSERT_EQ(v, 0.0f) << "the stopped output plays nothing";
  EXPECT_EQ(PositionSeconds(first), 0.0);
  heard.clear();
  ASSERT_TRUE(BASS_Start());
  PullUntilEnded(first);
  PullUntilEnded(second);
  EXPECT_NEAR(PeakLeft(heard, Frames(0.1), Frames(0.5)), 0.5, 0.003);
}

}  // namespace
}  // namespace orvane::test
