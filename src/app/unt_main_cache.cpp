// The song cache of streamed songs: names prepared while the engine connects, blocks written as
// they download, and the entry pointed at the finished file.
#include "app/unt_main.h"
#include "audio/SongCache.h"
#include "ui/PlayListModel.h"

namespace orvane::app {

void TNimMain::PrepareSongCache() {
  if (!songCache || !IsTrackIndex(shell.CurrentIndex)) return;
  const TPlayListItem& entry = trackList[static_cast<size_t>(shell.CurrentIndex)];
  songCache->Prepare(shell.MusicFolder, entry.Caption, shell.CurrentIndex, entry.Location);
}

// Download thread: only the cache is touched here.
void TNimMain::EngineDownloadData(const void* buffer, uint32_t length, void* /*user*/) {
  if (songCache) songCache->DownloadData(buffer, length);
}

// Main thread. The list may have changed while the song downloaded: only the entry the download was
// for, still holding the URL, is pointed at the file.
void TNimMain::SongCached(const audio::TCachedSong& song) {
  if (!IsTrackIndex(song.Index)) return;
  if (trackList[static_cast<size_t>(song.Index)].Location != song.Location) return;
  // The mirror is the active view's rows: pointing the row at the file points the entry at it too.
  ui::PlayListModel& view = ActiveView();
  if (song.Index < view.Count() && view.Item(song.Index).Location == song.Location) {
    view.SetLocation(song.Index, song.TargetPath);
    SaveActiveList();
  }
}

}  // namespace orvane::app
