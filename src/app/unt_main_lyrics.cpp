// The desktop lyrics: the automatic lyric lookup, the refresh of the lyrics window, its toolbar,
// the lyric search dialog and the karaoke wipe.
#include <QQmlEngine>
#include <QQuickWindow>
#include <utility>

#include "app/MusicServerLink.h"
#include "app/unt_main.h"
#include "lyrics/OutlinedText.h"
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

bool TNimMain::LyricLookupRunning() const { return localLyricLookups > 0 || lyricThread || waitingLyricDownload; }

std::optional<lyrics::TLyricTrack> TNimMain::CurrentLyricTrack() const {
  if (!IsTrackIndex(shell.CurrentIndex)) return std::nullopt;
  const TPlayListItem& entry = trackList[static_cast<size_t>(shell.CurrentIndex)];
  return lyrics::TLyricTrack{shell.ActiveList, entry.Location, entry.Title, entry.Singer};
}

// A lyric on disk shows at once, whatever else runs: every track that starts has its files looked
// at right away. Only downloads wait for each other, one at a time; while one runs, the latest
// track that needs one waits for its turn, and a result for a row that is no longer the playing
// one is dropped. Provider downloads follow the user's "online lyrics" setting; the product server
// hears of a lookup only when it is online.
void TNimMain::StartLyricLookup() {
  const std::optional<lyrics::TLyricTrack> track = CurrentLyricTrack();
  if (!track) return;
  // A music server's song has the length the server knows; a stream's own may still be a guess.
  const int32_t serverLength = musicServer ? musicServer->KnownLengthMs(track->Location) : 0;
  auto lookup = std::make_shared<lyrics::TLrcTextThread>(
      *track, shell.LyricFolder, shell.OnlineLrc, shell.Remote.OnlineFlag, shell.Remote.LyricUploadUrl,
      lyricDownloader, serverLength > 0 ? serverLength : engine ? engine->GetLength() : 0, lyrics::TLookupStage::Local);
  if (musicServer) lookup->FirstSource = musicServer->LyricSource(track->Location);
  if (workers.Start(lookup, [this](lyrics::TLrcTextThread& done) { LocalLyricLookupDone(done); })) ++localLyricLookups;
}

void TNimMain::LocalLyricLookupDone(lyrics::TLrcTextThread& thread) {
  --localLyricLookups;
  if (!thread.NeedsNetwork) {
    LyricLookupDone(thread);
    return;
  }
  const std::optional<lyrics::TLyricTrack> current = CurrentLyricTrack();
  if (!current || !lyrics::SameRow(lyrics::TrackOf(thread), *current)) return;  // another row's lookup has it
  // A download for this row already under way (the song resumed) brings its lyric.
  if (lyricThread && lyrics::SameRow(lyrics::TrackOf(*lyricThread), *current)) return;
  waitingLyricDownload = std::make_shared<lyrics::TLrcTextThread>(
      lyrics::TrackOf(thread), thread.LyricFolder, thread.DownloadEnabled, thread.NetEnabled, thread.LyricUploadUrl,
      thread.Downloader, thread.TrackLengthMs, lyrics::TLookupStage::Network);
  StartLyricDownload();
}

void TNimMain::StartLyricDownload() {
  if (lyricThread || !waitingLyricDownload) return;
  const std::shared_ptr<lyrics::TLrcTextThread> next = std::exchange(waitingLyricDownload, nullptr);
  const std::optional<lyrics::TLyricTrack> current = CurrentLyricTrack();
  if (!current || !lyrics::SameRow(lyrics::TrackOf(*next), *current)) return;
  if (workers.Start(next, [this](lyrics::TLrcTextThread& done) {
        lyricThread.reset();
        LyricLookupDone(done);
        StartLyricDownload();
      }))
    lyricThread = next;
}

// A result for a row that is no longer playing is dropped: that row's own lookup, started when
// the row began to play, brings the lyric that belongs to it.
void TNimMain::LyricLookupDone(lyrics::TLrcTextThread& thread) {
  const int32_t length = engine ? engine->GetLength() : 0;
  const auto done = lyrics::LyricLookupDone(thread, CurrentLyricTrack(), length, shell.LyricFolder, lrcDoc);
  // The lyric shows now, not at the next refresh.
  if (!done.Stale && showLrc) RefreshDesktopLyric();
}

bool TNimMain::FitsDesktopLyric(const std::string& text) {
  if (!deskLrc) return false;
  // Measured once per line, not on every step of the wipe.
  if (text != lyricFit.Text || deskLrc->width() != lyricFit.Width) {
    lyricFit.Text = text;
    lyricFit.Width = deskLrc->width();
    lyricFit.Fits = lyrics::FitsOneLine(lyricFit.Width, text, lyrics::TNimDeskTopLrc::FontName,
                                        lyrics::TNimDeskTopLrc::FontSize);
  }
  return lyricFit.Fits;
}

lyrics::TLrcClass::TDisplayLine TNimMain::DesktopLine() {
  return lrcDoc.CurrentDisplay([this](const std::string& text) { return FitsDesktopLyric(text); });
}

void TNimMain::RefreshDesktopLyric() {
  lrcDoc.SetPosition(engine ? engine->GetPosition() : 0);
  lyrics::TLrcClass::TDisplayLine shown = DesktopLine();
  std::string& line = shown.Text;
  if (text::Trim(line).empty()) line = ". . .";
  else if (line == lyrics::TLrcClass::kClosingLineText) line = WelcomeText().toStdString();
  else if (line == lyrics::TLrcClass::kInstrumentalText) line = tr("纯音乐，请欣赏").toStdString();
  if (!deskLrc) return;
  deskLrc->ShowText(line);
  if (karaoke) {
    deskLrc->SetLineTiming(shown.Timing);
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
    deskLrc->SetLineTiming(on ? DesktopLine().Timing : std::nullopt);
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
