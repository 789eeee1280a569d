#pragma once
// The random-listening list: a small XML document from the product's web server naming songs
// relative to the music base address.
//
// Threads: both functions are callable on any thread and share nothing. The main window runs
// FetchRandomList on a worker (it blocks for the transfer) and applies the entries on the main
// thread, dropping a result that a newer fetch has overtaken. Never throw.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/HttpClient.h"

namespace orvane::net {

struct TRandomListEntry {
  std::string Title;
  std::string Singer;
  std::string Location;  // MusicBaseUrl + the decoded "url" without its first character
  int32_t LengthMs = 0;  // the song's length where the source tells it, else 0
};

// Every tag named "item" in any letter case, in document order. Its attributes "url", "title" and
// "singer" (names exactly so) are URL-decoded and then read as legacy text, so GBK-escaped and
// UTF-8-escaped values both give UTF-8. A tag without a "url" value (an end tag, or an item whose
// attribute is missing, empty or written in another case) names no song and is skipped.
std::vector<TRandomListEntry> ReadRandomList(std::string_view document, std::string_view musicBaseUrl);

// HttpGetText(randomListUrl) read as above; no entries when the fetch fails.
std::vector<TRandomListEntry> FetchRandomList(const std::string& randomListUrl, const std::string& musicBaseUrl,
                                              const HttpOptions& options = {});

}  // namespace orvane::net
