import QtQuick

// A hint in a small box, shown `delay` ms after `shown` turns true and hidden at once when it turns
// false. The box sits on the window's top layer, so neither siblings nor a clipping list cover it,
// and it stays inside the window: a text wider than the window wraps. By default it is centred above `target` (below when there is no
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
    // A text that arrives after `shown` (a binding settled later) starts the delay then; one that
    // changes while the box shows only updates it.
    onTextChanged: {
        if (!text) {
            if (box) box.visible = false
        } else if (shown && !wait.running && !(box && box.visible)) {
            wait.restart()
        }
    }

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
        textWidthLimit = Math.max(1, w - 2 * margin - 12)
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
    property real textWidthLimit: 100000

    Component {
        id: boxComponent

        Rectangle {
            objectName: "toolTipBox"
            visible: false
            z: 1000
            width: label.width + 12
            height: label.height + 12
            color: tip.palette.toolTipBase
            border.color: tip.palette.dark

            Text {
                id: label
                objectName: "toolTipText"
                x: 6
                y: 6
                width: Math.min(implicitWidth, tip.textWidthLimit)
                wrapMode: Text.Wrap
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
