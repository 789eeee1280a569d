#include "net/MainThreadRelay.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <utility>

namespace orvane::net {
namespace {

// Post holds this while it queues a call, and every queued call takes it before it reads anything
// the posting thread wrote (its own captures included): the hand-off ThreadSanitizer can see.
// The relay's mutex cannot serve, since reaching it means reading a capture first.
std::mutex& QueueMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

void TWaitToken::Cancel() {
  std::lock_guard lock(mutex);
  cancelled = true;
  changed.notify_all();
}

bool TWaitToken::Cancelled() const {
  std::lock_guard lock(mutex);
  return cancelled;
}

// Shared by the relay and every Poster. context lives on the main thread; it is cleared under the
// mutex before it is deleted, so no Post can queue a call to a deleted object.
struct TMainThreadRelay::State {
  std::mutex mutex;
  QObject* context = nullptr;
  QThread* const owner = QThread::currentThread();
};

TMainThreadRelay::TMainThreadRelay() : state(std::make_shared<State>()) { state->context = new QObject(); }

TMainThreadRelay::~TMainThreadRelay() { Close(); }

void TMainThreadRelay::Close() noexcept {
  QObject* context = nullptr;
  {
    std::lock_guard lock(state->mutex);
    context = state->context;
    state->context = nullptr;
  }
  // Deleting the context drops the calls queued to it that have not run yet (outside the lock: they
  // may hold the last reference to something whose destructor takes a while), which releases
  // their waiters.
  delete context;
}

bool TMainThreadRelay::Poster::Post(std::function<void()> f) const noexcept {
  if (!state || !f) return false;
  std::lock_guard lock(state->mutex);
  if (!state->context) return false;
  std::lock_guard queueing(QueueMutex());
  try {
    QMetaObject::invokeMethod(
        state->context,
        [f = std::move(f)] {
          // Pairs with the poster's unlock: what it wrote before posting happens before f.
          { std::lock_guard handOff(QueueMutex()); }
          try {
            f();
          } catch (...) {
            // Dropped, as every main-thread handler's exception is.
          }
        },
        Qt::QueuedConnection);
  } catch (...) {
    return false;  // out of memory while queueing
  }
  return true;
}

namespace {

// One PostAndWait: its state changes under the token's mutex and wakes the token's waiters.
struct WaitedCall {
  enum Status { Pending, Running, Done, Dropped, GivenUp };
  explicit WaitedCall(std::shared_ptr<TWaitToken> token) : token(std::move(token)) {}
  const std::shared_ptr<TWaitToken> token;
  Status status = Pending;
};

}  // namespace

THandOff TMainThreadRelay::Poster::PostAndWait(std::function<void()> f, std::chrono::milliseconds timeout,
                                               const std::shared_ptr<TWaitToken>& token) const noexcept {
  if (!state) return THandOff::Closed;
  try {
    {
      std::unique_lock lock(state->mutex);
      if (!state->context) return THandOff::Closed;
      if (QThread::currentThread() == state->owner) {
        // Waiting here for the event loop would wait for ever: the call runs now.
        lock.unlock();
        try {
          if (f) f();
        } catch (...) {
        }
        return THandOff::Ran;
      }
    }
    const std::shared_ptr<TWaitToken> waitToken = token ? token : std::make_shared<TWaitToken>();
    if (waitToken->Cancelled()) return THandOff::Cancelled;
    auto call = std::make_shared<WaitedCall>(waitToken);

    // Destroyed with the queued call: a call dropped without running (the relay closed) releases
    // its waiter.
    struct DropMark {
      std::shared_ptr<WaitedCall> call;
      explicit DropMark(std::shared_ptr<WaitedCall> call) : call(std::move(call)) {}
      ~DropMark() {
        if (!call) return;
        std::lock_guard lock(call->token->mutex);
        if (call->status == WaitedCall::Pending) call->status = WaitedCall::Dropped;
        call->token->changed.notify_all();
      }
    };
    auto run = std::make_shared<std::function<void()>>(std::move(f));
    auto mark = std::make_shared<DropMark>(call);
    const bool posted = Post([call, run, mark] {
      {
        std::lock_guard lock(call->token->mutex);
        if (call->status != WaitedCall::Pending) return;  // its waiter gave up
        call->status = WaitedCall::Running;
      }
      struct Finish {
        WaitedCall& call;
        ~Finish() {
          std::lock_guard lock(call.token->mutex);
          call.status = WaitedCall::Done;
          call.token->changed.notify_all();
        }
      } finish{*call};
      if (*run) (*run)();
    });
    mark.reset();  // the queued call holds the only reference now (none when it was refused)
    if (!posted) return THandOff::Closed;

    std::unique_lock lock(waitToken->mutex);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      switch (call->status) {
        case WaitedCall::Done:
          return THandOff::Ran;
        case WaitedCall::Dropped:
          return THandOff::Closed;
        case WaitedCall::Running:
          // Started: it belongs to the main thread now and ends when it ends.
          waitToken->changed.wait(lock);
          continue;
        case WaitedCall::Pending:
          if (waitToken->cancelled) {
            call->status = WaitedCall::GivenUp;
            return THandOff::Cancelled;
          }
          if (std::chrono::steady_clock::now() >= deadline) {
            call->status = WaitedCall::GivenUp;
            return THandOff::TimedOut;
          }
          waitToken->changed.wait_until(lock, deadline);
          continue;
        case WaitedCall::GivenUp:
          return THandOff::TimedOut;  // not reached: only the waiter gives up
      }
    }
  } catch (...) {
    return THandOff::Closed;  // out of memory: nothing was handed over
  }
}

}  // namespace orvane::net
