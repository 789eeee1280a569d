// The text of the online-song commands (codes 2 and 22), as a cooperating program writes it.
#include <gtest/gtest.h>

#include "app/OnlineSongList.h"

namespace orvane::test {
namespace {

using app::TOnlineSong;

TEST(OnlineSongList, ItemsBecomeSongs) {
  struct Case {
    std::string Text;
    std::vector<TOnlineSong> Songs;  // title, singer, location
  };
  const Case cases[] = {
      // Quoted items, each followed by a comma: the first-character deletion takes the opening quote,
      // the closing one lands in the ignored third field, and the next-to-last-character deletion
      // takes the last item's closing quote.
      {"\"a.mp3|T1-S1|7\",\"b.mp3|T2-S2|8\",", {{"T1", "S1", "http://m/a.mp3"}, {"T2", "S2", "http://m/b.mp3"}}},
      {"xa.mp3|Only|1,", {{"Only", "", "http://m/a.mp3"}}},                  // no "-": all title
      {"xa.mp3| One - Two - Three ,", {{"One", "Two", "http://m/a.mp3"}}},    // a second "-" loses the rest
      {"x1,,x2", {{"", "", "http://m/1"}, {"", "", "http://m/"}, {"", "", "http://m/"}}},  // "x2" loses its "x"
      {"x%E6%AD%8C.mp3|%E6%A0%87+%E9%A2%98-A&B,", {{"标 题", "A", "http://m/歌.mp3"}}},  // decoding stops at "&"
      {"xa.mp3|T-歌手,", {{"T", "歌", "http://m/a.mp3"}}},  // the next-to-last character, not byte, goes
      {"", {}},
      {",", {{"", "", "http://m/"}}},  // one empty item before the comma
  };
  for (const Case& c : cases) {
    const std::vector<TOnlineSong> songs = app::ParseOnlineSongList(c.Text, "http://m/");
    ASSERT_EQ(songs.size(), c.Songs.size()) << c.Text;
    for (size_t i = 0; i < songs.size(); ++i) {
      EXPECT_EQ(songs[i].Title, c.Songs[i].Title) << c.Text;
      EXPECT_EQ(songs[i].Singer, c.Songs[i].Singer) << c.Text;
      EXPECT_EQ(songs[i].Location, c.Songs[i].Location) << c.Text;
    }
  }
}

}  // namespace
}  // namespace orvane::test
