#pragma once
// The lyric document: one parsed lyric plus the play position, the timing offset and the current line.
// Main thread only (the refresh, the toolbar and the lookup's completion all run there).

#include <cstdint>
#include <string>
#include <string_view>

#include "lyrics/uLRCHandle.h"

namespace orvane::lyrics {

class TLrcClass {
 public:
  // Text of the line that closes every lyric (and stands alone when a track has ended).
  static constexpr std::string_view kClosingLineText = "Orvane 不一样的音乐体验";

  // Parses UTF-8 LRC text, takes its "offset" tag (or 0) as Offset, sorts the lines and empties
  // CurrentLine; Position is kept. Load("") clears the lyrics.
  void Load(std::string_view text);
  // Sets the play position (ms) and looks up the current line. With no lines CurrentLine is kept.
  void SetPosition(int32_t ms);
  // Timing correction in ms; a larger offset shows every line earlier. Applies at the next SetPosition.
  void SetOffset(int32_t ms) { offset = ms; }
  // Appends the closing line at ms after the sorted lines; it stays last whatever its time.
  void AddClosingLine(int32_t ms);

  int32_t Offset() const { return offset; }
  int32_t Position() const { return position; }
  const std::string& CurrentLine() const { return currentLine; }
  const std::string& SourceText() const { return sourceText; }
  const TLyricHandle& Document() const { return document; }

 private:
  TLyricHandle document;
  std::string sourceText;
  int32_t position = 0;
  int32_t offset = 0;
  std::string currentLine;
};

}  // namespace orvane::lyrics
