#include "net/WorkerHost.h"

#include <QMetaObject>
#include <QObject>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace orvane::net {

// What the worker threads share with the host. It outlives the host for as long as a worker holds
// it; context is cleared (under the lock) when the host goes, so a worker never queues a call to a
// destroyed object.
struct TWorkerHost::Relay {
  std::mutex mutex;
  std::condition_variable idle;
  QObject* context = nullptr;
  int running = 0;
};

namespace {

void RunCompletion(const std::function<void()>& completion) noexcept {
  try {
    completion();
  } catch (...) {
    // A failing completion is dropped, as every main-thread handler's exception is.
  }
}

}  // namespace

TWorkerHost::TWorkerHost() : relay(std::make_shared<Relay>()), context(std::make_unique<QObject>()) {
  relay->context = context.get();
}

TWorkerHost::~TWorkerHost() {
  {
    std::lock_guard lock(relay->mutex);
    relay->context = nullptr;
  }
  // Deleting the context also deletes the completions queued to it that have not run.
  context.reset();
}

bool TWorkerHost::StartWorker(std::shared_ptr<TWorker> worker, std::function<void()> completion) {
  {
    std::lock_guard lock(relay->mutex);
    ++relay->running;
  }
  try {
    std::thread([relay = relay, worker = std::move(worker), completion = std::move(completion)]() mutable noexcept {
      try {
        worker->Execute();
      } catch (...) {
        // The run ends quietly; the worker's results keep what they had.
      }
      worker.reset();  // the completion holds its own reference when there is one
      std::function<void()> leftover;
      {
        std::lock_guard lock(relay->mutex);
        if (relay->context && completion) {
          try {
            QMetaObject::invokeMethod(
                relay->context, [completion = std::move(completion)] { RunCompletion(completion); },
                Qt::QueuedConnection);
          } catch (...) {
            // Out of memory while queueing: the completion is lost.
          }
        }
        leftover = std::move(completion);
      }
      // A completion nobody will run may hold the last reference to the worker: free it outside
      // the lock, since a worker's destructor may take a while (it may unload a library).
      leftover = nullptr;
      std::lock_guard lock(relay->mutex);
      --relay->running;
      relay->idle.notify_all();
    }).detach();
    return true;
  } catch (...) {
    std::lock_guard lock(relay->mutex);
    --relay->running;
    relay->idle.notify_all();
    return false;
  }
}

bool TWorkerHost::WaitIdle(int timeoutMs) {
  std::unique_lock lock(relay->mutex);
  return relay->idle.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                              [this] { return relay->running == 0; });
}

int TWorkerHost::Running() const {
  std::lock_guard lock(relay->mutex);
  return relay->running;
}

}  // namespace orvane::net
