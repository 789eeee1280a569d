#include "desktop/Folders.h"

#include <gtest/gtest.h>

#include "desktop_env.h"

namespace orvane::desktop {
namespace {

namespace fs = std::filesystem;
using test::DesktopHome;
using test::ScopedEnv;

TEST(GetSpecialFolder, MapsWindowsCodesToDesktopFolders) {
  DesktopHome home;
  ScopedEnv tmp("TMPDIR", "/var/tmp/orvane");
  const std::string h = home.Home();
  struct Case {
    uint8_t code;
    std::string folder;
  };
  const Case cases[] = {
      {5, h + "/Documents/"},   {133, h + "/Documents/"},   {13, h + "/Music/"},   {141, h + "/Music/"},
      {16, h + "/Desktop/"},    {0, h + "/Desktop/"},       {14, h + "/Videos/"},  {39, h + "/Pictures/"},
      {26, home.Config() + "/"}, {28, home.Data() + "/"},   {40, h + "/"},
      {160, ""},                {161, ""},                  {162, ""},             {163, "/var/tmp/orvane/"},
      {200, ""},                {255, ""},                  {3, ""},               {36, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetSpecialFolder(c.code, false), c.folder) << "code " << int(c.code);
    EXPECT_EQ(GetSpecialFolder(c.code, true), c.folder) << "short form, code " << int(c.code);
  }
}

TEST(GetSpecialFolder, ReadsUserDirsAndFallsBackForTemp) {
  DesktopHome home;
  test::WriteFileBytes(fs::path(home.Config()) / "user-dirs.dirs",
                       "# written by xdg-user-dirs-update\n"
                       "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
                       "XDG_MUSIC_DIR=\"/srv/music/\"\n"
                       "XDG_DESKTOP_DIR=\"$HOME\"\n"
                       "XDG_VIDEOS_DIR=\"relative/ignored\"\n");
  EXPECT_EQ(GetSpecialFolder(133, false), home.Home() + "/Dokumente/");
  EXPECT_EQ(GetSpecialFolder(13, false), "/srv/music/");
  EXPECT_EQ(GetSpecialFolder(16, false), home.Home() + "/");
  EXPECT_EQ(GetSpecialFolder(14, false), home.Home() + "/Videos/");
  for (const char* value : {"", "relative/tmp"}) {
    ScopedEnv tmp("TMPDIR", std::string(value));
    EXPECT_EQ(GetSpecialFolder(163, false), "/tmp/") << "TMPDIR=" << value;
  }
  ScopedEnv noTmp("TMPDIR", std::nullopt);
  EXPECT_EQ(GetSpecialFolder(163, false), "/tmp/");
}

TEST(ForceFolder, CreatesEveryFolderThatEndsInASlash) {
  test::TempDir dir;
  const std::string root = dir.Path().string();

  EXPECT_TRUE(ForceFolder(root + "/x/y/z/", true));
  EXPECT_TRUE(fs::is_directory(root + "/x/y/z"));

  EXPECT_TRUE(ForceFolder(root + "/a/b", true));
  EXPECT_TRUE(fs::is_directory(root + "/a"));
  EXPECT_FALSE(fs::exists(root + "/a/b")) << "a last part without a slash is not created";

  EXPECT_TRUE(ForceFolder(root + "/x/y", false)) << "an existing folder";
  EXPECT_FALSE(ForceFolder(root + "/m/n/", false));
  EXPECT_FALSE(fs::exists(root + "/m"));
}

TEST(ForceFolder, ReportsAFolderItCouldNotCreate) {
  test::TempDir dir;
  test::WriteFileBytes(dir.Path() / "file", "not a folder");
  EXPECT_FALSE(ForceFolder(dir.File("file") + "/sub/", true));
  EXPECT_FALSE(ForceFolder(dir.File("file") + "/", true));
}

TEST(BrowseForFolder, CancelsWithoutAnApplication) {
  std::string folder = "/keep/this";
  EXPECT_FALSE(BrowseForFolder("选择歌词存放目录", folder, true));
  EXPECT_EQ(folder, "/keep/this");
}

TEST(CleanFileName, IsTheSharedTextHelper) {
  EXPECT_EQ(CleanFileName("a/b:c?.mp3"), "abc.mp3");
}

}  // namespace
}  // namespace orvane::desktop
