// The outlined-text picture of the desktop lyrics, checked pixel by pixel.
#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "lyrics/OutlinedText.h"

namespace orvane::lyrics {
namespace {

// The desktop-lyrics window's font and colours (Windows colour values: red in the low byte).
constexpr int kWidth = 957;
constexpr int kHeight = 92;
constexpr int kSize = 28;
const std::string kFont = "新宋体";  // not installed here: exercises the fallback
constexpr uint32_t kTop = 0xFF0000;     // blue (0, 0, 255)
constexpr uint32_t kBottom = 0x9ACD32;  // (50, 205, 154)
constexpr uint32_t kOutline = 0xDCDCDC;

struct Rgb {
  double r, g, b;
};
const Rgb kBlue{0, 0, 255};
const Rgb kGreen{50, 205, 154};
const Rgb kGrey{220, 220, 220};

double Distance(Rgb a, Rgb b) { return std::sqrt((a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b)); }

Rgb Mix(Rgb a, Rgb b, double t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

// The fill the recipe asks for on pixel row y: top colour at y 5, bottom colour at y 5 + P, mirrored.
Rgb ExpectedFill(int y) {
  double t = std::fmod((y + 0.5 - 5) / kSize, 2.0);
  if (t < 0) t += 2;
  if (t > 1) t = 2 - t;
  return Mix(kBlue, kGreen, t);
}

// The stored (premultiplied) pixel.
QRgb Raw(const QImage& image, int x, int y) { return reinterpret_cast<const QRgb*>(image.constScanLine(y))[x]; }
int AlphaAt(const QImage& image, int x, int y) { return qAlpha(Raw(image, x, y)); }

// Unpremultiplied colour of a visible pixel.
Rgb ColourAt(const QImage& image, int x, int y) {
  const QRgb p = Raw(image, x, y);
  const double a = qAlpha(p) / 255.0;
  return {qRed(p) / a, qGreen(p) / a, qBlue(p) / a};
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// Distance of c from the segment a–b: anti-aliased fill edges blend the fill over the outline.
double DistanceToBlend(Rgb c, Rgb a, Rgb b) {
  double best = 1e9;
  for (int k = 0; k <= 100; ++k) best = std::min(best, Distance(c, Mix(a, b, k / 100.0)));
  return best;
}

struct Box {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
  bool Empty() const { return right < 0; }
};

Box VisibleBox(const QImage& image) {
  Box box;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (AlphaAt(image, x, y) > 0) {
        box.left = std::min(box.left, x);
        box.right = std::max(box.right, x);
        box.top = std::min(box.top, y);
        box.bottom = std::max(box.bottom, y);
      }
  return box;
}

// Counts opaque pixels on row y whose colour lies within tolerance of c.
int CountNear(const QImage& image, int y, Rgb c, double tolerance) {
  int n = 0;
  for (int x = 0; x < image.width(); ++x)
    if (AlphaAt(image, x, y) == 255 && Distance(ColourAt(image, x, y), c) <= tolerance) ++n;
  return n;
}

class RenderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "render_test";
    static char* argv[] = {name, nullptr};
    app = std::make_unique<QGuiApplication>(argc, argv);
  }
  static void TearDownTestSuite() { app.reset(); }

  static QImage Render(const std::string& text, const std::string& font = kFont, uint8_t alpha = 255) {
    return RenderOutlinedText(kWidth, kHeight, text, font, kSize, kTop, kBottom, kOutline, alpha);
  }

  static std::unique_ptr<QGuiApplication> app;
};

std::unique_ptr<QGuiApplication> RenderTest::app;

TEST_F(RenderTest, EmptyTextIsFullyTransparent) {
  const QImage image = Render("");
  ASSERT_EQ(image.size(), QSize(kWidth, kHeight));
  EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
  EXPECT_TRUE(VisibleBox(image).Empty());
  EXPECT_TRUE(RenderOutlinedText(0, kHeight, "x", kFont, kSize, kTop, kBottom, kOutline).isNull());
}

// Two lines of text, so that both ends of the gradient band and its mirror image are covered: the
// first line's em box spans y 5 to 5 + P, the second one lies one em lower, towards y 5 + 2P
// where the top colour comes back.
TEST_F(RenderTest, OutlineAndMirroredGradientFill) {
  const QImage image = Render(Repeat("国", 40));
  const Box box = VisibleBox(image);
  ASSERT_FALSE(box.Empty());

  // Every visible pixel is outline grey, its row's gradient colour, or the anti-aliased blend of the
  // two; everything outside the text is fully transparent (checked by the box below).
  int checked = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (AlphaAt(image, x, y) >= 192) {
        ++checked;
        ASSERT_LE(DistanceToBlend(ColourAt(image, x, y), kGrey, ExpectedFill(y)), 12.0) << x << "," << y;
      }
  EXPECT_GT(checked, 1000);

  // At the top of the first line (just below y 5) the fill is the top colour, near y 33 the bottom
  // colour, and towards y 61 (= 5 + 2P) the top colour again.
  for (int y : {7, 31, 57}) {
    EXPECT_GT(CountNear(image, y, ExpectedFill(y), 10), 20) << y;
  }
  EXPECT_LT(Distance(ExpectedFill(7), kBlue), 25);
  EXPECT_LT(Distance(ExpectedFill(31), kGreen), 15);
  EXPECT_LT(Distance(ExpectedFill(57), kBlue), 40);
  // The outline shows as grey along the horizontal strokes of both lines.
  EXPECT_GT(CountNear(image, 16, kGrey, 3), 20);
  EXPECT_GT(CountNear(image, 43, kGrey, 3), 20);

  // The wrapped text keeps to the window, with a second line below the first.
  EXPECT_GE(box.left, 0);
  EXPECT_LE(box.right, kWidth - 1);
  EXPECT_GT(box.bottom, 5 + kSize + 20);
}

TEST_F(RenderTest, ShortTextIsCentredAndSurroundedByTransparency) {
  const QImage image = Render("国");
  const Box box = VisibleBox(image);
  ASSERT_FALSE(box.Empty());
  EXPECT_NEAR((box.left + box.right) / 2.0, kWidth / 2.0, 3);
  EXPECT_LT(box.right - box.left, 2 * kSize);
  EXPECT_GE(box.top, 5);           // nothing above the layout rectangle
  EXPECT_LT(box.bottom, 5 + 2 * kSize);  // a single line
}

TEST_F(RenderTest, MissingFontStillDraws) {
  const std::string resolved = ResolveLyricFontFamily("No Such Font 123");
  EXPECT_TRUE(QFontDatabase::families(QFontDatabase::SimplifiedChinese).contains(QString::fromStdString(resolved)))
      << resolved;
  const QString installed = QFontDatabase::families().front();
  EXPECT_EQ(ResolveLyricFontFamily(installed.toStdString()), installed.toStdString());

  for (const std::string& font : {std::string("No Such Font 123"), std::string()}) {
    SCOPED_TRACE(font);
    const QImage image = Render("歌词 lyric", font);
    EXPECT_GT(CountNear(image, 25, kGrey, 3), 10);
  }
}

TEST_F(RenderTest, ConstantAlphaScalesTheWholePicture) {
  const QImage full = Render("国");
  const QImage half = Render("国", kFont, 128);
  for (int y = 0; y < full.height(); ++y)
    for (int x = 0; x < full.width(); ++x) {
      const QRgb a = Raw(full, x, y);
      const QRgb b = Raw(half, x, y);
      ASSERT_NEAR(qAlpha(b), qAlpha(a) * 128 / 255.0, 1) << x << "," << y;
      ASSERT_NEAR(qBlue(b), qBlue(a) * 128 / 255.0, 1) << x << "," << y;
    }
}

// The painted rectangle the window masks and repaints by: it holds every pixel with any alpha and
// is not much larger than they are; nothing painted, nothing in it.
TEST_F(RenderTest, PaintedRectangleHoldsThePicture) {
  for (const std::string& text : {std::string("国"), Repeat("国", 40), std::string("歌词 lyric")}) {
    SCOPED_TRACE(text);
    const TOutlinedText out = RenderOutlinedTextLines(kWidth, kHeight, text, kFont, kSize, kTop, kBottom, kOutline);
    const Box box = VisibleBox(out.Image);
    ASSERT_FALSE(box.Empty());
    EXPECT_TRUE(out.Painted.contains(QRect(QPoint(box.left, box.top), QPoint(box.right, box.bottom))));
    EXPECT_LE(out.Painted.width(), box.right - box.left + 1 + 8);
    EXPECT_LE(out.Painted.height(), box.bottom - box.top + 1 + 8);
  }
  EXPECT_TRUE(RenderOutlinedTextLines(kWidth, kHeight, "", kFont, kSize, kTop, kBottom, kOutline).Painted.isEmpty());
}

// The desktop joins an original and its translation only when the joined line fits: the answer must
// be the picture's own layout, one line or more.
TEST_F(RenderTest, FitsOneLineAgreesWithThePicture) {
  const std::string texts[] = {"Hello  你好", Repeat("很长的歌词", 12), "a\nb", Repeat("word ", 40),
                               Repeat("x", 54), Repeat("x", 58)};
  for (const int width : {kWidth, 500, 60}) {
    for (const std::string& text : texts) {
      const size_t lines = RenderOutlinedTextLines(width, 400, text, kFont, kSize, kTop, kBottom, kOutline).Lines.size();
      EXPECT_EQ(FitsOneLine(width, text, kFont, kSize), lines == 1) << width << " " << text;
    }
  }
  EXPECT_TRUE(FitsOneLine(kWidth, "Hello  你好", kFont, kSize));
  EXPECT_FALSE(FitsOneLine(kWidth, Repeat("很长的歌词", 12), kFont, kSize));
}

TEST_F(RenderTest, PiecesDrawTheWholePath) {
  // Glyphs far apart, glyphs touching, a line wider than any piece, and glyphs that reach over
  // their neighbours.
  const char* lines[] = {"第2行歌词 line 2 更长一点的歌词", "我们的爱情就像是一场梦想与现实的交织",
                         "Never gonna give you up, never gonna let you down", "WAVE——AVAVAV/// ffi Tj"};
  QFont font(QString::fromStdString(ResolveLyricFontFamily(kFont)));
  font.setPixelSize(kSize);
  font.setBold(true);
  QPen pen(Qt::white, 3, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
  pen.setMiterLimit(10);
  QLinearGradient gradient(QPointF(0, 5), QPointF(0, 5 + kSize));
  gradient.setColorAt(0, Qt::blue);
  gradient.setColorAt(1, Qt::green);
  gradient.setSpread(QGradient::ReflectSpread);
  for (const char* line : lines) {
    QPainterPath path;
    path.addText(QPointF(20.3, 29.64), font, QString::fromUtf8(line));
    path.setFillRule(Qt::OddEvenFill);
    auto draw = [&](auto&& paint) {
      QImage image(1400, kHeight, QImage::Format_ARGB32_Premultiplied);
      image.fill(Qt::transparent);
      QPainter painter(&image);
      painter.setRenderHint(QPainter::Antialiasing);
      paint(painter);
      return image;
    };
    // The fill is exact.
    EXPECT_EQ(draw([&](QPainter& p) { FillInPieces(p, path, gradient); }),
              draw([&](QPainter& p) { p.fillPath(path, gradient); }))
        << line;
    // The outline may differ where two pieces' outlines share a pixel.
    const QImage pieces = draw([&](QPainter& p) { StrokeInPieces(p, path, pen, kSize); });
    const QImage whole = draw([&](QPainter& p) { p.strokePath(path, pen); });
    int painted = 0, apart = 0, worst = 0;
    for (int y = 0; y < whole.height(); ++y)
      for (int x = 0; x < whole.width(); ++x) {
        const int a = AlphaAt(whole, x, y), b = AlphaAt(pieces, x, y);
        painted += a > 0;
        apart += std::abs(a - b) > 8;
        worst = std::max(worst, std::abs(a - b));
      }
    EXPECT_GT(painted, 1000) << line;
    EXPECT_LE(worst, 64) << line;
    EXPECT_LE(apart, painted / 100) << line;
  }
}

}  // namespace
}  // namespace orvane::lyrics
