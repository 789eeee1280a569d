#pragma once
// The text of the online-song commands (codes 2 and 22) that a cooperating program hands over:
// comma-separated, URL-escaped items "<one character><path>|<title>-<singer>", the whole list
// closed by two characters of which the first is dropped. Pure text work, no window involved.

#include <string>
#include <vector>

namespace orvane::app {

struct TOnlineSong {
  std::string Title;
  std::string Singer;
  std::string Location;  // musicBaseUrl + the item's path
};

// Field n (1-based) of text split at separator; empty when there is no such field.
std::string GetField(const std::string& text, int n, char separator);

std::vector<TOnlineSong> ParseOnlineSongList(const std::string& text, const std::string& musicBaseUrl);

}  // namespace orvane::app
