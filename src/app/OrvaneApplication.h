#pragma once
// The application object. An exception that escapes an event handler (a click, a timer, a queued
// call) is dropped here, silently, and the player goes on: the rest of that handler is skipped.

#include <QApplication>
#include <functional>

class QWindow;

namespace orvane::app {

class OrvaneApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override;
  // ApplicationEventsException: does nothing, by design.
  static void ApplicationEventsException() {}
};

// Calls end once the main window itself is closed (the window manager's close, accepted), and on
// nothing else. Other windows coming and going never end the player: a file dialog opened from the
// tray while the main window is hidden is the last visible window when it closes, and Qt's
// lastWindowClosed would then fire although the user only cancelled a dialog. The watcher belongs
// to the window.
void EndWhenMainWindowCloses(QWindow* window, std::function<void()> end);

}  // namespace orvane::app
