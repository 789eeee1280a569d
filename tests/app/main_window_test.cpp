// The main window's rules on a scripted engine: first run, settings and lists on disk, adding,
// deleting and clearing songs, the play modes, error recovery, remote control and the tick.
#include <sys/stat.h>

#include <filesystem>
#include <QAction>
#include <QDialog>
#include <QWindow>
#include <QMenu>
#include <QTimer>
#include <regex>
#include <stdexcept>

#include "lyrics/Unt_Dlrc.h"
#include "main_window_fixture.h"
#include "store/UYmXMLCFG.h"
#include "support/fixture_server.h"
#include "ui/PlayListModel.h"

namespace orvane::test {
namespace {

using app::mrNo;
using app::mrYes;
namespace fs = std::filesystem;

std::vector<std::string> Numbers(const ui::PlayListModel& list) {
  std::vector<std::string> numbers;
  for (const auto& row : list.Rows()) numbers.push_back(row.Lno);
  return numbers;
}

std::vector<std::string> Locations(const std::vector<app::TPlayListItem>& items) {
  std::vector<std::string> locations;
  for (const auto& item : items) locations.push_back(item.Location);
  return locations;
}

TEST_F(MainWindowTest, FirstRunMakesTheFoldersAndStartsWithDefaults) {
  app::TNimMain& main = Create();
  const app::ShellState& shell = main.Shell();
  EXPECT_EQ(shell.DataFolder, DataFolder());
  EXPECT_EQ(shell.LyricFolder, DataFolder() + "lrc/");
  EXPECT_EQ(shell.MusicFolder, DataFolder() + "music/");
  EXPECT_TRUE(fs::is_directory(shell.LyricFolder));
  EXPECT_TRUE(fs::is_directory(shell.MusicFolder));
  EXPECT_EQ(shell.PlaylistFile, DataFolder() + "Default.pls");
  EXPECT_EQ(shell.PlayMode, app::PlayMode::Normal);
  EXPECT_EQ(main.Volume(), 65);
  EXPECT_EQ(engine->Volume, 65.0f);
  EXPECT_TRUE(main.chkShowLrc());
  EXPECT_TRUE(shell.AutoRun);
  EXPECT_TRUE(shell.RunTL);
  EXPECT_EQ(AutoRuns, std::vector<bool>{true});
  EXPECT_EQ(Registrations, 1);
  EXPECT_TRUE(main.AddMsgVisible());
  EXPECT_EQ(main.TitleText().toStdString(), "Orvane 不一样的音乐体验");
  ASSERT_NE(main.DeskLrc(), nullptr);
  EXPECT_TRUE(main.DeskLrc()->isVisible());
  EXPECT_EQ(main.DeskLrc()->ShownText(), "Orvane 不一样的音乐体验");
  // The shipped presets are listed and preset 0 reached the engine before any song.
  EXPECT_GE(main.effBoxItems().size(), 10u);
  EXPECT_EQ(main.effBoxIndex(), 0);
  ASSERT_FALSE(engine->Gains.empty());
  EXPECT_EQ(engine->Gains.back(), audio::TEqGains{});
  // Nothing is written before the first close.
  EXPECT_FALSE(fs::exists(DataFolder() + "Orvane.xml"));
}

TEST_F(MainWindowTest, CloseWritesTheSettingsInTheirOrderAndTheList) {
  WriteSavedLists(Songs(2));
  app::TNimMain& main = Create();
  main.tbrVChange(64.5);
  main.modBoxChange(1);
  main.FormClose();

  const std::string config = ReadFileBytes(DataFolder() + "Orvane.xml");
  const std::regex order("Volume Value=\"64\"[^]*PLIST PATH=\"[^\"]*Default.pls\"[^]*PLAY PATTERN=\"1\"[^]*"
                         "DESKTOPLRC SHOW=\"1\"[^]*AUTORUN Value=\"1\"[^]*RUNTL Value=\"1\"[^]*EQ ID=\"0\"[^]*"
                         "SKIN NAME=\"\"");
  EXPECT_TRUE(std::regex_search(config, order)) << config;

  store::TYkPlist plist(DataFolder() + "Default.pls", "DefaultList");
  plist.Load("PlayerList");
  EXPECT_EQ(plist.Count(), 2);
}

TEST_F(MainWindowTest, VolumeIsSavedRoundedHalfToEven) {
  const std::pair<double, int> cases[] = {{64.5, 64}, {65.5, 66}, {65.4, 65}, {0, 0}, {100, 100}};
  for (const auto& [slider, saved] : cases) {
    app::TNimMain& main = Create();
    main.tbrVChange(slider);
    main.SaveConfig();
    store::TYkConfig config(DataFolder() + "Orvane.xml", "MainConfig");
    EXPECT_EQ(config.ReadInteger("Window/Volume", "Value", -1), saved) << slider;
    window.reset();
  }
}

// The slider's range holds whatever the file says: a hand-edited 500 would play at five times full gain.
TEST_F(MainWindowTest, AVolumeOutsideTheSliderIsClamped) {
  const std::pair<int, float> cases[] = {{500, 100.0f}, {-20, 0.0f}, {100, 100.0f}, {0, 0.0f}};
  fs::create_directories(DataFolder());
  for (const auto& [stored, expected] : cases) {
    SCOPED_TRACE(stored);
    {
      store::TYkConfig config(DataFolder() + "Orvane.xml", "MainConfig");
      config.WriteInteger("Window/Volume", "Value", stored);
    }
    app::TNimMain& main = Create();
    EXPECT_EQ(main.Volume(), expected);
    EXPECT_EQ(engine->Volume, expected);
    main.tbrVChange(250);  // nothing above the slider's end from the scene or a remote either
    EXPECT_EQ(main.Volume(), 100);
    window.reset();
  }
}

TEST_F(MainWindowTest, SavedSettingsAreReadBack) {
  fs::create_directories(DataFolder());
  {
    store::TYkConfig config(DataFolder() + "Orvane.xml", "MainConfig");
    config.WriteInteger("Window/PLAY", "PATTERN", 2);
    config.WriteInteger("Window/Volume", "Value", 30);
    config.WriteBool("Window/DESKTOPLRC", "SHOW", false);
    config.WriteBool("Window/AUTORUN", "Value", false);
    config.WriteInteger("Window/EQ", "ID", 3);
    config.WriteString("Window/LRC", "PATH", "/no/such/folder");
  }
  app::TNimMain& main = Create();
  EXPECT_EQ(main.Shell().PlayMode, app::PlayMode::RepeatOne);
  EXPECT_EQ(main.Volume(), 30);
  EXPECT_EQ(engine->Volume, 30.0f);
  EXPECT_FALSE(main.chkShowLrc());
  EXPECT_FALSE(main.DeskLrc()->isVisible());
  EXPECT_TRUE(AutoRuns.empty());  // off: the start leaves the autostart entry alone
  EXPECT_EQ(main.effBoxIndex(), 3);
  EXPECT_EQ(main.Shell().LyricFolder, DataFolder() + "lrc/");  // a missing folder falls back
}

TEST_F(MainWindowTest, PlayPatternMapsToPlayMode) {
  using app::PlayMode;
  const std::pair<int, PlayMode> cases[] = {{0, PlayMode::Normal},
                                            {1, PlayMode::LoopList},
                                            {2, PlayMode::RepeatOne},
                                            {-1, PlayMode::Normal},
                                            {7, PlayMode::Normal}};
  for (const auto& [pattern, mode] : cases) {
    fs::create_directories(DataFolder());
    {
      store::TYkConfig config(DataFolder() + "Orvane.xml", "MainConfig");
      config.WriteInteger("Window/PLAY", "PATTERN", pattern);
    }
    EXPECT_EQ(Create().Shell().PlayMode, mode) << pattern;
    window.reset();
  }
}

TEST_F(MainWindowTest, ABadPlaylistFileIsMovedAsideAndTheUserIsTold) {
  fs::create_directories(DataFolder());
  WriteFileBytes(DataFolder() + "Default.pls", "<?xml version=\"1.0\"?><DefaultList><PlayerList><LIST Pa");
  app::TNimMain& main = Create();
  EXPECT_FALSE(main.NoticeText().isEmpty());
  EXPECT_EQ(main.lstDefault().Count(), 0);
  bool movedAside = false;
  for (const auto& entry : fs::directory_iterator(DataFolder()))
    movedAside = movedAside || entry.path().filename().string().rfind("Default.pls.bad-", 0) == 0;
  EXPECT_TRUE(movedAside);
}

// The playlist file is damaged or deleted while the player runs: the next save of the music list
// must not lose the random list the file held, and a damaged file is reported.
TEST_F(MainWindowTest, ASaveNeverLosesTheOtherList) {
  struct Case {
    const char* name;
    bool damage;  // else the file is deleted
  };
  for (const Case c : {Case{"damaged", true}, Case{"deleted", false}}) {
    fs::remove_all(DataFolder());
    WriteSavedLists(Songs(3), Songs(2, "http://music.example/r"));
    app::TNimMain& main = Create();
    ASSERT_EQ(main.lstRndMusic().Count(), 2) << c.name;
    if (c.damage) {
      WriteFileBytes(DataFolder() + "Default.pls", "<DefaultList><PlayerList><LIST Pa");
    } else {
      fs::remove(DataFolder() + "Default.pls");
    }
    main.FormClose();

    store::TYkPlist plist(DataFolder() + "Default.pls", "DefaultList");
    ASSERT_TRUE(plist.LoadedFromFile()) << c.name;
    plist.Load("PlayerList");
    EXPECT_EQ(plist.Count(), 3) << c.name;
    plist.Clear();
    plist.Load("RndList");
    ASSERT_EQ(plist.Count(), 2) << c.name;
    EXPECT_EQ(plist.Item(1)->Path, "http://music.example/r2.mp3") << c.name;
    const bool told = main.NoticeText().toStdString().find("播放列表已损坏") != std::string::npos;
    EXPECT_EQ(told, c.damage) << c.name;
    window.reset();
  }
}

// A GB2312-declared list holding 0x80 (code page 936's euro sign) loads; a list and a settings file
// that really are damaged are both moved aside, and the user is told of each, one after the other.
TEST_F(MainWindowTest, OnlyWhatCannotBeReadIsMovedAsideAndEachIsReported) {
  fs::create_directories(DataFolder());
  WriteFileBytes(DataFolder() + "Default.pls",
                 "<?xml version=\"1.0\" encoding=\"GB2312\"?><DefaultList><PlayerList>"
                 "<LIST Path=\"/m/a.mp3\" Title=\"\x80 5\" Artist=\"\" Url=\"0\" Ltime=\"0\"/></PlayerList></DefaultList>");
  {
    app::TNimMain& main = Create();
    ASSERT_EQ(main.lstDefault().Count(), 1);
    EXPECT_EQ(main.lstDefault().Item(0).Title, "€ 5");
    EXPECT_TRUE(main.NoticeText().isEmpty());
    window.reset();
  }
  WriteFileBytes(DataFolder() + "Orvane.xml", "<MainConfig><Window>");
  WriteFileBytes(DataFolder() + "Default.pls", "<?xml version=\"1.0\" encoding=\"GB2312\"?><DefaultList>\xFF\xFF");
  app::TNimMain& main = Create();
  EXPECT_EQ(main.lstDefault().Count(), 0);
  EXPECT_NE(main.NoticeText().toStdString().find("设置文件已损坏"), std::string::npos) << main.NoticeText().toStdString();
  main.noticeShown();
  EXPECT_NE(main.NoticeText().toStdString().find("播放列表已损坏"), std::string::npos) << main.NoticeText().toStdString();
  main.noticeShown();
  EXPECT_TRUE(main.NoticeText().isEmpty());
}

// Handed-over songs one by one (a second start each, a desktop widget's calls): a burst is carried
// out in order in short slices and costs a save now and then, not one per song; the last change
// reaches the disk without waiting for the close.
TEST_F(MainWindowTest, ABurstOfChangesCostsFewSaves) {
  app::TNimMain& main = Create();
  for (int i = 0; i < 2000; ++i) main.WMSharedCommand(app::CMD_APPENDFILE, "/m/" + std::to_string(i) + ".mp3");
  EXPECT_FALSE(fs::exists(DataFolder() + "Default.pls"));  // nothing written while the burst is handed over
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.QueuedCommands() == 0 && main.ListSavesWritten() >= 1; }));
  main.FlushListSaves();  // the last slice's save may still be under way
  EXPECT_LE(main.ListSavesWritten(), 10);
  ASSERT_EQ(main.lstDefault().Count(), 2000);
  for (int i : {0, 999, 1999}) EXPECT_EQ(main.lstDefault().Item(i).Location, "/m/" + std::to_string(i) + ".mp3");
  store::TYkPlist plist(DataFolder() + "Default.pls", "DefaultList");
  plist.Load("PlayerList");
  EXPECT_EQ(plist.Count(), 2000);
}

// A list that cannot be saved (here its file is a folder) is reported once, not at every change.
TEST_F(MainWindowTest, AFailingSaveIsReportedOnce) {
  fs::create_directories(DataFolder() + "Default.pls");
  app::TNimMain& main = Create();
  int notices = 0;
  QObject::connect(&main, &app::TNimMain::noticeTextChanged, [&] {
    if (!main.NoticeText().isEmpty()) ++notices;
  });
  for (int i = 0; i < 3; ++i) {
    main.WMSharedCommand(app::CMD_APPENDFILE, "/m/" + std::to_string(i) + ".mp3");
    main.FlushListSaves();
    main.noticeShown();
  }
  EXPECT_EQ(main.ListSavesWritten(), 3);
  EXPECT_EQ(notices, 1);
  EXPECT_TRUE(fs::is_directory(DataFolder() + "Default.pls"));
}

TEST_F(MainWindowTest, AddingThreeFilesToFiveRowsNumbersThemSixToEight) {
  WriteSavedLists(Songs(5));
  app::TNimMain& main = Create();
  ChosenFiles = {"/new/a.mp3", "/new/b.ogg", "/new/c.flac"};
  engine->Tags["/new/a.mp3"] = {"标题", "歌手", "", 0};
  engine->Tags["/new/b.ogg"] = {"   ", "", "", 0};  // a blank tag title gives the file name
  engine->Tags["/new/c.flac"] = {" Spaced ", "", "", 0};
  main.lbl_openClick();
  ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.Adding(); }));

  const auto& list = main.lstDefault();
  ASSERT_EQ(list.Count(), 8);
  EXPECT_EQ(Numbers(list), (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8"}));
  EXPECT_EQ(list.Row(5).Caption, "标题 - 歌手");
  EXPECT_EQ(list.Row(6).Caption, "b");
  EXPECT_EQ(list.Row(7).Caption, " Spaced ");
  EXPECT_EQ(main.TrackList().size(), 8u);
  EXPECT_TRUE(engine->Opened.empty());  // the list was not empty: nothing new plays

  main.FlushListSaves();
  store::TYkPlist plist(DataFolder() + "Default.pls", "DefaultList");
  plist.Load("PlayerList");
  EXPECT_EQ(plist.Count(), 8);
}

// A name that is not UTF-8 shows as the text it reads as; the location keeps the bytes.
TEST_F(MainWindowTest, ANameThatIsNotTextShowsReadableAndKeepsItsBytes) {
  const std::pair<std::string, std::string> cases[] = {{"/m/\xC4\xE3\xBA\xC3.mp3", "你好"},
                                                       {"/m/Caf\xE9 d\xE9j\xE0.mp3", "Café déjà"},
                                                       {"/m/晴天.mp3", "晴天"}};
  app::TNimMain& main = Create();
  for (const auto& [path, title] : cases) main.WMSharedCommand(app::CMD_APPENDFILE, path);
  ASSERT_EQ(main.lstDefault().Count(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(main.lstDefault().Item(i).Caption, cases[i].second);
    EXPECT_EQ(main.lstDefault().Item(i).Location, cases[i].first);
  }
}

TEST_F(MainWindowTest, AddingToAnEmptyListStartsTheFirstSong) {
  app::TNimMain& main = Create();
  ChosenFiles = {"/new/a.mp3", "/new/b.mp3"};
  main.lbl_openClick();
  ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.Adding(); }));
  EXPECT_EQ(engine->Opened, std::vector<std::string>{"/new/a.mp3"});
  EXPECT_EQ(main.Shell().CurrentIndex, 0);
  EXPECT_TRUE(main.MusicListVisible());
  ChosenFiles.clear();  // a cancelled dialog changes nothing
  main.lbl_openClick();
  ProcessEventsFor(20);
  EXPECT_EQ(main.lstDefault().Count(), 2);
}

TEST_F(MainWindowTest, DeletingBeforeTheCurrentRowKeepsTheSongPlaying) {
  WriteSavedLists(Songs(5));
  app::TNimMain& main = Create();
  PlayRow(4);
  const int stops = engine->Stops;
  main.lstDefault().SetSelectedIndex(1);
  main.pmdel_delselectClick();
  EXPECT_EQ(Questions, std::vector<std::string>{"确定要删除当前选择的歌曲吗？"});
  EXPECT_EQ(main.Shell().CurrentIndex, 3);
  EXPECT_EQ(engine->Stops, stops);
  EXPECT_EQ(Numbers(main.lstDefault()), (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_EQ(Locations(main.TrackList()),
            (std::vector<std::string>{"/music/song1.mp3", "/music/song3.mp3", "/music/song4.mp3", "/music/song5.mp3"}));
}

TEST_F(MainWindowTest, DeletingThePlayingRowStopsAndClearsTheLyric) {
  WriteSavedLists(Songs(3));
  app::TNimMain& main = Create();
  PlayRow(1);
  main.LrcDoc().Load("[00:01.00]line");
  main.lstDefault().SetSelectedIndex(1);
  Answer = mrNo;
  main.pmdel_delselectClick();
  EXPECT_EQ(main.lstDefault().Count(), 3);  // "No" changes nothing

  Answer = mrYes;
  const int stops = engine->Stops;
  main.pmdel_delselectClick();
  EXPECT_EQ(engine->Stops, stops + 1);
  EXPECT_EQ(main.LrcDoc().Document().Count(), 0);
  EXPECT_EQ(main.Shell().CurrentIndex, 1);  // now names the row that followed
  EXPECT_EQ(main.lstDefault().Count(), 2);
}

TEST_F(MainWindowTest, DeletingWhileTheRandomListIsActiveLeavesPlaybackAlone) {
  WriteSavedLists(Songs(3), Songs(2, "http://h/r"));
  app::TNimMain& main = Create();
  main.TabControl1Change(1);
  main.lstRndMusic().SetSelectedIndex(1);
  main.plst_listItemDblClick();
  ProcessEventsUntil([this] { return engine->State() == audio::StatePlaying; });
  const auto tracks = Locations(main.TrackList());
  main.lstDefault().SetSelectedIndex(0);
  main.pmdel_delselectClick();
  EXPECT_EQ(main.Shell().CurrentIndex, 1);
  EXPECT_EQ(Locations(main.TrackList()), tracks);
  EXPECT_EQ(main.lstDefault().Count(), 2);
}

// The menu's row is the one right-clicked; the question is answered later, after other starts,
// remote calls and the keyboard have added rows, played songs and moved the selection.
TEST_F(MainWindowTest, DeletingFromTheMenuRemovesTheRowItWasOpenedFor) {
  AdjustServices = [](app::TNimMainServices& services) { services.AskYesNo = nullptr; };  // the scene's pop-up
  WriteSavedLists(Songs(4));
  app::TNimMain& main = Create();
  PlayRow(3);
  main.lstDefault().SetSelectedIndex(1);
  main.showListMenu(0, 0);
  QMenu* menu = main.pm_del();
  menu->close();
  QAction* deleteItem = menu->actions().value(0);
  ASSERT_NE(deleteItem, nullptr);
  main.lstDefault().SetSelectedIndex(2);  // the pointer moved on before the item was chosen
  deleteItem->trigger();
  ASSERT_TRUE(main.MsgVisible());
  EXPECT_EQ(main.MsgText(), QStringLiteral("确定要删除当前选择的歌曲吗？"));
  EXPECT_EQ(main.lstDefault().Count(), 4);  // nothing yet: the question waits for its answer

  main.WMSharedCommand(app::CMD_PLAYFILE, "/added/new.mp3");  // a second start
  ProcessEventsUntil([this] { return engine->State() == audio::StatePlaying; });
  main.btn_previousClick();  // the desktop's Previous
  ProcessEventsUntil([this] { return engine->State() == audio::StatePlaying; });
  main.lstDefault().SetSelectedIndex(0);
  const std::string playing = LastOpened();
  const int stops = engine->Stops;

  main.MsgPop1Result(mrYes);
  EXPECT_FALSE(main.MsgVisible());
  EXPECT_EQ(Locations(main.TrackList()), (std::vector<std::string>{"/music/song1.mp3", "/music/song3.mp3",
                                                                   "/music/song4.mp3", "/added/new.mp3"}));
  EXPECT_EQ(engine->Stops, stops);  // the playing song plays on
  EXPECT_EQ(main.CurrentTrack()->Location, playing);
  main.MsgPop1Result(mrYes);  // a second answer finds no question
  EXPECT_EQ(main.lstDefault().Count(), 4);
}

TEST_F(MainWindowTest, ADeleteAnsweredNoOrForASongAlreadyGoneRemovesNothing) {
  AdjustServices = [](app::TNimMainServices& services) { services.AskYesNo = nullptr; };
  WriteSavedLists(Songs(3));
  app::TNimMain& main = Create();
  main.lstDefault().SetSelectedIndex(0);
  main.pmdel_delselectClick();
  main.MsgPop1Result(mrNo);
  EXPECT_EQ(main.lstDefault().Count(), 3);

  // The Delete key asks about the selected row, which has left the list by the answer; the same
  // file in another row is another song.
  main.lstDefault().SetSelectedIndex(2);
  EXPECT_TRUE(main.KeyPressed(Qt::Key_Delete, Qt::NoModifier));
  ASSERT_TRUE(main.MsgVisible());
  main.lstDefault().RemoveRow(2);
  main.AddListItem(main.lstDefault(), 3, "歌3", "", "/music/song3.mp3");
  main.MsgPop1Result(mrYes);
  EXPECT_EQ(main.lstDefault().Count(), 3);

  // A newer question takes the place of an unanswered one.
  main.KeyPressed(Qt::Key_Delete, Qt::NoModifier);
  main.pmdel_clearlistClick();
  EXPECT_EQ(main.MsgText(), QStringLiteral("确定要清空当前歌曲列表？"));
  main.MsgPop1Result(mrYes);
  EXPECT_EQ(main.lstDefault().Count(), 0);
}

TEST_F(MainWindowTest, KeysPlaySeekSelectAndAdd) {
  WriteSavedLists(Songs(3));
  ChosenFiles = {"/music/chosen.mp3"};
  app::TNimMain& main = Create();
  const auto press = [&main](int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    return main.KeyPressed(key, static_cast<int>(modifiers));
  };
  // Nothing plays: the arrows only move the selection, within the list.
  EXPECT_TRUE(press(Qt::Key_Left));
  EXPECT_TRUE(engine->Seeks.empty());
  main.lstDefault().SetSelectedIndex(-1);
  const std::pair<int, int> moves[] = {{Qt::Key_Down, 0}, {Qt::Key_Down, 1}, {Qt::Key_Down, 2},
                                       {Qt::Key_Down, 2}, {Qt::Key_Up, 1},   {Qt::Key_Up, 0}, {Qt::Key_Up, 0}};
  for (const auto& [key, selected] : moves) {
    EXPECT_TRUE(press(key));
    EXPECT_EQ(main.lstDefault().SelectedIndex(), selected) << key;
  }
  EXPECT_TRUE(press(Qt::Key_Down));
  EXPECT_TRUE(press(Qt::Key_Return));
  ProcessEventsUntil([this] { return engine->State() == audio::StatePlaying; });
  EXPECT_EQ(LastOpened(), "/music/song2.mp3");

  EXPECT_TRUE(press(Qt::Key_Space));
  EXPECT_EQ(engine->State(), audio::StatePaused);
  EXPECT_TRUE(press(Qt::Key_Space));
  EXPECT_EQ(engine->State(), audio::StatePlaying);

  // Five seconds either way, kept within the song (180 s).
  const std::pair<int32_t, int> seeks[] = {{60000, Qt::Key_Right}, {60000, Qt::Key_Left}, {3000, Qt::Key_Left},
                                           {178000, Qt::Key_Right}};
  for (const auto& [position, key] : seeks) {
    engine->Position = position;
    EXPECT_TRUE(press(key));
  }
  EXPECT_EQ(engine->Seeks, (std::vector<int32_t>{65000, 55000, 0, 180000}));
  EXPECT_TRUE(press(Qt::Key_Enter, Qt::KeypadModifier));  // the keypad's Enter plays too
  EXPECT_EQ(engine->Opened.size(), 2u);

  EXPECT_TRUE(press(Qt::Key_O, Qt::ControlModifier));
  ProcessEventsUntil([&main] { return main.lstDefault().Count() == 4; });
  EXPECT_EQ(main.lstDefault().Row(3).Location, "/music/chosen.mp3");
  EXPECT_FALSE(press(Qt::Key_O));  // without Ctrl: not a key of the window's
  EXPECT_FALSE(press(Qt::Key_Space, Qt::ShiftModifier));
}

TEST_F(MainWindowTest, EscGoesBackFromTheSettingsPageAndTheMiniTileOnly) {
  AdjustServices = [](app::TNimMainServices& services) { services.AskYesNo = nullptr; };
  WriteSavedLists(Songs(2), Songs(1, "http://h/r"));
  app::TNimMain& main = Create();
  using Face = app::TNimMain::TFace;
  EXPECT_FALSE(main.KeyPressed(Qt::Key_Escape, 0));  // the main face has nowhere to go back to
  main.btnAboutClick();
  EXPECT_FALSE(main.KeyPressed(Qt::Key_Space, 0));  // the page's own keys only
  EXPECT_EQ(engine->State(), audio::StateStopped);
  EXPECT_TRUE(main.KeyPressed(Qt::Key_Escape, 0));
  EXPECT_EQ(main.Face(), Face::Main);
  main.btn_minClick();
  EXPECT_TRUE(main.KeyPressed(Qt::Key_Escape, 0));
  EXPECT_EQ(main.Face(), Face::Main);

  // Behind the pop-up no key acts; the random list has no Delete.
  main.lstDefault().SetSelectedIndex(0);
  main.KeyPressed(Qt::Key_Delete, 0);
  EXPECT_FALSE(main.KeyPressed(Qt::Key_Space, 0));
  EXPECT_FALSE(main.KeyPressed(Qt::Key_Delete, 0));
  main.MsgPop1Result(mrNo);
  main.TabControl1Change(1);
  main.KeyPressed(Qt::Key_Delete, 0);
  EXPECT_FALSE(main.MsgVisible());
}

TEST_F(MainWindowTest, ClearingTheListShowsTheHint) {
  WriteSavedLists(Songs(3));
  app::TNimMain& main = Create();
  EXPECT_TRUE(main.MusicListVisible());
  main.pmdel_clearlistClick();
  EXPECT_EQ(Questions, std::vector<std::string>{"确定要清空当前歌曲列表？"});
  EXPECT_EQ(main.lstDefault().Count(), 0);
  EXPECT_TRUE(main.TrackList().empty());
  EXPECT_TRUE(main.AddMsgVisible());
  main.FlushListSaves();
  store::TYkPlist plist(DataFolder() + "Default.pls", "DefaultList");
  plist.Load("PlayerList");
  EXPECT_EQ(plist.Count(), 0);
}

TEST_F(MainWindowTest, EndOfSongFollowsThePlayMode) {
  struct Case {
    int modeItem;
    int playingRow;
    std::string expectedNext;  // empty: nothing starts
  };
  const Case cases[] = {
      {0, 1, "/music/song3.mp3"}, {0, 2, ""},  // normal: nothing after the last song
      {1, 1, "/music/song3.mp3"}, {1, 2, "/music/song1.mp3"},  // loop: wraps
      {2, 2, "/music/song3.mp3"},  // repeat one: the same song again
  };
  for (const Case& c : cases) {
    WriteSavedLists(Songs(3));
    app::TNimMain& main = Create();
    main.modBoxChange(c.modeItem);
    PlayRow(c.playingRow);
    const size_t opens = engine->Opened.size();
    PluginEvents.clear();
    engine->EndTrack();
    if (c.expectedNext.empty()) {
      EXPECT_EQ(engine->Opened.size(), opens) << c.modeItem << "/" << c.playingRow;
      EXPECT_EQ(main.PlayGlyph().toStdString(), "Pause");  // the ended state changes no image
    } else {
      EXPECT_EQ(LastOpened(), c.expectedNext) << c.modeItem << "/" << c.playingRow;
    }
    // Only the closing line is left, and the plug-ins hear of the end.
    EXPECT_EQ(main.LrcDoc().CurrentLine(), "");
    main.LrcDoc().SetPosition(1);
    EXPECT_EQ(main.LrcDoc().CurrentLine(), "Orvane 不一样的音乐体验");
    ASSERT_FALSE(PluginEvents.empty());
    EXPECT_EQ(PluginEvents.back().first, PLUGIN_TRACKENDED);
    window.reset();
    fs::remove_all(DataFolder());
  }
}

TEST_F(MainWindowTest, NextAndPreviousAtTheEnds) {
  WriteSavedLists(Songs(3));
  app::TNimMain& main = Create();
  PlayRow(2);
  main.btn_nextClick();  // past the last row: the first
  EXPECT_EQ(LastOpened(), "/music/song1.mp3");
  EXPECT_EQ(main.Shell().CurrentIndex, 0);
  ProcessEventsUntil([this] { return engine->State() == audio::StatePlaying; });

  const size_t opens = engine->Opened.size();
  const int stops = engine->Stops;
  main.btn_previousClick();  // before the first row: nothing audible happens
  EXPECT_EQ(main.Shell().CurrentIndex, -1);
  EXPECT_EQ(engine->Opened.size(), opens);
  EXPECT_EQ(engine->Stops, stops);
  EXPECT_EQ(engine->State(), audio::StatePlaying);

  engine->Stop();
  main.btn_playClick();  // Play then starts the first song
  EXPECT_EQ(LastOpened(), "/music/song1.mp3");
  EXPECT_EQ(main.Shell().CurrentIndex, 0);
}

TEST_F(MainWindowTest, PlayPausesAndResumes) {
  WriteSavedLists(Songs(2));
  app::TNimMain& main = Create();
  main.btn_playClick();
  ProcessEventsUntil([this] { return engine->State() == audio::StatePlaying; });
  EXPECT_EQ(main.PlayGlyph().toStdString(), "Pause");
  EXPECT_EQ(main.TitleText().toStdString(), "歌1 - 歌手");
  EXPECT_EQ(main.SeekMaximum(), engine->Length);
  EXPECT_TRUE(main.lstDefault().Row(0).Marked);
  main.btn_playClick();
  EXPECT_EQ(engine->State(), audio::StatePaused);
  EXPECT_EQ(main.PlayGlyph().toStdString(), "Play");
  const size_t presets = engine->Gains.size();
  main.btn_playClick();
  EXPECT_EQ(engine->State(), audio::StatePlaying);
  EXPECT_EQ(engine->Gains.size(), presets + 1);  // the preset is applied again on resume
  EXPECT_EQ(main.DeskLrc()->ShownText(), "...");
}

TEST_F(MainWindowTest, ABrokenSongIsSkippedOneSecondLater) {
  WriteSavedLists(Songs(3));
  app::TNimMain& main = Create();
  engine->FailOpens = true;
  PlayRow(2);
  EXPECT_EQ(engine->State(), audio::StateOpenFailed);
  EXPECT_TRUE(main.tmr_lanerr().isActive());
  engine->FailOpens = false;
  ASSERT_TRUE(ProcessEventsUntil([this] { return engine->Opened.size() == 2; }, 3000));
  EXPECT_EQ(LastOpened(), "/music/song1.mp3");  // normal mode wraps after the last row
  EXPECT_FALSE(main.tmr_lanerr().isActive());

  main.EngineError(1006, 0);  // a failure without detail changes nothing
  EXPECT_FALSE(main.tmr_lanerr().isActive());
}

// A song asked for while the skip after a broken one is due is the one that plays: the skip is
// not carried out on it.
TEST_F(MainWindowTest, ASongAskedForBeforeTheSkipIsNotSkipped) {
  WriteSavedLists(Songs(3));
  app::TNimMain& main = Create();
  engine->FailOpens = true;
  PlayRow(0);
  ASSERT_TRUE(main.tmr_lanerr().isActive());
  engine->FailOpens = false;
  main.WMSharedCommand(app::CMD_PLAYFILE, "/handed/over.mp3");
  ASSERT_TRUE(ProcessEventsUntil([this] { return engine->State() == audio::StatePlaying; }));
  ProcessEventsFor(1300);
  EXPECT_EQ(LastOpened(), "/handed/over.mp3");
  EXPECT_EQ(main.Shell().CurrentIndex, 3);
}

// A song that cannot be played is named in the notice before the player moves on; a list that
// fails song after song gives one notice that counts them, not one per song, and none again for a
// song already named.
TEST_F(MainWindowTest, UnplayableSongsAreToldOnceWithoutAFlood) {
  WriteSavedLists(Songs(3));
  app::TNimMain& main = Create();
  std::vector<std::string> notices;
  QObject::connect(&main, &app::TNimMain::noticeTextChanged, [&] {
    if (!main.NoticeText().isEmpty()) notices.push_back(main.NoticeText().toStdString());
  });
  main.modBoxChange(1);  // loop: a list of failures goes round and round
  engine->FailOpens = true;
  PlayRow(0);
  EXPECT_TRUE(main.tmr_lanerr().isActive()) << "told before the skip";
  const std::string first = "无法播放：" + main.lstDefault().Row(0).Caption;
  EXPECT_EQ(notices, std::vector<std::string>{first});
  for (int skip = 0; skip < 4; ++skip) {  // twice past the first song again
    main.tmr_lanerrTimer();
    ASSERT_TRUE(ProcessEventsUntil([&] { return engine->State() == audio::StateOpenFailed; }));
  }
  EXPECT_EQ(notices, (std::vector<std::string>{first, "无法播放：2 首歌曲", "无法播放：3 首歌曲"}));

  // The user's own choice is told again; a song that plays ends the run.
  notices.clear();
  PlayRow(2);
  EXPECT_EQ(notices, std::vector<std::string>{"无法播放：" + main.lstDefault().Row(2).Caption});
  engine->FailOpens = false;
  main.tmr_lanerrTimer();
  ASSERT_TRUE(ProcessEventsUntil([&] { return engine->State() == audio::StatePlaying; }));
  engine->FailOpens = true;
  notices.clear();
  main.tmr_lanerrTimer();  // as if the song had failed; the next one fails
  ASSERT_TRUE(ProcessEventsUntil([&] { return engine->State() == audio::StateOpenFailed; }));
  EXPECT_EQ(notices, std::vector<std::string>{"无法播放：" + main.lstDefault().Row(1).Caption});
}

TEST_F(MainWindowTest, ASongWaitingForASoundOutputSaysSo) {
  WriteSavedLists(Songs(1));
  app::TNimMain& main = Create();
  PlayRow(0);
  engine->Pause();
  EXPECT_TRUE(main.NoticeText().isEmpty()) << "the user's own pause needs no word";
  engine->NoOutput = true;
  engine->Pause();  // as the engine does when the sound server goes away
  EXPECT_EQ(main.NoticeText().toStdString(), "没有可用的声音输出，恢复后接着播放");
  EXPECT_EQ(main.PlayGlyph().toStdString(), "Play");
}

TEST_F(MainWindowTest, RemoteControlAnswers) {
  WriteSavedLists(Songs(4), Songs(2, "http://h/r"));
  app::TNimMain& main = Create();
  struct Case {
    int32_t wParam;
    int32_t lParam;
    int32_t answer;
  };
  const Case cases[] = {{app::CMDPLAY_NOP, 0, 1}, {app::CMDPLAY_COUNT, 0, 4}, {app::CMDPLAY_INDEX, 0, 0},
                        {99, 0, -1},             {app::CMDPLAY_COUNT, 1, -1}};
  for (const Case& c : cases) EXPECT_EQ(main.WMCMDPLAY(c.wParam, c.lParam), c.answer) << c.wParam;

  EXPECT_EQ(main.WMCMDPLAY(app::CMDPLAY_PLAYPAUSE, 0), 1);
  EXPECT_EQ(LastOpened(), "/music/song1.mp3");
  EXPECT_EQ(main.WMCMDPLAY(app::CMDPLAY_NEXT, 0), 1);
  EXPECT_EQ(main.WMCMDPLAY(app::CMDPLAY_INDEX, 0), 1);
  EXPECT_EQ(main.WMCMDPLAY(app::CMDPLAY_PREVIOUS, 0), 1);
  EXPECT_EQ(main.WMCMDPLAY(app::CMDPLAY_INDEX, 0), 0);

  main.TabControl1Change(1);
  main.lstRndMusic().SetSelectedIndex(0);
  main.plst_listItemDblClick();
  EXPECT_EQ(main.WMCMDPLAY(app::CMDPLAY_COUNT, 0), 2);  // the random list is active now
}

TEST_F(MainWindowTest, EachTickRefreshesTheSeekBarAndTheLyric) {
  WriteSavedLists(Songs(1));
  app::TNimMain& main = Create();
  PlayRow(0);
  main.LrcDoc().Load("[00:01.00]一\r\n[00:02.00]二\r\n");
  main.SetSeekOpacity(1);
  engine->Position = 1500;
  audio::TSpectrumData spectrum{};
  audio::TWaveData wave{};
  main.EngineTick(audio::StatePlaying, 180000, 1500, spectrum, wave);
  EXPECT_EQ(main.SeekPosition(), 1500);
  EXPECT_EQ(main.DeskLrc()->ShownText(), "一");

  // A blank line shows ". . ."; the same line twice is drawn once; a hidden bar is not moved.
  main.SetSeekOpacity(0.5);
  main.LrcDoc().Load("[00:01.00] \r\n");
  engine->Position = 4000;
  main.EngineTick(audio::StatePlaying, 180000, 4000, spectrum, wave);
  EXPECT_EQ(main.DeskLrc()->ShownText(), ". . .");
  EXPECT_EQ(main.SeekPosition(), 1500);
  const int drawn = main.DeskLrc()->DrawCount();
  for (int i = 0; i < 3; ++i) main.EngineTick(audio::StatePlaying, 180000, 4000, spectrum, wave);
  EXPECT_EQ(main.DeskLrc()->DrawCount(), drawn);
}

TEST_F(MainWindowTest, SeekBarPressSeeksProportionally) {
  WriteSavedLists(Songs(1));
  app::TNimMain& main = Create();
  PlayRow(0);
  main.tbrmainMouseDown(105.5, 211);
  EXPECT_EQ(engine->Seeks, std::vector<int32_t>{90000});
}

TEST_F(MainWindowTest, TheRandomTabFetchesAListAndPlaysItsFirstSong) {
  FixtureServer server;
  server.Serve("/rnd.xml", FixtureReply::Text("<list>"
                                              "<item url=\"%2Fsongs%2Fa.mp3\" title=\"%D6%D0\" singer=\"x\"/>"
                                              "<ITEM url=\"/b.mp3\" title=\"B\" singer=\"\"/>"
                                              "<Item url=\"/c.mp3\" title=\"C\" singer=\"y\"/>"
                                              "</list>",
                                              "text/xml"));
  app::TNimMain& main = Create();
  main.Shell().Remote.RandomListUrl = server.Url("/rnd.xml");
  main.Shell().Remote.MusicBaseUrl = "http://music.example/";
  main.TabControl1Change(1);
  EXPECT_TRUE(main.RndMusicEnabled());
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.lstRndMusic().Count() == 3; }));
  EXPECT_EQ(main.lstRndMusic().Row(0).Caption, "中 - x");
  EXPECT_EQ(main.lstRndMusic().Row(1).Caption, "B");
  EXPECT_EQ(LastOpened(), "http://music.example/songs/a.mp3");
  EXPECT_EQ(main.Shell().ActiveList, 1);
  EXPECT_EQ(main.Shell().CurrentIndex, 0);

  // Selecting the tab again with rows fetches nothing; the first tab disables the button.
  main.TabControl1Change(0);
  EXPECT_FALSE(main.RndMusicEnabled());
  main.TabControl1Change(1);
  ProcessEventsFor(50);
  EXPECT_EQ(server.Requests().size(), 1u);
}

// A fetch that ends after the user moved on fills the random list but does not take over playback;
// while the old random list plays, its rows are not pulled from under it either.
TEST_F(MainWindowTest, ALateRandomListDoesNotTakeOverPlayback) {
  FixtureServer server;
  server.Serve("/rnd.xml", FixtureReply::Text("<list><item url=\"/n1.mp3\" title=\"N1\" singer=\"\"/>"
                                              "<item url=\"/n2.mp3\" title=\"N2\" singer=\"\"/></list>",
                                              "text/xml"));
  struct Case {
    const char* what;
    bool randomListPlays;                    // a song of the old random list plays when the fetch starts
    std::function<void(app::TNimMain&)> act;  // what the user does while the fetch runs
    std::vector<std::string> randomRows;     // captions of the random list afterwards
  };
  const Case cases[] = {
      {"another song started", false,
       [](app::TNimMain& main) {
         main.lstRndMusic().SetSelectedIndex(1);
         main.plst_listItemDblClick();
       },
       {"歌1 - 歌手", "歌2"}},
      {"tab changed", false, [](app::TNimMain& main) { main.TabControl1Change(0); }, {"N1", "N2"}},
      {"song paused", false, [](app::TNimMain& main) { main.btn_playClick(); }, {"N1", "N2"}},
      {"next random song", true, [](app::TNimMain& main) { main.btn_nextClick(); }, {"歌1 - 歌手", "歌2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteSavedLists(Songs(2), Songs(2, "http://h/r"));
    app::TNimMain& main = Create();
    main.Shell().Remote.RandomListUrl = server.Url("/rnd.xml");
    main.Shell().Remote.MusicBaseUrl = "http://music.example/";
    if (c.randomListPlays) {
      main.TabControl1Change(1);
      main.lstRndMusic().SetSelectedIndex(0);
      main.plst_listItemDblClick();
    } else {
      PlayRow(0);  // a song of the music list plays while the random tab is shown
      main.TabControl1Change(1);
    }
    ASSERT_TRUE(ProcessEventsUntil([this] { return engine->State() == audio::StatePlaying; }));
    const size_t opensBefore = engine->Opened.size();
    main.btn_rndlistClick();
    c.act(main);
    ProcessEventsUntil([this] { return engine->State() != audio::StateStopped; });
    // The act itself opened a song at most; what the fetch brings must open nothing more.
    ASSERT_LE(engine->Opened.size(), opensBefore + 1);
    const std::string playing = LastOpened();
    const uint8_t active = main.Shell().ActiveList;
    ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.RandomListFetchRunning(); }));
    ProcessEventsFor(20);
    EXPECT_EQ(LastOpened(), playing);
    EXPECT_EQ(main.Shell().ActiveList, active);
    std::vector<std::string> captions;
    for (const auto& row : main.lstRndMusic().Rows()) captions.push_back(row.Caption);
    EXPECT_EQ(captions, c.randomRows);
    EXPECT_EQ(main.TrackList().size(), static_cast<size_t>(active == 1 ? main.lstRndMusic().Count() : main.lstDefault().Count()));
    window.reset();
    fs::remove_all(DataFolder());
  }
}

TEST_F(MainWindowTest, ALyricBesideTheSongReachesTheDesktop) {
  TempDir songs;
  const std::string song = songs.File("歌曲.mp3");
  WriteFileBytes(song, "not really audio: the engine is scripted");
  WriteFileBytes(songs.File("歌曲.lrc"), "\xEF\xBB\xBF[00:01.00]第一行\r\n[00:02.00]第二行\r\n");
  app::TNimMain& main = Create();
  main.WMSharedCommand(app::CMD_PLAYFILE, song);
  ProcessEventsUntil([this] { return engine->State() == audio::StatePlaying; });
  // "..." until the lyric is read, but a lyric on disk may be shown already: it waits for nothing.
  const std::string shown = main.DeskLrc()->ShownText();
  EXPECT_TRUE(shown == "..." || shown == "第一行") << shown;
  ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.LyricLookupRunning() && main.LrcDoc().Document().Count() > 0; }));
  EXPECT_EQ(main.LrcDoc().Document().Count(), 3);  // two lines and the closing line
  engine->Position = 2500;
  audio::TSpectrumData spectrum{};
  audio::TWaveData wave{};
  main.EngineTick(audio::StatePlaying, 180000, 2500, spectrum, wave);
  EXPECT_EQ(main.DeskLrc()->ShownText(), "第二行");
}

TEST_F(MainWindowTest, CommandsFromOtherStartsAddAndPlay) {
  WriteSavedLists(Songs(2));
  app::TNimMain& main = Create({"/l", "/added/first.mp3"});  // the own command line, handled later
  EXPECT_EQ(main.lstDefault().Count(), 2);
  ProcessEventsUntil([&main] { return main.lstDefault().Count() == 3; });
  EXPECT_EQ(main.lstDefault().Row(2).Caption, "first");
  EXPECT_TRUE(engine->Opened.empty());

  main.WMSharedCommand(app::CMD_PLAYFILE, "/added/second.mp3");
  EXPECT_EQ(LastOpened(), "/added/second.mp3");
  EXPECT_EQ(main.Shell().CurrentIndex, 3);
  main.WMSharedCommand(app::CMD_APPENDFILE, "");  // "/l" alone adds an empty entry
  EXPECT_EQ(main.lstDefault().Count(), 5);
  main.WMSharedCommand(app::CMD_PLAYFILE, "/x.mp3", 0);  // lParam 0: nothing
  EXPECT_EQ(main.lstDefault().Count(), 5);
}

TEST_F(MainWindowTest, OnlineSongListsFromAnotherProgram) {
  app::TNimMain& main = Create();
  main.Shell().Remote.MusicBaseUrl = "http://m/";
  // Items written as quoted strings, each followed by a comma, the last one too.
  main.WMSharedCommand(app::CMD_PLAYONLINE, "\"a.mp3|Title-Singer|1\",\"b.mp3|Only|2\",");
  ASSERT_EQ(main.lstDefault().Count(), 2);
  EXPECT_EQ(main.lstDefault().Row(0).Caption, "Title - Singer");
  EXPECT_EQ(main.lstDefault().Row(0).Location, "http://m/a.mp3");
  EXPECT_EQ(main.lstDefault().Row(1).Caption, "Only");
  EXPECT_EQ(LastOpened(), "http://m/a.mp3");
  EXPECT_EQ(app::TNimMain::GetField("a|b|c", 2, '|'), "b");
  EXPECT_EQ(app::TNimMain::GetField("a|b", 3, '|'), "");
  EXPECT_EQ(app::TNimMain::GetField("", 1, '|'), "");
}

// On Linux only "/" separates folders: a colon or a backslash belongs to the name.
TEST_F(MainWindowTest, NameWithoutExtCutsAtSlashesOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"/music/Re: Stacks.mp3", "Re: Stacks"},
      {"/music/AC\\DC - Back.flac", "AC\\DC - Back"},
      {"/music/no extension", "no extension"},
      {"/a.folder/song", "song"},
      {"/music/two.dots.ogg", "two.dots"},
      {"/music/.mp3", ".mp3"},
      {"relative.mp3", "relative"},
  };
  for (const auto& [path, name] : cases) EXPECT_EQ(app::TNimMain::NameWithoutExt(path), name) << path;
}

// The main menu in its order, with its submenu; the tray and the menu button show this same menu.
TEST_F(MainWindowTest, MainMenuHasItsItemsInOrder) {
  app::TNimMain& main = Create();
  QMenu* menu = main.pm_main();
  ASSERT_NE(menu, nullptr);
  const auto describe = [](QMenu* m) {
    std::vector<std::string> items;
    for (QAction* action : m->actions())
      items.push_back(action->isSeparator() ? "-" : action->objectName().toStdString() + " " + action->text().toStdString());
    return items;
  };
  EXPECT_EQ(describe(menu), (std::vector<std::string>{"pmm_tallo Tallo音乐分享平台", "-", "pmf_openfile 添加音乐",
                                                      "pmf_openfolder 添加文件夹", "-",
                                                      "pmp_play 播放/暂停", "pmp_previous 上一首", "pmp_next 下一首", "-",
                                                      "pmm_server 连接音乐服务器…", "-", " 帮助", "-", "pmm_close 退出"}));
  QMenu* help = menu->findChild<QMenu*>("pmm_help");
  ASSERT_NE(help, nullptr);
  EXPECT_EQ(describe(help), (std::vector<std::string>{"pmm_tl Tallo官方群", "pmm_yj 寻求帮助", "-", "pmm_Orvane Orvane官网"}));

  // "添加音乐" adds to the music list whichever tab is shown; "播放/暂停" plays.
  WriteSavedLists({}, Songs(2, "http://h/r"));
  main.TabControl1Change(1);
  ChosenFiles = {"/menu/a.mp3"};
  menu->findChild<QAction*>("pmf_openfile")->trigger();
  ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.Adding(); }));
  EXPECT_EQ(main.lstDefault().Count(), 1);
  EXPECT_EQ(LastOpened(), "/menu/a.mp3");
}

TEST_F(MainWindowTest, MenuItemsOpenTheirPagesAndExitSaves) {
  WriteSavedLists(Songs(1));
  app::TNimMain& main = Create();
  ::setenv("ORVANE_SIBLING_HOST", "sib.example", 1);
  ::setenv("ORVANE_HOME_HOST", "home.example", 1);
  main.pmm_talloClick();
  main.pmm_tlClick();
  main.pmm_yjClick();
  main.pmm_OrvaneClick();
  EXPECT_EQ(Urls, (std::vector<std::string>{"http://sib.example", "http://sib.example/app/group/group.aspx?gid=42",
                                            "http://sib.example/app/ask/default.aspx", "http://home.example"}));
  bool closed = false;
  QObject::connect(&main, &app::TNimMain::closeRequested, [&closed] { closed = true; });
  main.pmm_closeClick();
  EXPECT_TRUE(closed);
  EXPECT_TRUE(fs::exists(DataFolder() + "Orvane.xml"));
}

TEST_F(MainWindowTest, AnExceptionEscapingAHandlerIsDroppedAndThePlayerGoesOn) {
  app::TNimMain& main = Create();
  bool after = false;
  QTimer::singleShot(0, &main, [] { throw std::runtime_error("a handler failed"); });
  QTimer::singleShot(5, &main, [&after] { after = true; });
  EXPECT_TRUE(ProcessEventsUntil([&after] { return after; }, 2000));
}

TEST_F(MainWindowTest, MessagesCarryOutTheBlocksCommandAndClearIt) {
  WriteSavedLists(Songs(2), Songs(2, "/random/r"));
  app::TNimMain& main = Create();
  main.TabControl1Change(1);
  main.lstRndMusic().SetSelectedIndex(0);
  main.plst_listItemDblClick();
  ASSERT_EQ(main.Shell().ActiveList, 1);
  TempDir odd;
  const std::string fifo = odd.File("named.mp3");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  struct Case {
    uint8_t Code;
    std::string Text;
    int32_t LParam;
    std::string Added;  // the caption of the row the music list gains; empty for none
  };
  const Case cases[] = {
      {app::CMD_APPENDFILE, "/added/a.mp3", 1, "a"},
      {app::CMD_APPENDFILE, "/added/b.mp3", 0, ""},  // lParam 0: the block is only cleared
      {77, "/added/c.mp3", 1, ""},                   // not a command
      {app::CMD_APPENDFILE, fifo, 1, "named"},       // a FIFO's tags are not read: that would wait forever
  };
  int rows = 2;
  for (const Case& c : cases) {
    main.CommandBlock().Write(c.Code, c.Text);
    EXPECT_EQ(main.Perform({app::WM_SHAREDCOMMAND, 1, c.LParam}), 0);
    EXPECT_EQ(main.CommandBlock().Code(), 0) << c.Text;
    if (!c.Added.empty()) ++rows;
    ASSERT_EQ(main.lstDefault().Count(), rows) << c.Text;
    if (!c.Added.empty()) {
      EXPECT_EQ(main.lstDefault().Row(rows - 1).Caption, c.Added);
    }
  }
  // The additions are saved although the random list is the active one, which stays as it was.
  main.FlushListSaves();
  store::TYkPlist plist(DataFolder() + "Default.pls", "DefaultList");
  plist.Load("PlayerList");
  EXPECT_EQ(plist.Count(), 4);
  EXPECT_EQ(main.Shell().ActiveList, 1);
  EXPECT_EQ(Locations(main.TrackList()), (std::vector<std::string>{"/random/r1.mp3", "/random/r2.mp3"}));
  // The remote-control message answers as WMCMDPLAY does; other messages get 0.
  EXPECT_EQ(main.Perform({app::WM_CMDPLAY, app::CMDPLAY_COUNT, 0}), 2);
  EXPECT_EQ(main.Perform({99, 1, 1}), 0);
}

// The player's own files are added after its saved lists, all of them in order with the first
// playing; they never go through the shared block, so another start's command waiting there is
// neither overwritten nor waited for.
TEST_F(MainWindowTest, TheOwnCommandLineLeavesAHandOffUnderWayAlone) {
  TempDir runtime;
  fs::permissions(runtime.Path(), fs::perms::owner_all, fs::perm_options::replace);
  auto folder = app::TRuntimeFolder::OpenWith(runtime.Path().c_str(), runtime.Path().string(), nullptr);
  ASSERT_TRUE(folder);
  std::shared_ptr<app::TCommandBlock> shared = app::OpenSharedBlock(*folder);
  auto otherStart = app::TCommandBlock::Open(*folder, false);
  ASSERT_TRUE(shared && otherStart);
  // Another start has written its command and waits for the window's answer.
  ASSERT_TRUE(otherStart->LockForWriting(0));
  otherStart->Write(app::CMD_APPENDFILE, "/from/another/start.mp3");

  WriteSavedLists(Songs(1));
  app::TNimMainServices services = Services();
  services.CommandBlock = shared;
  window = std::make_unique<app::TNimMain>(std::move(services));
  window->FormCreate({"/own/1.mp3", "/own/2.mp3"});
  ASSERT_TRUE(ProcessEventsUntil([this] { return window->lstDefault().Count() == 3; }));
  EXPECT_EQ(LastOpened(), "/own/1.mp3");
  EXPECT_EQ(window->Shell().CurrentIndex, 1);
  EXPECT_EQ(shared->Text(), "/from/another/start.mp3");  // not overwritten
  window->Perform({app::WM_SHAREDCOMMAND, 1, 1});  // the other start's message arrives
  otherStart->UnlockForWriting();
  ASSERT_EQ(window->lstDefault().Count(), 4);
  EXPECT_EQ(window->lstDefault().Row(1).Location, "/own/1.mp3");
  EXPECT_EQ(window->lstDefault().Row(2).Location, "/own/2.mp3");
  EXPECT_EQ(window->lstDefault().Row(3).Location, "/from/another/start.mp3");

  // "/l" adds them all and plays none.
  window.reset();
  std::filesystem::remove_all(DataFolder());
  app::TNimMain& added = Create({"/l", "/own/3.mp3", "/own/4.mp3"});
  ASSERT_TRUE(ProcessEventsUntil([&added] { return added.lstDefault().Count() == 2; }));
  EXPECT_TRUE(engine->Opened.empty());
}

// Only "退出" (or the main window's own close) ends the player: a dialog opened from the tray menu
// while the window is hidden is the last window when it closes, and the songs chosen in it are
// added.
TEST_F(MainWindowTest, ADialogFromTheTrayDoesNotEndThePlayer) {
  TempDir songs;
  WriteFileBytes(songs.File("a.mp3"), "x");
  bool dialogShown = false;
  AdjustServices = [&](app::TNimMainServices& services) {
    services.ChooseFiles = [&](const std::string&) {
      // A modal dialog as the desktop's file dialog is, closed by the user.
      QDialog dialog;
      QTimer::singleShot(30, &dialog, [&dialog, &dialogShown] {
        dialogShown = dialog.isVisible();
        dialog.accept();
      });
      dialog.exec();
      return std::vector<std::string>{songs.File("a.mp3")};
    };
  };
  app::TNimMain& main = Create();
  QWindow shown;
  shown.resize(100, 100);
  shown.show();
  main.SetWindow(&shown);
  bool ended = false;
  app::EndWhenMainWindowCloses(&shown, [&ended] { ended = true; });
  main.CloseDesktopLyrics();
  ProcessEventsFor(20);
  shown.hide();  // in the tray

  // In the application's own event loop, where Qt reports the last window closed: the dialog is
  // that window, and that report must not end the player.
  int lastWindowClosed = 0;
  const auto counter = QObject::connect(qApp, &QGuiApplication::lastWindowClosed, [&] { ++lastWindowClosed; });
  QTimer::singleShot(0, &main, [&main] { main.pm_main()->findChild<QAction*>("pmf_openfile")->trigger(); });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&main] {
    if (!main.Adding() && main.lstDefault().Count() == 1) QCoreApplication::exit(0);
  });
  poll.start(20);
  QTimer giveUp;
  giveUp.setSingleShot(true);
  QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  giveUp.start(5000);
  ASSERT_EQ(QCoreApplication::exec(), 0);
  poll.stop();
  giveUp.stop();
  QObject::disconnect(counter);
  ProcessEventsFor(50);
  EXPECT_EQ(lastWindowClosed, 1);
  EXPECT_TRUE(dialogShown);
  EXPECT_FALSE(ended);
  EXPECT_EQ(LastOpened(), songs.File("a.mp3"));

  // Hiding to the tray is no close; the window manager closing the window is.
  shown.show();
  ProcessEventsFor(20);
  shown.hide();
  ProcessEventsFor(20);
  EXPECT_FALSE(ended);
  shown.show();
  ProcessEventsFor(20);
  shown.close();
  EXPECT_TRUE(ProcessEventsUntil([&ended] { return ended; }, 2000));
}

// A start without files while the player is hidden in the tray brings its window back, as the
// desktop's "Raise" does.
TEST_F(MainWindowTest, AStartWithoutFilesRestoresTheHiddenWindow) {
  app::TNimMain& main = Create();
  QWindow shown;
  shown.resize(100, 100);
  shown.show();
  main.SetWindow(&shown);
  ProcessEventsFor(20);
  shown.showMinimized();
  shown.hide();
  ProcessEventsFor(20);
  ASSERT_FALSE(shown.isVisible());
  EXPECT_EQ(main.Perform({app::WM_RESTOREPLAYER, 0, 0}), 0);
  ProcessEventsFor(20);
  EXPECT_TRUE(shown.isVisible());
  EXPECT_FALSE(shown.windowState() & Qt::WindowMinimized);
  EXPECT_EQ(main.lstDefault().Count(), 0);
}

TEST_F(MainWindowTest, TheOwnCommandLineIsNotLostToAWriterThatNeverLetsGo) {
  TempDir runtime;
  fs::permissions(runtime.Path(), fs::perms::owner_all, fs::perm_options::replace);
  auto folder = app::TRuntimeFolder::OpenWith(runtime.Path().c_str(), runtime.Path().string(), nullptr);
  ASSERT_TRUE(folder);
  std::shared_ptr<app::TCommandBlock> shared = app::OpenSharedBlock(*folder);
  auto stuckWriter = app::TCommandBlock::Open(*folder, false);
  ASSERT_TRUE(shared && stuckWriter);
  ASSERT_TRUE(stuckWriter->LockForWriting(0));
  stuckWriter->Write(app::CMD_APPENDFILE, "/stuck/writer.mp3");

  app::TNimMainServices services = Services();
  services.CommandBlock = shared;
  window = std::make_unique<app::TNimMain>(std::move(services));
  window->FormCreate({"/l", "/own.mp3"});
  // The own command is carried out without the block, which stays the stuck writer's.
  ASSERT_TRUE(ProcessEventsUntil([this] { return window->lstDefault().Count() == 1; }, app::kHandOffTimeoutMs + 5000));
  EXPECT_EQ(window->lstDefault().Row(0).Location, "/own.mp3");
  EXPECT_EQ(shared->Text(), "/stuck/writer.mp3");
}

TEST_F(MainWindowTest, SettingsReachTheDiskShortlyAfterAChange) {
  app::TNimMain& main = Create();
  for (double volume : {70.0, 71.0, 72.0}) main.tbrVChange(volume);
  main.modBoxChange(2);
  main.ApplyEffectPreset(3);
  EXPECT_FALSE(fs::exists(DataFolder() + "Orvane.xml"));
  ASSERT_TRUE(ProcessEventsUntil([] { return fs::exists(DataFolder() + "Orvane.xml"); }, 3000));
  store::TYkConfig config(DataFolder() + "Orvane.xml", "MainConfig");
  EXPECT_EQ(config.ReadInteger("Window/Volume", "Value", -1), 72);
  EXPECT_EQ(config.ReadInteger("Window/PLAY", "PATTERN", -1), 2);
  EXPECT_EQ(config.ReadInteger("Window/EQ", "ID", -1), 3);
}

}  // namespace
}  // namespace orvane::test
