#pragma once
// The main window on a scripted engine, with every outside service recorded instead of performed.
// Runs without a display (Qt's offscreen platform); each test process has its own HOME.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/OrvaneApplication.h"
#include "app/unt_main.h"
#include "fake_engine.h"
#include "store/UYmPlayerlist.h"
#include "support/event_loop.h"
#include "support/temp_dir.h"
#include "ui/PlayListModel.h"

namespace orvane::test {

inline QApplication& GuiApp() {
  static int argc = 1;
  static char name[] = "orvane-app-test";
  static char* argv[] = {name, nullptr};
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The lyric windows' scenes draw without a GPU.
  ::setenv("QT_QUICK_BACKEND", "software", 0);
  // Lives to the end of the process: Qt's font caches stay reachable through it instead of being
  // orphaned by a destructor that runs after the tests.
  static auto* app = new app::OrvaneApplication(argc, argv);
  return *app;
}

inline std::string DataFolder() { return std::string(std::getenv("HOME")) + "/Documents/Orvane/"; }

struct Song {
  std::string Title;
  std::string Singer;
  std::string Path;
};

// Writes the music list (and optionally the random list) the way a previous run saved them.
inline void WriteSavedLists(const std::vector<Song>& music, const std::vector<Song>& random = {}) {
  std::filesystem::create_directories(DataFolder());
  store::TYkPlist plist(DataFolder() + "Default.pls", "DefaultList");
  for (const Song& song : music) plist.AddItem("PlayerList/LIST", song.Title, song.Singer, "0", song.Path, 0);
  for (const Song& song : random) plist.AddItem("RndList/LIST", song.Title, song.Singer, "0", song.Path, 0);
}

inline std::vector<Song> Songs(int count, const std::string& prefix = "/music/song") {
  std::vector<Song> songs;
  for (int i = 1; i <= count; ++i)
    songs.push_back({"歌" + std::to_string(i), i % 2 ? "歌手" : "", prefix + std::to_string(i) + ".mp3"});
  return songs;
}

class MainWindowTest : public ::testing::Test {
 protected:
  // Each test starts from an empty data folder, also when one process runs them all.
  void SetUp() override {
    GuiApp();
    std::filesystem::remove_all(DataFolder());
  }
  void TearDown() override {
    window.reset();
    ProcessEventsFor(10);
  }

  app::TNimMainServices Services() {
    app::TNimMainServices services;
    services.ExecutablePath = std::string(ORVANE_BIN_DIR) + "/orvane";
    services.CreateEngine = [this](uintptr_t, const std::string&, std::shared_ptr<audio::TDownloadCounters>) {
      auto fake = std::make_unique<FakeEngine>();
      engine = fake.get();
      return std::unique_ptr<audio::IAudioEngine>(std::move(fake));
    };
    services.ChooseFiles = [this](const std::string&) { return ChosenFiles; };
    services.AskYesNo = [this](const std::string& message) {
      Questions.push_back(message);
      return Answer;
    };
    services.BroadcastToPlugins = [this](int32_t event, const app::TTrackEvent& track) {
      PluginEvents.emplace_back(event, std::string(track.Title, track.TitleLength));
    };
    services.RunCommandLine = [this](const std::string& commandLine, uint16_t) {
      Commands.push_back(commandLine);
      return true;
    };
    services.OpenUrl = [this](const std::string& url) { Urls.push_back(url); };
    services.SetAutoRun = [this](bool on) { AutoRuns.push_back(on); };
    services.RegisterFileTypes = [this](const std::string&, int32_t) { ++Registrations; };
    services.StartUpdateCheck = false;
    return services;
  }

  app::TNimMain& Create(const std::vector<std::string>& args = {}) {
    app::TNimMainServices services = Services();
    if (AdjustServices) AdjustServices(services);
    window = std::make_unique<app::TNimMain>(std::move(services));
    window->FormCreate(args);
    return *window;
  }

  // Starts row index of the music list as a double-click does, and lets the open complete.
  void PlayRow(int index) {
    window->lstDefault().SetSelectedIndex(index);
    window->plst_listItemDblClick();
    ProcessEventsUntil([this] { return engine->State() != audio::StateStopped; });
  }

  std::string LastOpened() const { return engine->Opened.empty() ? std::string() : engine->Opened.back(); }

  std::unique_ptr<app::TNimMain> window;
  FakeEngine* engine = nullptr;
  // A test's own changes to the services, made before the window is created.
  std::function<void(app::TNimMainServices&)> AdjustServices;
  std::vector<std::string> ChosenFiles;
  int Answer = app::mrYes;
  std::vector<std::string> Questions;
  std::vector<std::pair<int32_t, std::string>> PluginEvents;
  std::vector<std::string> Commands;
  std::vector<std::string> Urls;
  std::vector<bool> AutoRuns;
  int Registrations = 0;
};

}  // namespace orvane::test
