// The start-up's streaming read of the playlist file gives exactly what the store's Load gives,
// and refuses what the store would move aside.
#include <gtest/gtest.h>

#include "store/PlaylistReader.h"
#include "store/UYmPlayerlist.h"
#include "support/temp_dir.h"

namespace orvane::store {
namespace {

using test::TempDir;
using test::WriteFileBytes;

std::vector<TPList> StoreLoad(const std::string& file, const std::string& list) {
  TYkPlist plist(file, "DefaultList");
  plist.Load(list);
  return plist.Items();
}

bool Same(const std::vector<TPList>& a, const std::vector<TPList>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].Title != b[i].Title || a[i].Artist != b[i].Artist || a[i].Path != b[i].Path || a[i].Url != b[i].Url ||
        a[i].Ltime != b[i].Ltime)
      return false;
  return true;
}

TEST(ReadPlaylistLists, ReadsWhatTheStoreLoads) {
  TempDir dir;
  const std::string file = dir.File("a.pls");
  // GBK bytes under a GB2312 declaration, another root name, a comment and a foreign element
  // among the songs, a second PlayerList (ignored), a damaged Ltime, references in values.
  WriteFileBytes(file,
                 "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<Other>\n"
                 "<RndList><LIST Path=\"http://h/a.mp3\" Title=\"\xD6\xD0\" Artist=\"\" Url=\"0\" Ltime=\"0\"/></RndList>\n"
                 "<PlayerList><!-- c --><LIST Path=\"/m/1.mp3\" Title=\"A &amp; B\" Artist=\"&#233;\" Url=\"0\" Ltime=\"x\"/>"
                 "<Song Path=\"/m/2.mp3\"/><LIST Title=\"\xE9\x46\" Ltime=\"2.5\"><x/></LIST></PlayerList>\n"
                 "<PlayerList><LIST Path=\"/ignored.mp3\"/></PlayerList>\n</Other>\n");
  std::vector<std::vector<TPList>> lists;
  ASSERT_TRUE(ReadPlaylistLists(file, {"PlayerList", "RndList", "None"}, lists));
  ASSERT_EQ(lists.size(), 3u);
  EXPECT_TRUE(Same(lists[0], StoreLoad(file, "PlayerList")));
  EXPECT_TRUE(Same(lists[1], StoreLoad(file, "RndList")));
  EXPECT_TRUE(lists[2].empty());
  ASSERT_EQ(lists[0].size(), 3u);
  EXPECT_EQ(lists[0][0].Title, "A & B");
  EXPECT_EQ(lists[0][2].Title, "镕");
  EXPECT_EQ(lists[1][0].Title, "中");
}

TEST(ReadPlaylistLists, MissingFileIsEmptyAndDamagedFileIsRefused) {
  TempDir dir;
  std::vector<std::vector<TPList>> lists;
  EXPECT_TRUE(ReadPlaylistLists(dir.File("none.pls"), {"PlayerList"}, lists));
  ASSERT_EQ(lists.size(), 1u);
  EXPECT_TRUE(lists[0].empty());
  for (const char* bad : {"<DefaultList><PlayerList><LIST Path=\"a\"/>", "", "not xml", "<?xml version=\"1.0\"?>"}) {
    WriteFileBytes(dir.File("bad.pls"), bad);
    EXPECT_FALSE(ReadPlaylistLists(dir.File("bad.pls"), {"PlayerList"}, lists)) << bad;
    EXPECT_TRUE(lists[0].empty());
  }
}

}  // namespace
}  // namespace orvane::store
