#pragma once
// The one way a worker thread or a library callback hands work to the main thread (the thread that
// runs the Qt event loop): the audio engine's open worker and end sync, the song cache's location
// change and the background workers' completions all go through it.
//
// Contract:
//  - A TMainThreadRelay is created, closed and destroyed on the main thread, by an owner that lives
//    there. The owner closes it (destroying it closes it) as the first thing it does when it goes.
//  - Any thread may keep a Poster (a small shared handle) for as long as it likes, also past the
//    owner's end, and call Post(f) on it.
//  - f runs later on the main thread, from its event loop, never inside Post; calls posted by one
//    thread run in the order they were posted. Post never waits for the main thread.
//  - Once Close() has returned, no posted call runs any more: calls still pending are dropped and
//    later Posts return false. So a call that refers to its owner never runs after the owner began
//    to go, and the owner never has to wait for a worker. A dropped call is destroyed on the main
//    thread (when Close drops it) or on the posting thread (when Post refuses it), so what it
//    captures must not care which thread frees it.
//  - Everything the posting thread wrote before Post is visible to f. The hand-off passes through
//    the relay's own mutex, so ThreadSanitizer sees that ordering too (it does not see Qt's).
//  - An exception thrown by f is dropped there; none reaches the event loop.

#include <functional>
#include <memory>

namespace orvane::net {

class TMainThreadRelay {
  struct State;

 public:
  class Poster {
   public:
    Poster() = default;
    // Queues f on the main thread; false (f dropped) when the relay is closed or queueing failed.
    bool Post(std::function<void()> f) const noexcept;

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
  // Drops pending calls and refuses later ones. Main thread only; idempotent.
  void Close() noexcept;

 private:
  std::shared_ptr<State> state;
};

}  // namespace orvane::net
