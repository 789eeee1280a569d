#pragma once
// A value that can only be reached while its mutex is held. Lock() returns a handle that holds the
// mutex and gives access to the value; there is no other way in. A function that must run under
// the lock takes the handle as a parameter (a witness), so the compiler checks what a comment
// ("under the mutex") could only ask for.
//
//   Guarded<State> control;
//   auto state = control.Lock();   // holds the mutex until state goes
//   state->freed = true;
//   void Seek(Guarded<State>::Locked& state, int64_t frame);  // callable only under the lock
//   state.Wait(changed, [](const State& s) { return s.freed; });  // a condition variable's wait

#include <condition_variable>
#include <mutex>
#include <utility>

namespace orvane::bass {

template <class T>
class Guarded {
 public:
  class Locked {
   public:
    T* operator->() { return value; }
    T& operator*() { return *value; }
    const T* operator->() const { return value; }
    const T& operator*() const { return *value; }

    // Waits on cv (releasing the mutex meanwhile) until ready(value) holds.
    template <class Predicate>
    void Wait(std::condition_variable& cv, Predicate ready) {
      cv.wait(lock, [&] { return ready(static_cast<const T&>(*value)); });
    }

   private:
    friend class Guarded;
    Locked(std::mutex& mutex, T& value) : lock(mutex), value(&value) {}
    std::unique_lock<std::mutex> lock;
    T* value;
  };

  template <class... Args>
  explicit Guarded(Args&&... args) : value(std::forward<Args>(args)...) {}
  Guarded(const Guarded&) = delete;
  Guarded& operator=(const Guarded&) = delete;

  Locked Lock() { return Locked(mutex, value); }

 private:
  std::mutex mutex;
  T value;
};

}  // namespace orvane::bass
