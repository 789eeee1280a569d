#include "app/Screenshots.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QQuickWindow>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

#include "app/unt_main.h"
#include "lyrics/Unt_Dlrc.h"
#include "lyrics/Unt_DlrcButton.h"

namespace orvane::app {
namespace {


// The window is transparent around its faces; show them over a dark desktop.
QImage OnDesktop(const QImage& window, const QRect& part) {
  QImage shot(part.size(), QImage::Format_ARGB32_Premultiplied);
  shot.fill(QColor(0x20, 0x2a, 0x36));
  QPainter painter(&shot);
  painter.drawImage(QPoint(0, 0), window, part);
  return shot;
}

// What the display itself shows where a window is (what the user sees, with or without a
// compositor), as opposed to what the window drew.
QImage OnScreen(const QWindow* window, const QRect& area) {
  QScreen* screen = window ? window->screen() : nullptr;
  if (!screen) return {};
  return screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
}

// With ORVANE_SCREENSHOT_SCREEN=1 the run also photographs the display: the settings flip under
// way, the settings page and the lyric toolbar ("-screen" pictures), to see the windows as a
// desktop with or without a compositor shows them.
bool WantsScreenPictures() {
  const char* value = std::getenv("ORVANE_SCREENSHOT_SCREEN");
  return value && std::string(value) == "1";
}

void Save(const QImage& image, const QString& path) {
  if (!image.isNull() && image.save(path)) std::printf("%s\n", qPrintable(path));
  else std::fprintf(stderr, "Orvane: could not write %s\n", qPrintable(path));
  std::fflush(stdout);
}

}  // namespace

namespace {

// The settings page once its flip is over, then the mini tile once its sequence is over (1.7 s);
// then the player closes.
void PhotographFaces(const QString& folder, const QString& suffix, TNimMain& window, QQuickWindow* scene, bool screen) {
  window.btnAboutClick();
  // A quarter of the way through the turn (it takes 600 ms): the face at about 45 degrees.
  if (screen)
    QTimer::singleShot(150, &window, [folder, suffix, scene] {
      Save(OnScreen(scene, scene->frameGeometry()), folder + QStringLiteral("/orvane-flip-screen") + suffix);
    });
  QTimer::singleShot(1000, &window, [folder, suffix, &window, scene, screen] {
    const QImage page = scene->grabWindow();
    Save(OnDesktop(page, page.rect()), folder + QStringLiteral("/orvane-settings") + suffix);
    if (screen) Save(OnScreen(scene, scene->frameGeometry()), folder + QStringLiteral("/orvane-settings-screen") + suffix);
    window.btnAboutBackClick();
    QTimer::singleShot(900, &window, [folder, suffix, &window, scene] {
      window.btn_minClick();
      QTimer::singleShot(2200, &window, [folder, suffix, &window, scene] {
        // Only the shrunken layer: 150 x 100 in the middle of the window.
        const QImage shot = scene->grabWindow();
        const QRect layer(QPoint(0, 0), QSize(150, 100) * shot.devicePixelRatio());
        Save(OnDesktop(shot, layer.translated(shot.rect().center() - layer.center())),
             folder + QStringLiteral("/orvane-mini") + suffix);
        window.pmm_closeClick();
      });
    });
  });
}

}  // namespace

// The main window and the lyrics first (and the lyric toolbar as the display shows it); then the
// faces, each photographed over a dark desktop.
void ScheduleScreenshots(const ScreenshotRequest& request, TNimMain& window, QQuickWindow* scene) {
  const QString folder = QString::fromStdString(request.Folder);
  const QString suffix = QString::fromStdString(request.NameSuffix) + QStringLiteral(".png");
  QDir().mkpath(folder);
  // The virtual display's pointer starts over the window; a hint under it would be in the pictures.
  QCursor::setPos(0, 0);
  QTimer::singleShot(request.DelayMs, &window, [folder, suffix, &window, scene] {
    if (scene) Save(scene->grabWindow(), folder + QStringLiteral("/orvane-main") + suffix);
    if (window.DeskLrc()) {
      const QImage lyric = window.DeskLrc()->Picture();
      Save(OnDesktop(lyric, lyric.rect()), folder + QStringLiteral("/orvane-lyrics") + suffix);
    }
    if (!scene) {
      window.pmm_closeClick();
      return;
    }
    const bool screen = WantsScreenPictures();
    lyrics::TNimDlrcButton* toolbar = window.DlrcButton();
    if (!screen || !toolbar) {
      PhotographFaces(folder, suffix, window, scene, screen);
      return;
    }
    toolbar->ShowFromLyrics();
    QTimer::singleShot(300, &window, [folder, suffix, &window, scene, toolbar] {
      Save(OnScreen(toolbar->Window(), toolbar->Geometry()), folder + QStringLiteral("/orvane-toolbar-screen") + suffix);
      toolbar->Close();
      PhotographFaces(folder, suffix, window, scene, true);
    });
  });
}

void ReportFirstFrame(QQuickWindow* scene) {
  if (!scene) return;
  QObject::connect(scene, &QQuickWindow::frameSwapped, scene, [] {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::string line;
    long hwm = 0;
    std::ifstream status("/proc/self/status");
    while (std::getline(status, line))
      if (line.rfind("VmHWM:", 0) == 0) hwm = std::atol(line.c_str() + 6);
    std::printf("first-frame-ns=%lld vmhwm-kb=%ld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec, hwm);
    std::fflush(stdout);
    std::_Exit(0);
  });
}

}  // namespace orvane::app
