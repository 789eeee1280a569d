#pragma once
// TNimDeskTopLrc: the desktop-lyrics window — a frameless, always-on-top tool window across the
// screen just above the panel, transparent everywhere except on the outlined lyric text, and
// taking pointer input only over the text (its input mask follows the painted pixels). Pointer
// movement over the text is reported (pointerOverText), which shows the toolbar.
//
// Karaoke wipe (off unless switched on): the current line is filled from left to right in a second
// gradient as it is sung. Both pictures of a line, unsung and sung, are drawn once when the line
// changes; moving the wipe only repaints the strip between its old and new boundary.
// Main thread only.

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lyrics/KaraokeWipe.h"
#include "lyrics/LrcClass.h"
#include "lyrics/OutlinedText.h"

class QScreen;

namespace orvane::lyrics {

class TNimDeskTopLrc : public QWidget {
  Q_OBJECT

 public:
  // Designed client size; the width is replaced by the screen's at placement.
  static constexpr int DesignWidth = 957;
  static constexpr int DesignHeight = 92;
  // Font of the lyric: its name (a family that is not installed falls back to a CJK one) and em size.
  static constexpr const char* FontName = "新宋体";
  static constexpr int FontSize = 28;
  // Windows colour values: red in the low byte.
  static constexpr uint32_t FillTopColour = 0xFF0000;     // blue
  static constexpr uint32_t FillBottomColour = 0x9ACD32;  // (50, 205, 154)
  static constexpr uint32_t OutlineColour = 0xDCDCDC;     // light grey
  static constexpr uint8_t WindowAlpha = 255;
  // The sung part of a line under the karaoke wipe: gold to orange.
  static constexpr uint32_t SungTopColour = 0x00D7FF;     // (255, 215, 0)
  static constexpr uint32_t SungBottomColour = 0x2870FF;  // (255, 112, 40)

  explicit TNimDeskTopLrc(QWidget* parent = nullptr);

  // Draws text unless it is the text already shown. A new text has no wipe until SetLineTiming.
  void ShowText(const std::string& text);
  const std::string& ShownText() const { return shownText; }
  // The picture last drawn (the unsung one).
  const QImage& Picture() const { return picture; }
  // How many times a text was actually drawn.
  int DrawCount() const { return drawCount; }

  // Width = screen width − 50, left 25, bottom edge on the bottom of the screen's work area.
  static QRect PlacementFor(const QRect& screenGeometry, const QRect& availableGeometry, int height);
  void PlaceOnScreen(QScreen* screen);

  // ---- Karaoke wipe
  void SetKaraoke(bool on);
  bool Karaoke() const { return karaoke; }
  // When the text shown is sung (nothing: no wipe, the text stays unsung).
  void SetLineTiming(const std::optional<TLineTiming>& timing);
  // Moves the wipe to the play position (ms).
  void SetSungPosition(int32_t positionMs);
  // Where the wipe is: lines of the picture before Line are sung whole, line Line up to x = X
  // (pixels); Line = the number of lines when all is sung. {0, 0} when nothing is.
  struct TWipeBoundary {
    int Line = 0;
    int X = 0;
    bool operator==(const TWipeBoundary&) const = default;
  };
  TWipeBoundary WipeBoundary() const { return boundary; }
  // Whether a wipe is running (karaoke on and the line shown has a timing).
  bool Wiping() const { return karaoke && !knots.empty(); }

 signals:
  // The pointer entered or moved over the painted text.
  void pointerOverText();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void Render();
  void UpdateKnots();
  TWipeBoundary BoundaryAt(double advance) const;
  void MoveBoundary(TWipeBoundary to);
  QRect BandRect(int line) const;

  std::string shownText;
  QImage picture;
  QRect painted;  // the part of picture with anything in it
  std::vector<TPictureLine> lines;  // where the lines of the picture lie
  int drawCount = 0;

  bool karaoke = false;
  QImage sungPicture;  // the same lines filled in the sung gradient; only while karaoke is on
  std::optional<TLineTiming> timing;
  std::vector<TWipeKnot> knots;  // empty: no wipe
  TWipeBoundary boundary;
  int32_t sungPosition = 0;
};

}  // namespace orvane::lyrics
