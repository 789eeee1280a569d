#pragma once
// Whether a compositor draws the desktop. Without one (many X11 window managers run alone) a
// window's transparent pixels show black, so a window that relies on them must be shaped to what
// it draws. Main thread (it asks the display server).

namespace orvane::desktop {

// True when a compositor runs: on X11 the screen's _NET_WM_CM_Sn selection has an owner (the
// desktop's window-manager hints, EWMH). Any other platform counts as composited (Wayland always is;
// the offscreen platform has no desktop to show through).
bool CompositorRunning();

}  // namespace orvane::desktop
