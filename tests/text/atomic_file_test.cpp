#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <filesystem>

#include "support/temp_dir.h"
#include "text/AtomicFile.h"

using namespace orvane::text;
using orvane::test::TempDir;

TEST(AtomicWriteFile, ReplacesTheFileAndLeavesNoTemporaries) {
  TempDir dir;
  const std::string target = dir.File("a.xml");
  ASSERT_TRUE(AtomicWriteFile(target, "first"));
  ::chmod(target.c_str(), 0600);
  ASSERT_TRUE(AtomicWriteFile(target, "second"));
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(target, bytes));
  EXPECT_EQ(bytes, "second");
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // the replaced file's permissions are kept
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(AtomicWriteFile, FailureKeepsTheOldFileAndSaysWhy) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(AtomicWriteFile(dir.File("missing/a.xml"), "x", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(AtomicWriteFile("", "x"));

  // A disk that fills up in the middle of a save (here: a file-size limit, which holds for root
  // too): the old file stays whole and no temporary file is left behind.
  const std::string target = dir.File("a.xml");
  ASSERT_TRUE(AtomicWriteFile(target, "old"));
  struct rlimit saved {};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit tiny = saved;
  tiny.rlim_cur = 4;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
  const bool written = AtomicWriteFile(target, std::string(100, 'n'), &error);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previousHandler);
  EXPECT_FALSE(written);
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(target, bytes));
  EXPECT_EQ(bytes, "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(ReadWholeFile, FailsOnMissingFilesAndFolders) {
  TempDir dir;
  std::string bytes = "stale";
  EXPECT_FALSE(ReadWholeFile(dir.File("nope"), bytes));
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(ReadWholeFile(dir.Path().string(), bytes));
}

TEST(AtomicWriteFile, WritesThroughSymbolicLinks) {
  TempDir dir;
  namespace fs = std::filesystem;
  fs::create_directory(dir.File("real"));
  struct Case {
    const char* name;
    std::string link;
    std::string target;  // where the bytes must land
  };
  fs::create_symlink("real/a.lrc", dir.File("relative.lrc"));
  fs::create_symlink(dir.File("real/b.lrc"), dir.File("absolute.lrc"));
  fs::create_symlink("relative.lrc", dir.File("chain.lrc"));          // → relative.lrc → real/a.lrc
  fs::create_symlink("real/new.lrc", dir.File("dangling.lrc"));       // its file does not exist yet
  const Case cases[] = {
      {"relative", dir.File("relative.lrc"), dir.File("real/a.lrc")},
      {"absolute", dir.File("absolute.lrc"), dir.File("real/b.lrc")},
      {"chain", dir.File("chain.lrc"), dir.File("real/a.lrc")},
      {"dangling", dir.File("dangling.lrc"), dir.File("real/new.lrc")},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(AtomicWriteFile(c.link, c.name)) << c.name;
    EXPECT_TRUE(fs::is_symlink(c.link)) << c.name;
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(c.target, bytes)) << c.name;
    EXPECT_EQ(bytes, c.name);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("real")), {}), 3);  // a, b, new: no temporaries

  fs::create_symlink("loop2", dir.File("loop1"));
  fs::create_symlink("loop1", dir.File("loop2"));
  std::string error;
  EXPECT_FALSE(AtomicWriteFile(dir.File("loop1"), "x", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(fs::is_symlink(dir.File("loop1")));
}
