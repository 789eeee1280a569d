#include "lyrics/SceneWindow.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSurfaceFormat>
#include <QtGui/qguiapplication_platform.h>
#include <cstdio>
#include <xcb/xcb.h>

namespace orvane::lyrics {

std::unique_ptr<QQuickWindow> CreateSceneWindow(QQmlEngine& engine, const QString& qmlFile, QObject* owner) {
  auto window = std::make_unique<QQuickWindow>();
  // Transparent around the painted shapes.
  QSurfaceFormat format = window->format();
  format.setAlphaBufferSize(8);
  window->setFormat(format);
  window->setColor(Qt::transparent);

  QQmlComponent component(&engine, QUrl(QStringLiteral("qrc:/qt/qml/Orvane/") + qmlFile));
  QObject* created = component.createWithInitialProperties({{QStringLiteral("owner"), QVariant::fromValue(owner)}});
  auto* item = qobject_cast<QQuickItem*>(created);
  if (!item) {
    std::fprintf(stderr, "Orvane: %s\n", qPrintable(component.errorString()));
    delete created;
    return window;
  }
  item->setParent(window.get());
  item->setParentItem(window->contentItem());
  return window;
}

void SetWindowClass(QWindow& window, const QByteArray& className) {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11 || !x11->connection()) return;
  // WM_CLASS holds two zero-terminated texts: the instance name, then the class.
  const QByteArray value = QByteArrayLiteral("orvane") + '\0' + className + '\0';
  xcb_connection_t* connection = x11->connection();
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window.winId()), XCB_ATOM_WM_CLASS,
                      XCB_ATOM_STRING, 8, static_cast<uint32_t>(value.size()), value.constData());
  xcb_flush(connection);
}

}  // namespace orvane::lyrics
