// Loads the main window's scene with a stand-in for the player's logic and checks the pieces the
// rest of the program relies on: every component by its name, at its place and size; the handler
// each control calls; the list's selection, double click and context menu; the seek bar's fade;
// the modal pop-up. Any QML warning while loading or driving the scene fails the test.
#include <gtest/gtest.h>

#include <QColor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QMimeData>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest/QTest>

#include <functional>
#include <memory>

#include "stand_in_main.h"

namespace orvane::test {
namespace {

QStringList& Warnings() {
  static QStringList warnings;
  return warnings;
}

void CollectWarnings(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtDebugMsg || type == QtInfoMsg) return;
  Warnings() << message;
  std::fprintf(stderr, "%s\n", qPrintable(message));
}

// The item and everything under it in the visual tree (list rows are not QObject children).
QList<QQuickItem*> AllItems(QQuickItem* root) {
  QList<QQuickItem*> items{root};
  for (qsizetype i = 0; i < items.size(); ++i) items += items[i]->childItems();
  return items;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 3000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QTest::qWait(10);
  }
  return true;
}

class SceneTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // No display and no GPU needed: the scene is checked for structure and behaviour, not pixels.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    qInstallMessageHandler(CollectWarnings);
    static int argc = 1;
    static char name[] = "scene_test";
    static char* argv[] = {name, nullptr};
    app = new QGuiApplication(argc, argv);
  }

  void SetUp() override { Warnings().clear(); }

  // Loads the scene with `rows` songs in the music list and waits until the fade-in is over.
  void Load(int rows) {
    stand.Fill(rows);
    engine = std::make_unique<QQmlApplicationEngine>();
    engine->rootContext()->setContextProperty(QStringLiteral("main"), &stand);
    engine->load(QUrl(QStringLiteral("qrc:/qt/qml/Orvane/Main.qml")));
    ASSERT_FALSE(engine->rootObjects().isEmpty());
    window = qobject_cast<QQuickWindow*>(engine->rootObjects().first());
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    ASSERT_TRUE(WaitFor([&] { return Item("Root2") && Item("Root2")->opacity() == 1.0; }));
  }

  void TearDown() override {
    engine.reset();
    EXPECT_TRUE(Warnings().isEmpty()) << qPrintable(Warnings().join(QLatin1Char('\n')));
  }

  QQuickItem* Item(const char* name) const {
    return window->findChild<QQuickItem*>(QString::fromLatin1(name));
  }

  // Turns the face to the settings page and waits until the turn is over; nullptr if it never is.
  QQuickItem* TurnToSettings() {
    stand.face = 1;
    emit stand.faceChanged();
    QQuickItem* page = Item("Setting");
    const bool turned =
        WaitFor([&] { return page->isVisible() && Item("MainBox")->property("positionZ").toDouble() == 0; });
    return turned ? page : nullptr;
  }

  QPoint Centre(QQuickItem* item) const {
    return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
  }

  static QGuiApplication* app;
  StandInMain stand;
  std::unique_ptr<QQmlApplicationEngine> engine;
  QQuickWindow* window = nullptr;
};

QGuiApplication* SceneTest::app = nullptr;

TEST_F(SceneTest, ComponentsSitWhereTheLayoutPutsThem) {
  Load(12);
  EXPECT_EQ(window->title(), QStringLiteral("Orvane4"));
  EXPECT_EQ(window->size(), QSize(290, 418));
  EXPECT_TRUE(window->flags() & Qt::FramelessWindowHint);

  struct Case {
    const char* name;
    const char* relativeTo;  // positions are checked relative to this component
    double x, y, width, height;
  };
  const Case cases[] = {
      {"MainBox", nullptr, 0, 0, 290, 418},
      {"Root2", "MainBox", 0, 0, 290, 418},
      {"Main", "Root2", 2, 2, 286, 413},
      {"Layout1", "Main", 15, 15, 256, 66},
      {"btnLast", "Layout1", 11, 34, 30, 30},
      {"btnPlay", "Layout1", 46, 34, 30, 30},
      {"btnNext", "Layout1", 80, 34, 30, 30},
      {"tbrV", "Layout1", 117, 41, 78, 15},
      {"btnAbout", "Layout1", 195, 34, 30, 30},
      {"btnClose", "Layout1", 231, 2, 20, 20},
      {"btnMenu", "Layout1", 231, 21, 20, 20},
      {"btnMin", "Layout1", 231, 41, 20, 20},
      {"lbl_title", "Layout1", 14, 17, 211, 15},
      {"tbrmain", "Layout1", 14, 15, 211, 17},
      {"Layout2", "Main", 15, 81, 256, 317},
      {"TabControl1", "Layout2", 0, 0, 256, 317},
      {"MsgPop1", "Layout1", 0, 0, 256, 140},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QQuickItem* item = Item(c.name);
    ASSERT_NE(item, nullptr);
    QQuickItem* reference = c.relativeTo ? Item(c.relativeTo) : window->contentItem();
    ASSERT_NE(reference, nullptr);
    const QPointF at = item->mapToItem(reference, QPointF(0, 0));
    EXPECT_DOUBLE_EQ(at.x(), c.x);
    EXPECT_DOUBLE_EQ(at.y(), c.y);
    EXPECT_DOUBLE_EQ(item->width(), c.width);
    EXPECT_DOUBLE_EQ(item->height(), c.height);
  }

  // The lists and the hint fill the tab pages; the random list's button is small.
  for (const char* name : {"lstDefault", "lstRndMusic", "layAddMsg", "btnAddFiles", "lblMsg"}) {
    EXPECT_NE(Item(name), nullptr) << name;
  }
  QQuickItem* rnd = Item("btnRndMusic");
  ASSERT_NE(rnd, nullptr);
  EXPECT_EQ(QSizeF(rnd->width(), rnd->height()), QSizeF(16, 16));
  EXPECT_FALSE(rnd->isEnabled());
  EXPECT_GT(Item("lstDefault")->height(), 250);
  EXPECT_EQ(Item("lstDefault")->width(), Item("lstRndMusic")->width());

  EXPECT_EQ(Item("lbl_title")->property("text").toString(), stand.titleText);
  EXPECT_TRUE(Item("lbl_title")->property("font").value<QFont>().bold());
  EXPECT_EQ(Item("tbrmain")->opacity(), 0.0);
  for (const char* name : {"btnPlay", "btnNext", "btnLast", "btnAbout"}) {
    EXPECT_DOUBLE_EQ(Item(name)->opacity(), 0.5) << name;
  }
  EXPECT_EQ(Item("btnPlay")->property("hint").toString(), QStringLiteral("播放"));
  EXPECT_EQ(Item("btnMin")->property("hint").toString(), QStringLiteral("音乐魔方"));
}

TEST_F(SceneTest, ControlsCallTheirHandlers) {
  Load(12);
  stand.switchFaces = false;  // the face stays put, so every control is where the table expects it
  struct Case {
    const char* name;
    QString call;  // the recorded call starts with this
  };
  const Case cases[] = {
      {"btnPlay", "btn_playClick"},       {"btnNext", "btn_nextClick"},   {"btnLast", "btn_previousClick"},
      {"btnAbout", "btnAboutClick"},      {"btnClose", "btn_closeClick"}, {"btnMin", "btn_minClick"},
      {"btnMenu", "btnMenuClick("},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    stand.calls.clear();
    QTest::mouseClick(window, Qt::LeftButton, {}, Centre(Item(c.name)));
    ASSERT_EQ(stand.calls.size(), 1) << qPrintable(stand.calls.join(' '));
    EXPECT_TRUE(stand.calls.first().startsWith(c.call)) << qPrintable(stand.calls.first());
  }

  // A press on the seek bar hands over where, in the bar's own units, and the bar's width.
  stand.calls.clear();
  QTest::mouseClick(window, Qt::LeftButton, {}, Item("tbrmain")->mapToScene(QPointF(50, 8)).toPoint());
  EXPECT_EQ(stand.calls, QStringList{QStringLiteral("tbrmainMouseDown(50,211)")});

  // The menu opens at the menu button's lower-left corner, in screen coordinates.
  stand.calls.clear();
  QQuickItem* menu = Item("btnMenu");
  QTest::mouseClick(window, Qt::LeftButton, {}, Centre(menu));
  const QPointF corner = menu->mapToGlobal(QPointF(0, menu->height()));
  EXPECT_EQ(stand.calls.value(0),
            QStringLiteral("btnMenuClick(%1,%2)").arg(qRound(corner.x())).arg(qRound(corner.y())));

  // Dragging the volume slider writes the volume as it goes.
  QQuickItem* volume = Item("tbrV");
  QTest::mousePress(window, Qt::LeftButton, {}, volume->mapToScene(QPointF(0, 7)).toPoint());
  EXPECT_NEAR(stand.volume, 0, 0.01);
  QTest::mouseMove(window, volume->mapToScene(QPointF(39, 7)).toPoint());
  EXPECT_NEAR(stand.volume, 50, 0.01);
  QTest::mouseRelease(window, Qt::LeftButton, {}, volume->mapToScene(QPointF(39, 7)).toPoint());

  // The second tab: selecting it goes through the logic object, which enables the button there.
  stand.calls.clear();
  QTest::mouseClick(window, Qt::LeftButton, {}, Item("TabControl1")->mapToScene(QPointF(150, 12)).toPoint());
  EXPECT_EQ(stand.calls.value(0), QStringLiteral("tabIndex(1)"));
  ASSERT_TRUE(Item("btnRndMusic")->isEnabled());
  EXPECT_TRUE(Item("lstRndMusic")->isVisible());
  EXPECT_FALSE(Item("lstDefault")->isVisible());
  stand.calls.clear();
  QTest::mouseClick(window, Qt::LeftButton, {}, Centre(Item("btnRndMusic")));
  EXPECT_EQ(stand.calls, QStringList{QStringLiteral("btn_rndlistClick")});
}

TEST_F(SceneTest, EmptyListShowsTheHintWithItsButton) {
  Load(0);
  EXPECT_FALSE(Item("lstDefault")->isVisible());
  QQuickItem* hint = Item("layAddMsg");
  ASSERT_TRUE(hint->isVisible());
  EXPECT_EQ(hint->property("text").toString(),
            QStringLiteral("歌曲列表里面没有歌曲，赶快添加歌曲开始不一样的音乐体验！\n"));
  QQuickItem* add = Item("btnAddFiles");
  EXPECT_EQ(add->property("text").toString(), QStringLiteral("添加歌曲"));
  QTest::mouseClick(window, Qt::LeftButton, {}, Centre(add));
  QQuickItem* folder = Item("btnAddFolder");
  EXPECT_EQ(folder->property("text").toString(), QStringLiteral("添加文件夹"));
  QTest::mouseClick(window, Qt::LeftButton, {}, Centre(folder));
  EXPECT_EQ(stand.calls, (QStringList{QStringLiteral("lbl_openClick"), QStringLiteral("pmf_openfolderClick")}));
}

// A random tab that found nothing says why, with a button to the server dialog; over a list that
// stays, the same words show for a while.
TEST_F(SceneTest, TheRandomTabSaysWhyItFoundNothing) {
  Load(3);
  stand.SetTabIndex(1);
  stand.EmptyRandomList();
  stand.rndMsgText = QStringLiteral("没有找到可以随便听听的歌曲");
  stand.rndMsgOffersServer = true;
  stand.Refresh();
  QQuickItem* hint = Item("rndMsg");
  ASSERT_TRUE(WaitFor([hint] { return hint->isVisible(); }));
  EXPECT_EQ(hint->property("text").toString(), stand.rndMsgText);
  QQuickItem* connect = Item("btnRndServer");
  ASSERT_TRUE(connect->isVisible());
  EXPECT_EQ(connect->property("text").toString(), QStringLiteral("连接音乐服务器…"));
  stand.calls.clear();
  QTest::mouseClick(window, Qt::LeftButton, {}, Centre(connect));
  EXPECT_EQ(stand.calls, QStringList{QStringLiteral("pmm_serverClick")});

  stand.Fill(3);
  EXPECT_FALSE(hint->isVisible());
  QQuickItem* notice = Item("rndNotice");
  ASSERT_TRUE(WaitFor([notice] { return notice->isVisible(); }));
  EXPECT_EQ(notice->property("text").toString(), stand.rndMsgText);
}

TEST_F(SceneTest, ListRowsSelectPlayAndOpenTheMenu) {
  Load(12);
  QQuickItem* list = Item("lstDefault");
  auto* model = qobject_cast<ui::PlayListModel*>(stand.MusicList());

  // Rows 0 and 1 are 25 high, row 2 plays and is 35 high: a point 10 into row 3 is at 25+25+35+10.
  const QPoint row3 = list->mapToScene(QPointF(80, 25 + 25 + 35 + 10)).toPoint();
  QTest::mouseClick(window, Qt::LeftButton, {}, row3);
  EXPECT_EQ(model->SelectedIndex(), 3);
  EXPECT_TRUE(stand.calls.isEmpty());

  const QPoint row1 = list->mapToScene(QPointF(80, 25 + 10)).toPoint();
  QTest::mouseDClick(window, Qt::LeftButton, {}, row1);
  EXPECT_EQ(model->SelectedIndex(), 1);
  EXPECT_EQ(stand.calls, QStringList{QStringLiteral("plst_listItemDblClick")});

  // A right click selects the row under the mouse first, so the menu acts on what was clicked.
  stand.calls.clear();
  QTest::mouseClick(window, Qt::RightButton, {}, row3);
  EXPECT_EQ(model->SelectedIndex(), 3);
  const QPointF global = window->mapToGlobal(QPointF(row3));
  EXPECT_EQ(stand.calls, QStringList{QStringLiteral("showListMenu(%1,%2)").arg(global.x()).arg(global.y())});

  // The playing row's number and caption are highlighted and its caption bold.
  int marked = 0;
  for (QQuickItem* text : AllItems(list)) {
    if (!text->inherits("QQuickText")) continue;
    const bool isMark = text->property("color").value<QColor>() == QColor(QStringLiteral("#FFF7FD7B"));
    if (!isMark) continue;
    ++marked;
    EXPECT_EQ(text->parentItem()->height(), 35);
  }
  EXPECT_EQ(marked, 2);
}

TEST_F(SceneTest, SeekBarFadesInUnderTheMouseAndReportsItsOpacity) {
  Load(12);
  QQuickItem* bar = Item("tbrmain");
  QTest::mouseMove(window, Centre(bar));
  ASSERT_TRUE(WaitFor([&] { return stand.seekOpacity == 1.0; }));
  EXPECT_EQ(bar->opacity(), 1.0);
  QTest::mouseMove(window, Centre(Item("Layout2")));
  ASSERT_TRUE(WaitFor([&] { return stand.seekOpacity == 0.0; }));
}

TEST_F(SceneTest, MessagePopUpIsModalAndAnswers) {
  Load(12);
  stand.msgText = QStringLiteral("确定要清空当前歌曲列表？");
  stand.msgVisible = true;
  stand.Refresh();
  QQuickItem* pop = Item("MsgPop1");
  ASSERT_TRUE(WaitFor([&] { return pop->isVisible(); }));
  EXPECT_EQ(Item("lblMsg")->property("text").toString(), stand.msgText);

  // The control bar underneath takes no clicks while the pop-up shows.
  QTest::mouseClick(window, Qt::LeftButton, {}, Centre(Item("btnAbout")));
  EXPECT_TRUE(stand.calls.isEmpty());

  QTest::keyClick(window, Qt::Key_Escape);
  EXPECT_EQ(stand.calls, QStringList{QStringLiteral("MsgPop1Result(7)")});
  EXPECT_FALSE(pop->isVisible());

  stand.calls.clear();
  stand.msgVisible = true;
  stand.Refresh();
  QQuickItem* yes = pop->findChild<QQuickItem*>(QStringLiteral("btnYes"));
  ASSERT_NE(yes, nullptr);
  QTest::mouseClick(window, Qt::LeftButton, {}, Centre(yes));
  EXPECT_EQ(stand.calls, QStringList{QStringLiteral("MsgPop1Result(6)")});
}

TEST_F(SceneTest, NoticeShowsForAWhileThenReportsShown) {
  Load(12);
  QQuickItem* notice = Item("notice");
  ASSERT_NE(notice, nullptr);
  EXPECT_FALSE(notice->isVisible());
  notice->setProperty("holdMs", 50);
  stand.noticeText = QStringLiteral("播放列表文件已损坏，已另存一份");
  stand.Refresh();
  ASSERT_TRUE(WaitFor([&] { return notice->isVisible(); }));
  EXPECT_TRUE(stand.calls.isEmpty());
  ASSERT_TRUE(WaitFor([&] { return stand.calls.contains(QStringLiteral("noticeShown")); }));
  ASSERT_TRUE(WaitFor([&] { return !notice->isVisible(); }));
}

TEST_F(SceneTest, BackgroundDragsTheWindow) {
  Load(12);
  // The face's bottom padding, below the lists: background, not a control.
  const QPoint grip(145, 406);
  const QPoint before = window->position();
  QTest::mousePress(window, Qt::LeftButton, {}, grip);
  QTest::mouseMove(window, grip + QPoint(30, 8));
  // The window followed the pointer, so the pointer is back over the grip.
  QTest::mouseRelease(window, Qt::LeftButton, {}, grip);
  EXPECT_EQ(window->position(), before + QPoint(30, 8));
  EXPECT_TRUE(stand.calls.isEmpty());
}

// The settings page: the layer turns a quarter away, the faces swap edge-on, the window steps 50 px
// right and the turn completes; going back mirrors it and ends where it started.
TEST_F(SceneTest, SettingsFlipTurnsToThePageAndBack) {
  Load(12);
  QQuickItem* box = Item("MainBox");
  QQuickItem* page = Item("Setting");
  const QPoint before = window->position();
  QTest::mouseClick(window, Qt::LeftButton, {}, Centre(Item("btnAbout")));
  ASSERT_TRUE(WaitFor([&] { return page->isVisible() && box->property("positionZ").toDouble() == 0; }));
  EXPECT_FALSE(Item("Main")->isVisible());
  EXPECT_EQ(window->position(), before + QPoint(50, 0));
  // A whole turn rests at no turn, so the way back turns a quarter, not a turn and a quarter.
  EXPECT_EQ(box->property("rotateAngleY").toDouble(), 0.0);
  EXPECT_EQ(page->mapToItem(box, QPointF(0, 0)), QPointF(18, 67));
  EXPECT_EQ(QSizeF(page->width(), page->height()), QSizeF(254, 284));

  // Sampled while going back: the angle never leaves the quarter turns on either side.
  double lowest = 0, highest = 0;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, [&] {
    const double angle = box->property("rotateAngleY").toDouble();
    lowest = std::min(lowest, angle);
    highest = std::max(highest, angle);
  });
  sampler.start(5);
  QTest::mouseClick(window, Qt::LeftButton, {}, Centre(Item("HudButton2")));
  ASSERT_TRUE(WaitFor([&] { return Item("Main")->isVisible() && box->property("positionZ").toDouble() == 0 &&
                                   box->property("rotateAngleY").toDouble() == 0; }));
  sampler.stop();
  EXPECT_FALSE(page->isVisible());
  EXPECT_EQ(window->position(), before);
  EXPECT_GE(lowest, -90.0);
  EXPECT_LE(highest, 90.0);
  EXPECT_EQ(stand.calls, (QStringList{"btnAboutClick", "btnAboutBackClick"}));
}

// Half turned, the near edge of the face is taller than the far one: a turn in depth, not a squash.
TEST_F(SceneTest, TheTurnHasPerspective) {
  Load(12);
  QQuickItem* box = Item("MainBox");
  box->setProperty("rotateAngleY", 45.0);
  const auto edgeHeight = [box](double x) {
    return box->mapToScene(QPointF(x, box->height())).y() - box->mapToScene(QPointF(x, 0)).y();
  };
  const double left = edgeHeight(0), right = edgeHeight(box->width());
  EXPECT_GT(std::abs(left - right), 20.0) << left << " " << right;
  // Pushed back in depth, the face looks smaller.
  box->setProperty("rotateAngleY", 0.0);
  box->setProperty("positionZ", 300.0);
  EXPECT_LT(edgeHeight(0), box->height() * 0.8);
}

TEST_F(SceneTest, SettingsPageControlsSitWhereTheyShouldAndCallTheirHandlers) {
  Load(12);
  QQuickItem* page = TurnToSettings();
  ASSERT_NE(page, nullptr);
  stand.calls.clear();

  struct Case {
    const char* name;
    double x, y;
    QString call;  // what a click records ("" for none)
  };
  const Case cases[] = {
      {"modBox", 133, 29, ""},
      {"effBox", 133, 67, ""},
      {"btnLrcPath", 7, 108, "pmm_setdownClick"},
      {"txtlrcPath", 117, 109, ""},
      {"btnMsPath", 7, 150, "pmm_sdownClick"},
      {"txtmsPath", 117, 151, ""},
      {"chkShowLrc", 7, 189, "btn_lrcClick"},
      {"chkTallo", 139, 189, "chkTalloClick"},
      {"chkAutoRun", 7, 211, "chkAutoRunClick"},
      {"chkOnlineLrc", 139, 211, "chkOnlineLrcClick"},
      {"HudButton3", 123, 248, "HudButton3Click"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QQuickItem* item = Item(c.name);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->mapToItem(page, QPointF(0, 0)), QPointF(c.x, c.y));
    if (c.call.isEmpty()) continue;
    stand.calls.clear();
    QTest::mouseClick(window, Qt::LeftButton, {}, item->mapToScene(QPointF(5, item->height() / 2)).toPoint());
    EXPECT_EQ(stand.calls, QStringList{c.call});
  }
  // The check boxes show what the owner holds: the clicks above flipped each of them.
  for (const char* name : {"chkShowLrc", "chkTallo", "chkAutoRun", "chkOnlineLrc"})
    EXPECT_FALSE(Item(name)->property("checked").toBool()) << name;
  EXPECT_EQ(Item("txtlrcPath")->property("text").toString(), stand.txtlrcPath);
  EXPECT_EQ(Item("modBox")->property("count").toInt(), 3);
  EXPECT_EQ(Item("effBox")->property("displayText").toString(), QStringLiteral("默认"));

  // Esc is the page's cancel button.
  ASSERT_TRUE(WaitFor([&] { return Item("Main")->isVisible(); }));  // "保存" went back
  stand.face = 1;
  emit stand.faceChanged();
  ASSERT_TRUE(WaitFor([&] { return page->isVisible(); }));
  stand.calls.clear();
  QTest::keyClick(window, Qt::Key_Escape);
  EXPECT_EQ(stand.calls, QStringList{"btnAboutBackClick"});
}

// Mini mode: the lists fade, the layer shrinks to 150 x 100 and the tile fades in; the play button
// follows the play state and the way back rests dim until the mouse is over it.
TEST_F(SceneTest, MiniModeShrinksToTheTileAndGrowsBack) {
  Load(12);
  QQuickItem* box = Item("MainBox");
  QQuickItem* mini = Item("Mini");
  QTest::mouseClick(window, Qt::LeftButton, {}, Centre(Item("btnMin")));
  ASSERT_TRUE(WaitFor([&] { return mini->isVisible() && mini->opacity() == 0.85; }, 5000));
  EXPECT_EQ(QSizeF(box->width(), box->height()), QSizeF(150, 100));
  EXPECT_FALSE(Item("Main")->isVisible());
  EXPECT_FALSE(Item("Layout1")->isVisible());
  EXPECT_FALSE(Item("Layout2")->isVisible());
  EXPECT_EQ(window->size(), QSize(290, 418));
  EXPECT_EQ(mini->mapToScene(QPointF(0, 0)), QPointF(101, 169));
  EXPECT_EQ(QSizeF(mini->width(), mini->height()), QSizeF(88, 80));
  // Only the tile (and its glow) takes the mouse; clicks beside it reach what lies under the window.
  EXPECT_EQ(window->property("inputRegion").toRectF(), QRectF(98, 166, 94, 86));

  QQuickItem* play = Item("btnPlay2");
  EXPECT_EQ(play->mapToItem(mini, QPointF(0, 0)), QPointF(31, 23));
  EXPECT_EQ(play->property("glyph").toString(), QStringLiteral("播放2"));
  stand.play2Glyph = QStringLiteral("暂停2");
  stand.Refresh();
  EXPECT_EQ(play->property("glyph").toString(), QStringLiteral("暂停2"));

  QQuickItem* back = Item("transformation2");
  EXPECT_EQ(back->mapToItem(mini, QPointF(0, 0)), QPointF(58, 39));
  EXPECT_EQ(back->property("hint").toString(), QStringLiteral("返回"));
  EXPECT_DOUBLE_EQ(back->opacity(), 0.3);
  QTest::mouseMove(window, Centre(back));
  ASSERT_TRUE(WaitFor([&] { return back->opacity() == 1.0; }));

  stand.calls.clear();
  QTest::mouseClick(window, Qt::LeftButton, {}, Centre(play));
  EXPECT_EQ(stand.calls, QStringList{"btn_playClick"});
  QTest::mouseClick(window, Qt::LeftButton, {}, Centre(back));
  ASSERT_TRUE(WaitFor([&] { return Item("Layout2")->isVisible() && Item("Layout2")->opacity() == 1.0; }, 5000));
  EXPECT_FALSE(mini->isVisible());
  EXPECT_EQ(QSizeF(box->width(), box->height()), QSizeF(290, 418));
  EXPECT_TRUE(Item("Layout1")->isVisible());
  EXPECT_EQ(Item("Main")->opacity(), 1.0);
  EXPECT_TRUE(window->property("inputRegion").toRectF().isEmpty());
}

// A sequence asked for while another runs finishes that one first: the faces never end half-way.
TEST_F(SceneTest, AFaceChangeDuringASequenceEndsInAWholeFace) {
  Load(12);
  QQuickItem* box = Item("MainBox");
  const QPoint before = window->position();
  stand.btnAboutClick();
  QTest::qWait(120);
  stand.btnAboutBackClick();  // at once, not waiting for the page
  ASSERT_TRUE(WaitFor([&] { return Item("Main")->isVisible() && box->property("positionZ").toDouble() == 0 &&
                                   box->property("rotateAngleY").toDouble() == 0; }));
  EXPECT_FALSE(Item("Setting")->isVisible());
  EXPECT_EQ(window->position(), before);
}

TEST_F(SceneTest, RowNumberIsDockedLeftAndTheCaptionFillsTheRest) {
  Load(12);
  QQuickItem* list = Item("lstDefault");
  QQuickItem* lno = nullptr;
  QQuickItem* caption = nullptr;
  for (QQuickItem* item : AllItems(list)) {
    if (!lno && item->objectName() == QLatin1String("lno")) lno = item;
    if (!caption && item->objectName() == QLatin1String("caption")) caption = item;
  }
  ASSERT_TRUE(lno && caption);
  const double rowWidth = lno->parentItem()->width();
  EXPECT_EQ(lno->x(), 0);
  EXPECT_EQ(lno->width(), 30);
  EXPECT_EQ(caption->x(), 30);
  EXPECT_EQ(caption->width(), rowWidth - 30);
  EXPECT_EQ(lno->property("horizontalAlignment").toInt(), int(Qt::AlignLeft));
}

// Rows added at the end leave the view where the user scrolled it, and the selection where it was.
TEST_F(SceneTest, AddingRowsKeepsTheScrollPosition) {
  Load(40);
  QQuickItem* list = Item("lstDefault");
  auto* model = qobject_cast<ui::PlayListModel*>(stand.MusicList());
  model->SetSelectedIndex(20);
  list->setProperty("contentY", 300.0);
  QTest::qWait(50);
  std::vector<ui::PlayListRow> rows;
  for (int i = 41; i <= 60; ++i) rows.push_back({std::to_string(i), "new", "new", "", "/new.mp3", false});
  model->AddRows(std::move(rows));
  QTest::qWait(50);
  EXPECT_EQ(list->property("contentY").toDouble(), 300.0);
  EXPECT_EQ(model->SelectedIndex(), 20);
  EXPECT_EQ(list->property("count").toInt(), 60);
}

TEST_F(SceneTest, DroppedFilesGoToTheMusicListAndProgressShows) {
  Load(12);
  QQuickItem* list = Item("lstDefault");
  const QPoint at = list->mapToScene(QPointF(80, 60)).toPoint();
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile("/songs/a.mp3"), QUrl::fromLocalFile("/songs/folder")});
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window, &enter);
  QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window, &move);
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window, &drop);
  EXPECT_EQ(stand.calls, QStringList{"lstDefaultDragDrop(/songs/a.mp3,/songs/folder)"});

  QQuickItem* progress = Item("addProgress");
  EXPECT_FALSE(progress->isVisible());
  stand.addProgressText = QStringLiteral("正在添加 3/10");
  stand.Refresh();
  EXPECT_TRUE(progress->isVisible());
}

// The menu button's context menu is the main menu, at the same corner.
TEST_F(SceneTest, MenuButtonRightClickOpensTheMainMenu) {
  Load(12);
  QQuickItem* menu = Item("btnMenu");
  QTest::mouseClick(window, Qt::RightButton, {}, Centre(menu));
  const QPointF corner = menu->mapToGlobal(QPointF(0, menu->height()));
  EXPECT_EQ(stand.calls,
            QStringList{QStringLiteral("btnMenuClick(%1,%2)").arg(qRound(corner.x())).arg(qRound(corner.y()))});
}

// The drop-down lists of the settings page: a click opens the list on top of the page, a click on
// an item tells the owner and closes it; a press elsewhere or Esc closes it without a choice (and
// Esc does not also leave the page).
TEST_F(SceneTest, ComboBoxListOpensChoosesAndCloses) {
  Load(12);
  QQuickItem* page = TurnToSettings();
  ASSERT_NE(page, nullptr);
  QQuickItem* combo = Item("modBox");
  auto* popup = combo->findChild<QQuickItem*>(QStringLiteral("comboPopup"));
  ASSERT_NE(popup, nullptr);
  const auto open = [&] {
    QTest::mouseClick(window, Qt::LeftButton, {}, Centre(combo));
    return WaitFor([&] { return combo->property("popupVisible").toBool(); });
  };
  stand.calls.clear();

  ASSERT_TRUE(open());
  // The second item, one row below the first, which starts right under the box.
  const QPoint second = combo->mapToScene(QPointF(combo->width() / 2, combo->height() + 22 + 11)).toPoint();
  QTest::mouseClick(window, Qt::LeftButton, {}, second);
  EXPECT_EQ(stand.calls, QStringList{QStringLiteral("modBox(1)")});
  EXPECT_FALSE(combo->property("popupVisible").toBool());
  EXPECT_EQ(combo->property("displayText").toString(), QStringLiteral("循环"));

  stand.calls.clear();
  ASSERT_TRUE(open());
  QTest::mouseClick(window, Qt::LeftButton, {}, page->mapToScene(QPointF(60, 58)).toPoint());  // empty page
  EXPECT_FALSE(combo->property("popupVisible").toBool());
  ASSERT_TRUE(open());
  QTest::mouseClick(window, Qt::LeftButton, {}, Centre(combo));  // the box again: only closes
  EXPECT_FALSE(combo->property("popupVisible").toBool());
  ASSERT_TRUE(open());
  QTest::keyClick(window, Qt::Key_Escape);
  EXPECT_FALSE(combo->property("popupVisible").toBool());
  EXPECT_TRUE(stand.calls.isEmpty()) << qPrintable(stand.calls.join(' '));
  // With the list closed, Esc is the page's again.
  QTest::keyClick(window, Qt::Key_Escape);
  EXPECT_EQ(stand.calls, QStringList{QStringLiteral("btnAboutBackClick")});
}

// A button's hint appears a moment after the pointer comes to rest on it, inside the window, and
// goes when the pointer leaves.
TEST_F(SceneTest, ButtonHintShowsAfterADelayAndGoesWithThePointer) {
  Load(12);
  QQuickItem* button = Item("btnPlay");
  QQuickItem* box = nullptr;
  QTest::mouseMove(window, Centre(button));
  ASSERT_TRUE(WaitFor([&] {
    box = button->findChild<QQuickItem*>(QStringLiteral("toolTipBox"));
    return box && box->isVisible();
  }));
  bool saysPlay = false;
  for (QQuickItem* text : AllItems(box)) saysPlay |= text->property("text").toString() == QStringLiteral("播放");
  EXPECT_TRUE(saysPlay);
  const QRectF shown = box->mapRectToScene(QRectF(0, 0, box->width(), box->height()));
  EXPECT_TRUE(QRectF(0, 0, window->width(), window->height()).contains(shown)) << shown.x() << "," << shown.y();
  QTest::mouseMove(window, Centre(Item("Layout2")));
  EXPECT_TRUE(WaitFor([&] { return !box->isVisible(); }));
}

// The list's scroll bar: dragging its thumb to the bottom shows the list's end; a press on the track
// above the thumb brings the thumb's middle there.
TEST_F(SceneTest, ScrollBarThumbScrollsTheList) {
  Load(200);
  QQuickItem* list = Item("lstDefault");
  auto* thumb = list->findChild<QQuickItem*>(QStringLiteral("scrollThumb"));
  ASSERT_NE(thumb, nullptr);
  ASSERT_TRUE(thumb->isVisible());
  const auto bottomY = [&] {
    return list->property("originY").toDouble() + list->property("contentHeight").toDouble() - list->height();
  };
  const QPoint grab = Centre(thumb);
  const QPoint end(grab.x(), list->mapToScene(QPointF(0, list->height() - 1)).toPoint().y());
  QTest::mousePress(window, Qt::LeftButton, {}, grab);
  QTest::mouseMove(window, end);
  QTest::mouseRelease(window, Qt::LeftButton, {}, end);
  EXPECT_NEAR(list->property("contentY").toDouble(), bottomY(), 1.0);

  const QPointF track = thumb->parentItem()->mapToScene(QPointF(thumb->x() + 2, thumb->parentItem()->height() / 2));
  QTest::mouseClick(window, Qt::LeftButton, {}, track.toPoint());
  const double middle = thumb->mapToScene(QPointF(0, thumb->height() / 2)).y();
  EXPECT_NEAR(middle, track.y(), 2.0);
  EXPECT_GT(list->property("contentY").toDouble(), 0.0);
  EXPECT_LT(list->property("contentY").toDouble(), bottomY());
}

// Keys no control took reach the owner from the main face, again once the settings page or the
// pop-up is gone, and from the mini tile; the owner decides what they do.
TEST_F(SceneTest, KeysReachTheOwnerFromEveryFace) {
  Load(12);
  QQuickItem* box = Item("MainBox");
  const auto restsOn = [&](const char* face) {
    return WaitFor([&] { return Item(face)->isVisible() && box->property("positionZ").toDouble() == 0 &&
                                box->property("rotateAngleY").toDouble() == 0; });
  };
  const auto pressed = [](int key, int modifiers = 0) { return QStringLiteral("KeyPressed(%1,%2)").arg(key).arg(modifiers); };
  stand.calls.clear();
  QTest::keyClick(window, Qt::Key_Space);
  QTest::keyClick(window, Qt::Key_O, Qt::ControlModifier);  // Ctrl itself is a key pressed too
  EXPECT_EQ(stand.calls.filter(QStringLiteral("(%1,").arg(Qt::Key_Control)).size(), stand.calls.size() - 2);
  EXPECT_TRUE(stand.calls.contains(pressed(Qt::Key_Space)));
  EXPECT_TRUE(stand.calls.contains(pressed(Qt::Key_O, Qt::ControlModifier)));

  ASSERT_NE(TurnToSettings(), nullptr);
  stand.calls.clear();
  QTest::keyClick(window, Qt::Key_Escape);  // the page's own key
  EXPECT_EQ(stand.calls, QStringList{QStringLiteral("btnAboutBackClick")});
  ASSERT_TRUE(restsOn("Main"));
  stand.calls.clear();
  QTest::keyClick(window, Qt::Key_Down);
  EXPECT_EQ(stand.calls, QStringList{pressed(Qt::Key_Down)});

  stand.msgVisible = true;
  stand.Refresh();
  stand.msgVisible = false;
  stand.Refresh();
  stand.calls.clear();
  QTest::keyClick(window, Qt::Key_Delete);
  EXPECT_EQ(stand.calls, QStringList{pressed(Qt::Key_Delete)});

  stand.face = 2;
  emit stand.faceChanged();
  ASSERT_TRUE(WaitFor([&] { return Item("Mini")->isVisible() && Item("Mini")->opacity() > 0.8; }));
  stand.calls.clear();
  QTest::keyClick(window, Qt::Key_Escape);
  EXPECT_EQ(stand.calls, QStringList{pressed(Qt::Key_Escape)});
}

// A selection moved by the keyboard is scrolled into sight.
TEST_F(SceneTest, TheSelectedRowStaysInSight) {
  Load(200);
  auto* list = qobject_cast<QQuickItem*>(Item("lstDefault"));
  auto* model = qobject_cast<ui::PlayListModel*>(stand.MusicList());
  model->SetSelectedIndex(150);
  QCoreApplication::processEvents();
  const double contentY = list->property("contentY").toDouble();
  const double rowTop = 25 * 149 + 35;  // row 2 plays and is taller
  EXPECT_LE(contentY, rowTop);
  EXPECT_GE(contentY + list->height(), rowTop + 25);
}

// Over the seek bar the hint shows the whole title, and the time under the pointer with the song's
// length; it follows the pointer.
TEST_F(SceneTest, SeekBarHintTellsTheTimeUnderThePointer) {
  Load(12);
  stand.songLength = 240000;
  stand.Refresh();
  QQuickItem* bar = Item("tbrmain");
  QQuickItem* hintText = nullptr;
  QTest::mouseMove(window, bar->mapToScene(QPointF(bar->width() * 0.27, 8)).toPoint());
  ASSERT_TRUE(WaitFor([&] {
    hintText = bar->findChild<QQuickItem*>(QStringLiteral("toolTipText"));
    return hintText && hintText->isVisible() && hintText->parentItem()->isVisible();
  }));
  const QString quarter = hintText->property("text").toString();
  EXPECT_TRUE(quarter.startsWith(stand.titleText + QLatin1Char('\n'))) << qPrintable(quarter);
  EXPECT_TRUE(QRegularExpression(QStringLiteral("\\n01:0\\d / 04:00$")).match(quarter).hasMatch()) << qPrintable(quarter);
  QTest::mouseMove(window, bar->mapToScene(QPointF(bar->width() * 0.77, 8)).toPoint());
  EXPECT_TRUE(WaitFor([&] { return hintText->property("text").toString().contains(QStringLiteral("\n03:0")); }))
      << qPrintable(hintText->property("text").toString());

  // Nothing playing: the title alone.
  stand.songLength = 0;
  stand.Refresh();
  EXPECT_EQ(hintText->property("text").toString(), stand.titleText);
}

// A row's caption longer than the window wraps inside it, so the whole title reads.
TEST_F(SceneTest, ALongRowsHintWrapsInsideTheWindow) {
  Load(3);
  auto* model = qobject_cast<ui::PlayListModel*>(stand.MusicList());
  const std::string title = "一首名字很长很长的歌" + std::string(" and its very long English subtitle that goes on") +
                            "，还有更多的字在后面一直写到窗口外面很远的地方";
  model->AddRow(4, title, "歌手", "/music/long.mp3");
  QQuickItem* list = Item("lstDefault");
  QTest::mouseMove(window, list->mapToScene(QPointF(60, 25 + 25 + 35 + 10)).toPoint());
  QQuickItem* box = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    box = list->findChild<QQuickItem*>(QStringLiteral("toolTipBox"));
    return box && box->isVisible();
  }));
  auto* text = box->findChild<QQuickItem*>(QStringLiteral("toolTipText"));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->property("text").toString().toStdString(), title + " - 歌手");
  EXPECT_GT(text->property("lineCount").toInt(), 1);
  EXPECT_FALSE(text->property("truncated").toBool());
  const QRectF shown = box->mapRectToScene(QRectF(0, 0, box->width(), box->height()));
  EXPECT_TRUE(QRectF(0, 0, window->width(), window->height()).contains(shown))
      << shown.x() << "," << shown.y() << " " << shown.width() << "x" << shown.height();
}

// Ten presets: the open list is opaque and shows a scroll bar for the two below the fold.
TEST_F(SceneTest, ThePresetListIsOpaqueAndShowsItScrolls) {
  stand.effBoxItems.clear();
  for (int i = 1; i <= 10; ++i) stand.effBoxItems << QStringLiteral("预设%1").arg(i);
  Load(12);
  ASSERT_NE(TurnToSettings(), nullptr);
  QQuickItem* combo = Item("effBox");
  QTest::mouseClick(window, Qt::LeftButton, {}, Centre(combo));
  ASSERT_TRUE(WaitFor([&] { return combo->property("popupVisible").toBool(); }));
  auto* face = combo->findChild<QQuickItem*>(QStringLiteral("comboListFace"));
  auto* bar = combo->findChild<QQuickItem*>(QStringLiteral("comboScrollBar"));
  ASSERT_NE(face, nullptr);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(face->property("color").value<QColor>().alpha(), 255);
  EXPECT_TRUE(bar->isVisible());
  QTest::keyClick(window, Qt::Key_Escape);
  // Three presets fit: no bar.
  stand.effBoxItems = QStringList{QStringLiteral("默认"), QStringLiteral("流行"), QStringLiteral("摇滚")};
  stand.Refresh();
  QTest::mouseClick(window, Qt::LeftButton, {}, Centre(combo));
  ASSERT_TRUE(WaitFor([&] { return combo->property("popupVisible").toBool(); }));
  EXPECT_FALSE(bar->isVisible());
}

// Without a compositor the window is cut to the face on show, at rest and while it turns; with a
// compositor nothing is cut.
TEST_F(SceneTest, WithoutACompositorTheWindowIsTheFaceOnShow) {
  stand.compositing = false;
  Load(12);
  const auto shape = [&] { return window->property("faceShape").toList(); };
  const auto outline = [](QQuickItem* face) {
    const QRectF rect = face->mapRectToScene(QRectF(0, 0, face->width(), face->height()));
    return std::pair{rect.topLeft() - QPointF(1, 1), rect.bottomRight() + QPointF(1, 1)};
  };
  ASSERT_EQ(shape().size(), 4);
  EXPECT_EQ(std::pair(shape()[0].toPointF(), shape()[2].toPointF()), outline(Item("Main")));
  QQuickItem* box = Item("MainBox");
  int turningShapes = 0;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, [&] {
    if (box->property("rotateAngleY").toDouble() != 0 && shape().size() == 4) ++turningShapes;
  });
  sampler.start(5);
  QQuickItem* page = TurnToSettings();
  sampler.stop();
  ASSERT_NE(page, nullptr);
  EXPECT_GT(turningShapes, 0);
  ASSERT_EQ(shape().size(), 4);
  EXPECT_EQ(std::pair(shape()[0].toPointF(), shape()[2].toPointF()), outline(page));

  stand.compositing = true;
  stand.Refresh();
  EXPECT_TRUE(shape().isEmpty());
}

}  // namespace
}  // namespace orvane::test
