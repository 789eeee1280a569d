import QtQuick

// An image button named after its glyph in the image list, with a hint shown as a tool tip.
// restOpacity below 1 gives the "lights up under the mouse" feel: the button rests dimmed and
// brightens over 0.2 s while hovered.
Item {
    id: button

    property string glyph
    property string hint
    property real restOpacity: 1
    property alias acceptedButtons: area.acceptedButtons
    readonly property alias hovered: area.containsMouse
    readonly property alias pressed: area.pressed

    signal clicked()

    width: 30
    height: 30
    opacity: !enabled ? 0.35 : (area.containsMouse ? 1 : restOpacity)

    Behavior on opacity {
        enabled: button.restOpacity < 1
        NumberAnimation { duration: 200 }
    }

    Image {
        anchors.fill: parent
        source: button.glyph === "" ? "" : Qt.resolvedUrl("icons/" + button.glyph + ".svg")
        sourceSize.width: width
        sourceSize.height: height
        fillMode: Image.PreserveAspectFit
        // A one-pixel nudge is enough press feedback without moving the layout.
        anchors.topMargin: area.pressed ? 1 : 0
        anchors.bottomMargin: area.pressed ? -1 : 0
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        onClicked: button.clicked()
    }

    SceneToolTip {
        target: button
        text: button.hint
        shown: area.containsMouse && !area.pressed
    }
}
