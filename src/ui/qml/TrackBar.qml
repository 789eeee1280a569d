import QtQuick

// A horizontal track bar from `from` to `to`. It reports every change while it is dragged; the
// owner stores the value and feeds it back through `value`.
Item {
    id: bar

    property real from: 0
    property real to: 100
    property real value: 0

    signal moved(real value)

    width: 78
    height: 15

    readonly property real ratio: to > from ? Math.max(0, Math.min(1, (value - from) / (to - from))) : 0

    Rectangle {
        id: groove
        x: thumb.width / 2
        width: bar.width - thumb.width
        height: 4
        radius: 2
        anchors.verticalCenter: parent.verticalCenter
        color: "#80021525"
        border.width: 1
        border.color: "#40FFFFFF"
    }

    Rectangle {
        x: groove.x
        width: bar.ratio * groove.width
        height: groove.height
        radius: 2
        anchors.verticalCenter: parent.verticalCenter
        color: Style.accent
    }

    Rectangle {
        id: thumb
        width: 11
        height: 11
        radius: 5.5
        x: bar.ratio * groove.width
        anchors.verticalCenter: parent.verticalCenter
        color: area.pressed || area.containsMouse ? "#FFFFFFFF" : "#FFE4EEF6"
        border.width: 1
        border.color: "#FF1E78C0"
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        preventStealing: true
        onPressed: (mouse) => bar.moveTo(mouse.x)
        onPositionChanged: (mouse) => { if (pressed) bar.moveTo(mouse.x) }
    }

    function moveTo(px) {
        const r = groove.width > 0 ? Math.max(0, Math.min(1, (px - groove.x) / groove.width)) : 0
        const v = from + r * (to - from)
        if (v !== value) moved(v)
    }
}
