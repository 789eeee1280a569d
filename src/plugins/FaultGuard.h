#pragma once
// Calls into foreign code (plug-ins) that must not take the player down when it faults. A fault
// (SIGSEGV, SIGBUS, SIGILL, SIGFPE) raised inside a guarded call on the same thread returns from
// the call with false instead of reaching the crash path: the process's fault handler asks
// ResumeGuardedCall first.
//
// Threads: a guard belongs to the thread that runs the call; guarded calls may nest. The guards are
// kept in static storage by thread id, so the fault handler finds them without allocating.

#include <signal.h>

namespace orvane::plugins {

// Runs fn(context). False when it faulted (the call was abandoned where it faulted).
bool CallGuarded(void (*fn)(void* context), void* context);

// For the fault handler, inside the signal handler: when the faulting thread is inside a guarded
// call, jumps back to it (does not return); otherwise returns. Async-signal-safe.
void ResumeGuardedCall(int signal);

// At start-up, before any fault can be handled: notes where the C and C++ runtime's code lies.
void NoteRuntimeCode();
// As ResumeGuardedCall, but only for a fault raised by the plug-in's own code: never for a signal
// sent by another thread or process, abort(), or a fault that interrupted the runtime (its code,
// or code it called back while it may hold a lock, such as the heap's); those take the crash path.
// context is the handler's third argument. Async-signal-safe.
void ResumeGuardedCallSafely(int signal, const siginfo_t* info, const void* context);

}  // namespace orvane::plugins
