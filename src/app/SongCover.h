#pragma once
// What the desktop's media widgets show beside a song's title: its album and its cover, the picture
// embedded in the song's tags. The picture is written into a cache folder so a widget can load it
// by a file:// address; the file's name comes from the picture's bytes, so a song never shows
// another's picture and songs of one album share one file. The folder keeps the latest few.
//
// Threads: ReadSongCover reads the song and writes the file; it touches nothing else and runs on
// a worker (a tag read may wait on a slow disk or network folder).

#include <cstddef>
#include <string>

namespace orvane::app {

struct TSongCover {
  std::string Album;      // UTF-8; empty when the tags name none
  std::string CoverPath;  // the cover's file in the cache folder; empty when there is none
};

// Pictures larger than this are left out (a cover is tens or hundreds of kilobytes).
inline constexpr std::size_t kMaxCoverBytes = 8u << 20;
// How many cover files the folder keeps; the oldest go first.
inline constexpr std::size_t kKeptCovers = 40;

// The cache folder for covers (under the user's cache folder).
std::string CoverFolder();

// Reads location's album and cover and writes the cover into folder (made when missing). A file
// that cannot be read gives an empty result.
TSongCover ReadSongCover(const std::string& location, const std::string& folder);

}  // namespace orvane::app
