#include "desktop/WindowClass.h"

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <memory>

namespace orvane::desktop {
namespace {

xcb_connection_t* X11Connection() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->connection() : nullptr;
}

// The instance half of the class, chosen as Qt chooses it: $RESOURCE_NAME, else the program's name.
std::string InstanceName() {
  const char* resource = std::getenv("RESOURCE_NAME");
  if (resource && *resource) return resource;
  const QStringList arguments = QCoreApplication::arguments();
  return arguments.isEmpty() ? std::string("orvane") : QFileInfo(arguments.first()).fileName().toStdString();
}

}  // namespace

void SetWindowClass(QWindow* window, const std::string& className) {
  xcb_connection_t* connection = X11Connection();
  if (!window || !connection) return;
  window->create();
  std::string value = InstanceName();
  value += '\0';
  value += className;
  value += '\0';
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window->winId()), XCB_ATOM_WM_CLASS,
                      XCB_ATOM_STRING, 8, static_cast<uint32_t>(value.size()), value.data());
  xcb_flush(connection);
}

void SetWindowClass(QWidget* widget, const std::string& className) {
  if (!widget || !X11Connection()) return;
  widget->winId();  // creates the native window
  SetWindowClass(widget->windowHandle(), className);
}

std::string WindowClass(QWindow* window) {
  xcb_connection_t* connection = X11Connection();
  if (!window || !connection || !window->handle()) return {};
  const xcb_get_property_cookie_t cookie =
      xcb_get_property(connection, 0, static_cast<xcb_window_t>(window->winId()), XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 1024);
  std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
      xcb_get_property_reply(connection, cookie, nullptr), &std::free);
  if (!reply) return {};
  const auto* bytes = static_cast<const char*>(xcb_get_property_value(reply.get()));
  const std::string value(bytes, static_cast<size_t>(xcb_get_property_value_length(reply.get())));
  const auto first = value.find('\0');
  if (first == std::string::npos) return {};
  const auto second = value.find('\0', first + 1);
  return value.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

}  // namespace orvane::desktop
