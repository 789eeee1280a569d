#include "lyrics/KaraokeWipe.h"

#include <algorithm>

namespace orvane::lyrics {

std::vector<TWipeKnot> WipeKnots(const TLineTiming& timing, double total,
                                 const std::function<double(uint32_t byteOffset)>& advanceAt) {
  std::vector<TWipeKnot> knots;
  knots.reserve(timing.Words.size() + 2);
  knots.push_back({timing.Start, 0});
  for (const TWordStamp& word : timing.Words) {
    const TWipeKnot& last = knots.back();
    const int32_t time = std::clamp(word.Time, last.Time, timing.End);
    const double advance = std::clamp(advanceAt ? advanceAt(word.Offset) : 0.0, last.Advance, total);
    knots.push_back({time, advance});
  }
  knots.push_back({timing.End, std::max(total, knots.back().Advance)});
  return knots;
}

double WipeAdvance(const std::vector<TWipeKnot>& knots, int32_t position) {
  if (knots.empty()) return 0;
  if (position <= knots.front().Time) return knots.front().Advance;
  // The first knot later than position ends the segment position lies in.
  const auto next = std::upper_bound(knots.begin(), knots.end(), position,
                                     [](int32_t p, const TWipeKnot& knot) { return p < knot.Time; });
  if (next == knots.end()) return knots.back().Advance;
  const TWipeKnot& from = *(next - 1);
  const double span = static_cast<double>(next->Time) - from.Time;
  const double part = span > 0 ? (static_cast<double>(position) - from.Time) / span : 1.0;
  return from.Advance + (next->Advance - from.Advance) * part;
}

}  // namespace orvane::lyrics
