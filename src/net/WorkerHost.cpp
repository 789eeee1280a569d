#include "net/WorkerHost.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace orvane::net {

// What the worker threads share with the host besides the relay: how many still run. It outlives
// the host for as long as a worker holds it.
struct TWorkerHost::Counter {
  std::mutex mutex;
  std::condition_variable idle;
  int running = 0;
};

TWorkerHost::TWorkerHost() : counter(std::make_shared<Counter>()) {}

TWorkerHost::~TWorkerHost() { mainThread.Close(); }

bool TWorkerHost::StartWorker(std::shared_ptr<TWorker> worker, std::function<void()> completion) {
  {
    std::lock_guard lock(counter->mutex);
    ++counter->running;
  }
  try {
    std::thread([counter = counter, poster = mainThread.MakePoster(), worker = std::move(worker),
                 completion = std::move(completion)]() mutable noexcept {
      try {
        worker->Execute();
      } catch (...) {
        // The run ends quietly; the worker's results keep what they had.
      }
      worker.reset();  // the completion holds its own reference when there is one
      // A completion the relay refuses may hold the last reference to the worker; it is freed here,
      // on this thread, since a worker's destructor may take a while (it may unload a library).
      if (completion) poster.Post(std::move(completion));
      completion = nullptr;
      std::lock_guard lock(counter->mutex);
      --counter->running;
      counter->idle.notify_all();
    }).detach();
    return true;
  } catch (...) {
    std::lock_guard lock(counter->mutex);
    --counter->running;
    counter->idle.notify_all();
    return false;
  }
}

bool TWorkerHost::WaitIdle(int timeoutMs) {
  std::unique_lock lock(counter->mutex);
  return counter->idle.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                              [this] { return counter->running == 0; });
}

int TWorkerHost::Running() const {
  std::lock_guard lock(counter->mutex);
  return counter->running;
}

}  // namespace orvane::net
