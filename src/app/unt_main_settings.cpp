// The settings page on the back of the face, and mini mode. The page's controls act at once; "保存"
// only writes the settings file early. The faces turn and shrink in the scene: these handlers say
// which face is wanted and the scene animates towards it.
#include <filesystem>

#include "app/unt_main.h"
#include "desktop/Compositor.h"
#include "store/UYmXMLCFG.h"

namespace orvane::app {
namespace {

constexpr const char* kConfigRoot = "MainConfig";

bool FolderExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_directory(path, ec);
}

}  // namespace

void TNimMain::SetFace(TFace wanted) {
  if (wanted == face) return;
  CheckCompositor();  // one may have started or stopped since the last turn
  face = wanted;
  emit faceChanged();
}

void TNimMain::CheckCompositor() {
  const bool running = services.CompositorRunning ? services.CompositorRunning() : desktop::CompositorRunning();
  if (running == compositing) return;
  compositing = running;
  emit compositingChanged();
}

void TNimMain::btnAboutClick() {
  if (face == TFace::Main) SetFace(TFace::Setting);
}

void TNimMain::btnAboutBackClick() {
  if (face == TFace::Setting) SetFace(TFace::Main);
}

void TNimMain::HudButton3Click() {
  if (face != TFace::Setting) return;
  saveConfigTimer.stop();
  SaveConfig();
  btnAboutBackClick();
}

void TNimMain::btn_minClick() {
  if (face == TFace::Main) SetFace(TFace::Mini);
}

void TNimMain::transformation2Click() {
  if (face == TFace::Mini) SetFace(TFace::Main);
}

// The two folder buttons: a folder that exists is offered in the folder browser; whatever the
// outcome, the folder (chosen, kept or defaulted) is written to the settings file at once.
void TNimMain::ChooseFolder(std::string& folder, const std::string& fallback, const std::string& title,
                            const char* path) {
  store::TYkConfig config(shell.DataFolder + "Orvane.xml", kConfigRoot);
  if (folder.empty()) folder = fallback;
  if (FolderExists(folder) && services.BrowseForFolder) {
    std::string chosen = folder;
    if (services.BrowseForFolder(title, chosen) && !chosen.empty()) folder = chosen;
  }
  config.WriteString(path, "PATH", folder);
  std::string error;
  if (!config.Save(&error)) ShowNotice(tr("设置没有保存成功：%1").arg(QString::fromStdString(error)).toStdString());
  emit settingsChanged();
}

void TNimMain::pmm_setdownClick() {
  ChooseFolder(shell.LyricFolder, shell.DataFolder + "lrc", tr("选择歌词存放目录").toStdString(), "Window/LRC");
}

void TNimMain::pmm_sdownClick() {
  ChooseFolder(shell.MusicFolder, shell.DataFolder + "music", tr("选择歌曲缓存目录").toStdString(), "Window/MUSIC");
}

void TNimMain::chkAutoRunClick() {
  shell.AutoRun = !shell.AutoRun;
  if (services.SetAutoRun) services.SetAutoRun(shell.AutoRun);
  emit settingsChanged();
  ConfigChanged();
}

void TNimMain::chkTalloClick() {
  shell.RunTL = !shell.RunTL;
  emit settingsChanged();
  ConfigChanged();
}

void TNimMain::chkOnlineLrcClick() {
  shell.OnlineLrc = !shell.OnlineLrc;
  emit settingsChanged();
  ConfigChanged();
}

void TNimMain::effBoxChange(int index) {
  if (index < 0 || index >= static_cast<int>(effBox.size()) || index == effBoxItemIndex) return;
  effBoxItemIndex = index;
  ApplyEffectPreset(index);
  emit settingsChanged();
  ConfigChanged();
}

QStringList TNimMain::EffBoxItems() const {
  QStringList items;
  items.reserve(static_cast<qsizetype>(effBox.size()));
  for (const std::string& name : effBox) items << QString::fromStdString(name);
  return items;
}

}  // namespace orvane::app
