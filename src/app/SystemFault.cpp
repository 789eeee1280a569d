// Threads: see SystemFault.h. Prepare* and Attach/Detach run on the main thread and publish
// immutable plans through an atomic pointer; the handler reads them on any thread.
#include "app/SystemFault.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "app/unt_main.h"
#include "orvane_version.h"
#include "plugins/FaultGuard.h"

extern char** environ;

namespace orvane::app {
namespace {

struct TCrashPlan {
  std::string Program;
  std::vector<std::string> Arguments;
  std::vector<char*> Argv;
  std::vector<std::string> Environment;
  std::vector<char*> Envp;
  std::string RecordFile;
};

std::atomic<TNimMain*> faultTarget{nullptr};
std::atomic<const TCrashPlan*> currentPlan{nullptr};
std::atomic<int> crashingThread{0};
// The fault being handled, written by the one thread that runs the crash path.
volatile sig_atomic_t faultSignal = 0;
void* volatile faultAddress = nullptr;
bool handlersInstalled = false;

// Every plan ever published stays alive: a handler on another thread may still read an old one.
std::vector<std::unique_ptr<TCrashPlan>>& Plans() {
  static std::vector<std::unique_ptr<TCrashPlan>> plans;
  return plans;
}

void Publish(std::unique_ptr<TCrashPlan> plan) {
  plan->Argv.clear();
  for (std::string& argument : plan->Arguments) plan->Argv.push_back(argument.data());
  plan->Argv.push_back(nullptr);
  plan->Envp.clear();
  for (std::string& variable : plan->Environment) plan->Envp.push_back(variable.data());
  plan->Envp.push_back(nullptr);
  currentPlan.store(plan.get(), std::memory_order_release);
  Plans().push_back(std::move(plan));
}

std::unique_ptr<TCrashPlan> CopyOfCurrentPlan() {
  const TCrashPlan* current = currentPlan.load(std::memory_order_acquire);
  auto plan = std::make_unique<TCrashPlan>();
  if (current) {
    plan->Program = current->Program;
    plan->Arguments = current->Arguments;
    plan->Environment = current->Environment;
    plan->RecordFile = current->RecordFile;
  }
  return plan;
}

int CurrentThreadId() { return static_cast<int>(::syscall(SYS_gettid)); }

// ---- async-signal-safe text output

class TRecordWriter {
 public:
  explicit TRecordWriter(int fd) : fd(fd) {}
  TRecordWriter& Text(const char* text) {
    Write(text, std::strlen(text));
    return *this;
  }
  TRecordWriter& Decimal(long long value) {
    char digits[24];
    int n = 0;
    unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value) : value;
    do {
      digits[n++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) digits[n++] = '-';
    char text[24];
    for (int i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
    Write(text, static_cast<size_t>(n));
    return *this;
  }
  TRecordWriter& Hex(uintptr_t value) {
    char text[2 + 2 * sizeof value];
    text[0] = '0';
    text[1] = 'x';
    for (size_t i = 0; i < 2 * sizeof value; ++i)
      text[2 + i] = "0123456789abcdef"[(value >> (4 * (2 * sizeof value - 1 - i))) & 0xF];
    Write(text, sizeof text);
    return *this;
  }

 private:
  void Write(const char* bytes, size_t length) {
    while (length > 0) {
      const ssize_t n = ::write(fd, bytes, length);
      if (n <= 0) return;
      bytes += n;
      length -= static_cast<size_t>(n);
    }
  }
  int fd;
};

const char* SignalName(int signal) {
  switch (signal) {
    case SIGSEGV: return "SIGSEGV (invalid memory access)";
    case SIGBUS: return "SIGBUS (bus error)";
    case SIGILL: return "SIGILL (illegal instruction)";
    case SIGFPE: return "SIGFPE (arithmetic fault)";
    default: return "signal";
  }
}

void WriteCrashRecord(const TCrashPlan& plan) {
  if (plan.RecordFile.empty()) return;
  const int fd = ::open(plan.RecordFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return;
  TRecordWriter record(fd);
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const int thread = CurrentThreadId();
  char threadName[17] = {};
  ::prctl(PR_GET_NAME, threadName, 0, 0, 0);
  record.Text("Orvane ").Text(kVersion).Text("\n");
  record.Text("time: ").Decimal(now.tv_sec).Text("\n");
  record.Text("signal: ").Decimal(faultSignal).Text(" ").Text(SignalName(faultSignal)).Text("\n");
  record.Text("address: ").Hex(reinterpret_cast<uintptr_t>(faultAddress)).Text("\n");
  record.Text("thread: ").Decimal(thread).Text(" \"").Text(threadName).Text("\"");
  record.Text(thread == ::getpid() ? " (main thread)\n" : " (worker thread)\n");
  record.Text("backtrace:\n");
  void* frames[64];
  const int depth = ::backtrace(frames, 64);
  ::backtrace_symbols_fd(frames, depth, fd);
  ::close(fd);
}

[[noreturn]] void StartReporterAndExit() {
  const TCrashPlan* plan = currentPlan.load(std::memory_order_acquire);
  if (plan && !plan->Program.empty()) {
    const pid_t child = ::_Fork();
    if (child == 0) {
      // The reporter gets a clean start: its own session, no signal blocked (the fault's signal is
      // blocked while its handler runs), nothing open of the player's.
      ::setsid();
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      ::close_range(3, ~0U, 0);
      ::execve(plan->Program.c_str(), plan->Argv.data(), plan->Envp.data());
      ::_exit(127);
    }
  }
  ::_exit(0);
}

void OnAlarm(int) { StartReporterAndExit(); }

void TakeDefaultAction(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  // A real fault and a signal sent by another process end the same way.
  ::raise(signal);
}

void FaultHandler(int signal, siginfo_t* info, void*) {
  plugins::ResumeGuardedCall(signal);
  const int self = CurrentThreadId();
  int expected = 0;
  if (!crashingThread.compare_exchange_strong(expected, self)) {
    if (expected == self) ::_exit(0);  // the crash path itself faulted
    for (;;) ::pause();                // another thread is ending the process
  }
  TNimMain* target = faultTarget.load();
  if (!target) {
    crashingThread.store(0);
    TakeDefaultAction(signal);
    return;
  }
  faultSignal = signal;
  faultAddress = info ? info->si_addr : nullptr;
  target->OnSystemFault(true);
  ::_exit(0);
}

}  // namespace

void InstallFaultHandlers() {
  if (handlersInstalled) return;
  handlersInstalled = true;
  // The first backtrace() loads the unwinder; that must not happen inside the handler.
  void* frames[4];
  ::backtrace(frames, 4);
  static char alternateStack[64 * 1024];
  stack_t stack{};
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  ::sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_sigaction = FaultHandler;
  // SA_NODEFER: a second fault of the same kind inside the crash path reaches the handler (which
  // ends the process with 0) instead of being blocked, which would let the kernel kill it.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) ::sigaction(signal, &action, nullptr);
}

void AttachSystemFault(TNimMain* window) { faultTarget.store(window); }

void DetachSystemFault(TNimMain* window) {
  TNimMain* expected = window;
  faultTarget.compare_exchange_strong(expected, nullptr);
}

void PrepareCrashReporter(const std::string& program) {
  std::unique_ptr<TCrashPlan> plan = CopyOfCurrentPlan();
  plan->Program = program;
  plan->Arguments = {program, "-os"};
  plan->Environment.clear();
  for (char** variable = environ; variable && *variable; ++variable) plan->Environment.emplace_back(*variable);
  Publish(std::move(plan));
}

void PrepareCrashRecord(const std::string& file) {
  std::unique_ptr<TCrashPlan> plan = CopyOfCurrentPlan();
  plan->RecordFile = file;
  Publish(std::move(plan));
}

void RunCrashPath() {
  // A crash path that hangs (an unwinder waiting for a lock the fault left taken) is cut short:
  // the reporter is started and the process ends all the same.
  struct sigaction action {};
  action.sa_handler = OnAlarm;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGALRM, &action, nullptr);
  ::alarm(5);
  const TCrashPlan* plan = currentPlan.load(std::memory_order_acquire);
  if (plan) WriteCrashRecord(*plan);
  StartReporterAndExit();
}

}  // namespace orvane::app
