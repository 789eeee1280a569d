// Random songs from a Music folder: a generated tree with a symbolic-link loop, a folder nobody may
// read, hidden and non-audio files. (Which files a real decoder opens is checked by the main
// window's test with the audio library's decoder.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "net/MusicFolderSongs.h"
#include "support/temp_dir.h"

using namespace orvane::net;
using orvane::test::TempDir;
using orvane::test::WriteFileBytes;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kExtensions = {".mp3", ".flac", ".wav"};

// A stand-in decoder: a "song" is a file whose bytes say so.
bool Decodes(const std::string& path) { return orvane::test::ReadFileBytes(path).rfind("song", 0) == 0; }

std::string Name(const std::string& path) { return fs::path(path).filename().string(); }

// Music/
//   artist1/ a1..a5.mp3, cover.jpg, notes.txt, fake.mp3 (not audio), LOOP -> ..  (a link back up)
//   artist2/ b1.FLAC, b2.wav, .hidden.mp3, .git/x.mp3
//   locked/ c1.mp3        (mode 000)
//   self -> .             (a link to itself)
//   dangling -> nowhere
struct MusicTree {
  explicit MusicTree(const fs::path& root) : music(root / "Music") {
    fs::create_directories(music / "artist1");
    fs::create_directories(music / "artist2" / ".git");
    fs::create_directories(music / "locked");
    for (const char* song : {"a1.mp3", "a2.mp3", "a3.mp3", "a4.mp3", "a5.mp3"}) WriteFileBytes(music / "artist1" / song, "song");
    WriteFileBytes(music / "artist1" / "cover.jpg", "song, but a picture");
    WriteFileBytes(music / "artist1" / "notes.txt", "song list");
    WriteFileBytes(music / "artist1" / "fake.mp3", "<html>not a song</html>");
    WriteFileBytes(music / "artist2" / "b1.FLAC", "song");
    WriteFileBytes(music / "artist2" / "b2.wav", "song");
    WriteFileBytes(music / "artist2" / ".hidden.mp3", "song");
    WriteFileBytes(music / "artist2" / ".git" / "x.mp3", "song");
    WriteFileBytes(music / "locked" / "c1.mp3", "song");
    fs::create_directory_symlink("..", music / "artist1" / "LOOP");
    fs::create_directory_symlink(".", music / "self");
    fs::create_symlink("nowhere", music / "dangling");
    // Others must be able to walk the tree (the unreadable-folder case runs as another user).
    for (const auto& entry : fs::recursive_directory_iterator(root))
      if (!entry.is_symlink()) fs::permissions(entry.path(), fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                              fs::perms::others_exec);
    fs::permissions(music / "locked", fs::perms::none);
  }
  ~MusicTree() {
    std::error_code ec;
    fs::permissions(music / "locked", fs::perms::owner_all, ec);
  }
  fs::path music;
};

std::set<std::string> Names(const std::vector<std::string>& files) {
  std::set<std::string> names;
  for (const std::string& file : files) names.insert(Name(file));
  return names;
}

// Runs the walk as an ordinary user: root reads any folder whatever its mode, so only another user
// shows what an unreadable folder does. The child reports the names it picked through a pipe.
std::set<std::string> PickAsNobody(const std::string& folder) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
      ::_exit(2);
    std::string names;
    for (const std::string& file : PickRandomSongFiles(folder, kExtensions, 20, Decodes, {}, 7).Files)
      names += Name(file) + "\n";
    const ssize_t written = ::write(fds[1], names.data(), names.size());
    ::_exit(written == static_cast<ssize_t>(names.size()) ? 0 : 3);
  }
  ::close(fds[1]);
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the walk as user nobody did not finish";
  std::set<std::string> names;
  for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
    names.insert(out.substr(start, end - start));
  return names;
}

}  // namespace

// Every song once, nothing else: the loops are walked once, hidden entries and other types are
// passed over, a file that does not decode is dropped.
TEST(MusicFolderSongs, TakesEachSongOnceAndNothingElse) {
  TempDir temp;
  MusicTree tree(temp.Path());
  const TFolderPick pick = PickRandomSongFiles(tree.music.string(), kExtensions, 20, Decodes, {}, 1);
  std::set<std::string> expected = {"a1.mp3", "a2.mp3", "a3.mp3", "a4.mp3", "a5.mp3", "b1.FLAC", "b2.wav"};
  // Root reads the locked folder anyway; the case below runs as an ordinary user.
  if (::geteuid() == 0) expected.insert("c1.mp3");
  EXPECT_EQ(Names(pick.Files), expected);
  EXPECT_EQ(pick.Files.size(), expected.size());  // no file twice through the loops
  EXPECT_EQ(pick.Candidates, expected.size() + 1);  // fake.mp3 had a song's name
  EXPECT_FALSE(pick.Cut);

  EXPECT_TRUE(PickRandomSongFiles((temp.Path() / "missing").string(), kExtensions, 20, Decodes).Files.empty());
}

TEST(MusicFolderSongs, SkipsAFolderItCannotRead) {
  TempDir temp;
  MusicTree tree(temp.Path());
  const std::set<std::string> expected = {"a1.mp3", "a2.mp3", "a3.mp3", "a4.mp3", "a5.mp3", "b1.FLAC", "b2.wav"};
  if (::geteuid() != 0) {
    EXPECT_EQ(Names(PickRandomSongFiles(tree.music.string(), kExtensions, 20, Decodes, {}, 3).Files), expected);
    return;
  }
  EXPECT_EQ(PickAsNobody(tree.music.string()), expected);
}

// A uniform sample: over many draws every song of a big folder turns up, not only those the walk
// met first; each draw holds 20 different songs in random order.
TEST(MusicFolderSongs, ChoosesFromTheWholeFolder) {
  TempDir temp;
  const fs::path music = temp.Path() / "Music";
  for (int folder = 0; folder < 10; ++folder) {
    fs::create_directories(music / std::to_string(folder));
    for (int i = 0; i < 10; ++i) WriteFileBytes(music / std::to_string(folder) / (std::to_string(i) + ".mp3"), "song");
  }
  std::set<std::string> seen;
  std::set<std::vector<std::string>> draws;
  for (uint64_t seed = 1; seed <= 40; ++seed) {
    const TFolderPick pick = PickRandomSongFiles(music.string(), kExtensions, 20, Decodes, {}, seed);
    ASSERT_EQ(pick.Files.size(), 20u);
    EXPECT_EQ(std::set<std::string>(pick.Files.begin(), pick.Files.end()).size(), 20u);
    seen.insert(pick.Files.begin(), pick.Files.end());
    draws.insert(pick.Files);
  }
  EXPECT_GE(seen.size(), 95u);  // of 100; a sample of the first 60 met would stop at 60
  EXPECT_EQ(draws.size(), 40u);
}

TEST(MusicFolderSongs, StopsAtItsLimits) {
  TempDir temp;
  const fs::path music = temp.Path() / "Music";
  fs::create_directories(music);
  for (int i = 0; i < 300; ++i) WriteFileBytes(music / (std::to_string(i) + ".mp3"), "song");
  TFolderWalkLimits limits;
  limits.MaxFiles = 50;
  const TFolderPick few = PickRandomSongFiles(music.string(), kExtensions, 20, Decodes, limits, 5);
  EXPECT_TRUE(few.Cut);
  EXPECT_EQ(few.FilesSeen, 50u);
  EXPECT_EQ(few.Files.size(), 20u);

  limits = {};
  limits.MaxTime = std::chrono::milliseconds(0);
  const TFolderPick none = PickRandomSongFiles(music.string(), kExtensions, 20, Decodes, limits, 5);
  EXPECT_TRUE(none.Cut);
  EXPECT_LT(none.FilesSeen, 300u);
}
