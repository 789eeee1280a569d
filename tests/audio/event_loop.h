#pragma once
// The Qt application object the engine and song-cache tests need (their hand-offs to the main
// thread are queued calls), and the shared event-loop helpers.

#include <QCoreApplication>

#include "support/event_loop.h"

namespace orvane::test {

inline QCoreApplication& QtApp() {
  static int argc = 1;
  static char name[] = "orvane-audio-test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

}  // namespace orvane::test
