// The lyric search dialog against a local stand-in for the lyric provider: results in order, the
// stop after the current row, downloading the chosen row for the playing track, failures that
// change nothing, a dialog closed while its threads run, and its scene.
#include <gtest/gtest.h>

#include <QApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest/QTest>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "lyrics/LrcClass.h"
#include "lyrics/Unt_Slrc.h"
#include "support/event_loop.h"
#include "support/fixture_server.h"
#include "support/temp_dir.h"

namespace orvane::lyrics {
namespace {

namespace fs = std::filesystem;
using test::FixtureReply;
using test::FixtureServer;
using test::ProcessEventsUntil;

const std::string kLibrary = std::string(ORVANE_BIN_DIR) + "/liblrcdown.so";

FixtureReply Json(const std::string& body) { return FixtureReply::Text(body, "application/json"); }

std::string Results(int count) {
  std::string json = "[";
  for (int i = 1; i <= count; ++i) {
    if (i > 1) json += ",";
    json += R"({"id": )" + std::to_string(100 + i) + R"(, "trackName": "歌)" + std::to_string(i) +
            R"(", "artistName": "歌手)" + std::to_string(i) + R"(", "albumName": "专辑)" + std::to_string(i) + "\"}";
  }
  return json + "]";
}

std::vector<std::string> Texts(const TLrcClass& doc) {
  std::vector<std::string> out;
  for (const TLyricItem& item : doc.Document().Items()) out.push_back(item.Text);
  return out;
}

QStringList& Warnings() {
  static QStringList warnings;
  return warnings;
}

class SearchDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("QT_QUICK_BACKEND", "software", 1);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
      if (type == QtDebugMsg || type == QtInfoMsg || !message.contains(QLatin1String(".qml"))) return;
      Warnings() << message;
      std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    static int argc = 1;
    static char name[] = "search_dialog_test";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);
    (void)app;
  }

  void SetUp() override {
    Warnings().clear();
    ::setenv("ORVANE_LYRICS_URL", server.BaseUrl().c_str(), 1);
    ::setenv("ORVANE_LYRICS_TIMEOUT_MS", "3000", 1);
    downloader = TLyricDownloader::LoadFile(kLibrary);
    ASSERT_TRUE(downloader);
    fs::create_directories(lyricFolder);
  }

  void TearDown() override {
    dialog.reset();
    engine.reset();
    test::ProcessEventsFor(10);
  }

  TNimSlrc& Open(bool withScene = false) {
    TNimSlrc::TServices services;
    services.Downloader = downloader;
    services.LrcDoc = &doc;
    services.CurrentTrack = [this] { return playing; };
    services.LyricFolder = [this] { return lyricFolder; };
    if (withScene) {
      engine = std::make_unique<QQmlEngine>();
      services.SceneEngine = [this] { return engine.get(); };
    }
    dialog = std::make_unique<TNimSlrc>(std::move(services));
    dialog->SetTitle(QStringLiteral("歌"));
    dialog->SetSinger(QStringLiteral("歌手"));
    return *dialog;
  }

  void Search() {
    dialog->btn_SClick();
    ASSERT_TRUE(ProcessEventsUntil([this] { return !dialog->SearchRunning(); }));
  }

  // Downloads row index and waits for the completion.
  TSearchDownloadDoneResult Download(int index) {
    TSearchDownloadDoneResult result;
    bool finished = false;
    auto connection = QObject::connect(dialog.get(), &TNimSlrc::downloadFinished,
                                       [&](const TSearchDownloadDoneResult& done) {
                                         result = done;
                                         finished = true;
                                       });
    dialog->SetSelectedIndex(index);
    dialog->lv_1DblClick();
    EXPECT_TRUE(ProcessEventsUntil([&] { return finished; }));
    QObject::disconnect(connection);
    return result;
  }

  FixtureServer server;
  std::shared_ptr<TLyricDownloader> downloader;
  test::TempDir folders;
  std::string lyricFolder = folders.File("lrc");
  TLrcClass doc;
  std::optional<TLyricTrack> playing = TLyricTrack{0, "/music/what.mp3", "What?", "A/B"};
  std::unique_ptr<QQmlEngine> engine;
  std::unique_ptr<TNimSlrc> dialog;
};

TEST_F(SearchDialogTest, ResultsArriveInOrderAndTheButtonFollowsTheSearch) {
  server.Serve("/api/search", Json(Results(4)));
  TNimSlrc& dlg = Open();
  EXPECT_EQ(dlg.SearchCaption(), "搜索");
  dlg.btn_SClick();
  EXPECT_EQ(dlg.SearchCaption(), "停止");
  ASSERT_TRUE(ProcessEventsUntil([&] { return !dlg.SearchRunning(); }));
  EXPECT_EQ(dlg.SearchCaption(), "搜索");

  const TLrcResultModel& rows = dlg.lv_1();
  ASSERT_EQ(rows.Count(), 4);
  for (int i = 0; i < 4; ++i) {
    const QModelIndex at = rows.index(i);
    const std::string n = std::to_string(i + 1);
    EXPECT_EQ(rows.data(at, TLrcResultModel::LnoRole).toString().toStdString(), n);
    EXPECT_EQ(rows.data(at, TLrcResultModel::TitleRole).toString().toStdString(), "歌" + n);
    EXPECT_EQ(rows.data(at, TLrcResultModel::SingerRole).toString().toStdString(), "歌手" + n);
    EXPECT_EQ(rows.data(at, TLrcResultModel::SsRole).toString().toStdString(), "专辑" + n);
  }
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/api/search?track_name=%E6%AD%8C&artist_name=%E6%AD%8C%E6%89%8B");

  // A new search starts from an empty list; nothing found says so.
  server.Serve("/api/search", Json("[]"));
  Search();
  EXPECT_EQ(dlg.lv_1().Count(), 0);
  EXPECT_EQ(dlg.StatusText(), "没有找到歌词");
  // A server that answers with an error is not "no connection"; a server nobody runs is.
  server.Serve("/api/search", FixtureReply::Status(500));
  Search();
  EXPECT_EQ(dlg.StatusText(), "歌词服务器出错，请稍后再试");
  ::setenv("ORVANE_LYRICS_URL", "http://127.0.0.1:9", 1);
  downloader = TLyricDownloader::LoadFile(kLibrary);
  TNimSlrc& offline = Open();
  Search();
  EXPECT_EQ(offline.StatusText(), "无法连接歌词服务器");
}

// A singer alone is searched as free text, and what the service answers is shown as such.
TEST_F(SearchDialogTest, ASingerAloneIsSearchedAsFreeText) {
  server.Serve("/api/search?q=%E5%91%A8%E6%9D%B0%E4%BC%A6", Json(Results(2)));
  server.Serve("/api/search?q=nobody", Json("[]"));
  TNimSlrc& dlg = Open();
  dlg.SetTitle(QString());
  dlg.SetSinger(QStringLiteral("周杰伦"));
  Search();
  EXPECT_EQ(dlg.lv_1().Count(), 2);
  EXPECT_EQ(dlg.StatusText(), "");
  dlg.SetSinger(QStringLiteral("nobody"));
  Search();
  EXPECT_EQ(dlg.lv_1().Count(), 0);
  EXPECT_EQ(dlg.StatusText(), "没有找到歌词");
}

// Instrumental records and records with words but no times are marked in the list. Choosing an
// instrumental gives a lyric that says so; choosing words without times changes nothing, as there
// is nothing the desktop line could follow, and says why.
TEST_F(SearchDialogTest, InstrumentalAndUntimedRecordsAreMarkedAndHandledApart) {
  server.Serve("/api/search", Json(R"([
      {"id": 101, "trackName": "歌", "instrumental": false, "syncedLyrics": "[00:01.00]词", "plainLyrics": "词"},
      {"id": 102, "trackName": "纯", "instrumental": true, "syncedLyrics": null, "plainLyrics": null},
      {"id": 103, "trackName": "文", "instrumental": false, "syncedLyrics": null, "plainLyrics": "只有文字"}])"));
  const std::string saved = lyricFolder + "/What AB.lrc";
  test::WriteFileBytes(saved, "[00:01.00]the good one\r\n");
  doc.Load("[00:01.00]the good one");
  TNimSlrc& dlg = Open();
  Search();
  ASSERT_EQ(dlg.lv_1().Count(), 3);
  std::vector<std::string> marks;
  for (int i = 0; i < 3; ++i)
    marks.push_back(dlg.lv_1().data(dlg.lv_1().index(i), TLrcResultModel::MarkRole).toString().toStdString());
  EXPECT_EQ(marks, (std::vector<std::string>{"", "纯音乐", "无时间轴"}));

  server.ClearRequests();
  const TSearchDownloadDoneResult untimed = Download(2);
  EXPECT_FALSE(untimed.Loaded);
  EXPECT_EQ(dlg.StatusText(), "这一项只有歌词文本，没有时间轴");
  EXPECT_EQ(Texts(doc), std::vector<std::string>{"the good one"});
  EXPECT_EQ(test::ReadFileBytes(saved), "[00:01.00]the good one\r\n");

  const TSearchDownloadDoneResult instrumental = Download(1);
  EXPECT_TRUE(instrumental.Loaded);
  EXPECT_EQ(Texts(doc), std::vector<std::string>{std::string(TLrcClass::kInstrumentalText)});
  EXPECT_EQ(test::ReadFileBytes(saved), TLrcClass::InstrumentalLyric());
  EXPECT_TRUE(server.Requests().empty());  // the search told all there was to know
}

TEST_F(SearchDialogTest, StopEndsTheSearchAfterTheRowBeingAdded) {
  server.Serve("/api/search", Json(Results(40)));
  TNimSlrc& dlg = Open();
  // The user presses "停止" while the third row is being added.
  QObject::connect(&dlg.lv_1(), &TLrcResultModel::countChanged, [&] {
    if (dlg.lv_1().Count() == 3) dlg.btn_SClick();
  });
  Search();
  EXPECT_EQ(dlg.lv_1().Count(), 3);
  EXPECT_EQ(dlg.SearchCaption(), "搜索");
}

TEST_F(SearchDialogTest, RowThreeDownloadsResultThreeForThePlayingTrack) {
  server.Serve("/api/search", Json(Results(5)));
  server.Serve("/api/get/103", Json(R"({"id": 103, "syncedLyrics": "[00:01.00]第三首\n[00:02.00]第二行"})"));
  TNimSlrc& dlg = Open();
  Search();
  ASSERT_EQ(dlg.lv_1().Count(), 5);

  dlg.SetSelectedIndex(2);
  dlg.lv_1DblClick();
  EXPECT_EQ(dlg.DownCaption(), "停止下载");
  dlg.lv_1DblClick();  // asking the download to stop changes nothing
  ASSERT_TRUE(ProcessEventsUntil([&] { return !dlg.DownloadRunning(); }));
  EXPECT_EQ(dlg.DownCaption(), "下载歌词");

  EXPECT_EQ(Texts(doc), (std::vector<std::string>{"第三首", "第二行"}));  // no closing line
  // Named after the playing track, not the boxes, without the characters a name cannot hold.
  const std::string saved = lyricFolder + "/What AB.lrc";
  EXPECT_EQ(test::ReadFileBytes(saved), "[00:01.00]第三首\r\n[00:02.00]第二行\r\n");
  EXPECT_EQ(dlg.StatusText(), "歌词已下载");
  EXPECT_EQ(server.Requests().back().target, "/api/get/103");

  // No row selected: nothing happens.
  dlg.SetSelectedIndex(-1);
  dlg.lv_1DblClick();
  EXPECT_FALSE(dlg.DownloadRunning());
}

TEST_F(SearchDialogTest, AFailedOrEmptyDownloadKeepsTheLyricAndTheFile) {
  server.Serve("/api/search", Json(Results(2)));
  server.Serve("/api/get/101", FixtureReply::Status(500, "<html>down</html>"));
  server.Serve("/api/get/102", Json(R"({"id": 102, "syncedLyrics": ""})"));
  const std::string saved = lyricFolder + "/What AB.lrc";
  test::WriteFileBytes(saved, "[00:01.00]the good one\r\n");
  doc.Load("[00:01.00]the good one");
  TNimSlrc& dlg = Open();
  Search();

  const std::pair<int, const char*> cases[] = {{0, "歌词下载失败，请稍后再试"}, {1, "这一项没有可用的歌词"}};
  for (const auto& [row, status] : cases) {
    const TSearchDownloadDoneResult done = Download(row);
    EXPECT_FALSE(done.Loaded) << row;
    EXPECT_EQ(done.SavedFile, "") << row;
    EXPECT_EQ(dlg.StatusText().toStdString(), status);
    EXPECT_EQ(Texts(doc), std::vector<std::string>{"the good one"});
    EXPECT_EQ(test::ReadFileBytes(saved), "[00:01.00]the good one\r\n");
  }
}

TEST_F(SearchDialogTest, ADownloadThatOutlivesItsTrackIsSavedForThatTrackOnly) {
  server.Serve("/api/search", Json(Results(1)));
  FixtureReply slow = Json(R"({"id": 101, "syncedLyrics": "[00:01.00]for what"})");
  slow.delayMs = 300;
  server.Serve("/api/get/101", slow);
  TNimSlrc& dlg = Open();
  Search();
  dlg.SetSelectedIndex(0);
  dlg.lv_1DblClick();
  playing = TLyricTrack{0, "/music/next.mp3", "Next", "Song"};  // the song ended meanwhile
  ASSERT_TRUE(ProcessEventsUntil([&] { return !dlg.DownloadRunning(); }));
  EXPECT_EQ(doc.Document().Count(), 0);
  EXPECT_EQ(test::ReadFileBytes(lyricFolder + "/What AB.lrc"), "[00:01.00]for what\r\n");
  EXPECT_FALSE(fs::exists(lyricFolder + "/Next Song.lrc"));
}

TEST_F(SearchDialogTest, AClosedDialogIgnoresLateResults) {
  FixtureReply slowSearch = Json(Results(3));
  slowSearch.delayMs = 300;
  server.Serve("/api/search", slowSearch);
  TNimSlrc& dlg = Open();
  int closed = 0;
  QObject::connect(&dlg, &TNimSlrc::closed, [&] { ++closed; });
  dlg.btn_SClick();
  dlg.CloseButton1Click();
  EXPECT_EQ(closed, 1);
  test::ProcessEventsFor(600);
  EXPECT_EQ(dlg.lv_1().Count(), 0);

  // A download under way when the dialog closes, and the dialog freed before it ends.
  server.Serve("/api/search", Json(Results(1)));
  FixtureReply slowLyric = Json(R"({"id": 101, "syncedLyrics": "[00:01.00]late"})");
  slowLyric.delayMs = 300;
  server.Serve("/api/get/101", slowLyric);
  TNimSlrc& second = Open();
  Search();
  second.SetSelectedIndex(0);
  second.lv_1DblClick();
  second.CloseButton1Click();
  dialog.reset();
  test::ProcessEventsFor(600);
  EXPECT_EQ(doc.Document().Count(), 0);
  EXPECT_TRUE(fs::is_empty(lyricFolder));
}

TEST_F(SearchDialogTest, SceneShowsTheDialogAndPassesClicksOn) {
  server.Serve("/api/search", Json(Results(2)));
  TNimSlrc& dlg = Open(true);
  dlg.Show();
  QQuickWindow* window = dlg.Window();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
  EXPECT_EQ(window->size(), QSize(398, 238));
  EXPECT_EQ(window->modality(), Qt::ApplicationModal);

  auto item = [window](const char* name) -> QQuickItem* {
    QList<QQuickItem*> items{window->contentItem()};
    for (qsizetype i = 0; i < items.size(); ++i) {
      if (items[i]->objectName() == QLatin1String(name)) return items[i];
      items += items[i]->childItems();
    }
    return nullptr;
  };
  struct Place {
    const char* name;
    QRectF rect;
  };
  const Place places[] = {{"CloseButton1", {349, 1, 20, 20}}, {"edt_Title", {84, 25, 190, 22}},
                          {"edt_Singer", {84, 55, 190, 22}},  {"btn_S", {289, 25, 80, 22}},
                          {"btn_down", {289, 55, 80, 22}},    {"lv_1", {10, 99, 378, 129}}};
  for (const Place& p : places) {
    QQuickItem* found = item(p.name);
    ASSERT_NE(found, nullptr) << p.name;
    EXPECT_EQ(QRectF(found->x(), found->y(), found->width(), found->height()), p.rect) << p.name;
  }

  // Typing a title and pressing Enter searches for it.
  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(180, 36));
  QTest::keyClick(window, Qt::Key_End);
  QTest::keyClick(window, Qt::Key_X);
  EXPECT_EQ(dlg.Title(), "歌x");
  QTest::keyClick(window, Qt::Key_Return);
  ASSERT_TRUE(ProcessEventsUntil([&] { return !dlg.SearchRunning() && dlg.lv_1().Count() == 2; }));
  EXPECT_EQ(item("btn_S")->property("text").toString(), "搜索");

  // A double click on the second row downloads it.
  server.Serve("/api/get/102", Json(R"({"id": 102, "syncedLyrics": "[00:01.00]二"})"));
  QTest::mouseDClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(100, 99 + 25 + 12));
  EXPECT_EQ(dlg.SelectedIndex(), 1);
  ASSERT_TRUE(ProcessEventsUntil([&] { return !dlg.DownloadRunning() && doc.Document().Count() == 1; }));

  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(359, 11));
  EXPECT_TRUE(dlg.IsClosed());
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(Warnings().isEmpty()) << Warnings().join('\n').toStdString();
}

}  // namespace
}  // namespace orvane::lyrics
