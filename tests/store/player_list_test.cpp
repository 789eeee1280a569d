#include <gtest/gtest.h>
#include <iconv.h>

#include <filesystem>
#include <string>
#include <vector>

#include "store/UYmPlayerlist.h"
#include "support/temp_dir.h"

using orvane::store::TPList;
using orvane::store::TYkPlist;
using orvane::test::ReadFileBytes;
using orvane::test::TempDir;
using orvane::test::WriteFileBytes;

namespace {

struct Song {
  std::string title;
  std::string singer;
  std::string location;
};

// How the main window saves a list: clear the list element, add every song, let the store go.
void SaveList(const std::string& file, const std::string& list, const std::vector<Song>& songs) {
  TYkPlist store(file, "DefaultList");
  store.ClearList(list);
  for (const auto& s : songs) store.AddItem(list + "/LIST", s.title, s.singer, "0", s.location, 0);
}

std::vector<Song> LoadList(const std::string& file, const std::string& list) {
  TYkPlist store(file, "DefaultList");
  store.Load(list);
  std::vector<Song> out;
  for (const TPList& r : store.Items()) out.push_back({r.Title, r.Artist, r.Path});
  return out;
}

size_t CountOf(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
  return n;
}

bool operator==(const Song& a, const Song& b) {
  return a.title == b.title && a.singer == b.singer && a.location == b.location;
}

// True when bytes are valid in strict GB2312 (EUC-CN), i.e. readable by any GB2312 reader.
bool IsStrictGb2312(const std::string& bytes) {
  const iconv_t cd = ::iconv_open("UTF-8", "GB2312");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  std::string out(bytes.size() * 4 + 16, '\0');
  char* dst = out.data();
  size_t dstLeft = out.size();
  const size_t rc = ::iconv(cd, &in, &inLeft, &dst, &dstLeft);
  ::iconv_close(cd);
  return rc != static_cast<size_t>(-1) && inLeft == 0;
}

}  // namespace

TEST(TYkPlist, SavedListHasTheFixedShapeAndOrder) {
  TempDir dir;
  const std::string file = dir.File("Default.pls");
  SaveList(file, "PlayerList", {{"One", "A", "/m/1.mp3"}, {"Two", "B", "http://h/2.mp3"}, {"Three", "", "/m/3.ogg"}});
  const std::string saved = ReadFileBytes(file);
  EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<DefaultList>", 0), 0u) << saved;
  const std::string expectedSongs =
      "<LIST Path=\"/m/1.mp3\" Title=\"One\" Artist=\"A\" Url=\"0\" Ltime=\"0\"/>\n"
      "    <LIST Path=\"http://h/2.mp3\" Title=\"Two\" Artist=\"B\" Url=\"0\" Ltime=\"0\"/>\n"
      "    <LIST Path=\"/m/3.ogg\" Title=\"Three\" Artist=\"\" Url=\"0\" Ltime=\"0\"/>\n";
  EXPECT_NE(saved.find("  <PlayerList>\n    " + expectedSongs + "  </PlayerList>\n</DefaultList>"), std::string::npos)
      << saved;

  // Saving again after a deletion leaves only the remaining songs.
  SaveList(file, "PlayerList", {{"One", "A", "/m/1.mp3"}, {"Three", "", "/m/3.ogg"}});
  EXPECT_EQ(CountOf(ReadFileBytes(file), "<LIST "), 2u);
  EXPECT_EQ(LoadList(file, "PlayerList"), (std::vector<Song>{{"One", "A", "/m/1.mp3"}, {"Three", "", "/m/3.ogg"}}));
}

TEST(TYkPlist, OnlyTheActiveListIsRewritten) {
  TempDir dir;
  const std::string file = dir.File("Default.pls");
  SaveList(file, "PlayerList", {{"Mine", "Me", "/m/a.mp3"}});
  SaveList(file, "RndList", {{"R1", "S1", "http://h/r1.mp3"}, {"R2", "S2", "http://h/r2.mp3"}});
  SaveList(file, "RndList", {{"R3", "S3", "http://h/r3.mp3"}});
  EXPECT_EQ(LoadList(file, "PlayerList"), (std::vector<Song>{{"Mine", "Me", "/m/a.mp3"}}));
  EXPECT_EQ(LoadList(file, "RndList"), (std::vector<Song>{{"R3", "S3", "http://h/r3.mp3"}}));

  // An empty music list saved into a file without "PlayerList" creates none, yet writes the file.
  const std::string fresh = dir.File("fresh.pls");
  SaveList(fresh, "RndList", {{"R", "S", "http://h/r.mp3"}});
  const auto before = std::filesystem::last_write_time(fresh);
  std::filesystem::last_write_time(fresh, before - std::chrono::hours(1));
  SaveList(fresh, "PlayerList", {});
  EXPECT_EQ(ReadFileBytes(fresh).find("PlayerList"), std::string::npos);
  EXPECT_GT(std::filesystem::last_write_time(fresh), before - std::chrono::hours(1));
}

TEST(TYkPlist, LoadTakesEveryChildElementAndToleratesDamagedLtime) {
  TempDir dir;
  const std::string file = dir.File("Default.pls");
  WriteFileBytes(file,
                 "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n"
                 "<MyLists>\n"
                 " <PlayerList>\n"
                 "  <LIST Path=\"/a\" Title=\"A\" Artist=\"x\" Url=\"0\" Ltime=\"0\"/>\n"
                 "  <!-- not a song -->\n"
                 "  <SONG Path=\"/b\" Ltime=\"1.5\"/>\n"
                 "  <LIST Path=\"/c\" Title=\"C\" Ltime=\"soon\"/>\n"
                 "  <LIST Path=\"/d\" Title=\"D\"/>\n"
                 "  <LIST Title=\"E\" Ltime=\"-2\"/>\n"
                 " </PlayerList>\n"
                 " <PlayerList><LIST Path=\"/second-list-ignored\"/></PlayerList>\n"
                 " <RndList><LIST Path=\"http://h/r\" Title=\"R\" Artist=\"S\" Url=\"u\" Ltime=\"0\"/></RndList>\n"
                 "</MyLists>\n");
  TYkPlist store(file, "DefaultList");
  store.Load("PlayerList");
  ASSERT_EQ(store.Count(), 5);
  struct Expected {
    const char* path;
    const char* title;
    double ltime;
  };
  const Expected expected[] = {{"/a", "A", 0}, {"/b", "", 1.5}, {"/c", "C", 0}, {"/d", "D", 0}, {"", "E", -2}};
  for (int i = 0; i < 5; ++i) {
    const TPList* r = store.Item(i);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Path, expected[i].path) << i;
    EXPECT_EQ(r->Title, expected[i].title) << i;
    EXPECT_EQ(r->Ltime, expected[i].ltime) << i;
  }
  EXPECT_EQ(store.Item(0)->Artist, "x");
  EXPECT_EQ(store.Item(-1), nullptr);
  EXPECT_EQ(store.Item(5), nullptr);

  store.Load("RndList");  // appends without clearing
  ASSERT_EQ(store.Count(), 6);
  EXPECT_EQ(store.Item(5)->Url, "u");
  store.Load("NoSuchList");
  EXPECT_EQ(store.Count(), 6);
  store.Clear();
  EXPECT_EQ(store.Count(), 0);
  EXPECT_FALSE(store.Modified());
}

TEST(TYkPlist, ClearListOfAMissingListStillRewritesAndAddItemCreatesWhatIsMissing) {
  TempDir dir;
  const std::string file = dir.File("Default.pls");
  WriteFileBytes(file, "<DefaultList><Other keep=\"1\"/></DefaultList>");
  {
    TYkPlist store(file, "DefaultList");
    store.ClearList("PlayerList");
    EXPECT_TRUE(store.Modified());
    store.AddItem("Deep/Er/LIST", "t", "a", "u", "/p", 2.25);
    store.AddItem("Deep/Er/LIST", "t2", "a2", "u2", "/p2", 0);
  }
  const std::string saved = ReadFileBytes(file);
  EXPECT_NE(saved.find("<Other keep=\"1\"/>"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<LIST Path=\"/p\" Title=\"t\" Artist=\"a\" Url=\"u\" Ltime=\"2.25\"/>"), std::string::npos)
      << saved;
  EXPECT_EQ(CountOf(saved, "<Deep>"), 1u);
  EXPECT_EQ(CountOf(saved, "<LIST "), 2u);
}

TEST(TYkPlist, TenThousandSongsWithAnyTextRoundTripUnchanged) {
  const std::string titles[] = {"忘情水", "Café de Flore", "Straße ß", "Song \xF0\x9F\x8E\xB5\xF0\x9F\x98\x80",
                                "朱镕基 𠀀 喆", "a&b <c> \"d\" 'e'", "Ελληνικά русский 한국어 日本語"};
  std::vector<Song> songs;
  for (int i = 0; i < 10000; ++i) {
    const std::string& t = titles[static_cast<size_t>(i) % std::size(titles)];
    songs.push_back({t + " " + std::to_string(i), titles[static_cast<size_t>(i * 3) % std::size(titles)],
                     "/home/用户/音乐/" + std::to_string(i) + " " + t + ".mp3"});
  }
  TempDir dir;
  const std::string file = dir.File("Default.pls");
  SaveList(file, "PlayerList", songs);
  const std::string saved = ReadFileBytes(file);
  EXPECT_TRUE(IsStrictGb2312(saved)) << "what GB2312 cannot hold must be written as character references";
  EXPECT_EQ(LoadList(file, "PlayerList"), songs);
}

TEST(TYkPlist, GbkFileWrittenOnChineseWindowsLoads) {
  // GBK bytes under a GB2312 declaration, as Windows writes them: 朱镕基 has the GBK-only 镕 (E9 46),
  // 刘德华 / 忘情水 are plain GB2312; CRLF line ends; a character reference for what GBK lacks.
  const std::string bytes =
      "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n"
      "<DefaultList>\r\n"
      "<PlayerList>\r\n"
      "<LIST Path=\"C:\\\xD2\xF4\xC0\xD6\\\xCD\xFC\xC7\xE9\xCB\xAE.mp3\" Title=\"\xCD\xFC\xC7\xE9\xCB\xAE\" "
      "Artist=\"\xC1\xF5\xB5\xC2\xBB\xAA\" Url=\"0\" Ltime=\"0\"/>\r\n"
      "<LIST Path=\"D:\\a.mp3\" Title=\"\xD6\xEC\xE9\x46\xBB\xF9 &#127925;\" Artist=\"\" Url=\"0\" Ltime=\"0\"/>\r\n"
      "</PlayerList>\r\n"
      "</DefaultList>\r\n";
  TempDir dir;
  const std::string file = dir.File("Default.pls");
  WriteFileBytes(file, bytes);
  const std::vector<Song> expected = {{"忘情水", "刘德华", "C:\\音乐\\忘情水.mp3"}, {"朱镕基 🎵", "", "D:\\a.mp3"}};
  {
    TYkPlist store(file, "DefaultList");
    EXPECT_FALSE(store.MovedAside()) << store.LoadError();
  }
  EXPECT_EQ(LoadList(file, "PlayerList"), expected);
  // Saved again, it stays readable and unchanged.
  SaveList(file, "PlayerList", expected);
  EXPECT_TRUE(IsStrictGb2312(ReadFileBytes(file)));
  EXPECT_EQ(LoadList(file, "PlayerList"), expected);
}

TEST(TYkPlist, ARewrittenListIsSavedByteForByteAsTheBuiltOne) {
  // The main window rewrites a list without building its songs as elements; what it saves must be
  // exactly what the elements would have given, whatever the file holds around the list and
  // whatever the songs' texts hold.
  const std::vector<Song> songs = {
      {"One & <Two> \"Three\" 'Four'", "A\tB\nC\rD", "/m/1.mp3"},
      {"朱镕基 🎵 Straße", "", "/home/user/音乐/专辑/a]]>b.mp3"},
      {std::string("bad \xFF byte, control \x01 and \xEF\xBF\xBE"), "刘德华", "http://h/2.mp3?a=1&b=2"},
  };
  const std::string head = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n";
  struct Case {
    const char* name;
    const char* file;  // nullptr: no file yet
    const char* list;
    size_t songCount;
  };
  const Case cases[] = {
      {"the list among other content",
       "<DefaultList><!-- kept --><RndList><LIST Path=\"r\" Title=\"R\"/></RndList>"
       "<PlayerList a=\"1\"><LIST Path=\"old\"/><!-- old --><?pi old?>text<Deep><LIST/></Deep></PlayerList>"
       "<PlayerList><LIST Path=\"second list of the name\"/></PlayerList><Other x=\"&amp;\">t</Other></DefaultList>",
       "PlayerList", 3},
      // Text beside the list: libxml2 indents nothing in there.
      {"mixed content", "<DefaultList>loose<PlayerList><LIST/></PlayerList>text</DefaultList>", "PlayerList", 3},
      {"no such list yet", "<DefaultList><RndList><LIST Path=\"r\"/></RndList></DefaultList>", "PlayerList", 3},
      {"emptied", "<DefaultList><PlayerList><LIST Path=\"old\"/></PlayerList></DefaultList>", "PlayerList", 0},
      {"no file", nullptr, "RndList", 2},
      // A comment GB2312 cannot hold makes the whole file GB18030.
      {"a file written as GB18030", "<DefaultList><!-- 🎵 --><RndList/></DefaultList>", "RndList", 3},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string built = dir.File("built.pls"), rewritten = dir.File("rewritten.pls");
    if (c.file) {
      WriteFileBytes(built, head + c.file);
      WriteFileBytes(rewritten, head + c.file);
    }
    const std::vector<Song> used(songs.begin(), songs.begin() + static_cast<long>(c.songCount));
    SaveList(built, c.list, used);
    {
      TYkPlist store(rewritten, "DefaultList", c.list);
      // The old songs were never loaded.
      store.Load(c.list);
      EXPECT_EQ(store.Count(), 0) << c.name;
      store.SetRewrittenSongs("LIST", used.size(), [&used](size_t i, TPList& song) {
        song = {used[i].title, used[i].singer, used[i].location, "0", 0};
      });
      // Every save writes every song: a later one (after a failure, say) loses none.
      ASSERT_TRUE(store.Save()) << c.name;
      WriteFileBytes(rewritten, "");
      ASSERT_TRUE(store.Save()) << c.name;
    }
    EXPECT_EQ(ReadFileBytes(rewritten), ReadFileBytes(built)) << c.name;
  }
}
