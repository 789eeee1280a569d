// What both stores share: a file that cannot be loaded is moved aside, never overwritten.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "store/UYmPlayerlist.h"
#include "store/UYmXMLCFG.h"
#include "support/temp_dir.h"

using orvane::store::TYkConfig;
using orvane::store::TYkPlist;
using orvane::test::ReadFileBytes;
using orvane::test::TempDir;
using orvane::test::WriteFileBytes;
namespace fs = std::filesystem;

namespace {

const std::string kGoodList =
    "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<DefaultList><PlayerList>"
    "<LIST Path=\"/a.mp3\" Title=\"\xCD\xFC\xC7\xE9\xCB\xAE\" Artist=\"x\" Url=\"0\" Ltime=\"0\"/>"
    "<LIST Path=\"/b.mp3\" Title=\"b\" Artist=\"y\" Url=\"0\" Ltime=\"0\"/>"
    "</PlayerList></DefaultList>\n";

std::set<std::string> MovedCopies(const TempDir& dir, const std::string& name) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(dir.Path())) {
    const std::string f = e.path().filename().string();
    if (f.rfind(name + ".bad-", 0) == 0) out.insert(e.path().string());
  }
  return out;
}

}  // namespace

TEST(StoreFileDamage, UnloadableFilesAreMovedAsideAndKeptByteForByte) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"truncated", kGoodList.substr(0, kGoodList.size() / 2)},
      {"cut inside a GBK character", kGoodList.substr(0, kGoodList.find("\xCD\xFC") + 1)},
      {"empty", ""},
      {"not XML", "PK\x03\x04 binary \xFF\xFE junk"},
      {"bytes invalid as GBK", "<?xml version=\"1.0\" encoding=\"GB2312\"?><DefaultList a=\"\xFF\xFF\"/>"},
      {"invalid UTF-8", "<DefaultList a=\"\xC3\x28\"/>"},
      {"two roots", "<DefaultList/><DefaultList/>"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string file = dir.File("Default.pls");
    WriteFileBytes(file, c.bytes);
    std::string movedTo;
    {
      TYkPlist store(file, "DefaultList");
      EXPECT_TRUE(store.MovedAside()) << c.name;
      EXPECT_FALSE(store.LoadError().empty()) << c.name;
      movedTo = store.MovedAsidePath();
      store.Load("PlayerList");
      EXPECT_EQ(store.Count(), 0) << c.name;
      EXPECT_FALSE(store.Modified()) << c.name;
      // The next save writes a fresh file and leaves the moved copy alone.
      store.ClearList("PlayerList");
      store.AddItem("PlayerList/LIST", "new", "", "0", "/new.mp3", 0);
    }
    EXPECT_EQ(MovedCopies(dir, "Default.pls"), std::set<std::string>{movedTo}) << c.name;
    EXPECT_EQ(ReadFileBytes(movedTo), c.bytes) << c.name;
    TYkPlist reread(file, "DefaultList");
    reread.Load("PlayerList");
    EXPECT_FALSE(reread.MovedAside()) << c.name;
    ASSERT_EQ(reread.Count(), 1) << c.name;
    EXPECT_EQ(reread.Item(0)->Title, "new");
  }
}

TEST(StoreFileDamage, MovedAsideNameCarriesTheTimeAndNeverReplacesAnEarlierCopy) {
  TempDir dir;
  const std::string file = dir.File("Orvane.xml");
  std::set<std::string> moved;
  for (int round = 0; round < 3; ++round) {
    WriteFileBytes(file, "<MainConfig><Window><PLAY PATTERN=\"" + std::to_string(round));
    TYkConfig cfg(file, "MainConfig");
    ASSERT_TRUE(cfg.MovedAside());
    EXPECT_EQ(cfg.ReadInteger("Window/PLAY", "PATTERN", -1), -1);
    moved.insert(cfg.MovedAsidePath());
  }
  ASSERT_EQ(moved.size(), 3u);
  EXPECT_EQ(MovedCopies(dir, "Orvane.xml"), moved);
  for (const auto& path : moved) {
    // "<name>.bad-yyyymmdd-hhmmss", with "-N" added when that name is taken.
    const std::string name = fs::path(path).filename().string();
    const std::string stamp = name.substr(std::string("Orvane.xml.bad-").size());
    ASSERT_GE(stamp.size(), 15u) << name;
    for (size_t i = 0; i < 15; ++i) EXPECT_TRUE(i == 8 ? stamp[i] == '-' : std::isdigit(stamp[i]) != 0) << name;
  }
  std::set<std::string> contents;
  for (const auto& path : moved) contents.insert(ReadFileBytes(path));
  EXPECT_EQ(contents.size(), 3u);  // each round's file kept
  EXPECT_FALSE(fs::exists(file));  // nothing was written: nothing to save
}

TEST(StoreFileDamage, AFolderInThePlaceOfTheFileIsNeitherMovedNorReplaced) {
  TempDir dir;
  const std::string file = dir.File("Orvane.xml");
  fs::create_directory(file);
  TYkConfig cfg(file, "MainConfig");
  EXPECT_FALSE(cfg.MovedAside());
  EXPECT_FALSE(cfg.LoadError().empty());
  cfg.WriteInteger("Window/PLAY", "PATTERN", 1);
  std::string error;
  EXPECT_FALSE(cfg.Save(&error));
  EXPECT_TRUE(fs::is_directory(file));
}

// Comments, CDATA sections and processing instructions belong to whoever wrote the file: a save
// writes them back byte for byte. A character reference cannot stand in them, so a document whose
// such parts GB2312 cannot carry is written as GB18030 as a whole.
TEST(StoreSave, KeepsWhatThePlayerDoesNotOwnByteForByte) {
  struct Case {
    const char* name;
    std::string foreign;      // GBK bytes placed before the root's children
    const char* declaration;  // what the saved file must declare
  };
  const Case cases[] = {
      {"GB2312 parts", "<!-- \xD7\xA2\xCA\xCD note --><?app \xC9\xE8\xD6\xC3 x?><![CDATA[<\xB8\xE8> & ]]>", "GB2312"},
      {"GBK-only character in a comment", "<!-- \xD6\xEC\xE9\x46\xBB\xF9 -->", "GB18030"},
      {"GBK-only character in CDATA", "<![CDATA[\xE9\x46]]>", "GB18030"},
      {"GBK-only character in a processing instruction", "<?app \xE9\x46?>", "GB18030"},
      {"four-byte character in a comment", "<!-- \x81\x30\x81\x30 -->", "GB18030"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string file = dir.File("Orvane.xml");
    WriteFileBytes(file, "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<MainConfig>" + c.foreign +
                             "<Window><PLAY PATTERN=\"1\"/></Window></MainConfig>\n");
    {
      TYkConfig cfg(file, "MainConfig");
      ASSERT_FALSE(cfg.MovedAside()) << c.name << ": " << cfg.LoadError();
      cfg.WriteString("Window/LRC", "PATH", "/歌词/镕");  // a reference in a value is fine
    }
    const std::string saved = ReadFileBytes(file);
    EXPECT_NE(saved.find(c.foreign), std::string::npos) << c.name << ":\n" << saved;
    EXPECT_NE(saved.find(std::string("encoding=\"") + c.declaration + "\""), std::string::npos) << c.name;
    TYkConfig again(file, "MainConfig");
    EXPECT_FALSE(again.MovedAside()) << c.name;
    EXPECT_EQ(again.ReadString("Window/LRC", "PATH", ""), "/歌词/镕") << c.name;
  }
}

// Orvane.xml, Default.pls (and lyric files) that are symbolic links stay links: the save replaces
// the file the link leads to.
TEST(StoreSave, WritesThroughSymbolicLinks) {
  TempDir dir;
  fs::create_directory(dir.File("synced"));
  const std::string target = dir.File("synced/Default.pls");
  WriteFileBytes(target, kGoodList);
  const std::string link = dir.File("Default.pls");
  fs::create_symlink("synced/Default.pls", link);  // relative, as users make them
  {
    TYkPlist plist(link, "DefaultList");
    plist.ClearList("PlayerList");
    plist.AddItem("PlayerList/LIST", "new", "", "0", "/new.mp3", 0);
  }
  EXPECT_TRUE(fs::is_symlink(link));
  TYkPlist reread(target, "DefaultList");
  reread.Load("PlayerList");
  ASSERT_EQ(reread.Count(), 1);
  EXPECT_EQ(reread.Item(0)->Title, "new");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("synced")), {}), 1);  // no temporaries left

  // A damaged file behind the link is moved aside beside itself; the link stays and leads to the
  // next save.
  WriteFileBytes(target, "<DefaultList><PlayerList>");
  {
    TYkConfig cfg(link, "DefaultList");
    ASSERT_TRUE(cfg.MovedAside());
    EXPECT_EQ(fs::path(cfg.MovedAsidePath()).parent_path(), fs::path(dir.File("synced")));
    cfg.WriteInteger("Window/PLAY", "PATTERN", 2);
  }
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(TYkConfig(target, "MainConfig").ReadInteger("Window/PLAY", "PATTERN", 0), 2);
}
