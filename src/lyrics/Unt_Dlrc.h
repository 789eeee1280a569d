#pragma once
// TNimDeskTopLrc: the desktop-lyrics window — a frameless, always-on-top tool window across the
// screen just above the panel, transparent everywhere except on the outlined lyric text, and
// taking pointer input only over the text (its input mask follows the painted pixels).
// Main thread only.

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <string>

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

  explicit TNimDeskTopLrc(QWidget* parent = nullptr);

  // Draws text unless it is the text already shown.
  void ShowText(const std::string& text);
  const std::string& ShownText() const { return shownText; }
  // The picture last drawn (what the window shows).
  const QImage& Picture() const { return picture; }
  // How many times a text was actually drawn.
  int DrawCount() const { return drawCount; }

  // Width = screen width − 50, left 25, bottom edge on the bottom of the screen's work area.
  static QRect PlacementFor(const QRect& screenGeometry, const QRect& availableGeometry, int height);
  void PlaceOnScreen(QScreen* screen);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Render();

  std::string shownText;
  QImage picture;
  int drawCount = 0;
};

}  // namespace orvane::lyrics
