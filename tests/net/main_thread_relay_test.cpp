// The relay's post-and-wait: a call runs on the main thread and its writes reach the waiter; a
// wait that gives up (time, cancel, close) says so, and its call never runs afterwards.
#include "net/MainThreadRelay.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

using namespace std::chrono_literals;
using orvane::net::THandOff;
using orvane::net::TMainThreadRelay;
using orvane::net::TWaitToken;

namespace {

class MainThreadRelayTest : public testing::Test {
 protected:
  // Turns the event loop until done() holds or timeout passes.
  bool RunEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
  void RunEventsFor(std::chrono::milliseconds time) {
    RunEventsUntil([] { return false; }, time);
  }

  int argc = 1;
  char name[16] = "relay_test";
  char* argv[2] = {name, nullptr};
  QCoreApplication app{argc, argv};
};

TEST_F(MainThreadRelayTest, PostAndWaitRunsTheCallOnTheMainThreadAndHandsBackWhatItWrote) {
  TMainThreadRelay relay;
  const std::thread::id mainThread = std::this_thread::get_id();
  std::thread::id ranOn;
  int written = 0;  // plain: the hand-off must order it
  int seen = -1;
  THandOff result = THandOff::Closed;
  std::atomic<bool> done{false};
  std::thread worker([&, poster = relay.MakePoster()] {
    result = poster.PostAndWait(
        [&] {
          ranOn = std::this_thread::get_id();
          written = 42;
        },
        5000ms);
    seen = written;
    done = true;
  });
  ASSERT_TRUE(RunEventsUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(result, THandOff::Ran);
  EXPECT_EQ(ranOn, mainThread);
  EXPECT_EQ(seen, 42);

  // On the main thread itself nothing could turn the event loop: the call runs at once.
  bool ranInline = false;
  EXPECT_EQ(relay.PostAndWait([&] { ranInline = true; }, 0ms), THandOff::Ran);
  EXPECT_TRUE(ranInline);
}

TEST_F(MainThreadRelayTest, AWaitThatGivesUpSaysWhyAndItsCallNeverRuns) {
  enum class End { Time, Cancel, Close };
  struct Case {
    const char* Name;
    End How;
    THandOff Expected;
  };
  const Case cases[] = {{"time", End::Time, THandOff::TimedOut},
                        {"cancel", End::Cancel, THandOff::Cancelled},
                        {"close", End::Close, THandOff::Closed}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TMainThreadRelay relay;
    auto token = std::make_shared<TWaitToken>();
    bool ran = false;
    THandOff result = THandOff::Ran;
    std::thread worker([&, poster = relay.MakePoster()] {
      result = poster.PostAndWait([&] { ran = true; }, c.How == End::Time ? 50ms : 60000ms, token);
    });
    // The main thread is busy (turns no events) while the worker waits.
    std::this_thread::sleep_for(100ms);
    if (c.How == End::Cancel) token->Cancel();
    if (c.How == End::Close) relay.Close();
    worker.join();
    EXPECT_EQ(result, c.Expected);
    RunEventsFor(50ms);
    EXPECT_FALSE(ran);
  }
}

TEST_F(MainThreadRelayTest, AfterCancelOrCloseLaterWaitsEndAtOnce) {
  TMainThreadRelay relay;
  auto token = std::make_shared<TWaitToken>();
  token->Cancel();
  bool ran = false;
  THandOff cancelled = THandOff::Ran;
  std::thread([&, poster = relay.MakePoster()] { cancelled = poster.PostAndWait([&] { ran = true; }, 60000ms, token); })
      .join();
  EXPECT_EQ(cancelled, THandOff::Cancelled);

  TMainThreadRelay::Poster poster = relay.MakePoster();
  relay.Close();
  THandOff closed = THandOff::Ran;
  std::thread([&] { closed = poster.PostAndWait([&] { ran = true; }, 60000ms); }).join();
  EXPECT_EQ(closed, THandOff::Closed);
  EXPECT_FALSE(poster.Post([&] { ran = true; }));
  RunEventsFor(20ms);
  EXPECT_FALSE(ran);
}

TEST_F(MainThreadRelayTest, ACallThatHasStartedIsWaitedForPastTheTimeout) {
  TMainThreadRelay relay;
  bool finished = false;
  THandOff result = THandOff::Closed;
  bool returned = false;
  std::thread worker([&, poster = relay.MakePoster()] {
    result = poster.PostAndWait(
        [&] {
          std::this_thread::sleep_for(600ms);  // well past the wait's 300 ms
          finished = true;
        },
        300ms);
    returned = true;
  });
  ASSERT_TRUE(RunEventsUntil([&] { return finished; }));
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(result, THandOff::Ran);
}

}  // namespace
