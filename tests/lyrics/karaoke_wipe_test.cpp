// The karaoke wipe's arithmetic: knots from a line's timing and word stamps, and where the wipe is
// at a play position.
#include <gtest/gtest.h>

#include <vector>

#include "lyrics/KaraokeWipe.h"

namespace orvane::lyrics {
namespace {

// A text of 10 bytes, each byte 10 pixels wide.
double TenPixelsPerByte(uint32_t offset) { return offset * 10.0; }

TEST(KaraokeWipe, PlainLineFillsEvenlyFromStartToEnd) {
  const auto knots = WipeKnots(TLineTiming{1000, 3000, {}}, 100, TenPixelsPerByte);
  const std::pair<int32_t, double> cases[] = {{-5, 0},     {1000, 0},  {1500, 25},  {2000, 50},
                                              {2999, 99.95}, {3000, 100}, {60000, 100}};
  for (const auto& [position, advance] : cases) EXPECT_DOUBLE_EQ(WipeAdvance(knots, position), advance) << position;
  EXPECT_EQ(WipeAdvance({}, 1000), 0);
}

TEST(KaraokeWipe, WordStampsSetThePaceWordByWord) {
  // Words at bytes 0, 4 and 8, sung from 1000, 1200 and 2600; the line ends at 3000.
  const auto knots = WipeKnots(TLineTiming{1000, 3000, {{0, 1000}, {4, 1200}, {8, 2600}}}, 100, TenPixelsPerByte);
  const std::pair<int32_t, double> cases[] = {{1000, 0}, {1100, 20}, {1200, 40}, {1900, 60}, {2600, 80}, {2800, 90},
                                              {3000, 100}};
  for (const auto& [position, advance] : cases) EXPECT_DOUBLE_EQ(WipeAdvance(knots, position), advance) << position;

  // A first word that starts late: the wipe waits for it.
  const auto late = WipeKnots(TLineTiming{1000, 3000, {{0, 2000}}}, 100, TenPixelsPerByte);
  EXPECT_DOUBLE_EQ(WipeAdvance(late, 1500), 0);
  EXPECT_DOUBLE_EQ(WipeAdvance(late, 2500), 50);
}

TEST(KaraokeWipe, StampsOutOfPlaceNeverRunTheWipeBackwards) {
  // A stamp earlier than the one before, one past the line's end, and one whose word lies before
  // the previous word's: times and advances are held in order and within the line.
  const auto knots =
      WipeKnots(TLineTiming{1000, 3000, {{2, 1800}, {6, 1500}, {1, 2000}, {9, 9000}}}, 100, TenPixelsPerByte);
  double last = -1;
  for (int32_t position = 900; position <= 3100; position += 25) {
    const double advance = WipeAdvance(knots, position);
    EXPECT_GE(advance, last) << position;
    EXPECT_LE(advance, 100) << position;
    last = advance;
  }
  EXPECT_DOUBLE_EQ(WipeAdvance(knots, 3000), 100);
  for (size_t i = 1; i < knots.size(); ++i) {
    EXPECT_GE(knots[i].Time, knots[i - 1].Time);
    EXPECT_LE(knots[i].Time, 3000);
  }
}

}  // namespace
}  // namespace orvane::lyrics
