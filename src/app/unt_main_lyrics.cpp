// The automatic lyric lookup and the desktop lyric's refresh.
#include "app/unt_main.h"
#include "lyrics/UntLrcThread.h"
#include "lyrics/Unt_Dlrc.h"
#include "text/TextUtil.h"

namespace orvane::app {

bool TNimMain::LyricLookupRunning() const { return lyricThread != nullptr; }

lyrics::TLyricTrack TNimMain::CurrentLyricTrack() const {
  if (!IsTrackIndex(shell.CurrentIndex)) return {0, {}, {}, {}};
  const TPlayListItem& entry = trackList[static_cast<size_t>(shell.CurrentIndex)];
  return {trackSerial, entry.Location, entry.Title, entry.Singer};
}

// One lookup at a time: while one runs, a track that starts playing waits for it to end; a result
// that arrives for another track than the current one is dropped and the lookup starts again.
void TNimMain::StartLyricLookup() {
  if (lyricThread || !IsTrackIndex(shell.CurrentIndex)) return;
  auto lookup = std::make_shared<lyrics::TLrcTextThread>(CurrentLyricTrack(), shell.LyricFolder,
                                                         shell.Remote.OnlineFlag, shell.Remote.LyricUploadUrl,
                                                         lyricDownloader);
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
  if (deskLrc) deskLrc->ShowText(line);
}

}  // namespace orvane::app
