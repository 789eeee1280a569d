#pragma once
// A quick, lean read of the playlist file's lists for start-up: the file streams through the parser
// in small pieces and each song is handed over as it passes, without building the file's document,
// so a list of a hundred thousand songs loads with little more memory than its songs take. It reads
// exactly what TYkPlist::Load reads.
//
// Main thread or any other; shares nothing. Never throws.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "store/UYmPlayerlist.h"

namespace orvane::store {

// Gets each song read: list is the position of its list's name in listNames. The song may be
// moved from.
using TSongSink = std::function<void(size_t list, TPList& song)>;

// For each name of listNames, the songs of the root's first child element of that name (every
// child element of it, in document order; missing attributes empty, a damaged "Ltime" 0; a "Path"
// as LoadedLocation reads it) go to sink. A missing file gives no songs and true. False when the
// file exists but is not a well-formed document (or cannot be read): the songs the sink got are
// then to be dropped, and the caller opens a TYkPlist on the file, which moves it aside.
bool ReadPlaylistLists(const std::string& fileName, const std::vector<std::string>& listNames, const TSongSink& sink);

// The same into one vector per name (empty ones when the file is refused).
bool ReadPlaylistLists(const std::string& fileName, const std::vector<std::string>& listNames,
                       std::vector<std::vector<TPList>>& lists);

}  // namespace orvane::store
