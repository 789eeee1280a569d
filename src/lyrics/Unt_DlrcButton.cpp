#include "lyrics/Unt_DlrcButton.h"

#include <QCursor>
#include <QQuickWindow>
#include <QRegion>
#include <algorithm>
#include <cmath>

#include "desktop/Compositor.h"
#include "desktop/WindowClass.h"
#include "lyrics/SceneWindow.h"
#include "lyrics/Unt_Dlrc.h"

namespace orvane::lyrics {
namespace {

constexpr int kAboveLyrics = 59;  // the toolbar's top above the lyrics window's
constexpr int kTallerThanLyrics = 34;
constexpr int kCheckMs = 2000;    // tmr_ck
constexpr int kHideMs = 1000;     // tmr_hide

void Call(const std::function<void()>& handler) {
  if (handler) handler();
}

}  // namespace

TNimDlrcButton::TNimDlrcButton(TNimDeskTopLrc& lyrics, std::function<QQmlEngine*()> engine, THandlers handlers)
    : lyrics(lyrics), engine(std::move(engine)), handlers(std::move(handlers)) {
  ckTimer.setInterval(kCheckMs);
  connect(&ckTimer, &QTimer::timeout, this, &TNimDlrcButton::tmr_ckTimer);
  hideTimer.setInterval(kHideMs);
  connect(&hideTimer, &QTimer::timeout, this, &TNimDlrcButton::tmr_hideTimer);
  geometry = PlacementFor(lyrics.geometry());
}

// The scene's items go before the window that holds them.
TNimDlrcButton::~TNimDlrcButton() = default;

QRect TNimDlrcButton::PlacementFor(const QRect& lyricsGeometry) {
  return QRect(lyricsGeometry.left(), lyricsGeometry.top() - kAboveLyrics, lyricsGeometry.width(),
               lyricsGeometry.height() + kTallerThanLyrics);
}

QRect TNimDlrcButton::StripFor(QSize toolbar) {
  return QRect((toolbar.width() - StripWidth) / 2, (LayoutHeight - StripHeight) / 2, StripWidth, StripHeight);
}

QRect TNimDlrcButton::DragAreaFor(QSize toolbar) {
  return QRect(0, LayoutHeight, toolbar.width(), std::max(0, toolbar.height() - LayoutHeight));
}

QRegion TNimDlrcButton::ShapeFor(QSize toolbar, bool composited) {
  QRegion shape(StripFor(toolbar));
  if (composited) shape += QRegion(DragAreaFor(toolbar));
  return shape;
}

void TNimDlrcButton::EnsureWindow() {
  if (window) return;
  QQmlEngine* scene = engine ? engine() : nullptr;
  if (scene) window = CreateSceneWindow(*scene, QStringLiteral("DlrcButton.qml"), this);
  else window = std::make_unique<QQuickWindow>();
  window->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                   Qt::NoDropShadowWindowHint);
  window->setProperty("_q_showWithoutActivating", true);
  window->setTitle(QStringLiteral("Orvane 桌面歌词操作"));
  window->setGeometry(geometry);
  window->create();
  desktop::SetWindowClass(window.get(), "Orvane 桌面歌词操作");
}

void TNimDlrcButton::SetGeometry(const QRect& rect) {
  const bool resized = rect.size() != geometry.size();
  geometry = rect;
  if (window) {
    window->setGeometry(rect);
    if (resized) window->setMask(ShapeFor(rect.size(), composited));
  }
  if (resized) emit geometryChanged();
}

void TNimDlrcButton::ShowFromLyrics() {
  hideTimer.stop();
  if (visible) return;
  EnsureWindow();
  // Against the lyrics window where it is now, which may have been dragged since.
  SetGeometry(PlacementFor(lyrics.geometry()));
  composited = desktop::CompositorRunning();  // one may have started or stopped since last time
  window->setMask(ShapeFor(geometry.size(), composited));
  window->show();
  visible = true;
  if (!ckTimer.isActive()) ckTimer.start();
}

void TNimDlrcButton::Close() {
  hideTimer.stop();
  ckTimer.stop();
  Dragging = false;
  pointerInside = false;
  if (!visible) return;
  visible = false;
  if (window) window->hide();
}

void TNimDlrcButton::SetKaraoke(bool on) {
  if (on == karaoke) return;
  karaoke = on;
  emit karaokeChanged();
}

void TNimDlrcButton::tmr_ckTimer() { hideTimer.start(); }

// A pointer resting over the toolbar sends no movement, yet it has not left: the toolbar stays.
void TNimDlrcButton::tmr_hideTimer() {
  if (pointerInside || Dragging) {
    hideTimer.stop();
    return;
  }
  Close();
}

void TNimDlrcButton::PointerMoved() { hideTimer.stop(); }

void TNimDlrcButton::SetPointerInside(bool inside) {
  pointerInside = inside;
  if (inside) hideTimer.stop();
}

// The drag follows the pointer's position on the screen, not the event's position in the window:
// while the window is being moved, events still on their way are relative to where it was.
void TNimDlrcButton::Rectangle1MouseDown(int button, double x, double y) {
  if (button != Qt::LeftButton) return;
  DownX = static_cast<int>(std::lround(x));
  DownY = static_cast<int>(std::lround(y));
  Dragging = true;
  dragPointer = QCursor::pos();
  dragToolbar = geometry.topLeft();
  dragLyrics = lyrics.pos();
}

void TNimDlrcButton::Rectangle1MouseMove() {
  hideTimer.stop();
  if (!Dragging) return;
  const QPoint offset = QCursor::pos() - dragPointer;
  SetGeometry(QRect(dragToolbar + offset, geometry.size()));
  lyrics.move(dragLyrics + offset);
}

void TNimDlrcButton::Rectangle1MouseUp(int button) {
  if (button == Qt::LeftButton) Dragging = false;
}

void TNimDlrcButton::btn_b5Click() { Call(handlers.Back); }
void TNimDlrcButton::btn_f5Click() { Call(handlers.Forward); }
void TNimDlrcButton::btn_shClick() { Call(handlers.Search); }
void TNimDlrcButton::btn_closeClick() { Call(handlers.Close); }
void TNimDlrcButton::btn_karaokeClick() { Call(handlers.Karaoke); }

}  // namespace orvane::lyrics
