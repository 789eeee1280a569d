import QtQuick

// The frame of the small dialogs: a green glow around a rounded panel with the face's gradient,
// moved by dragging it, and a close button in its top right corner. The dialog's controls go
// inside it.
Item {
    id: frame

    signal closeClicked()

    // The green glow: a few fading outlines around the panel.
    Repeater {
        model: [0.50, 0.26, 0.10]
        Rectangle {
            required property int index
            required property real modelData
            anchors.fill: panel
            anchors.margins: -(index + 1)
            radius: panel.radius + index + 1
            color: "transparent"
            border.width: 1
            border.color: Qt.rgba(0x92 / 255, 0xFB / 255, 0x93 / 255, 0.9 * modelData)
        }
    }

    Rectangle {
        id: panel
        objectName: "Panel"
        anchors.fill: parent
        anchors.margins: 3
        radius: 5
        border.width: 2
        border.color: Style.faceStroke
        gradient: Gradient {
            GradientStop { position: 0; color: "#FF0A5A97" }
            GradientStop { position: 0.1381818; color: "#FF052D4A" }
            GradientStop { position: 0.8509091; color: "#FF052F4E" }
            GradientStop { position: 1; color: "#FF09558D" }
        }
    }

    // Dragging the panel moves the dialog.
    MouseArea {
        anchors.fill: parent
        onPressed: frame.Window.window.startSystemMove()
    }

    Item {
        objectName: "CloseButton"
        x: frame.width - 49; y: 1
        width: 20; height: 20
        Image {
            anchors.fill: parent
            sourceSize.width: 20
            sourceSize.height: 20
            source: Qt.resolvedUrl("icons/关闭.svg")
            opacity: closeArea.containsMouse ? 1 : 0.7
        }
        MouseArea {
            id: closeArea
            anchors.fill: parent
            hoverEnabled: true
            onClicked: frame.closeClicked()
        }
    }
}
