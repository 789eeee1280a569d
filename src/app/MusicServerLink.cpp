// Threads: the worker classes' Execute runs on workers of the link's host with their own copies;
// everything else runs on the main thread (see MusicServerLink.h).
#include "app/MusicServerLink.h"

#include <QDateTime>
#include <QQuickWindow>
#include <algorithm>
#include <optional>

#include "app/Unt_MusicServer.h"
#include "audio/IAudioEngine.h"
#include "net/MusicServerSecret.h"
#include "net/WorkerHost.h"
#include "store/UYmXMLCFG.h"

namespace orvane::app {
namespace {

// A play counts once half of the song or this much of it has played.
constexpr qint64 kCountedAfterMs = 4 * 60 * 1000;
constexpr int kScrobbleCheckMs = 500;

// The password from the keyring and what the server speaks, at start.
class TServerStart : public net::TWorker {
 public:
  TServerStart(net::TMusicServerSession session, std::shared_ptr<net::ISecretStore> secrets, bool lookUp)
      : client(std::move(session)), Secrets(std::move(secrets)), LookUp(lookUp) {}
  void Execute() override {
    net::TMusicServerSession session = client.Session();
    if (LookUp && Secrets) {
      session.Password = Secrets->Lookup({session.Address, session.User}).Password;
      client = net::TSubsonicClient(session);
    }
    Error = client.Connect();
  }

  net::TSubsonicClient client;
  std::shared_ptr<net::ISecretStore> Secrets;
  const bool LookUp;
  net::TServerError Error;
};

}  // namespace

// Storing or forgetting a password: the old login's secret goes first, then the new one is kept.
// One runs at a time, in the order they were asked for (both may touch the same fallback file).
class TMusicServerLink::TSecretJob : public net::TWorker {
 public:
  void Execute() override {
    if (!Secrets) {
      Result.Error = "no password store";
      return;
    }
    if (Forget) Secrets->Forget(*Forget);
    if (Store) Result = Secrets->Store(*Store, Password);
  }

  std::shared_ptr<net::ISecretStore> Secrets;
  std::optional<net::TSecretKey> Forget;
  std::optional<net::TSecretKey> Store;
  std::string Password;
  std::function<void(const net::TSecretResult&)> Done;
  net::TSecretResult Result;
};

namespace {

class TScrobble : public net::TWorker {
 public:
  TScrobble(net::TMusicServerSession session, std::string id, bool submission, int64_t timeMs)
      : client(std::move(session)), Id(std::move(id)), Submission(submission), TimeMs(timeMs) {}
  void Execute() override { Error = client.Scrobble(Id, Submission, TimeMs); }

  net::TSubsonicClient client;
  std::string Id;
  bool Submission;
  int64_t TimeMs;
  net::TServerError Error;
};

bool SameLogin(const net::TMusicServerSession& a, const std::string& address, const std::string& user) {
  return a.Address == address && a.User == user;
}

}  // namespace

TMusicServerLink::TMusicServerLink(TServices services, QObject* parent)
    : QObject(parent), services(std::move(services)), workers(std::make_unique<net::TWorkerHost>()) {
  scrobbleTimer.setInterval(kScrobbleCheckMs);
  connect(&scrobbleTimer, &QTimer::timeout, this, &TMusicServerLink::ScrobbleTick);
}

TMusicServerLink::~TMusicServerLink() {
  // The workers' completions refer to this link: they go first.
  workers.reset();
  dialog.reset();
  closedDialog.reset();
}

void TMusicServerLink::ReadConfig(store::TYkConfig& config) {
  session = {};
  session.Address = net::NormaliseServerAddress(config.ReadString("Window/SERVER", "URL", ""));
  session.User = config.ReadString("Window/SERVER", "USER", "");
  scrobble = config.ReadBool("Window/SERVER", "SCROBBLE", true);
  passwordKnown = false;
}

void TMusicServerLink::WriteConfig(store::TYkConfig& config) const {
  config.WriteString("Window/SERVER", "URL", session.Address);
  config.WriteString("Window/SERVER", "USER", session.User);
  config.WriteBool("Window/SERVER", "SCROBBLE", scrobble);
}

void TMusicServerLink::Start() {
  if (!session.Configured()) return;
  auto start = std::make_shared<TServerStart>(session, services.Secrets, !passwordKnown);
  workers->Start(start, [this](TServerStart& done) { Learned(done.client.Session(), done.LookUp); });
}

void TMusicServerLink::Learned(const net::TMusicServerSession& learned, bool passwordLookedUp) {
  if (!SameLogin(learned, session.Address, session.User)) return;
  if (passwordLookedUp && !passwordKnown) {
    session.Password = learned.Password;
    passwordKnown = true;
  }
  if (learned.Password != session.Password) return;  // learned with a password since replaced
  if (!learned.ApiVersion.empty()) {
    session.ApiVersion = learned.ApiVersion;
    session.TokenRefused = learned.TokenRefused;
    session.OpenSubsonic = learned.OpenSubsonic;
    session.ServerType = learned.ServerType;
    session.ServerVersion = learned.ServerVersion;
    session.SongLyrics = learned.SongLyrics;
  }
}

std::string TMusicServerLink::StreamUrlFor(const std::string& location) const {
  const std::string id = net::ServerSongId(location);
  return id.empty() ? std::string() : net::StreamUrl(session, id);
}

int32_t TMusicServerLink::KnownLengthMs(const std::string& location) const {
  const auto found = lengths.find(location);
  return found == lengths.end() ? 0 : found->second;
}

// Only the last list's songs: the map stays as small as a list however often "换歌" is pressed.
void TMusicServerLink::NoteLengths(const std::vector<net::TRandomListEntry>& entries) {
  lengths.clear();
  for (const net::TRandomListEntry& entry : entries)
    if (entry.LengthMs > 0) lengths[entry.Location] = entry.LengthMs;
}

void TMusicServerLink::PlaybackChanged(int32_t state, const std::string& location, uint64_t trackSerial,
                                       int32_t lengthMs) {
  if (playClock.isValid()) {
    playedMs += playClock.elapsed();
    playClock.invalidate();
  }
  const std::string id = net::ServerSongId(location);
  if (state != audio::StatePlaying) {
    scrobbleTimer.stop();
    // A song that ended between two checks still counts.
    ScrobbleTick();
    // After an end or a stop, the next start of this row (a repeat, a double-click) is a new play;
    // after a pause it is the same one.
    if (state == audio::StateEnded || state == audio::StateStopped) playingSerial = 0;
    return;
  }
  if (id.empty()) {
    playingId.clear();
    scrobbleTimer.stop();
    return;
  }
  if (id != playingId || trackSerial != playingSerial) {
    playingId = id;
    playingSerial = trackSerial;
    playingLengthMs = lengthMs > 0 ? lengthMs : KnownLengthMs(location);
    startedAtMs = QDateTime::currentMSecsSinceEpoch();
    playedMs = 0;
    submitted = false;
    SendScrobble(false);
  }
  playClock.start();
  scrobbleTimer.start();
}

void TMusicServerLink::ScrobbleTick() {
  if (playingId.empty() || submitted) return;
  const qint64 played = playedMs + (playClock.isValid() ? playClock.elapsed() : 0);
  const qint64 due = playingLengthMs > 0 ? std::min<qint64>(playingLengthMs / 2, kCountedAfterMs) : kCountedAfterMs;
  if (played < due) return;
  submitted = true;
  scrobbleTimer.stop();
  SendScrobble(true);
}

void TMusicServerLink::SendScrobble(bool submission) {
  if (!scrobble || !session.Configured() || playingId.empty()) return;
  workers->Start(std::make_shared<TScrobble>(session, playingId, submission, startedAtMs), {});
}

std::function<std::string()> TMusicServerLink::LyricSource(const std::string& location) const {
  const std::string id = net::ServerSongId(location);
  if (id.empty() || !session.SongLyrics) return {};
  return [session = session, id] {
    net::TSubsonicClient client(session);
    std::string lrc;
    client.SyncedLyrics(id, lrc);
    return lrc;
  };
}

void TMusicServerLink::OpenDialog() {
  if (dialog) {
    if (QQuickWindow* shown = dialog->Window()) {
      shown->raise();
      shown->requestActivate();
    }
    return;
  }
  TNimMusicServer::TServices dialogServices;
  dialogServices.Secrets = services.Secrets;
  dialogServices.SceneEngine = services.SceneEngine;
  dialogServices.Save = [this](const std::string& address, const std::string& user, const std::string& password,
                               bool scrobbleOn, std::function<void(const net::TSecretResult&)> done) {
    SaveLogin(address, user, password, scrobbleOn, done);
  };
  dialogServices.Disconnect = [this] { Disconnect(); };
  dialog = std::make_unique<TNimMusicServer>(std::move(dialogServices), session, scrobble);
  // The dialog closes from inside its own handlers: it is freed once they have returned.
  connect(dialog.get(), &TNimMusicServer::closed, this, [this] {
    closedDialog = std::move(dialog);
    QTimer::singleShot(0, this, [this] { closedDialog.reset(); });
  });
  dialog->Show();
}

void TMusicServerLink::RunSecretJob(std::shared_ptr<TSecretJob> job) {
  job->Secrets = services.Secrets;
  secretJobs.push_back(std::move(job));
  if (secretJobs.size() == 1) StartSecretJob();
}

void TMusicServerLink::StartSecretJob() {
  while (!secretJobs.empty()) {
    const bool started = workers->Start(secretJobs.front(), [this](TSecretJob& done) {
      if (done.Done) done.Done(done.Result);
      secretJobs.pop_front();
      StartSecretJob();
    });
    if (started) return;
    if (secretJobs.front()->Done) secretJobs.front()->Done({});
    secretJobs.pop_front();
  }
}

void TMusicServerLink::SaveLogin(const std::string& address, const std::string& user, const std::string& password,
                                 bool scrobbleOn, const std::function<void(const net::TSecretResult&)>& stored) {
  const net::TMusicServerSession old = session;
  auto job = std::make_shared<TSecretJob>();
  // Another server or user: what was kept for the old login goes.
  if (old.Configured() && !SameLogin(old, address, user)) job->Forget = net::TSecretKey{old.Address, old.User};
  job->Store = net::TSecretKey{address, user};
  job->Password = password;
  job->Done = stored;
  if (!SameLogin(old, address, user) || old.Password != password) {
    session = {};
    session.Address = address;
    session.User = user;
  }
  session.Password = password;
  passwordKnown = true;
  scrobble = scrobbleOn;
  if (services.ConfigChanged) services.ConfigChanged();
  emit loginChanged();
  // The password is known now; what the server speaks is still to learn.
  Start();
  RunSecretJob(std::move(job));
}

void TMusicServerLink::Disconnect() {
  if (session.Configured()) {
    auto job = std::make_shared<TSecretJob>();
    job->Forget = net::TSecretKey{session.Address, session.User};
    RunSecretJob(std::move(job));
  }
  session = {};
  passwordKnown = false;
  playingId.clear();
  scrobbleTimer.stop();
  if (services.ConfigChanged) services.ConfigChanged();
  emit loginChanged();
}

void TMusicServerLink::SetScrobble(bool on) {
  if (on == scrobble) return;
  scrobble = on;
  if (services.ConfigChanged) services.ConfigChanged();
}

}  // namespace orvane::app
