// Entry point of the player: the application object, the main window's logic and its scene.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "app/OrvaneApplication.h"
#include "app/Screenshots.h"
#include "app/SystemFault.h"
#include "app/unt_main.h"
#include "orvane_version.h"
#include "ui/Translation.h"

namespace {

int terminationPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(terminationPipe[1], &byte, 1);
}

// A desktop session that ends (SIGTERM) or a Ctrl+C (SIGINT) closes the player as "退出" does, so
// the list and the settings are saved.
void WatchTerminationSignals(orvane::app::TNimMain& window, QApplication& app) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, terminationPipe) != 0) return;
  auto* notifier = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [&window, &app] {
    char byte;
    [[maybe_unused]] const ssize_t n = ::read(terminationPipe[0], &byte, 1);
    window.FormClose();
    app.quit();
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
}

// The lyric windows must stay on top, which Wayland does not let a client ask for: use XWayland
// unless the user chose a platform.
void PreferX11OnWayland() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* x11 = std::getenv("DISPLAY");
  if ((!platform || !*platform) && wayland && *wayland && x11 && *x11) ::setenv("QT_QPA_PLATFORM", "xcb", 1);
}

std::string ExecutablePath(const char* argv0) {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n > 0) return std::string(buffer, static_cast<size_t>(n));
  return QDir(QString::fromLocal8Bit(argv0)).absolutePath().toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  orvane::app::ScreenshotRequest screenshots;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Orvane %s\n", orvane::kVersion);
      return 0;
    }
    if (std::strcmp(argv[i], "--screenshots") == 0 && i + 1 < argc) {
      screenshots.Folder = argv[++i];
      continue;
    }
    if (std::strcmp(argv[i], "--screenshot-delay") == 0 && i + 1 < argc) {
      screenshots.DelayMs = std::atoi(argv[++i]);
      continue;
    }
    args.emplace_back(argv[i]);
  }
  PreferX11OnWayland();
  QApplication::setApplicationName(QStringLiteral("Orvane4"));
  QApplication::setDesktopFileName(QStringLiteral("orvane"));
  QApplication::setOrganizationName(QStringLiteral("Orvane"));
  // The window is transparent around its rounded face. The small scene draws faster and leaner with
  // the software renderer than through GL (and needs no GPU), unless the user picked a backend.
  QQuickWindow::setDefaultAlphaBuffer(true);
  if (!std::getenv("QT_QUICK_BACKEND") && !std::getenv("QSG_RHI_BACKEND"))
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
  orvane::app::OrvaneApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  // Before any window or scene exists, so every text is made in the interface's language.
  if (orvane::ui::InstallTranslation(app)) screenshots.NameSuffix = "-en";
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("orvane"), QIcon(QStringLiteral(":/orvane/orvane.svg"))));
  orvane::app::InstallFaultHandlers();

  orvane::app::TNimMain window(orvane::app::DefaultServices(ExecutablePath(argv[0])));
  QQmlApplicationEngine scene;
  scene.rootContext()->setContextProperty(QStringLiteral("main"), &window);
  scene.load(QUrl(QStringLiteral("qrc:/qt/qml/Orvane/Main.qml")));
  if (scene.rootObjects().isEmpty()) {
    std::fprintf(stderr, "Orvane: the window's scene could not be loaded\n");
    return 1;
  }
  auto* quickWindow = qobject_cast<QQuickWindow*>(scene.rootObjects().first());
  window.SetWindow(quickWindow);
  window.FormCreate(args);

  QObject::connect(&window, &orvane::app::TNimMain::closeRequested, &app, &QApplication::quit);
  // The window closed some other way (the window manager's close): that ends the player too.
  QObject::connect(&app, &QGuiApplication::lastWindowClosed, &window, [&window, &app] {
    window.FormClose();
    app.quit();
  });
  WatchTerminationSignals(window, app);
  if (!screenshots.Folder.empty()) orvane::app::ScheduleScreenshots(screenshots, window, quickWindow);
  if (std::getenv("ORVANE_BENCH_FIRST_FRAME")) orvane::app::ReportFirstFrame(quickWindow);

  const int result = app.exec();
  window.FormClose();
  return result;
}
