// The plug-in host with real libraries: which ones it registers, the order of the messages, the
// broadcast's result, and plug-ins that throw or fault without taking the player down.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/SystemFault.h"
#include "app/main_window_fixture.h"
#include "plugins/UPluginFramework.h"
#include "support/temp_dir.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;
using plugins::TUSGeneralPurpose;

std::string TestPlugin(const std::string& flavour) { return std::string(ORVANE_TEST_PLUGIN_DIR) + "/" + flavour + ".so"; }

class PluginHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The player's fault handlers: a fault inside a plug-in goes back to the host.
    app::InstallFaultHandlers();
    ::setenv("ORVANE_TEST_PLUGIN_LOG", log.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("ORVANE_TEST_PLUGIN_LOG"); }

  // The calls the test plug-ins logged, in order: "<flavour> <message>".
  std::vector<std::string> Calls() const {
    std::vector<std::string> calls;
    std::istringstream lines(ReadFileBytes(log));
    for (std::string line; std::getline(lines, line);) calls.push_back(line);
    return calls;
  }

  TempDir dir;
  const std::string log = dir.File("calls.log");
};

TEST_F(PluginHostTest, RegistersOnlyRealPluginsAndSaysHelloToEach) {
  struct Case {
    std::string Flavour;
    bool Registered;
  };
  const Case cases[] = {{"ret6", true},          {"nocallback", true},  {"api255", false},
                        {"noexport", false},     {"fault_info", false}, {"throw", true}};
  TUSGeneralPurpose host(0, "");
  for (const Case& c : cases) EXPECT_EQ(host.LoadPlugin(TestPlugin(c.Flavour)), c.Registered) << c.Flavour;
  EXPECT_EQ(host.PluginCount(), 3);
  // The same library again, a missing file, a folder: refused.
  EXPECT_FALSE(host.LoadPlugin(TestPlugin("ret6")));
  EXPECT_FALSE(host.LoadPlugin(dir.File("missing.so")));
  EXPECT_FALSE(host.LoadPlugin(dir.Path().string()));
  EXPECT_EQ(host.PluginCount(), 3);
  // Hello is said once to each registered plug-in with a callback, the thrower included.
  EXPECT_EQ(Calls(), (std::vector<std::string>{"ret6 100", "throw 100"}));
}

TEST_F(PluginHostTest, MessagesArriveInOrderAndUnloadingFollowsLoadOrder) {
  {
    TUSGeneralPurpose host(0, "");
    ASSERT_TRUE(host.LoadPlugin(TestPlugin("ret5")));
    ASSERT_TRUE(host.LoadPlugin(TestPlugin("ret6")));
    TTrackEvent track{};
    host.BroadcastToPlugins(PLUGIN_TRACKSTARTED, reinterpret_cast<uintptr_t>(&track), 0);
    host.BroadcastToPlugins(PLUGIN_TRACKENDED, reinterpret_cast<uintptr_t>(&track), 0);
  }
  EXPECT_EQ(Calls(), (std::vector<std::string>{"ret5 100", "ret6 100", "ret5 108", "ret6 108", "ret5 109", "ret6 109",
                                               "ret5 101", "ret6 101"}));
}

TEST_F(PluginHostTest, BroadcastAnswersTheLastPluginThatReturned) {
  struct Case {
    std::vector<std::string> Flavours;
    int32_t Result;
  };
  const Case cases[] = {{{"ret5", "ret6", "throw"}, 6},
                        {{"ret6", "ret5"}, 5},
                        {{"ret5", "fault_callback"}, 5},
                        {{"throw"}, 1},
                        {{"nocallback"}, 1},
                        {{}, 1}};
  for (const Case& c : cases) {
    TUSGeneralPurpose host(0, "");
    for (const std::string& flavour : c.Flavours) ASSERT_TRUE(host.LoadPlugin(TestPlugin(flavour))) << flavour;
    EXPECT_EQ(host.BroadcastToPlugins(PLUGIN_TRACKSTARTED, 0, 0), c.Result) << ::testing::PrintToString(c.Flavours);
    // A plug-in that threw or faulted keeps getting messages, and nothing of it reaches the caller.
    EXPECT_EQ(host.BroadcastToPlugins(PLUGIN_TRACKENDED, 0, 0), c.Result);
  }
}

TEST_F(PluginHostTest, FolderLoadingSkipsWhatIsNotALibraryAndStopsAt64) {
  const fs::path folder = dir.Path() / "plugins";
  fs::create_directories(folder / "folder.so");
  ASSERT_EQ(::mkfifo((folder / "fifo.so").c_str(), 0600), 0);  // would hang a loader that opened it
  WriteFileBytes(folder / "text.so", "not a library");
  fs::copy_file(TestPlugin("ret6"), folder / "readme.txt");
  for (int i = 0; i < 70; ++i) fs::copy_file(TestPlugin("nocallback"), folder / (std::to_string(i) + ".so"));
  TUSGeneralPurpose host(0, folder.string());
  EXPECT_EQ(host.PluginCount(), TUSGeneralPurpose::MaxPlugins);

  TUSGeneralPurpose none(0, (dir.Path() / "no-such-folder").string());
  EXPECT_EQ(none.PluginCount(), 0);
}

// The main window with the real host and the sample plug-in that ships with the player.
TEST_F(PluginHostTest, TheSamplePluginHearsATrackBetweenHelloAndGoodbye) {
  GuiApp();
  const std::string sampleLog = dir.File("sample.log");
  ::setenv("ORVANE_SAMPLE_PLUGIN_LOG", sampleLog.c_str(), 1);
  const fs::path folder = dir.Path() / "plugins";
  fs::create_directories(folder);
  fs::copy_file(ORVANE_SAMPLE_PLUGIN, folder / "sample_events.so");

  {
    app::TNimMainServices services;
    services.ExecutablePath = std::string(ORVANE_BIN_DIR) + "/orvane";
    FakeEngine* engine = nullptr;
    services.CreateEngine = [&engine](uintptr_t, const std::string&, std::shared_ptr<audio::TDownloadCounters>) {
      auto fake = std::make_unique<FakeEngine>();
      engine = fake.get();
      return std::unique_ptr<audio::IAudioEngine>(std::move(fake));
    };
    services.CreatePluginHost = [&folder](uintptr_t window, const std::string&) {
      return std::make_unique<TUSGeneralPurpose>(window, folder.string());
    };
    services.StartUpdateCheck = false;
    services.CreateDeskLrc = false;
    app::TNimMain window(std::move(services));
    window.FormCreate();
    ASSERT_NE(window.PluginHost(), nullptr);
    EXPECT_EQ(window.PluginHost()->PluginCount(), 1);
    engine->Length = 90000;
    window.WMSharedCommand(app::CMD_PLAYFILE, "/music/一首歌.mp3");
    ASSERT_TRUE(ProcessEventsUntil([&] { return engine->State() == audio::StatePlaying; }));
    engine->EndTrack();
    // The song's lyric lookup must not outlive the test: a thread still in the network library at
    // exit is reported as a leak by the sanitizer build.
    EXPECT_TRUE(window.Workers().WaitIdle(10000));
  }
  ::unsetenv("ORVANE_SAMPLE_PLUGIN_LOG");
  EXPECT_EQ(ReadFileBytes(sampleLog),
            "100\n"
            "108\t一首歌\t\t/music/一首歌.mp3\t90.000\n"
            "109\t一首歌\t\t/music/一首歌.mp3\t90.000\n"
            "101\n");
}

}  // namespace
}  // namespace orvane::test
