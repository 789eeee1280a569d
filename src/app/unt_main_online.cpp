// The update check's completion, the usage report and the random-listening list.
#include <QRandomGenerator>

#include "app/unt_main.h"
#include "net/Hosts.h"
#include "net/RandomList.h"
#include "net/UntCkUpThread.h"
#include "net/UntPostThread.h"
#include "ui/PlayListModel.h"

namespace orvane::app {
namespace {

// The random list is fetched off the main thread, so a slow server never freezes the window.
class TRandomListFetch : public net::TWorker {
 public:
  TRandomListFetch(std::string url, std::string musicBaseUrl) : Url(std::move(url)), MusicBaseUrl(std::move(musicBaseUrl)) {}
  void Execute() override { Entries = net::FetchRandomList(Url, MusicBaseUrl); }

  std::string Url;
  std::string MusicBaseUrl;
  std::vector<net::TRandomListEntry> Entries;
};

}  // namespace

void TNimMain::StartUpdateCheck() {
  if (!services.StartUpdateCheck) return;
  auto check = std::make_shared<net::TCheckUPDate>();
  if (workers.Start(check, [this](net::TCheckUPDate& done) { UpdateChecked(done); })) updateThread = check;
}

void TNimMain::UpdateChecked(net::TCheckUPDate& check) {
  const auto runner = [this](const std::string& commandLine) {
    return services.RunCommandLine && services.RunCommandLine(commandLine, 0);
  };
  const net::TUpdateCheckedActions actions =
      net::UpdateChecked(check, shell.Remote, shell.AppFolder, MainWindowHandle(), runner);
  if (engine) engine->SetMusicBaseUrl(shell.Remote.MusicBaseUrl);
  if (actions.StartReportTimer) {
    chkTimer.setInterval(actions.ReportTimerIntervalMs);
    chkTimer.start();
  }
  updateThread.reset();
}

void TNimMain::tmr_chkTimer() {
  if (!shell.Remote.OnlineFlag) return;
  if (shell.RunTL && services.OpenUrl) services.OpenUrl("http://" + net::SiblingHost());
  auto report = std::make_shared<net::TPostThr>(shell.Remote.ReportUrl, net::ReportBody(net::GetAdapterAddress(0)),
                                                reportLock);
  if (workers.Start(report, [this](net::TPostThr&) { ReportSent(); })) reportThread = report;
  chkTimer.stop();
}

void TNimMain::ReportSent() { reportThread.reset(); }

// Fetches a new random list; the result replaces the list on the main thread. A fetch that a newer
// one has overtaken is dropped. One that arrives after the user started another song or changed
// the tab only refreshes the random list, and not even that while its old songs are playing.
void TNimMain::pmf_rndmusicClick() {
  const uint64_t serial = ++fetchCounter;
  const uint64_t userAction = userActionSerial;
  auto fetch = std::make_shared<TRandomListFetch>(shell.Remote.RandomListUrl, shell.Remote.MusicBaseUrl);
  const bool started = workers.Start(fetch, [this, serial, userAction](TRandomListFetch& done) {
    if (serial != randomFetchSerial) return;
    randomFetchSerial = 0;
    if (userAction == userActionSerial) ApplyRandomList(done.Entries);
    else if (shell.ActiveList != 1) FillRandomList(done.Entries);
  });
  if (started) randomFetchSerial = serial;
}

void TNimMain::FillRandomList(const std::vector<net::TRandomListEntry>& entries) {
  rndList->Clear();
  std::vector<ui::PlayListRow> rows;
  rows.reserve(entries.size());
  int number = 0;
  for (const net::TRandomListEntry& entry : entries)
    rows.push_back({std::to_string(++number), ui::PlayListModel::MakeCaption(entry.Title, entry.Singer), entry.Title,
                    entry.Singer, entry.Location, false});
  rndList->AddRows(std::move(rows));
  // Saved at once, as every list change is, so nothing waits for the close to reach the disk.
  SaveList(1);
}

void TNimMain::ApplyRandomList(const std::vector<net::TRandomListEntry>& entries) {
  if (engine) engine->Stop();
  FillRandomList(entries);
  RebuildTrackList(*rndList, true);
  if (engine && engine->State() == audio::StateConnecting) return;
  shell.CurrentIndex = 0;
  if (trackList.empty()) return;
  if (engine) engine->Open(trackList[0].Location);
  shell.ActiveList = 1;
}

}  // namespace orvane::app
