#include "desktop/Shell.h"

#include <gtest/gtest.h>

#include "desktop_env.h"

namespace orvane::desktop {
namespace {

using test::ReadFileBytes;
using test::ScopedEnv;
using test::TempDir;

// A stand-in for xdg-open that records its arguments, one per line, instead of starting a browser.
class FakeOpener {
 public:
  FakeOpener() : path("PATH", dir.Path().string() + ":/usr/bin:/bin") {
    test::WriteScript(dir.Path() / "xdg-open", "printf '%s\\n' \"$@\" > \"" + dir.File("args.tmp") + "\"\nmv \"" +
                                                   dir.File("args.tmp") + "\" \"" + dir.File("args") + "\"\n");
  }
  // The arguments of the next call; empty when none came.
  std::string Next() {
    const auto file = dir.Path() / "args";
    if (!test::WaitForFile(file)) return {};
    const std::string args = ReadFileBytes(file);
    std::filesystem::remove(file);
    return args;
  }

 private:
  TempDir dir;
  ScopedEnv path;
};

TEST(OpenUrl, PutsHttpInFrontUnlessTheTextHoldsIt) {
  FakeOpener opener;
  struct Case {
    const char* text;
    const char* opened;
  };
  const Case cases[] = {
      {"www.orvane.example", "http://www.orvane.example"},
      {"http://www.orvane.example/soft/", "http://www.orvane.example/soft/"},
      {"see http://music.sibling.example", "see http://music.sibling.example"},
      {"HTTP://www.orvane.example", "http://HTTP://www.orvane.example"},
      {"https://www.orvane.example", "https://www.orvane.example"},
      {"--version", "http://--version"},
  };
  for (const auto& c : cases) {
    OpenUrl(c.text);
    EXPECT_EQ(opener.Next(), std::string(c.opened) + "\n") << c.text;
  }
}

TEST(ShellOpen, ReportsWhetherAnOpenerStarted) {
  {
    FakeOpener opener;
    EXPECT_TRUE(ShellOpen("/home/someone/song list.txt"));
    EXPECT_EQ(opener.Next(), "/home/someone/song list.txt\n");
    EXPECT_FALSE(ShellOpen(""));
  }
  TempDir empty;
  ScopedEnv path("PATH", empty.Path().string());
  EXPECT_FALSE(ShellOpen("http://www.orvane.example")) << "no xdg-open and no GUI application";
}

}  // namespace
}  // namespace orvane::desktop
