// Commands handed over by another start of the player (a file to play or to add) or by a
// cooperating program (lists of online songs).
#include "app/unt_main.h"
#include "net/UYmUrl.h"
#include "text/Legacy.h"
#include "text/TextUtil.h"
#include "ui/PlayListModel.h"

namespace orvane::app {
namespace {

// Bytes of the first UTF-8 character of s (0 for an empty text).
size_t FirstCharacterLength(const std::string& s) {
  if (s.empty()) return 0;
  size_t length = 1;
  while (length < s.size() && (static_cast<unsigned char>(s[length]) & 0xC0) == 0x80) ++length;
  return length;
}

}  // namespace

std::string TNimMain::GetField(const std::string& text, int n, char separator) {
  if (text.empty() || n <= 0) return {};
  size_t start = 0;
  for (int field = 1; field < n; ++field) {
    const size_t next = text.find(separator, start);
    if (next == std::string::npos) return {};
    start = next + 1;
  }
  const size_t end = text.find(separator, start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
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
  std::string list = text;
  if (list.size() >= 2) list.erase(list.size() - 2, 1);
  bool added = false;
  size_t start = 0;
  while (start < list.size()) {
    const size_t comma = list.find(',', start);
    const std::string raw = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    start = comma == std::string::npos ? list.size() : comma + 1;
    std::string item = text::FromLegacy(net::DecodeUrlValue(raw));
    item.erase(0, FirstCharacterLength(item));
    const std::string f1 = GetField(item, 1, '|');
    const std::string f2 = GetField(item, 2, '|');
    const std::string title(text::Trim(GetField(f2, 1, '-')));
    const std::string singer(text::Trim(GetField(f2, 2, '-')));
    AddListItem(*musicList, musicList->Count() + 1, title, singer, shell.Remote.MusicBaseUrl + f1);
    added = true;
    if (shell.ActiveList == 0 || code == CMD_PLAYONLINE) RebuildTrackList(*musicList, true);
  }
  if (code == CMD_PLAYONLINE && added && engine) {
    shell.ActiveList = 0;
    shell.CurrentIndex = k;
    engine->Stop();
    if (IsTrackIndex(shell.CurrentIndex)) engine->Open(trackList[static_cast<size_t>(shell.CurrentIndex)].Location);
  }
  SaveActiveList();
}

}  // namespace orvane::app
