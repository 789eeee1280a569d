// The engine on a real PulseAudio server (a private one, on a null sink) that goes away and comes
// back, and one that starts only after the player: what the sink's monitor records is what a
// listener would have heard. Skipped where pulseaudio, pactl or parec is missing.
//
// Threads: the tests run on the main thread and drive the engine through the Qt event loop.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioEngine.h"
#include "bass_fixtures.h"
#include "event_loop.h"
#include "support/temp_dir.h"

namespace orvane::audio {
namespace {

using test::ProcessEventsFor;
using test::ProcessEventsUntil;
using test::TempDir;

constexpr int kWaitMs = 10000;

// Starts a program (no shell, no copy of this process: a forked copy would confuse the
// ThreadSanitizer run); its standard output into outFile when one is given, its messages into
// nothing. The pid, or -1.
pid_t Spawn(const std::vector<std::string>& args, const std::string& outFile = {}) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.empty() ? "/dev/null" : outFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed ? -1 : pid;
}

// Runs a program to its end; true when it ended with status 0.
bool Run(const std::vector<std::string>& args) {
  const pid_t pid = Spawn(args);
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool Installed(const char* program) { return Run({"sh", "-c", std::string("command -v ") + program}); }

// A PulseAudio daemon of the test's own: its runtime folder is private, so neither a desktop's
// server nor another test's is touched, and clients never start one by themselves.
class PulseServer {
 public:
  explicit PulseServer(const TempDir& dir) : runtime(dir.File("runtime")), clientConf(dir.File("client.conf")) {
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    test::WriteFileBytes(clientConf, "autospawn = no\n");
    // The engine's SDL finds the server through these, as a desktop session's client does.
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    ::setenv("PULSE_CLIENTCONFIG", clientConf.c_str(), 1);
    ::setenv("PULSE_RUNTIME_PATH", (runtime + "/pulse").c_str(), 1);
  }
  ~PulseServer() {
    StopRecording();
    Kill();
  }

  bool Start() {
    // -D: the command returns once the daemon runs in the background.
    if (!Run({"pulseaudio", "-D", "-n", "--exit-idle-time=-1", "--disallow-exit", "--system=false",
              "--load=module-native-protocol-unix", "--load=module-null-sink sink_name=nullsink rate=44100",
              "--load=module-always-sink"})) {
      return false;
    }
    return ProcessEventsUntil([] { return Run({"pactl", "info"}); }, kWaitMs);
  }
  // As a crash would: no goodbye to the clients.
  void Kill() {
    const std::string pid = test::ReadFileBytes(runtime + "/pulse/pid");
    if (pid.empty()) return;
    ::kill(std::atoi(pid.c_str()), SIGKILL);
    ProcessEventsUntil([&] { return ::kill(std::atoi(pid.c_str()), 0) != 0; }, kWaitMs);
    std::filesystem::remove(runtime + "/pulse/pid");
  }

  // What the sink plays from now on, into a file; true once the first bytes have come (a recorder
  // takes a while to connect).
  bool Record(const std::string& file) {
    recording = file;
    recorder = Spawn({"parec", "--device=nullsink.monitor", "--format=float32le", "--rate=44100", "--channels=2",
                      "--raw", "--latency-msec=20"},
                     file);
    if (recorder <= 0) return false;
    return ProcessEventsUntil([&] { return std::filesystem::exists(file) && std::filesystem::file_size(file) > 0; },
                              kWaitMs);
  }
  // Stops the recording; the peak of what it heard.
  float StopRecording() {
    if (recorder <= 0) return 0;
    ::kill(recorder, SIGTERM);
    ::waitpid(recorder, nullptr, 0);
    recorder = -1;
    const std::vector<float> heard = test::ReadFloats(recording);
    float peak = 0;
    for (float v : heard) peak = std::max(peak, std::fabs(v));
    return peak;
  }

 private:
  std::string runtime;
  std::string clientConf;
  std::string recording;
  pid_t recorder = -1;
};

class SoundServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::QtApp(); }

  void SetUp() override {
    if (!Installed("pulseaudio") || !Installed("parec") || !Installed("pactl")) {
      GTEST_SKIP() << "pulseaudio, parec or pactl is missing";
    }
    // The player's default back end when a server runs; told so, so that SDL never falls back to
    // a sound card of the machine while the server is away.
    ::setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    tone = test::MakeSineWav(dir, "tone.wav", 1000, 8);  // amplitude 0.5
    ASSERT_FALSE(tone.empty());
  }

  void CreateEngine() {
    engine = std::make_unique<TAudioEngine>(nullptr, "/nonexistent/", nullptr);
    ASSERT_EQ(engine->StartupError(), 0) << "a missing sound server is no reason to give up";
    engine->SetVolume(100);
    engine->OnStateChange = [this](int32_t s) { states.push_back(s); };
  }
  bool WaitForState(int32_t state, int ms = kWaitMs) {
    return ProcessEventsUntil([&] { return engine->State() == state; }, ms);
  }
  // Plays on until the sink has carried the song for a while; the peak heard meanwhile.
  float Listen(double seconds) {
    const std::string file = dir.File("heard" + std::to_string(++recordings) + ".raw");
    EXPECT_TRUE(server->Record(file));
    ProcessEventsFor(static_cast<int>(seconds * 1000));
    return server->StopRecording();
  }

  TempDir dir{"sound-server"};
  std::unique_ptr<PulseServer> server = std::make_unique<PulseServer>(dir);
  std::string tone;
  std::vector<int32_t> states;
  int recordings = 0;
  std::unique_ptr<TAudioEngine> engine;
};

// The server goes away mid-song: the song pauses where it was (the position stands still) instead
// of running on unheard, and when the server is back it is heard again from there.
TEST_F(SoundServerTest, ASongOutlivesTheSoundServerAndGoesOnWhereItWas) {
  ASSERT_TRUE(server->Start());
  CreateEngine();
  engine->Open(tone);
  ASSERT_TRUE(WaitForState(StatePlaying));
  EXPECT_GT(Listen(0.5), 0.3f) << "heard before the server goes";

  server->Kill();
  ASSERT_TRUE(WaitForState(StatePaused, 3000)) << "the lost output is noticed";
  EXPECT_TRUE(engine->WaitingForOutput());
  const int32_t lostAt = engine->GetPosition();
  ProcessEventsFor(1000);
  EXPECT_EQ(engine->GetPosition(), lostAt) << "the song does not run on unheard";
  EXPECT_EQ(engine->State(), StatePaused);

  ASSERT_TRUE(server->Start());
  ASSERT_TRUE(WaitForState(StatePlaying)) << "the output opens again by itself";
  EXPECT_FALSE(engine->WaitingForOutput());
  EXPECT_LT(std::abs(engine->GetPosition() - lostAt), 500) << "it goes on from where it was";
  EXPECT_GT(Listen(0.5), 0.3f) << "heard again";
  EXPECT_EQ(states, (std::vector<int32_t>{StatePlaying, StatePaused, StatePlaying}));
}

// The player starts before the sound server (at log-in both start with the desktop): a song asked
// for meanwhile waits for the output, paused at its start, and is heard once the server runs.
TEST_F(SoundServerTest, APlayerStartedBeforeTheServerPlaysOnceItRuns) {
  CreateEngine();
  engine->Open(tone);
  ASSERT_TRUE(WaitForState(StatePaused));
  EXPECT_TRUE(engine->WaitingForOutput());
  ProcessEventsFor(500);
  EXPECT_EQ(engine->GetPosition(), 0);

  ASSERT_TRUE(server->Start());
  ASSERT_TRUE(WaitForState(StatePlaying));
  EXPECT_GT(Listen(0.5), 0.3f);
  EXPECT_EQ(states, (std::vector<int32_t>{StatePaused, StatePlaying}));

  // A paused song stays paused when the output comes back.
  engine->Pause();
  server->Kill();
  ASSERT_TRUE(server->Start());
  ProcessEventsFor(1000);
  EXPECT_EQ(engine->State(), StatePaused);
  engine->Resume();
  ASSERT_TRUE(WaitForState(StatePlaying));
  EXPECT_GT(Listen(0.5), 0.3f) << "a song resumed after the server came back is heard";
}

}  // namespace
}  // namespace orvane::audio
