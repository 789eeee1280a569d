#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "net/WorkerHost.h"

using orvane::net::TWorker;
using orvane::net::TWorkerHost;

namespace {

// The tests play the main thread: an application object and its event loop, turned by hand.
class WorkerHostTest : public testing::Test {
 protected:
  // Turns the event loop until done() holds or timeoutMs passes.
  bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  int argc = 1;
  char name[16] = "worker_test";
  char* argv[2] = {name, nullptr};
  QCoreApplication app{argc, argv};
};

// A gate a worker waits at until the test opens it.
class Gate {
 public:
  void Open() {
    std::lock_guard lock(mutex);
    open = true;
    changed.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return open; });
  }

 private:
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
};

struct RecordingWorker : TWorker {
  void Execute() override {
    if (gate) gate->Wait();
    workerThread = std::this_thread::get_id();
    if (fail) throw std::runtime_error("worker failed");
    result = 42;
  }
  std::shared_ptr<Gate> gate;
  bool fail = false;
  int result = 0;
  std::thread::id workerThread;
};

}  // namespace

TEST_F(WorkerHostTest, CompletionRunsOnTheHostThreadWithTheWorkerAliveThenFreesIt) {
  TWorkerHost host;
  auto worker = std::make_shared<RecordingWorker>();
  std::weak_ptr<RecordingWorker> watch = worker;
  int seen = -1;
  std::thread::id completionThread;
  ASSERT_TRUE(host.Start(worker, [&](RecordingWorker& w) {
    seen = w.result;
    completionThread = std::this_thread::get_id();
    EXPECT_NE(w.workerThread, std::this_thread::get_id());
  }));
  worker.reset();

  ASSERT_TRUE(RunEventsUntil([&] { return seen != -1; }));
  EXPECT_EQ(seen, 42);
  EXPECT_EQ(completionThread, std::this_thread::get_id());
  EXPECT_TRUE(host.WaitIdle(5000));
  EXPECT_TRUE(RunEventsUntil([&] { return watch.expired(); }));
}

TEST_F(WorkerHostTest, ExceptionsEndTheRunOrTheCompletionQuietly) {
  TWorkerHost host;
  auto failing = std::make_shared<RecordingWorker>();
  failing->fail = true;
  int completions = 0;
  host.Start(failing, [&](RecordingWorker& w) {
    ++completions;
    EXPECT_EQ(w.result, 0);  // the run ended before setting it
    throw std::runtime_error("completion failed");
  });
  auto second = std::make_shared<RecordingWorker>();
  host.Start(second, [&](RecordingWorker&) { ++completions; });
  EXPECT_TRUE(RunEventsUntil([&] { return completions == 2; }));
}

TEST_F(WorkerHostTest, NoCompletionRunsOnceTheHostIsGoneAndRunningWorkersFinishAlone) {
  std::weak_ptr<RecordingWorker> finished;
  std::weak_ptr<RecordingWorker> running;
  auto gate = std::make_shared<Gate>();
  bool completed = false;
  {
    TWorkerHost host;
    // One worker finishes while the host lives but its completion is still queued…
    auto first = std::make_shared<RecordingWorker>();
    finished = first;
    host.Start(std::move(first), [&](RecordingWorker&) { completed = true; });
    // …the other is still inside Execute when the host goes.
    auto second = std::make_shared<RecordingWorker>();
    second->gate = gate;
    running = second;
    host.Start(std::move(second), [&](RecordingWorker&) { completed = true; });
    // Wait without turning the event loop, so the first completion stays queued.
    for (int i = 0; i < 5000 && host.Running() != 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(host.Running(), 1);
  }
  gate->Open();
  EXPECT_TRUE(RunEventsUntil([&] { return finished.expired() && running.expired(); }));
  QCoreApplication::processEvents();
  EXPECT_FALSE(completed);
}

TEST_F(WorkerHostTest, WaitIdleWaitsForRunningWorkersOnly) {
  TWorkerHost host;
  EXPECT_TRUE(host.WaitIdle(0));
  auto gate = std::make_shared<Gate>();
  auto worker = std::make_shared<RecordingWorker>();
  worker->gate = gate;
  host.Start(worker, nullptr);
  EXPECT_FALSE(host.WaitIdle(50));
  EXPECT_EQ(host.Running(), 1);
  gate->Open();
  EXPECT_TRUE(host.WaitIdle(5000));
  EXPECT_EQ(worker->result, 42);
}
