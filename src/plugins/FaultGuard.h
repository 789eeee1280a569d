#pragma once
// Calls into foreign code (plug-ins) that must not take the player down when it faults. A fault
// (SIGSEGV, SIGBUS, SIGILL, SIGFPE) raised inside a guarded call on the same thread returns from
// the call with false instead of reaching the crash path: the process's fault handler asks
// ResumeGuardedCall first.
//
// Threads: a guard belongs to the thread that runs the call; guarded calls may nest.

namespace orvane::plugins {

// Runs fn(context). False when it faulted (the call was abandoned where it faulted).
bool CallGuarded(void (*fn)(void* context), void* context);

// For the fault handler, inside the signal handler: when the faulting thread is inside a guarded
// call, jumps back to it (does not return); otherwise returns. Async-signal-safe.
void ResumeGuardedCall(int signal);

}  // namespace orvane::plugins
