#pragma once
// The Qt application object and event-loop helpers the engine and song-cache tests need: their
// hand-offs to the main thread are queued calls, delivered only while events are processed.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

namespace orvane::test {

inline QCoreApplication& QtApp() {
  static int argc = 1;
  static char name[] = "orvane-audio-test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

// Processes events until done() holds or timeoutMs passes; returns done().
inline bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs) {
  QtApp();
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

// Processes events for ms milliseconds.
inline void ProcessEventsFor(int ms) {
  ProcessEventsUntil([] { return false; }, ms);
}

}  // namespace orvane::test
