#include "lyrics/Unt_Dlrc.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "desktop/WindowClass.h"
#include "lyrics/OutlinedText.h"

namespace orvane::lyrics {
namespace {

// The window takes input only where something is painted: every pixel with any alpha. Only the
// painted rectangle can hold such pixels.
QRegion PaintedRegion(const QImage& image, const QRect& painted) {
  QRegion region;
  if (!painted.isEmpty()) {
    QImage mask(painted.size(), QImage::Format_MonoLSB);
    // A new 1-bit image says 0 is black and 1 white, which QBitmap reads the other way round (the
    // region would be the gaps between the glyphs); bit 1 must be Qt::color1, which is black.
    mask.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    mask.fill(0);
    for (int y = 0; y < painted.height(); ++y) {
      const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(painted.top() + y)) + painted.left();
      uchar* bits = mask.scanLine(y);
      for (int x = 0; x < painted.width(); ++x)
        if (qAlpha(line[x]) != 0) bits[x >> 3] |= static_cast<uchar>(1u << (x & 7));
    }
    region = QRegion(QBitmap::fromImage(mask)).translated(painted.topLeft());
  }
  // An empty mask would mean "no mask" (the whole window taking input); keep one corner pixel instead.
  return region.isEmpty() ? QRegion(0, 0, 1, 1) : region;
}

double LineWidth(const TPictureLine& line) {
  return line.CursorX.empty() ? 0 : line.CursorX.back() - line.CursorX.front();
}

}  // namespace

TNimDeskTopLrc::TNimDeskTopLrc(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint) {
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setMouseTracking(true);  // movement over the text shows the toolbar
  // Window identity.
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
  timing.reset();  // a timing belongs to the line it came with
  Render();
}

// With karaoke on, the sung picture is drawn along: the same glyphs at the same places, only
// another fill, so the wipe can show either picture on either side of its boundary.
void TNimDeskTopLrc::Render() {
  const std::optional<TFill> sungFill = karaoke ? std::optional(TFill{SungTopColour, SungBottomColour}) : std::nullopt;
  TOutlinedText drawn = RenderOutlinedTextLines(width(), height(), shownText, FontName, FontSize, FillTopColour,
                                                FillBottomColour, OutlineColour, WindowAlpha, sungFill);
  if (drawn.Image.isNull()) return;  // the window keeps its previous picture
  picture = std::move(drawn.Image);
  sungPicture = std::move(drawn.SecondImage);
  lines = std::move(drawn.Lines);
  // What changed on screen: where the old line was and where the new one is.
  const QRect dirty = painted | drawn.Painted;
  painted = drawn.Painted;
  ++drawCount;
  UpdateKnots();
  // The mask goes on the native window: it takes input only on the text, and the text's
  // transparent surroundings show nothing anyway. A mask on the widget would also clip every
  // repaint to its hundreds of rectangles, which costs Qt's raster engine several times the
  // drawing itself and wakes its thread pool.
  const QRegion mask = PaintedRegion(picture, painted);
  if (QWindow* window = windowHandle()) window->setMask(mask);
  else setMask(mask);
  if (!dirty.isEmpty()) update(dirty);
}

void TNimDeskTopLrc::SetKaraoke(bool on) {
  if (on == karaoke) return;
  karaoke = on;
  if (!on) sungPicture = QImage();
  else if (!shownText.empty()) sungPicture = RenderOutlinedTextLines(width(), height(), shownText, FontName, FontSize,
                                                                     SungTopColour, SungBottomColour, OutlineColour,
                                                                     WindowAlpha).Image;
  UpdateKnots();
  update();
}

void TNimDeskTopLrc::SetLineTiming(const std::optional<TLineTiming>& lineTiming) {
  if (lineTiming == timing) return;
  timing = lineTiming;
  UpdateKnots();
}

// The wipe's path through the picture for the current timing: advances are pixels along the
// picture's lines laid end to end, and a word stamp's byte offset maps to the cursor position of
// the character it stands before.
void TNimDeskTopLrc::UpdateKnots() {
  knots.clear();
  if (karaoke && timing && !lines.empty()) {
    double total = 0;
    for (const TPictureLine& line : lines) total += LineWidth(line);
    const auto advanceAt = [this](uint32_t byteOffset) {
      const int index = static_cast<int>(PictureText(shownText.substr(0, std::min<size_t>(byteOffset, shownText.size()))).size());
      double before = 0;
      for (const TPictureLine& line : lines) {
        const int last = line.Start + static_cast<int>(line.CursorX.size()) - 1;
        if (index <= last) return before + (line.CursorX[static_cast<size_t>(std::max(0, index - line.Start))] -
                                             line.CursorX.front());
        before += LineWidth(line);
      }
      return before;
    };
    if (total > 0) knots = WipeKnots(*timing, total, advanceAt);
  }
  MoveBoundary(knots.empty() ? TWipeBoundary{} : BoundaryAt(WipeAdvance(knots, sungPosition)));
}

void TNimDeskTopLrc::SetSungPosition(int32_t positionMs) {
  sungPosition = positionMs;
  if (knots.empty()) return;
  MoveBoundary(BoundaryAt(WipeAdvance(knots, positionMs)));
}

TNimDeskTopLrc::TWipeBoundary TNimDeskTopLrc::BoundaryAt(double advance) const {
  if (advance <= 0) return {};
  double before = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const double width = LineWidth(lines[i]);
    if (advance < before + width) {
      const double x = lines[i].CursorX.front() + (advance - before);
      return {static_cast<int>(i), static_cast<int>(std::lround(x))};
    }
    before += width;
  }
  return {static_cast<int>(lines.size()), 0};
}

QRect TNimDeskTopLrc::BandRect(int line) const {
  if (line < 0 || line >= static_cast<int>(lines.size())) return {};
  const TPictureLine& band = lines[static_cast<size_t>(line)];
  return QRect(0, band.Top, width(), band.Bottom - band.Top);
}

// Repaints only what changed: the strip between the two boundaries on one line, or the bands of
// the lines the boundary crossed.
void TNimDeskTopLrc::MoveBoundary(TWipeBoundary to) {
  if (to == boundary) return;
  const TWipeBoundary from = boundary;
  boundary = to;
  if (from.Line == to.Line) {
    const QRect band = BandRect(to.Line);
    update(QRect(std::min(from.X, to.X), band.top(), std::abs(to.X - from.X), band.height()));
    return;
  }
  QRect dirty;
  for (int line = std::min(from.Line, to.Line); line <= std::max(from.Line, to.Line); ++line) dirty |= BandRect(line);
  update(dirty);
}

void TNimDeskTopLrc::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.drawImage(event->rect(), picture, event->rect());
  if (!Wiping() || sungPicture.isNull()) return;
  // Both pictures cover the same pixels, so the sung one simply replaces the unsung one.
  for (int line = 0; line <= boundary.Line && line < static_cast<int>(lines.size()); ++line) {
    QRect sung = BandRect(line);
    if (line == boundary.Line) sung.setRight(boundary.X - 1);
    sung &= event->rect();
    if (!sung.isEmpty()) painter.drawImage(sung, sungPicture, sung);
  }
}

void TNimDeskTopLrc::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  emit pointerOverText();
}

void TNimDeskTopLrc::mouseMoveEvent(QMouseEvent* event) {
  QWidget::mouseMoveEvent(event);
  emit pointerOverText();
}

}  // namespace orvane::lyrics
