#pragma once
// What the program's small entry point (main.cpp) hands to the player it loads (PlayerMain.cpp)
// once it knows this is the first instance: the runtime folder, the shared command block, the
// instance lock with the window's listening socket, and the command line.

#include <memory>
#include <string>
#include <vector>

#include "app/Screenshots.h"
#include "app/mapshare.h"

namespace orvane::app {

struct TStartUp {
  TRuntimeFolder Folder;
  std::shared_ptr<TCommandBlock> Block;
  TSingleInstance Instance;
  std::vector<std::string> Args;  // the player's own arguments (without argv[0] and the options below)
  ScreenshotRequest Screenshots;
  std::string ExecutablePath;     // the program's real path (the module folder is found from it)
};

// The player's library exports this (C linkage); it runs the player to its end and returns the
// exit code.
using TPlayerMain = int (*)(int argc, char** argv, TStartUp* startUp);
inline constexpr const char* kPlayerMainName = "OrvanePlayerMain";
inline constexpr const char* kPlayerLibraryName = "liborvane_player.so";

}  // namespace orvane::app
