#pragma once
// The desktop lyric's picture: bold text with a light outline and a two-colour vertical gradient fill,
// on an image that is fully transparent everywhere else.
// Needs a QGuiApplication (fonts). Call it on the GUI thread; it keeps no state between calls.

#include <QImage>
#include <QRect>

class QBrush;
class QPainter;
class QPainterPath;
class QPen;

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane::lyrics {

// Draws textUtf8 into a new W × H image (ARGB32 premultiplied) and returns it; a null image when
// W or H is not positive.
// - The text is laid out in the rectangle (0, 5, W, H) — the first line box starts 5 px below the
//   top —, each line centred horizontally, wrapped at word boundaries (or inside a word too long
//   for a line); lines below the image are cut off.
// - Font: family fontName, bold, em height P pixels. A family that is not installed is replaced by
//   an installed font that covers Chinese, so the lyric never goes blank for want of one font.
// - The glyph outlines are stroked with a 3 px pen in outlineColour, then filled over that with a
//   vertical gradient from fillTopColour at y 5 to fillBottomColour at y 5 + P, mirrored beyond.
// - Colours are Windows colour values: red in the low byte (0x00BBGGRR); the high byte is ignored
//   and every colour is opaque.
// - constantAlpha scales the whole finished picture (255: unchanged), as a layered window's
//   constant alpha would; a window that shows the image needs no opacity of its own.
QImage RenderOutlinedText(int W, int H, const std::string& textUtf8, const std::string& fontName, int P,
                          uint32_t fillTopColour, uint32_t fillBottomColour, uint32_t outlineColour,
                          uint8_t constantAlpha = 255);

// One line of the picture, for the karaoke wipe: which characters it holds and where each cursor
// position between them lies.
struct TPictureLine {
  int Start = 0;                // first UTF-16 index of the line in PictureText(text)
  std::vector<double> CursorX;  // x of the cursor positions Start … Start + length, in image pixels
  int Top = 0;                  // the band of image rows that belongs to this line: Top ≤ y < Bottom
  int Bottom = 0;
};

struct TOutlinedText {
  QImage Image;
  QImage SecondImage;               // the same text in the second fill, when one was asked for
  std::vector<TPictureLine> Lines;  // the lines drawn, top to bottom
  QRect Painted;                    // every pixel with any alpha lies inside (empty: none)
};

// A fill gradient: top colour at y 5, bottom colour at y 5 + P (Windows colour values).
struct TFill {
  uint32_t Top = 0;
  uint32_t Bottom = 0;
};

// RenderOutlinedText, also telling where each line of the picture went; with secondFill also the
// same picture filled in that gradient (the outline, which costs most, is drawn once for both).
TOutlinedText RenderOutlinedTextLines(int W, int H, const std::string& textUtf8, const std::string& fontName, int P,
                                      uint32_t fillTopColour, uint32_t fillBottomColour, uint32_t outlineColour,
                                      uint8_t constantAlpha = 255, std::optional<TFill> secondFill = std::nullopt);

// Strokes path with pen, as QPainter::strokePath would, in pieces at most two em wide: several
// times faster for a line of text. Where two pieces' outlines cover one pixel in part, it is
// blended rather than unioned (at most a quarter of its alpha apart).
void StrokeInPieces(QPainter& painter, const QPainterPath& path, const QPen& pen, qreal em);
// Fills path with brush, exactly as QPainter::fillPath would, in pieces that share no pixel.
void FillInPieces(QPainter& painter, const QPainterPath& path, const QBrush& brush);

// Whether RenderOutlinedText(W, …, textUtf8, fontName, P, …) lays the text out on one line.
bool FitsOneLine(int W, const std::string& textUtf8, const std::string& fontName, int P);

// The text as the picture lays it out (line breaks become line separators); TPictureLine::Start
// counts in its UTF-16 units.
QString PictureText(const std::string& textUtf8);

// The family RenderOutlinedText draws with for a requested name: the name itself when installed
// (compared ignoring case), else "Noto Sans CJK SC", else any family that covers Simplified
// Chinese, else the name (left to Qt's own fallback).
std::string ResolveLyricFontFamily(const std::string& fontName);

}  // namespace orvane::lyrics
