#pragma once
// The one way a worker thread or a library callback hands work to the main thread (the thread that
// runs the Qt event loop): the audio engine's open worker and end sync, the song cache's location
// change, the background workers' completions and the lyric search's rows all go through it.
//
// Contract:
//  - A TMainThreadRelay is created, closed and destroyed on the main thread, by an owner that lives
//    there. The owner closes it (destroying it closes it) as the first thing it does when it goes.
//  - Any thread may keep a Poster (a small shared handle) for as long as it likes, also past the
//    owner's end, and call Post(f) or PostAndWait(f, …) on it.
//  - f runs later on the main thread, from its event loop, never inside Post; calls posted by one
//    thread run in the order they were posted. Post never waits for the main thread.
//  - PostAndWait waits until f has run, or until it is certain f never will: the relay closed, the
//    time allowed passed before f started, or the caller's TWaitToken was cancelled before f
//    started. Its result says which; a call that gives up is never run later. Once f has started
//    the wait lasts until it returns. Called on the main thread itself, it runs f at once.
//  - Once Close() has returned, no posted call runs any more: calls still pending are dropped,
//    their waiters are released, and later Posts return false. So a call that refers to its owner
//    never runs after the owner began to go, and the owner never has to wait for a worker. A
//    dropped call is destroyed on the main thread (when Close drops it) or on the posting thread
//    (when Post refuses it), so what it captures must not care which thread frees it.
//  - Everything the posting thread wrote before Post is visible to f, and everything f wrote is
//    visible to a PostAndWait caller once it returns. The hand-offs pass through mutexes of our own,
//    so ThreadSanitizer sees that ordering too (it does not see Qt's).
//  - An exception thrown by f is dropped there; none reaches the event loop.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace orvane::net {

// How a PostAndWait ended.
enum class THandOff {
  Ran,        // f ran (an exception it threw was dropped)
  Closed,     // the relay was closed before f could run; it never will
  TimedOut,   // the main thread did not get to f in the time allowed; it never will
  Cancelled,  // the caller's token was cancelled before f started; it never will
};

// Lets another thread (usually the main thread) call off a worker's waits: cancelling releases a
// PostAndWait whose call has not started, and every later one returns Cancelled at once.
class TWaitToken {
 public:
  void Cancel();
  bool Cancelled() const;

 private:
  friend class TMainThreadRelay;
  mutable std::mutex mutex;
  std::condition_variable changed;
  bool cancelled = false;
};

class TMainThreadRelay {
  struct State;

 public:
  class Poster {
   public:
    Poster() = default;
    // Queues f on the main thread; false (f dropped) when the relay is closed or queueing failed.
    bool Post(std::function<void()> f) const noexcept;
    // Runs f on the main thread and waits for it, at most timeout before it starts (see above).
    THandOff PostAndWait(std::function<void()> f, std::chrono::milliseconds timeout,
                         const std::shared_ptr<TWaitToken>& token = nullptr) const noexcept;

   private:
    friend class TMainThreadRelay;
    explicit Poster(std::shared_ptr<State> state) : state(std::move(state)) {}
    std::shared_ptr<State> state;
  };

  TMainThreadRelay();
  ~TMainThreadRelay();
  TMainThreadRelay(const TMainThreadRelay&) = delete;
  TMainThreadRelay& operator=(const TMainThreadRelay&) = delete;

  Poster MakePoster() const { return Poster(state); }
  bool Post(std::function<void()> f) const noexcept { return MakePoster().Post(std::move(f)); }
  THandOff PostAndWait(std::function<void()> f, std::chrono::milliseconds timeout,
                       const std::shared_ptr<TWaitToken>& token = nullptr) const noexcept {
    return MakePoster().PostAndWait(std::move(f), timeout, token);
  }
  // Drops pending calls, releases their waiters and refuses later ones. Main thread only;
  // idempotent.
  void Close() noexcept;

 private:
  std::shared_ptr<State> state;
};

}  // namespace orvane::net
