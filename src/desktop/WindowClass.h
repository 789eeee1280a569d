#pragma once
// The X11 class of a top-level window (WM_CLASS), by which the desktop ties a window to its
// launcher (the desktop entry's StartupWMClass) and lets the user tell the player's windows apart.
// Qt gives every window of a program the same class; the player's windows each have their own:
// the main window "Orvane", the desktop lyrics "Orvane 桌面歌词" and their toolbar
// "Orvane 桌面歌词操作". Main thread of a running QGuiApplication; nothing happens on other
// platforms than X11.

#include <string>

class QWindow;
class QWidget;

namespace orvane::desktop {

// Sets window's class (creating its native window if needed). Call it before the window is first
// shown: window managers read the class when a window is mapped.
void SetWindowClass(QWindow* window, const std::string& className);
void SetWindowClass(QWidget* widget, const std::string& className);

// The class a window has (empty when it has none or this is not X11).
std::string WindowClass(QWindow* window);

}  // namespace orvane::desktop
