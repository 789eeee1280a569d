// Benchmark for scripts/bench/scale.sh (not a test): the player's window with its scene, on the
// list the data folder holds, under a virtual display and a private session bus. It measures what a
// list change costs the window:
//   - add + save: a hand-off add (another start's "/l file") until the list is on disk;
//   - the longest slice the main thread was busy (from waking until it next waits) while the
//     hand-off, a deletion, one MPRIS OpenUri and a burst of 10,000 OpenUri calls from another
//     connection are handled and saved;
//   - the resident memory before the add and once the save is done;
//   - the frame times while the list scrolls (wall and main-thread processor time; median, 99th
//     percentile and worst): wheel steps from the top, jumps anywhere (the scroll bar dragged),
//     steps at the end.
// Prints one line of key=value figures.
//   scale_bench <song file>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QTimer>
#include <QUrl>
#include <ctime>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/Mpris.h"
#include "app/OrvaneApplication.h"
#include "app/unt_main.h"
#include "ui/PlayListModel.h"

namespace {

using orvane::app::TNimMain;

long RssKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

double ThreadCpuMs() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The longest stretch the main thread was busy since the last Take(), seen as the lateness of a
// 2 ms timer (what a click or a key would wait). On a loaded machine it also counts time other
// programs had the processor.
class BusyProbe {
 public:
  BusyProbe() {
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(kIntervalMs);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      const double cpu = ThreadCpuMs();
      longest = std::max(longest, static_cast<double>(clock.nsecsElapsed()) / 1e6 - kIntervalMs);
      longestCpu = std::max(longestCpu, cpu - lastCpu);
      lastCpu = cpu;
      clock.restart();
    });
    clock.start();
    lastCpu = ThreadCpuMs();
    timer.start();
  }
  // The longest slice: wall time, and the main thread's processor time in it (what the window's
  // own work cost, whatever else the machine was doing).
  std::pair<double, double> Take() {
    const std::pair<double, double> result{longest, longestCpu};
    longest = longestCpu = 0;
    lastCpu = ThreadCpuMs();
    clock.restart();
    return result;
  }

 private:
  static constexpr int kIntervalMs = 2;
  QTimer timer;
  QElapsedTimer clock;
  double longest = 0;
  double longestCpu = 0;
  double lastCpu = 0;
};

std::string Slice(const std::pair<double, double>& slice) {
  char text[48];
  std::snprintf(text, sizeof text, "%.1f/%.1f", slice.first, slice.second);
  return text;
}

// Runs the event loop until done() holds (or 120 s pass).
bool WaitFor(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > 120000) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  }
  return true;
}

void Settle(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

// The frame times of a scroll through the list: each step moves the view and waits for its frame.
struct TFrame {
  double WallMs;
  double CpuMs;  // the main thread's processor time for it
};

std::vector<TFrame> ScrollFrames(QQuickWindow& scene, QQuickItem& list) {
  std::vector<double> steps;
  const double rowHeight = orvane::ui::PlayListModel::RowHeight;
  std::mt19937 random(24);
  for (int i = 0; i < 150; ++i) steps.push_back(i * 3 * rowHeight);  // wheel steps from the top
  for (int i = 0; i < 100; ++i) steps.push_back(-1.0 - static_cast<double>(random() % 1000) / 1000.0);  // jumps
  for (int i = 150; i > 0; --i) steps.push_back(-2.0 - i * 3 * rowHeight);  // wheel steps to the end
  std::vector<TFrame> frames;
  for (const double step : steps) {
    const double end = std::max(0.0, list.property("contentHeight").toDouble() - list.height());
    double y = step;
    if (step <= -2.0) y = end + 2.0 + step;
    else if (step < 0) y = (-1.0 - step) * end;
    y = std::clamp(y, 0.0, end);
    bool swapped = false;
    const auto connection = QObject::connect(&scene, &QQuickWindow::frameSwapped, [&] { swapped = true; });
    QElapsedTimer frame;
    frame.start();
    const double cpu = ThreadCpuMs();
    list.setProperty("contentY", y);
    scene.update();
    WaitFor([&] { return swapped; });
    frames.push_back({static_cast<double>(frame.nsecsElapsed()) / 1e6, ThreadCpuMs() - cpu});
    QObject::disconnect(connection);
  }
  return frames;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: scale_bench <song file>\n");
    return 2;
  }
  const std::string song = argv[1];
  QQuickWindow::setDefaultAlphaBuffer(true);
  QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
  orvane::app::OrvaneApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);

  orvane::app::TNimMainServices services = orvane::app::DefaultServices(std::string(ORVANE_BIN_DIR) + "/orvane");
  services.StartUpdateCheck = false;
  services.CreateDeskLrc = false;
  services.AskYesNo = [](const std::string&) { return orvane::app::mrYes; };
  TNimMain window(std::move(services));
  QQmlApplicationEngine scene;
  scene.rootContext()->setContextProperty(QStringLiteral("main"), &window);
  scene.load(QUrl(QStringLiteral("qrc:/qt/qml/Orvane/Main.qml")));
  if (scene.rootObjects().isEmpty()) return 1;
  auto* quickWindow = qobject_cast<QQuickWindow*>(scene.rootObjects().first());
  window.SetWindow(quickWindow);
  window.FormCreate();
  orvane::app::TMprisService mpris(window);
  const bool onBus = mpris.Register(QDBusConnection::sessionBus());
  BusyProbe busy;
  Settle(1500);  // the scene's fade-in
  const int songs = window.lstDefault().Count();

  // A hand-off add, as another start's "/l file" arrives: the command block, then the message. The
  // first one loads the tag reader's libraries and is not counted.
  auto savedAfter = [&window](int writes) { return WaitFor([&] { return window.ListSavesWritten() > writes; }); };
  auto handOff = [&] {
    const int before = window.ListSavesWritten();
    window.CommandBlock().Write(orvane::app::CMD_APPENDFILE, song);
    window.Perform({orvane::app::WM_SHAREDCOMMAND, 1, 1});
    savedAfter(before);
  };
  handOff();
  Settle(300);
  const long rssBefore = RssKb();
  busy.Take();
  QElapsedTimer clock;
  clock.start();
  handOff();
  const double addSaveMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  const auto addBusy = busy.Take();
  Settle(300);
  const long rssAfterSave = RssKb();

  // Deleting the row just added.
  int writes = window.ListSavesWritten();
  window.lstDefault().SetSelectedIndex(window.lstDefault().Count() - 1);
  window.pmdel_delselectClick();
  savedAfter(writes);
  const auto deleteBusy = busy.Take();

  // One OpenUri and a burst of 10,000, from another connection on the bus.
  std::pair<double, double> openUriBusy{-1, -1}, burstBusy{-1, -1};
  double burstMs = -1, burstCpuMs = -1;
  if (onBus) {
    const QString uri = QUrl::fromLocalFile(QString::fromStdString(song)).toString();
    auto send = [uri](int count) {
      std::thread client([uri, count] {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("bench-client"));
        for (int i = 0; i < count; ++i) {
          QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.mpris.MediaPlayer2.orvane"),
                                                             QStringLiteral("/org/mpris/MediaPlayer2"),
                                                             QStringLiteral("org.mpris.MediaPlayer2.Player"),
                                                             QStringLiteral("OpenUri"));
          call << uri;
          bus.send(call);
        }
        bus.call(QDBusMessage::createMethodCall(QStringLiteral("org.mpris.MediaPlayer2.orvane"),
                                                QStringLiteral("/org/mpris/MediaPlayer2"),
                                                QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")));
      });
      client.detach();
    };
    int rows = window.lstDefault().Count();
    writes = window.ListSavesWritten();
    send(1);
    WaitFor([&] { return window.lstDefault().Count() == rows + 1; });
    savedAfter(writes);
    openUriBusy = busy.Take();
    Settle(300);
    rows = window.lstDefault().Count();
    clock.restart();
    const double cpuAtBurst = ThreadCpuMs();
    send(10000);
    WaitFor([&] { return window.lstDefault().Count() == rows + 10000; });
    writes = window.ListSavesWritten();
    window.SaveList(0);  // the last change's save, to wait for
    savedAfter(writes);
    burstMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    burstCpuMs = ThreadCpuMs() - cpuAtBurst;
    burstBusy = busy.Take();
  }

  // Scrolling the list.
  Settle(500);
  std::vector<TFrame> frames;
  if (auto* list = quickWindow->findChild<QQuickItem*>(QStringLiteral("lstDefault"))) frames = ScrollFrames(*quickWindow, *list);
  auto figures = [&frames](double TFrame::*field) {
    std::vector<double> values;
    for (const TFrame& frame : frames) values.push_back(frame.*field);
    std::sort(values.begin(), values.end());
    if (values.empty()) return std::string("-");
    char text[64];
    std::snprintf(text, sizeof text, "%.1f/%.1f/%.1f", values[values.size() / 2], values[values.size() * 99 / 100],
                  values.back());
    return std::string(text);
  };

  // Busy slices as wall/processor milliseconds; frames as median/99th percentile/worst.
  std::printf("songs=%d add_save_ms=%.1f add_busy_ms=%s delete_busy_ms=%s openuri_busy_ms=%s "
              "burst10k_busy_ms=%s burst10k_ms=%.0f burst10k_main_cpu_ms=%.0f rss_before_add_kb=%ld "
              "rss_after_save_kb=%ld scroll_frames=%zu scroll_wall_ms=%s scroll_cpu_ms=%s\n",
              songs, addSaveMs, Slice(addBusy).c_str(), Slice(deleteBusy).c_str(), Slice(openUriBusy).c_str(),
              Slice(burstBusy).c_str(), burstMs, burstCpuMs, rssBefore, rssAfterSave, frames.size(),
              figures(&TFrame::WallMs).c_str(), figures(&TFrame::CpuMs).c_str());
  std::fflush(stdout);
  window.FormClose();
  return 0;
}
