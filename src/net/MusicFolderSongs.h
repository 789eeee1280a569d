#pragma once
// Random songs from the user's Music folder, the random list's source when no server gives one.
// The folder is walked once, within limits (a library on a slow network share or a folder with a
// million files must not keep the worker for minutes), and a uniform random sample of the song
// files seen is kept as the walk goes (reservoir sampling), so memory stays small however big the
// library is. Only files a decoder opens are handed out.
//
// Threads: PickRandomSongFiles blocks on the file system; run it on a worker. It touches nothing but
// its arguments. decodes is called on the calling thread.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orvane::net {

struct TFolderWalkLimits {
  size_t MaxFiles = 100000;  // files looked at (of any kind) before the walk stops
  std::chrono::milliseconds MaxTime{2000};
};

struct TFolderPick {
  std::vector<std::string> Files;  // the chosen songs, in random order
  size_t FilesSeen = 0;            // files looked at
  size_t Candidates = 0;           // of them, files with a song's extension
  bool Cut = false;                // a limit ended the walk before the whole folder was seen
};

// Up to count song files under folder, chosen at random among the files whose extension (lower
// case, with its dot: ".mp3") is one of extensions, and for which decodes answers true. Hidden
// entries (".name") are passed over; symbolic links are followed, each folder is entered once (a
// link back up the tree is no loop), and folders that cannot be read are skipped. seed fixes the
// choice (tests); 0 takes a fresh one.
TFolderPick PickRandomSongFiles(const std::string& folder, const std::vector<std::string>& extensions, size_t count,
                                const std::function<bool(const std::string& path)>& decodes,
                                const TFolderWalkLimits& limits = {}, uint64_t seed = 0);

}  // namespace orvane::net
