// Benchmark program for scripts/bench/desktop_lyrics.sh (not a test): how long the lyric search
// dialog takes to open, from the toolbar's click to the dialog's first frame on the screen. The
// toolbar has been shown before (the user hovered over the lyric to reach its button), so the
// lyric windows' scene engine exists, as it does in the player. Needs a display; prints figures.
#include <QApplication>
#include <QElapsedTimer>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "lyrics/LrcClass.h"
#include "lyrics/Unt_Dlrc.h"
#include "lyrics/Unt_DlrcButton.h"
#include "lyrics/Unt_Slrc.h"

namespace {

using namespace orvane::lyrics;

bool WaitFor(QApplication& app, const bool& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done && clock.elapsed() < timeoutMs) app.processEvents(QEventLoop::AllEvents, 5);
  return done;
}

}  // namespace

int main(int argc, char** argv) {
  // Drawn as the player draws its scenes.
  QQuickWindow::setDefaultAlphaBuffer(true);
  QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
  QApplication app(argc, argv);

  QElapsedTimer clock;
  clock.start();
  auto engine = std::make_unique<QQmlEngine>();
  const double engineMs = clock.nsecsElapsed() / 1e6;

  TNimDeskTopLrc lyrics;
  lyrics.show();
  TNimDlrcButton toolbar(lyrics, [&engine] { return engine.get(); }, {});
  clock.restart();
  toolbar.ShowFromLyrics();
  bool toolbarDrawn = false;
  QObject::connect(toolbar.Window(), &QQuickWindow::frameSwapped, [&toolbarDrawn] { toolbarDrawn = true; });
  WaitFor(app, toolbarDrawn, 5000);
  const double toolbarMs = clock.nsecsElapsed() / 1e6;

  TLrcClass doc;
  auto open = [&]() -> double {
    TNimSlrc::TServices services;
    services.LrcDoc = &doc;
    services.CurrentTrack = [] { return TLyricTrack{0, "/music/晴天.mp3", "晴天", "周杰伦"}; };
    services.LyricFolder = [] { return std::string("/nonexistent"); };
    services.SceneEngine = [&engine] { return engine.get(); };
    QElapsedTimer opening;
    opening.start();
    TNimSlrc dialog(std::move(services));
    dialog.SetTitle(QStringLiteral("晴天"));
    dialog.SetSinger(QStringLiteral("周杰伦"));
    dialog.Show();
    bool drawn = false;
    QObject::connect(dialog.Window(), &QQuickWindow::frameSwapped, [&drawn] { drawn = true; });
    if (!WaitFor(app, drawn, 5000)) return -1;
    const double ms = opening.nsecsElapsed() / 1e6;
    dialog.Close();
    app.processEvents();
    return ms;
  };

  const double first = open();
  std::vector<double> later;
  for (int i = 0; i < 15; ++i) later.push_back(open());
  std::sort(later.begin(), later.end());
  std::printf("lyric windows' scene engine made in %.1f ms; toolbar shown and drawn in %.1f ms\n", engineMs, toolbarMs);
  std::printf("search dialog, click to first frame: first open %.1f ms; later opens median %.1f ms (min %.1f, max %.1f, %zu runs)"
              "  [target <= 100 ms]\n",
              first, later[later.size() / 2], later.front(), later.back(), later.size());
  return first < 0 ? 1 : 0;
}
