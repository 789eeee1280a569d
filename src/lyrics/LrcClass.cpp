#include "lyrics/LrcClass.h"

namespace orvane::lyrics {

void TLrcClass::Load(std::string_view text) {
  sourceText = std::string(text);
  currentLine.clear();
  document.Parse(text);
  offset = document.Info().Offset;
  document.SortByTime();
}

void TLrcClass::SetPosition(int32_t ms) {
  position = ms;
  const int index = document.FindCurrentIndex(position, offset);
  if (index < 0) return;  // no lines: the current line stays as it was
  currentLine = document.Items()[static_cast<std::size_t>(index)].Text;
}

void TLrcClass::AddClosingLine(int32_t ms) {
  document.Add(TLyricItem{std::string(kClosingLineText), std::string(), ms});
}

}  // namespace orvane::lyrics
