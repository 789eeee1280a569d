#pragma once
// One player per login, and the channel other starts of the player (and outside programs) use to
// reach it. Three things live in the per-login runtime folder:
//   - the shared command block, a 65,544-byte file mapped by every start:
//       offset 0 Code (1 byte), 1..3 zero, 4 Reserved (int32, written 0), 8 Text (65,536 bytes,
//       ended by the first zero byte, at most 65,535 bytes of text);
//   - the instance lock, a file held with flock() by the first instance until it ends;
//   - the running player's socket "Orvane" (its window, as far as other processes can tell). A
//     client sends {message, wParam, lParam} as three little-endian int32 and gets one
//     little-endian int32 back per message.
// Plain POSIX, no Qt: a second start hands its command over before any toolkit is loaded, and
// orvanectl uses the same code. Every descriptor is close-on-exec, so a started program (the crash
// reporter) never inherits the lock.
//
// Writers hand over one command at a time: a writer locks the block (flock on its file) from
// writing until the running player has answered, and the clearing at every start waits for that
// lock, so commands given in quick succession are not wiped before the player has read them.
// The running player reads the block without the lock (the writer holds it for it).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::app {

inline constexpr const char* kCommandBlockName = "Orvane-58B49464-B170-4583-BE6C-77A579B2CAD8";
inline constexpr const char* kInstanceMutexName = "Orvane-8AEEC543-1CDC-42BB-95E0-3D5F3A22043C";
inline constexpr const char* kWindowSocketName = "Orvane";
inline constexpr size_t kCommandBlockSize = 65544;
inline constexpr size_t kCommandTextOffset = 8;
inline constexpr size_t kCommandTextMax = 65535;

// The message that tells the running player a command waits in the block (wParam 1, lParam 1).
inline constexpr int32_t WM_SHAREDCOMMAND = 2734;
// The message a start without files sends: the running player restores and raises its window, as
// launching a running application does on a Linux desktop (wParam and lParam 0).
inline constexpr int32_t WM_RESTOREPLAYER = 2735;

// How long a writer waits for the block and for the running player's answer; a player that does
// not answer in this time is taken as hung, and the writer gives up.
inline constexpr int kHandOffTimeoutMs = 5000;

struct TMessage {
  int32_t Msg = 0;
  int32_t WParam = 0;
  int32_t LParam = 0;
};
inline constexpr size_t kMessageBytes = 12;
void EncodeMessage(const TMessage& message, unsigned char (&bytes)[kMessageBytes]);
TMessage DecodeMessage(const unsigned char (&bytes)[kMessageBytes]);

// An owned file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }
  int Get() const { return fd; }
  bool Valid() const { return fd >= 0; }
  int Release() {
    const int released = fd;
    fd = -1;
    return released;
  }
  void Reset(int newFd = -1);

 private:
  int fd = -1;
};

// The per-login folder, held open, so the files in it are opened relative to the folder that was
// checked and a symlink swapped in later cannot redirect them.
class TRuntimeFolder {
 public:
  // $XDG_RUNTIME_DIR when it is an absolute path naming a real folder (not a symlink) owned by the
  // user that nobody else may write to; otherwise "/tmp/orvane-<uid>", created with mode 0700 and
  // used only when it is a real folder owned by the user (its mode is then narrowed to 0700).
  // Empty with the reason in *error when neither can be used.
  static std::optional<TRuntimeFolder> Open(std::string* error = nullptr);
  // The same rule with the environment value and the fallback's parent folder given.
  static std::optional<TRuntimeFolder> OpenWith(const char* xdgRuntimeDir, const std::string& fallbackParent,
                                                std::string* error);

  int Fd() const { return fd.Get(); }
  const std::string& Path() const { return path; }
  std::string File(std::string_view name) const { return path + "/" + std::string(name); }

 private:
  UniqueFd fd;
  std::string path;
};

// The shared command block.
class TCommandBlock {
 public:
  // Maps the block file of folder; with create, a missing file is made (mode 0600) and brought to
  // its size. Refuses a file that is not a regular file owned by the user. nullptr on failure.
  static std::unique_ptr<TCommandBlock> Open(const TRuntimeFolder& folder, bool create, std::string* error = nullptr);
  // A block in the process's own memory (a window that has no shared block, tests).
  static std::unique_ptr<TCommandBlock> InMemory();
  ~TCommandBlock();
  TCommandBlock(const TCommandBlock&) = delete;
  TCommandBlock& operator=(const TCommandBlock&) = delete;

  uint8_t Code() const;
  // The text up to the first zero byte, at most kCommandTextMax bytes.
  std::string Text() const;
  // Code := code, Reserved := 0, Text := text (cut to kCommandTextMax bytes on a character
  // boundary), every other byte zero.
  void Write(uint8_t code, std::string_view text);
  // All kCommandBlockSize bytes zero.
  void Clear();
  // The raw bytes (kCommandBlockSize of them), for writers that fill the block themselves.
  unsigned char* Bytes() { return bytes; }

  // The writers' lock (see the top of this file). A block in memory has no other writer: always
  // granted.
  bool LockForWriting(int timeoutMs);
  bool TryLockForWriting();
  void UnlockForWriting();
  bool LockedForWriting() const { return locked; }

 private:
  TCommandBlock(UniqueFd file, unsigned char* bytes, bool mapped);
  UniqueFd file;
  unsigned char* bytes = nullptr;
  bool mapped = false;
  bool locked = false;
};

// Start-up step 1: maps the block (creating it) and clears it, waiting for a writer that holds it
// (at most kHandOffTimeoutMs; then it is cleared all the same). nullptr on failure.
std::unique_ptr<TCommandBlock> OpenSharedBlock(const TRuntimeFolder& folder, std::string* error = nullptr);

// The instance lock, held for the life of the object.
class TInstanceMutex {
 public:
  enum class State { First, Running, Failed };
  // Takes the lock if nobody holds it: First. Running when another process holds it; Failed when
  // the lock file cannot be opened (the caller then behaves as a later start).
  static State Create(const TRuntimeFolder& folder, std::unique_ptr<TInstanceMutex>& mutex);
  // ReleaseInstanceMutex.
  ~TInstanceMutex() = default;

 private:
  explicit TInstanceMutex(UniqueFd file) : file(std::move(file)) {}
  UniqueFd file;
};

// The running player's socket. Listening: only the holder of the instance lock calls this; a file
// left by a player that was killed is removed first. Non-blocking, mode 0600. Invalid on failure.
UniqueFd ListenWindowSocket(const TRuntimeFolder& folder, std::string* error = nullptr);
// Connects to the running player; invalid when no player listens (or none accepts within
// timeoutMs).
UniqueFd ConnectWindowSocket(const TRuntimeFolder& folder, int timeoutMs);
// Sends one message and waits for its answer at most timeoutMs. Empty when the message could not
// be sent or no answer came.
std::optional<int32_t> SendWindowMessage(int fd, const TMessage& message, int timeoutMs);

// A path as the running player must see it: a relative path gets the current folder in front (the
// player runs elsewhere), a local "file://" URI becomes its path; absolute paths, other URLs
// ("scheme://…") and the empty text stay as they are.
std::string AbsolutePath(const std::string& path);

// The commands a command line stands for, one per file, paths made absolute: after "/l" (exactly,
// as argument 1) every file is added (code 11); otherwise the first is played (code 1) and the
// others added (code 11), so all of them join the list in order and the first one plays. Empty
// arguments name nothing and are skipped; no files, no commands.
struct TCommand {
  uint8_t Code = 0;
  std::string Text;
};
std::vector<TCommand> CommandsFromArgs(const std::vector<std::string>& args);

// Writes commands to the block one after the other and tells the running player (connected on fd)
// of each, waiting for its answer; the block is locked for writers throughout, so another start's
// commands never land between them.
enum class THandOff { Delivered, NoAnswer, BlockBusy };
THandOff HandOverCommands(TCommandBlock& block, int fd, const std::vector<TCommand>& commands);
THandOff HandOverCommand(TCommandBlock& block, int fd, const TCommand& command);

// Start-up step 4.
struct TSingleInstance {
  bool First = false;
  std::unique_ptr<TInstanceMutex> Mutex;  // the first instance's lock
  UniqueFd WindowSocket;                  // the first instance's listening socket (may be invalid)
  std::string Note;                       // why a later start dropped its command, for stderr
};
// The first instance (First) gets the lock and its listening socket. A later start hands its
// command line over to the running player and ends; without files it asks the player to show its
// window (WM_RESTOREPLAYER) and ends. A later start with files that finds the lock taken but no socket (the first is still starting, or ending)
// keeps trying for connectRetryMs: it hands over as soon as the socket answers, or becomes the
// first instance itself when the lock comes free.
TSingleInstance CheckSingleInstance(const TRuntimeFolder& folder, TCommandBlock& block,
                                    const std::vector<std::string>& args, int connectRetryMs = 2000);

}  // namespace orvane::app
