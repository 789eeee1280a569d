#include "net/UntCkUpThread.h"

#include <chrono>
#include <optional>
#include <random>
#include <string_view>

#include "net/Hosts.h"
#include "orvane_version.h"
#include "store/XmlReader.h"
#include "text/TextUtil.h"

namespace orvane::net {
namespace {

constexpr std::string_view kMarker = "Nimcase";

// The element's setting, by key compared without regard to case; null for other elements.
std::string* SettingFor(TCheckUPDate& check, std::string_view name) {
  struct Key {
    std::string_view name;
    std::string TCheckUPDate::*field;
  };
  static constexpr Key kKeys[] = {{"ver", &TCheckUPDate::Ver},
                                  {"file", &TCheckUPDate::UpdateFile},
                                  {"musicpath", &TCheckUPDate::MusicPath},
                                  {"rndmusic", &TCheckUPDate::RndMusic},
                                  {"poslrc", &TCheckUPDate::PosLrc},
                                  {"tj", &TCheckUPDate::Tj}};
  for (const Key& key : kKeys) {
    if (text::EqualsNoCase(name, key.name)) return &(check.*key.field);
  }
  return nullptr;  // "minbox" and everything else: not used
}

}  // namespace

std::string RemoteConfigUrl() { return "http://" + ServerHost() + "/soft/cfg.xml"; }

std::string LocalVersionText() {
  return std::to_string(kVersionMajor) + std::to_string(kVersionMinor) + std::to_string(kVersionRelease) +
         std::to_string(kVersionBuild);
}

TCheckUPDate::TCheckUPDate() : ConfigUrl(RemoteConfigUrl()) {}

TCheckUPDate::TCheckUPDate(std::string configUrl) : ConfigUrl(std::move(configUrl)) {}

void TCheckUPDate::Execute() {
  ConfigText = HttpGetText(ConfigUrl, Http);
  ReadConfig();
}

void TCheckUPDate::ReadConfig() {
  ConfigValid = ConfigText.find(kMarker) != std::string::npos;
  if (!ConfigValid) return;

  // Every tag counts in document order: a later one overwrites, and one without "value" (an end
  // tag included) sets the empty text.
  store::TXmlReader reader(ConfigText);
  while (reader.Next()) {
    if (std::string* setting = SettingFor(*this, reader.Name())) *setting = reader.Attribute("value");
  }

  // Both numbers must be decimal integers within signed 32 bits; otherwise there is no update, but
  // the settings above are still handed over.
  const std::optional<int32_t> local = text::ParseInt32(LocalVersion);
  const std::optional<int32_t> remote = text::ParseInt32(Ver);
  if (!local || !remote) return;
  UpdateAvailable = static_cast<uint32_t>(*local) < static_cast<uint32_t>(*remote);
}

std::string Base64(const std::string& bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = (uint32_t(uint8_t(bytes[i])) << 16) | (uint32_t(uint8_t(bytes[i + 1])) << 8) | uint8_t(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest == 0) return out;
  uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
  if (rest == 2) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
  out += kAlphabet[(v >> 18) & 63];
  out += kAlphabet[(v >> 12) & 63];
  out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
  out += '=';
  return out;
}

std::string UpdaterCommandLine(const std::string& appFolder, uint64_t windowId, const std::string& updateFile) {
  std::string program = appFolder + "update";
  if (program.find_first_of(" \t") != std::string::npos) program = "\"" + program + "\"";
  return program + " " + Base64(std::to_string(windowId) + "|" + updateFile);
}

TUpdateCheckedActions UpdateChecked(const TCheckUPDate& check, TRemoteSettings& settings, const std::string& appFolder,
                                    uint64_t windowId, const std::function<bool(const std::string&)>& runCommandLine) {
  TUpdateCheckedActions actions;
  settings.OnlineFlag = check.ConfigValid;
  if (check.ConfigValid) {
    settings.MusicBaseUrl = check.MusicPath;
    settings.RandomListUrl = check.RndMusic;
    settings.LyricUploadUrl = check.PosLrc;
    settings.ReportUrl = check.Tj;
    std::mt19937 random(static_cast<uint32_t>(std::chrono::system_clock::now().time_since_epoch().count()));
    actions.StartReportTimer = true;
    actions.ReportTimerIntervalMs = 5000 + static_cast<int>(std::uniform_int_distribution<int>(0, 4999)(random));
  }
  if (check.UpdateAvailable) {
    actions.UpdaterCommandLine = UpdaterCommandLine(appFolder, windowId, check.UpdateFile);
    actions.UpdaterStarted = runCommandLine && runCommandLine(actions.UpdaterCommandLine);
  }
  return actions;
}

}  // namespace orvane::net
