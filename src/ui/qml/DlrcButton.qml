import QtQuick

// The desktop-lyrics toolbar: the button strip (Rectangle1) and the transparent area below it
// (Rectangle2), both of which drag the toolbar and the lyrics window together. Its owner is the
// C++ TNimDlrcButton, which places both rectangles and does everything the buttons ask.
Item {
    id: root

    required property QtObject owner
    // The button whose hint is showing.
    property Item hintFor: null

    width: parent ? parent.width : 0
    height: parent ? parent.height : 0

    // Any movement over the toolbar keeps it up, and so does a pointer resting on it.
    HoverHandler {
        onPointChanged: root.owner.PointerMoved()
        onHoveredChanged: root.owner.SetPointerInside(hovered)
    }

    component DragSurface: MouseArea {
        anchors.fill: parent
        cursorShape: Qt.SizeAllCursor
        onPressed: (mouse) => {
            const p = mapToItem(root, mouse.x, mouse.y)
            root.owner.Rectangle1MouseDown(mouse.button, p.x, p.y)
        }
        onPositionChanged: root.owner.Rectangle1MouseMove()
        onReleased: (mouse) => root.owner.Rectangle1MouseUp(mouse.button)
    }

    // A 33 × 23 button with a 20-pixel glyph; it lights up under the pointer and shows its hint
    // after half a second.
    component GlyphButton: Item {
        id: button

        property string glyph
        property string hint
        property bool checked: false
        signal clicked()

        width: 33
        height: 23

        Rectangle {
            anchors.fill: parent
            radius: 3
            visible: color.a > 0 || border.width > 0
            color: area.pressed ? "#59FFFFFF" : button.checked ? "#3349B6F5" : area.containsMouse ? "#26FFFFFF" : "transparent"
            border.width: button.checked ? 1 : 0
            border.color: "#B39EE0FF"
        }
        Image {
            anchors.centerIn: parent
            anchors.verticalCenterOffset: area.pressed ? 1 : 0
            width: 20
            height: 20
            sourceSize.width: 20
            sourceSize.height: 20
            source: Qt.resolvedUrl("icons/" + button.glyph + ".svg")
        }
        MouseArea {
            id: area
            anchors.fill: parent
            hoverEnabled: true
            onClicked: button.clicked()
            onContainsMouseChanged: if (!containsMouse && root.hintFor === button) root.hintFor = null
        }
        Timer {
            interval: 500
            running: area.containsMouse && root.hintFor !== button
            onTriggered: root.hintFor = button
        }
    }

    Rectangle {
        id: rectangle2
        objectName: "Rectangle2"
        x: root.owner.dragArea.x
        y: root.owner.dragArea.y
        width: root.owner.dragArea.width
        height: root.owner.dragArea.height
        radius: 8
        color: "#00FDFDFD"

        // The bevel, lit from the top left: a light upper-left edge and a dark lower-right one
        // mark out the area that drags the lyrics.
        Rectangle {
            anchors.fill: parent
            radius: 8
            color: "transparent"
            border.width: 1
            border.color: "#59FFFFFF"
        }
        Rectangle {
            anchors.fill: parent
            anchors.leftMargin: 1
            anchors.topMargin: 1
            radius: 8
            color: "transparent"
            border.width: 1
            border.color: "#40000000"
        }

        DragSurface {}
    }

    Rectangle {
        id: rectangle1
        objectName: "Rectangle1"
        x: root.owner.strip.x
        y: root.owner.strip.y
        width: root.owner.strip.width
        height: root.owner.strip.height
        radius: 3
        gradient: Gradient {
            GradientStop { position: 0; color: "#FF0A5B97" }
            GradientStop { position: 0.2654545; color: "#FF052D4A" }
            GradientStop { position: 0.76; color: "#FF052F4E" }
            GradientStop { position: 1; color: "#FF09558D" }
        }

        DragSurface {}

        GlyphButton {
            objectName: "btnBreak5"
            x: 11; y: 6
            glyph: "dlrc_back"
            hint: qsTr("向后0.5秒")
            onClicked: root.owner.btn_b5Click()
        }
        GlyphButton {
            objectName: "BitmapButton2"
            x: 42; y: 6
            glyph: "dlrc_forward"
            hint: qsTr("向前0.5秒")
            onClicked: root.owner.btn_f5Click()
        }
        GlyphButton {
            objectName: "btnKaraoke"
            x: 77; y: 6
            glyph: "dlrc_karaoke"
            hint: qsTr("卡拉OK效果")
            checked: root.owner.karaoke
            onClicked: root.owner.btn_karaokeClick()
        }
        GlyphButton {
            objectName: "BitmapButton4"
            x: 232; y: 6
            glyph: "dlrc_search"
            hint: qsTr("手动搜索歌词")
            onClicked: root.owner.btn_shClick()
        }
        GlyphButton {
            objectName: "BitmapButton3"
            x: 267; y: 6
            glyph: "dlrc_close"
            hint: qsTr("关闭歌词")
            onClicked: root.owner.btn_closeClick()
        }
    }

    // The hint sits just below the strip, inside the area that takes the pointer.
    Rectangle {
        objectName: "hint"
        visible: root.hintFor !== null
        x: root.hintFor ? Math.round(root.hintFor.mapToItem(root, root.hintFor.width / 2, 0).x - width / 2) : 0
        y: rectangle2.y + 4
        width: hintText.implicitWidth + 12
        height: hintText.implicitHeight + 6
        radius: 3
        color: "#F2062F50"
        border.width: 1
        border.color: "#6649B6F5"

        SceneText {
            id: hintText
            anchors.centerIn: parent
            text: root.hintFor ? root.hintFor.hint : ""
        }
    }
}
