#pragma once
// Background workers with a completion on the main thread: the one pattern behind the lyric
// lookup, the update check and the usage report (and the search dialog's threads).
//
// Threads: a TWorkerHost is created, used and destroyed on the main thread. Start runs the
// worker's Execute on a new thread of its own; Execute touches only the worker's members (copies of
// its inputs, services it holds by shared_ptr) and never a window or a model. When Execute returns,
// the completion is handed to the main thread through the host's TMainThreadRelay (see
// MainThreadRelay.h for the hand-off's contract) and runs there with the worker still alive and
// readable; once it has run, the last reference goes and the worker is freed (on whichever thread
// lets go last, so a worker's destructor must not care which thread it runs on).
//
// Shutdown: destroying the host closes its relay: completions that have not run are dropped, so one
// that refers to its owner (the main window) never runs after the owner began to go. Workers still
// running are not waited for: they finish on their own, with their own data, and are freed then.
// WaitIdle bounds how long an owner waits for them.
//
// Exceptions: one thrown by Execute ends the run quietly (the worker's results keep what they had
// then); one thrown by a completion is dropped. None crosses a thread.

#include <functional>
#include <memory>
#include <type_traits>

#include "net/MainThreadRelay.h"

namespace orvane::net {

class TWorker {
 public:
  virtual ~TWorker() = default;
  // The work, on the worker's own thread.
  virtual void Execute() = 0;
};

class TWorkerHost {
 public:
  TWorkerHost();
  ~TWorkerHost();
  TWorkerHost(const TWorkerHost&) = delete;
  TWorkerHost& operator=(const TWorkerHost&) = delete;

  // Runs worker->Execute() on a new thread; then done(*worker) runs on this host's thread, unless
  // the host is gone by then. Returns false when no thread could be started (nothing runs then,
  // done included). done may be empty.
  template <class T>
  bool Start(std::shared_ptr<T> worker, std::type_identity_t<std::function<void(T&)>> done) {
    static_assert(std::is_base_of_v<TWorker, T>, "a worker derives from TWorker");
    if (!worker) return false;
    std::function<void()> completion;
    if (done) completion = [worker, done = std::move(done)] { done(*worker); };
    return StartWorker(std::move(worker), std::move(completion));
  }

  // Waits until every worker started here has returned from Execute, at most timeoutMs
  // milliseconds; true when none runs any more. Completions are not run by waiting.
  bool WaitIdle(int timeoutMs);

  // Workers started here whose Execute has not returned yet.
  int Running() const;

 private:
  struct Counter;  // how many workers still run; shared with them
  bool StartWorker(std::shared_ptr<TWorker> worker, std::function<void()> completion);

  std::shared_ptr<Counter> counter;
  TMainThreadRelay mainThread;
};

}  // namespace orvane::net
