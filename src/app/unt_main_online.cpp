// The update check's completion, the usage report, the random-listening list and its sources (the
// product's server, the user's music server, the Music folder), and the music server's link.
//
// Threads: TRandomListFetch::Execute runs on a worker with copies of everything it reads (the
// session, the folder, the extensions, the decoder check, which is safe on any thread); everything
// else here runs on the main thread, where the fetch's completion applies what it found.
#include <QStandardPaths>
#include <algorithm>
#include <climits>

#include "app/MusicServerLink.h"
#include "app/UntAddFiles.h"
#include "app/Unt_MusicServer.h"
#include "app/unt_main.h"
#include "audio/AudioEngine.h"
#include "net/Hosts.h"
#include "net/MusicFolderSongs.h"
#include "net/MusicServer.h"
#include "net/MusicServerSecret.h"
#include "net/RandomList.h"
#include "net/UntCkUpThread.h"
#include "net/UntPostThread.h"
#include "ui/PlayListModel.h"

namespace orvane::app {

constexpr int kRandomSongCount = 20;

// One fetch of a random list, off the main thread, so a slow server or a big Music folder never
// freezes the window. The source is chosen on the main thread; the worker has copies of all it
// needs.
class TRandomListFetch : public net::TWorker {
 public:
  enum class TSource { ProductServer, MusicServer, MusicFolder };

  void Execute() override {
    switch (Source) {
      case TSource::ProductServer:
        Entries = net::FetchRandomList(Url, MusicBaseUrl);
        return;
      case TSource::MusicServer:
        FromMusicServer();
        return;
      case TSource::MusicFolder:
        FromMusicFolder();
        return;
    }
  }

  TSource Source = TSource::ProductServer;
  // The product's server.
  std::string Url;
  std::string MusicBaseUrl;
  // The music server: the session, and where its password is while it is not known yet.
  net::TMusicServerSession Session;
  std::shared_ptr<net::ISecretStore> Secrets;
  bool LookUpPassword = false;
  // The Music folder.
  std::string Folder;
  std::vector<std::string> Extensions;
  std::function<bool(const std::string&)> Decodes;

  std::vector<net::TRandomListEntry> Entries;
  net::TServerError Error;

 private:
  void FromMusicServer() {
    if (LookUpPassword && Secrets) Session.Password = Secrets->Lookup({Session.Address, Session.User}).Password;
    net::TSubsonicClient client(Session);
    std::vector<net::TServerSong> songs;
    Error = client.RandomSongs(kRandomSongCount, songs);
    Session = client.Session();
    for (const net::TServerSong& song : songs)
      Entries.push_back({song.Title, song.Artist, net::ServerSongLocation(song.Id), song.DurationSeconds * 1000});
  }

  void FromMusicFolder() {
    const net::TFolderPick pick = net::PickRandomSongFiles(Folder, Extensions, kRandomSongCount, Decodes);
    for (const std::string& path : pick.Files) {
      const audio::TTags tags = audio::ReadFileTags(path);
      // A length read from a damaged header may be anything.
      const double lengthMs = std::clamp(tags.Duration * 86400000.0, 0.0, static_cast<double>(INT32_MAX));
      Entries.push_back({TNimMain::TitleForFile(path, tags), tags.Artist, path, static_cast<int32_t>(lengthMs)});
    }
  }
};

void TNimMain::StartUpdateCheck() {
  if (!services.StartUpdateCheck) return;
  auto check = std::make_shared<net::TCheckUPDate>();
  if (workers.Start(check, [this](net::TCheckUPDate& done) { UpdateChecked(done); })) updateThread = check;
}

void TNimMain::UpdateChecked(net::TCheckUPDate& check) {
  const auto runner = [this](const std::string& commandLine) {
    return services.RunCommandLine && services.RunCommandLine(commandLine, 0);
  };
  const net::TUpdateCheckedActions actions =
      net::UpdateChecked(check, shell.Remote, shell.AppFolder, MainWindowHandle(), runner);
  if (engine) engine->SetMusicBaseUrl(shell.Remote.MusicBaseUrl);
  if (actions.StartReportTimer) {
    chkTimer.setInterval(actions.ReportTimerIntervalMs);
    chkTimer.start();
  }
  updateThread.reset();
}

void TNimMain::tmr_chkTimer() {
  if (!shell.Remote.OnlineFlag) return;
  if (shell.RunTL && services.OpenUrl) services.OpenUrl("http://" + net::SiblingHost());
  auto report = std::make_shared<net::TPostThr>(shell.Remote.ReportUrl, net::ReportBody(net::GetAdapterAddress(0)),
                                                reportLock);
  if (workers.Start(report, [this](net::TPostThr&) { ReportSent(); })) reportThread = report;
  chkTimer.stop();
}

void TNimMain::ReportSent() { reportThread.reset(); }

// The first source there is: the product's server when its remote configuration names a random
// list, else the music server the user connected, else the Music folder.
std::shared_ptr<TRandomListFetch> TNimMain::MakeRandomListFetch() {
  auto fetch = std::make_shared<TRandomListFetch>();
  if (!shell.Remote.RandomListUrl.empty()) {
    fetch->Source = TRandomListFetch::TSource::ProductServer;
    fetch->Url = shell.Remote.RandomListUrl;
    fetch->MusicBaseUrl = shell.Remote.MusicBaseUrl;
  } else if (musicServer && musicServer->Configured()) {
    fetch->Source = TRandomListFetch::TSource::MusicServer;
    fetch->Session = musicServer->Session();
    fetch->Secrets = musicServer->Secrets();
    fetch->LookUpPassword = !musicServer->PasswordKnown();
  } else {
    fetch->Source = TRandomListFetch::TSource::MusicFolder;
    fetch->Folder = QStandardPaths::writableLocation(QStandardPaths::MusicLocation).toStdString();
    fetch->Extensions = FilterExtensions(engine ? engine->FileFilter() : std::string());
    fetch->Decodes = services.DecoderOpens;
  }
  return fetch;
}

// Fetches a new random list; the result replaces the list on the main thread. A fetch that a newer
// one has overtaken is dropped. One that arrives after the user started another song or changed
// the tab only refreshes the random list, and not even that while its old songs are playing.
void TNimMain::pmf_rndmusicClick() {
  const uint64_t serial = ++fetchCounter;
  const uint64_t userAction = userActionSerial;
  auto fetch = MakeRandomListFetch();
  const bool started = workers.Start(fetch, [this, serial, userAction](TRandomListFetch& done) {
    if (serial != randomFetchSerial) return;
    randomFetchSerial = 0;
    RandomListFetched(done, userAction);
  });
  if (!started) return;
  randomFetchSerial = serial;
  SetRndMsg(tr("正在寻找歌曲…"), false);
}

// A fetch that brings nothing leaves the list and what plays alone, and says why and what to do.
void TNimMain::RandomListFetched(TRandomListFetch& fetch, uint64_t userAction) {
  const bool fromServer = fetch.Source == TRandomListFetch::TSource::MusicServer;
  if (fromServer) musicServer->Learned(fetch.Session, fetch.LookUpPassword);
  if (fetch.Entries.empty()) {
    if (fromServer && !fetch.Error.Ok())
      SetRndMsg(tr("无法连接音乐服务器：%1").arg(TNimMusicServer::ErrorText(fetch.Error)), true);
    else if (fromServer)
      SetRndMsg(tr("音乐服务器上没有找到歌曲"), true);
    else
      SetRndMsg(tr("没有找到可以随便听听的歌曲：在菜单“连接音乐服务器…”中连接服务器，或把歌曲放进音乐文件夹"), true);
    return;
  }
  SetRndMsg({}, false);
  if (musicServer) musicServer->NoteLengths(fetch.Entries);
  if (userAction == userActionSerial) ApplyRandomList(fetch.Entries);
  else if (shell.ActiveList != 1) FillRandomList(fetch.Entries);
}

void TNimMain::FillRandomList(const std::vector<net::TRandomListEntry>& entries) {
  rndList->Clear();
  std::vector<ui::PlayListRow> rows;
  rows.reserve(entries.size());
  int number = 0;
  for (const net::TRandomListEntry& entry : entries)
    rows.push_back({std::to_string(++number), ui::PlayListModel::MakeCaption(entry.Title, entry.Singer), entry.Title,
                    entry.Singer, entry.Location, false});
  rndList->AddRows(std::move(rows));
  // Saved at once, as every list change is, so nothing waits for the close to reach the disk.
  SaveList(1);
}

void TNimMain::ApplyRandomList(const std::vector<net::TRandomListEntry>& entries) {
  if (engine) engine->Stop();
  FillRandomList(entries);
  RebuildTrackList(*rndList, true);
  if (engine && engine->State() == audio::StateConnecting) return;
  shell.CurrentIndex = 0;
  if (trackList.empty()) return;
  if (engine) engine->Open(trackList[0].Location);
  shell.ActiveList = 1;
}

void TNimMain::SetRndMsg(const QString& text, bool offersServer) {
  if (text == rndMsgText && offersServer == rndMsgOffersServer) return;
  rndMsgText = text;
  rndMsgOffersServer = offersServer;
  emit rndMsgChanged();
}

// The scene dismisses the message over a filled list once it has been read.
void TNimMain::rndMsgShown() {
  if (randomFetchSerial == 0) SetRndMsg({}, false);
}

// ---- the music server

void TNimMain::InitMusicServer() {
  TMusicServerLink::TServices linkServices;
  if (services.CreateSecretStore) linkServices.Secrets = services.CreateSecretStore(shell.DataFolder);
  linkServices.SceneEngine = [this] { return LyricSceneEngine(); };
  linkServices.ConfigChanged = [this] { ConfigChanged(); };
  musicServer = std::make_unique<TMusicServerLink>(std::move(linkServices));
  connect(this, &TNimMain::playbackChanged, this, &TNimMain::ServerPlaybackChanged);
  // Another server's songs are not this one's: what the tab said about the old one is past.
  connect(musicServer.get(), &TMusicServerLink::loginChanged, this, [this] {
    if (randomFetchSerial == 0) SetRndMsg({}, false);
  });
}

void TNimMain::ServerPlaybackChanged() {
  if (!musicServer) return;
  const TPlayListItem* track = CurrentTrack();
  musicServer->PlaybackChanged(PlayerState(), track ? track->Location : std::string(), trackSerial, LengthMs());
}

void TNimMain::pmm_serverClick() {
  if (musicServer) musicServer->OpenDialog();
}

}  // namespace orvane::app
