#include "lyrics/LrcClass.h"

#include <algorithm>
#include <climits>

namespace orvane::lyrics {

void TLrcClass::Load(std::string_view text) {
  sourceText = std::string(text);
  currentLine.clear();
  currentIndex = -1;
  document.Parse(text);
  offset = document.Info().Offset;
  document.SortByTime();
}

void TLrcClass::SetPosition(int32_t ms) {
  position = ms;
  const int index = document.FindCurrentIndex(position, offset);
  if (index < 0) return;  // no lines: the current line stays as it was
  currentLine = document.Items()[static_cast<std::size_t>(index)].Text;
  currentIndex = index;
}

std::optional<TLineTiming> TLrcClass::CurrentTiming() const {
  const auto& items = document.Items();
  if (currentIndex < 0 || static_cast<std::size_t>(currentIndex) + 1 >= items.size()) return std::nullopt;
  const TLyricItem& line = items[static_cast<std::size_t>(currentIndex)];
  const TLyricItem& next = items[static_cast<std::size_t>(currentIndex) + 1];
  // Clamped to 32 bits: an extreme offset must not wrap a time around.
  auto onScale = [this](int32_t time) {
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{time} - offset, INT32_MIN, INT32_MAX));
  };
  TLineTiming timing{onScale(line.Time), onScale(next.Time), line.Words};
  if (timing.End <= timing.Start) return std::nullopt;
  for (TWordStamp& word : timing.Words) word.Time = onScale(word.Time);
  return timing;
}

void TLrcClass::AddClosingLine(int32_t ms) {
  document.Add(TLyricItem{std::string(kClosingLineText), std::string(), ms, {}});
}

}  // namespace orvane::lyrics
