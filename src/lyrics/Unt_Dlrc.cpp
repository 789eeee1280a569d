#include "lyrics/Unt_Dlrc.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>

#include "desktop/WindowClass.h"
#include "lyrics/OutlinedText.h"

namespace orvane::lyrics {
namespace {

// The window takes input only where something is painted: every pixel with any alpha.
QRegion PaintedRegion(const QImage& image) {
  QImage mask(image.size(), QImage::Format_MonoLSB);
  mask.fill(0);
  for (int y = 0; y < image.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    uchar* bits = mask.scanLine(y);
    for (int x = 0; x < image.width(); ++x)
      if (qAlpha(line[x]) != 0) bits[x >> 3] |= static_cast<uchar>(1u << (x & 7));
  }
  QRegion region(QBitmap::fromImage(mask));
  // An empty mask would mean "no mask" (the whole window taking input); keep one corner pixel instead.
  return region.isEmpty() ? QRegion(0, 0, 1, 1) : region;
}

}  // namespace

TNimDeskTopLrc::TNimDeskTopLrc(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint) {
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setWindowTitle(QStringLiteral("Orvane 桌面歌词"));
  desktop::SetWindowClass(this, "Orvane 桌面歌词");
  resize(DesignWidth, DesignHeight);
  PlaceOnScreen(QGuiApplication::primaryScreen());
}

QRect TNimDeskTopLrc::PlacementFor(const QRect& screenGeometry, const QRect& availableGeometry, int height) {
  const int width = screenGeometry.width() - 50;
  // Right above a panel at the bottom: the window's bottom edge is the work area's.
  const int top = availableGeometry.top() + availableGeometry.height() - height;
  return QRect(screenGeometry.left() + 25, top, width, height);
}

void TNimDeskTopLrc::PlaceOnScreen(QScreen* screen) {
  if (!screen) return;
  setGeometry(PlacementFor(screen->geometry(), screen->availableGeometry(), height()));
  if (!shownText.empty()) Render();
}

void TNimDeskTopLrc::ShowText(const std::string& text) {
  if (text == shownText) return;
  shownText = text;
  Render();
}

void TNimDeskTopLrc::Render() {
  QImage drawn = RenderOutlinedText(width(), height(), shownText, FontName, FontSize, FillTopColour,
                                    FillBottomColour, OutlineColour, WindowAlpha);
  if (drawn.isNull()) return;  // the window keeps its previous picture
  picture = std::move(drawn);
  ++drawCount;
  setMask(PaintedRegion(picture));
  update();
}

void TNimDeskTopLrc::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.drawImage(event->rect(), picture, event->rect());
}

}  // namespace orvane::lyrics
