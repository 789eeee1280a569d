#include "desktop/AutoRun.h"
#include "desktop/DesktopEntry.h"

#include <gtest/gtest.h>

#include "desktop/XdgPaths.h"
#include "desktop_env.h"

namespace orvane::desktop {
namespace {

namespace fs = std::filesystem;
using test::DesktopHome;
using test::ReadFileBytes;
using test::ScopedEnv;

TEST(SetAutoRun, WritesAndDeletesTheAutostartEntry) {
  DesktopHome home;
  const std::string file = home.Config() + "/autostart/orvane.desktop";
  ASSERT_EQ(AutoRunFile(), file);

  ASSERT_TRUE(SetAutoRun(true, "/opt/My Apps/orvane"));
  EXPECT_EQ(ReadFileBytes(file),
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Version=1.4\n"
            "Name=Orvane\n"
            "Exec=" + home.Data() + "/orvane/bin/orvane\n"
            "Icon=orvane\n"
            "Terminal=false\n");

  ASSERT_TRUE(SetAutoRun(false));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(SetAutoRun(false)) << "nothing to delete is no failure";

  // Without a path: the running executable.
  ASSERT_TRUE(SetAutoRun(true));
  EXPECT_NE(ReadFileBytes(file).find("\nExec=" + ExecValue(LaunchPath(ExecutablePath())) + "\n"), std::string::npos);
}

TEST(SetAutoRun, FallsBackToDotConfigWithoutXdgConfigHome) {
  DesktopHome home;
  for (const char* value : {"", "relative/config"}) {
    ScopedEnv config("XDG_CONFIG_HOME", std::string(value));
    ASSERT_TRUE(SetAutoRun(true, "/usr/bin/orvane"));
    EXPECT_TRUE(fs::exists(home.Home() + "/.config/autostart/orvane.desktop"));
    ASSERT_TRUE(SetAutoRun(false, "/usr/bin/orvane"));
    EXPECT_FALSE(fs::exists(home.Home() + "/.config/autostart/orvane.desktop"));
  }
  EXPECT_TRUE(fs::is_empty(home.Config()));
}

}  // namespace
}  // namespace orvane::desktop
