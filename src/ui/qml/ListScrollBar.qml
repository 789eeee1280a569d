import QtQuick

// The thin scroll bar at a list's right edge, shown while the list is taller than its view. Its
// thumb follows the view; dragging the thumb scrolls, and a press on the track brings the thumb's
// middle under the pointer first. The wheel goes on to the list.
Item {
    id: bar

    property Flickable view
    readonly property bool pressed: drag.pressed
    readonly property bool hovered: drag.containsMouse
    readonly property real size: view ? Math.min(1, view.visibleArea.heightRatio) : 1
    readonly property real position: view ? Math.max(0, Math.min(1 - size, view.visibleArea.yPosition)) : 0
    readonly property int padding: 2

    visible: view !== null && view.contentHeight > view.height
    x: view ? view.width - width : 0
    width: 8
    height: view ? view.height : 0

    readonly property real track: height - 2 * padding
    // A very long list still leaves a thumb as tall as it is wide.
    readonly property real thumbHeight: Math.max(thumb.width, size * track)

    Rectangle {
        id: thumb
        objectName: "scrollThumb"
        x: bar.padding
        y: bar.padding + (bar.size < 1 ? bar.position / (1 - bar.size) * (bar.track - bar.thumbHeight) : 0)
        width: 4
        height: bar.thumbHeight
        radius: 2
        color: bar.pressed ? "#CCFFFFFF" : (bar.hovered ? "#99FFFFFF" : "#59FFFFFF")
    }

    MouseArea {
        id: drag
        anchors.fill: parent
        hoverEnabled: true
        property real grab: 0  // where in the thumb the pointer holds it

        onPressed: (mouse) => {
            const inThumb = mouse.y >= thumb.y && mouse.y < thumb.y + thumb.height
            grab = inThumb ? mouse.y - thumb.y : thumb.height / 2
            scrollTo(mouse.y)
        }
        onPositionChanged: (mouse) => { if (pressed) scrollTo(mouse.y) }

        function scrollTo(y) {
            const room = bar.track - bar.thumbHeight
            if (!bar.view || room <= 0) return
            const fraction = Math.max(0, Math.min(1, (y - grab - bar.padding) / room))
            const v = bar.view
            v.contentY = v.originY + fraction * (v.contentHeight - v.height)
        }
    }
}
