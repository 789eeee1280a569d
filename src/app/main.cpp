// The program's entry point, kept small: it runs the start-up steps that decide whether this is
// the first instance — the shared command block, then the single-instance check — and only the
// first instance loads the player itself (liborvane_player.so in the program's module folder, with
// Qt and everything else). A later start hands its command line over and ends without loading any of
// that: it needs no display and is done in a few milliseconds.
#include <dlfcn.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/StartUp.h"
#include "orvane_version.h"
#include "text/ProgramFolders.h"

int main(int argc, char** argv) {
  using namespace orvane::app;
  const TCommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  switch (line.Action) {
    case TCommandLine::TAction::Version:
      std::printf("Orvane %s\n", orvane::kVersion);
      return 0;
    case TCommandLine::TAction::Help:
      std::fputs(kCommandLineHelp, stdout);
      return 0;
    case TCommandLine::TAction::Error:
      std::fprintf(stderr, "orvane: %s\n%s", line.Error.c_str(), kCommandLineHelp);
      return 2;
    case TCommandLine::TAction::Run:
      break;
  }
  TStartUp startUp;
  startUp.Args = line.Args;
  startUp.Screenshots.Folder = line.ScreenshotFolder;
  if (line.ScreenshotDelayMs >= 0) startUp.Screenshots.DelayMs = line.ScreenshotDelayMs;

  // 1. The shared command block. Without it the player cannot tell whether it already runs.
  std::string error;
  std::optional<TRuntimeFolder> folder = TRuntimeFolder::Open(&error);
  if (folder) startUp.Block = OpenSharedBlock(*folder, &error);
  if (!startUp.Block) {
    std::fprintf(stderr, "Orvane: %s\n", error.c_str());
    return 0;
  }
  // 4. One player per login. (Step 2, the fault handlers, comes with the player itself: a later
  // start runs nothing that could fault.)
  startUp.Instance = CheckSingleInstance(*folder, *startUp.Block, startUp.Args);
  if (!startUp.Instance.First) {
    if (!startUp.Instance.Note.empty()) std::fprintf(stderr, "Orvane: %s\n", startUp.Instance.Note.c_str());
    return 0;
  }
  if (!startUp.Instance.WindowSocket.Valid())
    std::fprintf(stderr, "Orvane: later starts cannot reach this player: %s\n", startUp.Instance.Note.c_str());

  startUp.Folder = std::move(*folder);
  startUp.ExecutablePath = orvane::text::RunningProgramPath();
  if (startUp.ExecutablePath.empty()) startUp.ExecutablePath = argv[0];
  const std::string library = orvane::text::FindProgramFolders(startUp.ExecutablePath).Modules + kPlayerLibraryName;
  void* player = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  const auto playerMain = player ? reinterpret_cast<TPlayerMain>(::dlsym(player, kPlayerMainName)) : nullptr;
  if (!playerMain) {
    const char* why = ::dlerror();
    std::fprintf(stderr, "Orvane: the player cannot be loaded: %s\n", why ? why : library.c_str());
    return 1;
  }
  // The library stays loaded to the end of the process; its objects are torn down at exit.
  return playerMain(argc, argv, &startUp);
}
