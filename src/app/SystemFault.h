#pragma once
// Faults raised by the operating system (invalid memory access, bus error, illegal instruction,
// arithmetic fault), on any thread, reach the main window's OnSystemFault, which runs the crash
// path: a short crash record (signal, thread, backtrace) in the data folder, the crash reporter
// "bugreport -os" started from the program's folder, and the end of the process with exit code 0.
// Nothing is saved there: the settings and the active list are already on disk (they are saved
// shortly after every change), and saving from a signal handler can deadlock.
//
// Threads: the handler runs on whichever thread faulted and does only async-signal-safe work;
// everything it needs (paths, the reporter's argument vector and environment) is prepared on the
// main thread beforehand. A fault inside a guarded plug-in call goes back to the plug-in host
// instead (plugins/FaultGuard.h). A second fault on the thread running the crash path ends the
// process at once; one on another thread waits for the crash path to end it. A crash path that
// hangs is ended by a 5-second alarm.

#include <string>

namespace orvane::app {

class TNimMain;

// Start-up step 2: the handlers for SIGSEGV, SIGBUS, SIGILL and SIGFPE, on an alternate stack for
// the main thread; the backtrace machinery is loaded now so the crash path loads nothing.
void InstallFaultHandlers();
// The window that hears of faults; one at a time. Without one, a fault takes the default action.
void AttachSystemFault(TNimMain* window);
void DetachSystemFault(TNimMain* window);

// What the crash path uses, prepared on the main thread: the reporter program (started with the
// argument "-os" and the environment as it is now) and the crash record's file. Either may be
// empty; that step is then skipped.
void PrepareCrashReporter(const std::string& program);
void PrepareCrashRecord(const std::string& file);
// The crash record's file name inside the data folder.
inline constexpr const char* kCrashRecordName = "LastCrash.txt";

// The crash path. Async-signal-safe; does not return.
[[noreturn]] void RunCrashPath();

}  // namespace orvane::app
