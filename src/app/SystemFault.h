#pragma once
// Faults raised by the operating system (invalid memory access, bus error, illegal instruction,
// arithmetic fault) and aborts, on any thread, reach the main window's OnSystemFault, which runs
// the crash path: the settings written when a change is not on disk yet, a bounded wait for list
// saves under way, a short crash record (signal, thread, whether everything was saved, backtrace)
// in the data folder, the crash reporter "bugreport -os" started from the program's folder, and the
// end of the process with exit code 0. The lists and settings are not serialized there: that would
// allocate and lock, which can deadlock in a signal handler. The settings' text is kept ready
// instead (KeepSettingsForCrash), and lists are saved on their own thread shortly after a change.
//
// Threads: the handler runs on whichever thread faulted and does only async-signal-safe work: it
// allocates nothing, takes no lock and touches no lazily allocated state, since the fault may have
// left the heap lock taken; everything it needs is prepared on the main thread beforehand. The
// 5-second alarm that ends a hanging crash path is armed before anything else. A fault raised by a
// guarded plug-in call's own code goes back to the plug-in host instead (plugins/FaultGuard.h).
// A signal sent with kill during the crash path is ignored; a fault of the crash path itself starts
// the reporter and ends the process; a fault on another thread waits for the crash path to end it.

#include <cstddef>
#include <string>
#include <string_view>

namespace orvane::app {

class TNimMain;
}  // namespace orvane::app
namespace orvane::store {
class TListSaver;
}  // namespace orvane::store
namespace orvane::app {

// Start-up step 2: the handlers for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT, on an alternate
// stack for the main thread (threads get theirs from ThreadSignalStack); the backtrace machinery is
// loaded now so the crash path loads nothing.
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

// The settings file's text as it would be saved now, for the crash path to write when it runs
// before the delayed save. False when it does not fit (kMostCrashSettingsBytes); the caller then
// saves at once. Main thread. SettingsSaved: the settings on disk are the latest; SettingsNotSaved:
// a save failed, so the crash path must not report them saved.
inline constexpr size_t kMostCrashSettingsBytes = 64 * 1024;
bool KeepSettingsForCrash(const std::string& file, std::string_view bytes);
void SettingsSaved();
void SettingsNotSaved();
// The list saver the crash path waits for (nullptr: none), and whether list changes wait to be
// handed to it. Main thread.
void WatchListSaves(const store::TListSaver* saver);
void NoteListChangesWaiting(bool waiting);
// The crash record's line saying whether the lists and settings were all on disk.
inline constexpr const char* kCrashRecordSavedLine = "saved: ";

// The crash path. Async-signal-safe; does not return.
[[noreturn]] void RunCrashPath();

}  // namespace orvane::app
