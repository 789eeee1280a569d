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
