#include "desktop/XdgPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <vector>

#include "text/AtomicFile.h"
#include "text/TextUtil.h"

namespace orvane::desktop {
namespace {

std::string AbsoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  if (!value || value[0] != '/') return {};
  std::string path(value);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string BaseFolder(const char* variable, const char* fallbackBelowHome) {
  std::string path = AbsoluteEnv(variable);
  if (!path.empty()) return path;
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/" + fallbackBelowHome;
}

// The value of a user-dirs.dirs line: a double-quoted text, "$HOME/…" or an absolute path, with
// backslash escapes as in a shell. Anything else is not a valid entry.
std::string UserDirsValue(std::string_view quoted, const std::string& home) {
  if (quoted.size() < 2 || quoted.front() != '"') return {};
  std::string value;
  for (std::size_t i = 1; i < quoted.size(); ++i) {
    const char c = quoted[i];
    if (c == '"') break;
    if (c == '\\' && i + 1 < quoted.size()) {
      value += quoted[++i];
      continue;
    }
    value += c;
  }
  if (value == "$HOME") return home;
  if (value.rfind("$HOME/", 0) == 0) return home.empty() ? std::string() : home + value.substr(5);
  if (!value.empty() && value[0] == '/') return value;
  return {};
}

std::string UserDirsEntry(std::string_view name, const std::string& home) {
  const std::string config = ConfigHome();
  std::string bytes;
  if (config.empty() || !text::ReadWholeFile(config + "/user-dirs.dirs", bytes)) return {};
  const std::string key = "XDG_" + std::string(name) + "_DIR";
  std::string_view rest(bytes);
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    std::string_view line = text::Trim(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.empty() || line[0] == '#') continue;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos || text::Trim(line.substr(0, eq)) != key) continue;
    return UserDirsValue(text::Trim(line.substr(eq + 1)), home);
  }
  return {};
}

struct UserDirDefault {
  std::string_view name;
  std::string_view folder;
};

constexpr std::array<UserDirDefault, 8> kUserDirDefaults{{
    {"DESKTOP", "Desktop"},
    {"DOCUMENTS", "Documents"},
    {"MUSIC", "Music"},
    {"VIDEOS", "Videos"},
    {"PICTURES", "Pictures"},
    {"TEMPLATES", "Templates"},
    {"DOWNLOAD", "Downloads"},
    {"PUBLICSHARE", "Public"},
}};

}  // namespace

std::string HomeFolder() {
  std::string home = AbsoluteEnv("HOME");
  if (!home.empty()) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return {};
  if (!found->pw_dir || found->pw_dir[0] != '/') return {};
  home = found->pw_dir;
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return home;
}

std::string ConfigHome() { return BaseFolder("XDG_CONFIG_HOME", ".config"); }
std::string DataHome() { return BaseFolder("XDG_DATA_HOME", ".local/share"); }
std::string CacheHome() { return BaseFolder("XDG_CACHE_HOME", ".cache"); }

std::string UserFolder(std::string_view name) {
  const std::string home = HomeFolder();
  std::string folder = UserDirsEntry(name, home);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (!folder.empty()) return folder;
  if (home.empty()) return {};
  for (const auto& entry : kUserDirDefaults) {
    if (entry.name == name) return home + "/" + std::string(entry.folder);
  }
  return {};
}

std::string ExecutablePath() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
    if (buffer.size() >= (1u << 20)) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace orvane::desktop
