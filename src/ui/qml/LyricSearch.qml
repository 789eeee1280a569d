import QtQuick

// The lyric search dialog "歌词搜索", 398 × 238: title and singer boxes, "搜索" and "下载歌词",
// and the result list. Its owner is the C++ TNimSlrc, which runs the search and the download;
// the scene only shows its state and passes the clicks on.
Item {
    id: root

    required property QtObject owner

    width: parent ? parent.width : 398
    height: parent ? parent.height : 238

    Shortcut {
        sequence: "Esc"
        onActivated: root.owner.CloseButton1Click()
    }

    // A text box in the panel's colours.
    component TextBox: Rectangle {
        id: box

        property alias text: input.text
        property alias input: input
        signal edited(string text)
        signal accepted()

        radius: 2
        color: "#59021525"
        border.width: 1
        border.color: input.activeFocus ? "#B39EE0FF" : "#6649B6F5"
        clip: true

        TextInput {
            id: input
            anchors.fill: parent
            anchors.leftMargin: 4
            anchors.rightMargin: 4
            verticalAlignment: TextInput.AlignVCenter
            color: Style.text
            selectionColor: "#FF2C9BE8"
            selectByMouse: true
            font.family: Style.fontFamily
            font.pixelSize: Style.fontPixelSize
            onTextEdited: box.edited(text)
            onAccepted: box.accepted()
        }
    }

    Item {
        id: content
        anchors.fill: parent
        opacity: 0

        NumberAnimation on opacity { from: 0; to: 1; duration: 800 }

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
            onPressed: root.Window.window.startSystemMove()
        }

        Item {
            objectName: "CloseButton1"
            x: 349; y: 1
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
                onClicked: root.owner.CloseButton1Click()
            }
        }

        SceneText { objectName: "Label1"; x: 16; y: 28; text: qsTr("歌曲名：") }
        SceneText { objectName: "Label2"; x: 16; y: 58; text: qsTr("歌手：") }

        TextBox {
            objectName: "edt_Title"
            x: 84; y: 25; width: 190; height: 22
            text: root.owner.edt_Title
            onEdited: (text) => root.owner.edt_Title = text
            onAccepted: root.owner.btn_SClick()
            Component.onCompleted: input.forceActiveFocus()
        }
        TextBox {
            objectName: "edt_Singer"
            x: 84; y: 55; width: 190; height: 22
            text: root.owner.edt_Singer
            onEdited: (text) => root.owner.edt_Singer = text
            onAccepted: root.owner.btn_SClick()
        }

        TextButton {
            objectName: "btn_S"
            x: 289; y: 25; width: 80; height: 22
            text: root.owner.searchCaption
            onClicked: root.owner.btn_SClick()
        }
        TextButton {
            objectName: "btn_down"
            x: 289; y: 55; width: 80; height: 22
            text: root.owner.downCaption
            onClicked: root.owner.lv_1DblClick()
        }

        ListView {
            id: list
            objectName: "lv_1"
            x: 10; y: 99; width: 378; height: 129
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            model: root.owner.results

            property int hoverIndex: -1

            delegate: Item {
                id: row

                required property int index
                required property string lno
                required property string title
                required property string singer
                required property string ss
                required property string mark

                width: list.width
                height: 25

                Rectangle {
                    anchors.fill: parent
                    visible: color.a > 0
                    color: row.index === root.owner.selectedIndex ? Style.rowSelected
                         : row.index === list.hoverIndex ? Style.rowHover
                         : (row.index % 2 === 1 ? Style.rowAlternate : "transparent")
                }
                // lno docked left, singer and ss docked right, title filling the middle.
                SceneText {
                    x: 4; y: 5; width: 30; height: 20
                    verticalAlignment: Text.AlignVCenter
                    color: "#FFffffff"
                    text: row.lno
                }
                SceneText {
                    x: 34; y: 5; width: row.width - 34 - 2 * 116 - (row.mark !== "" ? markLabel.width + 4 : 0); height: 20
                    verticalAlignment: Text.AlignVCenter
                    elide: Text.ElideRight
                    wrapMode: Text.NoWrap
                    color: Style.dimText
                    text: row.title
                }
                // An instrumental, or words without times: set apart at the end of the title.
                SceneText {
                    id: markLabel
                    objectName: "mark"
                    visible: row.mark !== ""
                    x: row.width - 2 * 116 - width - 4; y: 5; height: 20
                    verticalAlignment: Text.AlignVCenter
                    color: Style.markText
                    text: row.mark
                }
                SceneText {
                    x: row.width - 2 * 116; y: 5; width: 116; height: 20
                    verticalAlignment: Text.AlignVCenter
                    elide: Text.ElideRight
                    color: Style.dimText
                    text: row.singer
                }
                SceneText {
                    x: row.width - 116; y: 5; width: 116 - 8; height: 20
                    verticalAlignment: Text.AlignVCenter
                    elide: Text.ElideRight
                    color: Style.dimText
                    text: row.ss
                }
            }

            // One area maps the pointer to rows; the rows themselves take no input.
            MouseArea {
                anchors.fill: parent
                anchors.rightMargin: 6
                hoverEnabled: true
                // From the rows' fixed height, so a click right after rows arrive (before the
                // view has laid them out) still finds its row.
                function rowAt(y) {
                    const row = Math.floor((y + list.contentY) / 25)
                    return row >= 0 && row < list.count ? row : -1
                }
                onPositionChanged: (mouse) => list.hoverIndex = rowAt(mouse.y)
                onExited: list.hoverIndex = -1
                onPressed: (mouse) => root.owner.selectedIndex = rowAt(mouse.y)
                onDoubleClicked: (mouse) => {
                    root.owner.selectedIndex = rowAt(mouse.y)
                    if (root.owner.selectedIndex >= 0) root.owner.lv_1DblClick()
                }
                onWheel: (wheel) => {
                    list.contentY = Math.max(0, Math.min(list.contentHeight - list.height, list.contentY - wheel.angleDelta.y / 2))
                }
            }

            // A small scroll bar.
            Rectangle {
                visible: list.contentHeight > list.height
                x: list.width - 5
                y: list.visibleArea.yPosition * list.height
                width: 4
                height: Math.max(12, list.visibleArea.heightRatio * list.height)
                radius: 2
                color: "#59FFFFFF"
            }
        }

        // What went wrong, or that nothing was found, over the bottom of the list.
        Rectangle {
            objectName: "status"
            visible: root.owner.statusText !== ""
            anchors.horizontalCenter: list.horizontalCenter
            y: list.y + list.height - height - 6
            width: statusLabel.implicitWidth + 16
            height: statusLabel.implicitHeight + 6
            radius: 3
            color: "#E6062F50"
            border.width: 1
            border.color: "#6649B6F5"

            SceneText {
                id: statusLabel
                anchors.centerIn: parent
                text: root.owner.statusText
            }
        }
    }
}
