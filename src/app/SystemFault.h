#pragma once
// Faults raised by the operating system (invalid memory access, illegal instruction, arithmetic
// fault) reach the main window's OnSystemFault, which saves the user's list and settings, starts
// the crash reporter and ends the process. Installed once by the entry point.

namespace orvane::app {

class TNimMain;

// Installs the handlers for SIGSEGV, SIGBUS, SIGILL and SIGFPE on an alternate stack.
void InstallFaultHandlers();
// The window that hears of faults; one at a time.
void AttachSystemFault(TNimMain* window);
void DetachSystemFault(TNimMain* window);

}  // namespace orvane::app
