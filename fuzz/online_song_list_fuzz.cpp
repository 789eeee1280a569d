// The online-song command text another program hands over (codes 2 and 22).
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "app/OnlineSongList.h"
#include "text/Legacy.h"

using orvane::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string base = "http://music.example/";
  for (const orvane::app::TOnlineSong& song : orvane::app::ParseOnlineSongList(text, base)) {
    Check(song.Location.compare(0, base.size(), base) == 0, "locations start with the base address");
    Check(orvane::text::IsValidUtf8(song.Title) && orvane::text::IsValidUtf8(song.Singer), "texts are UTF-8");
  }
  for (int n = 0; n < 4; ++n) orvane::app::GetField(text, n, ',');
  return 0;
}
