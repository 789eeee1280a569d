import QtQuick

// The seek bar over the title line: invisible until the mouse rests on it, then it fades in over
// 0.5 s (and out again when the mouse leaves), so the title reads normally the rest of the time.
Item {
    id: bar

    property real maximum: 100
    property real position: 0
    readonly property alias hovered: area.containsMouse
    // The playing song's length in ms (0: none plays) and its title, for the hint.
    property int songLength: 0
    property string title
    // Where a press at the pointer would seek to, in ms.
    readonly property real pointerMs: width > 0 ? Math.max(0, Math.min(maximum, Math.round(maximum * area.mouseX / width))) : 0
    // The hint under the pointer: the whole title, and the time at the pointer with the song's
    // length ("01:23 / 04:56").
    readonly property string hintText: {
        if (songLength <= 0) return title
        const time = clock(pointerMs) + " / " + clock(songLength)
        return title !== "" ? title + "\n" + time : time
    }

    // "mm:ss", or "h:mm:ss" from an hour on.
    function clock(ms) {
        const total = Math.floor(Math.max(0, ms) / 1000)
        const h = Math.floor(total / 3600), m = Math.floor(total / 60) % 60, s = total % 60
        const two = (n) => (n < 10 ? "0" : "") + n
        return h > 0 ? h + ":" + two(m) + ":" + two(s) : two(m) + ":" + two(s)
    }

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
        // The hint follows the pointer along the bar.
        onMouseXChanged: if (hint.box && hint.box.visible) hint.show()
    }

    SceneToolTip {
        id: hint
        objectName: "seekHint"
        target: bar
        delay: 300
        atPoint: true
        pointX: area.mouseX + 8
        pointY: bar.height + 4
        shown: area.containsMouse
        text: bar.hintText
    }
}
