#pragma once
// The update check: once per run the remote configuration is fetched from the product's web
// server; it announces a newer version (the updater is then started) and carries the addresses of
// the other online features.
//
// Threads: TCheckUPDate runs on a worker thread (TWorkerHost) and writes only its own fields.
// UpdateChecked runs on the main thread once the worker has finished, reads those fields and
// publishes the settings into the TRemoteSettings the main window owns, so no reader ever sees a
// half-written setting.
//
// The main window's part:
//   auto check = std::make_shared<net::TCheckUPDate>();           // creation step
//   if (workers.Start(check, [this](net::TCheckUPDate& c) { UpdateChecked(c); })) UpdateThread = check;
//   …
//   void TNimMain::UpdateChecked(net::TCheckUPDate& c) {            // main thread
//     const auto actions = net::UpdateChecked(c, Remote, AppFolder, MainWindowHandle(), runCommandLine);
//     if (actions.StartReportTimer) { tmr_chk.setInterval(actions.ReportTimerIntervalMs); tmr_chk.start(); }
//     UpdateThread.reset();
//   }

#include <cstdint>
#include <functional>
#include <string>

#include "net/HttpClient.h"
#include "net/WorkerHost.h"

namespace orvane::net {

// The settings the remote configuration gives the rest of the player. Empty and false until an
// update check has completed with a valid document; written only by UpdateChecked.
struct TRemoteSettings {
  bool OnlineFlag = false;     // the document was read and carries the marker
  std::string MusicBaseUrl;    // "musicpath": put before every song path of a random list
  std::string RandomListUrl;   // "rndmusic": the random-listening list
  std::string LyricUploadUrl;  // "poslrc": where lyric lookups post what they found
  std::string ReportUrl;       // "tj": where the usage report goes
};

// "http://" + ServerHost() + "/soft/cfg.xml".
std::string RemoteConfigUrl();

// The compiled-in version as the remote "ver" value writes it: the decimal numbers of major,
// minor, release and build joined without separators (4.0.1.15 gives "40115").
std::string LocalVersionText();

class TCheckUPDate : public TWorker {
 public:
  // ConfigUrl defaults to RemoteConfigUrl(), taken when the check is created.
  TCheckUPDate();
  explicit TCheckUPDate(std::string configUrl);

  // The run (worker thread): fetch, marker test, reading the settings, version comparison.
  void Execute() override;
  // The part of the run after the fetch: reads ConfigText into the results below.
  void ReadConfig();

  // Inputs, fixed before Start.
  std::string ConfigUrl;
  std::string LocalVersion = LocalVersionText();
  HttpOptions Http;

  // Results, read by UpdateChecked.
  std::string ConfigText;
  bool ConfigValid = false;      // fetched and contains "Nimcase"
  bool UpdateAvailable = false;  // the "ver" value is larger than LocalVersion (unsigned 32-bit)
  std::string UpdateFile;        // "file"
  std::string MusicPath;         // "musicpath"
  std::string RndMusic;          // "rndmusic"
  std::string PosLrc;            // "poslrc"
  std::string Tj;                // "tj"
  std::string Ver;               // "ver", as written
};

// What the main window does after UpdateChecked.
struct TUpdateCheckedActions {
  bool StartReportTimer = false;  // enable tmr_chk…
  int ReportTimerIntervalMs = 5000;  // …with this interval: 5000 + a random 0…4999
  std::string UpdaterCommandLine;    // the updater's command line; empty when there is no update
  bool UpdaterStarted = false;       // what runCommandLine answered
};

// The updater's command line: the program "update" in appFolder (which ends in "/"), a blank, and
// the standard Base64 (with "=" padding) of windowId in decimal, "|" and updateFile. The program
// is quoted when the folder holds a blank, so the command line still splits into program and
// argument.
std::string UpdaterCommandLine(const std::string& appFolder, uint64_t windowId, const std::string& updateFile);

// Standard Base64, "=" padded, no line breaks.
std::string Base64(const std::string& bytes);

// UpdateChecked on the main thread: OnlineFlag := ConfigValid; with a valid document the four
// addresses are published and the report timer is due; with an update the updater is started
// through runCommandLine (the main window passes desktop::RunCommandLine with show state 0).
TUpdateCheckedActions UpdateChecked(const TCheckUPDate& check, TRemoteSettings& settings, const std::string& appFolder,
                                    uint64_t windowId, const std::function<bool(const std::string&)>& runCommandLine);

}  // namespace orvane::net
