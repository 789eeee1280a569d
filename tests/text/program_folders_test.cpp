// The program's own folders, worked out from where the program is: a build tree keeps everything in
// one folder, an install spreads it over bin/, lib/orvane/ and share/orvane/ of its prefix.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"
#include "text/ProgramFolders.h"

using namespace orvane::text;
using orvane::test::TempDir;

TEST(ProgramFolders, BuildTreeAndInstalledLayouts) {
  TempDir dir;
  const std::string root = dir.Path().string();
  for (const char* folder : {"usr/bin", "usr/lib/orvane", "build/bin", "stray/bin"})
    std::filesystem::create_directories(dir.Path() / folder);
  struct Case {
    std::string program;
    ProgramFolders expected;
  };
  const std::string usr = root + "/usr/";
  const ProgramFolders installed{usr + "bin/", usr + "lib/orvane/", usr + "share/orvane/"};
  const Case cases[] = {
      {root + "/build/bin/orvane", {root + "/build/bin/", root + "/build/bin/", root + "/build/bin/"}},
      {usr + "bin/orvane", installed},
      {usr + "bin/orvanectl", installed},
      // A helper program among the modules finds the player's folder too.
      {usr + "lib/orvane/bugreport", installed},
      // A bin/ folder without modules installed beside it is just a folder holding everything.
      {root + "/stray/bin/orvane", {root + "/stray/bin/", root + "/stray/bin/", root + "/stray/bin/"}},
      {"orvane", {}},
  };
  for (const auto& c : cases) {
    const ProgramFolders found = FindProgramFolders(c.program);
    EXPECT_EQ(found.Programs, c.expected.Programs) << c.program;
    EXPECT_EQ(found.Modules, c.expected.Modules) << c.program;
    EXPECT_EQ(found.Data, c.expected.Data) << c.program;
  }
}

TEST(ProgramFolders, TheRunningProgramIsFoundByItsRealPath) {
  const std::string self = RunningProgramPath();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(std::filesystem::canonical(self).string(), self);
  EXPECT_EQ(OwnProgramFolders().Modules, self.substr(0, self.rfind('/') + 1));
}
