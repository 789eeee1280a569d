// The LRC parser (TLyricHandle) and the lyric document (TLrcClass).
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "lyrics/LrcClass.h"
#include "lyrics/uLRCHandle.h"

namespace orvane::lyrics {
namespace {

struct Line {
  int32_t time;
  std::string tagText;
  std::string text;
  bool operator==(const Line&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Line& l) {
  return os << "{" << l.time << ", \"" << l.tagText << "\", \"" << l.text << "\"}";
}

std::vector<Line> Lines(const TLyricHandle& doc) {
  std::vector<Line> out;
  for (const TLyricItem& item : doc.Items()) out.push_back({item.Time, item.TagText, item.Text});
  return out;
}

struct ParseCase {
  std::string input;
  std::vector<Line> lines;  // in text order
  std::string title = {};
  int32_t offset = 0;
};

TEST(LyricHandle, ParsesTagsAndTexts) {
  const std::vector<ParseCase> cases = {
      {"[00:12.34]Hello", {{12340, "00:12.34", "Hello"}}},
      {"[00:01.00][00:05.00]Chorus", {{1000, "00:01.00", "Chorus"}, {5000, "00:05.00", "Chorus"}}},
      {"[00:01.00] [00:05.00]Chorus", {{1000, "00:01.00", ""}, {5000, "00:05.00", "Chorus"}}},
      {"[00:01.00]A[00:02.00]B", {{1000, "00:01.00", "A"}, {2000, "00:02.00", "B"}}},
      {"[01:02:03]x", {{3723000, "01:02:03", "x"}}},
      {"[01:02:03.45]x", {{3723450, "01:02:03.45", "x"}}},
      {"[12]abc", {{12000, "12", "abc"}}},
      {"[12]x", {}},  // '[' followed by four bytes only
      {"[-00:01.00]x", {{-1000, "-00:01.00", "x"}}},
      {"[-00:00.00]x", {{0, "00:00.00", "x"}}},
      // A fraction is decimal by its number of digits; hours and minutes count whole, seconds by
      // their last two digits. The rebuilt tag keeps two digits per field and whole hundredths.
      {"[3.5]abc", {{3500, "03.50", "abc"}}},
      {"[01:02.5]x", {{62500, "01:02.50", "x"}}},
      {"[01:02.50]x", {{62500, "01:02.50", "x"}}},
      {"[01:02.05]x", {{62050, "01:02.05", "x"}}},
      {"[00:19.311]x", {{19311, "00:19.31", "x"}}},
      {"[00:01.500]x", {{1500, "00:01.50", "x"}}},
      {"[00:01.9999]x", {{1999, "00:01.99", "x"}}},  // below a millisecond: dropped
      {"[-00:01.5]x", {{-1500, "-00:01.50", "x"}}},
      {"[123:45.67]x", {{7425670, "123:45.67", "x"}}},
      {"[123:02]x", {{7382000, "123:02", "x"}}},
      {"[1:02:03.4]x", {{3723400, "01:02:03.40", "x"}}},
      {"[2:120:00]x", {{14400000, "02:120:00", "x"}}},
      {"[00:123.00]x", {{23000, "00:23.00", "x"}}},
      {"[99999999999999:00]x", {{2147483647, "999999999:00", "x"}}},  // beyond 32 bits: the latest time
      {"[00:01.00.50]x", {{1005, "00:01.00", "x"}}},  // the second '.' dropped: .0050 s
      {"[ 00:01.00]x", {}},
      {"[00 : 01 . 00]x", {{1000, "00:01.00", "x"}}},
      {"[00:01a]xyz", {}},
      {"[00:01.00]a[1:2]", {{1000, "00:01.00", "a[1:2]"}}},
      {"ab", {}},
      {"  [1]  \r\n", {}},  // three bytes after trimming
      {"intro[00:01.00]x", {{1000, "00:01.00", "x"}}},
      // Only CR ends a line's text; with LF alone it runs to the next tag.
      {"[00:01.00]A\r\nB\r\n[00:02.00]C\r\n", {{1000, "00:01.00", "A"}, {2000, "00:02.00", "C"}}},
      {"[00:01.00]A\nB\n[00:02.00]C\n", {{1000, "00:01.00", "A\nB"}, {2000, "00:02.00", "C"}}},
      // An identification tag ends the text before it and starts none.
      {"[00:01.00]A[ti:T]B", {{1000, "00:01.00", "A"}}, "T"},
      {"[ti:Song]", {}, "Song"},
      {"[TI: Song ]", {}, "Song"},
      {"[title:Song]", {}},
      {"[ti:Song\r\nmore]", {}, "Song"},
      {"[offset:500]\r\n[00:01.00]x", {{1000, "00:01.00", "x"}}, "", 500},
      {"[offset: -250 ]", {}, "", -250},
      {"[offset:abc]", {}},
      {"[00:01.00]你好[00:02.00]世界", {{1000, "00:01.00", "你好"}, {2000, "00:02.00", "世界"}}},
      // Enhanced LRC word stamps are not shown; other angle brackets are text.
      {"[00:01.00]<00:01.00>Hello <00:01.50>world <01:02:03>!", {{1000, "00:01.00", "Hello world !"}}},
      {"[00:01.00]<00:01.00> When <00:01.50> the <00:02.00> truth", {{1000, "00:01.00", "When the truth"}}},
      {"[00:01.00]I <3 you <b>", {{1000, "00:01.00", "I <3 you <b>"}}},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.input);
    TLyricHandle doc;
    doc.Parse(c.input);
    EXPECT_EQ(Lines(doc), c.lines);
    EXPECT_EQ(doc.Info().Title, c.title);
    EXPECT_EQ(doc.Info().Offset, c.offset);
  }
}

TEST(LyricHandle, KeepsWordStampsWithTheWordsTheyStandBefore) {
  struct Case {
    std::string input;
    std::string text;
    std::vector<TWordStamp> words;
  };
  const Case cases[] = {
      {"[00:01.00]<00:01.00>Hello <00:01.50>world<00:02.25>", "Hello world", {{0, 1000}, {6, 1500}, {11, 2250}}},
      // Blanks trimmed off the front move the offsets with the text.
      {"[00:01.00]  <00:01.20> 晴天 <00:02.00>雨", "晴天 雨", {{0, 1200}, {7, 2000}}},
      {"[00:01.00]<1:02:03>x", "x", {{0, 3723000}}},
      // One blank where a stamp stood between blanks, and the stamp on the word after it.
      {"[00:01.00]<00:01.000> When <00:01.500> the <00:02.5>  truth", "When the truth", {{0, 1000}, {5, 1500}, {9, 2500}}},
      {"[00:01.00]When<00:01.50> the", "When the", {{5, 1500}}},
      {"[00:01.00]plain", "plain", {}},
      {"[00:01.00]I <3 you", "I <3 you", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    TLyricHandle doc;
    doc.Parse(c.input);
    ASSERT_EQ(doc.Count(), 1);
    EXPECT_EQ(doc.Items()[0].Text, c.text);
    EXPECT_EQ(doc.Items()[0].Words, c.words);
  }
  // Every tag sharing the line shares its stamps.
  TLyricHandle doc;
  doc.Parse("[00:01.00][00:09.00]<00:01.00>a <00:01.50>b");
  ASSERT_EQ(doc.Count(), 2);
  EXPECT_EQ(doc.Items()[1].Words, doc.Items()[0].Words);
}

TEST(LyricHandle, FillsEveryIdentificationTagAndClearResetsThem) {
  TLyricHandle doc;
  doc.Parse("[ti:T][ar:Ar][al:Al][by:By][la:La][offset:+20]\r\n[artist:X][00:01.00]x");
  EXPECT_EQ(doc.Info().Title, "T");
  EXPECT_EQ(doc.Info().Artist, "Ar");
  EXPECT_EQ(doc.Info().Album, "Al");
  EXPECT_EQ(doc.Info().By, "By");
  EXPECT_EQ(doc.Info().Language, "La");
  EXPECT_EQ(doc.Info().Offset, 20);
  EXPECT_EQ(doc.Count(), 1);

  doc.Clear();
  EXPECT_EQ(doc.Count(), 0);
  EXPECT_EQ(doc.Info().Title, "");
  EXPECT_EQ(doc.Info().Offset, 0);
}

TEST(LyricHandle, SortIsStableAndIndexErrorsThrow) {
  TLyricHandle doc;
  doc.Parse("[00:02.00]b1\r\n[00:01.00]a\r\n[00:02.00]b2\r\n[00:00.50]first");
  doc.SortByTime();
  std::vector<std::string> texts;
  for (const TLyricItem& item : doc.Items()) texts.push_back(item.Text);
  EXPECT_EQ(texts, (std::vector<std::string>{"first", "a", "b1", "b2"}));

  EXPECT_EQ(doc.GetItem(3).Text, "b2");
  EXPECT_THROW(doc.GetItem(4), std::out_of_range);
  EXPECT_THROW(doc.GetItem(-1), std::out_of_range);
  EXPECT_THROW(doc.Delete(4), std::out_of_range);
  EXPECT_THROW(doc.Insert(5, TLyricItem{}), std::out_of_range);
  doc.Insert(4, TLyricItem{"end", "", 0, {}});
  EXPECT_EQ(doc.GetItem(4).Text, "end");
}

// Random text made of the pieces tags are built from (under the sanitizers this is where a read past
// the end would show). Every item's rebuilt TagText must read back as the same time, to the
// hundredth it keeps.
TEST(LyricHandle, RandomTagSoupParsesConsistently) {
  const std::vector<std::string> pieces = {"[00:12.34]", "[-1.2]", "[1:2:3", "[0", "[", "]", "]", ":", ".",
                                           ".", "-", "0", "7", "12", "345", " ", "ti", "offset", "\r\n", "\n",
                                           "x", "<00:01.5>", "歌"};
  std::mt19937 rng(99);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1), length(0, 40);
  int itemsSeen = 0;
  for (int round = 0; round < 5000; ++round) {
    std::string text;
    for (std::size_t n = length(rng); n > 0; --n) text += pieces[pick(rng)];
    TLyricHandle doc;
    doc.Parse(text);
    for (const TLyricItem& item : doc.Items()) {
      TLyricHandle again;
      again.Parse("[" + item.TagText + "]xx");
      ASSERT_EQ(again.Count(), 1) << text;
      const bool latest = item.Time == std::numeric_limits<int32_t>::max() || item.Time == -std::numeric_limits<int32_t>::max();
      EXPECT_EQ(again.GetItem(0).Time, latest ? item.Time : item.Time / 10 * 10) << text;
      EXPECT_EQ(again.GetItem(0).TagText, item.TagText) << text;
      ++itemsSeen;
    }
  }
  EXPECT_GT(itemsSeen, 1000);  // the soup does form tags
}

TEST(LrcClass, CurrentLineFollowsPositionAndOffset) {
  TLrcClass lrc;
  lrc.Load("[00:02.00]two\r\n[00:01.00]one\r\n[00:03.00]three");
  EXPECT_EQ(lrc.CurrentLine(), "");
  struct Step {
    int32_t position;
    std::string line;
  };
  // A line becomes current only once the position is past its time; before the first line's time
  // the first line is already current.
  for (const Step& s : std::vector<Step>{{-5000, "one"}, {1000, "one"}, {1001, "one"}, {2000, "one"},
                                         {2001, "two"}, {3000, "two"}, {3001, "three"}, {999999, "three"}}) {
    lrc.SetPosition(s.position);
    EXPECT_EQ(lrc.CurrentLine(), s.line) << s.position;
  }

  lrc.SetPosition(1800);
  lrc.SetOffset(500);  // no lookup until the next position
  EXPECT_EQ(lrc.CurrentLine(), "one");
  lrc.SetPosition(1800);
  EXPECT_EQ(lrc.CurrentLine(), "two");

  // A new text resets the offset to its tag (or 0) and empties the current line; the position stays.
  lrc.Load("[offset:-1000]\r\n[00:01.00]a\r\n[00:02.00]b");
  EXPECT_EQ(lrc.Offset(), -1000);
  EXPECT_EQ(lrc.CurrentLine(), "");
  EXPECT_EQ(lrc.Position(), 1800);
  lrc.SetPosition(2500);
  EXPECT_EQ(lrc.CurrentLine(), "a");
  lrc.Load("[00:01.00]a");
  EXPECT_EQ(lrc.Offset(), 0);
}

TEST(LrcClass, CurrentTimingRunsToTheNextLineWithTheOffsetApplied) {
  TLrcClass lrc;
  EXPECT_EQ(lrc.CurrentTiming(), std::nullopt);
  lrc.Load("[00:01.00]a\r\n[00:04.00]<00:04.00>b <00:05.00>c\r\n[00:06.00]d");
  lrc.AddClosingLine(9000);
  struct Step {
    int32_t position;
    std::optional<TLineTiming> timing;
  };
  const Step steps[] = {
      {0, TLineTiming{1000, 4000, {}}},  // before the first line, the first line is current
      {2000, TLineTiming{1000, 4000, {}}},
      {4500, TLineTiming{4000, 6000, {{0, 4000}, {2, 5000}}}},
      {7000, TLineTiming{6000, 9000, {}}},  // the last lyric line ends where the closing line starts
      {9500, std::nullopt},                 // the closing line has no end
  };
  for (const Step& s : steps) {
    lrc.SetPosition(s.position);
    EXPECT_EQ(lrc.CurrentTiming(), s.timing) << s.position;
  }
  // A line whose successor starts at the same time has no time to be sung.
  lrc.Load("[00:01.00]a\r\n[00:01.00]b");
  lrc.SetPosition(0);
  EXPECT_EQ(lrc.CurrentTiming(), std::nullopt);

  // A positive offset makes everything earlier, word stamps included.
  lrc.Load("[00:01.00]<00:01.00>a <00:02.00>b\r\n[00:03.00]c");
  lrc.SetOffset(500);
  lrc.SetPosition(1000);
  EXPECT_EQ(lrc.CurrentTiming(), (TLineTiming{500, 2500, {{0, 500}, {2, 1500}}}));
  lrc.Load("");
  EXPECT_EQ(lrc.CurrentIndex(), -1);
  EXPECT_EQ(lrc.CurrentTiming(), std::nullopt);
}

// A bilingual lyric gives its original and its translation one stamp: both show, joined, when they
// fit the desktop line, else the original; the karaoke wipe keeps the words' stamps.
TEST(LrcClass, LinesSharingAStampShowTogetherWhenTheyFit) {
  TLrcClass lrc;
  lrc.Load("[00:01.00]Hello\r\n[00:01.00]你好\r\n[00:03.00]<00:03.00>Bye <00:03.50>now\r\n[00:03.00]再见\r\n"
           "[00:05.00]\r\n[00:05.00]只有译文\r\n[00:07.00]end");
  lrc.AddClosingLine(7000);
  std::vector<std::string> asked;
  const auto fitsAll = [&](const std::string& text) {
    asked.push_back(text);
    return true;
  };
  const auto fitsNone = [](const std::string&) { return false; };
  struct Step {
    int32_t position;
    std::string joined, alone;
    std::optional<TLineTiming> joinedTiming, aloneTiming;
  };
  const Step steps[] = {
      {0, "Hello  你好", "Hello", TLineTiming{1000, 3000, {}}, TLineTiming{1000, 3000, {}}},  // before the first line
      {2000, "Hello  你好", "Hello", TLineTiming{1000, 3000, {}}, TLineTiming{1000, 3000, {}}},
      {4000, "Bye now  再见", "Bye now", TLineTiming{3000, 5000, {{0, 3000}, {4, 3500}}},
       TLineTiming{3000, 5000, {{0, 3000}, {4, 3500}}}},
      {6000, "只有译文", "只有译文", TLineTiming{5000, 7000, {}}, TLineTiming{5000, 7000, {}}},  // a blank line leaves
      {7500, std::string(TLrcClass::kClosingLineText), std::string(TLrcClass::kClosingLineText), std::nullopt, std::nullopt},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.position);
    lrc.SetPosition(s.position);
    const TLrcClass::TDisplayLine joined = lrc.CurrentDisplay(fitsAll);
    EXPECT_EQ(joined.Text, s.joined);
    EXPECT_EQ(joined.Timing, s.joinedTiming);
    const TLrcClass::TDisplayLine alone = lrc.CurrentDisplay(fitsNone);
    EXPECT_EQ(alone.Text, s.alone);
    EXPECT_EQ(alone.Timing, s.aloneTiming);
    EXPECT_EQ(lrc.CurrentDisplay().Text, s.alone);
  }
  // Only texts of more than one line are measured.
  EXPECT_EQ(asked, (std::vector<std::string>{"Hello  你好", "Hello  你好", "Bye now  再见"}));

  // The closing line never joins a line of its time.
  lrc.Load("[00:01.00]a");
  lrc.AddClosingLine(1000);
  lrc.SetPosition(0);
  EXPECT_EQ(lrc.CurrentDisplay(fitsAll).Text, "a");

  // Word stamps of a later line move with it in the joined text.
  lrc.Load("[00:01.00]原文\r\n[00:01.00]<00:01.00>Trans <00:01.50>lation\r\n[00:02.00]x");
  lrc.SetPosition(1500);
  EXPECT_EQ(lrc.CurrentDisplay(fitsAll).Timing, (TLineTiming{1000, 2000, {{8, 1000}, {14, 1500}}}));
  EXPECT_EQ(lrc.CurrentDisplay(fitsNone).Timing, (TLineTiming{1000, 2000, {}}));
}

TEST(LrcClass, ClosingLineStaysLastAndEmptyDocumentKeepsLine) {
  TLrcClass lrc;
  lrc.Load("[00:05.00]a\r\n[00:09.00]b");
  lrc.AddClosingLine(1000);  // earlier than the lines, still last
  ASSERT_EQ(lrc.Document().Count(), 3);
  EXPECT_EQ(lrc.Document().GetItem(2).Text, TLrcClass::kClosingLineText);
  EXPECT_EQ(lrc.Document().GetItem(2).TagText, "");
  lrc.SetPosition(7000);
  EXPECT_EQ(lrc.CurrentLine(), "a");
  lrc.SetPosition(9500);
  EXPECT_EQ(lrc.CurrentLine(), TLrcClass::kClosingLineText);

  lrc.Load("");
  lrc.SetPosition(4000);
  EXPECT_EQ(lrc.CurrentLine(), "");
  lrc.AddClosingLine(0);
  for (int32_t position : {std::numeric_limits<int32_t>::min(), -1, 0, 1, 123456}) {
    lrc.SetPosition(position);
    EXPECT_EQ(lrc.CurrentLine(), TLrcClass::kClosingLineText) << position;
  }

  lrc.Load("[00:01.00]x");
  lrc.SetPosition(5000);
  lrc.Load("no tags here");
  lrc.SetPosition(6000);
  EXPECT_EQ(lrc.CurrentLine(), "");  // emptied by Load, kept by the lookup
}

// The plain rule: count the items before the first whose Time − offset ≥ position, in list order.
int LinearIndex(const std::vector<TLyricItem>& items, int32_t position, int32_t offset) {
  if (items.empty()) return -1;
  std::size_t i = 0;
  while (i < items.size() && int64_t{items[i].Time} - offset < position) ++i;
  return i <= 1 ? 0 : static_cast<int>(i - 1);
}

std::vector<int32_t> ProbePositions(const std::vector<TLyricItem>& items, int32_t offset, std::mt19937& rng) {
  std::vector<int32_t> positions = {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), 0};
  for (const TLyricItem& item : items) {
    const int64_t edge = int64_t{item.Time} - offset;
    for (int64_t d : {-1, 0, 1}) {
      const int64_t p = edge + d;
      if (p >= std::numeric_limits<int32_t>::min() && p <= std::numeric_limits<int32_t>::max())
        positions.push_back(static_cast<int32_t>(p));
    }
  }
  std::uniform_int_distribution<int32_t> any(-20000, 400000);
  for (int k = 0; k < 10; ++k) positions.push_back(any(rng));
  return positions;
}

int32_t RandomOffset(std::mt19937& rng) {
  switch (std::uniform_int_distribution<int>(0, 5)(rng)) {
    case 0: return std::numeric_limits<int32_t>::min();
    case 1: return std::numeric_limits<int32_t>::max();
    case 2: return 0;
    default: return std::uniform_int_distribution<int32_t>(-5000, 5000)(rng);
  }
}

TEST(LrcLookup, MatchesLinearRuleOnLoadedLyrics) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> count(0, 40), minute(0, 5), second(0, 59), hundredth(0, 9);
  for (int round = 0; round < 500; ++round) {
    std::string text;
    const int lines = count(rng);
    for (int k = 0; k < lines; ++k) {
      // Few distinct times, so equal times (and their order) are common.
      char tag[32];
      std::snprintf(tag, sizeof tag, "[%s%02d:%02d.%d0]", k % 7 == 3 ? "-" : "", minute(rng), second(rng) % 6,
                    hundredth(rng));
      text += std::string(tag) + "line" + std::to_string(k) + "\r\n";
    }
    TLrcClass lrc;
    lrc.Load(text);
    if (round % 2 == 0) lrc.AddClosingLine(std::uniform_int_distribution<int32_t>(-1000, 400000)(rng));
    lrc.SetOffset(RandomOffset(rng));
    const auto& items = lrc.Document().Items();
    for (int32_t position : ProbePositions(items, lrc.Offset(), rng)) {
      lrc.SetPosition(position);
      const int expected = LinearIndex(items, position, lrc.Offset());
      if (expected < 0) {
        EXPECT_EQ(lrc.CurrentLine(), "");
      } else {
        ASSERT_EQ(lrc.CurrentLine(), items[expected].Text) << "round " << round << " position " << position;
      }
    }
  }
}

TEST(LrcLookup, MatchesLinearRuleAfterAnyEdits) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int32_t> time(-3, 12);
  for (int round = 0; round < 300; ++round) {
    TLyricHandle doc;
    for (int op = 0; op < 30; ++op) {
      const int kind = std::uniform_int_distribution<int>(0, 9)(rng);
      const TLyricItem item{"i" + std::to_string(op), "", time(rng) * 1000, {}};
      if (kind < 5) {
        doc.Add(item);
      } else if (kind < 7) {
        doc.Insert(std::uniform_int_distribution<int>(0, doc.Count())(rng), item);
      } else if (kind < 9 && doc.Count() > 0) {
        doc.Delete(std::uniform_int_distribution<int>(0, doc.Count() - 1)(rng));
      } else {
        doc.SortByTime();
      }
      const int32_t offset = RandomOffset(rng);
      for (int32_t position : ProbePositions(doc.Items(), offset, rng))
        ASSERT_EQ(doc.FindCurrentIndex(position, offset), LinearIndex(doc.Items(), position, offset))
            << "round " << round << " op " << op;
    }
  }
}

}  // namespace
}  // namespace orvane::lyrics
