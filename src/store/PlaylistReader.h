#pragma once
// A quick, lean read of the playlist file's lists for start-up: the songs are taken while the file
// streams past, without building its document, so even a list of ten thousand songs loads in a few
// megabytes. It reads exactly what TYkPlist::Load reads.
//
// Main thread or any other; shares nothing. Never throws.

#include <string>
#include <vector>

#include "store/UYmPlayerlist.h"

namespace orvane::store {

// For each name of listNames, the songs of the root's first child element of that name (every
// child element of it, in document order; missing attributes empty, a damaged "Ltime" 0) go to the
// list of the same position in lists. A missing file gives empty lists and true. False when the
// file exists but is not a well-formed document (or cannot be read): the caller then opens a
// TYkPlist on it, which moves the damaged file aside.
bool ReadPlaylistLists(const std::string& fileName, const std::vector<std::string>& listNames,
                       std::vector<std::vector<TPList>>& lists);

}  // namespace orvane::store
