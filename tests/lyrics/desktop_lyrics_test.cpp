// The desktop-lyrics window and its toolbar: placement, the hide timers, dragging both windows,
// the toolbar's scene and buttons, and the karaoke wipe's boundary in pixels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest/QTest>
#include <memory>
#include <string>
#include <vector>

#include "lyrics/Unt_Dlrc.h"
#include "lyrics/Unt_DlrcButton.h"
#include "support/event_loop.h"

namespace orvane::lyrics {
namespace {

QStringList& Warnings() {
  static QStringList warnings;
  return warnings;
}

// Warnings of the scenes (the offscreen platform's own complaints, such as about window masks, are
// not the scenes' doing).
void CollectWarnings(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtDebugMsg || type == QtInfoMsg || !message.contains(QLatin1String(".qml"))) return;
  Warnings() << message;
  std::fprintf(stderr, "%s\n", qPrintable(message));
}

QQuickItem* FindItem(QQuickWindow& window, const QString& name) {
  QList<QQuickItem*> items{window.contentItem()};
  for (qsizetype i = 0; i < items.size(); ++i) {
    if (items[i]->objectName() == name) return items[i];
    items += items[i]->childItems();
  }
  return nullptr;
}

class DesktopLyricsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("QT_QUICK_BACKEND", "software", 1);
    qInstallMessageHandler(CollectWarnings);
    static int argc = 1;
    static char name[] = "desktop_lyrics_test";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);  // lives to the end, as the program's does
    (void)app;
  }

  void SetUp() override { Warnings().clear(); }
  void TearDown() override {
    toolbar.reset();
    lyrics.reset();
    engine.reset();
    test::ProcessEventsFor(10);
  }

  TNimDlrcButton& MakeToolbar() {
    lyrics = std::make_unique<TNimDeskTopLrc>();
    lyrics->setGeometry(25, 892, 1230, 92);
    engine = std::make_unique<QQmlEngine>();
    TNimDlrcButton::THandlers handlers;
    handlers.Back = [this] { Clicks.push_back("back"); };
    handlers.Forward = [this] { Clicks.push_back("forward"); };
    handlers.Search = [this] { Clicks.push_back("search"); };
    handlers.Close = [this] { Clicks.push_back("close"); };
    handlers.Karaoke = [this] { Clicks.push_back("karaoke"); };
    toolbar = std::make_unique<TNimDlrcButton>(*lyrics, [this] { return engine.get(); }, std::move(handlers));
    return *toolbar;
  }

  std::unique_ptr<QQmlEngine> engine;
  std::unique_ptr<TNimDeskTopLrc> lyrics;
  std::unique_ptr<TNimDlrcButton> toolbar;
  std::vector<std::string> Clicks;
};

TEST_F(DesktopLyricsTest, PlacementAboveAFortyPixelPanel) {
  const QRect screen(0, 0, 1280, 1024);
  const QRect workArea(0, 0, 1280, 984);
  const QRect lyricsRect = TNimDeskTopLrc::PlacementFor(screen, workArea, TNimDeskTopLrc::DesignHeight);
  EXPECT_EQ(lyricsRect, QRect(25, 892, 1230, 92));
  EXPECT_EQ(TNimDlrcButton::PlacementFor(lyricsRect), QRect(25, 833, 1230, 126));

  // A second screen to the right with its panel at the top: the work area's bottom is the screen's.
  EXPECT_EQ(TNimDeskTopLrc::PlacementFor(QRect(1280, 0, 1920, 1080), QRect(1280, 32, 1920, 1048), 92),
            QRect(1305, 988, 1870, 92));

  // The strip is centred in the 55-pixel band; the area below takes the rest.
  EXPECT_EQ(TNimDlrcButton::StripFor(QSize(1230, 126)), QRect(462, 10, 305, 35));
  EXPECT_EQ(TNimDlrcButton::DragAreaFor(QSize(1230, 126)), QRect(0, 55, 1230, 71));
}

TEST_F(DesktopLyricsTest, ToolbarHidesOneToThreeSecondsAfterThePointerLeaves) {
  TNimDlrcButton& bar = MakeToolbar();
  EXPECT_FALSE(bar.IsVisible());
  EXPECT_FALSE(bar.tmr_ck().isActive());  // nothing ticks while the toolbar is hidden
  EXPECT_EQ(bar.tmr_ck().interval(), 2000);
  EXPECT_EQ(bar.tmr_hide().interval(), 1000);

  bar.ShowFromLyrics();
  ASSERT_TRUE(bar.IsVisible());
  ASSERT_NE(bar.Window(), nullptr);
  EXPECT_TRUE(bar.Window()->isVisible());
  EXPECT_EQ(bar.Window()->geometry(), QRect(25, 833, 1230, 126));
  EXPECT_TRUE(bar.tmr_ck().isActive());
  EXPECT_FALSE(bar.tmr_hide().isActive());

  // tmr_ck arms tmr_hide; movement over either window disarms it again.
  bar.tmr_ckTimer();
  EXPECT_TRUE(bar.tmr_hide().isActive());
  bar.PointerMoved();
  EXPECT_FALSE(bar.tmr_hide().isActive());
  bar.tmr_ckTimer();
  bar.ShowFromLyrics();
  EXPECT_FALSE(bar.tmr_hide().isActive());

  // A pointer resting on the toolbar keeps it up.
  bar.SetPointerInside(true);
  bar.tmr_ckTimer();
  bar.tmr_hideTimer();
  EXPECT_TRUE(bar.IsVisible());

  // Once it has left, the next tmr_hide hides the toolbar and both timers stop.
  bar.SetPointerInside(false);
  bar.tmr_ckTimer();
  bar.tmr_hideTimer();
  EXPECT_FALSE(bar.IsVisible());
  EXPECT_FALSE(bar.Window()->isVisible());
  EXPECT_FALSE(bar.tmr_ck().isActive());
  EXPECT_FALSE(bar.tmr_hide().isActive());
}

TEST_F(DesktopLyricsTest, DraggingMovesBothWindowsByTheSameOffset) {
  TNimDlrcButton& bar = MakeToolbar();
  bar.ShowFromLyrics();
  const QPoint start(700, 860);
  QCursor::setPos(start);
  bar.Rectangle1MouseDown(Qt::LeftButton, 675.4, 26.6);
  EXPECT_TRUE(bar.Dragging);
  EXPECT_EQ(bar.DownX, 675);
  EXPECT_EQ(bar.DownY, 27);

  for (const QPoint offset : {QPoint(30, -15), QPoint(-200, -400)}) {
    QCursor::setPos(start + offset);
    bar.Rectangle1MouseMove();
    EXPECT_EQ(bar.Geometry(), QRect(QPoint(25, 833) + offset, QSize(1230, 126)));
    EXPECT_EQ(bar.Window()->position(), QPoint(25, 833) + offset);
    EXPECT_EQ(lyrics->geometry(), QRect(QPoint(25, 892) + offset, QSize(1230, 92)));
  }

  // A right button neither starts nor ends a drag; after the left one is up, moves move nothing.
  bar.Rectangle1MouseUp(Qt::RightButton);
  EXPECT_TRUE(bar.Dragging);
  bar.Rectangle1MouseUp(Qt::LeftButton);
  EXPECT_FALSE(bar.Dragging);
  QCursor::setPos(start);
  bar.Rectangle1MouseMove();
  EXPECT_EQ(lyrics->pos(), QPoint(-175, 492));

  // Shown again, the toolbar sits against the lyrics window where that is now.
  bar.Close();
  bar.ShowFromLyrics();
  EXPECT_EQ(bar.Geometry(), QRect(-175, 433, 1230, 126));
}

TEST_F(DesktopLyricsTest, ToolbarSceneShowsItsButtonsWithTheirHintsAndHandlers) {
  TNimDlrcButton& bar = MakeToolbar();
  bar.ShowFromLyrics();
  QQuickWindow& window = *bar.Window();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_TRUE(window.flags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window.flags().testFlag(Qt::WindowDoesNotAcceptFocus));
  EXPECT_EQ(window.flags() & Qt::WindowType_Mask, Qt::Tool);
  EXPECT_EQ(window.mask(), QRegion(462, 10, 305, 35) + QRegion(0, 55, 1230, 71));

  QQuickItem* strip = FindItem(window, QStringLiteral("Rectangle1"));
  ASSERT_NE(strip, nullptr);
  EXPECT_EQ(QRectF(strip->x(), strip->y(), strip->width(), strip->height()), QRectF(462, 10, 305, 35));

  struct Case {
    const char* name;
    QPointF at;
    const char* hint;
    const char* click;
  };
  const Case cases[] = {{"btnBreak5", {11, 6}, "向后0.5秒", "back"},
                        {"BitmapButton2", {42, 6}, "向前0.5秒", "forward"},
                        {"btnKaraoke", {77, 6}, "卡拉OK效果", "karaoke"},
                        {"BitmapButton4", {232, 6}, "手动搜索歌词", "search"},
                        {"BitmapButton3", {267, 6}, "关闭歌词", "close"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QQuickItem* button = FindItem(window, QString::fromUtf8(c.name));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(QPointF(button->x(), button->y()), c.at);
    EXPECT_EQ(QSizeF(button->width(), button->height()), QSizeF(33, 23));
    EXPECT_EQ(button->property("hint").toString(), QString::fromUtf8(c.hint));
    Clicks.clear();
    const QPoint centre = button->mapToScene(QPointF(16, 11)).toPoint();
    QTest::mouseClick(&window, Qt::LeftButton, Qt::NoModifier, centre);
    EXPECT_EQ(Clicks, std::vector<std::string>{c.click});
  }

  // The karaoke button shows its state.
  QQuickItem* karaoke = FindItem(window, QStringLiteral("btnKaraoke"));
  bar.SetKaraoke(true);
  EXPECT_TRUE(karaoke->property("checked").toBool());

  // A press on the strip beside the buttons starts a drag, in toolbar coordinates.
  QCursor::setPos(QPoint(25 + 462 + 150, 833 + 20));
  QTest::mousePress(&window, Qt::LeftButton, Qt::NoModifier, QPoint(462 + 150, 20));
  EXPECT_TRUE(bar.Dragging);
  EXPECT_EQ(bar.DownX, 612);
  QTest::mouseRelease(&window, Qt::LeftButton, Qt::NoModifier, QPoint(462 + 150, 20));
  EXPECT_FALSE(bar.Dragging);
  EXPECT_TRUE(Warnings().isEmpty()) << Warnings().join('\n').toStdString();
}

TEST_F(DesktopLyricsTest, PointerOverTheTextAsksForTheToolbar) {
  TNimDeskTopLrc window;
  int asked = 0;
  QObject::connect(&window, &TNimDeskTopLrc::pointerOverText, [&asked] { ++asked; });
  window.ShowText("歌词");
  window.show();
  QTest::mouseMove(&window, QPoint(window.width() / 2, 20));
  EXPECT_GT(asked, 0);
}

TEST_F(DesktopLyricsTest, TheWindowTakesInputOnlyOnItsText) {
  TNimDeskTopLrc window;
  auto inputIsTheText = [&window](const char* when) {
    const QRegion input = window.windowHandle()->mask();
    const QImage& picture = window.Picture();
    int text = 0, outside = 0;
    for (int y = 0; y < picture.height(); ++y)
      for (int x = 0; x < picture.width(); ++x) {
        const bool painted = qAlpha(picture.pixel(x, y)) != 0;
        text += painted;
        if (painted != input.contains(QPoint(x, y))) ++outside;
      }
    EXPECT_GT(text, 100) << when;
    EXPECT_EQ(outside, 0) << when;
  };
  window.ShowText("歌词");  // before the window first shows, as at start-up
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  inputIsTheText("shown after its first line");
  window.ShowText("a longer line of lyrics, 更长一点的歌词");
  inputIsTheText("a new line");
  window.hide();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  inputIsTheText("hidden and shown again");
}

// ---- The karaoke wipe

class WipeTest : public DesktopLyricsTest {
 protected:
  void SetUp() override {
    DesktopLyricsTest::SetUp();
    window = std::make_unique<TNimDeskTopLrc>();
    window->resize(957, 92);
    window->SetKaraoke(true);
  }
  void TearDown() override {
    window.reset();
    DesktopLyricsTest::TearDown();
  }

  // Where the unsung picture has text: its leftmost and rightmost painted columns.
  std::pair<int, int> TextSpan() const {
    const QImage& picture = window->Picture();
    int left = picture.width(), right = -1;
    for (int y = 0; y < picture.height(); ++y)
      for (int x = 0; x < picture.width(); ++x)
        if (qAlpha(picture.pixel(x, y)) > 0) {
          left = std::min(left, x);
          right = std::max(right, x);
        }
    return {left, right};
  }

  std::unique_ptr<TNimDeskTopLrc> window;
};

TEST_F(WipeTest, BoundaryFollowsThePositionAcrossTheLine) {
  window->ShowText("一二三四五六");
  window->SetLineTiming(TLineTiming{1000, 4000, {}});
  const auto [left, right] = TextSpan();
  const int middle = (left + right) / 2;

  struct Case {
    int32_t position;
    int line;
    int expectedX;  // -1: not checked
  };
  // Six ideographs of one em each: 168 pixels, centred.
  const int start = (957 - 6 * 28) / 2;
  const Case cases[] = {{0, 0, 0},                       {1000, 0, 0},
                        {2500, 0, start + 84},           {3500, 0, start + 140},
                        {4000, 1, 0},                    {9000, 1, 0}};
  for (const Case& c : cases) {
    window->SetSungPosition(c.position);
    const auto boundary = window->WipeBoundary();
    EXPECT_EQ(boundary.Line, c.line) << c.position;
    EXPECT_NEAR(boundary.X, c.expectedX, 2) << c.position;
  }

  // In pixels: halfway, the glyphs left of the boundary are in the sung colours, those right of it
  // in the unsung ones.
  window->SetSungPosition(2500);
  const QImage shown = window->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  const QImage& unsung = window->Picture();
  int sungLeft = 0, unsungRight = 0, differentLeft = 0, differentRight = 0;
  for (int y = 0; y < shown.height(); ++y)
    for (int x = left; x <= right; ++x) {
      if (qAlpha(unsung.pixel(x, y)) < 255) continue;
      const QRgb p = shown.pixel(x, y);
      const bool gold = qRed(p) > 200 && qBlue(p) < 120;  // the sung gradient: (255, 215, 0) to (255, 112, 40)
      const bool differs = p != unsung.pixel(x, y);
      if (x < middle - 2) {
        sungLeft += gold;
        differentLeft += differs;
      } else if (x > middle + 2) {
        unsungRight += !differs;
        differentRight += differs;
      }
    }
  EXPECT_GT(sungLeft, 200);
  EXPECT_GT(differentLeft, 200);
  EXPECT_GT(unsungRight, 200);
  EXPECT_EQ(differentRight, 0);
}

TEST_F(WipeTest, WordStampsPaceTheWipeWordByWord) {
  // "ab" is sung from 1000 to 1200, "cdefgh" from 1200 to 2000: at 1200 the boundary is at the
  // start of the second word, not a fifth of the way along.
  window->ShowText("ab cdefgh");
  window->SetLineTiming(TLineTiming{1000, 2000, {{0, 1000}, {3, 1200}}});
  const auto [left, right] = TextSpan();
  window->SetSungPosition(1001);
  EXPECT_NEAR(window->WipeBoundary().X, left, 4);
  window->SetSungPosition(1999);
  EXPECT_NEAR(window->WipeBoundary().X, right, 4);
  // At 1200 a fifth of the time has passed, but "ab " is about a third of the width.
  window->SetSungPosition(1200);
  const int atSecondWord = window->WipeBoundary().X;
  EXPECT_GT(atSecondWord - left, (right - left) * 28 / 100);
  EXPECT_LT(atSecondWord - left, (right - left) * 40 / 100);

  // No timing, or karaoke off: no wipe.
  window->SetLineTiming(std::nullopt);
  EXPECT_FALSE(window->Wiping());
  window->SetLineTiming(TLineTiming{1000, 2000, {}});
  window->SetKaraoke(false);
  EXPECT_FALSE(window->Wiping());
  EXPECT_EQ(window->WipeBoundary(), TNimDeskTopLrc::TWipeBoundary{});
}

TEST_F(WipeTest, AWrappedLineIsFilledLineByLine) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += "国";  // wraps onto a second line
  window->ShowText(text);
  window->SetLineTiming(TLineTiming{0, 10000, {}});
  window->SetSungPosition(2000);
  EXPECT_EQ(window->WipeBoundary().Line, 0);
  window->SetSungPosition(9000);
  EXPECT_EQ(window->WipeBoundary().Line, 1);
  // A new text starts without a wipe until its timing comes.
  window->ShowText("下一行");
  EXPECT_FALSE(window->Wiping());
}

}  // namespace
}  // namespace orvane::lyrics
