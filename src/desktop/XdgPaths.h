#pragma once
// Where the desktop keeps a user's files, after the XDG Base Directory and user-dirs conventions.
// Read from the environment on every call (tests change it), no Qt, no application object needed.
// Results never end in "/" and are empty when they cannot be found. Never throw.

#include <string>
#include <string_view>

namespace orvane::desktop {

// $HOME when it is an absolute path, else the home folder of the user's passwd entry.
std::string HomeFolder();

// $XDG_CONFIG_HOME, $XDG_DATA_HOME, $XDG_CACHE_HOME when absolute, else ~/.config, ~/.local/share,
// ~/.cache. A relative value is ignored, as the base-directory convention asks.
std::string ConfigHome();
std::string DataHome();
std::string CacheHome();

// A user folder by its user-dirs name ("DESKTOP", "DOCUMENTS", "MUSIC", "VIDEOS", "PICTURES",
// "TEMPLATES", "DOWNLOAD", "PUBLICSHARE"): the XDG_<name>_DIR line of $XDG_CONFIG_HOME/user-dirs.dirs,
// else ~/<Desktop|Documents|Music|Videos|Pictures|Templates|Downloads|Public>.
std::string UserFolder(std::string_view name);

// The running executable's full path (from /proc/self/exe); empty when it cannot be read.
std::string ExecutablePath();

}  // namespace orvane::desktop
