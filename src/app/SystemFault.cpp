// Threads: see SystemFault.h. Prepare* and Attach/Detach run on the main thread and publish
// immutable plans through an atomic pointer; the handler reads them on any thread.
#include "app/SystemFault.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "app/unt_main.h"
#include "orvane_version.h"
#include "plugins/FaultGuard.h"
#include "store/ListSaver.h"

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
// Faults raised by the crash path itself on the thread running it.
std::atomic<int> nestedFaults{0};
// The fault being handled, written by the one thread that runs the crash path.
volatile sig_atomic_t faultSignal = 0;
void* volatile faultAddress = nullptr;
bool handlersInstalled = false;

// The whole crash path, waiting for list saves included, ends within this many seconds.
constexpr unsigned kCrashPathSeconds = 5;
// How long the crash path waits for list saves under way on the saver's thread.
constexpr long kListWaitMs = 3500;

// The settings as they would be saved now, for the crash path to write when the delayed save has
// not run yet. Static storage: the crash path reads it without allocating. The main thread writes
// it under a sequence count (odd while writing), so a reader on another thread can tell a torn copy.
struct TSettingsCopy {
  char File[4096];
  char Temp[4096 + 16];
  char Bytes[kMostCrashSettingsBytes];
  size_t Length;
};
TSettingsCopy settingsCopy;
std::atomic<unsigned> settingsSequence{0};
std::atomic<bool> settingsPending{false};
// The last save of the settings failed: the crash path cannot claim they are on disk.
std::atomic<bool> settingsFailed{false};

std::atomic<const store::TListSaver*> watchedListSaver{nullptr};
std::atomic<bool> listChangesWaiting{false};

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
    case SIGABRT: return "SIGABRT (abort)";
    default: return "signal";
  }
}

void WriteCrashRecord(const TCrashPlan& plan, bool everythingSaved) {
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
  // The reporter tells the user the lists and settings are safe only when this says so.
  record.Text(kCrashRecordSavedLine).Text(everythingSaved ? "yes\n" : "no\n");
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

void SleepMs(long ms) {
  timespec pause{ms / 1000, (ms % 1000) * 1000000L};
  while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

bool WriteAll(int fd, const char* bytes, size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

// Writes the settings copy when it holds a change the delayed save has not written yet: to a
// temporary file beside the settings, then renamed over them. True when nothing is left unsaved.
bool WriteSettingsCopy() {
  if (!settingsPending.load(std::memory_order_acquire)) return true;
  for (int attempt = 0; attempt < 50; ++attempt) {
    const unsigned before = settingsSequence.load(std::memory_order_acquire);
    if (before & 1) {  // the main thread is writing a newer copy
      SleepMs(2);
      continue;
    }
    const int fd = ::open(settingsCopy.Temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return false;
    struct stat existing {};  // the settings keep the permissions they have
    if (::stat(settingsCopy.File, &existing) == 0) ::fchmod(fd, existing.st_mode & 07777);
    const bool written = WriteAll(fd, settingsCopy.Bytes, settingsCopy.Length) && ::fsync(fd) == 0;
    ::close(fd);
    if (!written) {
      ::unlink(settingsCopy.Temp);
      return false;
    }
    if (settingsSequence.load(std::memory_order_acquire) != before) continue;  // torn: once more
    return ::rename(settingsCopy.Temp, settingsCopy.File) == 0;
  }
  ::unlink(settingsCopy.Temp);
  return false;
}

// Waits (bounded) for list saves that are under way on the saver's thread, unless the fault is on
// that thread. True when every list change is on disk.
bool WaitForListSaves() {
  const store::TListSaver* saver = watchedListSaver.load(std::memory_order_acquire);
  if (!saver) return !listChangesWaiting.load(std::memory_order_acquire);
  const bool onSaver = saver->WorkerThreadId() == CurrentThreadId();
  const bool mainThreadGoesOn = CurrentThreadId() != ::getpid();
  for (long waited = 0; !onSaver && waited < kListWaitMs; waited += 5) {
    // Changes not yet handed to the saver get there only while the main thread still runs.
    const bool waiting = mainThreadGoesOn && listChangesWaiting.load(std::memory_order_acquire);
    if (saver->UnwrittenNow() == 0 && !waiting) break;
    SleepMs(5);
  }
  return saver->UnwrittenNow() == 0 && !listChangesWaiting.load(std::memory_order_acquire);
}

void TakeDefaultAction(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  // A real fault and a signal sent by another process end the same way.
  ::raise(signal);
}

// Sent with kill, tgkill or sigqueue rather than raised by an instruction.
bool SentBySomeone(const siginfo_t* info) { return !info || info->si_code <= 0; }

// A signal arriving while the crash path already runs somewhere.
void OnSignalDuringCrashPath(int signal, const siginfo_t* info, int crashing) {
  const int self = CurrentThreadId();
  if (crashing == self) {
    // Sent by someone (kill, tgkill): the crash path goes on where it was interrupted.
    if (SentBySomeone(info)) return;
    // The crash path itself faulted: the reporter still starts, unless that is what faulted.
    if (nestedFaults.fetch_add(1) == 0) StartReporterAndExit();
    ::_exit(0);
  }
  // Another thread: a signal sent to it is dropped; one it raised itself (a fault, abort) must not
  // go on, so the thread waits for the crash path to end the process.
  if (SentBySomeone(info) && signal != SIGABRT) return;
  for (;;) ::pause();
}

void FaultHandler(int signal, siginfo_t* info, void* context) {
  plugins::ResumeGuardedCallSafely(signal, info, context);
  const int self = CurrentThreadId();
  int crashing = 0;
  if (!crashingThread.compare_exchange_strong(crashing, self)) {
    OnSignalDuringCrashPath(signal, info, crashing);
    return;
  }
  // First of all, before anything that could wait: the crash path ends within the alarm's time.
  ::alarm(kCrashPathSeconds);
  TNimMain* target = faultTarget.load();
  if (!target) {
    ::alarm(0);
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
  plugins::NoteRuntimeCode();
  static char alternateStack[64 * 1024];
  stack_t stack{};
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  ::sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_sigaction = FaultHandler;
  // SA_NODEFER: a second fault of the same kind inside the crash path reaches the handler (which
  // ends the process with 0) instead of being blocked, which would let the kernel kill it.
  // SA_RESTART: a signal sent during the crash path does not cut its writes short.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER | SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) ::sigaction(signal, &action, nullptr);
  // The alarm's handler is in place before any fault, so arming it is the crash path's first step.
  struct sigaction alarmAction {};
  alarmAction.sa_handler = OnAlarm;
  alarmAction.sa_flags = SA_ONSTACK;
  sigemptyset(&alarmAction.sa_mask);
  ::sigaction(SIGALRM, &alarmAction, nullptr);
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

bool KeepSettingsForCrash(const std::string& file, std::string_view bytes) {
  if (bytes.size() > sizeof settingsCopy.Bytes || file.size() + 1 > sizeof settingsCopy.File) return false;
  settingsSequence.fetch_add(1, std::memory_order_acq_rel);  // odd: being written
  std::memcpy(settingsCopy.File, file.c_str(), file.size() + 1);
  std::memcpy(settingsCopy.Temp, file.data(), file.size());
  std::memcpy(settingsCopy.Temp + file.size(), ".crash-save", sizeof ".crash-save");
  std::memcpy(settingsCopy.Bytes, bytes.data(), bytes.size());
  settingsCopy.Length = bytes.size();
  settingsSequence.fetch_add(1, std::memory_order_acq_rel);
  settingsPending.store(true, std::memory_order_release);
  return true;
}

void SettingsSaved() {
  settingsFailed.store(false, std::memory_order_release);
  settingsPending.store(false, std::memory_order_release);
}

void SettingsNotSaved() { settingsFailed.store(true, std::memory_order_release); }

void WatchListSaves(const store::TListSaver* saver) { watchedListSaver.store(saver, std::memory_order_release); }

void NoteListChangesWaiting(bool waiting) { listChangesWaiting.store(waiting, std::memory_order_release); }

void RunCrashPath() {
  // Armed already when the fault handler got here; a direct caller gets the same bound. When it
  // fires (an unwinder waiting for a lock the fault left taken), the reporter is started and the
  // process ends all the same.
  if (crashingThread.load() != CurrentThreadId()) ::alarm(kCrashPathSeconds);
  const bool settingsSaved = WriteSettingsCopy() && !settingsFailed.load(std::memory_order_acquire);
  const bool listsSaved = WaitForListSaves();
  const TCrashPlan* plan = currentPlan.load(std::memory_order_acquire);
  if (plan) WriteCrashRecord(*plan, settingsSaved && listsSaved);
  StartReporterAndExit();
}

}  // namespace orvane::app
