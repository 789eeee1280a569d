// bugreport: started by the player's crash path as "bugreport -os". Shows the last crash record in
// the window "Orvane 意外退出" with buttons to start the player again and to close; without a
// display it prints the record to standard output and ends.
#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "desktop/Process.h"
#include "tools/bugreport/BugReportDialog.h"

namespace {

bool HasDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) {
    const std::string name = platform;
    return name.rfind("offscreen", 0) != 0 && name.rfind("minimal", 0) != 0;
  }
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

// The player is the program "orvane" in this program's folder.
std::string PlayerPath() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "orvane";
  std::string self(buffer, static_cast<size_t>(n));
  return self.substr(0, self.rfind('/') + 1) + "orvane";
}

}  // namespace

int main(int argc, char** argv) {
  const std::string record = orvane::bugreport::ReadCrashRecord(orvane::bugreport::CrashRecordFile());
  if (!HasDisplay()) {
    std::fputs("Orvane 意外退出\n", stdout);
    std::fputs(record.empty() ? "没有找到崩溃记录。\n" : record.c_str(), stdout);
    return 0;
  }
  QApplication app(argc, argv);
  orvane::bugreport::TBugReportDialog dialog(record, [] { orvane::desktop::StartDetached({PlayerPath()}); });
  dialog.show();
  return app.exec() == 0 ? 0 : 1;
}
