// The desktop lyrics: the automatic lyric lookup, the refresh of the lyrics window, its toolbar,
// the lyric search dialog and the karaoke wipe.
#include <QQmlEngine>
#include <QQuickWindow>

#include "app/MusicServerLink.h"
#include "app/unt_main.h"
#include "lyrics/UntLrcThread.h"
#include "lyrics/Unt_Dlrc.h"
#include "lyrics/Unt_DlrcButton.h"
#include "lyrics/Unt_Slrc.h"
#include "text/TextUtil.h"

namespace orvane::app {
namespace {

constexpr int32_t kOffsetStepMs = 500;
// The wipe moves about 28 times a second (a little above the 25 that look smooth, so a late timer
// does not drop below them); each step repaints only the few pixels the boundary moved.
constexpr int kKaraokeFrameMs = 36;

}  // namespace

bool TNimMain::LyricLookupRunning() const { return lyricThread != nullptr; }

std::optional<lyrics::TLyricTrack> TNimMain::CurrentLyricTrack() const {
  if (!IsTrackIndex(shell.CurrentIndex)) return std::nullopt;
  const TPlayListItem& entry = trackList[static_cast<size_t>(shell.CurrentIndex)];
  return lyrics::TLyricTrack{shell.ActiveList, entry.Location, entry.Title, entry.Singer};
}

// One lookup at a time: while one runs, a track that starts playing waits for it to end; a result
// for a row that is no longer the playing one is dropped and the lookup starts again for the row
// that is. Provider downloads follow the user's "online lyrics" setting; the product server hears of
// a lookup only when it is online.
void TNimMain::StartLyricLookup() {
  if (lyricThread) return;
  const std::optional<lyrics::TLyricTrack> track = CurrentLyricTrack();
  if (!track) return;
  auto lookup = std::make_shared<lyrics::TLrcTextThread>(*track, shell.LyricFolder, shell.OnlineLrc,
                                                         shell.Remote.OnlineFlag, shell.Remote.LyricUploadUrl,
                                                         lyricDownloader);
  if (musicServer) lookup->FirstSource = musicServer->LyricSource(track->Location);
  if (workers.Start(lookup, [this](lyrics::TLrcTextThread& done) { LyricLookupDone(done); })) lyricThread = lookup;
}

void TNimMain::LyricLookupDone(lyrics::TLrcTextThread& thread) {
  lyricThread.reset();
  const int32_t length = engine ? engine->GetLength() : 0;
  const auto done = lyrics::LyricLookupDone(thread, CurrentLyricTrack(), length, shell.LyricFolder, lrcDoc);
  if (done.Stale && engine && engine->State() == audio::StatePlaying) StartLyricLookup();
}

void TNimMain::RefreshDesktopLyric() {
  lrcDoc.SetPosition(engine ? engine->GetPosition() : 0);
  std::string line = lrcDoc.CurrentLine();
  if (text::Trim(line).empty()) line = ". . .";
  else if (line == lyrics::TLrcClass::kClosingLineText) line = WelcomeText().toStdString();
  if (!deskLrc) return;
  deskLrc->ShowText(line);
  if (karaoke) {
    deskLrc->SetLineTiming(lrcDoc.CurrentTiming());
    deskLrc->SetSungPosition(lrcDoc.Position());
  }
  UpdateKaraokeTimer();
}

// The wipe's timer runs only while a line is being sung where it can be seen.
void TNimMain::UpdateKaraokeTimer() {
  const bool moving = karaoke && showLrc && deskLrc && deskLrc->isVisible() && deskLrc->Wiping() && engine &&
                      engine->State() == audio::StatePlaying;
  if (!moving) karaokeTimer.stop();
  else if (!karaokeTimer.isActive()) karaokeTimer.start();
}

void TNimMain::InitLyricTimers() {
  karaokeTimer.setInterval(kKaraokeFrameMs);
  connect(&karaokeTimer, &QTimer::timeout, this, &TNimMain::RefreshDesktopLyric);
}

// The desktop lyrics window and its toolbar, both hidden; the window shows when "显示歌词" is on.
void TNimMain::CreateDesktopLyrics() {
  if (!services.CreateDeskLrc) return;
  deskLrc = std::make_unique<lyrics::TNimDeskTopLrc>();
  deskLrc->ShowText(WelcomeText().toStdString());
  lyrics::TNimDlrcButton::THandlers handlers;
  handlers.Back = [this] { LyricOffsetBy(-kOffsetStepMs); };
  handlers.Forward = [this] { LyricOffsetBy(kOffsetStepMs); };
  handlers.Search = [this] { OpenLyricSearch(); };
  handlers.Close = [this] { CloseDesktopLyrics(); };
  handlers.Karaoke = [this] { SetKaraoke(!karaoke); };
  dlrcButton = std::make_unique<lyrics::TNimDlrcButton>(*deskLrc, [this] { return LyricSceneEngine(); },
                                                        std::move(handlers));
  connect(deskLrc.get(), &lyrics::TNimDeskTopLrc::pointerOverText, dlrcButton.get(),
          &lyrics::TNimDlrcButton::ShowFromLyrics);
  deskLrc->SetKaraoke(karaoke);
  dlrcButton->SetKaraoke(karaoke);
  if (showLrc) deskLrc->show();
}

void TNimMain::SetKaraoke(bool on) {
  const bool changed = on != karaoke;
  karaoke = on;
  if (deskLrc) {
    deskLrc->SetKaraoke(on);
    // The line on show gets its timing now, not at the next refresh.
    deskLrc->SetLineTiming(on ? lrcDoc.CurrentTiming() : std::nullopt);
    deskLrc->SetSungPosition(engine ? engine->GetPosition() : 0);
  }
  if (dlrcButton) dlrcButton->SetKaraoke(on);
  UpdateKaraokeTimer();
  if (changed) ConfigChanged();
}

void TNimMain::btn_lrcClick() {
  if (dlrcButton && dlrcButton->IsVisible()) dlrcButton->Close();
  showLrc = !showLrc;
  emit showLrcChanged();
  // The window follows the check box, so the two cannot drift apart.
  if (deskLrc) deskLrc->setVisible(showLrc);
  UpdateKaraokeTimer();
  ConfigChanged();
}

void TNimMain::LyricOffsetBy(int32_t ms) { lrcDoc.SetOffset(lrcDoc.Offset() + ms); }

void TNimMain::CloseDesktopLyrics() {
  if (showLrc) {
    showLrc = false;
    emit showLrcChanged();
    ConfigChanged();
  }
  if (deskLrc) deskLrc->hide();
  if (dlrcButton) dlrcButton->Close();
  UpdateKaraokeTimer();
}

void TNimMain::OpenLyricSearch() {
  if (searchDialog) {
    if (QQuickWindow* shown = searchDialog->Window()) {
      shown->raise();
      shown->requestActivate();
    }
    return;
  }
  const std::optional<lyrics::TLyricTrack> track = CurrentLyricTrack();
  if (!track) return;  // no current track: nothing to name the lyric after
  lyrics::TNimSlrc::TServices services;
  services.Downloader = lyricDownloader;
  services.LrcDoc = &lrcDoc;
  services.CurrentTrack = [this] { return CurrentLyricTrack(); };
  services.LyricFolder = [this] { return shell.LyricFolder; };
  services.SceneEngine = [this] { return LyricSceneEngine(); };
  searchDialog = std::make_unique<lyrics::TNimSlrc>(std::move(services));
  searchDialog->SetTitle(QString::fromStdString(track->Title));
  searchDialog->SetSinger(QString::fromStdString(track->Singer));
  connect(searchDialog.get(), &lyrics::TNimSlrc::downloadFinished, this,
          [this](const lyrics::TSearchDownloadDoneResult& done) {
            // A downloaded lyric shows at once.
            if (done.Loaded && showLrc) RefreshDesktopLyric();
          });
  // The dialog closes from inside its own handlers: it is freed once they have returned.
  connect(searchDialog.get(), &lyrics::TNimSlrc::closed, this, [this] {
    closedSearchDialog = std::move(searchDialog);
    QTimer::singleShot(0, this, [this] { closedSearchDialog.reset(); });
  });
  searchDialog->Show();
}

QQmlEngine* TNimMain::LyricSceneEngine() {
  if (!lyricScene) lyricScene = std::make_unique<QQmlEngine>();
  return lyricScene.get();
}

}  // namespace orvane::app
