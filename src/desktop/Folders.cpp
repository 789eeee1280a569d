#include "desktop/Folders.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdlib>

#include "desktop/XdgPaths.h"

namespace orvane::desktop {
namespace {

std::string ShellFolder(int code) {
  switch (code) {
    case 0:
    case 16: return UserFolder("DESKTOP");
    case 2: return DataHome().empty() ? std::string() : DataHome() + "/applications";
    case 5: return UserFolder("DOCUMENTS");
    case 7: return ConfigHome().empty() ? std::string() : ConfigHome() + "/autostart";
    case 13: return UserFolder("MUSIC");
    case 14: return UserFolder("VIDEOS");
    case 20: return DataHome().empty() ? std::string() : DataHome() + "/fonts";
    case 21: return UserFolder("TEMPLATES");
    case 26: return ConfigHome();
    case 28: return DataHome();
    case 32: return CacheHome();
    case 39: return UserFolder("PICTURES");
    case 40: return HomeFolder();
    default: return {};
  }
}

std::string TempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && tmp[0] == '/' ? std::string(tmp) : std::string("/tmp");
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string GetSpecialFolder(uint8_t Code, bool /*ShortForm*/) {
  try {
    std::string folder;
    if (Code < 160) {
      folder = ShellFolder(Code & 127);
    } else if (Code == 163) {
      folder = TempFolder();
    }
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
  } catch (...) {
    return {};
  }
}

bool ForceFolder(const std::string& Path, bool Create) {
  try {
    if (IsFolder(Path)) return true;
    if (!Create) return false;
    for (std::size_t slash = Path.find('/'); slash != std::string::npos; slash = Path.find('/', slash + 1)) {
      // At "/" the text before it is empty: the root is there anyway.
      if (slash == 0 || IsFolder(Path.substr(0, slash + 1))) continue;
      ::mkdir(Path.substr(0, slash).c_str(), 0777);
    }
    const auto last = Path.rfind('/');
    return last == std::string::npos || last == 0 || IsFolder(Path.substr(0, last + 1));
  } catch (...) {
    return false;
  }
}

}  // namespace orvane::desktop
