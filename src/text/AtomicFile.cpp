#include "text/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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
  std::string temp = path + ".tmp-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    SetError(error, "cannot create " + temp);
    return false;
  }
  // Keep the permissions of the file being replaced; a new file gets the usual 0644 less umask.
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0) {
    ::fchmod(fd, old.st_mode & 07777);
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
  }
  const bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  if (!written) SetError(error, "cannot write " + temp);
  if (::close(fd) != 0 && written) {
    SetError(error, "cannot close " + temp);
    ::unlink(temp.c_str());
    return false;
  }
  if (!written) {
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    SetError(error, "cannot replace " + path);
    ::unlink(temp.c_str());
    return false;
  }
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
