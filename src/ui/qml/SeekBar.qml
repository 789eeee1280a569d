import QtQuick

// The seek bar over the title line: invisible until the mouse rests on it, then it fades in over
// 0.5 s (and out again when the mouse leaves), so the title reads normally the rest of the time.
Item {
    id: bar

    property real maximum: 100
    property real position: 0
    readonly property alias hovered: area.containsMouse

    // x and the bar's width in the bar's own units; the owner turns them into a position.
    signal seekPressed(real x, real barWidth)

    width: 211
    height: 17
    opacity: 0

    states: State {
        name: "shown"
        when: area.containsMouse
        PropertyChanges { target: bar; opacity: 1 }
    }
    transitions: Transition {
        NumberAnimation { property: "opacity"; duration: 500 }
    }

    Rectangle {
        id: track
        anchors.fill: parent
        radius: 3
        color: "#FF042138"
        border.width: 1
        border.color: "#6649B6F5"
    }

    Rectangle {
        x: 2
        y: 2
        height: parent.height - 4
        width: bar.maximum > 0 ? Math.max(0, Math.min(1, bar.position / bar.maximum)) * (parent.width - 4) : 0
        radius: 2
        gradient: Gradient {
            GradientStop { position: 0; color: "#FF8FD8FF" }
            GradientStop { position: 0.5; color: "#FF3FA6EA" }
            GradientStop { position: 1; color: "#FF1E78C0" }
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onPressed: (mouse) => bar.seekPressed(mouse.x, bar.width)
    }
}
