#pragma once
// Screenshots of the running player for headless demonstration runs: after a delay, the main
// window and the desktop lyrics, then the settings page and the mini tile (each once its animation
// is over) are written as PNG files (orvane-main.png, orvane-lyrics.png, orvane-settings.png,
// orvane-mini.png, with the request's suffix before ".png"), their paths printed, and the player
// closes (saving as "退出" does). With ORVANE_SCREENSHOT_SCREEN=1 the display is photographed too
// (the lyric toolbar, the settings flip under way and the settings page: "-screen" pictures), to
// see the windows as the desktop shows them, with or without a compositor.

#include <string>

class QQuickWindow;

namespace orvane::app {

class TNimMain;

struct ScreenshotRequest {
  std::string Folder;  // empty: no screenshots
  int DelayMs = 6000;
  std::string NameSuffix;  // after "orvane-main" and "orvane-lyrics": "-en" for the English interface
};

void ScheduleScreenshots(const ScreenshotRequest& request, TNimMain& window, QQuickWindow* scene);

// For the start-up benchmark: at the first frame shown, prints the wall-clock time
// ("first-frame-ns=…", CLOCK_REALTIME) and the peak memory so far ("vmhwm-kb=…"), then ends the
// process at once, saving nothing.
void ReportFirstFrame(QQuickWindow* scene);

}  // namespace orvane::app
