#pragma once
// Registering the player for its 21 audio file types on a freedesktop desktop: a desktop entry
// whose MimeType= lists the types, with "open" as Exec=<exe> %F and the add-to-list command as the
// desktop action "PlayList" (<exe> /l %F); a hidden second entry with the same types whose Exec adds
// to the list, so file managers offer it under "Open With"; the player as default application of
// each type in mimeapps.list; a shared-mime-info package for the extensions that have no standard
// type; then update-desktop-database and update-mime-database, where installed, so desktops see it.
// Main thread (it may wait up to a few seconds for those two tools). Never throw.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::desktop {

inline constexpr std::string_view kDesktopId = "orvane.desktop";
inline constexpr std::string_view kPlayListDesktopId = "orvane-playlist.desktop";

// The 21 extensions in the order they are registered (".mp1" … ".mpp").
const std::vector<std::string>& FileTypeExtensions();

// The MIME types an extension (with its dot, any letter case) stands for, most specific first;
// empty for an extension that is not one of the 21.
std::vector<std::string> MimeTypesOfExtension(std::string_view ext);

// Every MIME type of the 21 extensions once, in registration order (what the desktop entry lists).
std::vector<std::string> FileTypeMimeTypes();

// The shared-mime-info package for the extensions the standard database does not know.
std::string FileTypeMimePackage();

// Registers all 21 extensions for Exe (the executable's full path). IconIndex has no meaning on
// this desktop: the icon is orvane.svg or orvane.png beside the executable when there is one, else
// the theme icon "orvane". Files are rewritten only when their content changes, and the two
// database tools run only after a change (or when their cache is missing), so calling this at
// every start costs next to nothing. Returns false when a file could not be written; a missing or
// failing tool is not an error.
bool RegisterFileTypes(const std::string& Exe, int32_t IconIndex);

// Registers one extension: its types join those the desktop entries already list, and the player
// becomes their default application. False for an extension that is not one of the 21.
bool RegisterFileType(const std::string& Ext, const std::string& Exe, int32_t IconIndex);

// Where the files go: $XDG_DATA_HOME/applications/orvane.desktop and orvane-playlist.desktop,
// $XDG_DATA_HOME/mime/packages/orvane.xml ($XDG_DATA_HOME defaults to ~/.local/share).
std::string DesktopEntryFile();
std::string PlayListEntryFile();
std::string MimePackageFile();

}  // namespace orvane::desktop
