#include "app/OrvaneApplication.h"

namespace orvane::app {

bool OrvaneApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ApplicationEventsException();
    return false;
  }
}

}  // namespace orvane::app
