// Benchmark for scripts/bench/random_songs.sh (not a test): the random tab's sources.
//   - 20 random songs from a big Music folder, as the fetch's worker picks them (walk, decoder
//     check, tags): the first run and the median of five;
//   - the longest turn of the window's event loop (the main thread: every hand-off from the workers
//     through the main-thread relay runs in one) while the window fetches from the Music folder,
//     fetches from a music server, opens and plays a server song (its stream address made with
//     fresh credentials, "now playing" and the counted play sent), and tests a connection in the
//     dialog.
//   random_songs_bench <music server address>      (the Music folder is $HOME/Music)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/MusicServerLink.h"
#include "app/UntAddFiles.h"
#include "app/Unt_MusicServer.h"
#include "app/unt_main.h"
#include "audio/AudioEngine.h"
#include "net/MusicFolderSongs.h"
#include "ui/PlayListModel.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double ThreadCpuMs() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The longest turn of the event loop: as the clock on the wall saw it (which on a loaded machine
// also counts time other programs had the processor, and waits for the disk), and as processor
// time of the main thread.
struct TTurns {
  double WallMs = 0;
  double CpuMs = 0;
  void Merge(const TTurns& other) {
    WallMs = std::max(WallMs, other.WallMs);
    CpuMs = std::max(CpuMs, other.CpuMs);
  }
};

// Turns the event loop until done() holds (or timeoutMs passes).
TTurns LongestTurnUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  TTurns longest;
  while (!done() && Clock::now() < deadline) {
    const auto start = Clock::now();
    const double cpu = ThreadCpuMs();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    longest.Merge({Ms(Clock::now() - start), ThreadCpuMs() - cpu});
    QThread::msleep(1);
  }
  if (!done()) std::printf("  (timed out)\n");
  return longest;
}

void Report(const char* what, const TTurns& turns) {
  std::printf("main thread, longest turn: %s: %.1f ms (%.1f ms of processor time)\n", what, turns.WallMs, turns.CpuMs);
}

// What the fetch's worker does with the folder, timed.
double PickOnce(const std::string& folder, const std::vector<std::string>& extensions, size_t& seen) {
  const auto start = Clock::now();
  const orvane::net::TFolderPick pick =
      orvane::net::PickRandomSongFiles(folder, extensions, 20, orvane::app::DecoderOpens);
  for (const std::string& path : pick.Files) orvane::audio::ReadFileTags(path);
  seen = pick.FilesSeen;
  return Ms(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: random_songs_bench <music server address>\n");
    return 2;
  }
  const std::string server = argv[1];
  QGuiApplication app(argc, argv);
  const std::string folder = std::string(std::getenv("HOME")) + "/Music";

  // The worker's part alone.
  const std::vector<std::string> extensions = orvane::app::FilterExtensions(
      std::string(orvane::audio::TAudioEngine::BaseFileFilter) + ";" + orvane::audio::TAudioEngine::DecoderFormats);
  std::vector<double> runs;
  size_t seen = 0;
  for (int i = 0; i < 5; ++i) runs.push_back(PickOnce(folder, extensions, seen));
  const double first = runs.front();
  std::sort(runs.begin(), runs.end());
  std::printf("20 random songs from a folder of %zu files: %.0f ms the first time, %.0f ms median of 5 (on a worker)\n",
              seen, first, runs[2]);

  orvane::app::TNimMainServices services = orvane::app::DefaultServices(std::string(ORVANE_BIN_DIR) + "/orvane");
  services.StartUpdateCheck = false;
  services.CreateDeskLrc = false;
  services.CreateTrayIcon = false;
  services.CreateSecretStore = [](const std::string& dataFolder) { return orvane::net::MakeSecretStore(dataFolder, false); };
  orvane::app::TNimMain window(std::move(services));
  window.FormCreate();

  const auto playing = [&window] { return window.PlayerState() == orvane::audio::StatePlaying; };
  window.TabControl1Change(1);
  Report("the Music folder's songs fetched and the first one started",
         LongestTurnUntil([&] { return !window.RandomListFetchRunning() && playing(); }, 20000));

  window.MusicServer()->SaveLogin(server, "alice", "password", true);
  TTurns turns = LongestTurnUntil([&] { return !window.MusicServer()->Session().ApiVersion.empty(); }, 20000);
  window.btn_rndlistClick();
  turns.Merge(LongestTurnUntil([&] { return !window.RandomListFetchRunning() && playing(); }, 20000));
  Report("a server connected, its songs fetched and the first one streamed", turns);
  Report("a server song playing until its play is counted",
         LongestTurnUntil([&] { return window.MusicServer()->ScrobbleSubmitted(); }, 20000));

  window.pmm_serverClick();
  orvane::app::TNimMusicServer* dialog = window.MusicServer()->Dialog();
  if (dialog) {
    dialog->btnTestClick();
    Report("the dialog's connection test", LongestTurnUntil([dialog] { return !dialog->Busy(); }, 20000));
    std::printf("  (it said: %s)\n", qPrintable(dialog->StatusText()));
    dialog->Close();
  }
  window.FormClose();
  return 0;
}
