#include "lyrics/OutlinedText.h"

#include <QFontDatabase>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace orvane::lyrics {
namespace {

constexpr qreal kTop = 5;           // the layout rectangle starts 5 px below the image's top
constexpr qreal kOutlineWidth = 3;  // px
// Lines are laid out on the em box, as the Windows layout did with its CJK fonts: an ideograph
// fills the box from 0.88 em above the baseline (the CJK fonts' typographic ascender) to 0.12 em
// below, and lines follow each other one em apart. So the first line's ideographs span exactly the
// gradient band, y 5 to 5 + P. Qt's own line ascent leaves room for taller scripts (1.16 em in
// Noto Sans CJK) and would push the text half out of its gradient.
constexpr qreal kEmAscent = 0.88;

QColor FromWindowsColour(uint32_t value) {
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF), 255);
}

}  // namespace

// Line breaks inside a lyric line end a line of the picture, as the Windows text layout did.
QString PictureText(const std::string& utf8) {
  QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
  text.replace(QStringLiteral("\r\n"), QString(QChar::LineSeparator));
  text.replace(QChar('\r'), QChar::LineSeparator);
  text.replace(QChar('\n'), QChar::LineSeparator);
  return text;
}

namespace {

QFont LyricFont(const std::string& fontName, int P) {
  QFont font(QString::fromStdString(ResolveLyricFontFamily(fontName)));
  font.setPixelSize(P);  // em height P px
  font.setBold(true);
  return font;
}

// The Windows string layout keeps 1/6 em free at both ends of every line so overhanging glyphs are
// not cut; the wrap width leaves the same room.
qreal WrapWidth(const QFont& font, int W) { return std::max<qreal>(1, W - 2 * (font.pixelSize() / 6.0)); }

void StartLayout(QTextLayout& layout) {
  QTextOption option(Qt::AlignHCenter);
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
}

// Glyph outlines of the text, each line centred in the width W and wrapped, the first line box
// starting at y 5.
QPainterPath TextPath(const QString& text, const QFont& font, int W, int H, std::vector<TPictureLine>& lines) {
  QPainterPath path;
  QTextLayout layout(text, font);
  const qreal wrapWidth = WrapWidth(font, W);

  const qreal em = font.pixelSize();
  StartLayout(layout);
  qreal y = 0;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(wrapWidth);
    line.setPosition(QPointF(0, y));
    if (kTop + y >= H) break;  // this line and the rest fall below the image
    QString part = text.mid(line.textStart(), line.textLength());
    part.remove(QChar::LineSeparator);
    const qreal x = (W - line.naturalTextWidth()) / 2;
    path.addText(QPointF(x, kTop + y + kEmAscent * em), font, part);

    TPictureLine placed;
    placed.Start = line.textStart();
    const qreal origin = line.cursorToX(line.textStart());
    for (int i = line.textStart(); i <= line.textStart() + line.textLength(); ++i)
      placed.CursorX.push_back(x + line.cursorToX(i) - origin);
    // Each line owns the rows from its em box's top to the next one's (the first from the image's
    // top), so the outline above and below its glyphs belongs to it too.
    placed.Top = lines.empty() ? 0 : static_cast<int>(kTop + y);
    placed.Bottom = H;
    if (!lines.empty()) lines.back().Bottom = placed.Top;
    lines.push_back(std::move(placed));
    y += em;
  }
  layout.endLayout();
  path.setFillRule(Qt::OddEvenFill);  // the Windows path's "alternate" fill mode
  return path;
}

// Only the painted rectangle has pixels to scale; the rest stays fully transparent.
void ApplyConstantAlpha(QImage& image, const QRect& painted, uint8_t alpha) {
  if (alpha == 255) return;
  for (int y = painted.top(); y <= painted.bottom(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = painted.left(); x <= painted.right(); ++x) {
      const QRgb p = row[x];
      auto scale = [alpha](int c) { return (c * alpha + 127) / 255; };
      row[x] = qRgba(scale(qRed(p)), scale(qGreen(p)), scale(qBlue(p)), scale(qAlpha(p)));
    }
  }
}

// Qt's anti-aliasing rasteriser slows down sharply with the width of one path (its cell pool
// overflows and it reads every edge again for each band), so a line of text is drawn in pieces:
// its outline whole takes 2.5 to 6 ms, in pieces 0.7 to 1.3 ms, its fill 0.5 to 1.5 ms against
// 0.1 to 0.2 ms. The subpaths are taken in order of their left edges, and a piece ends where the
// next one starts at least `clear` right of everything before it, so that the pieces share no
// pixel and draw exactly what the whole path would; a piece that would grow wider than maxWidth
// ends anyway.
std::vector<QPainterPath> Pieces(const QPainterPath& path, qreal clear, qreal maxWidth) {
  std::vector<std::pair<QRectF, QPainterPath>> subpaths;
  for (int i = 0; i < path.elementCount(); ++i) {
    const QPainterPath::Element e = path.elementAt(i);
    if (e.isMoveTo()) {
      subpaths.emplace_back();
      subpaths.back().second.moveTo(e);
    } else if (subpaths.empty()) {
      continue;  // a path always starts with a move; nothing to attach to otherwise
    } else if (e.isLineTo()) {
      subpaths.back().second.lineTo(e);
    } else if (e.isCurveTo() && i + 2 < path.elementCount()) {
      subpaths.back().second.cubicTo(e, path.elementAt(i + 1), path.elementAt(i + 2));
      i += 2;
    }
  }
  for (auto& [box, subpath] : subpaths) box = subpath.boundingRect();
  std::stable_sort(subpaths.begin(), subpaths.end(),
                   [](const auto& a, const auto& b) { return a.first.left() < b.first.left(); });

  std::vector<QPainterPath> pieces;
  QPainterPath piece;
  qreal pieceLeft = 0;                                        // the piece's left edge
  qreal reached = -std::numeric_limits<qreal>::infinity();  // the rightmost edge so far
  for (const auto& [box, subpath] : subpaths) {
    if (!piece.isEmpty() && (box.left() >= reached + clear || std::max(reached, box.right()) - pieceLeft > maxWidth)) {
      pieces.push_back(std::move(piece));
      piece = QPainterPath();
    }
    if (piece.isEmpty()) pieceLeft = box.left();
    reached = std::max(reached, box.right());
    piece.addPath(subpath);
  }
  if (!piece.isEmpty()) pieces.push_back(std::move(piece));
  for (QPainterPath& p : pieces) p.setFillRule(path.fillRule());
  return pieces;
}

}  // namespace

void StrokeInPieces(QPainter& painter, const QPainterPath& path, const QPen& pen, qreal em) {
  // Outlines this far apart share no pixel: half the pen on each side and a pixel of anti-aliasing
  // each (a mitred spike may reach further). Pieces end at two em at most, for the speed; where
  // that cuts between glyphs that touch, a pixel both outlines cover in part is blended instead of
  // unioned: at most a quarter of its alpha apart.
  for (const QPainterPath& piece : Pieces(path, pen.widthF() + 2, 2 * em)) painter.strokePath(piece, pen);
}

void FillInPieces(QPainter& painter, const QPainterPath& path, const QBrush& brush) {
  // A pixel of anti-aliasing on each side; no limit on the width, so a glyph's holes always stay
  // with its outside and the picture is exactly the whole path's.
  for (const QPainterPath& piece : Pieces(path, 2, std::numeric_limits<qreal>::infinity())) painter.fillPath(piece, brush);
}

std::string ResolveLyricFontFamily(const std::string& fontName) {
  const QString requested = QString::fromStdString(fontName);
  const QStringList installed = QFontDatabase::families();
  if (!requested.isEmpty() && installed.contains(requested, Qt::CaseInsensitive)) return fontName;
  const QString preferred = QStringLiteral("Noto Sans CJK SC");
  if (installed.contains(preferred, Qt::CaseInsensitive)) return preferred.toStdString();
  const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
  if (!chinese.isEmpty()) return chinese.front().toStdString();
  return fontName;
}

bool FitsOneLine(int W, const std::string& textUtf8, const std::string& fontName, int P) {
  if (W <= 0 || P <= 0) return false;
  const QFont font = LyricFont(fontName, P);
  QTextLayout layout(PictureText(textUtf8), font);
  StartLayout(layout);
  QTextLine line = layout.createLine();
  if (line.isValid()) line.setLineWidth(WrapWidth(font, W));
  const bool one = line.isValid() && !layout.createLine().isValid();
  layout.endLayout();
  return one;
}

QImage RenderOutlinedText(int W, int H, const std::string& textUtf8, const std::string& fontName, int P,
                          uint32_t fillTopColour, uint32_t fillBottomColour, uint32_t outlineColour,
                          uint8_t constantAlpha) {
  return RenderOutlinedTextLines(W, H, textUtf8, fontName, P, fillTopColour, fillBottomColour, outlineColour,
                                 constantAlpha)
      .Image;
}

TOutlinedText RenderOutlinedTextLines(int W, int H, const std::string& textUtf8, const std::string& fontName, int P,
                                      uint32_t fillTopColour, uint32_t fillBottomColour, uint32_t outlineColour,
                                      uint8_t constantAlpha, std::optional<TFill> secondFill) {
  TOutlinedText out;
  if (W <= 0 || H <= 0) return out;
  QImage& image = out.Image;
  image = QImage(W, H, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  if (textUtf8.empty() || P <= 0) {
    if (secondFill) out.SecondImage = image;
    return out;
  }

  const QFont font = LyricFont(fontName, P);
  const QPainterPath path = TextPath(PictureText(textUtf8), font, W, H, out.Lines);

  auto gradient = [P](uint32_t top, uint32_t bottom) {
    QLinearGradient fill(QPointF(0, kTop), QPointF(0, kTop + P));
    fill.setColorAt(0, FromWindowsColour(top));
    fill.setColorAt(1, FromWindowsColour(bottom));
    fill.setSpread(QGradient::ReflectSpread);  // mirrored above and below the band
    return fill;
  };

  // Miter joins with limit 10, as the Windows pen draws by default.
  QPen pen(FromWindowsColour(outlineColour), kOutlineWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
  pen.setMiterLimit(10);

  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    StrokeInPieces(painter, path, pen, P);
  }
  // The outline is most of the drawing's cost; a second picture shares it and differs only in its fill.
  if (secondFill) {
    out.SecondImage = image.copy();
    QPainter painter(&out.SecondImage);
    painter.setRenderHint(QPainter::Antialiasing);
    FillInPieces(painter, path, gradient(secondFill->Top, secondFill->Bottom));
  }
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    FillInPieces(painter, path, gradient(fillTopColour, fillBottomColour));
  }

  // The outline reaches half its width beyond the glyphs, and anti-aliasing one pixel more.
  const int reach = static_cast<int>(std::ceil(kOutlineWidth / 2)) + 1;
  out.Painted = path.boundingRect().toAlignedRect().adjusted(-reach, -reach, reach, reach) & image.rect();
  ApplyConstantAlpha(image, out.Painted, constantAlpha);
  if (secondFill) ApplyConstantAlpha(out.SecondImage, out.Painted, constantAlpha);
  return out;
}

}  // namespace orvane::lyrics
