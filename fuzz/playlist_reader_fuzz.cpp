// The streaming start-up reader of the playlist file on its own: any bytes, no store involved, so
// the run is fast and goes deep into the reader.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "store/PlaylistReader.h"
#include "text/AtomicFile.h"
#include "text/Legacy.h"

using orvane::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = orvane::fuzz::ScratchFolder() + "Stream.pls";
  Check(orvane::text::AtomicWriteFile(file, std::string(reinterpret_cast<const char*>(data), size)), "input written");
  std::vector<std::vector<orvane::store::TPList>> lists;
  const bool ok = orvane::store::ReadPlaylistLists(file, {"PlayerList", "RndList"}, lists);
  Check(lists.size() == 2, "one result per list name");
  if (!ok) Check(lists[0].empty() && lists[1].empty(), "a refused file gives no songs");
  for (const auto& list : lists) {
    for (const auto& song : list) {
      Check(orvane::text::IsValidUtf8(song.Title) && orvane::text::IsValidUtf8(song.Path), "texts are UTF-8");
    }
  }
  ::unlink(file.c_str());
  return 0;
}
