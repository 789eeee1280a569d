#pragma once
// A counter one thread sleeps on until another bumps it: the decoder thread's alarm clock.
//
// Bump never blocks and allocates nothing, so the output callback may call it. It is a Linux futex
// on the counter itself, as std::atomic::wait should be; the standard library's version (GCC 12)
// was seen to miss a notification here and leave a stream's end unreported.
//
// Threads: any number may Bump; one thread at a time Waits.

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>

namespace orvane::bass {

class WakeCounter {
 public:
  // The value to hand to WaitWhile: read it before looking at what a Bump announces.
  uint32_t Current() const { return value.load(std::memory_order_acquire); }

  void Bump() {
    value.fetch_add(1, std::memory_order_release);
    ::syscall(SYS_futex, Address(), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
  }

  // Sleeps until the counter is no longer seen (returns at once when it has moved already).
  void WaitWhile(uint32_t seen) {
    while (value.load(std::memory_order_acquire) == seen) {
      ::syscall(SYS_futex, Address(), FUTEX_WAIT_PRIVATE, seen, nullptr, nullptr, 0);
    }
  }

 private:
  uint32_t* Address() { return reinterpret_cast<uint32_t*>(&value); }

  static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free);
  std::atomic<uint32_t> value{0};
};

}  // namespace orvane::bass
