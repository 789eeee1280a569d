// The tray icon component: its click mapping, the menu that blocks a restore while it is open, the
// tooltip's length, hiding the window while minimised (only when a tray host can bring it back)
// and the animation through an image list. Offscreen: no tray host unless a test says there is one.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QWindow>

#include "desktop/YmTray.h"
#include "support/event_loop.h"

namespace orvane::test {
namespace {

using namespace orvane::desktop;

QApplication& App() {
  static int argc = 1;
  static char name[] = "tray-test";
  static char* argv[] = {name, nullptr};
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static auto* app = new QApplication(argc, argv);
  return *app;
}

class TrayTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { App(); }
  void SetUp() override {
    tray = std::make_unique<TYmTrayIcon>();
    tray->OnRestoreApp = [this] { ++restores; };
    tray->OnRButtonUp = [this] { events += "RUp "; };
    tray->OnLButtonDown = [this] { events += "LDown "; };
    tray->SetPopupMenu(&menu);
    menu.addAction(QStringLiteral("退出"));
  }
  void TearDown() override {
    menu.hide();
    tray.reset();
  }

  QMenu menu;
  std::unique_ptr<TYmTrayIcon> tray;
  int restores = 0;
  std::string events;
};

TEST_F(TrayTest, ClicksMapToRestoreAndMenu) {
  struct Case {
    const char* what;
    TYmTrayIconClicks restoreOn, menuOn;
    std::vector<int> messages;
    int restores;
    bool menu;
  };
  const Case cases[] = {
      // The main window's settings: a left press restores, a right press opens the menu, and a
      // double click does nothing beyond its presses.
      {"left press", ticLeftClick, ticRightClick, {TrayLButtonDown, TrayLButtonUp}, 1, false},
      {"double click", ticLeftClick, ticRightClick,
       {TrayLButtonDown, TrayLButtonUp, TrayLButtonDblClick, TrayLButtonUp}, 1, false},
      {"right press", ticLeftClick, ticRightClick, {TrayRButtonDown}, 0, true},
      // The component's defaults: a single left click does nothing, a double click restores, the
      // menu opens on releasing the right button.
      {"defaults, left press", ticLeftDblClick, ticRightClickUp, {TrayLButtonDown, TrayLButtonUp}, 0, false},
      {"defaults, double click", ticLeftDblClick, ticRightClickUp, {TrayLButtonDblClick}, 1, false},
      {"defaults, right press", ticLeftDblClick, ticRightClickUp, {TrayRButtonDown}, 0, false},
      {"defaults, right release", ticLeftDblClick, ticRightClickUp, {TrayRButtonUp}, 0, true},
      {"none matches nothing", ticNone, ticNone, {TrayLButtonDown, TrayRButtonUp}, 0, false},
      {"right double click", ticRightDblClick, ticLeftClickUp, {TrayRButtonDblClick, TrayLButtonUp}, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tray->RestoreOn = c.restoreOn;
    tray->PopupMenuOn = c.menuOn;
    restores = 0;
    for (int message : c.messages) tray->HandleTrayMessage(message);
    EXPECT_EQ(restores, c.restores);
    EXPECT_EQ(tray->MenuShowing(), c.menu);
    EXPECT_EQ(menu.isVisible(), c.menu);
    menu.hide();
    EXPECT_FALSE(tray->MenuShowing());
  }
  // The events are raised after the mapping, whatever it did.
  events.clear();
  tray->HandleTrayMessage(TrayLButtonDown);
  tray->HandleTrayMessage(TrayRButtonUp);
  EXPECT_EQ(events, "LDown RUp ");
}

TEST_F(TrayTest, RestoreWhileTheMenuIsOpenDoesNothing) {
  tray->RestoreOn = ticLeftClick;
  tray->PopupMenuOn = ticRightClick;
  tray->HandleTrayMessage(TrayRButtonDown);
  ASSERT_TRUE(tray->MenuShowing());
  tray->HandleTrayMessage(TrayLButtonDown);
  tray->Restore();
  EXPECT_EQ(restores, 0);
  menu.hide();
  tray->HandleTrayMessage(TrayLButtonDown);
  EXPECT_EQ(restores, 1);
}

TEST_F(TrayTest, TooltipIsCutTo127Characters) {
  const QString latin(200, QLatin1Char('x'));
  const QString chinese = QString::fromUtf8("歌").repeated(200);
  const QString emoji = QString(126, QLatin1Char('a')) + QString::fromUtf8("🎵🎵");
  struct Case {
    QString hint;
    QString shown;
  };
  const Case cases[] = {
      {latin, latin.left(127)},
      {chinese, chinese.left(127)},
      // 127 characters, the last one two UTF-16 units long: never cut in half.
      {emoji, QString(126, QLatin1Char('a')) + QString::fromUtf8("🎵")},
      {QStringLiteral("Orvane"), QStringLiteral("Orvane")},
      {QString(), QString()},
  };
  for (const Case& c : cases) {
    tray->SetHint(c.hint);
    EXPECT_EQ(tray->Hint(), c.hint);
    EXPECT_EQ(tray->ShownTip(), c.shown);
  }
}

// Minimised, the window leaves the task bar only while a tray host can bring it back; the tray's
// restore shows it again.
TEST_F(TrayTest, HidesOnMinimiseOnlyWithATrayHost) {
  tray->RestoreOn = ticLeftClick;
  for (const bool host : {true, false}) {
    SCOPED_TRACE(host);
    QWindow window;
    window.resize(100, 100);
    window.show();
    tray->HostAvailable = [host] { return host; };
    tray->SetApplicationWindow(&window);
    int minimised = 0;
    tray->OnMinimizeApp = [&minimised] { ++minimised; };
    window.showMinimized();
    ProcessEventsFor(20);
    EXPECT_EQ(minimised, 1);
    EXPECT_EQ(window.isVisible(), !host);
    restores = 0;
    tray->HandleTrayMessage(TrayLButtonDown);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);
    EXPECT_EQ(restores, 1);
    tray->SetApplicationWindow(nullptr);
  }
}

TEST_F(TrayTest, AnimationCyclesThroughTheImageList) {
  TYmImageList images;
  for (QRgb colour : {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu}) {
    QPixmap pixmap(16, 16);
    pixmap.fill(QColor::fromRgba(colour));
    images.Images << QIcon(pixmap);
  }
  tray->Loaded();
  const qint64 appIcon = tray->CurrentIcon().cacheKey();
  tray->SetIcons(&images);
  EXPECT_EQ(tray->CurrentIcon().cacheKey(), images.Images[0].cacheKey());
  tray->SetInterval(10);
  tray->SetAnimate(true);
  std::vector<qint64> shown;
  ASSERT_TRUE(ProcessEventsUntil([&] {
    const qint64 key = tray->CurrentIcon().cacheKey();
    if (shown.empty() || shown.back() != key) shown.push_back(key);
    return shown.size() >= 5;
  }));
  const std::vector<qint64> expected{images.Images[0].cacheKey(), images.Images[1].cacheKey(),
                                     images.Images[2].cacheKey(), images.Images[0].cacheKey(),
                                     images.Images[1].cacheKey()};
  EXPECT_EQ(shown, expected);
  tray->SetAnimate(false);
  // Out of range, or no list: the application's icon.
  tray->SetIconIndex(7);
  EXPECT_EQ(tray->CurrentIcon().cacheKey(), appIcon);
  tray->SetIconIndex(1);
  tray->SetIcons(nullptr);
  EXPECT_EQ(tray->CurrentIcon().cacheKey(), appIcon);
}

}  // namespace
}  // namespace orvane::test
