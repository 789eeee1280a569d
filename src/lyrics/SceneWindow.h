#pragma once
// The lyric windows that are drawn by the scene (the desktop-lyrics toolbar, the lyric search
// dialog): a QQuickWindow whose content is one QML file of the "Orvane" scene module, handed its
// C++ owner as the required property "owner". Main thread only.

#include <QString>
#include <memory>

class QObject;
class QQmlEngine;
class QQuickWindow;

namespace orvane::lyrics {

// A hidden window whose content is qrc:/qt/qml/Orvane/<qmlFile>, created on engine with owner as
// its "owner". A scene that does not load leaves the window empty (and prints why on stderr): the
// owner's logic still works, only nothing is drawn.
std::unique_ptr<QQuickWindow> CreateSceneWindow(QQmlEngine& engine, const QString& qmlFile, QObject* owner);

}  // namespace orvane::lyrics
