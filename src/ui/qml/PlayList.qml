import QtQuick

// A song list: rows from a PlayListModel, alternating backgrounds, a hover highlight that follows
// the mouse, the row's caption as its hint, a thin scroll bar. The rows themselves take no mouse
// input; one area over the view maps clicks to rows, which keeps each row to three cheap items so
// long lists scroll smoothly.
ListView {
    id: view

    // The model's selected row (-1: none); the view writes it on a click.
    readonly property int selectedIndex: model && model.selectedIndex !== undefined ? model.selectedIndex : -1
    property int hoverIndex: -1

    signal rowDoubleClicked()
    signal contextMenuRequested(real screenX, real screenY)

    clip: true
    boundsBehavior: Flickable.StopAtBounds
    reuseItems: true
    cacheBuffer: 200
    flickDeceleration: 4000

    delegate: PlayListRow {
        width: view.width
        selected: index === view.selectedIndex
        hovered: index === view.hoverIndex
    }

    ListScrollBar {
        id: scrollBar
        parent: view
        z: 2
        view: view
    }

    MouseArea {
        id: area
        parent: view
        z: 1
        anchors.fill: parent
        anchors.rightMargin: scrollBar.visible ? scrollBar.width : 0
        hoverEnabled: true
        acceptedButtons: Qt.LeftButton | Qt.RightButton

        onPositionChanged: view.trackHover()
        onContainsMouseChanged: view.trackHover()
        onPressed: (mouse) => view.selectAt(mouse.x, mouse.y)
        onDoubleClicked: (mouse) => {
            if (mouse.button !== Qt.LeftButton) return
            view.selectAt(mouse.x, mouse.y)
            if (view.rowAt(mouse.x, mouse.y) >= 0) view.rowDoubleClicked()
        }
        onClicked: (mouse) => {
            if (mouse.button !== Qt.RightButton) return
            const p = area.mapToGlobal(mouse.x, mouse.y)
            view.contextMenuRequested(p.x, p.y)
        }
    }

    // A selection moved by the keyboard stays in sight.
    onSelectedIndexChanged: if (selectedIndex >= 0 && selectedIndex < count) positionViewAtIndex(selectedIndex, ListView.Contain)

    onContentYChanged: trackHover()
    onCountChanged: trackHover()

    SceneToolTip {
        id: rowTip
        parent: view
        target: view
        delay: 600
        atPoint: true
        pointY: view.hoverRowBottom() + 2
        pointX: area.mouseX + 8
        text: view.hoverIndex >= 0 && view.itemAtIndex(view.hoverIndex) ? view.itemAtIndex(view.hoverIndex).caption : ""
    }

    onHoverIndexChanged: {
        // Each new row gets its own delay, as a hint should.
        rowTip.shown = false
        if (hoverIndex >= 0 && !area.pressed) rowTip.shown = true
    }

    function rowAt(x, y) {
        return indexAt(x + contentX, y + contentY)
    }

    function trackHover() {
        hoverIndex = area.containsMouse ? rowAt(area.mouseX, area.mouseY) : -1
    }

    function hoverRowBottom() {
        const item = hoverIndex >= 0 ? itemAtIndex(hoverIndex) : null
        return item ? item.y - contentY + item.height : 0
    }

    function selectAt(x, y) {
        const i = rowAt(x, y)
        if (i >= 0 && model) model.selectedIndex = i
    }
}
