#include "app/Mpris.h"

#include "app/FileUrl.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>
#include <QUrl>
#include <cmath>
#include <cstdlib>

#include "app/unt_main.h"
#include "audio/IAudioEngine.h"
#include "desktop/FileTypes.h"
#include "text/TextUtil.h"
#include "ui/PlayListModel.h"

namespace orvane::app {
namespace {

constexpr const char* kRootInterface = "org.mpris.MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";

// The properties whose changes are announced; Position is not (a client asks for it).
const char* const kAnnounced[] = {"PlaybackStatus", "LoopStatus",    "Metadata", "Volume",  "CanGoNext",
                                  "CanGoPrevious",  "CanPlay",       "CanPause", "CanSeek"};

}  // namespace

// ---- the service

class TMprisService::TCoverRead : public net::TWorker {
 public:
  TCoverRead(std::string location, std::string folder) : Location(std::move(location)), Folder(std::move(folder)) {}
  void Execute() override { Result = ReadSongCover(Location, Folder); }
  const std::string Location;
  const std::string Folder;
  TSongCover Result;
};

TMprisService::TMprisService(TNimMain& window, QObject* parent, std::string coverFolder)
    : QObject(parent), window(window), connection(QString()), coverFolder(std::move(coverFolder)) {
  root = new TMprisRoot(*this);
  player = new TMprisPlayer(*this);
  connect(&window, &TNimMain::playbackChanged, this, &TMprisService::Refresh);
  connect(&window, &TNimMain::playModeChanged, this, &TMprisService::Refresh);
  connect(&window, &TNimMain::volumeChanged, this, &TMprisService::Refresh);
  connect(&window, &TNimMain::seeked, this, &TMprisService::EmitSeeked);
  for (ui::PlayListModel* list : {&window.lstDefault(), &window.lstRndMusic()}) {
    connect(list, &QAbstractItemModel::rowsInserted, this, &TMprisService::Refresh);
    connect(list, &QAbstractItemModel::rowsRemoved, this, &TMprisService::Refresh);
    connect(list, &QAbstractItemModel::modelReset, this, &TMprisService::Refresh);
  }
}

TMprisService::~TMprisService() {
  if (!registered) return;
  connection.unregisterService(QString::fromLatin1(kMprisService));
  connection.unregisterObject(QString::fromLatin1(kMprisPath));
}

bool TMprisService::SessionBusNamed() {
  // Without an address Qt's D-Bus library would try to start a bus of its own for the display.
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address && *address) return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime && *runtime && QFileInfo(QString::fromLocal8Bit(runtime) + QStringLiteral("/bus")).exists();
}

bool TMprisService::Register(QDBusConnection bus) {
  if (registered || !bus.isConnected()) return false;
  if (!bus.registerObject(QString::fromLatin1(kMprisPath), this, QDBusConnection::ExportAdaptors)) return false;
  if (!bus.registerService(QString::fromLatin1(kMprisService))) {
    bus.unregisterObject(QString::fromLatin1(kMprisPath));
    return false;
  }
  connection = bus;
  registered = true;
  for (const char* name : kAnnounced) announced.insert(QString::fromLatin1(name), player->property(name));
  ReadCover();
  return true;
}

QString TMprisService::PlaybackStatus() const {
  switch (window.PlayerState()) {
    case audio::StatePlaying:
      return QStringLiteral("Playing");
    case audio::StatePaused:
      return QStringLiteral("Paused");
    default:
      return QStringLiteral("Stopped");
  }
}

QString TMprisService::LoopStatus() const {
  switch (window.Shell().PlayMode) {
    case PlayMode::LoopList:
      return QStringLiteral("Playlist");
    case PlayMode::RepeatOne:
      return QStringLiteral("Track");
    case PlayMode::Normal:
      break;
  }
  return QStringLiteral("None");
}

namespace {

// The song the desktop is told about: the one that plays or is paused, else the one Play would start.
const TPlayListItem* Track(const TNimMain& window) {
  if (const TPlayListItem* playing = window.PlayingTrack()) return playing;
  return window.CurrentTrack();
}

}  // namespace

QDBusObjectPath TMprisService::TrackId() const {
  const int row = window.PlayingTrack() ? window.PlayingRow() : window.Shell().CurrentIndex;
  if (!Track(window) || row < 0) return QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
  return QDBusObjectPath(
      QStringLiteral("/org/orvane/track/%1_%2_%3").arg(window.TrackSerial()).arg(window.Shell().ActiveList).arg(row));
}

QVariantMap TMprisService::Metadata() const {
  QVariantMap metadata;
  metadata.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(TrackId()));
  const TPlayListItem* track = Track(window);
  if (!track) return metadata;
  const std::string& title = text::Trim(track->Title).empty() ? track->Caption : track->Title;
  metadata.insert(QStringLiteral("xesam:title"), QString::fromStdString(title));
  if (!track->Singer.empty())
    metadata.insert(QStringLiteral("xesam:artist"), QStringList{QString::fromStdString(track->Singer)});
  if (!track->Location.empty())
    metadata.insert(QStringLiteral("xesam:url"), track->Location[0] == '/' ? FileUrlText(track->Location)
                                                                           : QString::fromStdString(track->Location));
  if (CanSeek()) metadata.insert(QStringLiteral("mpris:length"), static_cast<qlonglong>(window.LengthMs()) * 1000);
  if (track->Location == coverLocation) {
    if (!cover.Album.empty()) metadata.insert(QStringLiteral("xesam:album"), QString::fromStdString(cover.Album));
    if (!cover.CoverPath.empty()) metadata.insert(QStringLiteral("mpris:artUrl"), FileUrlText(cover.CoverPath));
  }
  return metadata;
}

double TMprisService::Volume() const { return window.Volume() / 100.0; }

qlonglong TMprisService::Position() const { return static_cast<qlonglong>(window.PositionMs()) * 1000; }

bool TMprisService::HasTracks() const {
  const ui::PlayListModel& list = window.Shell().ActiveList == 1 ? window.lstRndMusic() : window.lstDefault();
  return list.Count() > 0;
}

bool TMprisService::CanSeek() const {
  const int32_t state = window.PlayerState();
  return state == audio::StatePlaying || state == audio::StatePaused;
}

// Announces the properties that differ from what was last announced.
void TMprisService::Refresh() {
  if (!registered) return;
  ReadCover();
  QVariantMap changed;
  for (const char* name : kAnnounced) {
    const QString key = QString::fromLatin1(name);
    const QVariant value = player->property(name);
    if (announced.value(key) == value) continue;
    announced.insert(key, value);
    changed.insert(key, value);
  }
  if (changed.isEmpty()) return;
  QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kMprisPath),
                                                   QStringLiteral("org.freedesktop.DBus.Properties"),
                                                   QStringLiteral("PropertiesChanged"));
  signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList();
  connection.send(signal);
}

void TMprisService::ReadCover() {
  const TPlayListItem* track = Track(window);
  const std::string location = track ? track->Location : std::string();
  if (location == coverLocation) return;
  coverLocation = location;
  cover = {};
  // Only a file on this machine has tags to read; a stream's would mean downloading it again.
  if (location.empty() || location[0] != '/') return;
  workers.Start(std::make_shared<TCoverRead>(location, coverFolder), [this](TCoverRead& read) {
    if (read.Location != coverLocation) return;  // another song by now
    cover = read.Result;
    // Metadata now differs from what was announced.
    Refresh();
  });
}

void TMprisService::EmitSeeked(qint64 positionMs) {
  if (registered) emit player->Seeked(positionMs * 1000);
}

// ---- org.mpris.MediaPlayer2

TMprisRoot::TMprisRoot(TMprisService& service) : QDBusAbstractAdaptor(&service), service(service) {}

QStringList TMprisRoot::SupportedUriSchemes() const {
  return {QStringLiteral("file"), QStringLiteral("http"), QStringLiteral("https")};
}

QStringList TMprisRoot::SupportedMimeTypes() const {
  QStringList types;
  for (const std::string& extension : desktop::FileTypeExtensions())
    for (const std::string& type : desktop::MimeTypesOfExtension(extension))
      if (!types.contains(QString::fromStdString(type))) types.append(QString::fromStdString(type));
  return types;
}

void TMprisRoot::Raise() { service.Window().RestoreWindow(); }

void TMprisRoot::Quit() { service.Window().pmm_closeClick(); }

// ---- org.mpris.MediaPlayer2.Player

TMprisPlayer::TMprisPlayer(TMprisService& service) : QDBusAbstractAdaptor(&service), service(service) {
  setAutoRelaySignals(false);
}

void TMprisPlayer::SetLoopStatus(const QString& status) {
  const int item = status == QLatin1String("None")       ? 0
                   : status == QLatin1String("Playlist") ? 1
                   : status == QLatin1String("Track")    ? 2
                                                         : -1;
  if (item >= 0) service.Window().modBoxChange(item);
}

void TMprisPlayer::SetVolume(double volume) {
  if (!std::isfinite(volume)) return;
  service.Window().tbrVChange(std::clamp(volume, 0.0, 1.0) * 100.0);
}

void TMprisPlayer::Next() { service.Window().btn_nextClick(); }

void TMprisPlayer::Previous() { service.Window().btn_previousClick(); }

void TMprisPlayer::PlayPause() { service.Window().btn_playClick(); }

void TMprisPlayer::Pause() {
  if (service.Window().PlayerState() == audio::StatePlaying) service.Window().btn_playClick();
}

void TMprisPlayer::Play() {
  const int32_t state = service.Window().PlayerState();
  if (state == audio::StatePaused || state == audio::StateStopped || state == audio::StateEnded)
    service.Window().btn_playClick();
}

void TMprisPlayer::Stop() { service.Window().StopPlayback(); }

void TMprisPlayer::Seek(qlonglong offset) {
  if (!service.CanSeek()) return;
  TNimMain& window = service.Window();
  const qlonglong target = static_cast<qlonglong>(window.PositionMs()) + offset / 1000;
  // Past the end means the next song, before the start means the start.
  if (target > window.LengthMs()) {
    window.btn_nextClick();
    return;
  }
  window.SeekTo(static_cast<int32_t>(std::max<qlonglong>(target, 0)));
}

void TMprisPlayer::SetPosition(const QDBusObjectPath& trackId, qlonglong position) {
  if (!service.CanSeek() || trackId != service.TrackId()) return;
  const qlonglong target = position / 1000;
  if (target < 0 || target > service.Window().LengthMs()) return;
  service.Window().SeekTo(static_cast<int32_t>(target));
}

// The file (or stream) is added to the music list and played, as a second start with it does.
void TMprisPlayer::OpenUri(const QString& uri) {
  const QUrl url(uri);
  std::string location;
  if (url.isLocalFile()) location = LocalFileBytes(url);
  else if (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) location = uri.toStdString();
  else return;
  service.Window().WMSharedCommand(CMD_PLAYFILE, location);
}

}  // namespace orvane::app
