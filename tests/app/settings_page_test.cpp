// The settings page and mini mode of the main window on a scripted engine: which face is wanted,
// "保存", the folder buttons, the check boxes acting at once, the mini tile's play image, and the
// tray icon's settings.
#include <QMenu>
#include <filesystem>

#include "desktop/YmTray.h"
#include "lyrics/Unt_Dlrc.h"
#include "main_window_fixture.h"
#include "store/UYmXMLCFG.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;
using Face = app::TNimMain::TFace;

class SettingsPageTest : public MainWindowTest {
 protected:
  app::TNimMainServices Services() {
    app::TNimMainServices services = MainWindowTest::Services();
    services.BrowseForFolder = [this](const std::string& title, std::string& folder) {
      Browsed.push_back(title + " " + folder);
      if (Chosen.empty()) return false;
      folder = Chosen;
      return true;
    };
    return services;
  }

  app::TNimMain& CreatePage() {
    window = std::make_unique<app::TNimMain>(Services());
    window->FormCreate();
    return *window;
  }

  static store::TYkConfig Config() { return store::TYkConfig(DataFolder() + "Orvane.xml", "MainConfig"); }

  std::vector<std::string> Browsed;  // "title folder" of every browser shown
  std::string Chosen;                // what the browser answers; empty: cancelled
};

TEST_F(SettingsPageTest, FacesFollowTheirButtons) {
  app::TNimMain& main = CreatePage();
  struct Step {
    void (app::TNimMain::*handler)();
    Face face;
  };
  // The settings page and the mini tile are reached only from the normal face.
  const Step steps[] = {
      {&app::TNimMain::btnAboutClick, Face::Setting},     {&app::TNimMain::btn_minClick, Face::Setting},
      {&app::TNimMain::transformation2Click, Face::Setting}, {&app::TNimMain::btnAboutBackClick, Face::Main},
      {&app::TNimMain::btn_minClick, Face::Mini},         {&app::TNimMain::btnAboutClick, Face::Mini},
      {&app::TNimMain::HudButton3Click, Face::Mini},      {&app::TNimMain::transformation2Click, Face::Main},
  };
  int changes = 0;
  QObject::connect(&main, &app::TNimMain::faceChanged, [&changes] { ++changes; });
  for (const Step& step : steps) {
    (main.*step.handler)();
    EXPECT_EQ(main.Face(), step.face);
  }
  EXPECT_EQ(changes, 4);
}

// "保存" writes the play mode chosen on the page at once, then the page goes back.
TEST_F(SettingsPageTest, SaveWritesThePlayModeChosenOnThePage) {
  app::TNimMain& main = CreatePage();
  main.btnAboutClick();
  main.modBoxChange(2);
  EXPECT_EQ(main.Shell().PlayMode, app::PlayMode::RepeatOne);
  main.HudButton3Click();
  EXPECT_EQ(Config().ReadInteger("Window/PLAY", "PATTERN", -1), 2);
  EXPECT_EQ(main.Face(), Face::Main);
  EXPECT_FALSE(main.tmr_saveConfig().isActive());
}

TEST_F(SettingsPageTest, FolderButtonsBrowseAndAlwaysWrite) {
  app::TNimMain& main = CreatePage();
  const std::string lyricFolder = main.Shell().LyricFolder;
  TempDir elsewhere;

  // A folder that exists is offered; the chosen one is written and shown.
  Chosen = elsewhere.Path().string();
  main.pmm_setdownClick();
  EXPECT_EQ(Browsed, std::vector<std::string>{"选择歌词存放目录 " + lyricFolder});
  EXPECT_EQ(main.Shell().LyricFolder, Chosen);
  EXPECT_EQ(main.TxtLrcPath().toStdString(), Chosen);
  EXPECT_EQ(Config().ReadString("Window/LRC", "PATH", ""), Chosen);

  // A cancelled browser keeps the folder, and still writes it.
  Chosen.clear();
  const std::string musicFolder = main.Shell().MusicFolder;
  main.pmm_sdownClick();
  EXPECT_EQ(Browsed.back(), "选择歌曲缓存目录 " + musicFolder);
  EXPECT_EQ(Config().ReadString("Window/MUSIC", "PATH", ""), musicFolder);

  // The lyric folder deleted while the player runs: no browser, the value is written as it is.
  fs::remove_all(main.Shell().LyricFolder);
  Browsed.clear();
  Chosen = "/never/chosen";
  main.pmm_setdownClick();
  EXPECT_TRUE(Browsed.empty());
  EXPECT_EQ(Config().ReadString("Window/LRC", "PATH", ""), elsewhere.Path().string());
}

// The check boxes act at once and are saved shortly after, without "保存".
TEST_F(SettingsPageTest, CheckBoxesActAtOnce) {
  app::TNimMain& main = CreatePage();
  ASSERT_NE(main.DeskLrc(), nullptr);
  EXPECT_TRUE(main.DeskLrc()->isVisible());
  main.btn_lrcClick();
  EXPECT_FALSE(main.chkShowLrc());
  EXPECT_FALSE(main.DeskLrc()->isVisible());

  AutoRuns.clear();
  main.chkAutoRunClick();
  EXPECT_EQ(AutoRuns, std::vector<bool>{false});
  main.chkTalloClick();
  main.chkOnlineLrcClick();
  EXPECT_FALSE(main.Shell().RunTL);
  EXPECT_FALSE(main.Shell().OnlineLrc);

  EXPECT_TRUE(main.tmr_saveConfig().isActive());
  ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.tmr_saveConfig().isActive(); }, 3000));
  store::TYkConfig config = Config();
  EXPECT_FALSE(config.ReadBool("Window/DESKTOPLRC", "SHOW", true));
  EXPECT_FALSE(config.ReadBool("Window/AUTORUN", "Value", true));
  EXPECT_FALSE(config.ReadBool("Window/RUNTL", "Value", true));
  EXPECT_FALSE(config.ReadBool("Window/LRC", "ONLINE", true));
}

TEST_F(SettingsPageTest, PresetChosenOnThePageReachesTheEngine) {
  app::TNimMain& main = CreatePage();
  ASSERT_GE(main.EffBoxItems().size(), 2);
  engine->Gains.clear();
  main.effBoxChange(1);
  EXPECT_EQ(main.effBoxIndex(), 1);
  EXPECT_EQ(main.Shell().EqPresetId, 1);
  EXPECT_EQ(engine->Gains.size(), 1u);
  main.effBoxChange(99);  // no such item: nothing
  EXPECT_EQ(main.Shell().EqPresetId, 1);
}

// In mini mode the play button shows the pause image while a song plays, the play image otherwise.
TEST_F(SettingsPageTest, MiniPlayImageFollowsThePlayState) {
  WriteSavedLists(Songs(2));
  app::TNimMain& main = CreatePage();
  main.btn_minClick();
  EXPECT_EQ(main.Play2Glyph(), "播放2");
  PlayRow(0);
  EXPECT_EQ(main.Play2Glyph(), "暂停2");
  main.btn_playClick();
  EXPECT_EQ(main.Play2Glyph(), "播放2");
}

// The tray icon: hint "Orvane", restore on a left press, the main menu on a right press.
TEST_F(SettingsPageTest, TrayIconHasTheMainWindowsSettings) {
  app::TNimMain& main = CreatePage();
  desktop::TYmTrayIcon* tray = main.trycn_main();
  ASSERT_NE(tray, nullptr);
  EXPECT_EQ(tray->Hint(), "Orvane");
  EXPECT_EQ(tray->ShownTip(), "Orvane");
  EXPECT_EQ(tray->RestoreOn, desktop::ticLeftClick);
  EXPECT_EQ(tray->PopupMenuOn, desktop::ticRightClick);
  EXPECT_EQ(tray->PopupMenu(), main.pm_main());
  EXPECT_TRUE(tray->HideOnMinimize);
  EXPECT_FALSE(tray->Animate());
  EXPECT_TRUE(tray->Enabled());
}

}  // namespace
}  // namespace orvane::test
