#include "desktop/UserFiles.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "desktop/Folders.h"
#include "text/AtomicFile.h"

namespace orvane::desktop {
namespace {

// The file to write for path: path itself, or what a symbolic link there points to. Empty when
// path is a link that leads nowhere.
std::string WriteTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

ReadResult ReadUserFile(const std::string& path, std::string& content) {
  content.clear();
  try {
    if (text::ReadWholeFile(path, content)) return ReadResult::Read;
    struct stat st {};
    const bool absent = ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
    content.clear();
    return absent ? ReadResult::Missing : ReadResult::Failed;
  } catch (...) {
    content.clear();
    return ReadResult::Failed;
  }
}

bool UpdateUserFile(const std::string& path, const std::string& content, bool& changed) {
  changed = false;
  try {
    std::string old;
    const ReadResult read = ReadUserFile(path, old);
    if (read == ReadResult::Read && old == content) return true;
    const std::string target = WriteTarget(path);
    if (target.empty()) return false;
    const std::string folder = FolderOf(target);
    if (!folder.empty() && !ForceFolder(folder, true)) return false;
    if (!text::AtomicWriteFile(target, content)) return false;
    changed = true;
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace orvane::desktop
