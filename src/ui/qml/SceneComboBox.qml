import QtQuick

// A drop-down list in the face's style. currentIndex follows the owner's value; `activated` reports
// the user's choice (a click on an item, or the arrow keys while the box has the focus) and leaves
// it to the owner to change currentIndex. The list opens on the window's top layer, so the page's
// other controls never cover it; a press anywhere else or Esc closes it.
Item {
    id: combo

    property var model: []
    property int currentIndex: -1
    readonly property int count: model ? model.length : 0
    readonly property string displayText: currentIndex >= 0 && currentIndex < count ? String(model[currentIndex]) : ""
    readonly property bool hovered: area.containsMouse
    readonly property bool pressed: area.pressed
    readonly property bool popupVisible: layer.visible
    readonly property int rowHeight: 22

    signal activated(int index)

    implicitWidth: 114
    implicitHeight: 22
    width: implicitWidth
    height: implicitHeight
    activeFocusOnTab: true

    function choose(index) {
        close()
        if (index >= 0 && index < count) activated(index)
    }

    function open() {
        const root = combo.Window.window ? combo.Window.window.contentItem : null
        if (!root || count === 0) return
        layer.parent = root
        const p = combo.mapToItem(root, 0, combo.height)
        list.x = p.x
        // Below the box when it fits, else above it.
        list.y = p.y + list.height <= root.height ? p.y : combo.mapToItem(root, 0, -list.height).y
        list.highlighted = currentIndex
        list.positionViewAtIndex(Math.max(0, currentIndex), ListView.Contain)
        layer.visible = true
        list.forceActiveFocus()
    }

    function close() {
        if (!layer.visible) return
        layer.visible = false
        if (combo.visible) combo.forceActiveFocus()  // the page's keys (Enter, Esc) work again
    }

    // The list goes with the page: a face turned away leaves no list hanging over the other one.
    onVisibleChanged: if (!visible) close()

    Keys.onSpacePressed: open()
    Keys.onUpPressed: if (currentIndex > 0) activated(currentIndex - 1)
    Keys.onDownPressed: if (currentIndex < count - 1) activated(currentIndex + 1)

    Rectangle {
        anchors.fill: parent
        radius: 2
        color: combo.pressed ? "#FF0A3E69" : "#80021525"
        border.width: 1
        border.color: combo.hovered || combo.popupVisible || combo.activeFocus ? "#FF9EE0FF" : "#B349B6F5"
    }

    SceneText {
        anchors.fill: parent
        leftPadding: 6
        rightPadding: indicator.width + 10
        text: combo.displayText
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    Canvas {
        id: indicator
        x: combo.width - width - 6
        y: (combo.height - height) / 2
        width: 8
        height: 5
        renderStrategy: Canvas.Immediate
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            ctx.fillStyle = "#FFE6EEF5"
            ctx.beginPath()
            ctx.moveTo(0, 0)
            ctx.lineTo(width, 0)
            ctx.lineTo(width / 2, height)
            ctx.closePath()
            ctx.fill()
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        onClicked: {
            combo.forceActiveFocus()
            combo.open()
        }
    }

    // The open list and, under it, a catcher that closes it on a press elsewhere; the press still
    // reaches what is under it.
    Item {
        id: layer
        objectName: "comboPopup"
        visible: false
        z: 1000
        width: parent ? parent.width : 0
        height: parent ? parent.height : 0

        MouseArea {
            anchors.fill: parent
            acceptedButtons: Qt.AllButtons
            onPressed: (mouse) => {
                // A press on the box itself only closes the list; anywhere else it goes on.
                const p = combo.mapFromItem(layer, mouse.x, mouse.y)
                mouse.accepted = p.x >= 0 && p.y >= 0 && p.x < combo.width && p.y < combo.height
                combo.close()
            }
        }

        Rectangle {
            objectName: "comboListFace"
            x: list.x - 1
            y: list.y - 1
            width: list.width + 2
            height: list.height + 2
            radius: 2
            // Opaque: the page's texts must not show through the list.
            color: "#FF062F50"
            border.width: 1
            border.color: "#B349B6F5"
        }

        ListView {
            id: list
            property int highlighted: -1
            width: combo.width
            height: Math.min(combo.count, 8) * combo.rowHeight
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            model: layer.visible ? combo.model : null
            Keys.onEscapePressed: combo.close()
            Keys.onUpPressed: highlighted = Math.max(0, highlighted - 1)
            Keys.onDownPressed: highlighted = Math.min(combo.count - 1, highlighted + 1)
            Keys.onReturnPressed: combo.choose(highlighted)
            Keys.onEnterPressed: combo.choose(highlighted)
            onHighlightedChanged: if (highlighted >= 0) positionViewAtIndex(highlighted, ListView.Contain)

            // More items than rows: the bar shows that the rest is below and scrolls to it.
            ListScrollBar {
                id: listBar
                objectName: "comboScrollBar"
                parent: list
                z: 2
                view: list
            }

            delegate: Rectangle {
                required property int index
                required property var modelData
                width: list.width - (listBar.visible ? listBar.width : 0)
                height: combo.rowHeight
                color: index === list.highlighted ? Style.rowSelected : "transparent"

                SceneText {
                    anchors.fill: parent
                    leftPadding: 6
                    rightPadding: 6
                    text: String(modelData)
                    verticalAlignment: Text.AlignVCenter
                    elide: Text.ElideRight
                }
                MouseArea {
                    anchors.fill: parent
                    hoverEnabled: true
                    onContainsMouseChanged: if (containsMouse) list.highlighted = index
                    onClicked: combo.choose(index)
                }
            }
        }
    }
}
