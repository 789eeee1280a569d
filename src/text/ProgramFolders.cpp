#include "text/ProgramFolders.h"

#include <unistd.h>

#include <filesystem>
#include <string_view>

namespace orvane::text {
namespace {

// The install layout below a prefix, set by the install rules (relative folders, ending in "/").
constexpr std::string_view kBinDir = ORVANE_INSTALL_BINDIR "/";
constexpr std::string_view kModuleDir = ORVANE_INSTALL_MODULEDIR "/";
constexpr std::string_view kDataDir = ORVANE_INSTALL_DATADIR "/";
// The same as whole trailing path components.
constexpr std::string_view kBinTail = "/" ORVANE_INSTALL_BINDIR "/";
constexpr std::string_view kModuleTail = "/" ORVANE_INSTALL_MODULEDIR "/";

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool IsFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

ProgramFolders Installed(const std::string& prefix) {
  return {prefix + std::string(kBinDir), prefix + std::string(kModuleDir), prefix + std::string(kDataDir)};
}

}  // namespace

ProgramFolders FindProgramFolders(const std::string& programPath) {
  const auto slash = programPath.rfind('/');
  if (slash == std::string::npos) return {};
  const std::string folder = programPath.substr(0, slash + 1);
  // A helper program installed among the modules.
  if (EndsWith(folder, kModuleTail))
    return Installed(folder.substr(0, folder.size() - kModuleDir.size()));
  // The player in <prefix>/bin/, with its modules installed beside that folder.
  if (EndsWith(folder, kBinTail)) {
    const std::string prefix = folder.substr(0, folder.size() - kBinDir.size());
    if (IsFolder(prefix + std::string(kModuleDir))) return Installed(prefix);
  }
  return {folder, folder, folder};
}

std::string RunningProgramPath() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return {};
  return std::string(buffer, static_cast<size_t>(n));
}

const ProgramFolders& OwnProgramFolders() {
  static const ProgramFolders folders = FindProgramFolders(RunningProgramPath());
  return folders;
}

}  // namespace orvane::text
