#pragma once
// The lyric document: one parsed lyric plus the play position, the timing offset and the current line.
// Main thread only (the refresh, the toolbar and the lookup's completion all run there).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lyrics/uLRCHandle.h"

namespace orvane::lyrics {

// When the current line is sung, on the play-position scale (the offset already applied): from
// Start to End (the next line's start), with the word stamps of an enhanced LRC where present.
struct TLineTiming {
  int32_t Start = 0;
  int32_t End = 0;
  std::vector<TWordStamp> Words;  // Time on the play-position scale too

  bool operator==(const TLineTiming&) const = default;
};

class TLrcClass {
 public:
  // Text of the line that closes every lyric (and stands alone when a track has ended).
  static constexpr std::string_view kClosingLineText = "Orvane 不一样的音乐体验";
  // The line of the lyric saved for an instrumental track (shown translated).
  static constexpr std::string_view kInstrumentalText = "纯音乐，请欣赏";
  // That lyric as a file holds it.
  static std::string InstrumentalLyric() { return "[00:00.00]" + std::string(kInstrumentalText) + "\r\n"; }

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
  // Index of the current line in Document (−1 before the first lookup that found one).
  int CurrentIndex() const { return currentIndex; }
  // What the desktop shows for the current line. Lines that share its stamp (an original and its
  // translation, the usual shape of a bilingual lyric) are joined by two blanks, in text order and
  // without blank ones, when fits says the joined text fits; otherwise the first of them shows.
  // Timing: when the shown text is sung, its word stamps at their places in it; nothing when there
  // is no current line, it is the last line (its end is unknown) or no later line follows.
  struct TDisplayLine {
    std::string Text;
    std::optional<TLineTiming> Timing;
  };
  using TFits = std::function<bool(const std::string& text)>;
  TDisplayLine CurrentDisplay(const TFits& fits = {}) const;
  // The timing of CurrentDisplay's text when the first of its lines shows alone.
  std::optional<TLineTiming> CurrentTiming() const { return CurrentDisplay().Timing; }
  const std::string& SourceText() const { return sourceText; }
  const TLyricHandle& Document() const { return document; }

 private:
  TLyricHandle document;
  std::string sourceText;
  int32_t position = 0;
  int32_t offset = 0;
  std::string currentLine;
  int currentIndex = -1;
  bool closingLine = false;  // the last item is the closing line
};

}  // namespace orvane::lyrics
