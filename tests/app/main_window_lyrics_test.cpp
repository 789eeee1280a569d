// The main window's desktop lyrics: the toolbar's buttons, the "显示歌词" switch, lyrics from the
// provider without a product server, a late lyric that must not land on the next song, the karaoke
// wipe's setting and timer, and the search dialog for the playing track.
#include <QMouseEvent>
#include <QQuickWindow>
#include <QtTest/QTest>
#include <filesystem>
#include <functional>

#include "lyrics/Unt_Dlrc.h"
#include "lyrics/Unt_DlrcButton.h"
#include "lyrics/Unt_Slrc.h"
#include "main_window_fixture.h"
#include "store/UYmXMLCFG.h"
#include "support/fixture_server.h"
#include "support/temp_dir.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;

void Ticks(app::TNimMain& main, int32_t positionMs, int count = 1) {
  audio::TSpectrumData spectrum{};
  audio::TWaveData wave{};
  for (int i = 0; i < count; ++i) main.EngineTick(audio::StatePlaying, 180000, positionMs, spectrum, wave);
}

std::vector<std::string> LyricLines(app::TNimMain& main) {
  std::vector<std::string> out;
  for (const auto& item : main.LrcDoc().Document().Items()) out.push_back(item.Text);
  return out;
}

std::string SavedSetting(const char* name) {
  store::TYkConfig config(DataFolder() + "Orvane.xml", "MainConfig");
  return config.ReadString("Window/DESKTOPLRC", name, "?");
}

FixtureReply Json(const std::string& body, int delayMs = 0) {
  FixtureReply reply = FixtureReply::Text(body, "application/json");
  reply.delayMs = delayMs;
  return reply;
}

class MainWindowLyricsTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    fs::remove_all(DataFolder());  // every test starts from a first run
    ::setenv("ORVANE_LYRICS_URL", provider.BaseUrl().c_str(), 1);
    ::setenv("ORVANE_LYRICS_TIMEOUT_MS", "3000", 1);
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    ::setenv("ORVANE_LYRICS_URL", "http://127.0.0.1:9", 1);  // as every test starts
    ::unsetenv("ORVANE_LYRICS_TIMEOUT_MS");
  }

  // The provider knows song name's lyric "words of name" (id), after delayMs.
  void ProvideLyric(const std::string& name, int id, int delayMs = 0) {
    provider.Serve("/api/search?track_name=" + name + "&artist_name=S",
                   Json(R"([{"id": )" + std::to_string(id) + R"(, "trackName": ")" + name + R"(", "artistName": "S"}])"));
    provider.Serve("/api/get/" + std::to_string(id),
                   Json(R"({"syncedLyrics": "[00:01.00]words of )" + name + R"("})", delayMs));
  }

  bool WaitForLookup(app::TNimMain& main) {
    return ProcessEventsUntil([&main] { return !main.LyricLookupRunning(); });
  }

  FixtureServer provider;
};

TEST_F(MainWindowLyricsTest, ToolbarShiftsTheTimingAndClosesTheDesktopLyrics) {
  WriteSavedLists(Songs(1));
  app::TNimMain& main = Create();
  PlayRow(0);
  WaitForLookup(main);
  main.LrcDoc().Load("[00:01.00]一\r\n[00:02.00]二\r\n[00:03.00]三\r\n");
  lyrics::TNimDlrcButton& bar = *main.DlrcButton();
  engine->Position = 2500;
  Ticks(main, 2500);
  EXPECT_EQ(main.DeskLrc()->ShownText(), "二");

  // Twice half a second back: every line comes one second later.
  bar.btn_b5Click();
  bar.btn_b5Click();
  Ticks(main, 2500);
  EXPECT_EQ(main.DeskLrc()->ShownText(), "一");
  engine->Position = 3500;
  Ticks(main, 3500);
  EXPECT_EQ(main.DeskLrc()->ShownText(), "二");
  bar.btn_f5Click();
  bar.btn_f5Click();
  Ticks(main, 3500);
  EXPECT_EQ(main.DeskLrc()->ShownText(), "三");

  // The pointer over the lyric shows the toolbar.
  QMouseEvent move(QEvent::MouseMove, QPointF(600, 20), QPointF(600, 20), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(main.DeskLrc(), &move);
  EXPECT_TRUE(bar.IsVisible());

  // Closing unchecks "显示歌词", hides both windows, stops the refresh and is saved soon after.
  int changes = 0;
  QObject::connect(&main, &app::TNimMain::showLrcChanged, [&changes] { ++changes; });
  bar.btn_closeClick();
  EXPECT_FALSE(main.chkShowLrc());
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(main.DeskLrc()->isVisible());
  EXPECT_FALSE(bar.IsVisible());
  const int draws = main.DeskLrc()->DrawCount();
  engine->Position = 1500;
  Ticks(main, 1500);
  EXPECT_EQ(main.DeskLrc()->DrawCount(), draws);
  ASSERT_TRUE(ProcessEventsUntil([] { return SavedSetting("SHOW") == "0"; }, 3000));

  // Checking it again shows the window.
  main.btn_lrcClick();
  EXPECT_TRUE(main.chkShowLrc());
  EXPECT_TRUE(main.DeskLrc()->isVisible());
  EXPECT_EQ(changes, 2);
}

TEST_F(MainWindowLyricsTest, ProviderLyricsNeedNoProductServer) {
  WriteSavedLists({{"A", "S", "/music/a.mp3"}, {"B", "S", "/music/b.mp3"}});
  ProvideLyric("A", 1);
  ProvideLyric("B", 2);
  app::TNimMain& main = Create();
  ASSERT_FALSE(main.Shell().Remote.OnlineFlag);
  PlayRow(0);
  ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.LyricLookupRunning() && main.LrcDoc().Document().Count() > 1; }));
  EXPECT_EQ(LyricLines(main), (std::vector<std::string>{"words of A", std::string(lyrics::TLrcClass::kClosingLineText)}));
  EXPECT_EQ(ReadFileBytes(main.Shell().LyricFolder + "A S.lrc"), "[00:01.00]words of A\r\n");
  for (const auto& request : provider.Requests()) EXPECT_EQ(request.method, "GET");  // nothing posted

  // "Online lyrics" off: the provider is not asked.
  provider.ClearRequests();
  main.Shell().OnlineLrc = false;
  PlayRow(1);
  WaitForLookup(main);
  EXPECT_TRUE(provider.Requests().empty());
  EXPECT_EQ(LyricLines(main), std::vector<std::string>{std::string(lyrics::TLrcClass::kClosingLineText)});
}

// Song A's lyric is slow to come. Before it does, the player moves on in one of three ways; A's
// lyric must then be neither shown nor saved, and the song playing next gets its own.
TEST_F(MainWindowLyricsTest, ALateLyricNeverLandsOnTheNextSong) {
  struct Case {
    const char* name;
    std::function<void(app::TNimMain&, FakeEngine&)> moveOn;
    std::function<void(app::TNimMain&, FakeEngine&)> playNext;  // how the next song comes to play
    const char* next;                                          // its name, or null when none plays
  };
  const Case cases[] = {
      {"next onto a stream still connecting",
       [](app::TNimMain& main, FakeEngine& engine) {
         engine.HoldOpens = true;
         main.btn_nextClick();
         EXPECT_EQ(engine.State(), audio::StateConnecting);
         EXPECT_EQ(main.DeskLrc()->ShownText(), "...");  // A's lyric is not shown for B either
       },
       [](app::TNimMain&, FakeEngine& engine) { engine.CompleteHeldOpen(); }, "B"},
      {"next onto a song that fails to open",
       [](app::TNimMain& main, FakeEngine& engine) {
         engine.FailOpens = true;
         main.btn_nextClick();
       },
       [](app::TNimMain& main, FakeEngine& engine) {
         engine.FailOpens = false;
         ASSERT_TRUE(ProcessEventsUntil([&main] { return main.Shell().CurrentIndex == 2; }, 3000));
       },
       "C"},
      {"the playing row deleted",
       [](app::TNimMain& main, FakeEngine&) {
         main.lstDefault().SetSelectedIndex(0);
         main.pmdel_delselectClick();
       },
       nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteSavedLists({{"A", "S", "/music/a.mp3"}, {"B", "S", "http://127.0.0.1:9/b.mp3"}, {"C", "S", "/music/c.mp3"}});
    ProvideLyric("A", 1, 400);
    ProvideLyric("B", 2);
    ProvideLyric("C", 3);
    app::TNimMain& main = Create();
    PlayRow(0);
    ASSERT_TRUE(main.LyricLookupRunning());
    c.moveOn(main, *engine);
    ASSERT_TRUE(WaitForLookup(main));
    EXPECT_EQ(main.LrcDoc().Document().Count(), 0);
    EXPECT_FALSE(fs::exists(main.Shell().LyricFolder + "A S.lrc"));
    EXPECT_FALSE(fs::exists(main.Shell().LyricFolder + "B S.lrc"));

    if (c.playNext) {
      c.playNext(main, *engine);
      const std::string words = std::string("words of ") + c.next;
      ASSERT_TRUE(ProcessEventsUntil([&] { return !main.LrcDoc().Document().Items().empty() &&
                                                  main.LrcDoc().Document().Items()[0].Text == words; }));
      EXPECT_EQ(ReadFileBytes(main.Shell().LyricFolder + c.next + " S.lrc"), "[00:01.00]" + words + "\r\n");
    }
    window.reset();
    fs::remove_all(DataFolder());
  }
}

// A lyric beside the song is found whatever the letter case of its name, so the network is not
// asked and no placeholder is left for the song.
TEST_F(MainWindowLyricsTest, ALyricBesideTheSongMatchesInAnyLetterCase) {
  TempDir music;
  test::WriteFileBytes(music.Path() / "Song.mp3", "audio");
  test::WriteFileBytes(music.Path() / "song.LRC", "[00:01.00]beside the song\n");
  WriteSavedLists({{"Title", "Singer", music.File("Song.mp3")}});
  app::TNimMain& main = Create();
  PlayRow(0);
  ASSERT_TRUE(WaitForLookup(main));
  EXPECT_EQ(LyricLines(main), (std::vector<std::string>{"beside the song", std::string(lyrics::TLrcClass::kClosingLineText)}));
  EXPECT_EQ(main.DeskLrc()->ShownText(), "beside the song");
  EXPECT_TRUE(provider.Requests().empty());
  EXPECT_TRUE(fs::is_empty(main.Shell().LyricFolder));
}

// Song A's download hangs on a server that does not answer. Songs played meanwhile whose lyric is
// on disk, beside the song or in the lyric folder, show it at once, not after A's download.
TEST_F(MainWindowLyricsTest, ALyricOnDiskShowsWhileAnotherSongsDownloadHangs) {
  ::setenv("ORVANE_LYRICS_TIMEOUT_MS", "2000", 1);
  TempDir music;
  test::WriteFileBytes(music.Path() / "b.mp3", "audio");
  test::WriteFileBytes(music.Path() / "b.lrc", "[00:00.50]words of B\n");
  WriteSavedLists({{"A", "S", "/music/a.mp3"}, {"B", "S", music.File("b.mp3")}, {"C", "S", "/music/c.mp3"}});
  FixtureReply hanging = Json("[]");
  hanging.delayMs = 10000;
  provider.Serve("/api/search?track_name=A&artist_name=S", hanging);
  app::TNimMain& main = Create();
  // C's lyric in the lyric folder is an instrumental's.
  test::WriteFileBytes(main.Shell().LyricFolder + "C S.lrc", lyrics::TLrcClass::InstrumentalLyric());

  PlayRow(0);
  ASSERT_TRUE(ProcessEventsUntil([this] { return !provider.Requests().empty(); }));  // A's download is under way
  const std::pair<int, const char*> onDisk[] = {{1, "words of B"}, {2, "纯音乐，请欣赏"}};
  for (const auto& [row, line] : onDisk) {
    SCOPED_TRACE(line);
    PlayRow(row);
    ASSERT_TRUE(ProcessEventsUntil([&main, line = line] { return main.DeskLrc()->ShownText() == line; }, 1500));
    EXPECT_TRUE(main.LyricLookupRunning());  // A's download still hangs
  }
  ASSERT_TRUE(WaitForLookup(main));
  EXPECT_EQ(main.DeskLrc()->ShownText(), "纯音乐，请欣赏");  // A's late end changed nothing
  EXPECT_FALSE(fs::exists(main.Shell().LyricFolder + "A S.lrc"));
}

// A bilingual lyric's original and translation share a stamp: both show on the desktop line when
// they fit its width, else the original.
TEST_F(MainWindowLyricsTest, LinesSharingAStampShareTheDesktopLineWhenTheyFit) {
  WriteSavedLists(Songs(1));
  app::TNimMain& main = Create();
  PlayRow(0);
  WaitForLookup(main);
  const std::string longLine(200, 'w');
  main.LrcDoc().Load("[00:01.00]Hello\r\n[00:01.00]你好\r\n[00:02.00]" + longLine + "\r\n[00:02.00]很长\r\n");
  engine->Position = 1500;
  Ticks(main, 1500);
  EXPECT_EQ(main.DeskLrc()->ShownText(), "Hello  你好");
  engine->Position = 2500;
  Ticks(main, 2500);
  EXPECT_EQ(main.DeskLrc()->ShownText(), longLine);
}

TEST_F(MainWindowLyricsTest, KaraokeWipeIsASavedSettingAndMovesOnlyWhileALineIsSung) {
  fs::create_directories(DataFolder());
  {
    store::TYkConfig config(DataFolder() + "Orvane.xml", "MainConfig");
    config.WriteBool("Window/DESKTOPLRC", "KARAOKE", true);
  }
  WriteSavedLists(Songs(1));
  app::TNimMain& main = Create();
  EXPECT_TRUE(main.Karaoke());
  EXPECT_TRUE(main.DeskLrc()->Karaoke());
  PlayRow(0);
  WaitForLookup(main);
  main.LrcDoc().Load("[00:01.00]一二三\r\n[00:05.00]四五六\r\n");
  engine->Position = 2000;
  Ticks(main, 2000);
  EXPECT_TRUE(main.DeskLrc()->Wiping());
  EXPECT_TRUE(main.tmr_karaoke().isActive());
  EXPECT_LE(main.tmr_karaoke().interval(), 40);  // 25 or more steps a second

  // The timer's steps follow the position.
  const int before = main.DeskLrc()->WipeBoundary().X;
  engine->Position = 3000;
  ASSERT_TRUE(ProcessEventsUntil([&] { return main.DeskLrc()->WipeBoundary().X > before; }, 3000));

  main.btn_playClick();  // pause
  EXPECT_FALSE(main.tmr_karaoke().isActive());
  main.btn_playClick();  // resume: a new lookup starts, the wipe comes back with the next refresh
  WaitForLookup(main);
  main.LrcDoc().Load("[00:01.00]一二三\r\n[00:05.00]四五六\r\n");
  Ticks(main, 3000);
  EXPECT_TRUE(main.tmr_karaoke().isActive());

  // The toolbar's button turns it off, and the setting is saved.
  main.DlrcButton()->btn_karaokeClick();
  EXPECT_FALSE(main.Karaoke());
  EXPECT_FALSE(main.DlrcButton()->Karaoke());
  EXPECT_FALSE(main.tmr_karaoke().isActive());
  ASSERT_TRUE(ProcessEventsUntil([] { return SavedSetting("KARAOKE") == "0"; }, 3000));
}

TEST_F(MainWindowLyricsTest, SearchDialogOpensForThePlayingTrack) {
  Create().DlrcButton()->btn_shClick();
  EXPECT_EQ(window->SearchDialog(), nullptr);  // no track: no dialog
  window.reset();

  WriteSavedLists({{"晴天", "周杰伦", "/music/a.mp3"}});
  app::TNimMain& main = Create();
  PlayRow(0);
  main.DlrcButton()->btn_shClick();
  lyrics::TNimSlrc* dialog = main.SearchDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->Title(), "晴天");
  EXPECT_EQ(dialog->Singer(), "周杰伦");
  ASSERT_NE(dialog->Window(), nullptr);
  EXPECT_TRUE(dialog->Window()->isVisible());
  main.OpenLyricSearch();  // a second click brings the same dialog forward
  EXPECT_EQ(main.SearchDialog(), dialog);

  dialog->CloseButton1Click();
  EXPECT_EQ(main.SearchDialog(), nullptr);
  ProcessEventsFor(20);
  main.OpenLyricSearch();  // and once closed, a new one opens
  EXPECT_NE(main.SearchDialog(), nullptr);
}

}  // namespace
}  // namespace orvane::test
