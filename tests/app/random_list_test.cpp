// The random tab for everyone: its sources (the product's server, the user's music server, the
// Music folder), a fetch that brings nothing, server songs stored without credentials and opened
// with fresh ones, scrobbles, the server's synced lyrics and the dialog "连接音乐服务器".
#include <sys/stat.h>

#include <QAction>
#include <QCryptographicHash>
#include <QMenu>
#include <QQuickItem>
#include <QProcess>
#include <QQuickWindow>
#include <filesystem>
#include <set>

#include "app/MusicServerLink.h"
#include "app/Unt_MusicServer.h"
#include "main_window_fixture.h"
#include "net/MusicServer.h"
#include "net/MusicServerSecret.h"
#include "net/UYmUrl.h"
#include "support/fixture_server.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPassword = "pa55 word";

FixtureReply ServerOk(const std::string& inner, const std::string& root = "") {
  return FixtureReply::Text("<subsonic-response xmlns=\"http://subsonic.org/restapi\" status=\"ok\" version=\"1.16.1\"" +
                                root + ">" + inner + "</subsonic-response>",
                            "text/xml");
}

FixtureReply ServerFailed(int code, const std::string& message) {
  return FixtureReply::Text("<subsonic-response status=\"failed\" version=\"1.16.1\"><error code=\"" +
                                std::to_string(code) + "\" message=\"" + message + "\"/></subsonic-response>",
                            "text/xml");
}

// A music server that knows alice with kPassword (token login) and holds two songs.
void ServeMusicServer(FixtureServer& server, const std::string& root = "") {
  server.Serve("/rest/ping.view", ServerOk("", root));
  server.Serve("/rest/getRandomSongs.view",
               ServerOk("<randomSongs><song id=\"s1\" title=\"第一首\" artist=\"歌手\" duration=\"2\"/>"
                      "<song id=\"s2\" title=\"Second\" artist=\"\" duration=\"200\"/></randomSongs>",
                      root));
  server.Serve("/rest/scrobble.view", ServerOk("", root));
}

std::map<std::string, std::string> Query(const std::string& target) {
  std::map<std::string, std::string> values;
  const size_t q = target.find('?');
  for (size_t start = q == std::string::npos ? target.size() : q + 1; start < target.size();) {
    const size_t end = std::min(target.find('&', start), target.size());
    const std::string pair = target.substr(start, end - start);
    const size_t eq = pair.find('=');
    if (eq != std::string::npos) values[pair.substr(0, eq)] = net::DecodeUrlValue(pair.substr(eq + 1));
    start = end + 1;
  }
  return values;
}

std::vector<std::string> Scrobbles(FixtureServer& server) {
  std::vector<std::string> out;
  for (const RecordedRequest& request : server.Requests())
    if (request.Path() == "/rest/scrobble.view")
      out.push_back(Query(request.target).at("id") + " " + Query(request.target).at("submission"));
  return out;
}

// A short tone as mp3, with a title tag when one is given.
void WriteTone(const fs::path& file, const QString& title = {}) {
  QStringList arguments{"-loglevel", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=0.3"};
  if (!title.isEmpty()) arguments << "-metadata" << "title=" + title;
  QProcess ffmpeg;
  ffmpeg.start("ffmpeg", arguments << QString::fromStdString(file.string()));
  ASSERT_TRUE(ffmpeg.waitForFinished(30000) && ffmpeg.exitCode() == 0) << "ffmpeg could not make " << file;
}

std::string MusicFolder() { return std::string(std::getenv("HOME")) + "/Music"; }

class RandomListTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    fs::remove_all(MusicFolder());
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    fs::remove_all(MusicFolder());
  }

  void Connect(app::TNimMain& main, const FixtureServer& server) {
    main.MusicServer()->SaveLogin(server.BaseUrl(), "alice", kPassword, true);
    ProcessEventsUntil([&main] { return !main.MusicServer()->Session().ApiVersion.empty(); });
  }

  std::vector<std::string> Captions(app::TNimMain& main) {
    std::vector<std::string> captions;
    for (const auto& row : main.lstRndMusic().Rows()) captions.push_back(row.Caption);
    return captions;
  }
};

// A fetch that fails or brings nothing leaves the music playing and both lists as they were, says
// why on the tab and what to do; Next and Play still work afterwards.
TEST_F(RandomListTest, AFetchThatBringsNothingIsNoDeadEnd) {
  FixtureServer server;
  server.Serve("/rest/ping.view", ServerOk(""));
  server.Serve("/rest/getRandomSongs.view", ServerFailed(40, "Wrong username or password."));
  server.Serve("/empty.xml", FixtureReply::Text("<list></list>"));
  struct Case {
    const char* what;
    std::function<void(app::TNimMain&)> source;
    std::string message;
    bool offersServer;
  };
  const Case cases[] = {
      {"product server down",
       [](app::TNimMain& main) { main.Shell().Remote.RandomListUrl = "http://127.0.0.1:1/none.xml"; },
       "没有找到可以随便听听的歌曲：在菜单“连接音乐服务器…”中连接服务器，或把歌曲放进音乐文件夹", true},
      {"product list empty",
       [&server](app::TNimMain& main) { main.Shell().Remote.RandomListUrl = server.Url("/empty.xml"); },
       "没有找到可以随便听听的歌曲：在菜单“连接音乐服务器…”中连接服务器，或把歌曲放进音乐文件夹", true},
      {"music server refuses the login",
       [this, &server](app::TNimMain& main) { Connect(main, server); }, "无法连接音乐服务器：用户名或密码错误", true},
      {"music server gone",
       [](app::TNimMain& main) { main.MusicServer()->SaveLogin("http://127.0.0.1:1", "alice", kPassword, true); },
       "无法连接音乐服务器：服务器没有回应，请检查地址、端口和服务器是否在运行", true},
      {"empty Music folder", [](app::TNimMain&) { fs::create_directories(MusicFolder()); },
       "没有找到可以随便听听的歌曲：在菜单“连接音乐服务器…”中连接服务器，或把歌曲放进音乐文件夹", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteSavedLists(Songs(3), Songs(2, "http://h/r"));
    app::TNimMain& main = Create();
    c.source(main);
    PlayRow(1);
    main.TabControl1Change(1);
    main.btn_rndlistClick();
    EXPECT_EQ(main.RndMsgText().toStdString(), "正在寻找歌曲…");
    ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.RandomListFetchRunning(); }, 15000));
    EXPECT_EQ(engine->State(), audio::StatePlaying);
    EXPECT_EQ(LastOpened(), "/music/song2.mp3");
    EXPECT_EQ(main.Shell().ActiveList, 0);
    EXPECT_EQ(main.TrackList().size(), 3u);
    EXPECT_EQ(Captions(main), (std::vector<std::string>{"歌1 - 歌手", "歌2"}));
    EXPECT_EQ(main.RndMsgText().toStdString(), c.message);
    EXPECT_EQ(main.RndMsgOffersServer(), c.offersServer);
    main.btn_nextClick();
    ProcessEventsUntil([this] { return engine->State() == audio::StatePlaying; });
    EXPECT_EQ(LastOpened(), "/music/song3.mp3");
    window.reset();
    fs::remove_all(DataFolder());
    fs::remove_all(MusicFolder());
  }
}

// Without a server, the Music folder gives the songs: only files a decoder opens (a page saved as
// .mp3 is none), each with its tag title or its file name; "换歌" draws again.
TEST_F(RandomListTest, TheMusicFolderFillsTheTab) {
  const fs::path music = MusicFolder();
  fs::create_directories(music / "Album");
  WriteTone(music / "Album" / "01.mp3", "一");
  WriteTone(music / "Album" / "two.mp3");
  WriteTone(music / "three.MP3");
  WriteFileBytes(music / "Album" / "broken.mp3", "<html>not a song</html>");
  WriteFileBytes(music / "Album" / "cover.jpg", "jpeg");
  fs::create_directory_symlink("..", music / "Album" / "up");
  AdjustServices = [](app::TNimMainServices& services) { services.DecoderOpens = app::DecoderOpens; };
  WriteSavedLists(Songs(1));
  app::TNimMain& main = Create();
  PlayRow(0);
  main.TabControl1Change(1);
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.lstRndMusic().Count() > 0; }));
  std::set<std::string> titles;
  for (const auto& row : main.lstRndMusic().Rows()) titles.insert(row.Title);
  EXPECT_EQ(titles, (std::set<std::string>{"一", "two", "three"}));
  EXPECT_EQ(main.Shell().ActiveList, 1);
  EXPECT_EQ(LastOpened(), main.lstRndMusic().Row(0).Location);
  EXPECT_EQ(main.RndMsgText().toStdString(), "");

  const size_t opens = engine->Opened.size();
  main.btn_rndlistClick();
  ASSERT_TRUE(ProcessEventsUntil([this, opens] { return engine->Opened.size() > opens; }));
  EXPECT_EQ(main.lstRndMusic().Count(), 3);
}

// A server song is stored as its id alone; when it opens, the engine gets a stream address with
// a token made for that open. No password, token or "enc:" reaches the list file or the settings.
TEST_F(RandomListTest, ServerSongsOpenWithFreshCredentialsAndStoreNone) {
  FixtureServer server;
  ServeMusicServer(server);
  app::TNimMain& main = Create();
  Connect(main, server);
  main.TabControl1Change(1);
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.lstRndMusic().Count() == 2; }));
  EXPECT_EQ(Captions(main), (std::vector<std::string>{"第一首 - 歌手", "Second"}));
  EXPECT_EQ(main.lstRndMusic().Row(0).Location, "subsonic:s1");
  ASSERT_EQ(LastOpened(), "subsonic:s1");
  const auto first = Query(engine->Resolved.back());
  EXPECT_EQ(engine->Resolved.back().rfind(server.BaseUrl() + "/rest/stream.view?", 0), 0u);
  EXPECT_EQ(first.at("id"), "s1");
  EXPECT_EQ(first.at("t"),
            QCryptographicHash::hash(QByteArray(kPassword) + QByteArray::fromStdString(first.at("s")),
                                     QCryptographicHash::Md5)
                .toHex()
                .toStdString());
  main.lstRndMusic().SetSelectedIndex(0);
  main.plst_listItemDblClick();
  EXPECT_NE(Query(engine->Resolved.back()).at("s"), first.at("s"));  // fresh for every open

  main.SaveConfig();
  main.FlushListSaves();
  for (const char* file : {"Default.pls", "Orvane.xml"}) {
    const std::string bytes = ReadFileBytes(DataFolder() + file);
    for (const std::string& secret : {std::string(kPassword), std::string("pa55"), std::string("&t="),
                                     std::string("&s="), std::string("enc:"), first.at("t")})
      EXPECT_EQ(bytes.find(secret), std::string::npos) << file << " holds " << secret;
  }
  EXPECT_NE(ReadFileBytes(DataFolder() + "Default.pls").find("subsonic:s2"), std::string::npos);
  EXPECT_NE(ReadFileBytes(DataFolder() + "Orvane.xml").find(server.BaseUrl()), std::string::npos);
}

// "Now playing" when a server song starts, the play counted once half of it has played; nothing
// when "记录播放次数" is off.
TEST_F(RandomListTest, ScrobblesNowPlayingThenThePlay) {
  FixtureServer server;
  ServeMusicServer(server);
  app::TNimMain& main = Create();
  engine->Length = 2000;
  Connect(main, server);
  main.TabControl1Change(1);
  ASSERT_TRUE(ProcessEventsUntil([this] { return engine->State() == audio::StatePlaying; }));
  ASSERT_TRUE(ProcessEventsUntil([&server] { return Scrobbles(server).size() == 2; }, 5000));
  EXPECT_EQ(Scrobbles(server), (std::vector<std::string>{"s1 false", "s1 true"}));
  EXPECT_TRUE(main.MusicServer()->ScrobbleSubmitted());
  // A pause and a resume are the same play; playing the row again is a new one.
  main.btn_playClick();
  main.btn_playClick();
  ProcessEventsFor(1200);
  EXPECT_EQ(Scrobbles(server).size(), 2u);
  engine->EndTrack();  // normal mode: the next row, s2, starts
  ASSERT_TRUE(ProcessEventsUntil([&server] { return Scrobbles(server).size() == 3; }));
  main.lstRndMusic().SetSelectedIndex(0);
  main.plst_listItemDblClick();
  ASSERT_TRUE(ProcessEventsUntil([&server] { return Scrobbles(server).size() == 4; }));
  EXPECT_EQ(Scrobbles(server), (std::vector<std::string>{"s1 false", "s1 true", "s2 false", "s1 false"}));

  server.ClearRequests();
  main.MusicServer()->SetScrobble(false);
  main.btn_nextClick();
  ProcessEventsFor(300);
  EXPECT_TRUE(Scrobbles(server).empty());
}

// A server that keeps synced lyrics gives them first.
TEST_F(RandomListTest, TheServersSyncedLyricsComeFirst) {
  FixtureServer server;
  const std::string root = " openSubsonic=\"true\" type=\"navidrome\" serverVersion=\"0.53\"";
  ServeMusicServer(server, root);
  server.Serve("/rest/getOpenSubsonicExtensions.view",
               ServerOk("<openSubsonicExtensions name=\"songLyrics\"><versions>1</versions></openSubsonicExtensions>", root));
  server.Serve("/rest/getLyricsBySongId.view",
               ServerOk("<lyricsList><structuredLyrics synced=\"true\"><line start=\"1000\">服务器的歌词</line>"
                      "</structuredLyrics></lyricsList>",
                      root));
  app::TNimMain& main = Create();
  Connect(main, server);
  ASSERT_TRUE(main.MusicServer()->Session().SongLyrics);
  main.TabControl1Change(1);
  ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.LyricLookupRunning() && main.LrcDoc().Document().Count() > 1; }));
  engine->Position = 1500;
  main.LrcDoc().SetPosition(1500);
  EXPECT_EQ(main.LrcDoc().CurrentLine(), "服务器的歌词");
}

// A server song's lyric from the lyric provider is the record of the length the server gives, not
// the one of the stream's first guess (the engine says 180 s here).
TEST_F(RandomListTest, AServerSongsLyricLookupTakesTheServersLength) {
  FixtureServer server;
  ServeMusicServer(server);
  server.Serve("/rest/getRandomSongs.view",
               ServerOk("<randomSongs><song id=\"x\" title=\"T\" artist=\"S\" duration=\"200\"/></randomSongs>"));
  FixtureServer provider;
  provider.Serve("/api/search?track_name=T&artist_name=S",
                 FixtureReply::Text(R"([{"id": 1, "trackName": "T", "artistName": "S", "duration": 180},)"
                                    R"( {"id": 2, "trackName": "T", "artistName": "S", "duration": 200}])",
                                    "application/json"));
  provider.Serve("/api/get/1", FixtureReply::Text(R"({"syncedLyrics": "[00:01.00]180 s"})", "application/json"));
  provider.Serve("/api/get/2", FixtureReply::Text(R"({"syncedLyrics": "[00:01.00]200 s"})", "application/json"));
  ::setenv("ORVANE_LYRICS_URL", provider.BaseUrl().c_str(), 1);
  app::TNimMain& main = Create();
  Connect(main, server);
  main.TabControl1Change(1);
  const bool found = ProcessEventsUntil([&main] { return main.LrcDoc().Document().Count() > 1; });
  ::setenv("ORVANE_LYRICS_URL", "http://127.0.0.1:9", 1);
  ASSERT_TRUE(found);
  main.LrcDoc().SetPosition(1500);
  EXPECT_EQ(main.LrcDoc().CurrentLine(), "200 s");
}

// The dialog from the main menu: a test shows the server's name and API version or why it
// refused; "保存" keeps the login (the password, without a keyring, in a file only the user reads,
// which the dialog says); "断开" forgets it.
TEST_F(RandomListTest, TheServerDialogTestsSavesAndDisconnects) {
  FixtureServer server;
  server.ServeByQuery("/rest/ping.view", {{"u=alice", ServerFailed(40, "Wrong username or password.")}}, ServerOk(""));
  AdjustServices = [](app::TNimMainServices& services) {
    services.CreateSecretStore = [](const std::string& folder) { return net::MakeSecretStore(folder, false); };
  };
  app::TNimMain& main = Create();
  main.pm_main()->findChild<QAction*>("pmm_server")->trigger();
  app::TNimMusicServer* dialog = main.MusicServer()->Dialog();
  ASSERT_NE(dialog, nullptr);
  ASSERT_NE(dialog->Window(), nullptr);
  EXPECT_FALSE(dialog->Window()->contentItem()->childItems().isEmpty()) << "the scene did not load";
  ASSERT_TRUE(ProcessEventsUntil([dialog] { return !dialog->KeyringText().isEmpty(); }));

  const auto test = [dialog](const char* address, const char* user) {
    dialog->SetAddress(address);
    dialog->SetUser(user);
    dialog->SetPassword(kPassword);
    dialog->btnTestClick();
    ProcessEventsUntil([dialog] { return !dialog->Busy(); }, 15000);
    return dialog->StatusText().toStdString();
  };
  EXPECT_EQ(test(server.BaseUrl().c_str(), "alice"), "用户名或密码错误");
  EXPECT_TRUE(dialog->StatusIsError());
  EXPECT_EQ(test(server.BaseUrl().c_str(), "bob"), "连接成功：127.0.0.1:" + std::to_string(server.Port()) + "，API 1.16.1");
  EXPECT_FALSE(dialog->StatusIsError());
  EXPECT_EQ(test("http://bob:pw@127.0.0.1", "bob"), "地址里不能带用户名或密码，请填在下面");

  dialog->SetAddress(QString::fromStdString(server.BaseUrl() + "/"));
  dialog->chkScrobbleClick();
  dialog->btnSaveClick();
  ASSERT_TRUE(ProcessEventsUntil([dialog] { return !dialog->Busy(); }));
  EXPECT_EQ(dialog->StatusText().toStdString(), "已保存。没有可用的密钥环，密码保存在只有你能读取的文件中");
  const std::string secretFile = DataFolder() + net::kServerSecretFile;
  struct stat info {};
  ASSERT_EQ(::stat(secretFile.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(main.MusicServer()->Session().Address, server.BaseUrl());
  EXPECT_FALSE(main.MusicServer()->Scrobbling());
  ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.tmr_saveConfig().isActive(); }));
  const std::string config = ReadFileBytes(DataFolder() + "Orvane.xml");
  EXPECT_NE(config.find("bob"), std::string::npos);
  EXPECT_EQ(config.find("pa55"), std::string::npos);

  // After a restart the login and its password are back.
  window.reset();
  app::TNimMain& again = Create();
  ASSERT_TRUE(ProcessEventsUntil([&again] { return again.MusicServer()->PasswordKnown(); }));
  EXPECT_EQ(again.MusicServer()->Session().Password, kPassword);
  EXPECT_EQ(again.MusicServer()->Session().User, "bob");

  again.pmm_serverClick();
  ASSERT_NE(again.MusicServer()->Dialog(), nullptr);
  EXPECT_EQ(again.MusicServer()->Dialog()->Password().toStdString(), kPassword);
  again.MusicServer()->Dialog()->btnDisconnectClick();
  EXPECT_FALSE(again.MusicServer()->Configured());
  ASSERT_TRUE(ProcessEventsUntil([&secretFile] { return !fs::exists(secretFile); }));
}

}  // namespace
}  // namespace orvane::test
