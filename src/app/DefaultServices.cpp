// The real outside world of the main window: the audio engine, the file dialog, the plug-in host, the
// desktop helpers.
#include <QCoreApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QStringList>
#include <QWindow>

#include "app/FileUrl.h"
#include "app/unt_main.h"
#include "audio/AudioEngine.h"
#include "audio/bass/bass.h"
#include "net/MusicServerSecret.h"
#include "desktop/ShellHelpers.h"
#include "plugins/UPluginFramework.h"

namespace orvane::app {
namespace {

// The engine names its filter in Chinese; the dialog shows the name in the interface's language.
[[maybe_unused]] constexpr const char* kFilterNames[] = {QT_TRANSLATE_NOOP("DefaultServices", "所有音乐")};

// "所有音乐|*.mp1;*.mp2" → "所有音乐 (*.mp1 *.MP1 *.mp2 *.MP2)": the engine's filter in the dialog's
// form. Names are matched with their letter case here, and songs copied from Windows are often
// "SONG.MP3", so each pattern comes in capitals too.
QString DialogFilter(const std::string& filter) {
  const auto bar = filter.find('|');
  if (bar == std::string::npos) return {};
  QStringList patterns;
  for (const QString& pattern : QString::fromStdString(filter.substr(bar + 1)).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    patterns << pattern;
    if (pattern.toUpper() != pattern) patterns << pattern.toUpper();
  }
  const QString name = QCoreApplication::translate("DefaultServices", filter.substr(0, bar).c_str());
  // Any file at all as the second choice: a song whose name has no known extension still plays.
  return name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QStringLiteral(");;") +
         QCoreApplication::translate("DefaultServices", "所有文件") + QStringLiteral(" (*)");
}

std::vector<std::string> ChooseAudioFiles(const std::string& filter) {
  // As URLs, which keep a name's bytes where the desktop's dialog hands them over so (names that
  // are not UTF-8); file names as QStrings would not.
  const QList<QUrl> chosen =
      QFileDialog::getOpenFileUrls(nullptr, QCoreApplication::translate("DefaultServices", "添加歌曲"), QUrl(),
                                   DialogFilter(filter));
  std::vector<std::string> files;
  files.reserve(static_cast<size_t>(chosen.size()));
  for (const QUrl& url : chosen)
    if (url.isLocalFile()) files.push_back(LocalFileBytes(url));
  return files;
}

}  // namespace

TNimMainServices DefaultServices(const std::string& executablePath) {
  TNimMainServices services;
  services.ExecutablePath = executablePath;
  services.CreateEngine = [](uintptr_t window, const std::string& pluginFolder,
                             std::shared_ptr<audio::TDownloadCounters> counters) -> std::unique_ptr<audio::IAudioEngine> {
    return std::make_unique<audio::TAudioEngine>(reinterpret_cast<void*>(window), pluginFolder, std::move(counters));
  };
  services.ChooseFiles = ChooseAudioFiles;
  services.CreatePluginHost = [](uintptr_t window, const std::string& folder) {
    return std::make_unique<plugins::TUSGeneralPurpose>(window, folder);
  };
  services.RunCommandLine = [](const std::string& commandLine, uint16_t show) {
    return desktop::RunCommandLine(commandLine, show);
  };
  services.OpenUrl = [](const std::string& url) { desktop::OpenUrl(url); };
  services.SetAutoRun = [](bool on) { desktop::SetAutoRun(on); };
  services.RegisterFileTypes = [](const std::string& exe, int32_t iconIndex) {
    desktop::RegisterFileTypes(exe, iconIndex);
  };
  services.BrowseForFolder = [](const std::string& title, std::string& folder) {
    return desktop::BrowseForFolder(title, folder, true);
  };
  services.CreateSecretStore = [](const std::string& dataFolder) { return net::MakeSecretStore(dataFolder); };
  services.DecoderOpens = DecoderOpens;
  return services;
}

// A decoding stream needs no sound device, so this works on any thread, with or without one.
bool DecoderOpens(const std::string& path) {
  const HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_DECODE);
  if (!stream) return false;
  BASS_StreamFree(stream);
  return true;
}

}  // namespace orvane::app
