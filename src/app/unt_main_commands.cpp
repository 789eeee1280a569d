// Commands handed over by another start of the player (a file to play or to add) or by a
// cooperating program (lists of online songs).
#include "app/OnlineSongList.h"
#include "app/unt_main.h"
#include "ui/PlayListModel.h"

namespace orvane::app {

std::string TNimMain::GetField(const std::string& text, int n, char separator) {
  return app::GetField(text, n, separator);
}

void TNimMain::WMSharedCommand(uint8_t code, const std::string& text, int32_t lParam) {
  if (lParam != 1) return;
  if (code == CMD_PLAYFILE || code == CMD_APPENDFILE) {
    const int n = musicList->Count();
    audio::TTags tags;
    if (engine) engine->ReadTags(text, tags);
    AddListItem(*musicList, n + 1, TitleForFile(text, tags), tags.Artist, text);
    const bool connecting = engine && engine->State() == audio::StateConnecting;
    if (code == CMD_PLAYFILE && !connecting && engine) {
      NoteUserAction();
      shell.ActiveList = 0;
      engine->Stop();
      RebuildTrackList(*musicList, true);
      shell.CurrentIndex = musicList->Count() - 1;
      engine->Open(trackList[static_cast<size_t>(shell.CurrentIndex)].Location);
    } else if (shell.ActiveList == 0) {
      RebuildTrackList(*musicList, true);
    }
    SaveActiveList();
    return;
  }
  if (code != CMD_PLAYONLINE && code != CMD_APPENDONLINE) return;
  const int k = musicList->Count();
  const std::vector<TOnlineSong> songs = ParseOnlineSongList(text, shell.Remote.MusicBaseUrl);
  for (const TOnlineSong& song : songs)
    AddListItem(*musicList, musicList->Count() + 1, song.Title, song.Singer, song.Location);
  if (!songs.empty() && (shell.ActiveList == 0 || code == CMD_PLAYONLINE)) RebuildTrackList(*musicList, true);
  if (code == CMD_PLAYONLINE && !songs.empty() && engine) {
    NoteUserAction();
    shell.ActiveList = 0;
    shell.CurrentIndex = k;
    engine->Stop();
    if (IsTrackIndex(shell.CurrentIndex)) engine->Open(trackList[static_cast<size_t>(shell.CurrentIndex)].Location);
  }
  SaveActiveList();
}

}  // namespace orvane::app
