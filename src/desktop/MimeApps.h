#pragma once
// Editing the user's mimeapps.list, the file that names each MIME type's default application.
// The file belongs to the user and to every other program: an edit changes only the lines it must.

#include <string>
#include <string_view>
#include <vector>

namespace orvane::desktop {

// The text of a mimeapps.list in which desktopId is the first default application of each of
// types: in every [Default Applications] group a line for such a type gets desktopId in front and
// loses any other mention of it, keeping the other applications after it in their order; types
// without a line get one at the end of the first such group (created at the end of the text when
// there is none). Every other line, group, comment and blank stays byte for byte; a line that
// already starts with desktopId is left as it is, so applying the same edit twice changes nothing.
// Pure; never throws except for lack of memory.
std::string SetDefaultApplications(std::string_view list, const std::vector<std::string>& types,
                                   std::string_view desktopId);

// $XDG_CONFIG_HOME/mimeapps.list (or ~/.config/mimeapps.list).
std::string MimeAppsListFile();

}  // namespace orvane::desktop
