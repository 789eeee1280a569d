// The player itself, loaded by the program's entry point (main.cpp) in the first instance only:
// the fault handlers, the application object, the main window with its socket, the scene and the
// desktop's media controls, then the event loop.
#include <QApplication>
#include <QDBusConnection>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/MessageServer.h"
#include "app/Mpris.h"
#include "app/OrvaneApplication.h"
#include "app/Screenshots.h"
#include "app/StartUp.h"
#include "app/SystemFault.h"
#include "app/unt_main.h"
#include "desktop/WindowClass.h"
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

}  // namespace

extern "C" __attribute__((visibility("default"))) int OrvanePlayerMain(int argc, char** argv,
                                                                        orvane::app::TStartUp* startUp) {
  using namespace orvane::app;
  // 2. Faults on any thread reach the crash path.
  InstallFaultHandlers();

  // 3, 6. The application object and its title.
  PreferX11OnWayland();
  QApplication::setApplicationName(QStringLiteral("Orvane4"));
  QApplication::setDesktopFileName(QStringLiteral("orvane"));
  QApplication::setOrganizationName(QStringLiteral("Orvane"));
  // The window is transparent around its rounded face. The small scene draws faster and leaner with
  // the software renderer than through GL (and needs no GPU), unless the user picked a backend.
  QQuickWindow::setDefaultAlphaBuffer(true);
  if (!std::getenv("QT_QUICK_BACKEND") && !std::getenv("QSG_RHI_BACKEND"))
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
  // Qt sees the program's name only: it would take arguments such as "-style" or "-session" for
  // its own, and here every argument after the options is a file (see CommandLine.h).
  int qtArgc = argc > 0 ? 1 : 0;
  OrvaneApplication app(qtArgc, argv);
  app.setQuitOnLastWindowClosed(false);
  // Before any window or scene exists, so every text is made in the interface's language.
  if (orvane::ui::InstallTranslation(app)) startUp->Screenshots.NameSuffix = "-en";
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("orvane"), QIcon(QStringLiteral(":/orvane/orvane.svg"))));

  // 7. The main window; other processes reach it through its socket from now on (their messages
  // wait in the socket until the event loop runs).
  const bool listening = startUp->Instance.WindowSocket.Valid();
  TNimMainServices services = DefaultServices(startUp->ExecutablePath);
  services.CommandBlock = startUp->Block;
  TNimMain window(std::move(services));
  TMessageServer server(std::move(startUp->Instance.WindowSocket),
                        [&window](const TMessage& message) { return window.Perform(message); });
  QQmlApplicationEngine scene;
  scene.rootContext()->setContextProperty(QStringLiteral("main"), &window);
  QQmlComponent component(&scene, QUrl(QStringLiteral("qrc:/qt/qml/Orvane/Main.qml")));
  // Made in two steps, so the window has its X11 class before it is first shown.
  std::unique_ptr<QObject> root(component.beginCreate(scene.rootContext()));
  auto* quickWindow = qobject_cast<QQuickWindow*>(root.get());
  if (!quickWindow) {
    std::fprintf(stderr, "Orvane: the window's scene could not be loaded: %s\n",
                 component.errorString().toLocal8Bit().constData());
    return 1;
  }
  orvane::desktop::SetWindowClass(quickWindow, "Orvane");
  component.completeCreate();
  window.SetWindow(quickWindow);
  window.FormCreate(startUp->Args);

  // The desktop's media controls, when there is a session bus.
  std::unique_ptr<TMprisService> mpris;
  if (TMprisService::SessionBusNamed()) {
    mpris = std::make_unique<TMprisService>(window);
    if (!mpris->Register(QDBusConnection::sessionBus())) mpris.reset();
  }

  QObject::connect(&window, &TNimMain::closeRequested, &app, &QApplication::quit);
  // The window closed some other way (the window manager's close): that ends the player too. Only
  // that window's close does; a dialog closing while the window is hidden in the tray does not.
  EndWhenMainWindowCloses(quickWindow, [&window, &app] {
    window.FormClose();
    app.quit();
  });
  WatchTerminationSignals(window, app);
  if (!startUp->Screenshots.Folder.empty()) ScheduleScreenshots(startUp->Screenshots, window, quickWindow);
  if (std::getenv("ORVANE_BENCH_FIRST_FRAME")) ReportFirstFrame(quickWindow);

  const int result = app.exec();
  window.FormClose();
  mpris.reset();
  // 10. ReleaseInstanceMutex: from here on a new start is the first instance again. The socket
  // goes first, while the lock still says it is ours.
  if (listening) ::unlinkat(startUp->Folder.Fd(), kWindowSocketName, 0);
  startUp->Instance.Mutex.reset();
  return result;
}
