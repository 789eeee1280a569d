// Adding songs to the music list: tags read on a worker while the window goes on, rows in order with
// a progress line, one save at the end; songs and folders dropped onto the list.
#include <sys/stat.h>

#include <QAction>
#include <QMenu>
#include <QThread>
#include <atomic>
#include <filesystem>
#include <future>

#include "app/UntAddFiles.h"
#include "main_window_fixture.h"

namespace orvane::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Captions(const ui::PlayListModel& list) {
  std::vector<std::string> captions;
  for (const auto& row : list.Rows()) captions.push_back(row.Caption);
  return captions;
}

// Holds the adding worker on a file until the test opens it; opens by itself when the test ends, so a
// failed assertion never leaves the worker waiting.
class Gate {
 public:
  Gate() : opened(promise.get_future().share()) {}
  ~Gate() { Open(); }
  void Open() {
    if (!open.exchange(true)) promise.set_value();
  }
  std::shared_future<void> Waiter() const { return opened; }

 private:
  std::promise<void> promise;
  std::shared_future<void> opened;
  std::atomic<bool> open{false};
};

// The music list on disk once every change handed to the list saver is written.
int SavedMusicRows(app::TNimMain& main) {
  main.FlushListSaves();
  store::TYkPlist plist(DataFolder() + "Default.pls", "DefaultList");
  plist.Load("PlayerList");
  return plist.Count();
}

TEST_F(MainWindowTest, AddingReadsTagsOffTheMainThreadAndSavesOnceAtTheEnd) {
  WriteSavedLists(Songs(1));
  app::TNimMain& main = Create();
  ChosenFiles = {"/new/1.mp3", "/new/2.mp3", "/new/3.mp3", "/new/4.mp3", "/new/5.mp3"};
  for (const std::string& file : ChosenFiles) {
    std::string title = "T";
    title += file[5];
    engine->Tags[file].Title = title;
  }
  Gate gate;
  auto onMainThread = std::make_shared<std::atomic<bool>>(false);
  engine->BeforeReadTags = [released = gate.Waiter(), onMainThread, mainThread = QThread::currentThread()](
                               const std::string& file) {
    if (QThread::currentThread() == mainThread) *onMainThread = true;
    if (file == "/new/3.mp3") released.wait();
  };

  main.lbl_openClick();
  // The worker waits on the third file: the two before it are in the list, in order, and the
  // progress line says how far it got; nothing is saved yet.
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.lstDefault().Count() == 3; }));
  EXPECT_EQ(Captions(main.lstDefault()), (std::vector<std::string>{"歌1 - 歌手", "T1", "T2"}));
  EXPECT_EQ(main.AddProgressText().toStdString(), "正在添加 2/5");
  EXPECT_EQ(main.TrackList().size(), 3u);
  EXPECT_EQ(SavedMusicRows(main), 1);
  EXPECT_TRUE(main.Adding());

  gate.Open();
  ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.Adding(); }));
  EXPECT_FALSE(*onMainThread);
  EXPECT_EQ(Captions(main.lstDefault()), (std::vector<std::string>{"歌1 - 歌手", "T1", "T2", "T3", "T4", "T5"}));
  EXPECT_EQ(main.lstDefault().Row(5).Lno, "6");
  EXPECT_TRUE(main.AddProgressText().isEmpty());
  EXPECT_EQ(SavedMusicRows(main), 6);
  EXPECT_TRUE(engine->Opened.empty());  // the list had a song: nothing new starts
}

// Emptying the list while songs are still being added stops the adding: the list stays empty.
TEST_F(MainWindowTest, ClearingTheListStopsAnAddInProgress) {
  app::TNimMain& main = Create();
  Gate gate;
  engine->BeforeReadTags = [released = gate.Waiter()](const std::string& file) {
    if (file == "/new/2.mp3") released.wait();
  };
  ChosenFiles = {"/new/1.mp3", "/new/2.mp3", "/new/3.mp3"};
  main.lbl_openClick();
  ASSERT_TRUE(ProcessEventsUntil([&main] { return main.lstDefault().Count() == 1; }));
  main.pmdel_clearlistClick();
  gate.Open();
  ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.Adding(); }));
  ProcessEventsFor(20);
  EXPECT_EQ(main.lstDefault().Count(), 0);
  EXPECT_TRUE(main.AddProgressText().isEmpty());
  EXPECT_EQ(SavedMusicRows(main), 0);
}

// A dropped folder is searched through for songs (by extension, in any letter case), in the order a
// file manager lists them; other files, FIFOs and links back up the tree add nothing.
TEST_F(MainWindowTest, DroppedFolderAddsItsSongsInPathOrder) {
  TempDir drop;
  const fs::path root = drop.Path() / "album";
  fs::create_directories(root / "a");
  fs::create_directories(root / "sub");
  for (const char* name : {"a/10 ten.mp3", "a/2 two.mp3", "b.ogg", "C.FLAC", "notes.txt", "sub/d.mp3"})
    WriteFileBytes((root / name).string(), "x");
  ASSERT_EQ(::mkfifo((root / "pipe.mp3").c_str(), 0600), 0);
  fs::create_directory_symlink(root, root / "sub" / "loop");
  WriteFileBytes(drop.File("single.mp3"), "x");
  WriteFileBytes(drop.File("cover.jpg"), "x");

  app::TNimMain& main = Create();
  main.lstDefaultDragDrop({QUrl::fromLocalFile(QString::fromStdString(drop.File("single.mp3"))),
                           QUrl::fromLocalFile(QString::fromStdString(root.string())),
                           QUrl::fromLocalFile(QString::fromStdString(drop.File("cover.jpg"))),
                           QUrl(QStringLiteral("http://example.com/stream.mp3"))});
  ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.Adding(); }));
  EXPECT_EQ(Captions(main.lstDefault()), (std::vector<std::string>{"2 two", "10 ten", "b", "C", "d", "single"}));
  EXPECT_EQ(SavedMusicRows(main), 6);
  // Dropped onto an empty list, the first song starts as with the add button.
  EXPECT_EQ(LastOpened(), (root / "a" / "2 two.mp3").string());
}

// A folder handed over (a later start, orvanectl, the desktop's media controls) is searched through
// like a dropped one; a song handed over after it waits its turn, so the list keeps the order the
// user gave; a folder to play plays its first song once that is in.
TEST_F(MainWindowTest, HandedOverFoldersAddTheirSongsInOrder) {
  TempDir songs;
  const fs::path album = songs.Path() / "album";
  fs::create_directories(album / "cd2");
  for (const char* name : {"cd2/1 one.mp3", "10 ten.mp3", "2 two.mp3", "notes.txt"})
    WriteFileBytes((album / name).string(), "x");
  WriteFileBytes(songs.File("single.mp3"), "x");
  WriteFileBytes(songs.File("later.txt"), "x");  // named on its own: added although no song's type

  WriteSavedLists(Songs(1));
  app::TNimMain& main = Create();
  main.WMSharedCommand(app::CMD_PLAYFILE, album.string());
  main.WMSharedCommand(app::CMD_APPENDFILE, songs.File("later.txt"));
  main.WMSharedCommand(app::CMD_APPENDFILE, songs.File("single.mp3"));
  ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.Adding(); }));
  EXPECT_EQ(Captions(main.lstDefault()),
            (std::vector<std::string>{"歌1 - 歌手", "2 two", "10 ten", "1 one", "later", "single"}));
  EXPECT_EQ(LastOpened(), (album / "2 two.mp3").string());
  EXPECT_EQ(main.Shell().CurrentIndex, 1);
  EXPECT_EQ(SavedMusicRows(main), 6);

  // Only added: nothing new plays; a folder without songs adds nothing.
  fs::create_directories(songs.Path() / "empty");
  main.WMSharedCommand(app::CMD_APPENDFILE, album.string());
  main.WMSharedCommand(app::CMD_PLAYFILE, (songs.Path() / "empty").string());
  ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.Adding(); }));
  EXPECT_EQ(main.lstDefault().Count(), 9);
  EXPECT_EQ(engine->Opened.size(), 1u);
}

// A folder to play that is still being read when the user starts another song: the user's song
// keeps playing, the folder's songs are only added.
TEST_F(MainWindowTest, AFolderToPlayDoesNotOverrideTheUsersLaterChoice) {
  TempDir songs;
  WriteFileBytes(songs.File("a.mp3"), "x");
  WriteSavedLists(Songs(2));
  app::TNimMain& main = Create();
  Gate gate;
  engine->BeforeReadTags = [released = gate.Waiter()](const std::string&) { released.wait(); };
  main.WMSharedCommand(app::CMD_PLAYFILE, songs.Path().string());
  PlayRow(1);
  gate.Open();
  ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.Adding(); }));
  EXPECT_EQ(main.lstDefault().Count(), 3);
  EXPECT_EQ(LastOpened(), "/music/song2.mp3");
  EXPECT_EQ(main.Shell().CurrentIndex, 1);
}

// "添加文件夹" in the main menu: the chosen folder's songs, in path order; into an empty list the
// first of them starts, as with "添加音乐"; cancelling adds nothing.
TEST_F(MainWindowTest, AddFolderMenuItemAddsTheChosenFoldersSongs) {
  TempDir songs;
  for (const char* name : {"b.mp3", "a/x.ogg"}) {
    fs::create_directories((songs.Path() / name).parent_path());
    WriteFileBytes((songs.Path() / name).string(), "x");
  }
  std::vector<std::string> titles;
  std::string chosen;
  AdjustServices = [&](app::TNimMainServices& services) {
    services.BrowseForFolder = [&](const std::string& title, std::string& folder) {
      titles.push_back(title);
      if (chosen.empty()) return false;
      folder = chosen;
      return true;
    };
  };
  app::TNimMain& main = Create();
  QAction* item = main.pm_main()->findChild<QAction*>("pmf_openfolder");
  ASSERT_NE(item, nullptr);
  item->trigger();
  ProcessEventsFor(20);
  EXPECT_EQ(main.lstDefault().Count(), 0);
  chosen = songs.Path().string();
  item->trigger();
  ASSERT_TRUE(ProcessEventsUntil([&main] { return !main.Adding() && main.lstDefault().Count() > 0; }));
  EXPECT_EQ(Captions(main.lstDefault()), (std::vector<std::string>{"x", "b"}));
  EXPECT_EQ(LastOpened(), (songs.Path() / "a" / "x.ogg").string());
  EXPECT_EQ(titles, (std::vector<std::string>{"添加文件夹", "添加文件夹"}));
}

TEST(AddFiles, FilterExtensions) {
  EXPECT_EQ(app::FilterExtensions("所有音乐|*.mp3;*.OGG;*.mp3;x;*.;*.flac"),
            (std::vector<std::string>{".mp3", ".ogg", ".flac"}));
  EXPECT_TRUE(app::FilterExtensions("").empty());
}

}  // namespace
}  // namespace orvane::test
