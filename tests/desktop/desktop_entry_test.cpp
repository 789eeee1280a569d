#include "desktop/DesktopEntry.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "desktop_env.h"

namespace orvane::desktop {
namespace {

// A program that may stand bare does (launchers that split Exec at blanks need that); any other is
// quoted as the Exec rules ask.
TEST(ExecValue, QuotesTheExecutableOnlyWhereItMust) {
  struct Case {
    const char* exe;
    const char* rest;
    const char* value;  // as it stands in the file
  };
  const Case cases[] = {
      {"/usr/bin/orvane", "%F", "/usr/bin/orvane %F"},
      {"/home/u/音乐/orvane-1.0/bin/orvane", "/l %F", "/home/u/音乐/orvane-1.0/bin/orvane /l %F"},
      {"/opt/My Apps/orvane", "/l %f", R"("/opt/My Apps/orvane" /l %f)"},
      {"/opt/100%/orvane", "", R"("/opt/100%%/orvane")"},
      {"/opt/a\"b/orvane", "", R"("/opt/a\\"b/orvane")"},
      {"/opt/$HOME/`x`/orvane", "", R"("/opt/\\$HOME/\\`x\\`/orvane")"},
      {"/opt/back\\slash/orvane", "", R"("/opt/back\\\\slash/orvane")"},
      {"/opt/new\nline/orvane", "", R"("/opt/new\nline/orvane")"},
      {"/opt/it's/orvane", "", R"("/opt/it's/orvane")"},
      {"/opt/*/orvane", "", R"("/opt/*/orvane")"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExecValue(c.exe, c.rest), c.value) << c.exe;
}

TEST(LaunchPath, LinksAPathThatNeedsQuotesAndKeepsOthers) {
  test::DesktopHome home;
  EXPECT_EQ(LaunchPath("/usr/bin/orvane"), "/usr/bin/orvane");
  const std::string link = home.Data() + "/orvane/bin/orvane";
  EXPECT_EQ(LaunchPath("/opt/My Apps/orvane"), link);
  EXPECT_EQ(std::filesystem::read_symlink(link), "/opt/My Apps/orvane");
  // The player moved: the link follows it.
  EXPECT_EQ(LaunchPath("/opt/Other Place/orvane"), link);
  EXPECT_EQ(std::filesystem::read_symlink(link), "/opt/Other Place/orvane");
}

}  // namespace
}  // namespace orvane::desktop
