#pragma once
// The application object. An exception that escapes an event handler (a click, a timer, a queued
// call) is dropped here, silently, and the player goes on: the rest of that handler is skipped.

#include <QApplication>

namespace orvane::app {

class OrvaneApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override;
  // ApplicationEventsException: does nothing, by design.
  static void ApplicationEventsException() {}
};

}  // namespace orvane::app
