// Shows the main window's scene with a stand-in for the player's logic, so it can be looked at
// without the player behind it.
//
//   scene_preview [--rows N] [--empty] [--tab 1] [--msg] [--notice TEXT] [--hover-seek] [--hover NAME]
//                 [--hover-row N] [--face 1|2] [--screenshot out.png] [--first-frame] [--idle] [--bench-scroll]
//                 [--bench-faces]
//
// --screenshot grabs the window once the fade-in is over and quits; --first-frame prints the time
// from process start to the first frame and quits; --bench-scroll scrolls a long list through and
// prints frame times; --idle counts the frames drawn while nothing changes; --face turns to the
// settings page (1) or shrinks to the mini tile (2) before the screenshot; --bench-faces runs the
// settings flip and mini mode there and back and prints their frame times.
#include <QCommandLineParser>
#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>
#include <QtTest/QTest>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <ctime>
#include <vector>

#include "stand_in_main.h"

namespace {

// Milliseconds since the process started (its start time from /proc, in clock ticks).
double MsSinceProcessStart() {
  FILE* stat = std::fopen("/proc/self/stat", "r");
  if (!stat) return -1;
  unsigned long long startTicks = 0;
  // Field 22 is the start time; the command name in field 2 has no blanks for this program.
  const int got = std::fscanf(stat, "%*d %*s %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
                              &startTicks);
  std::fclose(stat);
  if (got != 1) return -1;
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  const double nowMs = static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
  return nowMs - static_cast<double>(startTicks) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

QQuickItem* Find(QQuickWindow* window, const char* name) {
  return window->findChild<QQuickItem*>(QString::fromLatin1(name));
}

// Moves the real pointer, so the window gets the same enter and hover events a user's mouse gives.
void PointAt(QQuickItem* item, QPointF at) {
  if (item) QCursor::setPos(item->mapToGlobal(at).toPoint());
}

}  // namespace

int main(int argc, char** argv) {
  QElapsedTimer sinceMain;
  sinceMain.start();
  QQuickWindow::setDefaultAlphaBuffer(true);
  QGuiApplication app(argc, argv);

  QCommandLineParser parser;
  parser.addHelpOption();
  parser.addOption({"rows", "Songs in the music list.", "n", "12"});
  parser.addOption({"empty", "Empty music list (shows the hint)."});
  parser.addOption({"tab", "Selected tab (0 or 1).", "index", "0"});
  parser.addOption({"msg", "Show the Yes/No pop-up."});
  parser.addOption({"notice", "Show a notice.", "text"});
  parser.addOption({"hover-seek", "Rest the mouse on the seek bar."});
  parser.addOption({"hover", "Rest the mouse on the component of this name.", "name"});
  parser.addOption({"hover-row", "Rest the mouse on row N of the music list.", "n"});
  parser.addOption({"screenshot", "Grab the window after the fade-in, save it and quit.", "png"});
  parser.addOption({"first-frame", "Print the time to the first frame and quit."});
  parser.addOption({"flip", "Turn the 3-D layer by DEG about its vertical axis, pushed back 300.", "deg"});
  parser.addOption({"face", "Show the settings page (1) or the mini tile (2).", "face"});
  parser.addOption({"bench-faces", "Run the face sequences and print frame times."});
  parser.addOption({"idle", "Count the frames drawn in 2 s once the fade-in is over, and quit."});
  parser.addOption({"bench-scroll", "Scroll a 10,000-song list through and print frame times."});
  parser.process(app);

  orvane::test::StandInMain stand;
  const bool bench = parser.isSet("bench-scroll");
  stand.Fill(parser.isSet("empty") ? 0 : (bench ? 10000 : parser.value("rows").toInt()));
  stand.SetTabIndex(parser.value("tab").toInt());
  if (parser.isSet("msg")) {
    stand.msgText = QStringLiteral("确定要删除当前选择的歌曲吗？");
    stand.msgVisible = true;
  }
  if (parser.isSet("notice")) stand.noticeText = parser.value("notice");
  stand.Refresh();

  QQmlApplicationEngine engine;
  engine.rootContext()->setContextProperty(QStringLiteral("main"), &stand);
  engine.load(QUrl(QStringLiteral("qrc:/qt/qml/Orvane/Main.qml")));
  if (engine.rootObjects().isEmpty()) return 1;
  auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().first());
  if (!window) return 1;

  bool firstFrame = true;
  QObject::connect(window, &QQuickWindow::frameSwapped, &app, [&] {
    if (!firstFrame) return;
    firstFrame = false;
    std::printf("first frame: %.1f ms after process start, %.1f ms after main()\n", MsSinceProcessStart(),
                static_cast<double>(sinceMain.nsecsElapsed()) / 1e6);
    std::fflush(stdout);
    if (parser.isSet("first-frame")) QTimer::singleShot(0, &app, &QCoreApplication::quit);
  });

  if (parser.isSet("flip")) {
    QQuickItem* box = Find(window, "MainBox");
    box->setProperty("rotateAngleY", parser.value("flip").toDouble());
    box->setProperty("positionZ", 300);
  }

  // Xvfb's pointer starts in the middle of the screen, over the window: park it outside so no
  // hover state shows unless asked for.
  QCursor::setPos(0, 0);
  if (parser.isSet("hover-seek")) {
    QTimer::singleShot(500, &app, [&] { PointAt(Find(window, "tbrmain"), QPointF(100, 8)); });
  }
  if (parser.isSet("hover")) {
    QTimer::singleShot(500, &app, [&] {
      QQuickItem* item = Find(window, qPrintable(parser.value("hover")));
      if (item) PointAt(item, QPointF(item->width() / 2, item->height() / 2));
    });
  }
  if (parser.isSet("hover-row")) {
    QTimer::singleShot(500, &app, [&] {
      const char* list = parser.value("tab") == QLatin1String("1") ? "lstRndMusic" : "lstDefault";
      PointAt(Find(window, list), QPointF(60, 25 * parser.value("hover-row").toInt() + 12));
    });
  }

  const int face = parser.value("face").toInt();
  if (face == 1 || face == 2) {
    QTimer::singleShot(1100, &app, [&stand, face] {
      stand.face = face;
      emit stand.faceChanged();
    });
  }

  if (parser.isSet("screenshot")) {
    const QString out = parser.value("screenshot");
    // Long enough for the fade-in and for the face's sequence (the mini one takes 1.7 s).
    const int delay = face == 2 ? 3400 : face == 1 ? 2200 : 1600;
    QTimer::singleShot(delay, &app, [&, out] {
      const QImage image = window->grabWindow();
      const bool saved = image.save(out);
      std::printf("%s %s (%dx%d)\n", saved ? "saved" : "could not save", qPrintable(out), image.width(),
                  image.height());
      app.exit(saved ? 0 : 1);
    });
  }

  int idleFrames = -1;
  if (parser.isSet("idle")) {
    // A scene at rest must not draw: every frame here is wasted CPU while a song plays.
    QTimer::singleShot(1500, &app, [&] {
      idleFrames = 0;
      QObject::connect(window, &QQuickWindow::frameSwapped, &app, [&] { ++idleFrames; });
      QTimer::singleShot(2000, &app, [&] {
        std::printf("idle: %d frames in 2 s\n", idleFrames);
        app.exit(idleFrames == 0 ? 0 : 1);
      });
    });
  }

  std::vector<double> frameMs;
  QElapsedTimer frameClock;
  if (bench) {
    QTimer::singleShot(1200, &app, [&] {
      auto* list = Find(window, "lstDefault");
      if (!list) {
        app.exit(1);
        return;
      }
      frameClock.start();
      QObject::connect(window, &QQuickWindow::frameSwapped, &app, [&, list] {
        frameMs.push_back(static_cast<double>(frameClock.nsecsElapsed()) / 1e6);
        frameClock.restart();
        const double y = list->property("contentY").toDouble() + 40;
        const double end = list->property("contentHeight").toDouble() - list->height();
        if (y >= end || frameMs.size() >= 2000) {
          double sum = 0, worst = 0;
          for (size_t i = 1; i < frameMs.size(); ++i) {
            sum += frameMs[i];
            worst = std::max(worst, frameMs[i]);
          }
          const double n = static_cast<double>(frameMs.size() - 1);
          std::printf("scroll: %zu frames, mean %.2f ms, worst %.2f ms\n", frameMs.size() - 1, sum / n, worst);
          app.exit(0);
          return;
        }
        list->setProperty("contentY", y);
      });
      window->update();
    });
  }

  // The face sequences one after the other, each given time to finish; the frames drawn while each
  // runs are timed.
  struct Run {
    const char* name;
    int face;
    int ms;
    std::vector<double> frames;
  };
  std::vector<Run> runs{{"settings flip", 1, 600, {}}, {"flip back", 0, 600, {}}, {"mini mode", 2, 1700, {}},
                        {"mini back", 0, 1700, {}}};
  size_t current = 0;
  QElapsedTimer faceClock;
  std::function<void()> nextRun;
  if (parser.isSet("bench-faces")) {
    QObject::connect(window, &QQuickWindow::frameSwapped, &app, [&] {
      if (current >= runs.size() || !faceClock.isValid()) return;
      runs[current].frames.push_back(static_cast<double>(faceClock.nsecsElapsed()) / 1e6);
    });
    nextRun = [&] {
      if (current >= runs.size()) {
        for (const Run& run : runs) {
          double worst = 0, sum = 0;
          for (size_t i = 1; i < run.frames.size(); ++i) {
            const double gap = run.frames[i] - run.frames[i - 1];
            worst = std::max(worst, gap);
            sum += gap;
          }
          const double n = run.frames.size() > 1 ? static_cast<double>(run.frames.size() - 1) : 1;
          std::printf("%-14s %3zu frames, mean %.2f ms, worst %.2f ms\n", run.name, run.frames.size(), sum / n, worst);
        }
        app.exit(0);
        return;
      }
      stand.face = runs[current].face;
      faceClock.start();
      emit stand.faceChanged();
      QTimer::singleShot(runs[current].ms, &app, [&] {
        faceClock.invalidate();
        ++current;
        QTimer::singleShot(300, &app, nextRun);
      });
    };
    QTimer::singleShot(1500, &app, nextRun);
  }

  return app.exec();
}
