// The player's window in a child process, brought into one state and then ended by one kind of
// fatal signal, for crash_table_test. Built as a loadable library and run by crash_child, so the
// fault handler lives in a dynamically loaded library as it does in the real program.
//
//   crash_child <SEGV|BUS|ILL|FPE|ABRT> <state> <reporter>
//
// States: rest, playing, saving (a 20,000-song list being written), worker, worker-malloc (the
// fault raised while a worker holds the heap lock), plugin-malloc (the same inside a guarded plug-in
// call on the main thread), double (a stream of every fatal signal sent with tgkill meanwhile),
// overflow (a worker's stack overflows). Before the fault a song is added to the music list (given
// time to be saved) and the volume is set to 30 (not given any time). Prints "recovered" and exits
// 3 when the fault was taken back by the plug-in guard; exits 2 when no fault happened.
#include <malloc.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/OrvaneApplication.h"
#include "app/SystemFault.h"
#include "app/unt_main.h"
#include "fake_engine.h"
#include "plugins/FaultGuard.h"
#include "ui/PlayListModel.h"

namespace {

using namespace orvane;

int faultSignal = SIGSEGV;
void* busPage = nullptr;

void ProcessEventsFor(int ms) {
  QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
}

// Raises faultSignal the way real code does: an instruction that faults, or abort(). Not checked by
// the undefined-behaviour sanitizer, which would stop at the null store or the division first.
__attribute__((no_sanitize("undefined"))) void Fault() {
  switch (faultSignal) {
    case SIGSEGV: {
      static int* volatile nowhere = nullptr;
      *nowhere = 1;
      break;
    }
    case SIGBUS:
      // A page of a file that has no bytes there.
      static_cast<volatile char*>(busPage)[0] = 1;
      break;
    case SIGILL:
#if defined(__x86_64__) || defined(__i386__)
      asm volatile("ud2");
#else
      __builtin_trap();
#endif
      break;
    case SIGFPE: {
      static volatile int zero = 0;
      static volatile int one = 1;
      one = one / zero;
      break;
    }
    case SIGABRT:
      std::abort();
  }
}

// The C library calls this while it holds the heap's lock (malloc_stats prints through stderr
// with its arena locked).
ssize_t FaultWhileHeapLocked(void*, const char*, size_t size) {
  Fault();
  return static_cast<ssize_t>(size);
}

// Not with a sanitizer's heap, which has neither that lock nor that function.
void FaultInsideMalloc() {
  cookie_io_functions_t functions{};
  functions.write = FaultWhileHeapLocked;
  FILE* stream = ::fopencookie(nullptr, "w", functions);
  ::setvbuf(stream, nullptr, _IONBF, 0);
  stderr = stream;
  ::malloc_stats();
}

// Deeper and deeper until the stack runs out; the depth check only hides that from the compiler.
int Recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (depth < 0) return 0;
  return Recurse(depth + 1) + frame[0];
}

app::TNimMainServices Services(test::FakeEngine** engine) {
  app::TNimMainServices services;
  services.ExecutablePath = std::string(ORVANE_BIN_DIR) + "/orvane";
  services.CreateEngine = [engine](uintptr_t, const std::string&, std::shared_ptr<audio::TDownloadCounters>) {
    auto fake = std::make_unique<test::FakeEngine>();
    *engine = fake.get();
    return std::unique_ptr<audio::IAudioEngine>(std::move(fake));
  };
  services.ChooseFiles = [](const std::string&) { return std::vector<std::string>{}; };
  services.AskYesNo = [](const std::string&) { return 0; };
  services.BroadcastToPlugins = [](int32_t, const app::TTrackEvent&) {};
  services.RunCommandLine = [](const std::string&, uint16_t) { return true; };
  services.OpenUrl = [](const std::string&) {};
  services.SetAutoRun = [](bool) {};
  services.RegisterFileTypes = [](const std::string&, int32_t) {};
  services.StartUpdateCheck = false;
  services.CreateTrayIcon = false;
  return services;
}

int SignalNamed(const std::string& name) {
  if (name == "BUS") return SIGBUS;
  if (name == "ILL") return SIGILL;
  if (name == "FPE") return SIGFPE;
  if (name == "ABRT") return SIGABRT;
  return SIGSEGV;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int OrvaneCrashScenario(int argc, char** argv) {
  if (argc < 4) return 64;
  faultSignal = SignalNamed(argv[1]);
  const std::string state = argv[2];
  const std::string reporter = argv[3];
  app::InstallFaultHandlers();
  const int file = ::memfd_create("empty", MFD_CLOEXEC);
  busPage = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);

  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::setenv("QT_QUICK_BACKEND", "software", 1);
  app::OrvaneApplication application(argc, argv);
  test::FakeEngine* engine = nullptr;
  auto window = std::make_unique<app::TNimMain>(Services(&engine));
  window->FormCreate({});
  app::PrepareCrashReporter(reporter);
  ProcessEventsFor(100);

  // The list as it will have been for 100 ms when the fault comes.
  window->AddListItem(window->lstDefault(), window->lstDefault().Count() + 1, "歌", "歌手", "/music/before-fault.mp3");
  const int written = window->ListSavesWritten();
  window->SaveList(0);
  // On a busy machine the save can take longer than that; it is given the time (a save still under
  // way when the heap lock is lost cannot finish, and the record then says so).
  for (QDeadlineTimer deadline(5000); window->ListSavesWritten() == written && !deadline.hasExpired();)
    ProcessEventsFor(5);
  ProcessEventsFor(100);
  if (state == "playing") {
    window->lstDefault().SetSelectedIndex(0);
    window->plst_listItemDblClick();
    QDeadlineTimer deadline(5000);
    while (engine->State() != audio::StatePlaying && !deadline.hasExpired()) ProcessEventsFor(5);
  }
  if (state == "saving") {
    store::TSongList songs;
    for (int i = 1; i <= 20000; ++i)
      songs.push_back(store::MakeSong("歌" + std::to_string(i), "歌手", "/music/many/" + std::to_string(i) + ".mp3"));
    window->lstDefault().AddSongs(std::move(songs));
    window->SaveList(0);
    // Handed to the saver, which is still writing it when the fault comes (on a busy machine it may
    // not have been handed over yet: the record must then say the lists are not all saved).
    ProcessEventsFor(60);
  }
  // A setting changed just before the fault.
  window->tbrVChange(30);

  if (state == "worker" || state == "worker-malloc" || state == "overflow") {
    std::thread worker([&state] {
      if (state == "worker") Fault();
      if (state == "worker-malloc") FaultInsideMalloc();
      if (state == "overflow") std::printf("%d\n", Recurse(0));
    });
    worker.join();
  } else if (state == "plugin-malloc") {
    const bool returned = plugins::CallGuarded([](void*) { FaultInsideMalloc(); }, nullptr);
    if (!returned) {
      std::puts("recovered");
      std::fflush(stdout);
      std::vector<std::string> more(1000, std::string(100, 'x'));  // the heap lock is still taken
      return 3;
    }
  } else if (state == "double") {
    // Once the fault is being handled, every fatal signal arrives again and again, sent with
    // tgkill the way kill(1) and other processes send them.
    const pid_t process = ::getpid();
    std::thread sender([process] {
      ::usleep(2000);
      for (;;) {
        for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) ::syscall(SYS_tgkill, process, process, signal);
        ::usleep(200);
      }
    });
    sender.detach();
    Fault();
  } else {
    Fault();
  }
  return 2;
}
