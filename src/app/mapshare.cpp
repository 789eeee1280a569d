#include "app/mapshare.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "text/TextUtil.h"

namespace orvane::app {
namespace {

using Clock = std::chrono::steady_clock;

std::string Why(const std::string& what) { return what + ": " + std::strerror(errno); }

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// A folder the user alone may change: a real folder (fd opened with O_NOFOLLOW), owned by the user,
// not writable by group or others.
bool IsPrivateFolder(int fd, std::string* error, const std::string& path) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    SetError(error, Why(path));
    return false;
  }
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
    SetError(error, path + " is not a folder of this user");
    return false;
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    SetError(error, path + " may be changed by other users");
    return false;
  }
  return true;
}

UniqueFd OpenFolderNoFollow(const std::string& path) {
  return UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

bool WaitFor(int fd, short events, int timeoutMs) {
  pollfd entry{fd, events, 0};
  for (;;) {
    const int ready = ::poll(&entry, 1, timeoutMs);
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
  }
}

bool FillSocketAddress(const TRuntimeFolder& folder, sockaddr_un& address, std::string* error) {
  const std::string path = folder.File(kWindowSocketName);
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    SetError(error, path + ": path too long for a socket");
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

void EncodeMessage(const TMessage& message, unsigned char (&bytes)[kMessageBytes]) {
  const int32_t values[3] = {message.Msg, message.WParam, message.LParam};
  for (int i = 0; i < 3; ++i) {
    const auto value = static_cast<uint32_t>(values[i]);
    for (int b = 0; b < 4; ++b) bytes[i * 4 + b] = static_cast<unsigned char>(value >> (8 * b));
  }
}

TMessage DecodeMessage(const unsigned char (&bytes)[kMessageBytes]) {
  int32_t values[3];
  for (int i = 0; i < 3; ++i) {
    uint32_t value = 0;
    for (int b = 0; b < 4; ++b) value |= static_cast<uint32_t>(bytes[i * 4 + b]) << (8 * b);
    values[i] = static_cast<int32_t>(value);
  }
  return {values[0], values[1], values[2]};
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

void UniqueFd::Reset(int newFd) {
  if (fd >= 0) ::close(fd);
  fd = newFd;
}

// ---- runtime folder

std::optional<TRuntimeFolder> TRuntimeFolder::Open(std::string* error) {
  return OpenWith(std::getenv("XDG_RUNTIME_DIR"), "/tmp", error);
}

std::optional<TRuntimeFolder> TRuntimeFolder::OpenWith(const char* xdgRuntimeDir, const std::string& fallbackParent,
                                                       std::string* error) {
  TRuntimeFolder folder;
  if (xdgRuntimeDir && xdgRuntimeDir[0] == '/') {
    std::string path = xdgRuntimeDir;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    UniqueFd fd = OpenFolderNoFollow(path);
    if (fd.Valid() && IsPrivateFolder(fd.Get(), nullptr, path)) {
      folder.fd = std::move(fd);
      folder.path = std::move(path);
      return folder;
    }
  }
  // No usable runtime folder: one of our own under /tmp. Someone else may have made that name first
  // (as a folder or a symlink) to catch our files: then it is refused, never followed.
  const std::string path = fallbackParent + "/orvane-" + std::to_string(::getuid());
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    SetError(error, Why(path));
    return std::nullopt;
  }
  UniqueFd fd = OpenFolderNoFollow(path);
  if (!fd.Valid()) {
    SetError(error, Why(path));
    return std::nullopt;
  }
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
    SetError(error, path + " is not a folder of this user");
    return std::nullopt;
  }
  if ((info.st_mode & 077) != 0 && ::fchmod(fd.Get(), 0700) != 0) {
    SetError(error, Why(path));
    return std::nullopt;
  }
  folder.fd = std::move(fd);
  folder.path = path;
  return folder;
}

// ---- command block

TCommandBlock::TCommandBlock(UniqueFd file, unsigned char* bytes, bool mapped)
    : file(std::move(file)), bytes(bytes), mapped(mapped) {}

TCommandBlock::~TCommandBlock() {
  if (locked) UnlockForWriting();
  if (mapped) ::munmap(bytes, kCommandBlockSize);
  else delete[] bytes;
}

std::unique_ptr<TCommandBlock> TCommandBlock::Open(const TRuntimeFolder& folder, bool create, std::string* error) {
  const int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT : 0);
  UniqueFd fd(::openat(folder.Fd(), kCommandBlockName, flags, 0600));
  if (!fd.Valid()) {
    SetError(error, Why(folder.File(kCommandBlockName)));
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::getuid()) {
    SetError(error, folder.File(kCommandBlockName) + " is not a file of this user");
    return nullptr;
  }
  // A block of another size (a new file, or one cut short) would fault when read past its end.
  if (static_cast<size_t>(info.st_size) != kCommandBlockSize && ::ftruncate(fd.Get(), kCommandBlockSize) != 0) {
    SetError(error, Why(folder.File(kCommandBlockName)));
    return nullptr;
  }
  void* view = ::mmap(nullptr, kCommandBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0);
  if (view == MAP_FAILED) {
    SetError(error, Why(folder.File(kCommandBlockName)));
    return nullptr;
  }
  return std::unique_ptr<TCommandBlock>(new TCommandBlock(std::move(fd), static_cast<unsigned char*>(view), true));
}

std::unique_ptr<TCommandBlock> TCommandBlock::InMemory() {
  return std::unique_ptr<TCommandBlock>(new TCommandBlock(UniqueFd(), new unsigned char[kCommandBlockSize](), false));
}

uint8_t TCommandBlock::Code() const { return bytes[0]; }

std::string TCommandBlock::Text() const {
  const unsigned char* text = bytes + kCommandTextOffset;
  const void* zero = std::memchr(text, 0, kCommandTextMax);
  const size_t length = zero ? static_cast<size_t>(static_cast<const unsigned char*>(zero) - text) : kCommandTextMax;
  return std::string(reinterpret_cast<const char*>(text), length);
}

void TCommandBlock::Write(uint8_t code, std::string_view text) {
  Clear();
  bytes[0] = code;
  const std::string_view cut = text::CutUtf8(text, kCommandTextMax);
  std::memcpy(bytes + kCommandTextOffset, cut.data(), cut.size());
}

void TCommandBlock::Clear() { std::memset(bytes, 0, kCommandBlockSize); }

bool TCommandBlock::TryLockForWriting() {
  if (locked) return true;
  if (!file.Valid()) return locked = true;
  while (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EINTR) return false;
  }
  return locked = true;
}

bool TCommandBlock::LockForWriting(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  // flock has no time-out: poll. A hand-off takes a few milliseconds.
  while (!TryLockForWriting()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void TCommandBlock::UnlockForWriting() {
  if (!locked) return;
  if (file.Valid()) ::flock(file.Get(), LOCK_UN);
  locked = false;
}

std::unique_ptr<TCommandBlock> OpenSharedBlock(const TRuntimeFolder& folder, std::string* error) {
  std::unique_ptr<TCommandBlock> block = TCommandBlock::Open(folder, true, error);
  if (!block) return nullptr;
  block->LockForWriting(kHandOffTimeoutMs);
  block->Clear();
  block->UnlockForWriting();
  return block;
}

// ---- instance lock

TInstanceMutex::State TInstanceMutex::Create(const TRuntimeFolder& folder, std::unique_ptr<TInstanceMutex>& mutex) {
  UniqueFd fd(::openat(folder.Fd(), kInstanceMutexName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.Valid()) return State::Failed;
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return State::Failed;
  while (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return State::Running;
    if (errno != EINTR) return State::Failed;
  }
  mutex.reset(new TInstanceMutex(std::move(fd)));
  return State::First;
}

// ---- socket

UniqueFd ListenWindowSocket(const TRuntimeFolder& folder, std::string* error) {
  sockaddr_un address;
  if (!FillSocketAddress(folder, address, error)) return {};
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    SetError(error, Why("socket"));
    return {};
  }
  // Only the holder of the instance lock gets here, so a socket file already there was left by a
  // player that did not end cleanly.
  ::unlinkat(folder.Fd(), kWindowSocketName, 0);
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    SetError(error, Why(address.sun_path));
    return {};
  }
  // The folder is the user's alone already; the mode says so again on the socket itself.
  ::fchmodat(folder.Fd(), kWindowSocketName, 0600, 0);
  if (::listen(fd.Get(), 64) != 0) {
    SetError(error, Why(address.sun_path));
    return {};
  }
  return fd;
}

UniqueFd ConnectWindowSocket(const TRuntimeFolder& folder, int timeoutMs) {
  sockaddr_un address;
  if (!FillSocketAddress(folder, address, nullptr)) return {};
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) return {};
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
    // EAGAIN: the player's backlog is full (it is busy); a Unix socket must then connect anew.
    if ((errno != EAGAIN && errno != EINTR) || Clock::now() >= deadline) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

std::optional<int32_t> SendWindowMessage(int fd, const TMessage& message, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  unsigned char bytes[kMessageBytes];
  EncodeMessage(message, bytes);
  size_t sent = 0;
  while (sent < kMessageBytes) {
    const ssize_t n = ::send(fd, bytes + sent, kMessageBytes - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN && WaitFor(fd, POLLOUT, MillisecondsLeft(deadline))) continue;
    return std::nullopt;
  }
  unsigned char answer[4];
  size_t got = 0;
  while (got < sizeof answer) {
    const ssize_t n = ::recv(fd, answer + got, sizeof answer - got, MSG_DONTWAIT);
    if (n > 0) {
      got += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN && WaitFor(fd, POLLIN, MillisecondsLeft(deadline))) continue;
    return std::nullopt;
  }
  uint32_t value = 0;
  for (int b = 0; b < 4; ++b) value |= static_cast<uint32_t>(answer[b]) << (8 * b);
  return static_cast<int32_t>(value);
}

// ---- command line

namespace {

// "file:///a%20b.mp3" (as some launchers hand files over) → "/a b.mp3"; other texts unchanged.
std::string LocalPathOfFileUri(const std::string& text) {
  std::string_view rest = text;
  if (rest.substr(0, 7) != "file://") return text;
  rest.remove_prefix(7);
  if (rest.substr(0, 9) == "localhost") rest.remove_prefix(9);
  if (rest.empty() || rest.front() != '/') return text;  // another host's file is not ours to open
  std::string path;
  for (size_t i = 0; i < rest.size(); ++i) {
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (rest[i] == '%' && i + 2 < rest.size() && hex(rest[i + 1]) && hex(rest[i + 2])) {
      path += static_cast<char>(std::stoi(std::string(rest.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      path += rest[i];
    }
  }
  return path;
}

}  // namespace

std::string AbsolutePath(const std::string& text) {
  const std::string path = LocalPathOfFileUri(text);
  if (path.empty() || path[0] == '/') return path;
  const auto scheme = path.find("://");
  if (scheme != std::string::npos && scheme > 0 && path.find('/') > scheme) return path;
  char* cwd = ::getcwd(nullptr, 0);
  if (!cwd) return path;
  std::string folder = cwd;
  std::free(cwd);
  std::string_view rest = path;
  while (rest.substr(0, 2) == "./") {
    rest.remove_prefix(2);
    while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  }
  if (folder.back() != '/') folder += '/';
  return folder + std::string(rest);
}

std::vector<TCommand> CommandsFromArgs(const std::vector<std::string>& args) {
  std::vector<TCommand> commands;
  const bool addOnly = !args.empty() && args[0] == "/l";
  for (size_t i = addOnly ? 1 : 0; i < args.size(); ++i) {
    if (args[i].empty()) continue;
    const uint8_t code = addOnly || !commands.empty() ? 11 : 1;
    commands.push_back({code, AbsolutePath(args[i])});
  }
  return commands;
}

THandOff HandOverCommands(TCommandBlock& block, int fd, const std::vector<TCommand>& commands) {
  if (!block.LockForWriting(kHandOffTimeoutMs)) return THandOff::BlockBusy;
  THandOff result = THandOff::Delivered;
  for (const TCommand& command : commands) {
    block.Write(command.Code, command.Text);
    if (!SendWindowMessage(fd, {WM_SHAREDCOMMAND, 1, 1}, kHandOffTimeoutMs)) {
      result = THandOff::NoAnswer;
      break;
    }
  }
  block.UnlockForWriting();
  return result;
}

THandOff HandOverCommand(TCommandBlock& block, int fd, const TCommand& command) {
  return HandOverCommands(block, fd, {command});
}

TSingleInstance CheckSingleInstance(const TRuntimeFolder& folder, TCommandBlock& block,
                                    const std::vector<std::string>& args, int connectRetryMs) {
  TSingleInstance result;
  const auto becomeFirst = [&] {
    result.First = true;
    result.WindowSocket = ListenWindowSocket(folder, &result.Note);
    return std::move(result);
  };
  UniqueFd window = ConnectWindowSocket(folder, 200);
  if (TInstanceMutex::Create(folder, result.Mutex) == TInstanceMutex::State::First) return becomeFirst();
  const std::vector<TCommand> commands = CommandsFromArgs(args);
  if (commands.empty()) {
    // Nothing to hand over: the player comes forward. One that is still starting shows its window
    // anyway, so there is nothing to wait for.
    if (window.Valid() && !SendWindowMessage(window.Get(), {WM_RESTOREPLAYER, 0, 0}, kHandOffTimeoutMs))
      result.Note = "the running player did not answer in time";
    return result;
  }
  // The lock is taken but nobody listens: the first instance is still starting (it listens in a
  // moment) or just ending (then this start takes its place).
  const auto deadline = Clock::now() + std::chrono::milliseconds(connectRetryMs);
  while (!window.Valid() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (TInstanceMutex::Create(folder, result.Mutex) == TInstanceMutex::State::First) return becomeFirst();
    window = ConnectWindowSocket(folder, 200);
  }
  if (!window.Valid()) {
    result.Note = "the running player cannot be reached; the command was not handed over";
    return result;
  }
  switch (HandOverCommands(block, window.Get(), commands)) {
    case THandOff::Delivered:
      break;
    case THandOff::NoAnswer:
      result.Note = "the running player did not answer in time";
      break;
    case THandOff::BlockBusy:
      result.Note = "another command is being handed over; this one was not";
      break;
  }
  return result;
}

}  // namespace orvane::app
