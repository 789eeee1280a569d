#pragma once
// The karaoke wipe's arithmetic: how much of the current line is sung at a play position. The line
// fills from its start to the next line's start, or word by word where an enhanced LRC stamps its
// words. Distances are "advances": pixels along the line's text, its picture lines laid end to end.
// Pure; callable on any thread.

#include <cstdint>
#include <functional>
#include <vector>

#include "lyrics/LrcClass.h"

namespace orvane::lyrics {

// At Time the wipe has reached Advance; between two knots it moves at an even pace.
struct TWipeKnot {
  int32_t Time = 0;
  double Advance = 0;
};

// The knots of a line whose text is total long: (Start, 0), one per word stamp at the advance
// where its word begins (advanceAt maps a byte offset of the text to its advance), (End, total).
// Times are kept within Start…End and in order, advances within 0…total and in order, so a
// stamp that is out of place makes the wipe wait rather than run backwards.
std::vector<TWipeKnot> WipeKnots(const TLineTiming& timing, double total,
                                 const std::function<double(uint32_t byteOffset)>& advanceAt);

// Where the wipe is at position: 0 before the first knot, the last knot's advance after it.
double WipeAdvance(const std::vector<TWipeKnot>& knots, int32_t position);

}  // namespace orvane::lyrics
