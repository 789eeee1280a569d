// The two list views: adding songs, deleting one or all, starting a song by double-click, the tab
// change, and loading and saving both lists.
#include <QCoreApplication>
#include <QCursor>
#include <QMenu>
#include <algorithm>
#include <utility>

#include "app/FileUrl.h"
#include "app/SystemFault.h"
#include "app/UntAddFiles.h"
#include "app/unt_main.h"
#include "store/ListSaver.h"
#include "store/PlaylistReader.h"
#include "store/UYmPlayerlist.h"
#include "text/Legacy.h"
#include "text/TextUtil.h"
#include "ui/PlayListModel.h"

namespace orvane::app {
namespace {

constexpr const char* kPlaylistRoot = "DefaultList";

}  // namespace

ui::PlayListModel& TNimMain::TabView() { return tabIndex == 1 ? *rndList : *musicList; }

size_t TTrackList::size() const { return source ? static_cast<size_t>(source->Count()) : 0; }

const TPlayListItem& TTrackList::operator[](size_t index) const { return source->Item(static_cast<int>(index)); }

std::vector<TPlayListItem> TNimMain::TrackList() const {
  std::vector<TPlayListItem> items;
  for (size_t i = 0; i < trackList.size(); ++i) items.push_back(trackList[i]);
  return items;
}

void TNimMain::AddListItem(ui::PlayListModel& view, int number, const std::string& title, const std::string& singer,
                           const std::string& location) {
  view.AddRow(number, title, singer, location);
}

// The mirror is the view's rows themselves, so appending to an empty mirror is pointing it at the
// view; emptyFirst is false only where the mirror is empty (start-up).
void TNimMain::RebuildTrackList(const ui::PlayListModel& view, bool /*emptyFirst*/) { trackList.Mirror(&view); }

// Only "/" separates folders here: "\\" and ":" are ordinary characters of a Linux file name
// ("Re: Stacks.mp3"). A name that is all extension (".mp3") keeps its dot rather than becoming an
// empty title.
std::string TNimMain::NameWithoutExt(const std::string& path) {
  const auto cut = path.rfind('/');
  std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  const auto dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string TNimMain::TitleForFile(const std::string& path, const audio::TTags& tags) {
  // A tag title of blanks only does not count; one with blanks around it is kept as it is.
  if (!text::Trim(tags.Title).empty()) return tags.Title;
  // The name's bytes need not be text (a name from a Windows zip holds GBK): the title shows them
  // as the text they read as, while the location keeps the bytes.
  std::string name = NameWithoutExt(path);
  return text::IsValidUtf8(name) ? name : text::FromLegacy(name);
}

void TNimMain::LoadLists() {
  // The lists stream past without building the file's document, and each song is made once, as
  // the row that holds it; a file that does not read cleanly goes through the store, which moves it
  // aside.
  store::TSongList lists[2];
  const bool read = store::ReadPlaylistLists(shell.PlaylistFile, {"PlayerList", "RndList"},
                                             [&lists](size_t list, store::TPList& song) {
                                               lists[list].push_back(store::MakeSong(
                                                   std::move(song.Title), std::move(song.Artist), std::move(song.Path)));
                                             });
  if (!read) {
    lists[0].clear();
    lists[1].clear();
    store::TYkPlist plist(shell.PlaylistFile, kPlaylistRoot);
    if (plist.MovedAside()) ReportMovedAside(tr("播放列表"), plist.MovedAsidePath());
    for (int list = 0; list < 2; ++list) {
      plist.Clear();
      plist.Load(list == 0 ? "PlayerList" : "RndList");
      for (const store::TPList& song : plist.Items()) lists[list].push_back(store::MakeSong(song.Title, song.Artist, song.Path));
    }
  }
  musicList->AddSongs(std::move(lists[0]));
  RebuildTrackList(*musicList, false);
  rndList->AddSongs(std::move(lists[1]));
}

void TNimMain::SaveActiveList() { SaveList(shell.ActiveList); }

void TNimMain::SaveList(uint8_t list) {
  dirtyLists |= static_cast<uint8_t>(list == 1 ? 2 : 1);
  NoteListChangesWaiting(true);
  if (!listSaveTimer.isActive()) listSaveTimer.start();
  UpdateListHint();
}

// Each dirty list goes to the saver as a snapshot of its songs (shared, so even a big list is handed
// over in a moment); the other list goes along for a file that holds nothing to keep.
void TNimMain::SubmitListSaves() {
  listSaveTimer.stop();
  if (!listSaver || dirtyLists == 0) return;
  // While a write is under way the changes wait for it (looked at again shortly): the worker could
  // not start them sooner, and a long list is then taken once per write, not once per change.
  if (listSaver->Busy() && !flushingListSaves) {
    listSaveTimer.start();
    return;
  }
  for (uint8_t list = 0; list < 2; ++list) {
    if (!(dirtyLists & (1 << list))) continue;
    const bool random = list == 1;
    store::TListSave save;
    save.FileName = shell.PlaylistFile;
    save.RootName = kPlaylistRoot;
    save.ListName = random ? "RndList" : "PlayerList";
    save.SongName = "LIST";
    save.Songs = (random ? *rndList : *musicList).Songs();
    save.OtherListName = random ? "PlayerList" : "RndList";
    save.OtherSongs = (random ? *musicList : *rndList).Songs();
    listSaver->Queue(std::move(save));
  }
  dirtyLists = 0;
  NoteListChangesWaiting(false);
}

void TNimMain::FlushListSaves() {
  flushingListSaves = true;
  SubmitListSaves();
  flushingListSaves = false;
  if (listSaver) listSaver->Flush();
  // Run the saves' reports now rather than in a later turn of the event loop.
  QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

// One report per failure: a save that fails again for the same reason says nothing new.
void TNimMain::ListSaved(const store::TListSaveResult& result) {
  ++listSavesWritten;
  if (!result.MovedAsidePath.empty()) ReportMovedAside(tr("播放列表"), result.MovedAsidePath);
  if (result.Ok) {
    listSaveError.clear();
    return;
  }
  if (result.Error == listSaveError) return;
  listSaveError = result.Error;
  ShowNotice(tr("播放列表没有保存成功：%1").arg(QString::fromStdString(result.Error)).toStdString());
}

void TNimMain::UpdateListHint() {
  const bool visible = musicList->Count() > 0;
  if (visible == musicListVisible) return;
  musicListVisible = visible;
  emit hintChanged();
}

bool TNimMain::AddFilesFromDialog() {
  if (!services.ChooseFiles) return false;
  std::vector<std::string> files = services.ChooseFiles(engine ? engine->FileFilter() : std::string());
  if (files.empty()) return false;
  AddFiles(std::move(files), TAddFilesThread::TSearch::None);
  return true;
}

// "添加文件夹": the songs in the chosen folder and below it, in path order, as a dropped folder's.
bool TNimMain::AddFolderFromDialog() {
  if (!services.BrowseForFolder) return false;
  std::string folder = lastAddedFolder;
  if (!services.BrowseForFolder(tr("添加文件夹").toStdString(), folder) || folder.empty()) return false;
  lastAddedFolder = folder;
  return AddFiles({folder}, TAddFilesThread::TSearch::All) != 0;
}

// Adding runs on a worker: tags are read there and the rows arrive in order while the window goes
// on working. The list is saved once, when the last row is in. Returns the job, 0 when nothing was
// queued.
uint64_t TNimMain::AddFiles(std::vector<std::string> paths, TAddFilesThread::TSearch search) {
  if (!addFiles) {
    audio::IAudioEngine* tagReader = engine.get();  // the worker is stopped before the engine goes
    TAddFilesThread::THandlers handlers;
    handlers.Rows = [this](std::vector<TAddedFile>& files) { AddedFiles(files); };
    handlers.Progress = [this](int done, int total) {
      SetAddProgress(tr("正在添加 %1/%2").arg(done).arg(total));
    };
    handlers.Finished = [this] { AddingFinished(); };
    addFiles = std::make_unique<TAddFilesThread>(
        [tagReader](const std::string& path, audio::TTags& tags) {
          if (tagReader) tagReader->ReadTags(path, tags);
        },
        std::move(handlers));
  }
  std::vector<std::string> extensions;
  if (search != TAddFilesThread::TSearch::None) {
    extensions = FilterExtensions(engine ? engine->FileFilter() : std::string());
    if (extensions.empty()) return 0;
  }
  const uint64_t job = addFiles->Add(std::move(paths), std::move(extensions), search);
  if (startOnAdd) startJobs.insert(job);
  return job;
}

bool TNimMain::Adding() const { return addFiles && addFiles->Busy(); }

void TNimMain::AddedFiles(std::vector<TAddedFile>& files) {
  for (size_t i = 0; i < files.size();) {
    const uint64_t job = files[i].Job;
    store::TSongList songs;
    for (; i < files.size() && files[i].Job == job; ++i) {
      TAddedFile& file = files[i];
      std::string title = TitleForFile(file.Path, file.Tags);
      songs.push_back(store::MakeSong(std::move(title), std::move(file.Tags.Artist), std::move(file.Path)));
    }
    const bool wasEmpty = trackList.empty();
    const int firstRow = musicList->Count();
    musicList->AddSongs(std::move(songs));
    // The mirror follows the music list's rows; it is pointed at them again after a random list
    // that brought nothing had left it empty.
    if (shell.ActiveList == 0) RebuildTrackList(*musicList, true);
    // Songs added to an empty active list start playing, as soon as the first of them is in.
    if (startJobs.erase(job) > 0 && wasEmpty && !trackList.empty()) StartFirstSong();
    if (const auto play = playJobs.find(job); play != playJobs.end()) {
      const bool current = play->second == userActionSerial;
      playJobs.erase(play);
      if (current) PlayAddedRow(firstRow);
    }
  }
  UpdateListHint();
}

void TNimMain::StartFirstSong() {
  NoteUserAction();
  shell.CurrentIndex = 0;
  if (!engine) return;
  engine->Stop();
  engine->Open(trackList[0].Location);
}

// A handed-over song or folder to play: its first row plays once it is in, as a song handed over
// on its own plays at once (unless a stream is being connected).
void TNimMain::PlayAddedRow(int row) {
  if (!engine || engine->State() == audio::StateConnecting || row < 0 || row >= musicList->Count()) return;
  NoteUserAction();
  lanErrTimer.stop();  // as for a song handed over on its own
  shell.ActiveList = 0;
  engine->Stop();
  RebuildTrackList(*musicList, true);
  shell.CurrentIndex = row;
  engine->Open(trackList[static_cast<size_t>(row)].Location);
}

void TNimMain::AddingFinished() {
  startJobs.clear();
  playJobs.clear();
  SetAddProgress({});
  if (!closed) SaveList(0);
}

void TNimMain::SetAddProgress(const QString& text) {
  if (text == addProgressText) return;
  addProgressText = text;
  emit addProgressChanged();
}

void TNimMain::lbl_openClick() {
  startOnAdd = trackList.empty();
  AddFilesFromDialog();
  startOnAdd = false;
}

void TNimMain::pmf_openfolderClick() {
  startOnAdd = trackList.empty();
  AddFolderFromDialog();
  startOnAdd = false;
}

void TNimMain::lstDefaultDragDrop(const QList<QUrl>& urls) {
  std::vector<std::string> paths;
  for (const QUrl& url : urls)
    if (url.isLocalFile()) paths.push_back(LocalFileBytes(url));
  if (paths.empty()) return;
  startOnAdd = trackList.empty();
  AddFiles(std::move(paths), TAddFilesThread::TSearch::All);
  startOnAdd = false;
}

void TNimMain::plst_listItemDblClick() {
  if (!engine || engine->State() == audio::StateConnecting) return;
  ui::PlayListModel& view = TabView();
  const int selected = view.SelectedIndex();
  if (selected < 0 || selected >= view.Count()) return;
  NoteUserAction();
  engine->Stop();
  shell.ActiveList = tabIndex == 1 ? 1 : 0;
  shell.CurrentIndex = selected;
  RebuildTrackList(view, true);
  engine->Open(trackList[static_cast<size_t>(shell.CurrentIndex)].Location);
}

void TNimMain::Confirm(const std::string& message, std::function<void()> onYes) {
  if (services.AskYesNo) {
    if (services.AskYesNo(message) == mrYes && onYes) onYes();
    return;
  }
  // The scene's pop-up answers later, through MsgPop1Result; nothing waits for it here, so the
  // action must not rely on anything that can change meanwhile. A newer question replaces an
  // unanswered one, which then counts as "No".
  msgText = QString::fromStdString(message);
  pendingConfirm = std::move(onYes);
  msgVisible = true;
  emit msgChanged();
}

void TNimMain::MsgPop1Result(int result) {
  if (!msgVisible) return;
  msgVisible = false;
  std::function<void()> onYes = std::exchange(pendingConfirm, {});
  emit msgChanged();
  if (result == mrYes && onYes) onYes();
}

store::TSong TNimMain::SelectedSong(const ui::PlayListModel& view) {
  const int selected = view.SelectedIndex();
  if (selected < 0 || selected >= view.Count()) return nullptr;
  return view.Songs()[static_cast<size_t>(selected)];
}

void TNimMain::pmdel_delselectClick() { AskToDelete(SelectedSong(*musicList)); }

// The song is held, not its row: rows added, removed or played before the answer leave it the same
// song, and one that has left the list by then is not looked for elsewhere.
void TNimMain::AskToDelete(store::TSong song) {
  if (!song) return;
  Confirm(tr("确定要删除当前选择的歌曲吗？").toStdString(), [this, song] { DeleteSong(song); });
}

void TNimMain::DeleteSong(const store::TSong& song) {
  const store::TSongList& songs = musicList->Songs();
  const auto found = std::find(songs.begin(), songs.end(), song);
  if (found == songs.end()) return;
  const int k = static_cast<int>(found - songs.begin());
  if (shell.ActiveList == 0 && k == shell.CurrentIndex) {
    if (engine) engine->Stop();
    lrcDoc.Load("");
  }
  if (shell.ActiveList == 0 && k < shell.CurrentIndex) --shell.CurrentIndex;
  // The mirror loses the row with the view, and the rows below are renumbered with it.
  musicList->RemoveRow(k);
  SaveList(0);
}

void TNimMain::pmdel_clearlistClick() {
  if (musicList->Count() == 0) return;
  Confirm(tr("确定要清空当前歌曲列表？").toStdString(), [this] { ClearMusicList(); });
}

void TNimMain::ClearMusicList() {
  if (musicList->Count() == 0) return;
  if (shell.ActiveList == 0 && engine) engine->Stop();
  lrcDoc.Load("");
  // Songs still being added would refill the list the user just emptied.
  if (addFiles) addFiles->Cancel();
  startJobs.clear();
  playJobs.clear();
  SetAddProgress({});
  musicList->Clear();
  if (shell.ActiveList == 0) trackList.clear();
  SaveList(0);
}

QMenu* TNimMain::ListMenu() {
  if (listMenu) return listMenu.get();
  listMenu = std::make_unique<QMenu>();
  // Deletes the row the menu was opened for, whatever is selected or playing by the time it is chosen.
  listMenu->addAction(tr("删除选择文件"), this, [this] { AskToDelete(std::exchange(menuSong, nullptr)); });
  listMenu->addAction(tr("清空播放列表"), this, &TNimMain::pmdel_clearlistClick);
  return listMenu.get();
}

void TNimMain::showListMenu(double screenX, double screenY) {
  menuSong = SelectedSong(*musicList);
  ListMenu()->popup(QPoint(static_cast<int>(std::lround(screenX)), static_cast<int>(std::lround(screenY))));
}

void TNimMain::TabControl1Change(int index) {
  if (index != 0 && index != 1) return;
  if (index != tabIndex) {
    NoteUserAction();
    tabIndex = index;
    emit tabIndexChanged();
  }
  const bool enable = index == 1;
  if (enable != rndMusicEnabled) {
    rndMusicEnabled = enable;
    emit rndMusicEnabledChanged();
  }
  if (enable && rndList->Count() == 0) pmf_rndmusicClick();
}

}  // namespace orvane::app
