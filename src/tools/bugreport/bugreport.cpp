// bugreport: started by the player's crash path as "bugreport -os". Shows the last crash record in
// the window "Orvane 意外退出" with buttons to start the player again and to close; without a
// display it prints the record to standard output and ends, and when the display it was given
// cannot be reached, it prints the record to standard error and ends the same way (exit code 0).
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "desktop/Process.h"
#include "text/ProgramFolders.h"
#include "tools/bugreport/BugReportDialog.h"
#include "ui/Translation.h"

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

// The platforms to try: the one asked for (or the toolkit's choice), then the offscreen one, so a
// display that cannot be reached ends in a printed record instead of an abort.
void FallBackToOffscreen() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  std::string platforms = platform && *platform ? platform : "";
  if (platforms.empty()) {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* x11 = std::getenv("DISPLAY");
    if (wayland && *wayland) platforms += "wayland;";
    if (x11 && *x11) platforms += "xcb;";
  } else {
    platforms += ";";
  }
  ::setenv("QT_QPA_PLATFORM", (platforms + "offscreen").c_str(), 1);
}

void PrintRecord(const std::string& record, FILE* out) {
  const auto text = [](const char* source) {
    return QCoreApplication::translate("orvane::bugreport::TBugReportDialog", source).toStdString() + "\n";
  };
  std::fputs(text("Orvane 意外退出").c_str(), out);
  std::fputs(record.empty() ? text("没有找到崩溃记录。").c_str() : record.c_str(), out);
  std::fflush(out);
}

// The player: the program "orvane" beside this one in the build tree, in bin/ when installed.
std::string PlayerPath() {
  const std::string programs = orvane::text::OwnProgramFolders().Programs;
  return programs.empty() ? std::string("orvane") : programs + "orvane";
}

}  // namespace

int main(int argc, char** argv) {
  const std::string record = orvane::bugreport::ReadCrashRecord(orvane::bugreport::CrashRecordFile());
  if (!HasDisplay()) {
    QCoreApplication core(argc, argv);
    orvane::ui::InstallTranslation(core);
    PrintRecord(record, stdout);
    return 0;
  }
  FallBackToOffscreen();
  QApplication app(argc, argv);
  orvane::ui::InstallTranslation(app);
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
    PrintRecord(record, stderr);
    return 0;
  }
  orvane::bugreport::TBugReportDialog dialog(record, [] { orvane::desktop::StartDetached({PlayerPath()}); });
  dialog.show();
  return app.exec() == 0 ? 0 : 1;
}
