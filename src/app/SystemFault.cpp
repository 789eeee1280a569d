// Threads: the handlers run on whichever thread faulted. Only a fault on the main thread saves
// (the lists and settings belong to it); a fault anywhere else, or a second fault while saving,
// ends the process at once with the default action so a core dump can still be taken.
#include "app/SystemFault.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/unt_main.h"

namespace orvane::app {
namespace {

std::atomic<TNimMain*> faultTarget{nullptr};
std::atomic<bool> handling{false};
std::thread::id mainThread;

void FaultHandler(int signal) {
  TNimMain* target = faultTarget.load();
  if (target && !handling.exchange(true) && std::this_thread::get_id() == mainThread)
    target->OnSystemFault(true);  // does not return
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace

void InstallFaultHandlers() {
  mainThread = std::this_thread::get_id();
  static char alternateStack[64 * 1024];
  stack_t stack{};
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  ::sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_handler = FaultHandler;
  action.sa_flags = SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) ::sigaction(signal, &action, nullptr);
}

void AttachSystemFault(TNimMain* window) { faultTarget.store(window); }

void DetachSystemFault(TNimMain* window) {
  TNimMain* expected = window;
  faultTarget.compare_exchange_strong(expected, nullptr);
}

}  // namespace orvane::app
