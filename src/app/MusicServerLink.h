#pragma once
// The user's music server as the main window uses it: the address and user name from the
// settings, the password from the keyring, what the server said about itself, the stream address
// of a server song when it opens, "now playing" and play counts (scrobbles), synced lyrics, and
// the dialog "连接音乐服务器…".
//
// Threads: the link lives on the main thread. Its requests (the password from the keyring, the
// connection check, scrobbles, storing or forgetting the password) run on workers of its own host
// and report back through completions that are dropped once the link is gone; a completion for a
// login that has since changed is ignored. Scrobbles and lyric requests carry copies of the
// session and touch nothing else.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "net/MusicServer.h"
#include "net/MusicServerSecret.h"
#include "net/RandomList.h"

class QQmlEngine;

namespace orvane::net {
class TWorkerHost;
}
namespace orvane::store {
class TYkConfig;
}

namespace orvane::app {

class TNimMusicServer;

class TMusicServerLink : public QObject {
  Q_OBJECT

 public:
  struct TServices {
    std::shared_ptr<net::ISecretStore> Secrets;  // null: the password is kept for this run only
    std::function<QQmlEngine*()> SceneEngine;    // for the dialog's window; null: no window
    std::function<void()> ConfigChanged;         // the settings should be saved
  };

  explicit TMusicServerLink(TServices services, QObject* parent = nullptr);
  ~TMusicServerLink() override;

  // "Window/SERVER": "URL" and "USER" (never the password), "SCROBBLE".
  void ReadConfig(store::TYkConfig& config);
  void WriteConfig(store::TYkConfig& config) const;

  // At start: the password is fetched from the keyring and the server asked what it speaks.
  void Start();

  bool Configured() const { return session.Configured(); }
  const net::TMusicServerSession& Session() const { return session; }
  bool PasswordKnown() const { return passwordKnown; }
  std::shared_ptr<net::ISecretStore> Secrets() const { return services.Secrets; }
  // What a worker learned (the password it looked up, the API version): kept when it is still
  // this login's.
  void Learned(const net::TMusicServerSession& learned, bool passwordLookedUp);

  // The stream address of a server song's location, with fresh credentials; empty for any other
  // location (and when no server is connected).
  std::string StreamUrlFor(const std::string& location) const;
  // The server's length of a song of the last random list (ms), 0 when unknown.
  int32_t KnownLengthMs(const std::string& location) const;
  void NoteLengths(const std::vector<net::TRandomListEntry>& entries);

  // The engine's state changed (main thread): a server song that starts is announced as playing
  // now, and its play is counted once half of it or four minutes have played.
  void PlaybackChanged(int32_t state, const std::string& location, uint64_t trackSerial, int32_t lengthMs);
  bool Scrobbling() const { return scrobble; }
  bool ScrobbleSubmitted() const { return submitted; }

  // Synced lyrics of a server song from the server itself, when it offers them: a function for the
  // lyric lookup's worker (empty otherwise) that answers the LRC text or "" when there is none.
  std::function<std::string()> LyricSource(const std::string& location) const;

  // The dialog.
  void OpenDialog();
  TNimMusicServer* Dialog() const { return dialog.get(); }
  // What the dialog's "保存" and "断开" do (also for tests).
  void SaveLogin(const std::string& address, const std::string& user, const std::string& password, bool scrobbleOn,
                 const std::function<void(const net::TSecretResult&)>& stored = {});
  void Disconnect();
  void SetScrobble(bool on);

  net::TWorkerHost& Workers() { return *workers; }

 signals:
  // The login changed (saved or disconnected).
  void loginChanged();

 private:
  class TSecretJob;
  void ScrobbleTick();
  void SendScrobble(bool submission);
  void RunSecretJob(std::shared_ptr<TSecretJob> job);
  void StartSecretJob();

  TServices services;
  net::TMusicServerSession session;
  bool passwordKnown = false;
  bool scrobble = true;  // "记录播放次数"
  std::map<std::string, int32_t> lengths;

  // The server song playing now, for the scrobble.
  std::string playingId;
  uint64_t playingSerial = 0;
  int32_t playingLengthMs = 0;
  int64_t startedAtMs = 0;  // since 1970
  qint64 playedMs = 0;
  QElapsedTimer playClock;  // runs while it plays
  bool submitted = false;
  QTimer scrobbleTimer;

  std::unique_ptr<TNimMusicServer> dialog;
  std::unique_ptr<TNimMusicServer> closedDialog;  // freed once its close has returned
  std::deque<std::shared_ptr<TSecretJob>> secretJobs;  // the first one runs
  std::unique_ptr<net::TWorkerHost> workers;
};

}  // namespace orvane::app
