#pragma once
// How alike two texts are, 0…100, for matching lyric file names and search results to a track.
// Works on bytes (UTF-8 text is compared byte by byte). Pure; callable on any thread.

#include <string_view>

namespace orvane::lyrics {

// Walks the shorter text through the longer one, counting bytes that match within a window of
// L div 3 + (L − S) positions (L, S the two lengths) and never reusing a matched byte of the longer
// text; the result is matches × 100 div L. 0 when either text is empty.
// With soundAlike, ASCII letters compare in upper case and these groups match among themselves:
// A/E, B/P, C/Z, D/T, F/V, G/K, I/J/Y.
// ("abc","abc") 100, ("abcd","abc") 75, ("bat","pad") 100 with soundAlike, ("ABC","abc") 100.
int Similarity(std::string_view a, std::string_view b, bool soundAlike);

}  // namespace orvane::lyrics
