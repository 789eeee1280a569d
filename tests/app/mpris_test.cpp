// The player on a private session bus as another program sees it: its properties, every call
// reaching the window's own handlers, settable properties that are saved, and the signals.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDBusVariant>

#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

#include "app/FileUrl.h"
#include "app/Mpris.h"
#include "app/SongCover.h"
#include "main_window_fixture.h"
#include "program_fixture.h"
#include "store/UYmXMLCFG.h"

namespace orvane::test {

// Collects the player's PropertiesChanged and Seeked signals.
class SignalRecorder : public QObject {
  Q_OBJECT
 public slots:
  void PropertiesChanged(const QString&, const QVariantMap& changed, const QStringList&) {
    for (auto it = changed.begin(); it != changed.end(); ++it) Changed[it.key()] = it.value();
  }
  void Seeked(qlonglong position) { SeekedTo.push_back(position); }

 public:
  QVariantMap Changed;
  std::vector<qlonglong> SeekedTo;
};

namespace {

namespace fs = std::filesystem;

// An MP3 file: an ID3v2.4 tag with the album (TALB) and a picture (APIC) when given, then a few
// silent frames (MPEG-1 layer III, 128 kbit/s, 44.1 kHz).
std::string Mp3(const std::string& album, const std::string& mime, const std::string& picture) {
  const auto syncsafe = [](size_t n) {
    return std::string{static_cast<char>((n >> 21) & 0x7F), static_cast<char>((n >> 14) & 0x7F),
                       static_cast<char>((n >> 7) & 0x7F), static_cast<char>(n & 0x7F)};
  };
  const auto frame = [&syncsafe](const char* id, const std::string& data) {
    return std::string(id) + syncsafe(data.size()) + std::string(2, '\0') + data;
  };
  std::string frames;
  if (!album.empty()) frames += frame("TALB", "\x03" + album);
  if (!picture.empty()) frames += frame("APIC", "\x03" + mime + std::string(1, '\0') + "\x03" + std::string(1, '\0') + picture);
  std::string file;
  if (!frames.empty()) file = "ID3\x04" + std::string(2, '\0') + syncsafe(frames.size()) + frames;
  for (int i = 0; i < 20; ++i) file += std::string("\xFF\xFB\x90", 3) + std::string(414, '\0');
  return file;
}

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + "the picture's pixels";

TEST(SongCover, TheTagsAlbumAndPictureAreReadAndThePictureWrittenOnce) {
  TempDir songs;
  TempDir covers;
  const std::string folder = covers.File("covers");
  struct Case {
    std::string name;
    std::string bytes;  // empty: no such file
    std::string album;
    bool cover;
  };
  const Case cases[] = {
      {"tagged.mp3", Mp3("专辑一", "image/png", kPng), "专辑一", true},
      {"same-picture.mp3", Mp3("专辑一", "image/png", kPng), "专辑一", true},
      {"album-only.mp3", Mp3("专辑二", "", ""), "专辑二", false},
      {"untagged.mp3", Mp3("", "", ""), "", false},
      {"not-a-picture.mp3", Mp3("专辑三", "image/png", "hello"), "专辑三", false},
      {"text.mp3", "just some words, not a song", "", false},
      {"missing.mp3", "", "", false},
  };
  std::string firstCover;
  for (const Case& c : cases) {
    if (!c.bytes.empty()) WriteFileBytes(songs.File(c.name), c.bytes);
    const app::TSongCover cover = app::ReadSongCover(songs.File(c.name), folder);
    EXPECT_EQ(cover.Album, c.album) << c.name;
    EXPECT_EQ(!cover.CoverPath.empty(), c.cover) << c.name;
    if (cover.CoverPath.empty()) continue;
    EXPECT_EQ(fs::path(cover.CoverPath).parent_path(), fs::path(folder)) << c.name;
    EXPECT_EQ(fs::path(cover.CoverPath).extension(), ".png") << c.name;
    EXPECT_EQ(ReadFileBytes(cover.CoverPath), kPng) << c.name;
    if (firstCover.empty()) firstCover = cover.CoverPath;
    EXPECT_EQ(cover.CoverPath, firstCover) << c.name;  // one picture, one file
  }
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++files;
  EXPECT_EQ(files, 1u);
}

TEST(SongCover, TheFolderKeepsOnlyTheLatestCovers) {
  TempDir songs;
  TempDir covers;
  const std::string folder = covers.File("covers");
  std::string last;
  for (size_t i = 0; i < app::kKeptCovers + 3; ++i) {
    WriteFileBytes(songs.File("song.mp3"), Mp3("", "image/png", kPng + std::to_string(i)));
    last = app::ReadSongCover(songs.File("song.mp3"), folder).CoverPath;
  }
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++files;
  EXPECT_EQ(files, app::kKeptCovers);
  EXPECT_TRUE(fs::exists(last));
}

constexpr const char* kPlayer = "org.mpris.MediaPlayer2.Player";
constexpr const char* kRoot = "org.mpris.MediaPlayer2";

// Qt starts its D-Bus thread with the first connection and leaves it to wind down while the process
// exits; the leak checker would now and then count that thread's own state as a leak of ours.
QDBusConnection ConnectToBus(const QString& address, const QString& name) {
#ifdef __SANITIZE_ADDRESS__
  __lsan::ScopedDisabler qtsOwnThread;
#endif
  return QDBusConnection::connectToBus(address, name);
}

class MprisTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    bus = std::make_unique<ReadyProcess>("dbus-daemon", QStringList{"--session", "--nofork", "--print-address=1"});
    ASSERT_FALSE(bus->Line().empty());
    const QString address = QString::fromStdString(bus->Line());
    playerBus = std::make_unique<QDBusConnection>(ConnectToBus(address, "player"));
    clientBus = std::make_unique<QDBusConnection>(ConnectToBus(address, "client"));
    ASSERT_TRUE(playerBus->isConnected() && clientBus->isConnected());
    WriteSavedLists(Songs(3));
    Create();
    mpris = std::make_unique<app::TMprisService>(*window);
    ASSERT_TRUE(mpris->Register(*playerBus));
    clientBus->connect(app::kMprisService, app::kMprisPath, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                       &recorder, SLOT(PropertiesChanged(QString, QVariantMap, QStringList)));
    clientBus->connect(app::kMprisService, app::kMprisPath, kPlayer, "Seeked", &recorder, SLOT(Seeked(qlonglong)));
  }
  void TearDown() override {
    mpris.reset();
    MainWindowTest::TearDown();
    playerBus.reset();
    clientBus.reset();
    QDBusConnection::disconnectFromBus("player");
    QDBusConnection::disconnectFromBus("client");
    bus.reset();
  }

  // A call from the other program; the window answers while the test waits.
  QDBusMessage Call(const char* interface, const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(app::kMprisService, app::kMprisPath, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = clientBus->asyncCall(message);
    EXPECT_TRUE(ProcessEventsUntil([&pending] { return pending.isFinished(); }));
    return pending.reply();
  }
  QVariant Get(const char* interface, const QString& name) {
    const QDBusMessage reply = Call("org.freedesktop.DBus.Properties", "Get", {interface, name});
    return reply.arguments().isEmpty() ? QVariant() : reply.arguments().first().value<QDBusVariant>().variant();
  }
  void Set(const QString& name, const QVariant& value) {
    Call("org.freedesktop.DBus.Properties", "Set", {kPlayer, name, QVariant::fromValue(QDBusVariant(value))});
  }
  // Metadata arrives as a D-Bus argument to demarshal.
  QVariantMap Metadata() { return qdbus_cast<QVariantMap>(Get(kPlayer, "Metadata")); }
  std::unique_ptr<ReadyProcess> bus;
  std::unique_ptr<QDBusConnection> playerBus;
  std::unique_ptr<QDBusConnection> clientBus;
  std::unique_ptr<app::TMprisService> mpris;
  SignalRecorder recorder;
};

TEST_F(MprisTest, DescribesThePlayer) {
  EXPECT_EQ(Get(kRoot, "Identity").toString(), "Orvane");
  EXPECT_EQ(Get(kRoot, "DesktopEntry").toString(), "orvane");
  EXPECT_TRUE(Get(kRoot, "CanQuit").toBool());
  EXPECT_TRUE(Get(kRoot, "CanRaise").toBool());
  EXPECT_TRUE(Get(kRoot, "SupportedMimeTypes").toStringList().contains("audio/mpeg"));
  EXPECT_EQ(Get(kPlayer, "PlaybackStatus").toString(), "Stopped");
  EXPECT_EQ(Get(kPlayer, "LoopStatus").toString(), "None");
  EXPECT_DOUBLE_EQ(Get(kPlayer, "Volume").toDouble(), 0.65);
  EXPECT_TRUE(Get(kPlayer, "CanGoNext").toBool());
  EXPECT_FALSE(Get(kPlayer, "CanSeek").toBool());
  EXPECT_EQ(Metadata().value("xesam:title").toString(), "歌1");
}

TEST_F(MprisTest, CallsGoThroughTheButtonsHandlers) {
  Call(kPlayer, "PlayPause");
  ASSERT_TRUE(ProcessEventsUntil([this] { return engine->State() == audio::StatePlaying; }));
  EXPECT_EQ(LastOpened(), "/music/song1.mp3");
  EXPECT_TRUE(ProcessEventsUntil([this] { return recorder.Changed.value("PlaybackStatus").toString() == "Playing"; }));
  QVariantMap metadata = Metadata();
  EXPECT_EQ(metadata.value("xesam:title").toString(), "歌1");
  EXPECT_EQ(metadata.value("xesam:artist").toStringList(), QStringList{"歌手"});
  EXPECT_EQ(metadata.value("xesam:url").toString(), "file:///music/song1.mp3");
  EXPECT_EQ(metadata.value("mpris:length").toLongLong(), 180000000);
  const QDBusObjectPath first = metadata.value("mpris:trackid").value<QDBusObjectPath>();

  Call(kPlayer, "Next");
  ASSERT_TRUE(ProcessEventsUntil([this] { return LastOpened() == "/music/song2.mp3"; }));
  Call(kPlayer, "Previous");
  ASSERT_TRUE(ProcessEventsUntil([this] { return engine->Opened.size() == 3; }));
  EXPECT_EQ(LastOpened(), "/music/song1.mp3");
  ProcessEventsUntil([this] { return engine->State() == audio::StatePlaying; });
  Call(kPlayer, "Pause");
  EXPECT_EQ(engine->State(), audio::StatePaused);
  Call(kPlayer, "Pause");  // already paused: stays so
  EXPECT_EQ(Get(kPlayer, "PlaybackStatus").toString(), "Paused");
  Call(kPlayer, "Play");
  EXPECT_EQ(engine->State(), audio::StatePlaying);

  engine->Position = 20000;
  Call(kPlayer, "Seek", {qlonglong(5000000)});
  const QDBusObjectPath current = Metadata().value("mpris:trackid").value<QDBusObjectPath>();
  EXPECT_NE(current, first);  // another track started since (the same row again)
  Call(kPlayer, "SetPosition", {QVariant::fromValue(current), qlonglong(10000000)});
  Call(kPlayer, "SetPosition", {QVariant::fromValue(first), qlonglong(30000000)});  // a stale track: nothing
  Call(kPlayer, "SetPosition", {QVariant::fromValue(current), qlonglong(999000000)});  // past the end: nothing
  EXPECT_EQ(engine->Seeks, (std::vector<int32_t>{25000, 10000}));
  ProcessEventsUntil([this] { return recorder.SeekedTo.size() >= 2; });
  EXPECT_EQ(recorder.SeekedTo, (std::vector<qlonglong>{25000000, 10000000}));
  Call(kPlayer, "Seek", {qlonglong(500000000)});  // past the end: the next song
  ASSERT_TRUE(ProcessEventsUntil([this] { return LastOpened() == "/music/song2.mp3"; }));

  Call(kPlayer, "Stop");
  EXPECT_EQ(engine->State(), audio::StateStopped);
  Call(kPlayer, "OpenUri", {QString("file:///music/%E6%96%B0.mp3")});
  EXPECT_EQ(window->lstDefault().Count(), 4);
  EXPECT_EQ(LastOpened(), "/music/新.mp3");
  Call(kPlayer, "OpenUri", {QString("ftp://host/a.mp3")});  // not a scheme the player opens
  EXPECT_EQ(window->lstDefault().Count(), 4);
}

// Previous on the first row leaves the song playing (and the current index before the list): the
// desktop still sees that song, under the same identity.
TEST_F(MprisTest, PreviousOnTheFirstRowStillReportsThePlayingSong) {
  Call(kPlayer, "PlayPause");
  ASSERT_TRUE(ProcessEventsUntil([this] { return engine->State() == audio::StatePlaying; }));
  const QVariantMap before = Metadata();
  Call(kPlayer, "Previous");
  EXPECT_EQ(window->Shell().CurrentIndex, -1);
  EXPECT_EQ(engine->State(), audio::StatePlaying);
  const QVariantMap after = Metadata();
  EXPECT_EQ(after.value("xesam:title").toString(), "歌1");
  EXPECT_EQ(after.value("mpris:trackid").value<QDBusObjectPath>(), before.value("mpris:trackid").value<QDBusObjectPath>());
  EXPECT_EQ(after.value("mpris:length").toLongLong(), 180000000);
  Call(kPlayer, "SetPosition",
       {QVariant::fromValue(after.value("mpris:trackid").value<QDBusObjectPath>()), qlonglong(10000000)});
  EXPECT_EQ(engine->Seeks, std::vector<int32_t>{10000});
  Call(kPlayer, "Stop");  // stopped, the song Play would start is told
  EXPECT_EQ(Metadata().value("mpris:trackid").value<QDBusObjectPath>().path(), "/org/mpris/MediaPlayer2/TrackList/NoTrack");
}

TEST_F(MprisTest, TheSongsAlbumAndCoverAreTold) {
  TempDir songs;
  WriteFileBytes(songs.File("tagged.mp3"), Mp3("专辑一", "image/png", kPng));
  WriteFileBytes(songs.File("plain.mp3"), Mp3("", "", ""));
  Call(kPlayer, "OpenUri", {app::FileUrlText(songs.File("tagged.mp3"))});
  ASSERT_TRUE(ProcessEventsUntil([this] { return Metadata().contains("mpris:artUrl"); }));
  QVariantMap metadata = Metadata();
  EXPECT_EQ(metadata.value("xesam:album").toString(), "专辑一");
  const QUrl art(metadata.value("mpris:artUrl").toString());
  ASSERT_TRUE(art.isLocalFile());
  EXPECT_EQ(ReadFileBytes(art.toLocalFile().toStdString()), kPng);
  EXPECT_EQ(fs::path(art.toLocalFile().toStdString()).parent_path(), fs::path(app::CoverFolder()));
  // Told to the desktop as a change, without being asked.
  EXPECT_TRUE(ProcessEventsUntil([this] {
    return qdbus_cast<QVariantMap>(recorder.Changed.value("Metadata")).value("xesam:album").toString() == "专辑一";
  }));

  Call(kPlayer, "OpenUri", {app::FileUrlText(songs.File("plain.mp3"))});
  ASSERT_TRUE(ProcessEventsUntil([this] { return Metadata().value("xesam:url").toString().endsWith("plain.mp3"); }));
  ProcessEventsFor(100);
  metadata = Metadata();
  EXPECT_FALSE(metadata.contains("xesam:album"));
  EXPECT_FALSE(metadata.contains("mpris:artUrl"));
}

TEST_F(MprisTest, SettablePropertiesReachTheWindowAndAreSaved) {
  Set("LoopStatus", "Track");
  EXPECT_EQ(window->Shell().PlayMode, app::PlayMode::RepeatOne);
  EXPECT_EQ(window->modBoxItem(), 2);
  Set("LoopStatus", "Sideways");  // not a loop status: nothing changes
  EXPECT_EQ(Get(kPlayer, "LoopStatus").toString(), "Track");
  const std::pair<double, double> volumes[] = {{0.3, 30}, {5.0, 100}, {-1.0, 0}};
  for (const auto& [sent, slider] : volumes) {
    Set("Volume", sent);
    EXPECT_EQ(window->Volume(), slider) << sent;
    EXPECT_EQ(engine->Volume, static_cast<float>(slider)) << sent;
  }
  EXPECT_TRUE(ProcessEventsUntil([this] {
    return recorder.Changed.value("LoopStatus").toString() == "Track" && recorder.Changed.contains("Volume") &&
           recorder.Changed.value("Volume").toDouble() == 0.0;
  }));
  // Saved shortly after, without a close.
  ASSERT_TRUE(ProcessEventsUntil([] { return std::filesystem::exists(DataFolder() + "Orvane.xml"); }, 3000));
  store::TYkConfig config(DataFolder() + "Orvane.xml", "MainConfig");
  EXPECT_EQ(config.ReadInteger("Window/PLAY", "PATTERN", -1), 2);
  EXPECT_EQ(config.ReadInteger("Window/Volume", "Value", -1), 0);
}

TEST_F(MprisTest, QuitIsTheMenusExit) {
  bool closed = false;
  QObject::connect(window.get(), &app::TNimMain::closeRequested, [&closed] { closed = true; });
  Call(kRoot, "Quit");
  EXPECT_TRUE(closed);
  EXPECT_TRUE(std::filesystem::exists(DataFolder() + "Orvane.xml"));
}

TEST(MprisSessionBus, NoneNamedMeansNone) {
  const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  EXPECT_FALSE(app::TMprisService::SessionBusNamed());  // the test's runtime folder holds no bus
  ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nowhere", 1);
  EXPECT_TRUE(app::TMprisService::SessionBusNamed());
  if (address.isEmpty()) ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  else ::setenv("DBUS_SESSION_BUS_ADDRESS", address.constData(), 1);
}

}  // namespace
}  // namespace orvane::test

#include "mpris_test.moc"
