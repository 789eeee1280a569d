// The audio library through SDL's disk driver, which writes exactly what would be heard, in real
// time: levels, the equaliser, pause, seeking, the end sync and mixing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

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
    output = UseDiskOutput(dir);
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
  }
  void TearDown() override { BASS_Free(); }
  // Everything the device was given, once the output is closed.
  std::vector<float> Heard() {
    BASS_Free();
    return ReadFloats(output);
  }

  TempDir dir{"bass-play"};
  std::string output;
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

  ASSERT_TRUE(WaitUntil([&] { return PositionSeconds(stream) >= 0.6; }));
  float wave[512];
  EXPECT_EQ(BASS_ChannelGetData(stream, wave, 2048), 2048u);  // the latest output
  float wavePeak = 0;
  for (float v : wave) wavePeak = std::max(wavePeak, std::fabs(v));
  EXPECT_NEAR(wavePeak, 0.325f, 0.01f);

  const size_t changedAt = Frames(PositionSeconds(stream));
  BASS_DX8_PARAMEQ params{};
  ASSERT_TRUE(BASS_FXGetParameters(bands[4], &params));
  EXPECT_EQ(params.fCenter, 1000.0f);
  params.fGain = 6;
  ASSERT_TRUE(BASS_FXSetParameters(bands[4], &params));
  ASSERT_TRUE(WaitUntil([&] { return Ended(stream); }));

  const auto heard = Heard();
  const int64_t start = FirstLoudFrame(heard, 0.01f) - 1;  // the sine's first sample is 0
  ASSERT_GE(start, 0);
  const double flat = PeakLeft(heard, start + Frames(0.1), start + changedAt - Frames(0.05));
  EXPECT_NEAR(flat, 0.65 * 0.5, 0.003);  // volume 0.65 of a 0.5 sine
  const double boosted = PeakLeft(heard, start + changedAt + Frames(0.07), start + Frames(1.45));
  EXPECT_NEAR(20 * std::log10(boosted / flat), 6.0, 0.5);
  // Heard within 50 ms of the call.
  const int64_t louder = FirstLoudFrame(heard, static_cast<float>(flat * 1.2), start + changedAt - Frames(0.05));
  EXPECT_LE(louder - start - static_cast<int64_t>(changedAt), static_cast<int64_t>(Frames(0.05)));
}

TEST_F(BassPlayback, PauseIsSilenceWithTheClockStopped) {
  const std::string path = MakeSineWav(dir, "sine.wav", 1000, 1.2);
  const HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
  ASSERT_NE(stream, 0u);
  ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
  ASSERT_TRUE(WaitUntil([&] { return PositionSeconds(stream) >= 0.4; }));
  ASSERT_TRUE(BASS_ChannelPause(stream));
  EXPECT_EQ(BASS_ChannelIsActive(stream), static_cast<DWORD>(BASS_ACTIVE_PAUSED));
  const QWORD pausedAt = BASS_ChannelGetPosition(stream, BASS_POS_BYTE);
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), pausedAt);
  ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
  ASSERT_TRUE(WaitUntil([&] { return Ended(stream); }));

  const auto heard = Heard();
  const int64_t start = FirstLoudFrame(heard, 0.01f) - 1;
  ASSERT_GE(start, 0);
  // The longest quiet run inside the tone is the pause; around it every frame was played once.
  size_t longestGap = 0, run = 0;
  int64_t last = start;
  for (size_t i = static_cast<size_t>(start); i < heard.size() / 2; ++i) {
    if (std::fabs(heard[2 * i]) < 1e-6f) {
      ++run;
    } else {
      longestGap = std::max(longestGap, run);
      run = 0;
      last = static_cast<int64_t>(i);
    }
  }
  EXPECT_GE(longestGap, Frames(0.3));
  EXPECT_NEAR(static_cast<double>(last + 1 - start - static_cast<int64_t>(longestGap)), static_cast<double>(Frames(1.2)),
              static_cast<double>(Frames(0.001)));
}

TEST_F(BassPlayback, SeekWhilePlayingContinuesAtTheExactFrame) {
  // The sample value tells the frame: value = frame / 66150.
  const std::string path =
      MakeAudio(dir, "ramp.wav", "aevalsrc=t/1.5:s=44100:c=stereo:d=1.5", {"-c:a", "pcm_f32le"});
  const HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
  ASSERT_NE(stream, 0u);
  ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
  ASSERT_TRUE(WaitUntil([&] { return PositionSeconds(stream) >= 0.3; }));
  const QWORD target = BASS_ChannelSeconds2Bytes(stream, 1.0);
  ASSERT_TRUE(BASS_ChannelSetPosition(stream, target, BASS_POS_BYTE));
  EXPECT_EQ(BASS_ChannelGetPosition(stream, BASS_POS_BYTE), target);  // the position is the target at once
  ASSERT_TRUE(WaitUntil([&] { return Ended(stream); }));

  const auto heard = Heard();
  // Find the jump forward and read where playback went on.
  bool found = false;
  for (size_t i = 1; i < heard.size() / 2; ++i) {
    if (heard[2 * i] - heard[2 * i - 2] > 0.1f && heard[2 * i - 2] > 0.0f) {
      EXPECT_NEAR(heard[2 * i] * 66150.0, 44100.0, 1.0);
      found = true;
      break;
    }
  }
  EXPECT_TRUE(found);
}

struct EndRecord {
  std::atomic<int> calls{0};
  std::atomic<QWORD> positionAtCall{0};
  std::thread::id thread;
};

void CALLBACK RecordEnd(HSYNC, DWORD channel, DWORD, void* user) {
  auto* record = static_cast<EndRecord*>(user);
  record->thread = std::this_thread::get_id();
  record->positionAtCall = BASS_ChannelGetPosition(channel, BASS_POS_BYTE);
  ++record->calls;
}

void CALLBACK FreeOwnStream(HSYNC, DWORD channel, DWORD, void* user) {
  BASS_StreamFree(channel);
  ++static_cast<EndRecord*>(user)->calls;
}

TEST_F(BassPlayback, EndSyncFiresOnceWhenTheLastSampleHasBeenHeard) {
  const std::string path = MakeSineWav(dir, "sine.wav", 1000, 0.4);
  const HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
  ASSERT_NE(stream, 0u);
  EndRecord record;
  ASSERT_NE(BASS_ChannelSetSync(stream, BASS_SYNC_END, 0, &RecordEnd, &record), 0u);
  ASSERT_TRUE(BASS_ChannelPlay(stream, FALSE));
  ASSERT_TRUE(WaitUntil([&] { return record.calls > 0; }));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(record.calls, 1);
  EXPECT_NE(record.thread, std::this_thread::get_id());
  EXPECT_EQ(record.positionAtCall.load(), Frames(0.4) * 8);
  EXPECT_EQ(BASS_ChannelGetLength(stream, BASS_POS_BYTE), Frames(0.4) * 8);
  EXPECT_TRUE(Ended(stream));

  // A stream freed from its own end sync: no deadlock, and the handle is gone.
  const HSTREAM second = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
  EndRecord freed;
  ASSERT_NE(BASS_ChannelSetSync(second, BASS_SYNC_END, 0, &FreeOwnStream, &freed), 0u);
  ASSERT_TRUE(BASS_ChannelPlay(second, FALSE));
  ASSERT_TRUE(WaitUntil([&] { return freed.calls > 0; }));
  EXPECT_TRUE(WaitUntil([&] { return !BASS_ChannelIsActive(second) && BASS_ErrorGetCode() == BASS_ERROR_HANDLE; }));

  const auto heard = Heard();
  const int64_t start = FirstLoudFrame(heard, 0.01f) - 1;
  ASSERT_GE(start, 0);
  size_t tone = 0;
  for (size_t i = static_cast<size_t>(start); i < static_cast<size_t>(start) + Frames(0.4); ++i) {
    if (std::fabs(heard[2 * i]) > 1e-6f) ++tone;
  }
  EXPECT_GT(tone, Frames(0.39));  // the whole tone went out before the sync said "ended"
}

TEST_F(BassPlayback, StreamsAreMixedTogether) {
  const std::string path = MakeSineWav(dir, "sine.wav", 1000, 0.6);
  // With the output stopped both start in the same period, in phase.
  ASSERT_TRUE(BASS_Stop());
  const HSTREAM first = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
  const HSTREAM second = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
  ASSERT_TRUE(BASS_ChannelSetAttribute(first, BASS_ATTRIB_VOL, 0.65f));
  ASSERT_TRUE(BASS_ChannelSetAttribute(second, BASS_ATTRIB_VOL, 0.35f));
  ASSERT_TRUE(BASS_ChannelPlay(first, FALSE));
  ASSERT_TRUE(BASS_ChannelPlay(second, FALSE));
  std::this_thread::sleep_for(50ms);  // both decoders have their first frames ready
  ASSERT_TRUE(BASS_Start());
  ASSERT_TRUE(WaitUntil([&] { return Ended(first) && Ended(second); }));
  const auto heard = Heard();
  const int64_t start = FirstLoudFrame(heard, 0.01f);
  ASSERT_GE(start, 0);
  EXPECT_NEAR(PeakLeft(heard, start + Frames(0.1), start + Frames(0.5)), 0.5, 0.003);
}

}  // namespace
}  // namespace orvane::test
