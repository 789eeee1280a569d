// Threads: every function may be called on any thread. A started program that is not waited for
// gets a detached thread of its own that only calls waitpid for that one child, so the child does
// not stay a zombie; it touches no other state.
#include "desktop/Process.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <limits>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace orvane::desktop {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The program token: up to the next blank, or from a leading quote to the next quote.
std::string ProgramToken(std::string_view s, std::size_t& i) {
  std::string program;
  if (s[i] == '"') {
    ++i;
    while (i < s.size() && s[i] != '"') program += s[i++];
    if (i < s.size()) ++i;
    return program;
  }
  while (i < s.size() && !IsBlank(s[i])) program += s[i++];
  return program;
}

std::string ArgumentToken(std::string_view s, std::size_t& i) {
  std::string argument;
  bool quoted = false;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '\\') {
      std::size_t count = 0;
      while (i < s.size() && s[i] == '\\') ++count, ++i;
      if (i < s.size() && s[i] == '"') {
        argument.append(count / 2, '\\');
        // An odd count escapes the quote; an even count leaves it to start or end a quoted part.
        if (count % 2 == 1) argument += '"', ++i;
      } else {
        argument.append(count, '\\');
      }
      continue;
    }
    if (c == '"') {
      if (quoted && i + 1 < s.size() && s[i + 1] == '"') {
        argument += '"';
        i += 2;
        continue;
      }
      quoted = !quoted;
      ++i;
      continue;
    }
    if (IsBlank(c) && !quoted) break;
    argument += c;
    ++i;
  }
  return argument;
}

class SpawnAttributes {
 public:
  SpawnAttributes() { ok = ::posix_spawnattr_init(&attr) == 0; }
  ~SpawnAttributes() {
    if (ok) ::posix_spawnattr_destroy(&attr);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  bool ok = false;
  posix_spawnattr_t attr{};
};

class SpawnFileActions {
 public:
  SpawnFileActions() { ok = ::posix_spawn_file_actions_init(&actions) == 0; }
  ~SpawnFileActions() {
    if (ok) ::posix_spawn_file_actions_destroy(&actions);
  }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;
  bool ok = false;
  posix_spawn_file_actions_t actions{};
};

struct SpawnSetup {
  bool newSession = false;
  bool newProcessGroup = false;
  bool nullStdio = false;
};

bool CloseInheritedFiles(posix_spawn_file_actions_t& actions) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  return ::posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0;
#else
  // Without closefrom every descriptor that might be open is closed one by one; closing one that
  // is not open is not an error for posix_spawn.
  const long limit = ::sysconf(_SC_OPEN_MAX);
  for (int fd = 3; fd < (limit > 0 && limit < 65536 ? limit : 65536); ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 && ::posix_spawn_file_actions_addclose(&actions, fd) != 0) return false;
  }
  return true;
#endif
}

bool PrepareAttributes(posix_spawnattr_t& attr, const SpawnSetup& setup) {
  // Signals the player ignores or blocks (SIGPIPE, for one) would stay ignored in the child.
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (setup.newSession) flags |= POSIX_SPAWN_SETSID;
  if (setup.newProcessGroup && !setup.newSession) flags |= POSIX_SPAWN_SETPGROUP;
  return ::posix_spawnattr_setsigmask(&attr, &none) == 0 && ::posix_spawnattr_setsigdefault(&attr, &all) == 0 &&
         ::posix_spawnattr_setpgroup(&attr, 0) == 0 && ::posix_spawnattr_setflags(&attr, flags) == 0;
}

bool PrepareFiles(posix_spawn_file_actions_t& actions, const SpawnSetup& setup) {
  if (setup.nullStdio) {
    if (::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) != 0) return false;
    if (::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) != 0) return false;
    if (::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) != 0) return false;
  }
  return CloseInheritedFiles(actions);
}

// Starts argv[0] with the arguments; the child's id, or -1 when it could not be started.
pid_t Spawn(const std::vector<std::string>& argv, const SpawnSetup& setup) {
  if (argv.empty()) return -1;
  const std::string program = FindProgram(argv[0]);
  if (program.empty()) return -1;
  SpawnAttributes attributes;
  SpawnFileActions files;
  if (!attributes.ok || !files.ok) return -1;
  if (!PrepareAttributes(attributes.attr, setup) || !PrepareFiles(files.actions, setup)) return -1;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  // glibc's posix_spawn reports a failed exec as its result, so a start that returns 0 really ran.
  if (::posix_spawn(&pid, program.c_str(), &files.actions, &attributes.attr, args.data(), environ) != 0) return -1;
  return pid;
}

void ReapInBackground(pid_t pid) {
  try {
    std::thread([pid] {
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (...) {
    // No thread to be had: the child stays a zombie until the player ends, which is harmless.
  }
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  std::vector<std::string> args;
  std::size_t i = 0;
  while (i < commandLine.size() && IsBlank(commandLine[i])) ++i;
  if (i == commandLine.size()) return args;
  args.push_back(ProgramToken(commandLine, i));
  for (;;) {
    while (i < commandLine.size() && IsBlank(commandLine[i])) ++i;
    if (i == commandLine.size()) break;
    args.push_back(ArgumentToken(commandLine, i));
  }
  return args;
}

std::string QuoteCommandArg(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string_view::npos) return std::string(argument);
  std::string quoted = "\"";
  for (std::size_t i = 0;; ++i) {
    std::size_t backslashes = 0;
    while (i < argument.size() && argument[i] == '\\') ++backslashes, ++i;
    if (i == argument.size()) {
      // Doubled, so the closing quote still closes.
      quoted.append(backslashes * 2, '\\');
      break;
    }
    if (argument[i] == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    quoted += argument[i];
  }
  quoted += '"';
  return quoted;
}

std::string FindProgram(std::string_view name) {
  try {
    if (name.empty()) return {};
    const std::string wanted(name);
    if (wanted.find('/') != std::string::npos) return IsExecutableFile(wanted) ? wanted : std::string();
    const char* pathVariable = std::getenv("PATH");
    std::string_view folders = pathVariable ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
    while (!folders.empty()) {
      const auto colon = folders.find(':');
      const std::string_view folder = folders.substr(0, colon);
      folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
      // A relative entry would make the program depend on the current folder: skip it.
      if (folder.empty() || folder[0] != '/') continue;
      std::string candidate(folder);
      if (candidate.back() != '/') candidate += '/';
      candidate += wanted;
      if (IsExecutableFile(candidate)) return candidate;
    }
  } catch (...) {
  }
  return {};
}

bool StartDetached(const std::vector<std::string>& argv) {
  try {
    const pid_t pid = Spawn(argv, SpawnSetup{.newSession = true});
    if (pid <= 0) return false;
    ReapInBackground(pid);
    return true;
  } catch (...) {
    return false;
  }
}

bool RunCommandLine(const std::string& CommandLine, uint16_t /*Show*/) {
  try {
    return StartDetached(SplitCommandLine(CommandLine));
  } catch (...) {
    return false;
  }
}

bool RunAndWait(const std::vector<std::string>& argv, int timeoutMs) {
  pid_t pid = -1;
  try {
    pid = Spawn(argv, SpawnSetup{.newProcessGroup = true, .nullStdio = true});
  } catch (...) {
    return false;
  }
  if (pid <= 0) return false;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (done < 0 && errno != EINTR) return false;
    if (Clock::now() >= deadline) break;
    ::usleep(10000);
  }
  // Too slow: kill the program with anything it started, and collect it.
  ::kill(-pid, SIGKILL);
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return false;
}

void TrimWorkingSet() {
  // A trim gives every free page of the heap back to the system, and the next allocations fault
  // the same pages in again; each trim also flushes the TLB of every core the process runs on.
  // Twice a second (the display refresh while a song plays) that churn was most of what the main
  // thread did, so trims are at least kTrimInterval apart: freed memory still goes back, a few
  // seconds later.
  constexpr auto kTrimInterval = std::chrono::seconds(10);
  static std::atomic<int64_t> lastTrim{std::numeric_limits<int64_t>::min()};
  const int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
  int64_t last = lastTrim.load(std::memory_order_relaxed);
  if (last != std::numeric_limits<int64_t>::min() &&
      now - last < std::chrono::duration_cast<std::chrono::steady_clock::duration>(kTrimInterval).count())
    return;
  if (!lastTrim.compare_exchange_strong(last, now)) return;  // another thread is trimming
  ::malloc_trim(0);
}

}  // namespace orvane::desktop
