#pragma once
// TNimDlrcButton: the desktop-lyrics toolbar. A frameless, always-on-top, non-activating tool window
// as wide as the lyrics window, starting 59 px above it and overlapping its upper part: a strip of
// five buttons (half a second back, half a second forward, karaoke wipe, manual search, close) on a
// gradient bar, and below it a transparent area over the lyric text. Dragging either moves the
// toolbar and the lyrics window together.
//
// It shows when the pointer is over the lyric text and hides one to three seconds after the pointer
// has left both windows: tmr_ck starts tmr_hide every 2 s, tmr_hide hides the toolbar, and pointer
// movement over either window stops tmr_hide again. tmr_ck runs only while the toolbar is shown, so
// a hidden toolbar wakes nobody.
//
// The scene (DlrcButton.qml) is created the first time the toolbar shows. Only the window's input
// mask, the strip and the area below it take the pointer; elsewhere it passes to what lies below.
// Main thread only.

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QTimer>
#include <functional>
#include <memory>

class QQmlEngine;
class QQuickWindow;

namespace orvane::lyrics {

class TNimDeskTopLrc;

class TNimDlrcButton : public QObject {
  Q_OBJECT
  Q_PROPERTY(QRect strip READ Strip NOTIFY geometryChanged)
  Q_PROPERTY(QRect dragArea READ DragArea NOTIFY geometryChanged)
  Q_PROPERTY(bool karaoke READ Karaoke NOTIFY karaokeChanged)

 public:
  // Designed client size; the placement gives the real one.
  static constexpr int DesignWidth = 585;
  static constexpr int DesignHeight = 159;
  static constexpr int LayoutHeight = 55;  // Layout1: the band that holds the strip
  static constexpr int StripWidth = 305;   // Rectangle1
  static constexpr int StripHeight = 35;

  // What the buttons do; each may be empty.
  struct THandlers {
    std::function<void()> Back;     // btnBreak5: lines half a second later
    std::function<void()> Forward;  // BitmapButton2: lines half a second earlier
    std::function<void()> Search;   // BitmapButton4: the lyric search dialog
    std::function<void()> Close;    // BitmapButton3: desktop lyrics off
    std::function<void()> Karaoke;  // the karaoke wipe on or off
  };

  // engine gives the engine for the scene when it is first needed (null: no scene).
  TNimDlrcButton(TNimDeskTopLrc& lyrics, std::function<QQmlEngine*()> engine, THandlers handlers);
  ~TNimDlrcButton() override;

  // Placement for a lyrics window at lyricsGeometry: 59 px higher, as wide, 34 px taller.
  static QRect PlacementFor(const QRect& lyricsGeometry);
  // Rectangle1, the strip, centred in the top band; Rectangle2, the area below that band.
  static QRect StripFor(QSize toolbar);
  static QRect DragAreaFor(QSize toolbar);
  // What the toolbar window is: the strip and the area below it; without a compositor the strip
  // alone, since the area's transparent pixels would cover the lyric with black.
  static QRegion ShapeFor(QSize toolbar, bool composited);
  QRect Strip() const { return StripFor(geometry.size()); }
  QRect DragArea() const { return DragAreaFor(geometry.size()); }
  QRect Geometry() const { return geometry; }

  // The pointer is over the lyric text: show (placed against the lyrics window) and keep showing.
  void ShowFromLyrics();
  // Hides the toolbar.
  void Close();
  bool IsVisible() const { return visible; }

  // The state of the karaoke button.
  void SetKaraoke(bool on);
  bool Karaoke() const { return karaoke; }

  void tmr_ckTimer();
  void tmr_hideTimer();
  const QTimer& tmr_ck() const { return ckTimer; }
  const QTimer& tmr_hide() const { return hideTimer; }

  // ---- Called by the scene.
  // Pointer movement over the strip or the area below it, and whether the pointer is inside them.
  Q_INVOKABLE void PointerMoved();
  Q_INVOKABLE void SetPointerInside(bool inside);
  // Dragging on Rectangle1 or Rectangle2: x, y where the button went down, in toolbar coordinates.
  Q_INVOKABLE void Rectangle1MouseDown(int button, double x, double y);
  Q_INVOKABLE void Rectangle1MouseMove();
  Q_INVOKABLE void Rectangle1MouseUp(int button);
  Q_INVOKABLE void btn_b5Click();
  Q_INVOKABLE void btn_f5Click();
  Q_INVOKABLE void btn_shClick();
  Q_INVOKABLE void btn_closeClick();
  Q_INVOKABLE void btn_karaokeClick();

  bool Dragging = false;
  int DownX = 0;
  int DownY = 0;

  // The window, once shown (null before).
  QQuickWindow* Window() const { return window.get(); }

 signals:
  void geometryChanged();
  void karaokeChanged();

 private:
  void EnsureWindow();
  void SetGeometry(const QRect& rect);

  TNimDeskTopLrc& lyrics;
  std::function<QQmlEngine*()> engine;
  THandlers handlers;
  std::unique_ptr<QQuickWindow> window;
  QRect geometry;
  bool visible = false;
  bool karaoke = false;
  bool composited = true;  // a compositor ran when the toolbar was last shown
  bool pointerInside = false;
  QTimer ckTimer;    // tmr_ck
  QTimer hideTimer;  // tmr_hide
  // Where a drag began: the pointer on the screen and both windows' positions.
  QPoint dragPointer;
  QPoint dragToolbar;
  QPoint dragLyrics;
};

}  // namespace orvane::lyrics
