// Every thread of the process gets an alternate signal stack of its own, so a stack overflow on any
// thread (a decoder's recursion, a plug-in's thread, a library's worker) still reaches the crash
// path instead of killing the process without a record. The program's own pthread_create stands
// in for the C library's: threads started by the standard library, Qt and every library loaded
// later come through it, and each starts on a small trampoline that puts the stack in place.
//
// Linked into the program only (never into a library, and not into sanitizer builds, whose runtime
// starts threads its own way and installs alternate stacks itself).
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

namespace {

using TCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

TCreate TheLibrarysCreate() {
  static const TCreate create = reinterpret_cast<TCreate>(::dlsym(RTLD_NEXT, "pthread_create"));
  return create;
}

// The alternate stack of the thread it lives on, with a guard page below it; taken down when the
// thread ends, also through pthread_exit or cancellation (both unwind).
class TAlternateStack {
 public:
  TAlternateStack() {
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    page = pageSize > 0 ? static_cast<size_t>(pageSize) : 4096;
    const long least = ::sysconf(_SC_SIGSTKSZ);
    size = std::max<size_t>(64 * 1024, least > 0 ? static_cast<size_t>(least) : 0);
    size = (size + page - 1) / page * page;
    void* memory = ::mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) return;
    base = static_cast<char*>(memory);
    ::mprotect(base, page, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = base + page;
    stack.ss_size = size;
    if (::sigaltstack(&stack, nullptr) != 0) {
      ::munmap(base, size + page);
      base = nullptr;
    }
  }
  ~TAlternateStack() {
    if (!base) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    ::sigaltstack(&off, nullptr);
    ::munmap(base, size + page);
  }
  TAlternateStack(const TAlternateStack&) = delete;
  TAlternateStack& operator=(const TAlternateStack&) = delete;

 private:
  char* base = nullptr;
  size_t size = 0;
  size_t page = 0;
};

struct TStart {
  void* (*Routine)(void*);
  void* Argument;
};

void* StartWithSignalStack(void* argument) {
  const TStart start = *static_cast<TStart*>(argument);
  delete static_cast<TStart*>(argument);
  TAlternateStack stack;
  return start.Routine(start.Argument);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                                                                     void* (*routine)(void*), void* argument) noexcept {
  const TCreate create = TheLibrarysCreate();
  if (!create) return EAGAIN;
  auto* start = new (std::nothrow) TStart{routine, argument};
  if (!start) return create(thread, attributes, routine, argument);
  const int result = create(thread, attributes, StartWithSignalStack, start);
  if (result != 0) delete start;
  return result;
}
