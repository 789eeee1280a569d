#pragma once
// Opening web pages and documents with the desktop's opener (xdg-open, which follows the user's
// choice of browser and applications). Main thread. Never throw.

#include <string>

class QWidget;

namespace orvane::desktop {

// Puts "http://" in front of Text unless Text already holds "http://" or "https://" somewhere
// (exact letter case), then opens the address with ShellOpen. Reports nothing.
void OpenUrl(const std::string& Text);

// The address OpenUrl opens for Text.
std::string UrlForOpen(const std::string& Text);

// Hands File (a URL or a path) to xdg-open, started as RunCommandLine starts programs (found on
// $PATH, not waited for). Without xdg-open, and inside a running Qt GUI application, Qt's
// QDesktopServices opens it instead. Owner has no use here; Parameters are ignored, since the
// opener takes none. Returns whether an opener was started (a browser that fails later is not
// seen).
bool ShellOpen(const std::string& File, QWidget* Owner = nullptr, const std::string& Parameters = {});

}  // namespace orvane::desktop
