// Creation, configuration, close and destruction of the main window.
#include "app/unt_main.h"

#include <QMenu>
#include <QMetaObject>
#include <QQmlEngine>
#include <QMetaProperty>
#include <QPolygon>
#include <QRegion>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "app/MusicServerLink.h"
#include "app/SystemFault.h"
#include "app/UntAddFiles.h"
#include "audio/EffectPresets.h"
#include "audio/SongCache.h"
#include "desktop/Folders.h"
#include "desktop/Process.h"
#include "desktop/YmTray.h"
#include "lyrics/LyricDownloader.h"
#include "lyrics/UntLrcThread.h"
#include "lyrics/Unt_Dlrc.h"
#include "lyrics/Unt_DlrcButton.h"
#include "lyrics/Unt_Slrc.h"
#include "net/UntCkUpThread.h"
#include "net/UntPostThread.h"
#include "plugins/UPluginFramework.h"
#include "store/ListSaver.h"
#include "store/UYmXMLCFG.h"
#include "store/XmlReader.h"
#include "text/ProgramFolders.h"
#include "ui/PlayListModel.h"

namespace orvane::app {
namespace {

constexpr const char* kConfigRoot = "MainConfig";
// Long enough that a dragged slider makes one save, short enough that a crash right after a change
// still finds it on disk.
constexpr int kSaveConfigDelayMs = 500;
// A burst of list changes (songs handed over one by one, a desktop widget's calls) makes one save;
// short, so that a change is on disk well within a tenth of a second even for a long list.
constexpr int kListSaveDelayMs = 15;

bool FolderExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_directory(path, ec);
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

}  // namespace

TNimMain::TNimMain(TNimMainServices services, QObject* parent)
    : QObject(parent),
      services(std::move(services)),
      musicList(std::make_unique<ui::PlayListModel>()),
      rndList(std::make_unique<ui::PlayListModel>()),
      commandBlock(this->services.CommandBlock ? this->services.CommandBlock
                                               : std::shared_ptr<TCommandBlock>(TCommandBlock::InMemory())) {
  lanErrTimer.setInterval(1000);
  lanErrTimer.setSingleShot(false);
  connect(&lanErrTimer, &QTimer::timeout, this, &TNimMain::tmr_lanerrTimer);
  chkTimer.setInterval(5000);
  connect(&chkTimer, &QTimer::timeout, this, &TNimMain::tmr_chkTimer);
  saveConfigTimer.setInterval(kSaveConfigDelayMs);
  saveConfigTimer.setSingleShot(true);
  connect(&saveConfigTimer, &QTimer::timeout, this, [this] {
    if (created && !closed) SaveConfig();
  });
  listSaveTimer.setInterval(kListSaveDelayMs);
  listSaveTimer.setSingleShot(true);
  connect(&listSaveTimer, &QTimer::timeout, this, &TNimMain::SubmitListSaves);
  listSaver = std::make_unique<store::TListSaver>([this](const store::TListSaveResult& result) {
    QMetaObject::invokeMethod(this, [this, result] { ListSaved(result); }, Qt::QueuedConnection);
  });
  InitLyricTimers();
  titleText = WelcomeText();
}

// FormDestroy: the engine goes first, so no download data can reach a closed song cache. Before it,
// the adding of songs stops, as its worker reads tags through the engine.
TNimMain::~TNimMain() {
  addFiles.reset();
  // What changed since the last save is written before the lists go (FormClose has done it when
  // the window was closed; this covers a window that never was).
  SubmitListSaves();
  WatchListSaves(nullptr);
  listSaver.reset();
  trayIcon.reset();
  saveConfigTimer.stop();
  lanErrTimer.stop();
  chkTimer.stop();
  karaokeTimer.stop();
  if (engine) {
    // Stop raises a state change; the window is going, so nobody listens any more.
    engine->OnStateChange = nullptr;
    engine->OnTick = nullptr;
    engine->OnTrackEnd = nullptr;
    engine->OnError = nullptr;
    engine.reset();
  }
  // The engine can deliver no more download data now, so the cache file can be closed.
  songCache.reset();
  pluginHost.reset();  // PLUGIN_UNLOADING to each plug-in, then unloaded
  lyricDownloader.reset();
  DetachSystemFault(this);
}

void TNimMain::SetWindow(QWindow* window) {
  mainWindow = window;
  if (trayIcon) trayIcon->SetApplicationWindow(window);
  if (!window) return;
  CheckCompositor();
  // The scene says which part of the window takes the mouse (all of it but in mini mode) and,
  // without a compositor, which part is drawn.
  const int apply = metaObject()->indexOfMethod("ApplyInputRegion()");
  for (const char* name : {"inputRegion", "faceShape"}) {
    const int index = window->metaObject()->indexOfProperty(name);
    if (index < 0 || apply < 0) continue;
    const QMetaProperty region = window->metaObject()->property(index);
    if (region.hasNotifySignal()) connect(window, region.notifySignal(), this, metaObject()->method(apply));
  }
}

void TNimMain::ApplyInputRegion() {
  if (!mainWindow) return;
  const QRect region = mainWindow->property("inputRegion").toRectF().toAlignedRect();
  if (!region.isEmpty()) {
    mainWindow->setMask(QRegion(region));
    return;
  }
  QPolygon shape;
  for (const QVariant& corner : mainWindow->property("faceShape").toList()) shape << corner.toPointF().toPoint();
  mainWindow->setMask(shape.size() >= 3 ? QRegion(shape) : QRegion());
}

uintptr_t TNimMain::MainWindowHandle() const {
  return mainWindow ? static_cast<uintptr_t>(mainWindow->winId()) : 0;
}

void TNimMain::FormCreate(const std::vector<std::string>& args) {
  AttachSystemFault(this);
  WatchListSaves(listSaver.get());
  PostOwnCommandLine(args);
  SetButtonGlyphs();
  const text::ProgramFolders folders = text::FindProgramFolders(services.ExecutablePath);
  shell.AppFolder = folders.Modules;
  shell.ShareFolder = folders.Data;
  PrepareCrashReporter(shell.AppFolder + "bugreport");
  shell.DataFolder = desktop::GetSpecialFolder(133, false) + "Orvane/";
  desktop::ForceFolder(shell.DataFolder, true);
  PrepareCrashRecord(shell.DataFolder + kCrashRecordName);
  lyricDownloader = lyrics::TLyricDownloader::Load(shell.AppFolder);
  InitMusicServer();
  ReadConfig();
  CreateDesktopLyrics();
  CreateEngine();
  LoadEffectPresets();
  trackList.clear();
  lrcDoc.Load("");
  if (services.CreatePluginHost) pluginHost = services.CreatePluginHost(MainWindowHandle(), shell.AppFolder + "plugins");
  ReportUntrustedPlugins();
  StartUpdateCheck();
  musicServer->Start();
  LoadLists();
  UpdateListHint();
  if (services.RegisterFileTypes) services.RegisterFileTypes(services.ExecutablePath, 1);
  SetSeekOpacity(0);
  CreateTrayIcon();
  created = true;
  // The settings page was bound before the settings were read.
  emit settingsChanged();
  emit showLrcChanged();
}

void TNimMain::SetButtonGlyphs() {
  SetPlayImages(false);
}

// Reads every setting in the order the configuration lists them. The store never fails: a file
// that cannot be read is moved aside and the defaults apply, and the user is told.
void TNimMain::ReadConfig() {
  store::TYkConfig config(shell.DataFolder + "Orvane.xml", kConfigRoot);
  if (config.MovedAside()) ReportMovedAside(tr("设置文件"), config.MovedAsidePath());

  const int32_t pattern = config.ReadInteger("Window/PLAY", "PATTERN", 0);
  modBox = pattern >= 0 && pattern <= 2 ? pattern : -1;
  shell.PlayMode = PlayModeFromItem(modBox);

  shell.OnlineLrc = config.ReadBool("Window/LRC", "ONLINE", true);
  shell.LyricFolder = config.ReadString("Window/LRC", "PATH", shell.DataFolder + "lrc");
  if (!FolderExists(shell.LyricFolder)) {
    shell.LyricFolder = shell.DataFolder + "lrc/";
    desktop::ForceFolder(shell.LyricFolder, true);
  }
  shell.MusicFolder = config.ReadString("Window/MUSIC", "PATH", shell.DataFolder + "music");
  if (!FolderExists(shell.MusicFolder)) {
    shell.MusicFolder = shell.DataFolder + "music/";
    desktop::ForceFolder(shell.MusicFolder, true);
  }
  shell.PlaylistFile = config.ReadString("Window/PLIST", "PATH", shell.DataFolder + "Default.pls");
  if (!FileExists(shell.PlaylistFile)) shell.PlaylistFile = shell.DataFolder + "Default.pls";
  shell.EqPresetId = config.ReadInteger("Window/EQ", "ID", 0);
  shell.AutoRun = config.ReadBool("Window/AUTORUN", "Value", true);
  if (shell.AutoRun && services.SetAutoRun) services.SetAutoRun(true);
  shell.RunTL = config.ReadBool("Window/RUNTL", "Value", true);
  showLrc = config.ReadBool("Window/DESKTOPLRC", "SHOW", true);
  karaoke = config.ReadBool("Window/DESKTOPLRC", "KARAOKE", false);
  musicServer->ReadConfig(config);
  // The slider's range; a hand-edited 500 would otherwise play at five times full gain.
  volume = std::clamp(config.ReadInteger("Window/Volume", "Value", 65), 0, 100);
  emit volumeChanged();
}

void TNimMain::CreateEngine() {
  if (!services.CreateEngine) return;
  downloadCounters = std::make_shared<audio::TDownloadCounters>();
  songCache = std::make_unique<audio::TSongCache>(downloadCounters,
                                                  [this](const audio::TCachedSong& song) { SongCached(song); });
  engine = services.CreateEngine(MainWindowHandle(), shell.AppFolder, downloadCounters);
  if (!engine) return;
  engine->OnStateChange = [this](int32_t state) { EngineStateChanged(state); };
  engine->OnTrackEnd = [this](int32_t state) { EngineTrackEnded(state); };
  engine->OnTick = [this](int32_t state, int32_t length, int32_t position, const audio::TSpectrumData& spectrum,
                          const audio::TWaveData& wave) { EngineTick(state, length, position, spectrum, wave); };
  engine->OnDownloadData = [this](const void* buffer, uint32_t length, void* user) {
    EngineDownloadData(buffer, length, user);
  };
  engine->OnError = [this](int32_t code, int32_t detail) { EngineError(code, detail); };
  engine->OnResolveLocation = [this](const std::string& location) {
    return musicServer ? musicServer->StreamUrlFor(location) : std::string();
  };
  engine->SetVolume(static_cast<float>(volume));
}

void TNimMain::LoadEffectPresets() {
  effBox = audio::EffectPresetNames(store::TXmlReader::FromFile(shell.ShareFolder + audio::EffectPresetFileName));
  effBoxItemIndex = -1;
  // Selecting the saved preset applies it, so its gains reach the engine before any song plays.
  if (shell.EqPresetId < 0 || shell.EqPresetId >= static_cast<int32_t>(effBox.size())) return;
  effBoxItemIndex = shell.EqPresetId;
  ApplyEffectPreset(shell.EqPresetId);
}

void TNimMain::ApplyEffectPreset(int32_t index) {
  if (index != shell.EqPresetId) {
    shell.EqPresetId = index;
    ConfigChanged();
  }
  if (engine)
    audio::ApplyEffectPreset(store::TXmlReader::FromFile(shell.ShareFolder + audio::EffectPresetFileName), index, *engine);
}

// The player's own files are carried out as a second start's would be, once the event loop runs,
// that is after the saved lists have loaded, so they are appended after them. They go straight to
// the handler rather than through the shared block: another start may hold the block right now,
// and a command of our own must neither wait for it nor be lost to it.
void TNimMain::PostOwnCommandLine(const std::vector<std::string>& args) {
  std::vector<TCommand> commands = CommandsFromArgs(args);
  if (commands.empty()) return;
  QMetaObject::invokeMethod(
      this,
      [this, commands = std::move(commands)] {
        for (const TCommand& command : commands) WMSharedCommand(command.Code, command.Text, 1);
      },
      Qt::QueuedConnection);
}

void TNimMain::WriteConfig(store::TYkConfig& config) const {
  // The slider's value rounded half to even, as the settings have always been stored.
  config.WriteInteger("Window/Volume", "Value", static_cast<int32_t>(std::nearbyint(volume)));
  config.WriteString("Window/PLIST", "PATH", shell.PlaylistFile);
  config.WriteInteger("Window/PLAY", "PATTERN", ItemFromPlayMode(shell.PlayMode));
  config.WriteBool("Window/DESKTOPLRC", "SHOW", showLrc);
  config.WriteBool("Window/DESKTOPLRC", "KARAOKE", karaoke);
  config.WriteBool("Window/AUTORUN", "Value", shell.AutoRun);
  config.WriteBool("Window/RUNTL", "Value", shell.RunTL);
  config.WriteInteger("Window/EQ", "ID", shell.EqPresetId);
  config.WriteString("Window/SKIN", "NAME", shell.SkinName);
  config.WriteBool("Window/LRC", "ONLINE", shell.OnlineLrc);
  if (musicServer) musicServer->WriteConfig(config);
}

void TNimMain::SaveConfig() {
  store::TYkConfig config(shell.DataFolder + "Orvane.xml", kConfigRoot);
  WriteConfig(config);
  std::string error;
  if (!config.Save(&error)) {
    SettingsNotSaved();
    ShowNotice(tr("设置没有保存成功：%1").arg(QString::fromStdString(error)).toStdString());
    return;
  }
  SettingsSaved();
}

// A change is written to disk shortly after (one write for a burst, such as a slider drag); until
// then its text is kept ready for the crash path, so a fault in between loses nothing.
void TNimMain::ConfigChanged() {
  if (!created || closed) return;
  saveConfigTimer.start();
  const std::string file = shell.DataFolder + "Orvane.xml";
  store::TYkConfig config(file, kConfigRoot);
  WriteConfig(config);
  std::string bytes;
  if (config.TakeText(bytes) && KeepSettingsForCrash(file, bytes)) return;
  saveConfigTimer.stop();
  SaveConfig();
}

void TNimMain::FormClose() {
  if (!created || closed) return;
  closed = true;
  saveConfigTimer.stop();
  // The rows already in are saved; the files still waiting for their tags are not added.
  if (addFiles) addFiles->Cancel();
  // Closing waits for the list on disk, so nothing is lost at "退出" or a session's end.
  SaveActiveList();
  FlushListSaves();
  SaveConfig();
}

// On a fault raised by the system, on whichever thread raised it. Nothing is serialized here
// (allocating or taking locks in a signal handler could hang the process instead of ending it): the
// crash path writes the settings' text kept ready since the last change and waits for list saves
// under way (SystemFault.h).
void TNimMain::OnSystemFault(bool isSystemFault) {
  if (!isSystemFault) return;
  RunCrashPath();
}

QString TNimMain::WelcomeText() const { return tr("Orvane 不一样的音乐体验"); }

void TNimMain::ReportMovedAside(const QString& what, const std::string& movedTo) {
  const QString name = QString::fromStdString(std::filesystem::path(movedTo).filename().string());
  ShowNotice(tr("%1已损坏，已另存为 %2").arg(what, name).toStdString());
}

// Once per run, as the host loads once: what was not loaded because others could have changed it.
void TNimMain::ReportUntrustedPlugins() {
  if (!pluginHost || pluginHost->Untrusted().empty()) return;
  const std::vector<std::string>& refused = pluginHost->Untrusted();
  constexpr size_t kNamed = 3;
  QStringList names;
  for (size_t i = 0; i < refused.size() && i < kNamed; ++i) names << QString::fromStdString(refused[i]);
  QString list = names.join(tr("、"));
  if (refused.size() > kNamed) list = tr("%1 等 %2 项").arg(list).arg(refused.size());
  ShowNotice(tr("插件没有加载，因为其他用户可以修改它们：%1").arg(list).toStdString());
}

// Notices wait their turn: two arriving together (a damaged settings file and a damaged list at
// start-up) are both shown, one after the other.
void TNimMain::ShowNotice(const std::string& text) {
  const QString notice = QString::fromStdString(text);
  if (!noticeText.isEmpty()) {
    if (notice != noticeText && !pendingNotices.contains(notice)) pendingNotices.push_back(notice);
    return;
  }
  noticeText = notice;
  emit noticeTextChanged();
}

void TNimMain::ReplaceNotice(const QString& previous, const QString& text) {
  if (!previous.isEmpty() && noticeText == previous) {
    noticeText = text;
    emit noticeTextChanged();
    return;
  }
  const qsizetype waiting = previous.isEmpty() ? -1 : pendingNotices.indexOf(previous);
  if (waiting >= 0) {
    pendingNotices[waiting] = text;
    return;
  }
  ShowNotice(text.toStdString());
}

void TNimMain::noticeShown() {
  if (noticeText.isEmpty()) return;
  noticeText = pendingNotices.isEmpty() ? QString() : pendingNotices.takeFirst();
  emit noticeTextChanged();
}

void TNimMain::SetSeekOpacity(double opacity) {
  if (seekOpacity == opacity) return;
  seekOpacity = opacity;
  emit seekOpacityChanged();
}

QObject* TNimMain::MusicListObject() const { return musicList.get(); }
QObject* TNimMain::RndListObject() const { return rndList.get(); }

}  // namespace orvane::app
