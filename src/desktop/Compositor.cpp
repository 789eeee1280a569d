#include "desktop/Compositor.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace orvane::desktop {
namespace {

// The screen number of the display name ("host:display.screen"); 0 when it names none.
int ScreenNumber() {
  const char* display = std::getenv("DISPLAY");
  const char* colon = display ? std::strrchr(display, ':') : nullptr;
  const char* dot = colon ? std::strchr(colon, '.') : nullptr;
  return dot ? std::atoi(dot + 1) : 0;
}

}  // namespace

bool CompositorRunning() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return true;
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
  if (!connection) return true;
  const std::string name = "_NET_WM_CM_S" + std::to_string(ScreenNumber());
  const xcb_intern_atom_cookie_t atomCookie =
      xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.c_str());
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
      xcb_intern_atom_reply(connection, atomCookie, nullptr), &std::free);
  if (!atom) return true;
  const xcb_get_selection_owner_cookie_t ownerCookie = xcb_get_selection_owner(connection, atom->atom);
  std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
      xcb_get_selection_owner_reply(connection, ownerCookie, nullptr), &std::free);
  // No answer: better a window drawn as designed than one cut down for nothing.
  return !owner || owner->owner != XCB_NONE;
}

}  // namespace orvane::desktop
