#pragma once
// Writing values of desktop entry files (the key files of ~/.local/share/applications and
// ~/.config/autostart). Never throw.

#include <string>
#include <string_view>

namespace orvane::desktop {

// An argument of an Exec key: always double-quoted, with ", `, $ and \ escaped by a backslash
// inside the quotes and % doubled, as the Exec rules ask. The result is a ready Exec value part,
// still to be escaped with EscapeEntryValue.
std::string QuoteExecArgument(std::string_view argument);

// A string value as a key file holds it: \ as \\, newline, tab and carriage return as \n, \t, \r.
// Because this escaping is undone before the Exec quoting, a backslash inside a quoted Exec
// argument ends up as four backslashes in the file.
std::string EscapeEntryValue(std::string_view value);

// Whether an Exec argument may stand as it is: it holds none of the characters the Exec rules
// reserve (blanks, quotes, backslash, $, `, %, shell operators and the like) and is not empty.
bool IsPlainExecArgument(std::string_view argument);

// The whole Exec value for the executable followed by extra arguments written as they are
// (field codes such as %F, or "/l %F"). The executable stands bare when it may
// (IsPlainExecArgument): launchers that split Exec by blanks alone, such as Debian 12's xdg-open,
// take a quoted program for a name with quotes in it and fail. Only a path that needs quoting is
// quoted: EscapeEntryValue(QuoteExecArgument(exe) + " " + rest).
std::string ExecValue(std::string_view exe, std::string_view rest = {});

// The path an entry should start the player at: exe itself when it may stand bare in Exec
// (IsPlainExecArgument); otherwise a link to it, $XDG_DATA_HOME/orvane/bin/orvane, made or
// corrected here, so that launchers which cannot read a quoted program still start it (the player
// finds its own files from its real path). exe again when no such link can be made.
std::string LaunchPath(const std::string& exe);

// The Icon value for the player at exe: the full path of orvane.svg or orvane.png beside the
// executable when one is there (escaped), else the theme icon name "orvane".
std::string EntryIcon(const std::string& exe);

}  // namespace orvane::desktop
