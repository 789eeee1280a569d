#include "desktop/Process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include "desktop_env.h"

namespace orvane::desktop {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WaitForFile;

TEST(SplitCommandLine, FollowsWindowsQuotingRules) {
  struct Case {
    const char* line;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"", {}},
      {" \t ", {}},
      {"prog", {"prog"}},
      {"  prog   a\tb  ", {"prog", "a", "b"}},
      {"prog \"a b\" c", {"prog", "a b", "c"}},
      {"\"/my apps/orvane/bugreport\" -os", {"/my apps/orvane/bugreport", "-os"}},
      // The program token keeps its backslashes and ends at the next quote.
      {"\"C:\\P\\a.exe\" x", {"C:\\P\\a.exe", "x"}},
      {"C:\\P\\a.exe\\ x", {"C:\\P\\a.exe\\", "x"}},
      {"\"a\"b c", {"a", "b", "c"}},
      // Backslashes count only before a quote.
      {"prog a\\\\b", {"prog", "a\\\\b"}},
      {"prog a\\\"b", {"prog", "a\"b"}},
      {"prog a\\\\\\\"b", {"prog", "a\\\"b"}},
      {"prog \"a\\\\\" b", {"prog", "a\\", "b"}},
      {"prog \"a\\\\\\\" b\"", {"prog", "a\\\" b"}},
      // Quotes group anywhere in an argument; "" inside a quoted part is a literal quote.
      {"prog a\"b c\"d", {"prog", "ab cd"}},
      {"prog \"\" x", {"prog", "", "x"}},
      {"prog \"a\"\"b\"", {"prog", "a\"b"}},
      {"prog \"open ended", {"prog", "open ended"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.args) << "line: " << c.line;
}

TEST(QuoteCommandArg, SplitsBackUnchanged) {
  const std::string args[] = {"plain", "", "a b", "tab\there", "say \"hi\"", "ends\\", "dir with\\",
                              "a\\\"b", "\\\\server\\share", "x\\\\\"y"};
  for (const auto& arg : args) {
    const auto split = SplitCommandLine("prog " + QuoteCommandArg(arg) + " next");
    ASSERT_EQ(split.size(), 3u) << arg;
    EXPECT_EQ(split[1], arg);
    EXPECT_EQ(split[2], "next");
  }
  EXPECT_EQ(QuoteCommandArg("plain"), "plain");
  EXPECT_EQ(SplitCommandLine(QuoteCommandArg("/my apps/prog") + " -os")[0], "/my apps/prog");
}

TEST(RunCommandLine, StartsTheProgramInItsOwnSessionWithoutOurFiles) {
  TempDir dir;
  const auto marker = dir.Path() / "marker";
  // An open descriptor without close-on-exec, placed high so the shell's own ones don't collide.
  const int leaked = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(leaked, 0);
  ASSERT_EQ(::dup2(leaked, 57), 57);
  ::close(leaked);
  const std::string script =
      "a0=$0; a1=$1; set -- $(cat /proc/$$/stat); "
      "if [ -e /proc/$$/fd/57 ]; then fd=open; else fd=closed; fi; "
      "echo \"$1 $6 $fd|$a0|$a1\" > \"" + marker.string() + ".tmp\"; "
      "mv \"" + marker.string() + ".tmp\" \"" + marker.string() + "\"";
  const bool started =
      RunCommandLine("/bin/sh -c " + QuoteCommandArg(script) + " \"first arg\" sec\\\"ond", 1);
  ::close(57);
  ASSERT_TRUE(started);
  ASSERT_TRUE(WaitForFile(marker));
  std::istringstream fields(ReadFileBytes(marker));
  std::string pid, session, fd, first, second;
  fields >> pid >> session;
  fields.ignore(1);
  std::getline(fields, fd, '|');
  std::getline(fields, first, '|');
  std::getline(fields, second);
  EXPECT_EQ(pid, session) << "the child leads a session of its own";
  EXPECT_EQ(fd, "closed") << "descriptors beyond 0-2 are not inherited";
  EXPECT_EQ(first, "first arg");
  EXPECT_EQ(second, "sec\"ond");
}

TEST(RunCommandLine, FindsProgramsOnPath) {
  TempDir dir;
  const auto marker = dir.Path() / "marker";
  test::WriteScript(dir.Path() / "orvane-fake-tool", "echo \"$1\" > \"" + marker.string() + ".tmp\"; mv \"" +
                                                         marker.string() + ".tmp\" \"" + marker.string() + "\"\n");
  test::ScopedEnv path("PATH", dir.Path().string() + ":/usr/bin:/bin");
  ASSERT_TRUE(RunCommandLine("orvane-fake-tool \"two words\"", 0));
  ASSERT_TRUE(WaitForFile(marker));
  EXPECT_EQ(ReadFileBytes(marker), "two words\n");
}

TEST(RunCommandLine, FailsForWhatCannotStart) {
  TempDir dir;
  test::WriteFileBytes(dir.Path() / "not-executable", "#!/bin/sh\n");
  const std::string cases[] = {
      "",
      "   ",
      "/nonexistent/orvane-program -os",
      "orvane-no-such-program-anywhere",
      (dir.Path() / "not-executable").string(),
      dir.Path().string(),  // a folder
  };
  for (const auto& line : cases) EXPECT_FALSE(RunCommandLine(line, 1)) << line;
}

TEST(RunCommandLine, LeavesNoZombie) {
  TempDir dir;
  const auto marker = dir.Path() / "pid";
  ASSERT_TRUE(RunCommandLine("/bin/sh -c " + QuoteCommandArg("echo $$ > '" + marker.string() + ".tmp'; mv '" +
                                                            marker.string() + ".tmp' '" + marker.string() + "'"),
                             1));
  ASSERT_TRUE(WaitForFile(marker));
  const pid_t pid = std::stoi(ReadFileBytes(marker));
  // A zombie still answers kill(pid, 0); a collected child does not.
  bool gone = false;
  for (int i = 0; i < 2000 && !gone; ++i) {
    gone = ::kill(pid, 0) != 0 && errno == ESRCH;
    if (!gone) ::usleep(10000);
  }
  EXPECT_TRUE(gone);
}

TEST(RunAndWait, ReportsExitStatusAndKillsWhatHangs) {
  EXPECT_TRUE(RunAndWait({"/bin/sh", "-c", "exit 0"}, 10000));
  EXPECT_FALSE(RunAndWait({"/bin/sh", "-c", "exit 3"}, 10000));
  EXPECT_FALSE(RunAndWait({"/nonexistent/tool"}, 10000));

  TempDir dir;
  const auto marker = dir.Path() / "pid";
  // The shell starts a sleeping child: killing only the shell would leave it behind.
  const std::string script = "sleep 60 & echo $! > '" + marker.string() + ".tmp'; mv '" + marker.string() + ".tmp' '" +
                             marker.string() + "'; wait";
  EXPECT_FALSE(RunAndWait({"/bin/sh", "-c", script}, 2000));
  ASSERT_TRUE(WaitForFile(marker));
  const pid_t sleeper = std::stoi(ReadFileBytes(marker));
  // The sleeper's parent was killed too, so whoever adopted it collects it; until then it may
  // linger as a zombie, which is dead all the same.
  const auto stat = std::filesystem::path("/proc") / std::to_string(sleeper) / "stat";
  bool dead = false;
  for (int i = 0; i < 2000 && !dead; ++i) {
    const std::string fields = std::filesystem::exists(stat) ? ReadFileBytes(stat) : std::string();
    const auto paren = fields.rfind(')');
    dead = fields.empty() || (paren != std::string::npos && fields.compare(paren + 1, 3, " Z ") == 0);
    if (!dead) ::usleep(10000);
  }
  EXPECT_TRUE(dead);
}

}  // namespace
}  // namespace orvane::desktop
