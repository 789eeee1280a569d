#include "lyrics/LrcClass.h"

#include <algorithm>
#include <climits>

namespace orvane::lyrics {

void TLrcClass::Load(std::string_view text) {
  sourceText = std::string(text);
  currentLine.clear();
  currentIndex = -1;
  closingLine = false;
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

TLrcClass::TDisplayLine TLrcClass::CurrentDisplay(const TFits& fits) const {
  const auto& items = document.Items();
  if (currentIndex < 0 || static_cast<std::size_t>(currentIndex) >= items.size()) return {currentLine, std::nullopt};

  // The lines sharing the current line's stamp lie next to it (the sort keeps equal times together);
  // the closing line never joins them.
  const std::size_t lyricEnd = closingLine ? items.size() - 1 : items.size();
  std::size_t first = static_cast<std::size_t>(currentIndex);
  std::size_t last = first;
  if (first < lyricEnd) {
    const int32_t time = items[first].Time;
    while (first > 0 && items[first - 1].Time == time) --first;
    while (last + 1 < lyricEnd && items[last + 1].Time == time) ++last;
  }

  std::vector<const TLyricItem*> parts;
  for (std::size_t k = first; k <= last; ++k) {
    if (!items[k].Text.empty()) parts.push_back(&items[k]);
  }
  TDisplayLine shown;
  std::vector<TWordStamp> words;
  if (parts.empty()) {
    shown.Text = items[static_cast<std::size_t>(currentIndex)].Text;
  } else {
    shown.Text = parts.front()->Text;
    words = parts.front()->Words;
    if (parts.size() > 1 && fits) {
      std::string joined;
      std::vector<TWordStamp> joinedWords;
      for (const TLyricItem* part : parts) {
        if (!joined.empty()) joined += "  ";
        for (TWordStamp word : part->Words) {
          word.Offset += static_cast<uint32_t>(joined.size());
          joinedWords.push_back(word);
        }
        joined += part->Text;
      }
      if (fits(joined)) {
        shown.Text = std::move(joined);
        words = std::move(joinedWords);
      }
    }
  }

  if (last + 1 >= items.size()) return shown;
  // Clamped to 32 bits: an extreme offset must not wrap a time around.
  auto onScale = [this](int32_t time) {
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{time} - offset, INT32_MIN, INT32_MAX));
  };
  TLineTiming timing{onScale(items[first].Time), onScale(items[last + 1].Time), std::move(words)};
  if (timing.End <= timing.Start) return shown;
  for (TWordStamp& word : timing.Words) word.Time = onScale(word.Time);
  shown.Timing = std::move(timing);
  return shown;
}

void TLrcClass::AddClosingLine(int32_t ms) {
  document.Add(TLyricItem{std::string(kClosingLineText), std::string(), ms, {}});
  closingLine = true;
}

}  // namespace orvane::lyrics
