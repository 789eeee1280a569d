#include "net/MainThreadRelay.h"

#include <QMetaObject>
#include <QObject>
#include <mutex>

namespace orvane::net {

// Shared by the relay and every Poster. context lives on the main thread; it is cleared under the
// mutex before it is deleted, so no Post can queue a call to a deleted object.
struct TMainThreadRelay::State {
  std::mutex mutex;
  QObject* context = nullptr;
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
  // may hold the last reference to something whose destructor takes a while).
  delete context;
}

bool TMainThreadRelay::Poster::Post(std::function<void()> f) const noexcept {
  if (!state || !f) return false;
  std::lock_guard lock(state->mutex);
  if (!state->context) return false;
  try {
    QMetaObject::invokeMethod(
        state->context,
        [state = state, f = std::move(f)] {
          // Pairs with the poster's unlock: what it wrote before posting happens before f.
          { std::lock_guard handOff(state->mutex); }
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

}  // namespace orvane::net
