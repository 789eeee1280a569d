#pragma once
// A song's location as the playlist file holds it. In memory a location is the file name's bytes,
// which on Linux need not be text: a name from a Windows zip may hold GBK bytes, one from an old
// disk Latin-1. The file's attributes are text, so such a name is stored escaped:
//
//   - a location that is valid UTF-8 (and that XML can carry) is stored as it is, as ever;
//   - any other is stored as a file URI, "file://" followed by its bytes with everything but
//     ASCII letters, digits, "-", ".", "_", "~" and "/" percent-escaped:
//     "/music/\xC4\xE3.mp3" becomes "file:///music/%C4%E3.mp3".
//
// An older reader takes the URI for a path that does not exist (or a URL it cannot open) and shows
// a dead row; it never opens another file in its place. A location that itself begins with
// "file://" is escaped too, so every location comes back byte for byte; a hand-written file URI
// in a list reads as the path it names.
//
// Pure, thread-safe, never throw.

#include <string>
#include <string_view>

namespace orvane::store {

// The attribute text for a location.
std::string StoredLocation(std::string_view location);

// The location an attribute text stands for (the inverse of StoredLocation). A "file://" text
// whose escapes are broken is taken as it is.
std::string LoadedLocation(std::string_view text);

}  // namespace orvane::store
