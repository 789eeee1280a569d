// Adding songs to the music list: tags read on a worker while the window goes on, rows in order with
// a progress line, one save at the end; songs and folders dropped onto the list.
#include <sys/stat.h>

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

TEST(AddFiles, FilterExtensions) {
  EXPECT_EQ(app::FilterExtensions("所有音乐|*.mp3;*.OGG;*.mp3;x;*.;*.flac"),
            (std::vector<std::string>{".mp3", ".ogg", ".flac"}));
  EXPECT_TRUE(app::FilterExtensions("").empty());
}

}  // namespace
}  // namespace orvane::test
