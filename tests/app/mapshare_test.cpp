// The single-instance pieces without the window: the runtime folder's rules, the command block's
// layout and its writers' lock, the instance lock, the socket and the command line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <thread>

#include "app/CommandLine.h"
#include "app/mapshare.h"
#include "support/temp_dir.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;
using namespace orvane::app;

fs::perms Mode(const fs::path& path) { return fs::symlink_status(path).permissions(); }

class MapshareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    folder = TRuntimeFolder::OpenWith(runtime.c_str(), dir.Path().string(), nullptr);
    ASSERT_TRUE(folder);
  }

  TempDir dir;
  const fs::path runtime = dir.Path() / "runtime";
  std::optional<TRuntimeFolder> folder;
};

TEST_F(MapshareTest, RuntimeFolderIsPrivateOrRefused) {
  const std::string base = dir.Path().string();
  const std::string fallback = base + "/orvane-" + std::to_string(::getuid());
  // A usable $XDG_RUNTIME_DIR is taken as it is.
  EXPECT_EQ(folder->Path(), runtime.string());
  // Unset, a symlink, or open to others' writes: the private folder under the fallback's parent.
  fs::create_directory_symlink(runtime, dir.Path() / "link");
  fs::create_directories(dir.Path() / "shared");
  fs::permissions(dir.Path() / "shared", fs::perms::all, fs::perm_options::replace);
  for (const std::string& xdg : {std::string(), (dir.Path() / "link").string(), (dir.Path() / "shared").string(),
                                std::string("relative/path")}) {
    std::string error;
    const auto chosen = TRuntimeFolder::OpenWith(xdg.empty() ? nullptr : xdg.c_str(), base, &error);
    ASSERT_TRUE(chosen) << xdg << ": " << error;
    EXPECT_EQ(chosen->Path(), fallback) << xdg;
    EXPECT_EQ(Mode(fallback), fs::perms::owner_all);
  }
  // A fallback left open to others is narrowed to the user.
  fs::permissions(fallback, fs::perms::all, fs::perm_options::replace);
  ASSERT_TRUE(TRuntimeFolder::OpenWith(nullptr, base, nullptr));
  EXPECT_EQ(Mode(fallback), fs::perms::owner_all);
  // Someone else's name in its place, as a symlink, is never followed.
  fs::remove(fallback);
  fs::create_directory_symlink(runtime, fallback);
  std::string error;
  EXPECT_FALSE(TRuntimeFolder::OpenWith(nullptr, base, &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(MapshareTest, FallbackFolderOfAnotherUserIsRefused) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root to make a folder of another user";
  const std::string base = dir.Path().string();
  const std::string fallback = base + "/orvane-0";
  fs::create_directories(fallback);
  ASSERT_EQ(::chown(fallback.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(TRuntimeFolder::OpenWith(nullptr, base, nullptr));
}

TEST_F(MapshareTest, BlockLayoutAndBounds) {
  auto block = TCommandBlock::Open(*folder, true);
  ASSERT_TRUE(block);
  EXPECT_EQ(fs::file_size(folder->File(kCommandBlockName)), kCommandBlockSize);
  EXPECT_EQ(Mode(folder->File(kCommandBlockName)), fs::perms::owner_read | fs::perms::owner_write);

  block->Bytes()[100] = 0x55;  // left over from an earlier, longer command
  block->Write(11, "/music/歌.mp3");
  const unsigned char* bytes = block->Bytes();
  EXPECT_EQ(bytes[0], 11);
  for (size_t i = 1; i < kCommandTextOffset; ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 8)), "/music/歌.mp3");
  EXPECT_EQ(bytes[100], 0);
  // Another mapping of the same file sees the same command.
  auto other = TCommandBlock::Open(*folder, false);
  ASSERT_TRUE(other);
  EXPECT_EQ(other->Code(), 11);
  EXPECT_EQ(other->Text(), "/music/歌.mp3");

  // Texts are cut to 65,535 bytes on a character boundary; a block without any zero byte in its
  // text is read to that limit and no further.
  block->Write(1, std::string(kCommandTextMax - 1, 'a') + "歌");
  EXPECT_EQ(block->Text(), std::string(kCommandTextMax - 1, 'a'));
  std::memset(block->Bytes() + kCommandTextOffset, 'x', kCommandBlockSize - kCommandTextOffset);
  EXPECT_EQ(block->Text(), std::string(kCommandTextMax, 'x'));

  // Every start clears the block.
  ASSERT_TRUE(OpenSharedBlock(*folder));
  for (size_t i = 0; i < kCommandBlockSize; ++i) ASSERT_EQ(block->Bytes()[i], 0) << i;
}

TEST_F(MapshareTest, InstanceLockTellsTheFirstFromLaterStarts) {
  std::unique_ptr<TInstanceMutex> first;
  ASSERT_EQ(TInstanceMutex::Create(*folder, first), TInstanceMutex::State::First);
  std::unique_ptr<TInstanceMutex> second;
  EXPECT_EQ(TInstanceMutex::Create(*folder, second), TInstanceMutex::State::Running);
  EXPECT_FALSE(second);
  first.reset();  // released, as by the end of the first player (also by its death)
  EXPECT_EQ(TInstanceMutex::Create(*folder, second), TInstanceMutex::State::First);
}

TEST_F(MapshareTest, AStaleSocketDoesNotBlockTheNextPlayer) {
  {
    UniqueFd old = ListenWindowSocket(*folder);
    ASSERT_TRUE(old.Valid());
  }  // closed without removing its file, as a killed player leaves it
  ASSERT_TRUE(fs::exists(folder->File(kWindowSocketName)));
  EXPECT_FALSE(ConnectWindowSocket(*folder, 100).Valid());
  UniqueFd listening = ListenWindowSocket(*folder);
  ASSERT_TRUE(listening.Valid());
  EXPECT_EQ(Mode(folder->File(kWindowSocketName)), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE(ConnectWindowSocket(*folder, 100).Valid());
}

TEST(CommandLine, OptionsComeFirstAndEveryArgumentAfterThemIsAFile) {
  using TAction = TCommandLine::TAction;
  struct Case {
    std::vector<std::string> Args;
    TAction Action;
    std::vector<std::string> Files;  // the player's arguments
    std::string Folder = {};
    int DelayMs = -1;
  };
  const Case cases[] = {
      {{}, TAction::Run, {}},
      {{"--version"}, TAction::Version, {}},
      {{"--help"}, TAction::Help, {}},
      {{"a.mp3", "b.mp3"}, TAction::Run, {"a.mp3", "b.mp3"}},
      // After the first file or "--", options are files: a song may be named "--version".
      {{"a.mp3", "--version"}, TAction::Run, {"a.mp3", "--version"}},
      {{"--", "--version"}, TAction::Run, {"--version"}},
      {{"--", "/l", "a.mp3"}, TAction::Run, {"/./l", "a.mp3"}},  // after "--" even "/l" is a file
      {{"/l", "--", "-x.mp3"}, TAction::Run, {"/l", "-x.mp3"}},
      {{"/l", "--screenshots", "a.mp3"}, TAction::Run, {"/l", "--screenshots", "a.mp3"}},
      {{"/l"}, TAction::Run, {"/l"}},
      {{"-"}, TAction::Run, {"-"}},
      // Options take their value, in either form, and nothing more.
      {{"--screenshots", "shots", "a.mp3"}, TAction::Run, {"a.mp3"}, "shots"},
      {{"--screenshots=shots", "--screenshot-delay", "50", "a.mp3"}, TAction::Run, {"a.mp3"}, "shots", 50},
      {{"a.mp3", "--screenshots", "b.mp3"}, TAction::Run, {"a.mp3", "--screenshots", "b.mp3"}},
      {{"--screenshots"}, TAction::Error, {}},
      {{"--screenshots", "--", "a.mp3"}, TAction::Error, {}},
      {{"--screenshots="}, TAction::Error, {}},
      {{"--screenshot-delay", "soon"}, TAction::Error, {}},
      {{"--screenshot-delay", "-5"}, TAction::Error, {}},
      {{"--frob", "a.mp3"}, TAction::Error, {}},
      {{"a.mp3", ""}, TAction::Error, {}},
      {{""}, TAction::Error, {}},
  };
  for (const Case& c : cases) {
    const TCommandLine line = ParseCommandLine(c.Args);
    SCOPED_TRACE(::testing::PrintToString(c.Args));
    EXPECT_EQ(line.Action, c.Action) << line.Error;
    if (line.Action == TAction::Error) {
      EXPECT_FALSE(line.Error.empty());
      continue;
    }
    EXPECT_EQ(line.Args, c.Files);
    EXPECT_EQ(line.ScreenshotFolder, c.Folder);
    EXPECT_EQ(line.ScreenshotDelayMs, c.DelayMs);
  }
}

TEST_F(MapshareTest, CommandLinesBecomeCommandsWithAbsolutePaths) {
  char* cwd = ::getcwd(nullptr, 0);
  const std::string here = cwd;
  std::free(cwd);
  struct Case {
    std::vector<std::string> Args;
    std::vector<TCommand> Commands;
  };
  const Case cases[] = {
      {{}, {}},
      {{"/music/a.mp3"}, {{1, "/music/a.mp3"}}},
      {{"a.mp3"}, {{1, here + "/a.mp3"}}},
      // Every argument is a file: all are added in order, the first plays.
      {{"./sub/a.mp3", "b.mp3", "/music/c.mp3"}, {{1, here + "/sub/a.mp3"}, {11, here + "/b.mp3"}, {11, "/music/c.mp3"}}},
      {{"http://host/a.mp3"}, {{1, "http://host/a.mp3"}}},
      {{"file:///music/a%20b%E6%AD%8C.mp3"}, {{1, "/music/a b歌.mp3"}}},
      {{"file://elsewhere/a.mp3"}, {{1, "file://elsewhere/a.mp3"}}},
      {{"/l", "a.mp3", "/music/b.mp3"}, {{11, here + "/a.mp3"}, {11, "/music/b.mp3"}}},
      {{"/l"}, {}},                               // nothing to add: no dead row
      {{"", "a.mp3"}, {{1, here + "/a.mp3"}}},    // an empty argument names nothing
      {{"/L", "a.mp3"}, {{1, "/L"}, {11, here + "/a.mp3"}}},  // only "/l" exactly is the switch
  };
  for (const Case& c : cases) {
    const std::vector<TCommand> commands = CommandsFromArgs(c.Args);
    ASSERT_EQ(commands.size(), c.Commands.size()) << ::testing::PrintToString(c.Args);
    for (size_t i = 0; i < commands.size(); ++i) {
      EXPECT_EQ(commands[i].Code, c.Commands[i].Code) << ::testing::PrintToString(c.Args);
      EXPECT_EQ(commands[i].Text, c.Commands[i].Text) << ::testing::PrintToString(c.Args);
    }
  }
}

// A stand-in for the running player: answers the messages of one connection (at most `count`)
// after reading the block, each seen as "message/code/text", joined by " ". received (when given)
// is set once the first message is in, before the delay.
std::future<std::string> AnswerOnce(int listening, TCommandBlock& block, std::chrono::milliseconds delay,
                                    std::promise<void>* received = nullptr, int count = 1) {
  return std::async(std::launch::async, [listening, &block, delay, received, count] {
    pollfd entry{listening, POLLIN, 0};
    ::poll(&entry, 1, 5000);
    UniqueFd client(::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC));
    std::string seen;
    for (int i = 0; i < count; ++i) {
      unsigned char bytes[kMessageBytes];
      if (::recv(client.Get(), bytes, sizeof bytes, MSG_WAITALL) != sizeof bytes) return seen + "no message";
      if (received && i == 0) received->set_value();
      std::this_thread::sleep_for(delay);
      const TMessage message = DecodeMessage(bytes);
      if (!seen.empty()) seen += " ";
      seen += std::to_string(message.Msg) + "/" + std::to_string(block.Code()) + "/" + block.Text();
      block.Clear();
      const unsigned char answer[4] = {0, 0, 0, 0};
      ::send(client.Get(), answer, sizeof answer, MSG_NOSIGNAL);
    }
    return seen;
  });
}

TEST_F(MapshareTest, AStartDuringAHandOffWaitsInsteadOfWipingTheCommand) {
  auto block = OpenSharedBlock(*folder);
  auto playerView = TCommandBlock::Open(*folder, false);
  ASSERT_TRUE(block && playerView);
  UniqueFd listening = ListenWindowSocket(*folder);
  ASSERT_TRUE(listening.Valid());
  std::promise<void> received;
  std::future<std::string> player = AnswerOnce(listening.Get(), *playerView, std::chrono::milliseconds(150), &received);

  UniqueFd window = ConnectWindowSocket(*folder, 1000);
  ASSERT_TRUE(window.Valid());
  std::future<THandOff> handOff = std::async(std::launch::async, [&] {
    return HandOverCommand(*block, window.Get(), TCommand{1, "/music/first.mp3"});
  });
  received.get_future().wait();
  // Another start clears the block at its beginning: it waits for the hand-off under way.
  ASSERT_TRUE(OpenSharedBlock(*folder));
  EXPECT_EQ(player.get(), "2734/1//music/first.mp3");
  EXPECT_EQ(handOff.get(), THandOff::Delivered);
}

TEST_F(MapshareTest, ASecondStartHandsOverAndEnds) {
  auto block = OpenSharedBlock(*folder);
  auto playerView = TCommandBlock::Open(*folder, false);
  TSingleInstance first = CheckSingleInstance(*folder, *block, {});
  ASSERT_TRUE(first.First);
  ASSERT_TRUE(first.WindowSocket.Valid());
  std::future<std::string> player = AnswerOnce(first.WindowSocket.Get(), *playerView, std::chrono::milliseconds(0));

  TSingleInstance second = CheckSingleInstance(*folder, *block, {"/l", "/music/b.mp3"});
  EXPECT_FALSE(second.First);
  EXPECT_TRUE(second.Note.empty()) << second.Note;
  EXPECT_EQ(player.get(), "2734/11//music/b.mp3");

  // Every file, in order, over one connection, the first to play.
  player = AnswerOnce(first.WindowSocket.Get(), *playerView, std::chrono::milliseconds(0), nullptr, 3);
  EXPECT_FALSE(CheckSingleInstance(*folder, *block, {"/music/1.mp3", "/music/2.mp3", "/music/3.mp3"}).First);
  EXPECT_EQ(player.get(), "2734/1//music/1.mp3 2734/11//music/2.mp3 2734/11//music/3.mp3");

  // Without files a later start asks the player to come forward, and ends.
  player = AnswerOnce(first.WindowSocket.Get(), *playerView, std::chrono::milliseconds(0));
  EXPECT_FALSE(CheckSingleInstance(*folder, *block, {}).First);
  EXPECT_EQ(player.get(), "2735/0/");

  // With files but nobody listening, it gives up after its retries and says so.
  first.WindowSocket.Reset();
  ::unlink(folder->File(kWindowSocketName).c_str());
  const TSingleInstance lost = CheckSingleInstance(*folder, *block, {"/music/c.mp3"}, 50);
  EXPECT_FALSE(lost.First);
  EXPECT_FALSE(lost.Note.empty());
}

}  // namespace
}  // namespace orvane::test
