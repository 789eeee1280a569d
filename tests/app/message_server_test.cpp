// The running player's socket: every message answered in order, and clients that send too little,
// too much, nothing at all, too many at once, or from another user, never stop it.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/MessageServer.h"
#include "main_window_fixture.h"
#include "support/event_loop.h"
#include "support/temp_dir.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;
using namespace orvane::app;

std::string Bytes(const TMessage& message) {
  unsigned char bytes[kMessageBytes];
  EncodeMessage(message, bytes);
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

// A client that never blocks the test's thread, on which the server runs.
struct Client {
  explicit Client(const TRuntimeFolder& folder) : fd(ConnectWindowSocket(folder, 1000)) {}
  void Send(const std::string& bytes) { ASSERT_EQ(::send(fd.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size())); }
  // Collects what has arrived; true once the server has closed the connection.
  bool Poll() {
    char buffer[256];
    for (;;) {
      const ssize_t n = ::recv(fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) {
        received.append(buffer, static_cast<size_t>(n));
        continue;
      }
      if (n == 0) closed = true;
      break;
    }
    while (received.size() >= 4) {
      uint32_t value = 0;
      for (int b = 0; b < 4; ++b) value |= static_cast<uint32_t>(static_cast<unsigned char>(received[b])) << (8 * b);
      answers.push_back(static_cast<int32_t>(value));
      received.erase(0, 4);
    }
    return closed;
  }
  UniqueFd fd;
  std::string received;
  std::vector<int32_t> answers;
  bool closed = false;
};

class MessageServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GuiApp();
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    folder = TRuntimeFolder::OpenWith(runtime.c_str(), dir.Path().string(), nullptr);
    ASSERT_TRUE(folder);
    server = std::make_unique<TMessageServer>(
        ListenWindowSocket(*folder),
        [this](const TMessage& message) {
          if (message.Msg == 666) throw std::runtime_error("a handler failed");
          Handled.push_back(message);
          return message.WParam * 2;
        },
        300);
  }

  // Processes events until every client's condition holds.
  bool Until(const std::function<bool()>& done, int timeoutMs = 5000) { return ProcessEventsUntil(done, timeoutMs); }

  TempDir dir;
  const fs::path runtime = dir.Path() / "runtime";
  std::optional<TRuntimeFolder> folder;
  std::unique_ptr<TMessageServer> server;
  std::vector<TMessage> Handled;
};

TEST_F(MessageServerTest, AnswersEachMessageInOrderAndDropsATrailingFragment) {
  Client client(*folder);
  ASSERT_TRUE(client.fd.Valid());
  // Three messages in one write, then five bytes of a fourth that never comes.
  client.Send(Bytes({1807, 16, 0}) + Bytes({1807, 50, 0}) + Bytes({42, -7, 3}) + std::string(5, '\x01'));
  ASSERT_TRUE(Until([&] { return client.Poll(); }));
  EXPECT_EQ(client.answers, (std::vector<int32_t>{32, 100, -14}));
  ASSERT_EQ(Handled.size(), 3u);
  EXPECT_EQ(Handled[2].Msg, 42);
  EXPECT_EQ(Handled[2].LParam, 3);
  EXPECT_EQ(server->ClientCount(), 0);
}

TEST_F(MessageServerTest, MisbehavingClientsDoNotStopTheOthers) {
  Client silent(*folder);  // connects and never sends
  {
    Client shortOne(*folder);  // five bytes, then gone
    shortOne.Send(std::string(5, '\x02'));
  }
  Client failing(*folder);  // its message makes the handler throw
  failing.Send(Bytes({666, 1, 0}));
  std::vector<std::unique_ptr<Client>> flood;
  for (int i = 0; i < 200; ++i) {
    flood.push_back(std::make_unique<Client>(*folder));
    QCoreApplication::processEvents();  // the server takes them as they come
  }

  Client good(*folder);
  good.Send(Bytes({1807, 21, 0}));
  ASSERT_TRUE(Until([&] {
    good.Poll();
    failing.Poll();
    return !good.answers.empty() && failing.closed;
  }));
  EXPECT_EQ(good.answers, std::vector<int32_t>{42});
  EXPECT_TRUE(failing.answers.empty());
  EXPECT_LE(server->ClientCount(), TMessageServer::kMaxClients);
  // Idle clients are let go, and the fragment never became a message.
  EXPECT_TRUE(Until([&] { return silent.Poll() && server->ClientCount() == 0; }));
  ASSERT_EQ(Handled.size(), 1u);
  EXPECT_EQ(Handled[0].WParam, 21);
}

TEST_F(MessageServerTest, AnotherUserIsNotServed) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  // A socket anyone may reach, so the peer check is all that stands in the way.
  const std::string path = dir.File("open.sock");
  UniqueFd listening(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(::bind(listening.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::chmod(path.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
  ASSERT_EQ(::listen(listening.Get(), 8), 0);
  bool handled = false;
  TMessageServer open(std::move(listening), [&handled](const TMessage&) {
    handled = true;
    return 1;
  });

  const pid_t child = ::fork();
  if (child == 0) {
    // Exit status 0: connected, and got no answer.
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(4);
    const std::string bytes = Bytes({1807, 50, 0});
    // Dropped before the message was out: not served either.
    if (::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) ::_exit(0);
    char answer[4];
    ::_exit(::recv(fd, answer, sizeof answer, MSG_WAITALL) == sizeof answer ? 6 : 0);
  }
  int status = -1;
  ASSERT_TRUE(Until([&] { return ::waitpid(child, &status, WNOHANG) == child; }));
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(handled);

  // The player's own folder does not even let another user reach its socket.
  const pid_t stranger = ::fork();
  if (stranger == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    ::_exit(ConnectWindowSocket(*folder, 100).Valid() ? 1 : 0);
  }
  ASSERT_TRUE(Until([&] { return ::waitpid(stranger, &status, WNOHANG) == stranger; }));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace orvane::test
