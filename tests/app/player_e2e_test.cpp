// The player end to end: the main window on the real engine (SDL's silent dummy device), and the
// real program under a virtual display, photographed.
#include <QImage>
#include <QProcess>
#include <QSet>
#include <filesystem>

#include "audio/AudioEngine.h"
#include "audio/bass/ManualOutput.h"
#include "lyrics/Unt_Dlrc.h"
#include "main_window_fixture.h"
#include "program_fixture.h"
#include "store/PlaylistReader.h"
#include "support/fixture_server.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;

class PlayerEndToEndTest : public MainWindowTest {
 protected:
  void SetUp() override {
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    MainWindowTest::SetUp();
  }

  void TearDown() override {
    MainWindowTest::TearDown();
    bass::UseManualOutput(false);
  }

  app::TNimMain& CreateWithRealEngine() {
    app::TNimMainServices services = Services();
    services.CreateEngine = app::DefaultServices(services.ExecutablePath).CreateEngine;
    // The plug-ins' view of each event: its code and the length it carried, in ms.
    services.BroadcastToPlugins = [this](int32_t event, const app::TTrackEvent& track) {
      PluginLengths.emplace_back(event, std::lround(track.LengthDays * 86400000.0));
    };
    window = std::make_unique<app::TNimMain>(std::move(services));
    window->FormCreate();
    return *window;
  }

  // From here on the engine plays only what the test pulls, frame for frame (before the window).
  static void UseManualOutput() { bass::UseManualOutput(true); }
  // The next frames the sound card gets; interleaved stereo.
  static std::vector<float> Pull(size_t frames) {
    std::vector<float> block(2 * frames);
    EXPECT_TRUE(bass::PullOutput(block.data(), frames));
    return block;
  }
  bool WaitUntilPlaying() {
    return ProcessEventsUntil([this] { return window->Engine()->State() == audio::StatePlaying; });
  }

  std::vector<std::pair<int32_t, long>> PluginLengths;
};

// A stereo sine of the given amplitude as float WAV: what is heard can be measured exactly.
std::string MakeSine(const TempDir& dir, const std::string& name, double amplitude, double seconds) {
  const std::string path = dir.File(name);
  QProcess ffmpeg;
  ffmpeg.start("ffmpeg", {"-loglevel", "error", "-y", "-f", "lavfi", "-i",
                          QString("aevalsrc=%1*sin(2*PI*1000*t):s=44100:d=%2").arg(amplitude).arg(seconds), "-ac",
                          "2", "-c:a", "pcm_f32le", QString::fromStdString(path)});
  return ffmpeg.waitForFinished(30000) && ffmpeg.exitCode() == 0 ? path : std::string();
}

float Peak(const std::vector<float>& samples) {
  float peak = 0;
  for (float v : samples) peak = std::max(peak, std::fabs(v));
  return peak;
}

// However a song starts, its first frames are heard at the set volume, not at full gain gliding
// down to it.
TEST_F(PlayerEndToEndTest, EverySongStartsAtTheSetVolume) {
  TempDir songs;
  std::vector<Song> list;
  for (const char* name : {"a", "b", "c"}) {
    const std::string path = MakeSine(songs, std::string(name) + ".wav", 0.8, 1);
    ASSERT_FALSE(path.empty());
    list.push_back({name, "", path});
  }
  WriteSavedLists(list);
  UseManualOutput();
  app::TNimMain& main = CreateWithRealEngine();
  main.tbrVChange(10);
  struct Start {
    const char* name;
    std::function<void()> act;
    int row;
  };
  const Start starts[] = {
      {"play", [&] { main.btn_playClick(); }, 0},
      {"next", [&] { main.btn_nextClick(); }, 1},
      {"previous", [&] { main.btn_previousClick(); }, 0},
      {"double-click", [&] {
         main.lstDefault().SetSelectedIndex(2);
         main.plst_listItemDblClick();
       }, 2},
  };
  for (const Start& start : starts) {
    SCOPED_TRACE(start.name);
    start.act();
    ASSERT_TRUE(WaitUntilPlaying());
    EXPECT_EQ(main.Shell().CurrentIndex, start.row);
    const float first = Peak(Pull(882));  // the first 20 ms
    Pull(4410);
    const float steady = Peak(Pull(882));  // 20 ms at 0.12 s, when every glide is over
    EXPECT_NEAR(steady, 0.8f * 0.1f, 0.8f * 0.1f * 0.5f) << "heard at the set volume (and the preset)";
    EXPECT_LE(first, steady * 1.02f);
    EXPECT_GE(first, steady * 0.9f) << "heard from the first frame";
  }
}

// Event 109 at a song's natural end carries the length of the song that ended, also when the next
// song has already been asked for.
TEST_F(PlayerEndToEndTest, TrackEndedEventCarriesTheEndedSongsLength) {
  TempDir songs;
  const std::string first = MakeSine(songs, "first.wav", 0.5, 0.4);
  const std::string second = MakeSine(songs, "second.wav", 0.5, 1.5);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  WriteSavedLists({{"first", "", first}, {"second", "", second}});
  UseManualOutput();
  app::TNimMain& main = CreateWithRealEngine();
  main.btn_playClick();
  ASSERT_TRUE(WaitUntilPlaying());
  PluginLengths.clear();
  for (int periods = 0; main.Shell().CurrentIndex == 0; ++periods) {
    ASSERT_LT(periods, 100) << "the first song did not end";
    Pull(1024);
    QCoreApplication::processEvents();
  }
  const auto ended = std::find_if(PluginLengths.begin(), PluginLengths.end(),
                                  [](const auto& e) { return e.first == PLUGIN_TRACKENDED; });
  ASSERT_NE(ended, PluginLengths.end());
  EXPECT_EQ(ended->second, 400);
  ASSERT_TRUE(WaitUntilPlaying());
  EXPECT_EQ(PluginLengths.back(), std::make_pair(int32_t{PLUGIN_TRACKSTARTED}, 1500L));
}

TEST_F(PlayerEndToEndTest, PlaysASongWithItsLyricToTheEnd) {
  TempDir songs;
  const std::string song = MakeTone(songs, "tone.mp3", 1.5);
  ASSERT_FALSE(song.empty());
  WriteFileBytes(songs.File("tone.lrc"), "[00:00.20]开始\r\n[00:01.00]结束\r\n");
  app::TNimMain& main = CreateWithRealEngine();
  ASSERT_NE(main.Engine(), nullptr);

  main.WMSharedCommand(app::CMD_PLAYFILE, song);
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.Engine()->State() == audio::StatePlaying; }));
  EXPECT_EQ(main.lstDefault().Row(0).Caption, "标题 - 歌手");  // tags read through the engine
  EXPECT_EQ(main.TitleText().toStdString(), "标题 - 歌手");
  EXPECT_NEAR(main.SeekMaximum(), 1500, 60);
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.LrcDoc().Document().Count() == 3; }));
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.DeskLrc()->ShownText() == "开始"; }, 3000));
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.Engine()->State() == audio::StateEnded; }, 5000));
  // Normal mode, last song: nothing more starts; the lyric is down to its closing line.
  ProcessEventsFor(200);
  EXPECT_EQ(main.Engine()->State(), audio::StateEnded);
  EXPECT_EQ(main.LrcDoc().Document().Count(), 1);
}

// Names that are not UTF-8 (GBK from a Windows zip, Latin-1 from an old disk): dropped onto the
// list, saved, read back by both readers and by a new start, and played by the audio library.
TEST_F(PlayerEndToEndTest, SongsWhoseNamesAreNotTextPlayAfterARestart) {
  TempDir songs;
  const std::string tone = MakeTone(songs, "tone.mp3", 1);
  ASSERT_FALSE(tone.empty());
  // In the order the list adds them (path order).
  const std::string names[] = {"Caf\xE9 d\xE9j\xE0.mp3", "\xC4\xE3\xBA\xC3.mp3"};
  std::vector<std::string> paths;
  QList<QUrl> dropped;
  for (const std::string& name : names) {
    const std::string path = songs.Path().string() + "/" + name;
    fs::copy_file(tone, fs::path(path));
    paths.push_back(path);
    dropped.push_back(QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/")));
  }
  {
    app::TNimMain& main = CreateWithRealEngine();
    main.lstDefaultDragDrop(dropped);
    ASSERT_TRUE(ProcessEventsUntil([&main] { return main.lstDefault().Count() == 2 && !main.Adding(); }));
    main.FormClose();
    window.reset();
  }
  std::vector<std::vector<store::TPList>> streamed;
  ASSERT_TRUE(store::ReadPlaylistLists(DataFolder() + "Default.pls", {"PlayerList"}, streamed));
  store::TYkPlist plist(DataFolder() + "Default.pls", "DefaultList");
  plist.Load("PlayerList");
  ASSERT_EQ(streamed[0].size(), 2u);
  ASSERT_EQ(plist.Count(), 2);
  app::TNimMain& main = CreateWithRealEngine();
  ASSERT_EQ(main.lstDefault().Count(), 2);
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(streamed[0][static_cast<size_t>(i)].Path, paths[static_cast<size_t>(i)]);
    EXPECT_EQ(plist.Item(i)->Path, paths[static_cast<size_t>(i)]);
    EXPECT_EQ(main.lstDefault().Item(i).Location, paths[static_cast<size_t>(i)]);
    main.lstDefault().SetSelectedIndex(i);
    main.plst_listItemDblClick();
    EXPECT_TRUE(ProcessEventsUntil([&main] { return main.Engine()->State() == audio::StatePlaying; }));
    main.Engine()->Stop();
  }
}

TEST_F(PlayerEndToEndTest, AMissingSongFailsAndIsSkipped) {
  TempDir songs;
  const std::string good = MakeTone(songs, "good.mp3", 3);
  ASSERT_FALSE(good.empty());
  WriteSavedLists({{"missing", "", songs.File("missing.mp3")}, {"good", "", good}});
  app::TNimMain& main = CreateWithRealEngine();
  main.btn_playClick();
  // The missing file is tried as a URL too, fails, and one second later the next song plays.
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.tmr_lanerr().isActive(); }));
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.Engine()->State() == audio::StatePlaying; }, 5000));
  EXPECT_EQ(main.Shell().CurrentIndex, 1);
}

// Next lands on the song after the current one and plays it, however quickly the commands come
// and whether or not the song being left is still connecting; no skip follows a second later.
TEST_F(PlayerEndToEndTest, NextPlaysTheNextSongAtOnceAndNothingElse) {
  TempDir songs;
  FixtureServer server;
  FixtureReply connecting = FixtureReply::File(MakeSine(songs, "online.wav", 0.5, 1));
  connecting.delayMs = 5000;  // still connecting while the test runs
  server.Serve("/online.wav", connecting);
  std::vector<Song> local;
  for (const char* name : {"a", "b", "c", "d", "e"}) local.push_back({name, "", MakeSine(songs, std::string(name) + ".wav", 0.5, 3)});
  struct Case {
    const char* name;
    std::vector<Song> list;
    int nexts;
    bool waitForConnecting;  // after the first Next
  };
  const Case cases[] = {
      {"three next commands at once", local, 3, false},
      {"next while the next song connects", {local[0], {"online", "", server.Url("/online.wav")}, local[1]}, 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window.reset();
    std::filesystem::remove_all(DataFolder());
    WriteSavedLists(c.list);
    app::TNimMain& main = CreateWithRealEngine();
    main.btn_playClick();
    ASSERT_TRUE(WaitUntilPlaying());
    for (int i = 0; i < c.nexts; ++i) {
      main.btn_nextClick();
      if (i == 0 && c.waitForConnecting) {
        ASSERT_TRUE(ProcessEventsUntil([&main] { return main.Engine()->State() == audio::StateConnecting; }));
      }
    }
    ASSERT_TRUE(ProcessEventsUntil([&main] { return main.Engine()->State() == audio::StatePlaying; }, 2000));
    ProcessEventsFor(1300);  // past the error rule's second
    EXPECT_EQ(main.Shell().CurrentIndex, c.nexts);
    EXPECT_EQ(main.Engine()->State(), audio::StatePlaying);
    EXPECT_FALSE(main.tmr_lanerr().isActive());
  }
}

// The real program under Xvfb with the demo song: its screenshots of the main window, the settings
// page and the mini tile are not blank.
TEST(PlayerProgram, ScreenshotOfTheMainWindowIsNotBlank) {
  if (QProcess::execute("sh", {"-c", "command -v xvfb-run >/dev/null"}) != 0) GTEST_SKIP() << "no xvfb-run";
  TempDir shots;
  const std::string bin = ORVANE_BIN_DIR;
  QProcess player;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("SDL_AUDIODRIVER", "dummy");
  env.remove("QT_QPA_PLATFORM");
  // In the sanitizer build the whole program's exit would report Qt's own caches as leaks; the
  // program's parts are leak-checked in process by the other tests.
  env.insert("ASAN_OPTIONS", "detect_leaks=0");
  player.setProcessEnvironment(env);
  player.setProcessChannelMode(QProcess::ForwardedChannels);
  player.start("xvfb-run", {"-a", "-s", "-screen 0 1280x1024x24 -nolisten tcp", QString::fromStdString(bin + "/orvane"),
                            "--screenshots", QString::fromStdString(shots.Path().string()), "--screenshot-delay",
                            "2500", QString::fromStdString(bin + "/demo/Orvane演示曲.mp3")});
  ASSERT_TRUE(player.waitForFinished(60000));
  EXPECT_EQ(player.exitCode(), 0);

  const QImage main(QString::fromStdString(shots.File("orvane-main.png")));
  ASSERT_FALSE(main.isNull());
  EXPECT_EQ(main.size(), QSize(290, 418));
  QSet<QRgb> colours;
  for (int y = 0; y < main.height(); y += 3)
    for (int x = 0; x < main.width(); x += 3) colours.insert(main.pixel(x, y));
  EXPECT_GT(colours.size(), 50);
  // The face is the dark-blue gradient.
  const QColor face = main.pixelColor(145, 300);
  EXPECT_GT(face.blue(), face.red());
  EXPECT_FALSE(QImage(QString::fromStdString(shots.File("orvane-lyrics.png"))).isNull());
  // The settings page and the mini tile, each after its animation.
  const QImage settings(QString::fromStdString(shots.File("orvane-settings.png")));
  ASSERT_FALSE(settings.isNull());
  const QColor page = settings.pixelColor(145, 300);  // inside the page, below the controls
  EXPECT_GT(page.blue(), page.red());
  const QImage mini(QString::fromStdString(shots.File("orvane-mini.png")));
  EXPECT_EQ(mini.size(), QSize(150, 100));
}

// A window's transparent pixels show black on a desktop without a compositor. The settings page,
// the settings flip and the lyric toolbar leave the desktop (white here) visible around them, with
// a compositor and without one.
TEST(PlayerProgram, TheFacesShowNoBlackBoxWithOrWithoutACompositor) {
  if (QProcess::execute("sh", {"-c", "command -v xvfb-run >/dev/null"}) != 0) GTEST_SKIP() << "no xvfb-run";
  const bool haveCompositor = QProcess::execute("sh", {"-c", "command -v xcompmgr >/dev/null"}) == 0;
  const std::string bin = ORVANE_BIN_DIR;
  for (const bool compositor : {false, true}) {
    if (compositor && !haveCompositor) continue;
    SCOPED_TRACE(compositor ? "with a compositor" : "without a compositor");
    TempDir shots;
    QProcess player;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SDL_AUDIODRIVER", "dummy");
    env.insert("ORVANE_SCREENSHOT_SCREEN", "1");
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    env.remove("QT_QPA_PLATFORM");
    player.setProcessEnvironment(env);
    player.setProcessChannelMode(QProcess::ForwardedChannels);
    // The compositor, when there is one, starts with the display and goes with it.
    const QString start = compositor ? "xcompmgr & sleep 0.5; exec \"$0\" \"$@\"" : "exec \"$0\" \"$@\"";
    player.start("xvfb-run", {"-a", "-s", "-screen 0 1280x1024x24 -nolisten tcp -wr", "sh", "-c", start,
                              QString::fromStdString(bin + "/orvane"), "--screenshots",
                              QString::fromStdString(shots.Path().string()), "--screenshot-delay", "2500",
                              QString::fromStdString(bin + "/demo/Orvane演示曲.mp3")});
    ASSERT_TRUE(player.waitForFinished(60000));
    EXPECT_EQ(player.exitCode(), 0);
    const auto desktopShows = [](const QImage& image, QPoint at) {
      return !image.isNull() && image.rect().contains(at) && qGray(image.pixel(at)) > 100;
    };

    const QImage settings(QString::fromStdString(shots.File("orvane-settings-screen.png")));
    ASSERT_EQ(settings.size(), QSize(290, 418));
    // Above the page and beside it; the page itself is its dark blue.
    for (const QPoint at : {QPoint(3, 3), QPoint(145, 40), QPoint(8, 200), QPoint(282, 410)})
      EXPECT_TRUE(desktopShows(settings, at)) << at.x() << "," << at.y();
    const QColor page = settings.pixelColor(145, 300);
    EXPECT_GT(page.blue(), page.red());
    EXPECT_LT(qGray(page.rgb()), 100);

    // Turning, the face is narrower than the window: its sides show the desktop.
    const QImage flip(QString::fromStdString(shots.File("orvane-flip-screen.png")));
    for (const QPoint at : {QPoint(3, 3), QPoint(3, 209), QPoint(286, 209)})
      EXPECT_TRUE(desktopShows(flip, at)) << at.x() << "," << at.y();

    // Below the toolbar's strip, over the lyric, the lyric and the desktop show.
    const QImage toolbar(QString::fromStdString(shots.File("orvane-toolbar-screen.png")));
    ASSERT_FALSE(toolbar.isNull());
    EXPECT_TRUE(desktopShows(toolbar, QPoint(3, toolbar.height() - 3)));
    EXPECT_TRUE(desktopShows(toolbar, QPoint(3, 3)));
  }
}

// A desktop session that ends sends SIGTERM: the player saves its settings and list as "退出" does.
TEST(PlayerProgram, TerminationSavesSettingsAndList) {
  QProcess player;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("SDL_AUDIODRIVER", "dummy");
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("ASAN_OPTIONS", "detect_leaks=0");
  player.setProcessEnvironment(env);
  player.start(QString::fromStdString(std::string(ORVANE_BIN_DIR) + "/orvane"), {"/l", "/songs/kept.mp3"});
  ASSERT_TRUE(player.waitForStarted(10000));
  const std::string list = DataFolder() + "Default.pls";
  // The own command line is handled once the window runs; its save writes the list.
  QDeadlineTimer deadline(20000);
  while (!fs::exists(list) && !deadline.hasExpired()) QThread::msleep(50);
  ASSERT_TRUE(fs::exists(list));
  EXPECT_FALSE(fs::exists(DataFolder() + "Orvane.xml"));
  player.terminate();
  ASSERT_TRUE(player.waitForFinished(10000));
  EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
  EXPECT_TRUE(fs::exists(DataFolder() + "Orvane.xml"));
  EXPECT_NE(ReadFileBytes(list).find("/songs/kept.mp3"), std::string::npos);
}

}  // namespace
}  // namespace orvane::test
