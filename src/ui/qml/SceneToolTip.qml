import QtQuick

// A hint in a small box, shown `delay` ms after `shown` turns true and hidden at once when it turns
// false. The box sits on the window's top layer, so neither siblings nor a clipping list cover it,
// and it stays inside the window. By default it is centred above `target` (below when there is no
// room above); with `atPoint` its top left is at (pointX, pointY) of `target` instead.
Item {
    id: tip

    property Item target: null
    property string text
    property bool shown: false
    property int delay: 500
    property bool atPoint: false
    property real pointX: 0
    property real pointY: 0

    readonly property int margin: 6

    Timer {
        id: wait
        interval: tip.delay
        onTriggered: tip.show()
    }

    onShownChanged: follow()
    onTextChanged: if (!text && box) box.visible = false

    // Starts the delay, or hides the box, as `shown` now says.
    function follow() {
        if (shown && text !== "") {
            wait.restart()
        } else {
            wait.stop()
            if (box) box.visible = false
        }
    }

    function show() {
        const layer = target && target.Window.window ? target.Window.window.contentItem : null
        if (!layer || !shown || text === "") return
        // Made only when first needed: dozens of buttons carry a hint, and laying out their texts
        // at start-up would cost memory for nothing.
        if (!box) box = boxComponent.createObject(tip)
        box.parent = layer
        const w = layer.width, h = layer.height
        let p
        if (atPoint) {
            p = target.mapToItem(layer, pointX, pointY)
        } else {
            p = target.mapToItem(layer, (target.width - box.width) / 2, -box.height - 3)
            if (p.y < margin) p = target.mapToItem(layer, (target.width - box.width) / 2, target.height + 3)
        }
        box.x = Math.max(margin, Math.min(p.x, w - box.width - margin))
        box.y = Math.max(margin, Math.min(p.y, h - box.height - margin))
        box.visible = true
    }

    property Item box: null

    Component {
        id: boxComponent

        Rectangle {
            objectName: "toolTipBox"
            visible: false
            z: 1000
            width: label.implicitWidth + 12
            height: label.implicitHeight + 12
            color: tip.palette.toolTipBase
            border.color: tip.palette.dark

            Text {
                id: label
                x: 6
                y: 6
                text: tip.text
                color: tip.palette.toolTipText
                // The face's font: already loaded, and it has the hints' Chinese glyphs.
                font.family: Style.fontFamily
                font.pixelSize: Style.fontPixelSize
                textFormat: Text.PlainText
            }
        }
    }
}
