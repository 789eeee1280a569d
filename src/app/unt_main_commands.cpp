// Messages from other processes, and the commands handed over through the shared command block by
// another start of the player (a file to play or to add) or by a cooperating program (lists of
// online songs).
#include <sys/stat.h>

#include <QTimer>

#include "app/OnlineSongList.h"
#include "app/unt_main.h"
#include "ui/PlayListModel.h"

namespace orvane::app {
namespace {

// Only a regular file has tags to read; opening a FIFO someone named would wait for a writer, and
// the window with it.
bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string TNimMain::GetField(const std::string& text, int n, char separator) {
  return app::GetField(text, n, separator);
}

int32_t TNimMain::Perform(const TMessage& message) {
  switch (message.Msg) {
    case WM_SHAREDCOMMAND:
      return WMSharedCommand(message);
    case WM_CMDPLAY:
      return WMCMDPLAY(message.WParam, message.LParam);
    case WM_RESTOREPLAYER:
      RestoreWindow();
      return 0;
    default:
      return 0;
  }
}

int32_t TNimMain::WMSharedCommand(const TMessage& message) {
  // A command that fails part-way leaves the block as it is (the exception goes on to the
  // application's handler); the next start of the player clears it.
  if (message.LParam == 1) WMSharedCommand(commandBlock->Code(), commandBlock->Text(), 1);
  commandBlock->Clear();
  return 0;
}

// A burst of commands (ten thousand calls from a desktop widget arrive in a few turns of the event
// loop) is carried out in slices of a few milliseconds, in order, so the window keeps answering and
// a later start's hand-off is not kept waiting.
void TNimMain::WMSharedCommand(uint8_t code, const std::string& text, int32_t lParam) {
  if (lParam != 1) return;
  if (code != CMD_PLAYFILE && code != CMD_APPENDFILE && code != CMD_PLAYONLINE && code != CMD_APPENDONLINE) return;
  if (!queuedCommands.empty() || !CommandFitsSlice()) {
    queuedCommands.push_back({code, text});
    ScheduleQueuedCommands();
    return;
  }
  RunSharedCommand(code, text);
}

// True while the commands run in this turn of the event loop have taken less than a slice (the
// first few always run: a single command never waits).
bool TNimMain::CommandFitsSlice() {
  constexpr int kFreeCommands = 16;
  constexpr qint64 kSliceMs = 8;
  if (!commandSliceOpen) {
    commandSliceOpen = true;
    commandsInSlice = 0;
    commandSlice.start();
    // The slice ends when the event loop comes round again.
    QTimer::singleShot(0, this, [this] { commandSliceOpen = false; });
  }
  ++commandsInSlice;
  return commandsInSlice <= kFreeCommands || commandSlice.elapsed() < kSliceMs;
}

void TNimMain::ScheduleQueuedCommands() {
  if (commandDrainPosted) return;
  commandDrainPosted = true;
  QTimer::singleShot(0, this, [this] {
    commandDrainPosted = false;
    while (!queuedCommands.empty() && CommandFitsSlice()) {
      const TCommand command = std::move(queuedCommands.front());
      queuedCommands.pop_front();
      RunSharedCommand(command.Code, command.Text);
    }
    if (!queuedCommands.empty()) ScheduleQueuedCommands();
  });
}

void TNimMain::RunSharedCommand(uint8_t code, const std::string& text) {
  // Every command adds to the music list, so that is the list saved at the end, also when a step
  // failed. (Saving the active list instead would lose the new songs whenever the random list is
  // the active one.)
  struct SaveAtEnd {
    TNimMain& window;
    ~SaveAtEnd() {
      try {
        window.SaveList(0);
      } catch (...) {
      }
    }
  } saveAtEnd{*this};

  if ((code == CMD_PLAYFILE || code == CMD_APPENDFILE) && (IsFolder(text) || Adding())) {
    // A folder is searched through for songs on the adding worker, as a dropped one is; while
    // songs are being added there, later songs queue behind them, so every song joins the list in
    // the order it was handed over.
    const uint64_t job = AddFiles({text}, TAddFilesThread::TSearch::Folders);
    if (job != 0 && code == CMD_PLAYFILE) {
      // It plays when its first song is in, unless the user has started something else by then.
      NoteUserAction();
      playJobs[job] = userActionSerial;
    }
    return;
  }
  if (code == CMD_PLAYFILE || code == CMD_APPENDFILE) {
    const int n = musicList->Count();
    audio::TTags tags;
    if (engine && IsRegularFile(text)) engine->ReadTags(text, tags);
    AddListItem(*musicList, n + 1, TitleForFile(text, tags), tags.Artist, text);
    const bool connecting = engine && engine->State() == audio::StateConnecting;
    if (code == CMD_PLAYFILE && !connecting && engine) {
      NoteUserAction();
      // The song asked for is the one to play, not the next after a song that failed before it.
      lanErrTimer.stop();
      shell.ActiveList = 0;
      engine->Stop();
      RebuildTrackList(*musicList, true);
      shell.CurrentIndex = musicList->Count() - 1;
      engine->Open(trackList[static_cast<size_t>(shell.CurrentIndex)].Location);
    } else if (shell.ActiveList == 0) {
      RebuildTrackList(*musicList, true);
    }
    return;
  }
  const int k = musicList->Count();
  const std::vector<TOnlineSong> songs = ParseOnlineSongList(text, shell.Remote.MusicBaseUrl);
  for (const TOnlineSong& song : songs)
    AddListItem(*musicList, musicList->Count() + 1, song.Title, song.Singer, song.Location);
  if (!songs.empty() && (shell.ActiveList == 0 || code == CMD_PLAYONLINE)) RebuildTrackList(*musicList, true);
  if (code == CMD_PLAYONLINE && !songs.empty() && engine) {
    NoteUserAction();
    shell.ActiveList = 0;
    shell.CurrentIndex = k;
    engine->Stop();
    if (IsTrackIndex(shell.CurrentIndex)) engine->Open(trackList[static_cast<size_t>(shell.CurrentIndex)].Location);
  }
}

}  // namespace orvane::app
