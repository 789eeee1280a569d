#pragma once
// The player's process-wide values, gathered in one place and owned by the main window, so a test
// can start from a fresh set. Main thread only.

#include <cstdint>
#include <string>

#include "net/UntCkUpThread.h"

namespace orvane::app {

struct ShellState {
  std::string AppFolder;     // folder of the executable, ending in "/"
  std::string DataFolder;    // documents folder + "Orvane/"
  std::string LyricFolder;
  std::string MusicFolder;
  std::string PlaylistFile;
  uint8_t PlayMode = 0;      // 0 normal, 2 loop over the list, 3 repeat one song
  int32_t EqPresetId = 0;
  bool AutoRun = true;
  bool RunTL = true;
  std::string SkinName;      // never set; written as empty
  int32_t CurrentIndex = 0;
  uint8_t ActiveList = 0;    // 0 the music list, 1 the random list
  net::TRemoteSettings Remote;  // published by the update check
};

// Play modes as the play-mode box lists them (item index) and as PlayMode holds them.
inline uint8_t PlayModeFromItem(int item) { return item == 1 ? 2 : item == 2 ? 3 : 0; }
inline int ItemFromPlayMode(uint8_t mode) { return mode == 2 ? 1 : mode == 3 ? 2 : 0; }

}  // namespace orvane::app
