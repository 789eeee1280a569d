// The interface's language: Chinese unless the desktop's message language is English, and then
// the window, its scene, menus, questions and notices speak English while stored files stay as
// they are.
#include <QApplication>
#include <QMenu>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTranslator>
#include <map>
#include <memory>

#include "lyrics/Unt_Dlrc.h"
#include "lyrics/Unt_Slrc.h"
#include "main_window_fixture.h"
#include "ui/Translation.h"

namespace orvane::test {
namespace {

TEST(Translation, TheDesktopsMessageLanguageDecides) {
  struct Case {
    std::map<std::string, std::string> environment;
    bool english;
  };
  const Case cases[] = {
      {{}, false},
      {{{"LANG", "en_US.UTF-8"}}, true},
      {{{"LANG", "en"}}, true},
      {{{"LANG", "en@shaw"}}, true},
      {{{"LANG", "zh_CN.UTF-8"}}, false},
      {{{"LANG", "C.UTF-8"}}, false},
      {{{"LANG", "eno"}}, false},  // not English, only starting with "en"
      {{{"LANG", "zh_CN.UTF-8"}, {"LC_MESSAGES", "en_GB.UTF-8"}}, true},
      {{{"LANG", "en_US.UTF-8"}, {"LC_MESSAGES", "zh_CN.UTF-8"}}, false},
      {{{"LC_MESSAGES", "en_GB.UTF-8"}, {"LC_ALL", "zh_TW.UTF-8"}}, false},
      {{{"LC_ALL", ""}, {"LANG", "en_US.UTF-8"}}, true},  // empty counts as not set
      {{{"LANGUAGE", "en"}}, true},
      {{{"LANGUAGE", "en_GB:zh_CN"}, {"LANG", "zh_CN.UTF-8"}}, true},
      {{{"LANGUAGE", "zh_CN:en"}, {"LANG", "en_US.UTF-8"}}, false},  // the first wish wins
      {{{"LANGUAGE", "::en"}}, true},
      {{{"LANGUAGE", ":"}, {"LANG", "en_US.UTF-8"}}, true},
  };
  for (const Case& c : cases) {
    const bool english = ui::WantsEnglish([&c](const char* name) -> const char* {
      const auto found = c.environment.find(name);
      return found == c.environment.end() ? nullptr : found->second.c_str();
    });
    std::string described;
    for (const auto& [name, value] : c.environment) described += name + "=" + value + " ";
    EXPECT_EQ(english, c.english) << described;
  }
}

// The file dialog and the standard buttons are Qt's own: in a Chinese interface they speak Chinese
// too; in English Qt needs no translation.
TEST(Translation, QtsOwnDialogsSpeakTheInterfacesLanguage) {
  const std::unique_ptr<QTranslator> chinese(ui::LoadQtTranslation(false, nullptr));
  ASSERT_NE(chinese, nullptr) << "Qt's Chinese translation is not installed";
  for (const auto& [context, text] : {std::pair{"QFileDialog", "Look in:"}, std::pair{"QPlatformTheme", "Cancel"}}) {
    const QString translated = chinese->translate(context, text);
    EXPECT_FALSE(translated.isEmpty()) << context << " " << text;
    EXPECT_NE(translated, QString::fromLatin1(text));
  }
  EXPECT_EQ(ui::LoadQtTranslation(true, nullptr), nullptr);
}

class EnglishWindowTest : public MainWindowTest {
 protected:
  static void SetUpTestSuite() {
    ::setenv("LANGUAGE", "en_GB", 1);
    ::setenv("QT_QUICK_BACKEND", "software", 1);
    ASSERT_TRUE(ui::InstallTranslation(GuiApp()));
  }

  // The window with its scene, as the program makes them.
  app::TNimMain& CreateWithScene() {
    window = std::make_unique<app::TNimMain>(Services());
    scene = std::make_unique<QQmlApplicationEngine>();
    scene->rootContext()->setContextProperty(QStringLiteral("main"), window.get());
    scene->load(QUrl(QStringLiteral("qrc:/qt/qml/Orvane/Main.qml")));
    EXPECT_FALSE(scene->rootObjects().isEmpty());
    quickWindow = scene->rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(scene->rootObjects().first());
    window->SetWindow(quickWindow);
    window->FormCreate();
    ProcessEventsFor(50);
    return *window;
  }

  void TearDown() override {
    scene.reset();
    MainWindowTest::TearDown();
  }

  QQuickItem* Item(const char* name) const { return quickWindow->findChild<QQuickItem*>(QString::fromLatin1(name)); }

  // The "text" of every item of the scene.
  QStringList SceneTexts() const {
    QStringList texts;
    QList<QQuickItem*> items{quickWindow->contentItem()};
    for (qsizetype i = 0; i < items.size(); ++i) {
      items += items[i]->childItems();
      const QVariant text = items[i]->property("text");
      if (text.isValid() && !text.toString().isEmpty()) texts << text.toString();
    }
    return texts;
  }

  std::unique_ptr<QQmlApplicationEngine> scene;
  QQuickWindow* quickWindow = nullptr;
};

TEST_F(EnglishWindowTest, TheSceneSpeaksEnglish) {
  app::TNimMain& main = CreateWithScene();
  ASSERT_NE(quickWindow, nullptr);
  ASSERT_NE(Item("btnPlay"), nullptr);
  ASSERT_NE(Item("btnMin"), nullptr);
  EXPECT_EQ(Item("btnPlay")->property("hint").toString(), QStringLiteral("Play"));
  EXPECT_EQ(Item("btnMin")->property("hint").toString(), QStringLiteral("Music Cube"));
  const QStringList texts = SceneTexts();
  EXPECT_TRUE(texts.contains(QStringLiteral("My Music"))) << texts.join(u'|').toStdString();
  EXPECT_TRUE(texts.contains(QStringLiteral("Random")));
  EXPECT_TRUE(texts.contains(QStringLiteral("Add Songs")));
  EXPECT_TRUE(texts.contains(QStringLiteral("Add Folder")));
  EXPECT_EQ(main.TitleText(), QStringLiteral("Orvane: music, differently"));
  EXPECT_EQ(main.DeskLrc()->ShownText(), "Orvane: music, differently");
  // The idle title reads whole on its line.
  ASSERT_NE(Item("lbl_title"), nullptr);
  EXPECT_FALSE(Item("lbl_title")->property("truncated").toBool());
  // The window's identity is not a text for people: it stays as other programs look for it.
  EXPECT_EQ(quickWindow->title(), QStringLiteral("Orvane4"));
}

// English captions are longer than the Chinese ones the buttons were made for; they still fit.
TEST_F(EnglishWindowTest, TheLyricSearchButtonsCaptionsFit) {
  WriteSavedLists({{"晴天", "周杰伦", "/music/a.mp3"}});
  app::TNimMain& main = Create();
  PlayRow(0);
  main.OpenLyricSearch();
  ASSERT_NE(main.SearchDialog(), nullptr);
  QQuickWindow* dialog = main.SearchDialog()->Window();
  ASSERT_NE(dialog, nullptr);
  for (const char* name : {"btn_S", "btn_down"}) {
    auto* button = dialog->findChild<QQuickItem*>(QString::fromLatin1(name));
    ASSERT_NE(button, nullptr) << name;
    QString caption;
    for (QQuickItem* child : button->childItems()) {
      if (!child->inherits("QQuickText")) continue;
      caption = child->property("text").toString();
      EXPECT_LE(child->implicitWidth() + 8, button->width()) << name << " " << caption.toStdString();
    }
    EXPECT_FALSE(caption.isEmpty()) << name;
  }
}

TEST_F(EnglishWindowTest, MenusQuestionsAndNoticesSpeakEnglish) {
  WriteSavedLists(Songs(2));
  std::filesystem::create_directories(DataFolder());
  WriteFileBytes(DataFolder() + "Orvane.xml", "<MainConfig><Window>");  // cut off: moved aside
  app::TNimMain& main = Create();
  EXPECT_TRUE(main.NoticeText().startsWith(QStringLiteral("The settings file was damaged and has been set aside as ")))
      << main.NoticeText().toStdString();

  main.btnMenuClick(0, 0);
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  QStringList items;
  for (QAction* action : menu->actions())
    if (!action->isSeparator()) items << action->text();
  menu->close();
  EXPECT_EQ(items, (QStringList{"Tallo Music Sharing", "Add Music", "Add Folder", "Play/Pause", "Previous Song", "Next Song",
                                "Connect to a music server…", "Help", "Quit"}));

  main.lstDefault().SetSelectedIndex(0);
  main.pmdel_delselectClick();
  EXPECT_EQ(Questions, std::vector<std::string>{"Remove the selected song from the list?"});

  // The preset names are the file's own.
  EXPECT_EQ(main.effBoxItems().front(), "默认");
}

}  // namespace
}  // namespace orvane::test
