// The update check, the random-listening list and the lyric provider against a hostile server on
// 127.0.0.1: stalls, resets, a drip, garbage, a body without end, redirect loops, a length that lies,
// error pages and silence. Each runs on a worker as the player runs it; each ends in time with a
// clean result (the document when it arrived whole, else the failure its caller expects), and the
// window's thread is never held meanwhile.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "lyrics/LyricDownloader.h"
#include "net/RandomList.h"
#include "net/UntCkUpThread.h"
#include "net/WorkerHost.h"
#include "support/fixture_server.h"
#include "support/main_thread_watch.h"

namespace orvane::net {
namespace {

using test::FixtureReply;
using test::FixtureServer;
using test::MainThreadWatch;

constexpr double kFreezeLimitMs = 1000;

// A worker that runs a function.
struct TCall : TWorker {
  explicit TCall(std::function<void()> f) : f(std::move(f)) {}
  void Execute() override { f(); }
  std::function<void()> f;
};

HttpOptions Quick() {
  HttpOptions options;
  options.connectTimeoutMs = 1000;
  options.stallTimeoutMs = 1000;
  options.totalTimeoutMs = 3000;
  options.maxBodyBytes = 1 << 20;
  return options;
}

// One feature as the player calls it: the document it wants, where it asks for it, and whether a
// run found that document.
struct Feature {
  const char* name;
  std::string document;
  std::string route;  // the fixture path the feature's request reaches, for case n
  std::function<bool(const std::string& base)> run;  // base: the server's URL for this case
};

class HostileServer : public ::testing::Test {
 protected:
  int argc = 1;
  char name[16] = "hostile";
  char* argv[2] = {name, nullptr};
  QCoreApplication app{argc, argv};
  FixtureServer server;
  TWorkerHost workers;
  MainThreadWatch watch;
};

TEST_F(HostileServer, EveryOnlineFeatureEndsCleanlyAndTheWindowIsNeverHeld) {
  ::setenv("ORVANE_LYRICS_TIMEOUT_MS", "1000", 1);
  const Feature features[] = {
      {"update check",
       "<?xml version=\"1.0\" encoding=\"gb2312\"?>\n<Nimcase>\n  <ver value=\"1\"/>\n</Nimcase>\n", "/soft/cfg.xml",
       [](const std::string& base) {
         TCheckUPDate check(base + "/soft/cfg.xml");
         check.Http = Quick();
         check.Execute();
         return check.ConfigValid;
       }},
      {"random list", "<music><item url=\"%2Fa.mp3\" title=\"A\" singer=\"B\"/></music>", "/list.xml",
       [](const std::string& base) { return !FetchRandomList(base + "/list.xml", "http://m.example/", Quick()).empty(); }},
      {"lyric provider",
       R"json([{"id": 1, "trackName": "晴天", "artistName": "周杰伦", "albumName": "", "duration": 269}])json",
       "/api/search",
       [](const std::string& base) {
         ::setenv("ORVANE_LYRICS_URL", base.c_str(), 1);
         const auto downloader = lyrics::TLyricDownloader::LoadFile(std::string(ORVANE_BIN_DIR) + "/liblrcdown.so");
         if (!downloader) return false;
         const auto results = downloader->Search("晴天", "周杰伦");
         return results && !results->empty();
       }},
  };
  std::string noise(5000, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761u) >> 13);

  double longest = 0;
  for (const Feature& feature : features) {
    struct Case {
      const char* name;
      FixtureReply reply;
      bool documentArrives;
    };
    FixtureReply stall = FixtureReply::Text(feature.document);
    stall.stallAfter = 10;
    FixtureReply reset = FixtureReply::Text(feature.document);
    reset.resetAfter = 10;
    FixtureReply silent = FixtureReply::Text(feature.document);
    silent.delayMs = 60000;
    FixtureReply slowButWhole = FixtureReply::Text(feature.document);
    slowButWhole.trickleBytes = 16;
    slowButWhole.trickleIntervalMs = 5;
    FixtureReply endless;
    endless.patternSize = 1LL << 40;
    endless.contentLength = false;
    FixtureReply lies = FixtureReply::Text(feature.document);
    lies.announcedLength = static_cast<long long>(feature.document.size()) * 10;
    const Case cases[] = {
        {"whole", FixtureReply::Text(feature.document), true},
        {"slow but whole", slowButWhole, true},
        {"a length ten times the body (what came is the answer)", lies, true},
        {"stalls", stall, false},
        {"resets", reset, false},
        {"says nothing", silent, false},
        {"garbage", FixtureReply::Bytes(noise), false},
        {"a body without end", endless, false},
        {"an error page", FixtureReply::Status(500, "<html>down</html>"), false},
        {"redirects to itself", FixtureReply(), false},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(feature.name) + ": " + c.name);
      const std::string prefix = "/case" + std::to_string(&c - cases);
      const std::string base = server.Url(prefix);
      if (std::string(c.name) == "redirects to itself") {
        server.Serve(prefix + feature.route, FixtureReply::Redirect(base + feature.route));
      } else {
        server.Serve(prefix + feature.route, c.reply);
      }
      bool found = false;
      bool done = false;
      watch.Reset();
      auto call = std::make_shared<TCall>([&found, &feature, base] { found = feature.run(base); });
      watch.Call([&] { ASSERT_TRUE(workers.Start(call, [&done](TCall&) { done = true; })); });
      EXPECT_TRUE(watch.TurnUntil([&] { return done; }, 30000)) << "did not end";
      EXPECT_EQ(found, c.documentArrives);
      EXPECT_LT(watch.LongestMs(), kFreezeLimitMs);
      longest = std::max(longest, watch.LongestMs());
      ASSERT_TRUE(workers.WaitIdle(30000));
    }
  }
  ::unsetenv("ORVANE_LYRICS_URL");
  ::unsetenv("ORVANE_LYRICS_TIMEOUT_MS");
  std::printf("hostile server: the window's thread was held %.1f ms at most\n", longest);
}

}  // namespace
}  // namespace orvane::net
