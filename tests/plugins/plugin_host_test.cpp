// The plug-in host with real libraries: which ones it registers, the order of the messages, the
// broadcast's result, plug-ins that throw or fault without taking the player down, and libraries
// others could have planted, which must never get to run.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

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

std::string BuiltPlugin(const std::string& flavour) { return std::string(ORVANE_TEST_PLUGIN_DIR) + "/" + flavour + ".so"; }

// Puts a copy of a test plug-in at to, with the given mode (the build tree's modes depend on the
// umask; the host trusts only what nobody else may write).
void PlacePluginFile(const fs::path& from, const fs::path& to, fs::perms mode = fs::perms(0644)) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, mode);
}

void PlacePlugin(const std::string& flavour, const fs::path& to, fs::perms mode = fs::perms(0644)) {
  PlacePluginFile(BuiltPlugin(flavour), to, mode);
}

class PluginHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The player's fault handlers: a fault inside a plug-in goes back to the host.
    app::InstallFaultHandlers();
    ::setenv("ORVANE_TEST_PLUGIN_LOG", log.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("ORVANE_TEST_PLUGIN_LOG");
    ::unsetenv("ORVANE_TEST_PLUGIN_CONSTRUCTED");
  }

  // A test plug-in in a private folder only the user may write, copied there once.
  std::string TestPlugin(const std::string& flavour) {
    const fs::path folder = dir.Path() / "lib";
    if (!fs::exists(folder)) {
      fs::create_directory(folder);
      fs::permissions(folder, fs::perms(0755));
    }
    const fs::path file = folder / (flavour + ".so");
    if (!fs::exists(file)) PlacePlugin(flavour, file);
    return file.string();
  }

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
    // Nothing of a plug-in that threw or faulted reaches the caller, the next time either.
    EXPECT_EQ(host.BroadcastToPlugins(PLUGIN_TRACKENDED, 0, 0), c.Result);
  }
}

TEST_F(PluginHostTest, APluginThatThrewIsCalledAgainOneThatFaultedNeverIsNorUnloaded) {
  {
    TUSGeneralPurpose host(0, "");
    for (const char* flavour : {"throw", "fault_callback", "ret5"}) ASSERT_TRUE(host.LoadPlugin(TestPlugin(flavour)));
    host.BroadcastToPlugins(PLUGIN_TRACKSTARTED, 0, 0);
    host.BroadcastToPlugins(PLUGIN_TRACKENDED, 0, 0);
  }
  EXPECT_EQ(Calls(), (std::vector<std::string>{"throw 100", "fault_callback 100", "ret5 100", "throw 108",
                                               "fault_callback 108", "ret5 108", "throw 109", "ret5 109", "throw 101",
                                               "ret5 101"}));
  // Unloading would run more of the faulted library's code: it stays mapped, the others are gone.
  const std::string maps = ReadFileBytes("/proc/self/maps");
  EXPECT_NE(maps.find(TestPlugin("fault_callback")), std::string::npos);
  EXPECT_EQ(maps.find(TestPlugin("ret5")), std::string::npos);
}

TEST_F(PluginHostTest, TheCallbackCheckedAtLoadIsTheOneCalledWhateverTheRecordSaysLater) {
  {
    TUSGeneralPurpose host(0, "");
    ASSERT_TRUE(host.LoadPlugin(TestPlugin("swap")));  // points its record elsewhere when greeted
    EXPECT_EQ(host.BroadcastToPlugins(PLUGIN_TRACKSTARTED, 0, 0), 6);
  }
  EXPECT_EQ(Calls(), (std::vector<std::string>{"swap 100", "swap 108", "swap 101"}));
}

// A library's constructor runs the moment it is loaded, with the player's rights. One that another
// user could have put there or changed must never get that far; a well-kept one still loads.
TEST_F(PluginHostTest, PluginsOthersCouldPlantNeverRun) {
  const std::string constructed = dir.File("constructed");
  ::setenv("ORVANE_TEST_PLUGIN_CONSTRUCTED", constructed.c_str(), 1);
  constexpr uid_t kSomeoneElse = 65534;
  const bool canGiveAway = ::geteuid() == 0;  // only root can make a file someone else's
  enum class Refused { Nothing, Folder, File };
  struct Case {
    const char* Name;
    fs::perms FolderMode;
    fs::perms FileMode;
    bool FolderOfSomeoneElse;
    bool FileOfSomeoneElse;
    bool Link;
    Refused Named;
  };
  const Case cases[] = {
      {"well-kept", fs::perms(0755), fs::perms(0644), false, false, false, Refused::Nothing},
      {"read-only", fs::perms(0500), fs::perms(0444), false, false, false, Refused::Nothing},
      {"group-writable file", fs::perms(0755), fs::perms(0664), false, false, false, Refused::File},
      {"world-writable file", fs::perms(0755), fs::perms(0646), false, false, false, Refused::File},
      {"group-writable folder", fs::perms(0775), fs::perms(0644), false, false, false, Refused::Folder},
      {"world-writable folder", fs::perms(01777), fs::perms(0644), false, false, false, Refused::Folder},
      {"link to a well-kept file", fs::perms(0755), fs::perms(0644), false, false, true, Refused::File},
      {"file of someone else", fs::perms(0755), fs::perms(0644), false, true, false, Refused::File},
      {"folder of someone else", fs::perms(0755), fs::perms(0644), true, false, false, Refused::Folder},
  };
  int n = 0;
  for (const Case& c : cases) {
    if ((c.FolderOfSomeoneElse || c.FileOfSomeoneElse) && !canGiveAway) continue;
    SCOPED_TRACE(c.Name);
    const fs::path folder = dir.Path() / ("plugins" + std::to_string(++n));
    fs::create_directory(folder);
    const fs::path file = folder / "planted.so";
    if (c.Link) {
      fs::create_symlink(TestPlugin("ret6"), file);
    } else {
      PlacePlugin("ret6", file, c.FileMode);
      if (c.FileOfSomeoneElse) {
        ASSERT_EQ(::chown(file.c_str(), kSomeoneElse, kSomeoneElse), 0);
      }
    }
    fs::permissions(folder, c.FolderMode);
    if (c.FolderOfSomeoneElse) {
      ASSERT_EQ(::chown(folder.c_str(), kSomeoneElse, kSomeoneElse), 0);
    }
    const bool runs = c.Named == Refused::Nothing;
    std::vector<std::string> named;
    if (c.Named == Refused::Folder) named.push_back(folder.string());
    if (c.Named == Refused::File) named.push_back(file.string());

    fs::remove(constructed);
    {
      TUSGeneralPurpose byFolder(0, folder.string());
      EXPECT_EQ(byFolder.PluginCount(), runs ? 1 : 0);
      EXPECT_EQ(fs::exists(constructed), runs);
      EXPECT_EQ(byFolder.Untrusted(), named);
    }
    {
      // Named one by one, the same rule holds.
      TUSGeneralPurpose byName(0, "");
      EXPECT_EQ(byName.LoadPlugin(file.string()), runs);
      EXPECT_EQ(byName.Untrusted(), named);
    }
    fs::permissions(folder, fs::perms(0755));  // so the test folder can be removed
  }
}

TEST_F(PluginHostTest, FolderLoadingSkipsWhatIsNotALibraryAndStopsAt64) {
  const fs::path folder = dir.Path() / "plugins";
  fs::create_directories(folder / "folder.so");
  fs::permissions(folder, fs::perms(0755));
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
  fs::permissions(folder, fs::perms(0755));
  PlacePluginFile(ORVANE_SAMPLE_PLUGIN, folder / "sample_events.so");
  // Beside it, one that anybody in the group could have changed: not loaded, and the user is told.
  PlacePlugin("ret6", folder / "planted.so", fs::perms(0664));

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
    EXPECT_TRUE(window.NoticeText().contains(QString::fromStdString((folder / "planted.so").string())))
        << window.NoticeText().toStdString();
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
