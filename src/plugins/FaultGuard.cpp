#include "plugins/FaultGuard.h"

#include <csetjmp>

namespace orvane::plugins {
namespace {

// The innermost guarded call of this thread. Plain thread-local data in the program itself, so the
// signal handler reads it without calling anything.
thread_local sigjmp_buf* activeGuard = nullptr;

}  // namespace

bool CallGuarded(void (*fn)(void* context), void* context) {
  sigjmp_buf guard;
  sigjmp_buf* const outer = activeGuard;
  // The signal mask is saved and restored: the fault's signal is blocked while its handler runs,
  // and must not stay blocked after the jump back.
  if (sigsetjmp(guard, 1) != 0) {
    activeGuard = outer;
    return false;
  }
  activeGuard = &guard;
  fn(context);
  activeGuard = outer;
  return true;
}

void ResumeGuardedCall(int signal) {
  sigjmp_buf* const guard = activeGuard;
  if (guard) siglongjmp(*guard, signal == 0 ? 1 : signal);
}

}  // namespace orvane::plugins
