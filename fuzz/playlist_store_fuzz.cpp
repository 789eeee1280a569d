// The playlist file through both readers: the streaming start-up reader and the store agree on
// every file the streaming reader accepts, and a list rewritten by the store saves and reloads,
// written straight from the songs just as it is when built as elements.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "store/PlaylistReader.h"
#include "store/UYmPlayerlist.h"
#include "text/AtomicFile.h"

using orvane::fuzz::Check;
using orvane::store::TPList;
using orvane::store::TYkPlist;

namespace {

bool Same(const std::vector<TPList>& a, const std::vector<TPList>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].Title != b[i].Title || a[i].Artist != b[i].Artist || a[i].Path != b[i].Path || a[i].Url != b[i].Url ||
        !(a[i].Ltime == b[i].Ltime || (a[i].Ltime != a[i].Ltime && b[i].Ltime != b[i].Ltime)))
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = orvane::fuzz::ScratchFolder() + "Default.pls";
  Check(orvane::text::AtomicWriteFile(file, std::string(reinterpret_cast<const char*>(data), size)), "input written");
  std::vector<std::vector<TPList>> streamed;
  const bool streamedOk = orvane::store::ReadPlaylistLists(file, {"PlayerList", "RndList"}, streamed);
  std::string movedAside;
  std::vector<TPList> music;
  const TPList added{"镕 歌", "\xF0\x9F\x8E\xB5", "/音乐/a.mp3", "0", 0};
  {
    TYkPlist plist(file, "DefaultList");
    movedAside = plist.MovedAsidePath();
    Check(!streamedOk || !plist.MovedAside(), "what the start-up reader accepts, the store loads");
    plist.Load("PlayerList");
    music = plist.Items();
    plist.Clear();
    plist.Load("RndList");
    if (streamedOk) Check(Same(streamed[0], music) && Same(streamed[1], plist.Items()), "both readers read the same songs");
    plist.ClearList("PlayerList");
    for (const TPList& song : music) plist.AddItem("PlayerList/LIST", song.Title, song.Artist, "0", song.Path, 0);
    plist.AddItem("PlayerList/LIST", added.Title, added.Artist, "0", added.Path, 0);
    std::string error;
    Check(plist.Save(&error), "a loaded or fresh playlist saves");
  }
  {
    TYkPlist again(file, "DefaultList");
    Check(!again.MovedAside(), "a saved playlist loads again");
    again.Load("PlayerList");
    Check(again.Count() == static_cast<int32_t>(music.size()) + 1, "every song is saved");
    Check(again.Item(again.Count() - 1)->Title == "镕 歌", "an added song reads back");
  }

  const std::string rewritten = orvane::fuzz::ScratchFolder() + "Rewritten.pls";
  Check(orvane::text::AtomicWriteFile(rewritten, std::string(reinterpret_cast<const char*>(data), size)), "input written");
  std::string rewrittenMovedAside;
  music.push_back(added);
  {
    TYkPlist plist(rewritten, "DefaultList", "PlayerList");
    rewrittenMovedAside = plist.MovedAsidePath();
    plist.SetRewrittenSongs("LIST", music.size(), [&music](size_t i, TPList& song) {
      song = {music[i].Title, music[i].Artist, music[i].Path, "0", 0};
    });
  }
  std::string built, written;
  Check(orvane::text::ReadWholeFile(file, built) && orvane::text::ReadWholeFile(rewritten, written) && built == written,
        "a list written straight from the songs saves as the built one");

  for (const std::string& path : {file, movedAside, rewritten, rewrittenMovedAside}) {
    if (!path.empty()) ::unlink(path.c_str());
  }
  return 0;
}
