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

#include "app/Mpris.h"
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
