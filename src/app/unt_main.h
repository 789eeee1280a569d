#pragma once
// TNimMain: the player's main window — the owner of the shell's state and of every handler of the
// window. The scene (QML) binds to its properties and calls its handlers; all logic is here.
// The handlers are split by duty over unt_main*.cpp:
//   unt_main.cpp           creation, configuration, close and destruction
//   unt_main_playback.cpp  play/pause/next/previous, play modes, engine events, tick, remote control
//   unt_main_lists.cpp     the two list views, adding, deleting, clearing, loading and saving
//   unt_main_settings.cpp  the settings page and mini mode
//   unt_main_menus.cpp     close button, main menu, tray icon
//   unt_main_online.cpp    update check completion, usage report, random list
//   unt_main_lyrics.cpp    lyric lookup, the desktop lyrics, their toolbar, search dialog and wipe
//   unt_main_cache.cpp     the song cache of streamed songs
//   unt_main_commands.cpp  commands handed over by other starts of the player
//   unt_main_keys.cpp      the keyboard
//
// Threads: everything here runs on the main thread, except EngineDownloadData, which the engine
// calls on the audio library's download thread (it only touches the song cache), and the engine's
// ReadTags, which the adding of songs calls on its worker (TAddFilesThread). Workers (lyric lookup,
// update check, usage report, random-list fetch, adding songs, and the music server's requests in
// TMusicServerLink) hand their results back through queued calls that carry a serial or are
// dropped once this object is gone; a lyric result is also dropped when the row it was for is no
// longer the playing one. The list saver's worker writes the playlist file from snapshots of the
// lists' shared, immutable songs (it never sees the views) and reports each write through a queued
// call.

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/ShellState.h"
#include "app/UntAddFiles.h"
#include "app/mapshare.h"
#include "audio/DownloadCounters.h"
#include "audio/IAudioEngine.h"
#include "lyrics/LrcClass.h"
#include "net/WorkerHost.h"
#include "plugins/UPluginAPI.h"
#include "store/PlayListItem.h"

#include <QWindow>
class QMenu;
class QQmlEngine;

namespace orvane::ui {
class PlayListModel;
}
namespace orvane::store {
class TYkConfig;
}
namespace orvane::desktop {
class TYmTrayIcon;
}
namespace orvane::audio {
class TSongCache;
struct TCachedSong;
}
namespace orvane::lyrics {
class TNimDeskTopLrc;
class TNimDlrcButton;
class TNimSlrc;
class TLyricDownloader;
class TLrcTextThread;
struct TLyricTrack;
}  // namespace orvane::lyrics
namespace orvane::plugins {
class TUSGeneralPurpose;
}
namespace orvane::store {
class TListSaver;
struct TListSaveResult;
}
namespace orvane::net {
class TCheckUPDate;
class TPostThr;
class ISecretStore;
struct TRandomListEntry;
}  // namespace orvane::net

namespace orvane::app {

class TMusicServerLink;
class TRandomListFetch;

// One entry of TrackList: the mirror of a row of the active list.
using TPlayListItem = store::TPlayListItem;

// TrackList, the mirror of the active list that playback follows: it is the rows of one list view
// (or none), so it follows that view's changes as they happen and is "rebuilt" by pointing it at
// a view. Entries are valid while their rows hold them, as a vector's are until it changes.
class TTrackList {
 public:
  void Mirror(const ui::PlayListModel* view) { source = view; }
  const ui::PlayListModel* Source() const { return source; }
  size_t size() const;
  bool empty() const { return size() == 0; }
  void clear() { source = nullptr; }
  const TPlayListItem& operator[](size_t index) const;

 private:
  const ui::PlayListModel* source = nullptr;
};

// The record handed to plug-ins with events 108 and 109 (texts valid only during the call).
struct TTrackEvent {
  const char* Location = nullptr;
  double LengthDays = 0;
  const char* Title = nullptr;
  uint32_t TitleLength = 0;
  const char* Singer = nullptr;
  uint32_t SingerLength = 0;
};

// Remote-control commands (message 1807).
inline constexpr int32_t WM_CMDPLAY = 1807;
inline constexpr int32_t CMDPLAY_NOP = 15;
inline constexpr int32_t CMDPLAY_PLAYPAUSE = 16;
inline constexpr int32_t CMDPLAY_PREVIOUS = 19;
inline constexpr int32_t CMDPLAY_NEXT = 20;
inline constexpr int32_t CMDPLAY_COUNT = 50;
inline constexpr int32_t CMDPLAY_INDEX = 51;

// Commands another start of the player (or a cooperating program) hands over.
inline constexpr uint8_t CMD_PLAYFILE = 1;
inline constexpr uint8_t CMD_APPENDFILE = 11;
inline constexpr uint8_t CMD_PLAYONLINE = 2;
inline constexpr uint8_t CMD_APPENDONLINE = 22;

// The results of the confirmation pop-up.
inline constexpr int mrYes = 6;
inline constexpr int mrNo = 7;

// What the main window needs from outside, replaceable by tests. Every member has a working
// default (see DefaultServices) except where noted.
struct TNimMainServices {
  std::string ExecutablePath;  // full path of the player's executable
  // Creates the audio engine (window id, plug-in folder ending in "/", the song cache's counters).
  std::function<std::unique_ptr<audio::IAudioEngine>(uintptr_t window, const std::string& pluginFolder,
                                                     std::shared_ptr<audio::TDownloadCounters> counters)>
      CreateEngine;
  // The file dialog dlgOpen1 (multiple selection); filter in the engine's "name|*.a;*.b" form.
  // Empty when the user cancels.
  std::function<std::vector<std::string>(const std::string& filter)> ChooseFiles;
  // The Yes/No question, answered at once with mrYes or mrNo. Unset: the scene's MsgPop1 is shown
  // and the question's action runs when it is answered Yes; nothing waits for the answer.
  std::function<int(const std::string& message)> AskYesNo;
  // The plug-in host, made at creation from the plug-in folder (AppFolder + "plugins") and freed
  // right after the engine; unset: no plug-ins.
  std::function<std::unique_ptr<plugins::TUSGeneralPurpose>(uintptr_t window, const std::string& folder)>
      CreatePluginHost;
  // Replaces the plug-in host's broadcast (event, record) when set (tests record the events).
  std::function<void(int32_t event, const TTrackEvent& track)> BroadcastToPlugins;
  // The shared command block other starts write to; unset: a block of the window's own.
  std::shared_ptr<TCommandBlock> CommandBlock;
  // Starts a program from a command line without waiting (updater, crash reporter).
  std::function<bool(const std::string& commandLine, uint16_t show)> RunCommandLine;
  // Opens a web address in the user's browser.
  std::function<void(const std::string& url)> OpenUrl;
  // Writes the start-with-desktop entry (true) or removes it (false).
  std::function<void(bool on)> SetAutoRun;
  // Registers the player for its file types.
  std::function<void(const std::string& exe, int32_t iconIndex)> RegisterFileTypes;
  // The folder browser (title, folder in and out); true when the user chose a folder. Unset: none
  // is shown and the folder stays.
  std::function<bool(const std::string& title, std::string& folder)> BrowseForFolder;
  // Puts the tray icon into the desktop's notification area.
  bool CreateTrayIcon = true;
  // Shows the desktop lyrics window; unset: no desktop lyrics window is made (tests of pure logic).
  bool CreateDeskLrc = true;
  // Starts the update check at creation.
  bool StartUpdateCheck = true;
  // Where the music server's password is kept (given the data folder); unset: only in memory, for
  // this run.
  std::function<std::shared_ptr<net::ISecretStore>(const std::string& dataFolder)> CreateSecretStore;
  // Whether a compositor draws the desktop (asked when a face changes); unset: the display is asked.
  std::function<bool()> CompositorRunning;
  // Whether a decoder opens the file (random songs from the Music folder; runs on a worker); unset:
  // every file with a song's extension is taken.
  std::function<bool(const std::string& path)> DecoderOpens;
};

TNimMainServices DefaultServices(const std::string& executablePath);
// The default DecoderOpens: the file opens as a decoding stream of the audio library.
bool DecoderOpens(const std::string& path);

class TNimMain : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString titleText READ TitleText NOTIFY titleTextChanged)
  Q_PROPERTY(int seekMaximum READ SeekMaximum NOTIFY seekChanged)
  Q_PROPERTY(int seekPosition READ SeekPosition NOTIFY seekChanged)
  // The playing (or paused) song's length in ms; 0 when none plays.
  Q_PROPERTY(int songLength READ SongLength NOTIFY playbackChanged)
  Q_PROPERTY(double seekOpacity READ SeekOpacity WRITE SetSeekOpacity NOTIFY seekOpacityChanged)
  Q_PROPERTY(double volume READ Volume WRITE tbrVChange NOTIFY volumeChanged)
  Q_PROPERTY(QString playGlyph READ PlayGlyph NOTIFY playGlyphChanged)
  Q_PROPERTY(QString play2Glyph READ Play2Glyph NOTIFY playGlyphChanged)
  Q_PROPERTY(QObject* musicList READ MusicListObject CONSTANT)
  Q_PROPERTY(QObject* rndList READ RndListObject CONSTANT)
  Q_PROPERTY(bool musicListVisible READ MusicListVisible NOTIFY hintChanged)
  Q_PROPERTY(bool addMsgVisible READ AddMsgVisible NOTIFY hintChanged)
  Q_PROPERTY(bool rndMusicEnabled READ RndMusicEnabled NOTIFY rndMusicEnabledChanged)
  Q_PROPERTY(int tabIndex READ TabIndex WRITE TabControl1Change NOTIFY tabIndexChanged)
  Q_PROPERTY(QString msgText READ MsgText NOTIFY msgChanged)
  Q_PROPERTY(bool msgVisible READ MsgVisible NOTIFY msgChanged)
  Q_PROPERTY(QString noticeText READ NoticeText NOTIFY noticeTextChanged)
  Q_PROPERTY(QString addProgressText READ AddProgressText NOTIFY addProgressChanged)
  // What the random tab says when a fetch is under way or brought nothing, and whether it offers
  // to connect a music server.
  Q_PROPERTY(QString rndMsgText READ RndMsgText NOTIFY rndMsgChanged)
  Q_PROPERTY(bool rndMsgOffersServer READ RndMsgOffersServer NOTIFY rndMsgChanged)
  // The face that should show: 0 the normal face, 1 the settings page, 2 the mini tile. The scene
  // turns or shrinks the faces towards it.
  Q_PROPERTY(int face READ FaceIndex NOTIFY faceChanged)
  // Whether a compositor draws the desktop; without one the scene shapes the window to the face on
  // show, since transparent pixels would show black.
  Q_PROPERTY(bool compositing READ Compositing NOTIFY compositingChanged)
  // The settings page.
  Q_PROPERTY(int modBox READ modBoxItem WRITE modBoxChange NOTIFY settingsChanged)
  Q_PROPERTY(QStringList effBoxItems READ EffBoxItems NOTIFY settingsChanged)
  Q_PROPERTY(int effBox READ effBoxIndex WRITE effBoxChange NOTIFY settingsChanged)
  Q_PROPERTY(QString txtlrcPath READ TxtLrcPath NOTIFY settingsChanged)
  Q_PROPERTY(QString txtmsPath READ TxtMsPath NOTIFY settingsChanged)
  Q_PROPERTY(bool chkShowLrc READ chkShowLrc NOTIFY showLrcChanged)
  Q_PROPERTY(bool chkAutoRun READ chkAutoRun NOTIFY settingsChanged)
  Q_PROPERTY(bool chkTallo READ chkTallo NOTIFY settingsChanged)
  Q_PROPERTY(bool chkOnlineLrc READ chkOnlineLrc NOTIFY settingsChanged)

 public:
  enum class TFace { Main = 0, Setting = 1, Mini = 2 };

  explicit TNimMain(TNimMainServices services, QObject* parent = nullptr);
  ~TNimMain() override;  // FormDestroy

  // Creation step: folders, settings, desktop lyrics, engine, presets, lyric document, update
  // check, lists, file types. args are the player's own command-line arguments (without argv[0]).
  void FormCreate(const std::vector<std::string>& args = {});
  // Saves the active list and the settings (closing the window, a desktop session ending).
  void FormClose();
  void SaveConfig();
  // Puts every setting the window owns into config.
  void WriteConfig(store::TYkConfig& config) const;
  // A setting changed: the settings are saved shortly after (several changes in a row, such as a
  // dragged volume slider, make one save), so a crash or a killed session loses none of them.
  void ConfigChanged();
  const QTimer& tmr_saveConfig() const { return saveConfigTimer; }
  // A fault raised by the operating system, on any thread: the crash path (SystemFault.h), which
  // saves nothing (everything is on disk already), starts the crash reporter and ends the process.
  void OnSystemFault(bool isSystemFault);

  // The scene's window, for minimising, the tray icon and menu placement; set by the view.
  void SetWindow(QWindow* window);
  // Applies the scene's "inputRegion" to the window: clicks outside it go to what lies below; or,
  // without a compositor, its "faceShape" (the corners of the face on show): the window is only
  // that.
  Q_INVOKABLE void ApplyInputRegion();
  QWindow* Window() const { return mainWindow; }
  uintptr_t MainWindowHandle() const;

  // ---- playback (unt_main_playback.cpp)
  Q_INVOKABLE void btn_playClick();
  Q_INVOKABLE void btn_nextClick();
  Q_INVOKABLE void btn_previousClick();
  Q_INVOKABLE void tbrmainMouseDown(double x, double barWidth);
  Q_INVOKABLE void tbrVChange(double value);
  Q_INVOKABLE void modBoxChange(int item);
  void tmr_lanerrTimer();
  int32_t WMCMDPLAY(int32_t wParam, int32_t lParam);
  void EngineStateChanged(int32_t state);
  void EngineTrackEnded(int32_t state);
  void EngineTick(int32_t state, int32_t lengthMs, int32_t positionMs, const audio::TSpectrumData& spectrum,
                  const audio::TWaveData& wave);
  void EngineError(int32_t code, int32_t detail);
  void NotifyPlugins(int32_t event);
  // Stops playback (the desktop's Stop; there is no button for it).
  void StopPlayback();
  // Seeks the playing song to positionMs, as a press on the seek bar does.
  void SeekTo(int32_t positionMs);
  // The engine's state (StateStopped without an engine), the current track (null when CurrentIndex
  // is not a row of TrackList), its serial (bumped when a different track starts), position and
  // length in ms.
  int32_t PlayerState() const;
  const TPlayListItem* CurrentTrack() const;
  uint64_t TrackSerial() const { return trackSerial; }
  // The song that plays or is paused (null when none does) and the row it started from. It is not
  // always CurrentTrack(): Previous on the first row moves CurrentIndex before the list while the
  // song goes on.
  const TPlayListItem* PlayingTrack() const;
  int PlayingRow() const { return playingRow; }
  int32_t PositionMs() const;
  int32_t LengthMs() const;
  void ApplyEffectPreset(int32_t index);

  // ---- lists (unt_main_lists.cpp)
  Q_INVOKABLE void lbl_openClick();
  Q_INVOKABLE void pmdel_delselectClick();
  Q_INVOKABLE void pmdel_clearlistClick();
  Q_INVOKABLE void showListMenu(double screenX, double screenY);
  Q_INVOKABLE void plst_listItemDblClick();
  Q_INVOKABLE void TabControl1Change(int index);
  void AddListItem(ui::PlayListModel& view, int number, const std::string& title, const std::string& singer,
                   const std::string& location);
  void RebuildTrackList(const ui::PlayListModel& view, bool emptyFirst);
  void LoadLists();
  void SaveActiveList();
  // Saves one list (0 the music list, 1 the random list), the one a change was made to. The save
  // runs shortly after on the list saver's worker, and a burst of changes makes one save.
  void SaveList(uint8_t list);
  // Hands every list change made so far to the saver and waits until it is on disk (closing; tests).
  void FlushListSaves();
  // How many writes of the playlist file the saver has finished (each coalesces any number of
  // changes).
  int ListSavesWritten() const { return listSavesWritten; }
  // Asks for files and starts adding them (the rows follow while their tags are read); true when
  // the user chose files.
  bool AddFilesFromDialog();
  // "添加文件夹" (main menu and the empty-list hint): asks for a folder and adds its songs as a
  // dropped folder's; starts the first when the list was empty.
  Q_INVOKABLE void pmf_openfolderClick();
  bool AddFolderFromDialog();
  // Songs and folders dropped onto the music list: added as the dialog adds them, folders searched
  // through for songs, in path order.
  Q_INVOKABLE void lstDefaultDragDrop(const QList<QUrl>& urls);
  // Songs are being added (their rows are still coming).
  bool Adding() const;
  static std::string NameWithoutExt(const std::string& path);
  // Title for a file added to the music list: the tag title unless it is blank, else the file name.
  static std::string TitleForFile(const std::string& path, const audio::TTags& tags);

  // ---- settings page and mini mode (unt_main_settings.cpp)
  Q_INVOKABLE void btnAboutClick();
  Q_INVOKABLE void btnAboutBackClick();
  Q_INVOKABLE void HudButton3Click();
  Q_INVOKABLE void pmm_setdownClick();
  Q_INVOKABLE void pmm_sdownClick();
  Q_INVOKABLE void chkAutoRunClick();
  Q_INVOKABLE void chkTalloClick();
  Q_INVOKABLE void chkOnlineLrcClick();
  Q_INVOKABLE void effBoxChange(int index);
  Q_INVOKABLE void btn_minClick();
  Q_INVOKABLE void transformation2Click();

  // ---- menus and tray (unt_main_menus.cpp)
  Q_INVOKABLE void btn_closeClick();
  Q_INVOKABLE void btnMenuClick(double screenX, double screenY);
  // Brings the main window back as the tray icon's left click does (also the desktop's "Raise").
  Q_INVOKABLE void RestoreWindow();
  Q_INVOKABLE void pmm_closeClick();
  Q_INVOKABLE void MsgPop1Result(int result);
  Q_INVOKABLE void noticeShown();
  void pmm_talloClick();
  void pmm_tlClick();
  void pmm_yjClick();
  void pmm_OrvaneClick();
  QMenu* pm_main() { return MainMenu(); }
  QMenu* pm_del() { return ListMenu(); }
  desktop::TYmTrayIcon* trycn_main() { return trayIcon.get(); }

  // ---- online (unt_main_online.cpp)
  Q_INVOKABLE void btn_rndlistClick() { pmf_rndmusicClick(); }
  void pmf_rndmusicClick();
  void tmr_chkTimer();
  // The main menu's "连接音乐服务器…" (also the random tab's button when it found nothing).
  Q_INVOKABLE void pmm_serverClick();
  QString RndMsgText() const { return rndMsgText; }
  bool RndMsgOffersServer() const { return rndMsgOffersServer; }
  Q_INVOKABLE void rndMsgShown();
  TMusicServerLink* MusicServer() const { return musicServer.get(); }

  // ---- desktop lyrics (unt_main_lyrics.cpp)
  // The settings page's "显示歌词" was clicked: the check box flips and the lyrics window follows it
  // (the toolbar closes first).
  Q_INVOKABLE void btn_lrcClick();
  // The toolbar's buttons: lines half a second later (−500) or earlier (+500); the search dialog
  // for the playing track (nothing without one); desktop lyrics off (unchecks "显示歌词"); the
  // karaoke wipe on or off ("Window/DESKTOPLRC" "KARAOKE").
  void LyricOffsetBy(int32_t ms);
  void OpenLyricSearch();
  void CloseDesktopLyrics();
  void SetKaraoke(bool on);

  // ---- keyboard (unt_main_keys.cpp)
  // A key pressed in the main window that no control took (Qt key and modifiers); true when it did
  // something. The main face: Space play/pause, Left/Right seek 5 s, Up/Down move the selection,
  // Enter plays it, Delete asks to delete it, Ctrl+O adds songs. The settings page and the mini
  // tile: Esc goes back.
  Q_INVOKABLE bool KeyPressed(int key, int modifiers);
  // Moves the playing (or paused) song by deltaMs, kept within the song.
  void SeekBy(int32_t deltaMs);
  // Moves the shown list's selection by step rows, kept within the list.
  void MoveSelection(int step);

  // ---- commands (unt_main_commands.cpp)
  // A message to the window, from another process (its socket) or from the window itself:
  // WM_SHAREDCOMMAND, WM_CMDPLAY and WM_RESTOREPLAYER (a start without files); the result is the answer the sender gets (0 for others).
  int32_t Perform(const TMessage& message);
  // WM_SHAREDCOMMAND: carries out the command in the shared block and clears the block.
  int32_t WMSharedCommand(const TMessage& message);
  // Carries out one command (code and text as the block holds them), at once or, in a burst, after
  // the commands before it, a few milliseconds' worth per turn of the event loop.
  void WMSharedCommand(uint8_t code, const std::string& text, int32_t lParam = 1);
  // Commands of a burst still waiting their turn.
  size_t QueuedCommands() const { return queuedCommands.size(); }
  static std::string GetField(const std::string& text, int n, char separator);
  TCommandBlock& CommandBlock() { return *commandBlock; }

  // ---- state, for the scene and for tests
  ShellState& Shell() { return shell; }
  // A copy of TrackList's entries (for tests).
  std::vector<TPlayListItem> TrackList() const;
  ui::PlayListModel& lstDefault() { return *musicList; }
  ui::PlayListModel& lstRndMusic() { return *rndList; }
  audio::IAudioEngine* Engine() { return engine.get(); }
  lyrics::TLrcClass& LrcDoc() { return lrcDoc; }
  lyrics::TLyricDownloader* LyricDownloader() const { return lyricDownloader.get(); }
  net::TWorkerHost& Workers() { return workers; }
  lyrics::TNimDeskTopLrc* DeskLrc() { return deskLrc.get(); }
  plugins::TUSGeneralPurpose* PluginHost() { return pluginHost.get(); }
  lyrics::TNimDlrcButton* DlrcButton() { return dlrcButton.get(); }
  lyrics::TNimSlrc* SearchDialog() { return searchDialog.get(); }
  bool chkShowLrc() const { return showLrc; }
  bool Karaoke() const { return karaoke; }
  const QTimer& tmr_karaoke() const { return karaokeTimer; }
  bool chkAutoRun() const { return shell.AutoRun; }
  bool chkTallo() const { return shell.RunTL; }
  bool chkOnlineLrc() const { return shell.OnlineLrc; }
  QString TxtLrcPath() const { return QString::fromStdString(shell.LyricFolder); }
  QString TxtMsPath() const { return QString::fromStdString(shell.MusicFolder); }
  QStringList EffBoxItems() const;
  TFace Face() const { return face; }
  int FaceIndex() const { return static_cast<int>(face); }
  bool Compositing() const { return compositing; }
  int modBoxItem() const { return modBox; }
  const std::vector<std::string>& effBoxItems() const { return effBox; }
  int effBoxIndex() const { return effBoxItemIndex; }
  bool LyricLookupRunning() const;
  bool RandomListFetchRunning() const { return randomFetchSerial != 0; }
  const QTimer& tmr_lanerr() const { return lanErrTimer; }
  const QTimer& tmr_chk() const { return chkTimer; }

  QString TitleText() const { return titleText; }
  int SeekMaximum() const { return seekMaximum; }
  int SeekPosition() const { return seekPosition; }
  int SongLength() const { return PlayingTrack() ? LengthMs() : 0; }
  double SeekOpacity() const { return seekOpacity; }
  void SetSeekOpacity(double opacity);
  double Volume() const { return volume; }
  QString PlayGlyph() const { return playGlyph; }
  QString Play2Glyph() const { return play2Glyph; }
  QObject* MusicListObject() const;
  QObject* RndListObject() const;
  bool MusicListVisible() const { return musicListVisible; }
  bool AddMsgVisible() const { return !musicListVisible; }
  bool RndMusicEnabled() const { return rndMusicEnabled; }
  int TabIndex() const { return tabIndex; }
  QString MsgText() const { return msgText; }
  bool MsgVisible() const { return msgVisible; }
  QString NoticeText() const { return noticeText; }
  QString AddProgressText() const { return addProgressText; }
  void ShowNotice(const std::string& text);
  // Puts text where previous is shown or waits; shows it as a new notice when previous is gone.
  void ReplaceNotice(const QString& previous, const QString& text);

 signals:
  void titleTextChanged();
  void seekChanged();
  void seekOpacityChanged();
  void volumeChanged();
  void playGlyphChanged();
  void hintChanged();
  void rndMusicEnabledChanged();
  void tabIndexChanged();
  void msgChanged();
  void noticeTextChanged();
  void showLrcChanged();
  void addProgressChanged();
  void rndMsgChanged();
  void faceChanged();
  void compositingChanged();
  void settingsChanged();
  // The window should close (the main menu's exit): the application ends its event loop.
  void closeRequested();
  // The engine's state or the current track may have changed (the desktop's media controls).
  void playbackChanged();
  void playModeChanged();
  // The playing song was moved to positionMs.
  void seeked(qint64 positionMs);

 private:
  // unt_main.cpp
  void SetButtonGlyphs();
  void ReadConfig();
  void CreateEngine();
  void LoadEffectPresets();
  void StartUpdateCheck();
  void PostOwnCommandLine(const std::vector<std::string>& args);
  void ReportMovedAside(const QString& what, const std::string& movedTo);
  void ReportUntrustedPlugins();
  // The greeting shown as the title and on the desktop before anything plays (and as a lyric's
  // closing line), in the interface's language.
  QString WelcomeText() const;

  // unt_main_playback.cpp
  void SetPlayImages(bool playing);
  void MarkCurrentItem(ui::PlayListModel& list, int index);
  ui::PlayListModel& ActiveView();
  bool IsTrackIndex(int32_t index) const;
  void SetTitle(const std::string& caption);
  void SetSeekRange(int32_t maximum);
  void AfterTrackStopped();
  void ReportUnplayable();
  void NoteUserAction();
  // Marks a stretch where the player itself runs playback commands (end of song, error recovery).
  struct TAutomaticStep {
    explicit TAutomaticStep(TNimMain& main) : main(main) { ++main.automaticSteps; }
    ~TAutomaticStep() { --main.automaticSteps; }
    TNimMain& main;
  };

  // unt_main_lists.cpp
  ui::PlayListModel& TabView();
  void UpdateListHint();
  void SubmitListSaves();
  void ListSaved(const store::TListSaveResult& result);
  // Asks a Yes/No question; onYes runs if and when the answer is Yes.
  void Confirm(const std::string& message, std::function<void()> onYes);
  static store::TSong SelectedSong(const ui::PlayListModel& view);
  void AskToDelete(store::TSong song);
  void DeleteSong(const store::TSong& song);
  void ClearMusicList();
  QMenu* ListMenu();
  uint64_t AddFiles(std::vector<std::string> paths, TAddFilesThread::TSearch search);
  void PlayAddedRow(int row);
  void AddedFiles(std::vector<TAddedFile>& files);
  void AddingFinished();
  void SetAddProgress(const QString& text);
  void StartFirstSong();

  // unt_main_commands.cpp
  void RunSharedCommand(uint8_t code, const std::string& text);
  bool CommandFitsSlice();
  void ScheduleQueuedCommands();

  // unt_main_settings.cpp
  void SetFace(TFace wanted);
  void CheckCompositor();
  void ChooseFolder(std::string& folder, const std::string& fallback, const std::string& title, const char* path);

  // unt_main_menus.cpp
  QMenu* MainMenu();
  void CreateTrayIcon();

  // unt_main_online.cpp
  void UpdateChecked(net::TCheckUPDate& check);
  void ReportSent();
  void ApplyRandomList(const std::vector<net::TRandomListEntry>& entries);
  void FillRandomList(const std::vector<net::TRandomListEntry>& entries);
  std::shared_ptr<TRandomListFetch> MakeRandomListFetch();
  void RandomListFetched(TRandomListFetch& fetch, uint64_t userAction);
  void SetRndMsg(const QString& text, bool offersServer);
  void InitMusicServer();
  void ServerPlaybackChanged();

  // unt_main_lyrics.cpp
  void StartLyricLookup();
  void LocalLyricLookupDone(lyrics::TLrcTextThread& thread);
  void StartLyricDownload();
  void LyricLookupDone(lyrics::TLrcTextThread& thread);
  // The current line as the desktop shows it, and whether a text fits the lyrics window's width.
  lyrics::TLrcClass::TDisplayLine DesktopLine();
  bool FitsDesktopLyric(const std::string& text);
  // The playing row as the lyric results know it; nothing when there is none.
  std::optional<lyrics::TLyricTrack> CurrentLyricTrack() const;
  void RefreshDesktopLyric();
  void UpdateKaraokeTimer();
  void InitLyricTimers();
  void CreateDesktopLyrics();
  // The engine for the lyric windows' scenes, made when first needed.
  QQmlEngine* LyricSceneEngine();

  // unt_main_cache.cpp
  void PrepareSongCache();
  void EngineDownloadData(const void* buffer, uint32_t length, void* user);
  void SongCached(const audio::TCachedSong& song);

  TNimMainServices services;
  ShellState shell;
  QPointer<QWindow> mainWindow;

  TTrackList trackList;
  std::unique_ptr<ui::PlayListModel> musicList;
  std::unique_ptr<ui::PlayListModel> rndList;
  // Lists changed since their last save was queued (bit 0 the music list, bit 1 the random list),
  // queued when listSaveTimer fires; the saver's worker writes them. Declared after the lists, so
  // it is gone (its last saves written) before they are.
  uint8_t dirtyLists = 0;
  QTimer listSaveTimer;
  std::string listSaveError;  // the last failed save's reason, reported once
  int listSavesWritten = 0;
  bool flushingListSaves = false;
  std::unique_ptr<store::TListSaver> listSaver;
  std::unique_ptr<audio::IAudioEngine> engine;
  lyrics::TLrcClass lrcDoc;
  // The lyric windows' scene engine outlives the windows whose scenes it made.
  std::unique_ptr<QQmlEngine> lyricScene;
  std::unique_ptr<lyrics::TNimDeskTopLrc> deskLrc;
  std::unique_ptr<lyrics::TNimDlrcButton> dlrcButton;
  std::unique_ptr<lyrics::TNimSlrc> searchDialog;
  std::unique_ptr<lyrics::TNimSlrc> closedSearchDialog;  // freed once its close has returned
  std::shared_ptr<lyrics::TLyricDownloader> lyricDownloader;
  std::shared_ptr<audio::TDownloadCounters> downloadCounters;
  std::unique_ptr<audio::TSongCache> songCache;
  std::shared_ptr<std::mutex> reportLock = std::make_shared<std::mutex>();  // ReportLock
  std::unique_ptr<plugins::TUSGeneralPurpose> pluginHost;                   // PluginHost
  std::shared_ptr<TCommandBlock> commandBlock;

  net::TWorkerHost workers;  // destroyed first among the workers' users: late completions are dropped
  std::shared_ptr<lyrics::TLrcTextThread> lyricThread;        // the download under way, if any
  std::shared_ptr<lyrics::TLrcTextThread> waitingLyricDownload;  // the next one, for the latest track
  int localLyricLookups = 0;                                     // lyric file lookups under way
  struct {
    std::string Text;
    int Width = -1;
    bool Fits = false;
  } lyricFit;  // the last answer of FitsDesktopLyric
  std::shared_ptr<net::TCheckUPDate> updateThread;
  std::shared_ptr<net::TPostThr> reportThread;
  std::unique_ptr<TMusicServerLink> musicServer;  // made at creation, once the data folder is known
  QString rndMsgText;
  bool rndMsgOffersServer = false;
  uint64_t randomFetchSerial = 0;  // the random-list fetch in flight, 0 when none
  uint64_t fetchCounter = 0;
  uint64_t trackSerial = 0;        // bumped when a different track starts (the MPRIS track id)
  std::string playingKey;          // list, row and location of the track trackSerial stands for
  store::TSong playingSong;        // the song trackSerial stands for
  int playingRow = -1;             // its row when it started
  uint64_t userActionSerial = 0;   // bumped when the user starts, pauses or skips a song or changes the tab
  int automaticSteps = 0;          // > 0 while the end-of-song or error rule runs commands
  // Songs that failed to open since the last one played or the user last acted, told once each.
  std::set<std::string> unplayable;
  uint64_t unplayableSerial = 0;   // the userActionSerial that run belongs to
  QString unplayableNotice;        // the last notice of that run

  std::deque<TCommand> queuedCommands;  // a burst's commands waiting their turn, in order
  bool commandDrainPosted = false;
  bool commandSliceOpen = false;        // commands ran in this turn of the event loop
  int commandsInSlice = 0;
  QElapsedTimer commandSlice;

  std::unique_ptr<TAddFilesThread> addFiles;
  std::set<uint64_t> startJobs;    // adds that start the first song if they fill an empty list
  // Handed-over adds whose first row plays once it is in, with the user action they were; a later
  // action of the user's (or a later song to play) takes their place.
  std::map<uint64_t, uint64_t> playJobs;
  std::string lastAddedFolder;     // where "添加文件夹" opens next
  bool startOnAdd = false;         // the add being queued is one of them
  QString addProgressText;

  std::unique_ptr<desktop::TYmTrayIcon> trayIcon;  // trycn_main
  TFace face = TFace::Main;
  bool compositing = true;

  QTimer lanErrTimer;  // tmr_lanerr
  QTimer chkTimer;     // tmr_chk
  QTimer saveConfigTimer;
  QTimer karaokeTimer;  // moves the wipe while the current line is sung

  // Controls of the settings page that the window keeps even while the page is not shown.
  bool showLrc = true;  // chkShowLrc
  bool karaoke = false;
  int modBox = 0;       // modBox item index
  std::vector<std::string> effBox;
  int effBoxItemIndex = -1;

  QString titleText;
  int seekMaximum = 100;
  int seekPosition = 0;
  double seekOpacity = 0;
  double volume = 65;
  QString playGlyph = QStringLiteral("Play");
  QString play2Glyph = QStringLiteral("播放2");
  bool musicListVisible = false;
  bool rndMusicEnabled = false;
  int tabIndex = 0;
  QString msgText;
  bool msgVisible = false;
  std::function<void()> pendingConfirm;  // what a Yes to the pop-up shown does
  store::TSong menuSong;                  // the music list's row the list menu was opened for
  QString noticeText;
  QStringList pendingNotices;
  std::unique_ptr<QMenu> mainMenu;
  std::unique_ptr<QMenu> listMenu;
  bool created = false;
  bool closed = false;
};

}  // namespace orvane::app
