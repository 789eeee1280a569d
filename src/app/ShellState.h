#pragma once
// The player's process-wide values, gathered in one place and owned by the main window, so a test
// can start from a fresh set. Main thread only.

#include <cstdint>
#include <string>

#include "net/UntCkUpThread.h"

namespace orvane::app {

// The play modes with the values PlayMode has always held in memory; the settings file and the
// play-mode box number them 0, 1, 2 instead (see PlayModeFromItem).
enum class PlayMode : uint8_t { Normal = 0, LoopList = 2, RepeatOne = 3 };

struct ShellState {
  std::string AppFolder;     // the program's modules, plug-ins and helper programs, ending in "/"
  std::string ShareFolder;   // the program's read-only data (effect.dat, demo), ending in "/"
  std::string DataFolder;    // documents folder + "Orvane/"
  std::string LyricFolder;
  std::string MusicFolder;
  std::string PlaylistFile;
  app::PlayMode PlayMode = app::PlayMode::Normal;
  int32_t EqPresetId = 0;
  bool AutoRun = true;
  bool RunTL = true;
  bool OnlineLrc = true;     // lyrics may be downloaded from the lyric provider ("Window/LRC" "ONLINE")
  std::string SkinName;      // never set; written as empty
  int32_t CurrentIndex = 0;
  uint8_t ActiveList = 0;    // 0 the music list, 1 the random list
  net::TRemoteSettings Remote;  // published by the update check
};

// Play modes as the play-mode box lists them (item index, also the stored PATTERN) and as PlayMode
// holds them.
inline PlayMode PlayModeFromItem(int item) {
  return item == 1 ? PlayMode::LoopList : item == 2 ? PlayMode::RepeatOne : PlayMode::Normal;
}
inline int ItemFromPlayMode(PlayMode mode) {
  return mode == PlayMode::LoopList ? 1 : mode == PlayMode::RepeatOne ? 2 : 0;
}

}  // namespace orvane::app
