// Benchmark for scripts/bench/add_music.sh (not a test): the player's window with its scene drops a
// folder of songs onto the music list and measures
//   - the total time until the last row is in and the list is saved;
//   - how late the window's event loop answers meanwhile: a 10 ms timer's lateness, which is what
//     a click or a key would wait;
//   - the processor time the main thread spent meanwhile (on a loaded machine the lateness also
//     counts time other programs had the processor; this figure does not).
//   add_music_bench <folder>
#include <QApplication>
#include <QElapsedTimer>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app/OrvaneApplication.h"
#include "app/unt_main.h"
#include "ui/PlayListModel.h"

namespace {

double ThreadCpuMs() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: add_music_bench <folder>\n");
    return 2;
  }
  QQuickWindow::setDefaultAlphaBuffer(true);
  QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
  orvane::app::OrvaneApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);

  // Beside the player, where the presets and the lyric library are.
  orvane::app::TNimMainServices services = orvane::app::DefaultServices(std::string(ORVANE_BIN_DIR) + "/orvane");
  services.StartUpdateCheck = false;
  services.CreateDeskLrc = false;
  orvane::app::TNimMain window(std::move(services));
  QQmlApplicationEngine scene;
  scene.rootContext()->setContextProperty(QStringLiteral("main"), &window);
  scene.load(QUrl(QStringLiteral("qrc:/qt/qml/Orvane/Main.qml")));
  if (scene.rootObjects().isEmpty()) return 1;
  window.SetWindow(qobject_cast<QQuickWindow*>(scene.rootObjects().first()));
  window.FormCreate();

  std::vector<double> lateness;
  QElapsedTimer sinceTick;
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  probe.setInterval(10);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    lateness.push_back(std::max(0.0, static_cast<double>(sinceTick.nsecsElapsed()) / 1e6 - 10.0));
    sinceTick.restart();
  });

  QElapsedTimer total;
  double cpuAtStart = 0;
  QTimer::singleShot(1500, &app, [&] {  // after the scene's fade-in
    cpuAtStart = ThreadCpuMs();
    sinceTick.start();
    probe.start();
    total.start();
    window.lstDefaultDragDrop({QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1]))});
    auto* poll = new QTimer(&app);
    QObject::connect(poll, &QTimer::timeout, [&, poll] {
      if (window.Adding()) return;
      const double ms = static_cast<double>(total.nsecsElapsed()) / 1e6;
      poll->stop();
      probe.stop();
      std::sort(lateness.begin(), lateness.end());
      const double worst = lateness.empty() ? 0 : lateness.back();
      const double p99 = lateness.empty() ? 0 : lateness[lateness.size() * 99 / 100];
      std::printf("added %d songs in %.0f ms; the window answered within %.1f ms at worst (99 %% within %.1f ms, "
                  "%zu probes); main thread busy %.0f ms\n",
                  window.lstDefault().Count(), ms, worst, p99, lateness.size(), ThreadCpuMs() - cpuAtStart);
      app.quit();
    });
    poll->start(5);
  });
  const int result = app.exec();
  window.FormClose();
  return result;
}
