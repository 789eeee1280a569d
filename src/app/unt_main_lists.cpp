// The two list views: adding songs, deleting one or all, starting a song by double-click, the tab
// change, and loading and saving both lists.
#include <QCursor>
#include <QEventLoop>
#include <QMenu>

#include "app/UntAddFiles.h"
#include "app/unt_main.h"
#include "store/PlaylistReader.h"
#include "store/UYmPlayerlist.h"
#include "text/TextUtil.h"
#include "ui/PlayListModel.h"

namespace orvane::app {
namespace {

constexpr const char* kPlaylistRoot = "DefaultList";

}  // namespace

ui::PlayListModel& TNimMain::TabView() { return tabIndex == 1 ? *rndList : *musicList; }

void TNimMain::AddListItem(ui::PlayListModel& view, int number, const std::string& title, const std::string& singer,
                           const std::string& location) {
  view.AddRow(number, title, singer, location);
}

void TNimMain::RebuildTrackList(const ui::PlayListModel& view, bool emptyFirst) {
  if (emptyFirst) trackList.clear();
  trackList.reserve(trackList.size() + static_cast<size_t>(view.Count()));
  for (const ui::PlayListRow& row : view.Rows()) trackList.push_back({row.Caption, row.Title, row.Songer, row.Location});
}

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
  return text::Trim(tags.Title).empty() ? NameWithoutExt(path) : tags.Title;
}

void TNimMain::LoadLists() {
  // The lists stream past without building the file's document, which matters for big lists; a
  // file that does not read cleanly goes through the store, which moves it aside.
  std::vector<std::vector<store::TPList>> lists;
  if (!store::ReadPlaylistLists(shell.PlaylistFile, {"PlayerList", "RndList"}, lists)) {
    store::TYkPlist plist(shell.PlaylistFile, kPlaylistRoot);
    if (plist.MovedAside()) ReportMovedAside(tr("播放列表"), plist.MovedAsidePath());
    lists.assign(2, {});
    plist.Load("PlayerList");
    lists[0] = plist.Items();
    plist.Clear();
    plist.Load("RndList");
    lists[1] = plist.Items();
  }
  const auto toRows = [](std::vector<store::TPList>& items) {
    std::vector<ui::PlayListRow> rows;
    rows.reserve(items.size());
    int number = 0;
    for (store::TPList& item : items) {
      std::string caption = ui::PlayListModel::MakeCaption(item.Title, item.Artist);
      rows.push_back({std::to_string(++number), std::move(caption), std::move(item.Title), std::move(item.Artist),
                      std::move(item.Path), false});
    }
    items = {};
    return rows;
  };
  musicList->AddRows(toRows(lists[0]));
  RebuildTrackList(*musicList, false);
  rndList->AddRows(toRows(lists[1]));
}

void TNimMain::SaveActiveList() { SaveList(shell.ActiveList); }

void TNimMain::SaveList(uint8_t list) {
  {
    const bool random = list == 1;
    const char* listName = random ? "RndList" : "PlayerList";
    // The list is written straight from the rows, never built as elements: a big list would
    // otherwise cost many times its file's size in memory while it saves.
    store::TYkPlist plist(shell.PlaylistFile, kPlaylistRoot, listName);
    const std::vector<ui::PlayListRow>& rows = (random ? *rndList : *musicList).Rows();
    plist.SetRewrittenSongs("LIST", rows.size(), [&rows](size_t i, store::TPList& song) {
      song = {rows[i].Title, rows[i].Songer, rows[i].Location, "0", 0};
    });
    // Only this list is rewritten; the other one stays as the file holds it. When the file
    // could not be read any more (it was moved aside) or is gone, it holds nothing: the other list
    // is written as the window has it, so a save never loses it.
    if (!plist.LoadedFromFile()) {
      const std::string otherPath = std::string(random ? "PlayerList" : "RndList") + "/LIST";
      for (const ui::PlayListRow& row : (random ? *musicList : *rndList).Rows())
        plist.AddItem(otherPath, row.Title, row.Songer, "0", row.Location, 0);
    }
    if (plist.MovedAside()) ReportMovedAside(tr("播放列表"), plist.MovedAsidePath());
    std::string error;
    if (!plist.Save(&error)) ShowNotice(tr("播放列表没有保存成功：%1").arg(QString::fromStdString(error)).toStdString());
  }
  UpdateListHint();
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
  AddFiles(std::move(files), false);
  return true;
}

// Adding runs on a worker: tags are read there and the rows arrive in order while the window goes
// on working. The list is saved once, when the last row is in.
void TNimMain::AddFiles(std::vector<std::string> paths, bool search) {
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
  if (search) {
    extensions = FilterExtensions(engine ? engine->FileFilter() : std::string());
    if (extensions.empty()) return;
  }
  const uint64_t job = addFiles->Add(std::move(paths), std::move(extensions));
  if (startOnAdd) startJobs.insert(job);
}

bool TNimMain::Adding() const { return addFiles && addFiles->Busy(); }

void TNimMain::AddedFiles(std::vector<TAddedFile>& files) {
  for (size_t i = 0; i < files.size();) {
    const uint64_t job = files[i].Job;
    std::vector<ui::PlayListRow> rows;
    int number = musicList->Count();
    for (; i < files.size() && files[i].Job == job; ++i) {
      TAddedFile& file = files[i];
      std::string title = TitleForFile(file.Path, file.Tags);
      std::string caption = ui::PlayListModel::MakeCaption(title, file.Tags.Artist);
      rows.push_back({std::to_string(++number), std::move(caption), std::move(title), std::move(file.Tags.Artist),
                      std::move(file.Path), false});
    }
    const bool wasEmpty = trackList.empty();
    const size_t before = static_cast<size_t>(musicList->Count());
    musicList->AddRows(std::move(rows));
    if (shell.ActiveList == 0) {
      // The mirror of the music list grows by the new rows; only when it was out of step (after a
      // random list that brought nothing) is it built again from all rows.
      if (trackList.size() == before) {
        for (size_t row = before; row < static_cast<size_t>(musicList->Count()); ++row) {
          const ui::PlayListRow& added = musicList->Row(static_cast<int>(row));
          trackList.push_back({added.Caption, added.Title, added.Songer, added.Location});
        }
      } else {
        RebuildTrackList(*musicList, true);
      }
    }
    // Songs added to an empty active list start playing, as soon as the first of them is in.
    if (startJobs.erase(job) > 0 && wasEmpty && !trackList.empty()) StartFirstSong();
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

void TNimMain::AddingFinished() {
  startJobs.clear();
  SetAddProgress({});
  if (!closed) SaveActiveList();
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

void TNimMain::lstDefaultDragDrop(const QList<QUrl>& urls) {
  std::vector<std::string> paths;
  for (const QUrl& url : urls)
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
  if (paths.empty()) return;
  startOnAdd = trackList.empty();
  AddFiles(std::move(paths), true);
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

int TNimMain::AskYesNo(const std::string& message) {
  if (services.AskYesNo) return services.AskYesNo(message);
  // The scene's pop-up is modal: wait for its answer while the window goes on working.
  msgText = QString::fromStdString(message);
  msgResult = mrNo;
  msgVisible = true;
  emit msgChanged();
  QEventLoop loop;
  const auto answered = connect(this, &TNimMain::msgChanged, &loop, [this, &loop] {
    if (!msgVisible) loop.quit();
  });
  loop.exec();
  disconnect(answered);
  return msgResult;
}

void TNimMain::MsgPop1Result(int result) {
  if (!msgVisible) return;
  msgResult = result;
  msgVisible = false;
  emit msgChanged();
}

void TNimMain::pmdel_delselectClick() {
  const int k = musicList->SelectedIndex();
  if (k < 0 || k >= musicList->Count()) return;
  if (AskYesNo(tr("确定要删除当前选择的歌曲吗？").toStdString()) != mrYes) return;
  if (k == shell.CurrentIndex) {
    if (shell.ActiveList == 0 && engine) engine->Stop();
    lrcDoc.Load("");
  }
  if (shell.ActiveList == 0) {
    if (k < shell.CurrentIndex) --shell.CurrentIndex;
    if (k < static_cast<int>(trackList.size())) trackList.erase(trackList.begin() + k);
  }
  musicList->RemoveRow(k);
  for (int i = k; i < musicList->Count(); ++i) musicList->SetLno(i, std::to_string(i + 1));
  SaveActiveList();
}

void TNimMain::pmdel_clearlistClick() {
  if (musicList->Count() == 0) return;
  if (AskYesNo(tr("确定要清空当前歌曲列表？").toStdString()) != mrYes) return;
  if (shell.ActiveList == 0 && engine) engine->Stop();
  lrcDoc.Load("");
  // Songs still being added would refill the list the user just emptied.
  if (addFiles) addFiles->Cancel();
  startJobs.clear();
  SetAddProgress({});
  musicList->Clear();
  if (shell.ActiveList == 0) trackList.clear();
  SaveActiveList();
}

QMenu* TNimMain::ListMenu() {
  if (listMenu) return listMenu.get();
  listMenu = std::make_unique<QMenu>();
  listMenu->addAction(tr("删除选择文件"), this, &TNimMain::pmdel_delselectClick);
  listMenu->addAction(tr("清空播放列表"), this, &TNimMain::pmdel_clearlistClick);
  return listMenu.get();
}

void TNimMain::showListMenu(double screenX, double screenY) {
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
