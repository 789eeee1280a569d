// The lyric provider's JSON replies (search results and one track). The readers are private to the
// provider library, which exports one symbol only, so this target compiles the library's unit.
#include "lyrics/lrcdown/LrcDown.cpp"

#include "FuzzSupport.h"
#include "text/Legacy.h"

using orvane::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  if (const auto results = ReadSearchReply(body)) {
    for (const StoredResult& r : *results) {
      Check(orvane::text::IsValidUtf8(r.title) && orvane::text::IsValidUtf8(r.singer) &&
                orvane::text::IsValidUtf8(r.extra),
            "result texts are UTF-8");
    }
  }
  if (const auto lyric = ReadLyricReply(body)) {
    Check(lyric->find('\0') == std::string::npos, "a lyric holds no zero bytes");
    Check(orvane::text::IsValidUtf8(*lyric), "a lyric is UTF-8");
  }
  return 0;
}
