#include "desktop/AutoRun.h"

#include <unistd.h>

#include <cerrno>

#include "desktop/DesktopEntry.h"
#include "desktop/UserFiles.h"
#include "desktop/XdgPaths.h"

namespace orvane::desktop {
namespace {

std::string AutoRunEntry(const std::string& exe) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Version=1.4\n"
         "Name=Orvane\n"
         "Exec=" + ExecValue(LaunchPath(exe)) + "\n"
         "Icon=" + EntryIcon(exe) + "\n"
         "Terminal=false\n";
}

}  // namespace

std::string AutoRunFile() {
  try {
    const std::string config = ConfigHome();
    return config.empty() ? std::string() : config + "/autostart/orvane.desktop";
  } catch (...) {
    return {};
  }
}

bool SetAutoRun(bool On) { return SetAutoRun(On, ExecutablePath()); }

bool SetAutoRun(bool On, const std::string& Exe) {
  try {
    const std::string file = AutoRunFile();
    if (file.empty()) return false;
    if (!On) return ::unlink(file.c_str()) == 0 || errno == ENOENT;
    if (Exe.empty()) return false;
    bool changed = false;
    return UpdateUserFile(file, AutoRunEntry(Exe), changed);
  } catch (...) {
    return false;
  }
}

}  // namespace orvane::desktop
