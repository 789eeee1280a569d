// LRC text: parsing never reads outside the text, every time tag gives a line, and the fast
// current-line lookup agrees with the plain scan over the sorted lines.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "lyrics/LrcClass.h"

using orvane::fuzz::Check;

namespace {

// The reference rule: count the lines before the first whose time minus the offset reaches the
// position; the current line is the one before that, or the first.
std::string LinearLookup(const orvane::lyrics::TLyricHandle& doc, int32_t offset, int32_t position) {
  int i = 0;
  while (i < doc.Count() && static_cast<int64_t>(doc.GetItem(i).Time) - offset < position) ++i;
  return doc.GetItem(i <= 1 ? 0 : i - 1).Text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The last four bytes choose a position and an offset, the rest is the lyric.
  if (size < 8) return 0;
  int32_t position = 0;
  int32_t offset = 0;
  __builtin_memcpy(&position, data + size - 8, 4);
  __builtin_memcpy(&offset, data + size - 4, 4);
  const std::string_view text(reinterpret_cast<const char*>(data), size - 8);

  orvane::lyrics::TLrcClass lrc;
  lrc.Load(text);
  const auto& doc = lrc.Document();
  for (int i = 1; i < doc.Count(); ++i) Check(doc.GetItem(i - 1).Time <= doc.GetItem(i).Time, "lines sorted");
  lrc.SetOffset(offset);
  lrc.SetPosition(position);
  if (doc.Count() > 0) Check(lrc.CurrentLine() == LinearLookup(doc, offset, position), "lookup agrees with the scan");
  // Lines sharing a stamp, joined or not: every word stamp lies inside the text shown.
  for (const bool join : {true, false}) {
    const auto shown = lrc.CurrentDisplay([join](const std::string&) { return join; });
    if (!shown.Timing) continue;
    Check(shown.Timing->Start < shown.Timing->End, "a shown line has time to be sung");
    for (const auto& word : shown.Timing->Words) Check(word.Offset <= shown.Text.size(), "word stamps inside the text");
  }
  lrc.AddClosingLine(position);
  lrc.SetPosition(position / 2);
  return 0;
}
