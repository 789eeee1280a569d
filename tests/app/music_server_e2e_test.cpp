// The random tab against a real music server: Debian's supysonic (Subsonic API 1.10.2, which takes
// the password as enc: and answers tokens with error 10), started for the test with a temporary
// configuration, a user and a folder of generated tagged songs, and stopped by its id at the end.
// The player runs on the real engine (SDL's silent dummy device).
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDateTime>
#include <QProcess>
#include <filesystem>

#include "app/MusicServerLink.h"
#include "app/Unt_MusicServer.h"
#include "audio/AudioEngine.h"
#include "main_window_fixture.h"
#include "net/HttpClient.h"
#include "net/MusicServer.h"
#include "net/MusicServerSecret.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUser = "alice";
constexpr const char* kPassword = "supy 密码";

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

bool OnPath(const char* program) {
  return QProcess::execute("sh", {"-c", QString("command -v %1 >/dev/null").arg(program)}) == 0;
}

// supysonic with everything in a temporary folder: its configuration (read from the working
// folder), database, caches, the songs.
class Supysonic {
 public:
  Supysonic() : songs(home.Path() / "songs") {
    fs::create_directories(songs);
    WriteFileBytes(home.Path() / "supysonic.conf",
                   "[base]\ndatabase_uri = sqlite:///" + (home.Path() / "supysonic.db").string() +
                       "\n[webapp]\ncache_dir = " + (home.Path() / "cache").string() +
                       "\nmount_webui = no\nlog_level = WARNING\nonline_lyrics = no\n[daemon]\nsocket = " +
                       (home.Path() / "daemon.sock").string() + "\n");
    environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", QString::fromStdString(home.Path().string()));
    environment.insert("SUPYSONIC_CONFIG", QString::fromStdString((home.Path() / "supysonic.conf").string()));
  }
  ~Supysonic() { Stop(); }

  // A tagged tone of the given length; false when ffmpeg failed.
  bool AddSong(const std::string& name, const QString& title, const QString& artist, double seconds) {
    return Run("ffmpeg", {"-loglevel", "error", "-y", "-f", "lavfi", "-i", QString("sine=frequency=330:duration=%1").arg(seconds),
                          "-ac", "2", "-b:a", "128k", "-metadata", "title=" + title, "-metadata", "artist=" + artist,
                          "-metadata", "album=Orvane", QString::fromStdString((songs / name).string())});
  }

  // The user, the folder scanned, the server listening; the reason when something failed.
  std::string Start() {
    if (!Run("supysonic-cli", {"user", "add", kUser, "-p", kPassword})) return "supysonic-cli user add: " + output;
    if (!Run("supysonic-cli", {"folder", "add", "songs", QString::fromStdString(songs.string())}))
      return "supysonic-cli folder add: " + output;
    if (!Run("supysonic-cli", {"folder", "scan", "songs"})) return "supysonic-cli folder scan: " + output;
    port = FreePort();
    server.setProcessEnvironment(environment);
    server.setWorkingDirectory(QString::fromStdString(home.Path().string()));
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start("supysonic-server", {"-S", "waitress", "-h", "127.0.0.1", "-p", QString::number(port)});
    if (!server.waitForStarted(10000)) return "supysonic-server does not start";
    const QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && server.state() == QProcess::Running) {
      if (!net::HttpGetText(Address() + "/rest/ping.view?v=1.10.2&c=test").empty()) return {};
      QThread::msleep(100);
    }
    return "supysonic-server does not answer: " + server.readAll().toStdString();
  }

  // By its own id, as the test started it.
  void Stop() {
    if (server.state() == QProcess::NotRunning) return;
    server.kill();
    server.waitForFinished(10000);
  }

  std::string Address() const { return "http://127.0.0.1:" + std::to_string(port); }

 private:
  bool Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QString::fromStdString(home.Path().string()));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    output = process.readAll().toStdString();
    return ok;
  }

  TempDir home{"orvane-supysonic"};
  fs::path songs;
  QProcessEnvironment environment;
  QProcess server;
  std::string output;
  int port = 0;
};

class MusicServerEndToEndTest : public MainWindowTest {
 protected:
  void SetUp() override {
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    MainWindowTest::SetUp();
  }

  app::TNimMain& CreateWithRealEngine() {
    AdjustServices = [](app::TNimMainServices& services) {
      services.CreateEngine = app::DefaultServices(services.ExecutablePath).CreateEngine;
      services.CreateSecretStore = [](const std::string& folder) { return net::MakeSecretStore(folder, false); };
    };
    return Create();
  }
};

TEST_F(MusicServerEndToEndTest, RandomSongsFromARealServer) {
  if (!OnPath("supysonic-server") || !OnPath("supysonic-cli"))
    GTEST_SKIP() << "Debian's supysonic is not installed (scripts/deps.txt lists supysonic and python3-waitress)";
  Supysonic supysonic;
  ASSERT_TRUE(supysonic.AddSong("one.mp3", "第一首", "歌手甲", 2.5));
  ASSERT_TRUE(supysonic.AddSong("two.mp3", "Second", "Band B", 2.5));
  ASSERT_TRUE(supysonic.AddSong("three.mp3", "第三首", "歌手丙", 2.5));
  const std::string failed = supysonic.Start();
  ASSERT_EQ(failed, "");

  app::TNimMain& main = CreateWithRealEngine();
  ASSERT_NE(main.Engine(), nullptr);

  // Connecting: a wrong password is told as such; the right one shows the API version.
  main.pmm_serverClick();
  app::TNimMusicServer* dialog = main.MusicServer()->Dialog();
  ASSERT_NE(dialog, nullptr);
  const auto test = [dialog](const char* password) {
    dialog->SetPassword(password);
    dialog->btnTestClick();
    ProcessEventsUntil([dialog] { return !dialog->Busy(); }, 20000);
    return dialog->StatusText().toStdString();
  };
  dialog->SetAddress(QString::fromStdString(supysonic.Address()));
  dialog->SetUser(kUser);
  EXPECT_EQ(test("wrong"), "用户名或密码错误");
  EXPECT_EQ(test(kPassword), "连接成功：127.0.0.1:" + supysonic.Address().substr(supysonic.Address().rfind(':') + 1) +
                                 "，API 1.10.2");
  dialog->btnSaveClick();
  ASSERT_TRUE(ProcessEventsUntil([dialog] { return !dialog->Busy(); }));
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.MusicServer()->Session().ApiVersion == "1.10.2"; }, 20000));
  EXPECT_FALSE(main.MusicServer()->Session().UsesToken());

  // One click on the tab: the server's songs, the first one playing, streamed.
  main.TabControl1Change(1);
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.lstRndMusic().Count() == 3; }, 20000));
  std::set<std::string> captions;
  for (const auto& row : main.lstRndMusic().Rows()) {
    captions.insert(row.Caption);
    EXPECT_EQ(row.Location.rfind("subsonic:", 0), 0u) << row.Location;
  }
  EXPECT_EQ(captions, (std::set<std::string>{"第一首 - 歌手甲", "Second - Band B", "第三首 - 歌手丙"}));
  const std::string lastSongId = net::ServerSongId(main.lstRndMusic().Row(2).Location);
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.PlayerState() == audio::StatePlaying; }, 20000));
  EXPECT_EQ(main.Shell().ActiveList, 1);
  EXPECT_NEAR(main.LengthMs(), 2500, 150);

  // Seeking in the stream.
  main.SeekTo(1500);
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.PositionMs() >= 1500; }, 3000));

  // To its end: the next song follows, and the finished one now plays from the song cache.
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.Shell().CurrentIndex == 1 && main.PlayerState() == audio::StatePlaying; },
                                 20000));
  const std::string cached = main.lstRndMusic().Row(0).Location;
  EXPECT_EQ(cached.rfind(main.Shell().MusicFolder, 0), 0u) << cached;
  EXPECT_TRUE(fs::exists(cached));
  // The server takes "now playing" and a counted play (the order the player sends them in is
  // checked against a stand-in, tests/app/random_list_test.cpp).
  net::TSubsonicClient client(main.MusicServer()->Session());
  EXPECT_TRUE(client.Scrobble(lastSongId, false, QDateTime::currentMSecsSinceEpoch()).Ok());
  EXPECT_TRUE(client.Scrobble(lastSongId, true, QDateTime::currentMSecsSinceEpoch()).Ok());

  // The server stopped mid-song: the window goes on, the list stays, "换歌" says why.
  supysonic.Stop();
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.Shell().CurrentIndex == 2; }, 20000));
  main.btn_rndlistClick();
  ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.RandomListFetchRunning(); }, 20000));
  EXPECT_EQ(main.RndMsgText().toStdString(), "无法连接音乐服务器：服务器没有回应，请检查地址、端口和服务器是否在运行");
  EXPECT_EQ(main.lstRndMusic().Count(), 3);
  EXPECT_EQ(main.Shell().ActiveList, 1);
}

}  // namespace
}  // namespace orvane::test
