#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "net/HttpClient.h"
#include "support/fixture_server.h"

using namespace orvane::net;
using orvane::test::FixtureReply;
using orvane::test::FixtureServer;
using orvane::test::RecordedRequest;

namespace {

// Bytes that survive no text conversion: NUL, GBK 中文, a lone 0xFF, CR LF.
const std::string kBinaryBody = std::string("a\0b", 3) + "\xD6\xD0\xCE\xC4\xFF\r\nend";

// Short time-outs so failure paths finish quickly.
HttpOptions QuickOptions() {
  HttpOptions options;
  options.connectTimeoutMs = 2000;
  options.stallTimeoutMs = 1000;
  return options;
}

// A loopback port that refuses connections for as long as the object lives: bound, never listening.
class RefusingPort {
 public:
  RefusingPort() {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
  }
  ~RefusingPort() { ::close(fd); }
  int port = 0;

 private:
  int fd = -1;
};

std::vector<std::string> RequestLines(const std::vector<RecordedRequest>& requests) {
  std::vector<std::string> lines;
  for (const auto& request : requests) lines.push_back(request.requestLine);
  return lines;
}

}  // namespace

TEST(HttpGetText, ReturnsTheBodyBytesHoweverTheyAreFramed) {
  FixtureServer server;
  struct Case {
    const char* path;
    FixtureReply reply;
  };
  FixtureReply noLength = FixtureReply::Bytes(kBinaryBody);
  noLength.contentLength = false;
  FixtureReply chunked = FixtureReply::Bytes(kBinaryBody);
  chunked.chunked = true;
  chunked.trickleBytes = 3;
  FixtureReply trickled = FixtureReply::Bytes(kBinaryBody);
  trickled.trickleBytes = 4;
  trickled.trickleIntervalMs = 20;
  const Case cases[] = {{"/length", FixtureReply::Bytes(kBinaryBody)},
                        {"/no-length", noLength},
                        {"/chunked", chunked},
                        {"/trickled", trickled},
                        {"/error", FixtureReply::Status(500, kBinaryBody)}};  // the status is not examined
  for (const auto& c : cases) {
    server.Serve(c.path, c.reply);
    EXPECT_EQ(HttpGetText(server.Url(c.path)), kBinaryBody) << c.path;
  }
  EXPECT_EQ(HttpGetText(server.Url("/missing")), FixtureServer::NotFoundBody("/missing"));
}

TEST(HttpGetText, SendsTheTrimmedUrlWithTheAgentAndNoCookies) {
  FixtureServer server;
  server.Serve("/soft/cfg.xml", FixtureReply::Text("<cfg/>"));
  server.Serve("/a%20b", FixtureReply::Text("escaped"));

  EXPECT_EQ(HttpGetText(std::string(" \t\r\n\x01") + server.Url("/soft/cfg.xml?v=4") + " \r\n"), "<cfg/>");
  EXPECT_EQ(HttpGetText(server.Url("/a b")), "escaped");  // an inner blank is escaped, not refused

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/soft/cfg.xml?v=4");
  EXPECT_EQ(requests[0].Header("User-Agent"), "Internet Explorer");
  EXPECT_FALSE(requests[0].HasHeader("Cookie"));
  EXPECT_FALSE(requests[0].HasHeader("Accept-Encoding"));  // bodies arrive as stored, never compressed
  EXPECT_EQ(requests[1].target, "/a%20b");
}

TEST(HttpGetText, SendsTheUserAgentItIsGiven) {
  FixtureServer server;
  server.Serve("/x", FixtureReply::Text("ok"));
  HttpOptions options;
  options.userAgent = "Orvane 4.0.1.15 (http://home.example)";
  EXPECT_EQ(HttpGetText(server.Url("/x"), options), "ok");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("User-Agent"), "Orvane 4.0.1.15 (http://home.example)");
}

TEST(HttpGetText, EmptyUnreachableOrNonHttpGivesEmptyText) {
  FixtureServer server;
  RefusingPort refusing;
  EXPECT_EQ(HttpGetText(""), "");
  EXPECT_EQ(HttpGetText(" \t\r\n"), "");
  EXPECT_EQ(HttpGetText("http://127.0.0.1:" + std::to_string(refusing.port) + "/x", QuickOptions()), "");
  EXPECT_EQ(HttpGetText("file:///etc/passwd"), "");  // only HTTP is spoken
  EXPECT_TRUE(server.Requests().empty());
}

TEST(HttpGetText, BrokenTransferGivesTheBytesReadSoFar) {
  FixtureServer server;
  const std::string body(20000, 'x');
  FixtureReply reset = FixtureReply::Bytes(body);
  reset.resetAfter = 3000;
  FixtureReply resetNoLength = reset;
  resetNoLength.contentLength = false;
  FixtureReply stalled = FixtureReply::Bytes(body);
  stalled.stallAfter = 1234;
  FixtureReply silent = FixtureReply::Bytes(body);
  silent.delayMs = 600000;  // accepts, then never answers

  const struct {
    const char* path;
    FixtureReply reply;
    std::size_t expectedBytes;
  } cases[] = {{"/reset", reset, 3000}, {"/reset-no-length", resetNoLength, 3000},
               {"/stalled", stalled, 1234}, {"/silent", silent, 0}};
  for (const auto& c : cases) {
    server.Serve(c.path, c.reply);
    EXPECT_EQ(HttpGetText(server.Url(c.path), QuickOptions()), body.substr(0, c.expectedBytes)) << c.path;
  }
}

// A caller that must not take a failure for an answer (the lyric provider: "no lyric" is written
// down, a failure is tried again) learns whether the server answered, and with what status.
TEST(HttpGet, TellsAnAnswerFromAFailure) {
  FixtureServer server;
  RefusingPort refusing;
  FixtureReply shortOfItsLength = FixtureReply::Text("[]");
  shortOfItsLength.announcedLength = 20;  // what came is its answer
  FixtureReply reset = FixtureReply::Text(std::string(5000, 'x'));
  reset.resetAfter = 100;
  FixtureReply stalled = FixtureReply::Text("[1,2,3]");
  stalled.stallAfter = 2;
  server.Serve("/ok", FixtureReply::Text("[]"));
  server.Serve("/missing", FixtureReply::Status(404, "{}"));
  server.Serve("/error", FixtureReply::Status(500, "<html>down</html>"));
  server.Serve("/short", shortOfItsLength);
  server.Serve("/reset", reset);
  server.Serve("/stalled", stalled);
  const struct {
    std::string url;
    bool answered;
    long status;
    std::string body;
  } cases[] = {
      {server.Url("/ok"), true, 200, "[]"},
      {server.Url("/missing"), true, 404, "{}"},
      {server.Url("/error"), true, 500, "<html>down</html>"},
      {server.Url("/short"), true, 200, "[]"},
      {server.Url("/reset"), false, 0, std::string(100, 'x')},
      {server.Url("/stalled"), false, 0, "[1"},
      {"http://127.0.0.1:" + std::to_string(refusing.port) + "/x", false, 0, ""},
  };
  for (const auto& c : cases) {
    const HttpReply reply = HttpGet(c.url, QuickOptions());
    EXPECT_EQ(reply.Answered, c.answered) << c.url;
    if (c.answered) {
      EXPECT_EQ(reply.Status, c.status) << c.url;
    }
    EXPECT_EQ(reply.Body, c.body) << c.url;
  }
}

TEST(HttpGetText, ABodyOverTheCapFailsWholeAndADripEndsInTime) {
  FixtureServer server;
  HttpOptions options = QuickOptions();
  options.maxBodyBytes = 1 << 20;
  FixtureReply atCap;
  atCap.patternSize = 1 << 20;
  FixtureReply over = atCap;
  over.patternSize = (1 << 20) + 1;
  FixtureReply overChunked = over;
  overChunked.chunked = true;
  FixtureReply overUnsized = over;
  overUnsized.contentLength = false;
  FixtureReply announcedOver = atCap;
  announcedOver.announcedLength = 1LL << 40;  // a terabyte announced; the bytes never come
  announcedOver.stallAfter = 10;
  const struct {
    const char* path;
    FixtureReply reply;
    std::size_t expectedBytes;
  } cases[] = {{"/at-cap", atCap, 1 << 20},
               {"/over", over, 0},
               {"/over-chunked", overChunked, 0},
               {"/over-unsized", overUnsized, 0},
               {"/announced-over", announcedOver, 0}};
  for (const auto& c : cases) {
    server.Serve(c.path, c.reply);
    EXPECT_EQ(HttpGetText(server.Url(c.path), options).size(), c.expectedBytes) << c.path;
  }
  // The default cap holds the player's documents with room to spare and stops an endless one.
  FixtureReply endless;
  endless.patternSize = 1LL << 40;
  endless.contentLength = false;
  server.Serve("/endless", endless);
  EXPECT_EQ(HttpGetText(server.Url("/endless"), QuickOptions()), "");

  // A server that sends a byte now and then never looks stalled; the whole exchange is bounded.
  FixtureReply drip = FixtureReply::Bytes(std::string(100000, 'x'));
  drip.trickleBytes = 1;
  drip.trickleIntervalMs = 200;
  server.Serve("/drip", drip);
  options.totalTimeoutMs = 1500;
  EXPECT_LT(HttpGetText(server.Url("/drip"), options).size(), 100000u);
}

TEST(HttpGetText, FollowsHttpRedirectsOnly) {
  FixtureServer server;
  server.Serve("/list", FixtureReply::Text("the list"));
  server.Serve("/old", FixtureReply::Redirect("/moved"));
  server.Serve("/moved", FixtureReply::Redirect(server.Url("/list"), 301));
  server.Serve("/loop", FixtureReply::Redirect("/loop"));
  server.Serve("/to-file", FixtureReply::Redirect("file:///etc/passwd"));

  EXPECT_EQ(HttpGetText(server.Url("/old")), "the list");
  EXPECT_THAT(RequestLines(server.Requests()),
              testing::ElementsAre("GET /old HTTP/1.1", "GET /moved HTTP/1.1", "GET /list HTTP/1.1"));

  HttpOptions options = QuickOptions();
  options.maxRedirects = 3;
  server.ClearRequests();
  HttpGetText(server.Url("/loop"), options);
  EXPECT_EQ(server.Requests().size(), 4u);  // the first request and three redirects, then it gives up

  EXPECT_EQ(HttpGetText(server.Url("/to-file"), options).find("root:"), std::string::npos);
}

TEST(HttpGetText, CallsOnSeveralThreadsAreIndependent) {
  FixtureServer server;
  constexpr int kThreads = 6;
  for (int i = 0; i < kThreads; ++i) {
    FixtureReply reply = FixtureReply::Text(std::string(5000 + i, static_cast<char>('a' + i)));
    reply.trickleBytes = 1000;
    reply.trickleIntervalMs = 10;
    server.Serve("/t" + std::to_string(i), reply);
  }
  std::vector<std::string> results(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] { results[i] = HttpGetText(server.Url("/t" + std::to_string(i))); });
  }
  for (auto& thread : threads) thread.join();
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(results[i], std::string(5000 + i, static_cast<char>('a' + i)));
}

TEST(HttpPostForm, SendsTheFormExactlyAndReturnsTheReply) {
  FixtureServer server;
  server.Serve("/a/b", FixtureReply::Status(500, "server says no"));
  HttpOptions options = QuickOptions();
  options.postPort = server.Port();

  EXPECT_EQ(HttpPostForm("http://127.0.0.1/a/b?c=1", kBinaryBody, options), "server says no");
  EXPECT_EQ(HttpPostForm("127.0.0.1/a/b", "", options), "server says no");

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string host = "127.0.0.1:" + std::to_string(server.Port());
  using Headers = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(requests[0].requestLine, "POST /a/b?c=1 HTTP/1.0");
  EXPECT_THAT(requests[0].headers, testing::UnorderedElementsAreArray(Headers{
                                       {"Host", host},
                                       {"Accept", "*/*"},
                                       {"Content-Type", "application/x-www-form-urlencoded"},
                                       {"Content-Length", std::to_string(kBinaryBody.size())}}));
  EXPECT_EQ(requests[0].body, kBinaryBody);
  EXPECT_EQ(requests[1].requestLine, "POST /a/b HTTP/1.0");
  EXPECT_EQ(requests[1].Header("Content-Length"), "0");
  EXPECT_EQ(requests[1].body, "");
}

TEST(HttpPostForm, NeverLetsThePathBreakTheRequestLine) {
  FixtureServer server;
  HttpOptions options = QuickOptions();
  options.postPort = server.Port();
  HttpPostForm("http://127.0.0.1/up load\r\nX-Injected: 1", "a=1", options);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].requestLine, "POST /up%20load%0D%0AX-Injected:%201 HTTP/1.0");
  EXPECT_FALSE(requests[0].HasHeader("X-Injected"));
}

TEST(HttpPostForm, FailsWithEmptyTextWithoutABareHostOrAServer) {
  FixtureServer server;
  RefusingPort refusing;
  HttpOptions options = QuickOptions();
  options.postPort = server.Port();
  const std::string port = std::to_string(server.Port());
  for (const std::string& url : std::vector<std::string>{"http://127.0.0.1", "https://127.0.0.1/x", "http://127.0.0.1:" + port + "/x",
                                "http://user@127.0.0.1/x", "/x", ""}) {
    EXPECT_EQ(HttpPostForm(url, "a=1", options), "") << url;
  }
  EXPECT_TRUE(server.Requests().empty());

  options.postPort = refusing.port;
  EXPECT_EQ(HttpPostForm("http://127.0.0.1/x", "a=1", options), "");
}
