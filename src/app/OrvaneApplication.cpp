#include "app/OrvaneApplication.h"

#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWindow>

namespace orvane::app {

bool OrvaneApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ApplicationEventsException();
    return false;
  }
}

namespace {

class TMainWindowCloseWatch : public QObject {
 public:
  TMainWindowCloseWatch(QWindow* window, std::function<void()> end) : QObject(window), end(std::move(end)) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Close) return false;
    // Whether the close was accepted shows once the window has handled it: an accepted close
    // destroys the native window, while hiding to the tray keeps it.
    QPointer<QWindow> window = qobject_cast<QWindow*>(watched);
    QTimer::singleShot(0, this, [this, window] {
      if (window && !window->handle() && end) end();
    });
    return false;
  }

 private:
  std::function<void()> end;
};

}  // namespace

void EndWhenMainWindowCloses(QWindow* window, std::function<void()> end) {
  if (!window) return;
  window->installEventFilter(new TMainWindowCloseWatch(window, std::move(end)));
}

}  // namespace orvane::app
