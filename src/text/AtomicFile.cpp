#include "text/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace orvane::text {
namespace {

void SetError(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The new contents are written to an unnamed file in the target's folder (O_TMPFILE), which the
// kernel removes by itself if the program dies while writing; only once the bytes are on disk does
// it get a name, for the moment until the rename. File systems without unnamed files get a named
// temporary file from the start.
struct TempFile {
  explicit TempFile(const std::string& target) : target(target) {}
  ~TempFile() {
    if (fd >= 0) ::close(fd);
    if (!name.empty()) ::unlink(name.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool Open(bool unnamed) {
    if (unnamed) {
      fd = ::open(FolderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
      return fd >= 0;
    }
    name = target + ".tmp-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) name.clear();
    return fd >= 0;
  }

  // Gives an unnamed file its temporary name (through /proc, which unprivileged programs may link
  // from); a named one has it already.
  bool Name() {
    if (!name.empty()) return true;
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    static thread_local std::mt19937_64 random(std::random_device{}());
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[24];
      std::snprintf(suffix, sizeof suffix, ".tmp-%012llx", static_cast<unsigned long long>(random() >> 16));
      const std::string candidate = target + suffix;
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        name = candidate;
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }

  std::string target;
  std::string name;  // empty while unnamed, and after the rename
  int fd = -1;
};

}  // namespace

std::string WriteTarget(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<size_t>(n) >= target.size()) return {};
    target.resize(static_cast<size_t>(n));
    path = target.front() == '/' ? target : FolderOf(path) + "/" + target;
  }
  errno = ELOOP;
  return {};
}

bool AtomicWriteFile(const std::string& requestedPath, std::string_view bytes, std::string* error) {
  if (requestedPath.empty()) {
    if (error) *error = "empty file name";
    return false;
  }
  const std::string path = WriteTarget(requestedPath);
  if (path.empty()) {
    SetError(error, "cannot follow the link " + requestedPath);
    return false;
  }
  // An unnamed temporary file first; where the file system has none, or it cannot be named, a
  // named one.
  std::unique_ptr<TempFile> temp;
  for (const bool unnamed : {true, false}) {
    temp = std::make_unique<TempFile>(path);
    if (!temp->Open(unnamed)) {
      if (unnamed) continue;
      SetError(error, "cannot create a temporary file beside " + path);
      return false;
    }
    // Keep the permissions of the file being replaced; a new file gets the usual 0644 less umask.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0) {
      ::fchmod(temp->fd, old.st_mode & 07777);
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      ::fchmod(temp->fd, 0666 & ~mask);
    }
    if (!WriteAll(temp->fd, bytes) || ::fsync(temp->fd) != 0) {
      SetError(error, "cannot write beside " + path);
      return false;
    }
    if (temp->Name()) break;
    if (!unnamed) {
      SetError(error, "cannot name a temporary file beside " + path);
      return false;
    }
  }
  if (::close(temp->fd) != 0) {
    temp->fd = -1;
    SetError(error, "cannot close " + temp->name);
    return false;
  }
  temp->fd = -1;
  if (::rename(temp->name.c_str(), path.c_str()) != 0) {
    SetError(error, "cannot replace " + path);
    return false;
  }
  temp->name.clear();
  // Make the rename itself durable.
  const int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  if (st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return ok;
}

}  // namespace orvane::text
