#pragma once
// Folders: the user's special folders, creating missing folders, the folder-choice dialog and
// cleaning text into a file name. Paths are UTF-8 with "/" separators. Never throw.

#include <cstdint>
#include <string>

#include "text/TextUtil.h"

namespace orvane::desktop {

// A special folder by its Windows code, as the player's callers know them. Codes below 160 name a
// shell folder by Code & 127 (128 + n is the same folder as n); those with a desktop equivalent map
// to it:
//   0, 16 desktop         5 documents        13 music         14 videos        39 pictures
//   21 templates          40 home            26 XDG_CONFIG_HOME                28 XDG_DATA_HOME
//   32 XDG_CACHE_HOME     2 XDG_DATA_HOME/applications          7 XDG_CONFIG_HOME/autostart
//   20 XDG_DATA_HOME/fonts
// (user folders from user-dirs.dirs, else ~/Desktop, ~/Documents …). Code 163 is the temporary
// folder ($TMPDIR when it is an absolute path, else /tmp). Every other code (among them 160 and 161,
// the Windows and system folders, and 162) gives the empty text, as does a folder that cannot be
// found. ShortForm (8.3 names) has no meaning here and is ignored. A non-empty result ends in "/".
// Needs no application object: callable before Qt starts.
std::string GetSpecialFolder(uint8_t Code, bool ShortForm);

// Returns true at once when Path names an existing folder; otherwise false when !Create. With
// Create, every prefix of Path that ends in "/" and is not an existing folder is created, in order,
// so a last component without a "/" after it is not created ("a/b/c/" creates a, b and c; "a/b"
// only a). Returns whether all the folders it was to create exist afterwards.
bool ForceFolder(const std::string& Path, bool Create);

// Shows the desktop's folder dialog (parent: the active window) with the title Title, starting at
// Folder. When the user chooses a folder, Folder := its path and the result is true; when the user
// cancels, Folder stays and the result is false. NewStyle has no meaning here (the dialog always
// lets the user make a new folder). Main thread of a running QApplication only; without one it
// returns false at once.
bool BrowseForFolder(const std::string& Title, std::string& Folder, bool NewStyle);

// Removes the nine characters " * / : < > ? \ | and keeps at most 259 bytes (text/TextUtil.h).
using text::CleanFileName;

}  // namespace orvane::desktop
