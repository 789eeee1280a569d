#pragma once
// Screenshots of the running player for headless demonstration runs: after a delay, the main
// window and the desktop lyrics are written as PNG files, their paths printed, and the player
// closes (saving as "退出" does).

#include <string>

class QQuickWindow;

namespace orvane::app {

class TNimMain;

struct ScreenshotRequest {
  std::string Folder;  // empty: no screenshots
  int DelayMs = 6000;
};

void ScheduleScreenshots(const ScreenshotRequest& request, TNimMain& window, QQuickWindow* scene);

}  // namespace orvane::app
