#include "app/Screenshots.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QQuickWindow>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

#include "app/unt_main.h"
#include "lyrics/Unt_Dlrc.h"

namespace orvane::app {
namespace {

// The desktop lyric is transparent around its text; show it over a dark strip as a desktop would.
QImage OnDesktop(const QImage& lyric) {
  QImage shot(lyric.size(), QImage::Format_ARGB32_Premultiplied);
  shot.fill(QColor(0x20, 0x2a, 0x36));
  QPainter painter(&shot);
  painter.drawImage(0, 0, lyric);
  return shot;
}

void Save(const QImage& image, const QString& path) {
  if (!image.isNull() && image.save(path)) std::printf("%s\n", qPrintable(path));
  else std::fprintf(stderr, "Orvane: could not write %s\n", qPrintable(path));
  std::fflush(stdout);
}

}  // namespace

void ScheduleScreenshots(const ScreenshotRequest& request, TNimMain& window, QQuickWindow* scene) {
  const QString folder = QString::fromStdString(request.Folder);
  const QString suffix = QString::fromStdString(request.NameSuffix) + QStringLiteral(".png");
  QDir().mkpath(folder);
  QTimer::singleShot(request.DelayMs, &window, [folder, suffix, &window, scene] {
    if (scene) Save(scene->grabWindow(), folder + QStringLiteral("/orvane-main") + suffix);
    if (window.DeskLrc()) Save(OnDesktop(window.DeskLrc()->Picture()), folder + QStringLiteral("/orvane-lyrics") + suffix);
    window.pmm_closeClick();
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
