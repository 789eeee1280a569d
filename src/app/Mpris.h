#pragma once
// The player on the session bus as "org.mpris.MediaPlayer2.orvane" (MPRIS 2), so media keys,
// desktop widgets and tools such as playerctl drive it. Every call goes through the main window's
// own handlers (the play button's, the volume slider's, the play-mode box's, "退出"…), and the
// window's signals are turned into PropertiesChanged and Seeked. Nothing polls: the position is
// read when asked for. The metadata also carries the song's album and its cover (the picture in
// its tags, as a file in the cache folder), read on a worker when another song comes up.
//
// Threads: main thread only (QtDBus delivers calls to the main thread's event loop), except the
// cover's read, which hands its result back through a queued call.

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <string>

#include "app/SongCover.h"
#include "net/WorkerHost.h"

namespace orvane::app {

class TNimMain;

inline constexpr const char* kMprisService = "org.mpris.MediaPlayer2.orvane";
inline constexpr const char* kMprisPath = "/org/mpris/MediaPlayer2";

class TMprisService : public QObject {
  Q_OBJECT
 public:
  // coverFolder: where the songs' covers are written for the desktop to load.
  explicit TMprisService(TNimMain& window, QObject* parent = nullptr, std::string coverFolder = CoverFolder());
  ~TMprisService() override;

  // Exports the player on connection and takes the service name. False, with nothing said, when
  // there is no bus or the name is taken.
  bool Register(QDBusConnection connection);
  // The session bus when the environment names one (a desktop session); never starts one.
  static bool SessionBusNamed();

  TNimMain& Window() { return window; }
  // The values of the player's properties as they are now.
  QString PlaybackStatus() const;
  QString LoopStatus() const;
  QVariantMap Metadata() const;
  double Volume() const;
  qlonglong Position() const;
  bool HasTracks() const;
  bool CanSeek() const;
  QDBusObjectPath TrackId() const;

 private:
  void Refresh();
  void EmitSeeked(qint64 positionMs);
  // Starts reading the album and cover of the song the metadata is about, when it is another song
  // than the last one read.
  void ReadCover();

  class TCoverRead;

  TNimMain& window;
  class TMprisRoot* root = nullptr;
  class TMprisPlayer* player = nullptr;
  QDBusConnection connection;
  bool registered = false;
  QVariantMap announced;  // the changeable properties as last announced
  std::string coverFolder;
  std::string coverLocation;  // the song the cover below is (or is being read) for
  TSongCover cover;
  net::TWorkerHost workers;   // last: a read still under way is dropped first
};

// org.mpris.MediaPlayer2
class TMprisRoot : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ CanQuit)
  Q_PROPERTY(bool CanRaise READ CanRaise)
  Q_PROPERTY(bool HasTrackList READ HasTrackList)
  Q_PROPERTY(QString Identity READ Identity)
  Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
 public:
  explicit TMprisRoot(TMprisService& service);
  bool CanQuit() const { return true; }
  bool CanRaise() const { return true; }
  bool HasTrackList() const { return false; }
  QString Identity() const { return QStringLiteral("Orvane"); }
  QString DesktopEntry() const { return QStringLiteral("orvane"); }
  QStringList SupportedUriSchemes() const;
  QStringList SupportedMimeTypes() const;

 public slots:
  void Raise();
  void Quit();

 private:
  TMprisService& service;
};

// org.mpris.MediaPlayer2.Player
class TMprisPlayer : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
  Q_PROPERTY(QString LoopStatus READ LoopStatus WRITE SetLoopStatus)
  Q_PROPERTY(double Rate READ Rate WRITE SetRate)
  Q_PROPERTY(bool Shuffle READ Shuffle WRITE SetShuffle)
  Q_PROPERTY(QVariantMap Metadata READ Metadata)
  Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
  Q_PROPERTY(qlonglong Position READ Position)
  Q_PROPERTY(double MinimumRate READ Rate)
  Q_PROPERTY(double MaximumRate READ Rate)
  Q_PROPERTY(bool CanGoNext READ HasTracks)
  Q_PROPERTY(bool CanGoPrevious READ HasTracks)
  Q_PROPERTY(bool CanPlay READ HasTracks)
  Q_PROPERTY(bool CanPause READ HasTracks)
  Q_PROPERTY(bool CanSeek READ CanSeek)
  Q_PROPERTY(bool CanControl READ CanControl)
 public:
  explicit TMprisPlayer(TMprisService& service);
  QString PlaybackStatus() const { return service.PlaybackStatus(); }
  QString LoopStatus() const { return service.LoopStatus(); }
  void SetLoopStatus(const QString& status);
  double Rate() const { return 1.0; }
  void SetRate(double) {}       // one speed only
  bool Shuffle() const { return false; }
  void SetShuffle(bool) {}      // the player has no shuffle
  QVariantMap Metadata() const { return service.Metadata(); }
  double Volume() const { return service.Volume(); }
  void SetVolume(double volume);
  qlonglong Position() const { return service.Position(); }
  bool HasTracks() const { return service.HasTracks(); }
  bool CanSeek() const { return service.CanSeek(); }
  bool CanControl() const { return true; }

 public slots:
  void Next();
  void Previous();
  void Pause();
  void PlayPause();
  void Stop();
  void Play();
  void Seek(qlonglong Offset);
  void SetPosition(const QDBusObjectPath& TrackId, qlonglong Position);
  void OpenUri(const QString& Uri);

 signals:
  void Seeked(qlonglong Position);

 private:
  TMprisService& service;
};

}  // namespace orvane::app
