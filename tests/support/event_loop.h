#pragma once
// Event-loop helpers for tests of code that hands results to the main thread through queued calls,
// which are delivered only while events are processed. The test makes the application object.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

namespace orvane::test {

// Processes events until done() holds or timeoutMs passes; returns done().
inline bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
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
