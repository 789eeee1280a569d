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

// The whole Exec value for the executable followed by extra arguments written as they are
// (field codes such as %F, or "/l %f"): EscapeEntryValue(QuoteExecArgument(exe) + " " + rest).
std::string ExecValue(std::string_view exe, std::string_view rest = {});

// The Icon value for the player at exe: the full path of orvane.svg or orvane.png beside the
// executable when one is there (escaped), else the theme icon name "orvane".
std::string EntryIcon(const std::string& exe);

}  // namespace orvane::desktop
