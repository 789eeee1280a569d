#include "lyrics/SceneWindow.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSurfaceFormat>
#include <cstdio>

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

}  // namespace orvane::lyrics
