#include "plugins/FaultGuard.h"

#include <link.h>
#include <signal.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace orvane::plugins {
namespace {

// The innermost guarded call of each thread inside one, by thread id. Static storage rather than
// thread-local data: in a library loaded at run time, a thread's first read of thread-local data
// allocates it, and the signal handler must not allocate (the fault may hold the heap lock).
struct TGuardSlot {
  std::atomic<int> Thread{0};
  sigjmp_buf* Guard = nullptr;  // written and read by the slot's own thread only
  uintptr_t Frame = 0;          // the innermost guarded call's frame: the plug-in's frames lie below
};
constexpr int kGuardSlots = 512;
TGuardSlot guardSlots[kGuardSlots];

int ThisThread() { return static_cast<int>(::syscall(SYS_gettid)); }

// The slot of the calling thread, or nullptr. Async-signal-safe.
__attribute__((noinline)) TGuardSlot* SlotOf(int thread) {
  for (TGuardSlot& slot : guardSlots)
    if (slot.Thread.load(std::memory_order_acquire) == thread) return &slot;
  return nullptr;
}

__attribute__((noinline)) TGuardSlot* ClaimSlot(int thread) {
  for (int i = 0; i < kGuardSlots; ++i) {
    TGuardSlot& slot = guardSlots[(static_cast<unsigned>(thread) + static_cast<unsigned>(i)) % kGuardSlots];
    int free = 0;
    if (slot.Thread.compare_exchange_strong(free, thread, std::memory_order_acq_rel)) return &slot;
  }
  return nullptr;
}

sigjmp_buf* ActiveGuard(uintptr_t* frame = nullptr) {
  TGuardSlot* slot = SlotOf(ThisThread());
  if (frame) *frame = slot ? slot->Frame : 0;
  return slot ? slot->Guard : nullptr;
}

// The code of the C and C++ runtime (the C library, the dynamic loader, the C++ library and its
// unwinder), noted once at start-up. A fault there may have left one of its locks taken.
struct TCodeRange {
  uintptr_t Begin;
  uintptr_t End;
};
constexpr int kMaxRuntimeRanges = 32;
TCodeRange runtimeRanges[kMaxRuntimeRanges];
int runtimeRangeCount = 0;

bool IsRuntimeLibrary(const char* path) {
  if (!path || !*path) return false;
  const char* name = std::strrchr(path, '/');
  name = name ? name + 1 : path;
  for (const char* prefix : {"libc.so", "ld-linux", "ld64.so", "libstdc++.so", "libgcc_s.so", "libpthread.so"})
    if (std::strncmp(name, prefix, std::strlen(prefix)) == 0) return true;
  return false;
}

int NoteLibrary(dl_phdr_info* info, size_t, void*) {
  if (!IsRuntimeLibrary(info->dlpi_name)) return 0;
  for (int i = 0; i < info->dlpi_phnum && runtimeRangeCount < kMaxRuntimeRanges; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_X)) continue;
    const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
    runtimeRanges[runtimeRangeCount++] = {begin, begin + segment.p_memsz};
  }
  return 0;
}

bool InRuntimeCode(uintptr_t address) {
  for (int i = 0; i < runtimeRangeCount; ++i)
    if (address >= runtimeRanges[i].Begin && address < runtimeRanges[i].End) return true;
  return false;
}

bool InterruptedAt(const void* context, uintptr_t* pc, uintptr_t* sp) {
  if (!context) return false;
  const auto* state = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
  *pc = static_cast<uintptr_t>(state->uc_mcontext.gregs[REG_RIP]);
  *sp = static_cast<uintptr_t>(state->uc_mcontext.gregs[REG_RSP]);
  return true;
#elif defined(__aarch64__)
  *pc = static_cast<uintptr_t>(state->uc_mcontext.pc);
  *sp = static_cast<uintptr_t>(state->uc_mcontext.sp);
  return true;
#else
  (void)state;
  (void)pc;
  (void)sp;
  return false;
#endif
}

// The plug-in's frames lie between the interrupted stack pointer and CallGuarded's frame. A word
// there that points into the runtime's code is taken for a return address: the plug-in called into
// the runtime, which called back into code that faulted (a callback while a lock was held). A stale
// word can make this say yes needlessly; that only costs the recovery.
// Reads the live stack as plain words, redzones included.
__attribute__((no_sanitize("address"))) bool RuntimeBelowGuard(uintptr_t sp, uintptr_t guard) {
  constexpr uintptr_t kMostScanned = 8u << 20;
  if (sp > guard || guard - sp > kMostScanned) return true;
  for (uintptr_t at = sp & ~(sizeof(uintptr_t) - 1); at < guard; at += sizeof(uintptr_t))
    if (InRuntimeCode(*reinterpret_cast<const uintptr_t*>(at))) return true;
  return false;
}

}  // namespace

bool CallGuarded(void (*fn)(void* context), void* context) {
  const int thread = ThisThread();
  TGuardSlot* const existing = SlotOf(thread);
  TGuardSlot* const slot = existing ? existing : ClaimSlot(thread);
  if (!slot) {  // more threads inside guarded calls than slots: unguarded, a fault ends the player
    fn(context);
    return true;
  }
  sigjmp_buf guard;
  sigjmp_buf* const outer = slot->Guard;
  const uintptr_t outerFrame = slot->Frame;
  const auto leave = [slot, outer, outerFrame] {
    slot->Guard = outer;
    slot->Frame = outerFrame;
    if (!outer) slot->Thread.store(0, std::memory_order_release);
  };
  // The signal mask is saved and restored: the fault's signal is blocked while its handler runs,
  // and must not stay blocked after the jump back.
  if (sigsetjmp(guard, 1) != 0) {
    leave();
    return false;
  }
  slot->Guard = &guard;
  slot->Frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  fn(context);
  leave();
  return true;
}

void ResumeGuardedCall(int signal) {
  sigjmp_buf* const guard = ActiveGuard();
  if (guard) siglongjmp(*guard, signal == 0 ? 1 : signal);
}

void NoteRuntimeCode() {
  if (runtimeRangeCount == 0) ::dl_iterate_phdr(NoteLibrary, nullptr);
}

void ResumeGuardedCallSafely(int signal, const siginfo_t* info, const void* context) {
  uintptr_t frame = 0;
  sigjmp_buf* const guard = ActiveGuard(&frame);
  if (!guard || !info) return;
  // Only a fault the plug-in's own instructions raised: not a signal sent by kill, not abort().
  if (info->si_code <= 0 || signal == SIGABRT) return;
  uintptr_t pc = 0;
  uintptr_t sp = 0;
  if (runtimeRangeCount == 0 || !InterruptedAt(context, &pc, &sp)) return;
  // The jump buffer itself holds saved registers, which may point anywhere: the scan ends below it
  // when it is on this stack (a sanitizer may keep locals elsewhere).
  const uintptr_t buffer = reinterpret_cast<uintptr_t>(guard);
  const uintptr_t end = buffer >= sp && buffer < frame ? buffer : frame;
  if (InRuntimeCode(pc) || RuntimeBelowGuard(sp, end)) return;
  siglongjmp(*guard, signal == 0 ? 1 : signal);
}

}  // namespace orvane::plugins
