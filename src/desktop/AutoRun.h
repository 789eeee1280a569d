#pragma once
// Starting with the desktop: an XDG autostart entry, $XDG_CONFIG_HOME/autostart/orvane.desktop
// (~/.config/autostart when the variable is not set), whose Exec is the executable's full path.
// Main thread. Never throw.

#include <string>

namespace orvane::desktop {

// On: writes the entry for the running executable; off: deletes it. Returns whether the entry is
// now as asked.
bool SetAutoRun(bool On);
// The same for a given executable path (its full path).
bool SetAutoRun(bool On, const std::string& Exe);

// Where the entry lives; empty when no configuration folder can be found.
std::string AutoRunFile();

}  // namespace orvane::desktop
