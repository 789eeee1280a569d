#pragma once
// How long the main thread (the one running the Qt event loop: the window's) is held: by the calls
// a test makes on it the way the window would, and by the hand-offs the event loop runs. A test of
// hostile servers checks that nothing held it for as long as a server stays silent, which is what
// waiting for the network would take. The test makes the application object.

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <functional>

namespace orvane::test {

class MainThreadWatch {
 public:
  using Clock = std::chrono::steady_clock;

  // Runs f on this (the main) thread and notes how long it took.
  template <class F>
  void Call(F&& f) {
    const auto start = Clock::now();
    f();
    Note(Clock::now() - start);
  }

  // Turns the event loop until done() holds or timeoutMs passes, noting how long each turn took.
  bool TurnUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
      if (Clock::now() > deadline) return done();
      Call([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
      QThread::msleep(1);
    }
    return true;
  }
  void TurnFor(int ms) { TurnUntil([] { return false; }, ms); }

  double LongestMs() const { return std::chrono::duration<double, std::milli>(longest).count(); }
  void Reset() { longest = {}; }

 private:
  void Note(Clock::duration d) { longest = std::max(longest, d); }
  Clock::duration longest{};
};

}  // namespace orvane::test
